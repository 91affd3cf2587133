/*
 * Reference matcher for the tests (ref_matcher.cpp).
 *
 * A deliberately plain, recursive transcription of the engine's matching
 * rules: every node commits to the first end it reaches, steps are spent by
 * the composite nodes and by each start position, and undoing a capture
 * gives the group back what it held before. There is no limit on
 * repetition. One budget covers a whole call: a bare search arms its own,
 * an enumeration one for all its searches. The reference also runs without
 * any budget, counting steps only, to say what a call answers when nothing
 * stops it. It works on the tree that the production parser (parse_pattern)
 * builds and keeps its whole matching state in records of its own (no
 * thread-local data).
 *
 * The reference recurses once per node and once per repetition iteration:
 * call it on a thread with a large stack (ref_run_on_big_stack).
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

/* The step budget of one call. */
typedef struct ref_budget {
    int64_t steps_left; /* steps the call may still spend */
    int limited;        /* 0: no budget; steps are only counted */
    int hit;            /* 1 once a step was refused; final for the call */
    int64_t spent;      /* steps spent so far in the call */
    int64_t give_up;    /* without a budget: stop after this many steps */
    int gave_up;        /* 1 when that happened (the answer means nothing) */
} ref_budget;

/* The budget of a call over n bytes for a tree of nodes records:
 * min((8 + nodes) * n + 1,000,000, 2,147,483,647). */
int64_t ref_budget_for(uint64_t n, uint64_t nodes);
/* Number of rx_node records in a tree. */
uint64_t ref_count_nodes(const rx_node *tree);
/* A budget of the given number of steps, or none (counting only; a run of
 * more than give_up steps is abandoned). */
void ref_budget_init(ref_budget *b, int64_t steps);
void ref_budget_none(ref_budget *b, int64_t give_up);

/* Everything one search changes while it matches. */
typedef struct ref_state {
    ref_budget *budget; /* the call's budget */
    rx_caps caps;       /* the capture record of the attempt */
    ref_undo *log;      /* recordings on the current path, oldest first */
    size_t log_n;
    size_t log_cap;
    int log_failed;   /* 1 when the undo log could not grow */
    uint64_t max_log; /* largest log length seen (for the tests) */
} ref_state;

/* The answer of one reference search. */
typedef struct ref_result {
    int result;     /* 1 found, 0 none, -1 refused; -2 the reference
                       itself ran out of memory; -3 it gave up (no
                       budget, too many steps) */
    uint64_t start; /* match span, meaningful when result is 1 */
    uint64_t end;
    rx_caps caps;       /* the record as the search left it */
    int64_t steps_left; /* the call's budget left when the search returned */
    int64_t spent;      /* steps the call has spent so far */
    int budget_hit;
    int anchored; /* 1 when only offset 0 was tried */
} ref_result;

/* 1 when a search of this pattern tries offset 0 alone: its first byte is
 * "^" and every other top-level alternative begins with "^" as well. */
int ref_is_anchored(const char *pattern);

/* Searches the parsed tree of pattern (pattern is needed for the anchored
 * rule) in text[0..n) from offset start, drawing on budget, like one engine
 * search. Fills *out and returns out->result. */
int ref_find(const rx_node *tree, const char *pattern, const char *text, uint64_t n, uint64_t start,
             ref_budget *budget, ref_result *out);

/* A bare search: parses the pattern with the production parser, arms a
 * budget of its own (or none when limited is 0), then ref_find. Returns -1
 * with parsed set to 0 when the pattern does not parse. */
int ref_find_pattern(const char *pattern, const char *text, uint64_t n, uint64_t start, int limited,
                     ref_result *out, int *parsed);

/* Lower-level pieces, exposed for the reference's own tests. The state
 * must be set up with ref_state_init and released with ref_state_free. */
void ref_state_init(ref_state *st, ref_budget *budget);
void ref_state_free(ref_state *st);
int ref_match_node(ref_state *st, const rx_node *node, const char *text, uint64_t n, uint64_t p,
                   uint64_t *out_end);

/* Runs fn(arg) on a new thread with a stack of stack_bytes and waits for
 * it. Returns 0, or -1 when the thread could not be started. */
int ref_run_on_big_stack(void (*fn)(void *), void *arg, size_t stack_bytes);

#endif /* KRX_TEST_REF_MATCHER_H */
