/*
 * The pattern engine (rx_match_win.cpp): the parser that turns a pattern
 * into a tree of rx_node records, the compile check, the backtracking
 * matcher and the search loop.
 *
 * Matching rule: every node commits to the first end it finds. A sequence
 * never asks its first operand for another end, an alternation tries its
 * right operand only when the left fails, and a greedy repetition takes
 * iterations while they match and consume. So a*ab finds nothing in "aab".
 *
 * Every search is bounded by a step budget (8 per text byte + 1,000,000)
 * and by a limit of 2048 repetition iterations in progress; once either
 * runs out every further step is refused and the search fails with
 * "backtracking limit reached". The matcher keeps its work stack on the
 * heap, so the machine stack it uses does not grow with the pattern or the
 * text.
 *
 * The entry points come in two families, rx_engine_* and rx_nfa_*, which
 * behave identically.
 */
#ifndef RX_MATCH_WIN_H
#define RX_MATCH_WIN_H

#include <stddef.h>
#include <stdint.h>

#include "rx_common.h"

/* Node kinds. */
enum {
    RX_CHAR = 1,   /* a literal byte: ch, flags & RX_FLAG_I */
    RX_ANY = 2,    /* ".": flags & RX_FLAG_S */
    RX_CLASS = 3,  /* bracket class or shorthand: bits, negate, flags */
    RX_CONCAT = 4, /* left then right */
    RX_ALT = 5,    /* left, else right */
    RX_REPEAT = 6, /* child min..max times (max -1: no bound), lazy */
    RX_ANCHOR = 7, /* anchor 1 "^", 2 "$": flags & RX_FLAG_M */
    RX_WORDB = 8,  /* "\b" (not_boundary 0) or "\B" (1) */
    RX_GROUP = 9   /* capture group 1..16 around child */
};

/* One node of the parse tree; a zero-filled heap block of its own. Fields
 * a kind does not use stay zero. Each node owns the nodes it points to. */
typedef struct rx_node {
    int32_t kind;
    uint8_t ch;
    uint8_t bits[32];  /* RX_CLASS members: bit v%8 of byte v/8 */
    int32_t negate;
    int32_t min;
    int32_t max;
    int32_t lazy;
    int32_t not_boundary;
    int32_t anchor;
    int32_t group;
    uint32_t flags;    /* the one flag bit that matters to this node */
    struct rx_node *left;
    struct rx_node *right;
    struct rx_node *child;
} rx_node;

/* Capture record: groups 1..16; entry 0 is never written by the matcher.
 * start/end mean something only where set is non-zero. */
#define RX_MAX_GROUPS 16
typedef struct rx_caps {
    uint64_t start[RX_MAX_GROUPS + 1];
    uint64_t end[RX_MAX_GROUPS + 1];
    uint8_t set[RX_MAX_GROUPS + 1];
} rx_caps;

/* Limits. */
#define RX_DEPTH_LIMIT 2048          /* repetition iterations in progress */
#define RX_STEPS_PER_BYTE 8
#define RX_STEPS_BASE 1000000
#define RX_SEARCH_ERR_SIZE 128       /* error buffer of a search */

/* ---- parser and compile check ------------------------------------------ */

/* Parses a pattern (not null) into a new tree; null on failure with the
 * message cut into err (when err is non-null and err_size is not 0). */
rx_node *parse_pattern(const char *pattern, char *err, uint64_t err_size);
/* Frees a whole tree (null is fine). */
void node_free(rx_node *node);

/* 0 when the pattern parses, -1 with the parser's message otherwise. */
int rx_engine_compile_ok(const char *pattern, char *err, uint64_t err_size);
int rx_nfa_compile_ok(const char *pattern, char *err, uint64_t err_size);

/* ---- search -----------------------------------------------------------------
 * First match at or after offset start: 1 found (out_start/out_end written),
 * 0 none, -1 failure (see rx_engine_last_error). caps may be null. */
int rx_engine_find(const char *pattern, const char *text, uint64_t n,
                   uint64_t start, uint64_t *out_start, uint64_t *out_end);
int rx_engine_find_caps(const char *pattern, const char *text, uint64_t n,
                        uint64_t start, uint64_t *out_start, uint64_t *out_end,
                        rx_caps *caps);
int rx_nfa_find(const char *pattern, const char *text, uint64_t n,
                uint64_t start, uint64_t *out_start, uint64_t *out_end);
int rx_nfa_find_caps(const char *pattern, const char *text, uint64_t n,
                     uint64_t start, uint64_t *out_start, uint64_t *out_end,
                     rx_caps *caps);

/* Why the last search on this thread returned -1: "backtracking limit
 * reached" when a step was refused, "out of memory" when the matcher's
 * work stack could not grow, "match engine error" otherwise. */
const char *rx_engine_last_error(void);

/* ---- a pattern parsed once for many searches --------------------------------
 * Enumeration parses the pattern once and searches the tree repeatedly; each
 * search behaves exactly like rx_engine_find_caps on the pattern text (fresh
 * budget each time). The prog keeps the analysis of the positions a search
 * may skip, so it is made once per prog rather than once per search. */
/* Which start positions cannot begin a match, and what an attempt there
 * costs; made by the search once attempts start failing (see the matcher). */
typedef struct rx_first_bytes {
    uint8_t accept[256];    /* bytes that may begin a match (after the guard) */
    int64_t cost;           /* steps a failed attempt spends, the search's own included */
    int single;             /* -1, or the only byte accepted */
    const rx_node *guard;   /* null, or the zero-width leaf every attempt meets first */
    int64_t guard_cost;     /* further steps of a failed attempt where the guard holds */
} rx_first_bytes;

typedef struct rx_prog {
    rx_node *root;  /* the parse tree, owned */
    int anchored;   /* 1: only offset 0 can match (every top-level
                       alternative begins with "^", and the pattern's first
                       byte is "^"); a search then tries offset 0 alone */
    int first_state;       /* 0: the analysis is not made yet; 1: made and
                              usable; -1: made, and nothing can be skipped */
    rx_first_bytes first;  /* the analysis, kept for the next searches */
} rx_prog;

/* 0 and a filled prog, or -1 with the parser's message in err. */
int rx_engine_prepare(const char *pattern, rx_prog *prog, char *err,
                      uint64_t err_size);
void rx_engine_release(rx_prog *prog);
int rx_engine_find_prog(rx_prog *prog, const char *text, uint64_t n,
                        uint64_t start, uint64_t *out_start,
                        uint64_t *out_end, rx_caps *caps);

/* Steps left after the last search on this thread; for the tests that
 * compare the matcher with its reference step for step. */
int32_t rx_engine_steps_left(void);

#endif /* RX_MATCH_WIN_H */
