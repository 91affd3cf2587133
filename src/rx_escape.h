/*
 * Literal escaping (rx_escape.cpp): turns a byte range into pattern text
 * that matches exactly those bytes, by putting a backslash before each of
 * the 14 operator bytes $ ( ) * + . ? [ \ ] ^ { | }.
 */
#ifndef RX_ESCAPE_H
#define RX_ESCAPE_H

#include <stdint.h>

/* 0 with a new heap text in *out_text (freed by the caller) and its length
 * in *out_length (when non-null); -1 when memory ran out, outputs untouched.
 * A count of 0 gives the empty text in a block of its own. */
int rx_escape_literal(const char *source, uint64_t count, char **out_text, uint64_t *out_length);

#endif /* RX_ESCAPE_H */
