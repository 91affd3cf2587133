/*
 * The pattern engine, one stage per file: rx_match_win_parse.cpp (the parser
 * that turns a pattern into a tree of rx_node records, and the compile
 * check), _compile.cpp (the compiled form a prepared pattern adds to its
 * tree), _match.cpp (the backtracking matcher), _prefilter.cpp (start
 * positions ruled out without an attempt) and _search.cpp (the step budget,
 * the loop over start positions and the entry points). What the stages share
 * is in rx_match_win_internal.h.
 *
 * Matching rule: every node commits to the first end it finds. A sequence
 * never asks its first operand for another end, an alternation tries its
 * right operand only when the left fails, and a greedy repetition takes
 * iterations while they match and consume. So a*ab finds nothing in "aab".
 *
 * Work is bounded by a step budget of (8 + N) steps per text byte plus
 * 1,000,000 (N the number of nodes in the pattern's tree), at most
 * 2,147,483,647. An enumeration arms one budget for all its searches; a bare
 * search arms its own. Once the budget runs out every further step is
 * refused and the search fails with "backtracking limit reached"; a match
 * reached after a refusal is a failure too. The engine may charge less than
 * the matching rules do for work it skips (a start position ruled out
 * without an attempt costs one step), never more. There is no limit on
 * repetition: the matcher keeps its work stack on the heap, so the machine
 * stack it uses does not grow with the pattern or the text.
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
    uint8_t bits[32]; /* RX_CLASS members: bit v%8 of byte v/8 */
    int32_t negate;
    int32_t min;
    int32_t max;
    int32_t lazy;
    int32_t not_boundary;
    int32_t anchor;
    int32_t group;
    uint32_t flags; /* the one flag bit that matters to this node */
    struct rx_node *left;
    struct rx_node *right;
    struct rx_node *child;
    /* A sequence of plain bytes (a left-leaning chain of RX_CONCAT over
     * RX_CHAR leaves) is matched as one string: lit_len is the number of
     * bytes of the chain below and at this node (0 when it is no such
     * chain), lit their bytes in order, set on the topmost node of each
     * chain by rx_engine_prepare (null elsewhere, and in a bare parse). */
    int32_t lit_len;
    const uint8_t *lit;
    /* The compiled form rx_engine_prepare gives the topmost node of each
     * left-leaning chain of sequence (RX_CONCAT) or alternation (RX_ALT)
     * nodes: its flat_len operands in order (items of the sequence,
     * alternatives of the alternation), so that the chain is matched as
     * one node. Zero and null elsewhere. */
    int32_t flat_len;
    struct rx_node **flat;
    /* An alternation whose alternatives are all single bytes (literal bytes,
     * ".", classes) or literal chains also gets, for each byte value, the
     * index of the first alternative whose first byte takes it (-1 for
     * none), and pick_cost[i]: the steps the rules charge before trying
     * alternative i when each one before it fails at its first byte
     * (pick_cost[flat_len]: all of them fail so). */
    const int32_t *pick;
    const int64_t *pick_cost;
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
#define RX_STEPS_PER_BYTE 8 /* plus one per node of the tree */
#define RX_STEPS_BASE 1000000
#define RX_STEPS_MAX 2147483647
#define RX_SEARCH_ERR_SIZE 128 /* error buffer of a search */

/* ---- parser and compile check ------------------------------------------ */

/* Parses a pattern (not null) into a new tree; null on failure with the
 * message cut into err (when err is non-null and err_size is not 0). */
rx_node *parse_pattern(const char *pattern, char *err, uint64_t err_size);
/* Frees a whole tree (null is fine). */
void node_free(rx_node *node);

/* 0 when the pattern parses; -1 with the parser's message otherwise, or
 * RX_OUT_OF_MEMORY when memory ran out (the message then reads "parse
 * error"). */
int rx_engine_compile_ok(const char *pattern, char *err, uint64_t err_size);
int rx_nfa_compile_ok(const char *pattern, char *err, uint64_t err_size);

/* ---- search -----------------------------------------------------------------
 * First match at or after offset start: RX_FOUND (out_start/out_end
 * written), RX_NONE, or a negative failure: RX_OUT_OF_BUDGET when a step was
 * refused, RX_OUT_OF_MEMORY when the matcher's work stack could not grow, -1
 * as well when the pattern does not parse. caps may be null. */
enum { RX_FOUND = 1, RX_NONE = 0, RX_OUT_OF_BUDGET = -1, RX_OUT_OF_MEMORY = -2 };
int rx_engine_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                   uint64_t *out_end);
int rx_engine_find_caps(const char *pattern, const char *text, uint64_t n, uint64_t start,
                        uint64_t *out_start, uint64_t *out_end, rx_caps *caps);
int rx_nfa_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                uint64_t *out_end);
int rx_nfa_find_caps(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                     uint64_t *out_end, rx_caps *caps);

/* Why the last search on this thread returned -1: "backtracking limit
 * reached" when a step was refused, "out of memory" when the matcher's
 * work stack could not grow, "match engine error" otherwise. */
const char *rx_engine_last_error(void);

/* The step budget of one call over a text of n bytes for a tree of nodes
 * records: min((8 + nodes) * n + 1,000,000, 2,147,483,647). */
int32_t rx_engine_budget(uint64_t n, uint64_t nodes);

/* ---- a pattern parsed once for many searches --------------------------------
 * Enumeration parses the pattern once and searches the tree repeatedly. The
 * prog carries one step budget for all of them: the first search arms it for
 * its text (or rx_engine_arm does), and every later search draws on what the
 * earlier ones left. A refused step is final: every later search on the prog
 * fails at once until it is armed again. The prog also keeps the analysis of
 * the positions a search may skip, made once per prog. */
/* The bytes that may begin a match. */
typedef struct rx_first_bytes {
    uint8_t accept[256];   /* bytes that may begin a match (after the guard) */
    int few;               /* 0, or how many bytes are accepted when 1 to 8 */
    uint8_t few_bytes[8];  /* those bytes */
    int few2;              /* 0, or how many bytes may come second when 1 to
                               8 (with second) */
    uint8_t few2_bytes[8]; /* those bytes */
    const rx_node *guard;  /* null, or the zero-width leaf every attempt meets first */
    uint8_t *second;       /* null, or 256 sets of 32 bytes: the bytes that may
                               follow each first byte (heap, the prog's) */
} rx_first_bytes;

/* The bytes every match begins with, position by position, where the
 * pattern's first items have fixed widths (as \d{4}-\d{2} or (?i)holmes). */
#define RX_LEAD_MAX 16
typedef struct rx_lead {
    int32_t len;                  /* positions known; 0 or 1: not used */
    int32_t anchor;               /* the position searched for first */
    int32_t anchor_byte;          /* its only byte (case folded: its lower
                                     case letter, with fold set), or -1 */
    int32_t fold;                 /* the anchor is a letter in either case */
    int32_t second;               /* -1, or a second position of one byte
                                     (or letter) searched with the anchor */
    int32_t second_byte;          /* its byte, as anchor_byte */
    int32_t second_fold;          /* as fold */
    uint8_t set[RX_LEAD_MAX][32]; /* the bytes each position may hold */
} rx_lead;

/* Occurrences of a literal prefix's least common byte a prog notes, at
 * most. */
#define RX_SEEN_MAX 65536

/* Which prefilter a prepared pattern uses. */
enum {
    RX_FILTER_NONE,    /* none: every position is tried */
    RX_FILTER_UNKNOWN, /* the bytes that may begin a match, not analysed yet */
    RX_FILTER_BYTES,   /* those bytes, analysed (prog->first) */
    RX_FILTER_LITERAL, /* prog->prefix */
    RX_FILTER_LEAD,    /* prog->lead */
    RX_FILTER_RUN      /* prog->run and prog->run_next */
};

typedef struct rx_prog {
    /* the pattern */
    rx_node *root;  /* the parse tree, owned */
    uint64_t nodes; /* rx_node records in the tree */
    int32_t groups; /* capture groups that record (0 to RX_MAX_GROUPS) */
    int anchored;   /* 1: only offset 0 can match (the pattern's first
                              byte is "^" and so is the first byte of every
                              other top-level alternative); a search then
                              tries offset 0 alone */
    /* its compiled form (see the fields at the end of rx_node) */
    rx_node **flats; /* operand lists of the flattened chains, owned */
    uint8_t *lits;   /* bytes of the literal chains, in the block of flats */
    void *picks;     /* byte tables of the alternations, owned */
    /* start positions a search rules out without an attempt: the first of
     * these that the pattern has decides */
    int filter;              /* RX_FILTER_*: which of them */
    int prepared_filter;     /* the one rx_engine_prepare chose, which every
                              arming puts back (RX_FILTER_UNKNOWN gives way to
                              the analysed bytes within each text anew) */
    int first_state;         /* 0: first not analysed yet; 1: analysed, it
                              rules out positions; -1: analysed, it does not */
    const rx_node *prefix;   /* null, or the literal chain (one case) every
                              match begins with ... */
    size_t prefix_rare;      /* ... and the index of its least common byte */
    rx_lead lead;            /* the bytes of fixed-width first items */
    const rx_node *run;      /* null, or the byte leaf of the unbounded greedy
                              run (minimum 1) every match begins with ... */
    const rx_node *run_next; /* ... and the byte leaf that must follow it */
    rx_first_bytes first;    /* the bytes that may begin a match, analysed once
                              a search's first attempts fail and kept */
    /* where the prefix's least common byte occurs in the text, noted while
     * rx_engine_measure measured it: every occurrence below seen_until is
     * one of the seen_count offsets, in increasing order (seen_until 0: none
     * noted) */
    uint32_t *seen; /* heap, owned; room for seen_room offsets */
    uint32_t seen_count;
    uint32_t seen_room;
    uint64_t seen_until;
    /* the step budget of the call */
    int armed;          /* 1 once a budget was armed for this prog */
    int32_t steps_left; /* what is left of it */
    int32_t budget_hit; /* 1 once a step was refused since the arming */
} rx_prog;

/* 0 and a filled prog; -1 with the parser's message in err; RX_OUT_OF_MEMORY
 * when memory ran out (err then reads "parse error"). */
int rx_engine_prepare(const char *pattern, rx_prog *prog, char *err, uint64_t err_size);
void rx_engine_release(rx_prog *prog);
/* Arms a fresh budget on the prog for searches of a text of n bytes (and
 * forgets what rx_engine_measure noted of another text). */
void rx_engine_arm(rx_prog *prog, uint64_t n);
/* The length of a NUL-terminated text, or limit + 1 when it is longer than
 * limit, with the prog armed for it. A prog with a literal prefix notes on
 * the way where the literal's least common byte occurs, so that its
 * searches of this text need not read it again to find them; its searches
 * must then be of this text. */
uint64_t rx_engine_measure(rx_prog *prog, const char *text, uint64_t limit);
int rx_engine_find_prog(rx_prog *prog, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                        uint64_t *out_end, rx_caps *caps);

/* ---- many lines of one block -------------------------------------------------
 * A host that searches each line of a file as a text of its own (grep) can
 * hand the engine a whole block of lines at once to learn which lines may
 * hold a match, and search only those. The lines of a block are its bytes
 * cut at line feeds; a line ends at its line feed, the last one at n.
 *
 * Returns r, from <= r <= n + 1: every line that holds a match (searched as
 * a text of its own) and ends at or after from ends at or after r. So the
 * lines that end in [from, r) hold none, and the line that holds r is the
 * first that may; n + 1 says that none may. It reads the block with the
 * prog's prefilter, where that is sound for lines, and returns from where
 * it is not; it may complete the prog's analysis of the bytes that may
 * begin a match (kept for its searches) and forgets what rx_engine_measure
 * noted, but charges no steps and leaves the budget alone. */
uint64_t rx_engine_next_candidate(rx_prog *prog, const uint8_t *text, uint64_t n, uint64_t from);

/* Steps left after the last search on this thread (of its call's budget);
 * for the tests that compare the matcher with its reference. */
int32_t rx_engine_steps_left(void);

#endif /* RX_MATCH_WIN_H */
