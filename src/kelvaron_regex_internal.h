/*
 * The layer behind the exported functions (kelvaron_regex.cpp): the
 * validation decision and the text limit of the searching exports, visible
 * to the library's other sources and to the tests.
 */
#ifndef KELVARON_REGEX_INTERNAL_H
#define KELVARON_REGEX_INTERNAL_H

#include <stdint.h>

#include "rx_match_win.h"

#define RX_TEXT_LIMIT 10485760 /* longest text searched, in bytes */

/* 0 acceptable, -1 rejected or null, with the reason in msg (when msg is
 * non-null and msg_size is not 0). Never touches the error slot. */
int rx_validate_pattern(const char *pattern, char *msg, uint64_t msg_size);

#endif /* KELVARON_REGEX_INTERNAL_H */
