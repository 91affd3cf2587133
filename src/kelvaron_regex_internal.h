/*
 * The layer behind the exported functions (kelvaron_regex.cpp): the
 * validation decision, match enumeration and replacement, visible to the
 * library's other sources and to the tests.
 */
#ifndef KELVARON_REGEX_INTERNAL_H
#define KELVARON_REGEX_INTERNAL_H

#include <stdint.h>

#include "rx_match_win.h"

#define RX_TEXT_LIMIT 10485760 /* longest text searched, in bytes */

/* 0 acceptable, -1 rejected or null, with the reason in msg (when msg is
 * non-null and msg_size is not 0). Never touches the error slot. */
int rx_validate_pattern(const char *pattern, char *msg, uint64_t msg_size);

/* Every match of pattern in text, left to right, as parallel heap arrays
 * handed to the caller (freed with free: each text, then the arrays).
 * texts may be null when no copies of the matched bytes are wanted, caps
 * when no capture records are. 0, or -1 with the reason in the error slot
 * and every out-value null or 0: "invalid pattern: <message>" comes before
 * any judgement of the text, so this parse serves as the callers' compile
 * check. No array is allocated when nothing matched. The pattern is parsed
 * once; each search gets a fresh budget. */
int rx_match_all_caps(const char *pattern, const char *text, int32_t **starts,
                      int32_t **ends, char ***texts, int32_t *count,
                      rx_caps **caps);
int rx_match_all(const char *pattern, const char *text, int32_t **starts,
                 int32_t **ends, char ***texts, int32_t *count);

/* Replaces every match with the literal replacement (null counts as ""). */
int rx_replace_all(const char *pattern, const char *text,
                   const char *replacement, char **out_result,
                   int32_t *out_count);

#endif /* KELVARON_REGEX_INTERNAL_H */
