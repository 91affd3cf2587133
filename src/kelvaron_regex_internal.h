/*
 * The layer behind the exported functions (kelvaron_regex.cpp): the
 * validation decision, the text limit of the searching exports and the JSON
 * quoting, visible to the library's other sources and to the tests.
 */
#ifndef KELVARON_REGEX_INTERNAL_H
#define KELVARON_REGEX_INTERNAL_H

#include <stdint.h>

#include "rx_match_win.h"

#define RX_TEXT_LIMIT 10485760 /* longest text searched, in bytes */

/* 0 acceptable, -1 rejected or null, with the reason in msg (when msg is
 * non-null and msg_size is not 0). Never touches the error slot. */
int rx_validate_pattern(const char *pattern, char *msg, uint64_t msg_size);

/* The library's one JSON quoting routine, on an rx_buf (data, length,
 * capacity): json_append_escaped appends count bytes as the inside of a
 * JSON string ('"' and '\\' get a backslash, LF CR TAB become \n \r \t,
 * every other byte below 0x20 becomes \u00xx, every other byte passes
 * unchanged); json_append_quoted appends them as a string literal, quotes
 * included. 0, or -1 when memory ran out. */
int json_append_escaped(char **data, uint64_t *length, uint64_t *capacity, const char *bytes, uint64_t count);
int json_append_quoted(char **data, uint64_t *length, uint64_t *capacity, const char *bytes, uint64_t count);

#endif /* KELVARON_REGEX_INTERNAL_H */
