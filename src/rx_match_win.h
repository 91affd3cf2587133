/*
 * The pattern engine, one stage per file: rx_match_win_parse.cpp (the parser
 * that turns a pattern into a tree of rx_node records, and the compile
 * check), _compile.cpp (the compiled form a prepared pattern adds to its
 * tree), _match.cpp (the backtracking matcher), _prefilter.cpp (start
 * positions ruled out without an attempt), _literals.cpp (the tries and
 * searches of alternations of literals, which both of those use) and
 * _search.cpp (the step budget, the loop over start positions and the entry
 * points). What the stages share is in rx_match_win_internal.h.
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
    /* The bytes of the pattern the node was made from, [span_start,
     * span_end): a leaf its own bytes, a repetition its atom and quantifier,
     * a group its parentheses and inside (a group of no node of its own: the
 * node of its inside), a sequence or alternation from its
     * first operand's start to its last operand's end, the empty sequence an
     * empty span where it stands. 32 bits each: a node costs 8 bytes less
     * than with 64-bit offsets (16 MB over the two million nodes of a 1 MB
     * pattern), and a pattern past 4 GiB could not be parsed in memory
     * anyway; offsets beyond that are cut to 4294967295. */
    uint32_t span_start;
    uint32_t span_end;
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
    /* Memo points (see the matcher): parts the matcher may answer from a
     * note of an earlier outcome at the same position; -1 and null where
     * there is none. memo: for a repetition of a byte leaf, its slot of
     * known runs; for another greedy unbounded repetition, its slot of known
     * iteration runs (rx_loop). memo_child: a repetition's operand.
     * memo_items[i]: the items i.. of a sequence (flat_len entries). */
    int32_t memo;
    int32_t memo_child;
    const int32_t *memo_items;
    /* An alternation of more than RX_TRIE_FROM alternatives, all of them
     * literal chains or single literal bytes, is matched by one walk of the
     * trie of its alternatives (rx_match_win_literals.cpp), owned by the
     * prog; null elsewhere. */
    struct rx_litset *litset;
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

/* The text of a search's failure status: "backtracking limit reached" for
 * RX_OUT_OF_BUDGET, "out of memory" for RX_OUT_OF_MEMORY, "match engine
 * error" for anything else. */
const char *rx_engine_status_message(int status);
/* The text of the status of the last search on this thread (left as it was
 * by a search whose pattern does not parse). */
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
    RX_FILTER_LITERAL, /* prog->prefix (of two bytes at least) */
    RX_FILTER_LEAD,    /* prog->lead */
    RX_FILTER_RUN,     /* prog->run and what must follow it */
    RX_FILTER_LITERALS /* prog->lead_set: an alternation of literals */
};

/* A run of a byte leaf the matcher found: the leaf takes every byte from lo
 * up to hi and not the byte at hi (lo is UINT64_MAX while none is known). */
typedef struct rx_run {
    uint64_t lo;
    uint64_t hi;
} rx_run;

/* A run of a repetition's iterations from its minimum on (a greedy
 * unbounded repetition with an operand that is no byte leaf): the positions
 * where its iterations began, from first on, and where the run ended. Every
 * one of those positions, as a start of the same repetition from its
 * minimum on, ends where the run ended. */
typedef struct rx_loop_run {
    uint64_t first; /* the position of its first iteration */
    uint64_t end;   /* where the run ended, once done */
    uint64_t len;   /* positions first .. first + len - 1 are covered by bits */
    uint64_t *bits; /* bit i set: an iteration began at first + i (heap) */
    uint64_t words; /* words of bits allocated */
    int32_t state;  /* LOOP_EMPTY, LOOP_GROWING (under way) or LOOP_DONE */
    int32_t caps;   /* 1: made with a capture record active, so the groups
                       below were kept */
    /* per group g (bit g of kept): the span the run's iterations left it,
     * and the position of the last iteration that recorded it; a start at
     * p gets the spans of the groups recorded at or after p */
    uint32_t kept;
    uint64_t kept_at[RX_MAX_GROUPS + 1];
    uint64_t kept_start[RX_MAX_GROUPS + 1];
    uint64_t kept_end[RX_MAX_GROUPS + 1];
} rx_loop_run;

/* The runs a repetition keeps: the two most useful of the last ones. */
#define RX_LOOP_RUNS 2
typedef struct rx_loop {
    rx_loop_run run[RX_LOOP_RUNS];
    int32_t groups; /* 1 when its operand records a group */
} rx_loop;

/* The matcher's notes of outcomes at positions of one text (see the
 * matcher), kept by the prog for the searches of one arming. */
typedef struct rx_memo {
    int32_t points;              /* memo points of the compiled tree */
    const uint8_t *point_groups; /* per point: 1 when its part records a group */
    rx_run *runs;                /* known runs, one per repetition of a byte leaf */
    int32_t run_count;
    rx_loop *loops; /* known iteration runs, one per greedy unbounded
                       repetition of another operand */
    int32_t loop_count;
    const void *text; /* the text the notes are of ... */
    uint64_t n;       /* ... and its length */
    uint64_t *slots;  /* points x width slots (heap), made when first needed */
    uint64_t slot_count;
    uint64_t width; /* positions per point, a power of two; 0: no slots yet */
    int off;        /* 1: no notes for this text (memory refused, offsets too large) */
    int dirty;      /* slots were written since they were cleared */
    int group_ends; /* an end of a part that records groups was noted
                       with no capture record active */
} rx_memo;

/* A literal the analysis found: the bytes every match begins with, or that
 * every match contains at or after its start (where they do not occur from
 * a position on, no match starts there or later). Literal items next to one
 * another are gathered (zero-width items between them take nothing away);
 * a longer literal is cut to its first RX_LITERAL_MAX bytes, which every
 * match holds as well. */
#define RX_LITERAL_MAX 64
typedef struct rx_literal {
    uint8_t bytes[RX_LITERAL_MAX];
    int32_t len;            /* 0: none */
    int fold;               /* letters compare in either case */
    size_t rare;            /* the index of its least common byte */
    int32_t second;         /* -1, or the index of a second byte searched
                               together with it (where that one is common
                               in the text) */
    const uint8_t *seen_in; /* the text of the last occurrence found ... */
    uint64_t seen_at;       /* ... and where it begins (a hint, checked) */
} rx_literal;

typedef struct rx_prog {
    /* the pattern */
    rx_node *root;  /* the parse tree, its nodes in arena */
    rx_arena arena; /* the tree's nodes, owned */
    uint64_t nodes; /* rx_node records in the tree */
    int32_t groups; /* capture groups that record (0 to RX_MAX_GROUPS) */
    int anchored;   /* 1: only offset 0 can match (the pattern's first
                       byte is "^" and so is the first byte of every
                       other top-level alternative); a search then
                       tries offset 0 alone */
    /* its compiled form (see the fields at the end of rx_node) */
    rx_node **flats;       /* operand lists of the flattened chains, owned */
    void *picks;           /* byte tables of the alternations, owned */
    void *memo_block;      /* the memo's known runs and iteration runs, the
                              sequences' point lists and the points' group
                              flags, owned */
    int32_t *memo_items;   /* in memo_block: the lists memo_items point into */
    uint8_t *point_groups; /* in memo_block: per point, 1 when its part
                              records a group */
    /* start positions a search rules out without an attempt: the first of
     * these that the pattern has decides */
    int filter;                 /* RX_FILTER_*: which of them */
    rx_literal prefix;          /* the literal (one case) every match begins with */
    rx_lead lead;               /* the bytes of fixed-width first items */
    const rx_node *run;         /* null, or the byte leaf of the unbounded greedy
                                   run (minimum 1) every match begins with ... */
    uint8_t run_follow[32];     /* ... the bytes one of which must follow it ... */
    int32_t run_byte;           /* ... and the only one of them, or -1 */
    struct rx_litset *lead_set; /* the literals every match begins with one of */
    struct rx_litset *litsets;  /* every literal set of the tree (a list), owned */
    rx_literal required;        /* a literal every match contains */
    int quick;                  /* 1: every match begins with a byte of quick_first */
    uint8_t quick_first[32];    /* ... the bytes of the pattern's first item, known at
                                   prepare (a set as bits); tested before each attempt */
    rx_first_bytes first;       /* the bytes that may begin a match, analysed once
                                   a search's first attempts fail and kept */
    /* where the prefix's least common byte occurs in the text, noted while
     * rx_engine_measure measured it: every occurrence below seen_until is
     * one of the seen_count offsets, in increasing order (seen_until 0: none
     * noted) */
    uint32_t *seen; /* heap, owned; room for seen_room offsets */
    uint32_t seen_count;
    uint32_t seen_room;
    uint64_t seen_until;
    /* what the matcher noted of this text */
    rx_memo memo;
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
