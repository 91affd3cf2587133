/*
 * Reference matcher for the tests (ref_matcher.cpp).
 *
 * A deliberately plain, recursive transcription of the engine's matching
 * rules: every node commits to the first end it reaches, steps are spent by
 * the composite nodes and by each start position, a repetition may nest at
 * most RX_DEPTH_LIMIT iterations, and undoing a capture gives the group back
 * what it held before. It works on the tree that the production parser
 * (parse_pattern) builds, and keeps its whole matching state in one record
 * of its own (no thread-local data), so the production engine can be
 * compared with it step for step by the differential test.
 *
 * The reference recurses once per node and once per repetition iteration:
 * call it on a thread with a large stack (ref_run_on_big_stack) whenever the
 * text allows deep repetition.
 */
#ifndef KRX_TEST_REF_MATCHER_H
#define KRX_TEST_REF_MATCHER_H

#include <stddef.h>
#include <stdint.h>

#include "rx_match_win.h"

/* One entry of the undo log: the group a recording overwrote and what it
 * held before, so that taking the recording back restores it exactly. */
typedef struct ref_undo {
    int32_t group;
    uint8_t old_set;
    uint64_t old_start;
    uint64_t old_end;
} ref_undo;

/* Everything one search changes while it matches. */
typedef struct ref_state {
    int32_t steps_left;  /* steps the search may still spend */
    int32_t depth;       /* repetition iterations in progress */
    int32_t budget_hit;  /* 1 once a step was refused */
    rx_caps caps;        /* the capture record of the attempt */
    ref_undo *log;       /* recordings on the current path, oldest first */
    size_t log_n;
    size_t log_cap;
    int log_failed;      /* 1 when the undo log could not grow */
    uint64_t max_log;    /* largest log length seen (for the tests) */
} ref_state;

/* The answer of one reference search. */
typedef struct ref_result {
    int result;          /* 1 found, 0 none, -1 refused; -2 the reference
                            itself ran out of memory */
    uint64_t start;      /* match span, meaningful when result is 1 */
    uint64_t end;
    rx_caps caps;        /* the record as the search left it */
    int32_t steps_left;  /* budget left when the search returned */
    int32_t budget_hit;
    int anchored;        /* 1 when only offset 0 was tried */
} ref_result;

/* 1 when a search of this pattern tries offset 0 alone: its first byte is
 * "^" and every other top-level alternative begins with "^" as well. */
int ref_is_anchored(const char *pattern);

/* Searches the parsed tree of pattern (pattern is needed for the anchored
 * rule) in text[0..n) from offset start, like one engine search. Fills *out
 * and returns out->result. */
int ref_find(const rx_node *tree, const char *pattern, const char *text,
             uint64_t n, uint64_t start, ref_result *out);

/* Parses the pattern with the production parser, then ref_find. Returns
 * -1 with parsed set to 0 when the pattern does not parse. */
int ref_find_pattern(const char *pattern, const char *text, uint64_t n,
                     uint64_t start, ref_result *out, int *parsed);

/* Lower-level pieces, exposed for the reference's own tests. The state
 * must be set up with ref_state_init and released with ref_state_free. */
void ref_state_init(ref_state *st, int32_t steps);
void ref_state_free(ref_state *st);
int ref_match_node(ref_state *st, const rx_node *node, const char *text,
                   uint64_t n, uint64_t p, uint64_t *out_end);

/* Runs fn(arg) on a new thread with a stack of stack_bytes and waits for
 * it. Returns 0, or -1 when the thread could not be started. */
int ref_run_on_big_stack(void (*fn)(void *), void *arg, size_t stack_bytes);

#endif /* KRX_TEST_REF_MATCHER_H */
