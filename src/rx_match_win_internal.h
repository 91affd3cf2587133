/*
 * What the stages of the engine share (parse, compile, match, prefilter,
 * search; the files rx_match_win_*.cpp): the matcher's state record, the
 * step rules every stage charges by, the leaf tests, and the entry points of
 * each stage into the next. Nothing here is seen outside the engine.
 */
#ifndef RX_MATCH_WIN_INTERNAL_H
#define RX_MATCH_WIN_INTERNAL_H

#include <stdint.h>
#include <string.h>

#include "rx_match_win.h"

#define RX_COUNT_MAX 2147483647 /* largest count in braces, and of a chain */

/* ---- parse ------------------------------------------------------------------ */

/* What a parse tells besides the tree. */
typedef struct rx_parse_info {
    int anchored;          /* only offset 0 can ever match: the pattern's first byte
                              is "^" and so is the first byte of every other
                              top-level alternative */
    uint64_t nodes;        /* rx_node records in the tree */
    uint64_t chains;       /* sequence nodes of literal chains */
    uint64_t joins;        /* sequence and alternation nodes */
    int32_t groups;        /* groups that record (at most RX_MAX_GROUPS) */
    int out_of_memory;     /* the parse failed for want of memory */
    uint64_t error_offset; /* a failed parse: the byte where the error was found
                              (the "(" of an unclosed group, the "[" of an
                              unclosed class, the "{" of a count too large,
                              the quantifier or ")" that does not belong) */
} rx_parse_info;

/* parse_pattern, also filling *info (when given), on failure too. */
rx_node *rx_parse_tree(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info);

/* Facts about the syntax that only the parser sees, noted on request for the
 * analysis (rx_analysis.cpp): constructs that are valid here but mean
 * something else in other dialects. */
enum {
    RX_FACT_ESCAPE = 1,      /* a backslash and a letter or digit outside
                                brackets that stands for that byte (byte) */
    RX_FACT_CLASS_BACKSLASH, /* a backslash inside brackets; byte: the byte
                                after it (0 when it closes the class) */
    RX_FACT_CLASS_POSIX,     /* "[:name:]" (or [=x=], [.x.]) inside brackets,
                                whose "]" closes the class */
    RX_FACT_GROUP_17         /* the "(" of the 17th capturing group: it and
                                the ones after it record nothing */
};

/* The construct of another dialect a failed parse stopped at. */
enum {
    RX_TRAP_NONE = 0,
    RX_TRAP_LATE_FLAGS,   /* (?i) and the like after the start */
    RX_TRAP_OTHER_FLAGS,  /* a flag group with letters other than i, m, s, or a "-" */
    RX_TRAP_SCOPED_FLAGS, /* (?i:...) */
    RX_TRAP_NAMED_GROUP,  /* (?<name>...), (?P<name>...), (?'name'...) */
    RX_TRAP_LOOKAROUND,   /* (?=...), (?!...), (?<=...), (?<!...) */
    RX_TRAP_ATOMIC,       /* (?>...) */
    RX_TRAP_COMMENT,      /* (?#...) */
    RX_TRAP_POSSESSIVE    /* a+ followed by + (a*+, a?+, a{2}+) */
};

typedef struct rx_parse_fact {
    int32_t kind; /* RX_FACT_* */
    uint32_t start, end;
    uint8_t byte;
} rx_parse_fact;

typedef struct rx_parse_notes {
    rx_parse_fact *facts; /* heap block, in pattern order; the caller frees it */
    uint32_t count;
    uint32_t room;
    int32_t trap;                  /* RX_TRAP_*: a failed parse's construct */
    uint32_t trap_start, trap_end; /* its bytes */
} rx_parse_notes;

/* rx_parse_tree that also notes the facts (notes zero-filled by the caller;
 * a failure to grow the list fails the parse as out of memory). */
rx_node *rx_parse_tree_noted(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info,
                             rx_parse_notes *notes);
/* rx_parse_tree_noted with the nodes made in an arena when arena is not null
 * (the tree is then released with the arena, never with node_free). */
rx_node *rx_parse_tree_in(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info,
                          rx_parse_notes *notes, rx_arena *arena);
/* The first chunk an arena for the tree of pattern is best made with. */
size_t rx_parse_arena_size(const char *pattern);
/* Writes the message of a parse that ran out of memory into err. */
void rx_parse_out_of_memory(char *err, uint64_t err_size);

/* ---- compile ---------------------------------------------------------------- */

/* Gives a prepared prog the compiled form of the tree its parse described;
 * 0, or -1 when memory ran out. */
int rx_compile_tree(rx_prog *prog, const rx_parse_info *info);

/* ---- match ------------------------------------------------------------------- */

typedef struct cap_undo cap_undo;
typedef struct mframe mframe;

/* The matcher's state during one search: the call's budget and the
 * thread's blocks, loaded at its start and stored back at its end, so that
 * the hot loops touch no thread-local storage. */
typedef struct mstate {
    int32_t steps;                     /* steps of the call's budget left */
    int32_t hit;                       /* 1 once a step was refused: final for the call */
    int32_t oom;                       /* 1 once the work stack or the undo log could not grow */
    rx_caps *caps;                     /* the active capture record, or null */
    int32_t caps_clean;                /* the record is all zero whenever the log is empty */
    cap_undo *log;                     /* the capture undo log (the thread's block) ... */
    int32_t logn;                      /* ... entries in use ... */
    int32_t logcap;                    /* ... and allocated */
    mframe *work;                      /* the work stack (the thread's block) ... */
    size_t workcap;                    /* ... and its frames allocated */
    rx_memo *memo;                     /* the prog's notes of this text */
    int32_t newest[RX_MAX_GROUPS + 1]; /* per group, its newest entry in the log, or -1 */
} mstate;

/* Drops every note (the slots stay for the next text), for the searches of
 * the text of n bytes at text; releases the memo's blocks. */
void rx_memo_forget(rx_memo *mo, const void *text, uint64_t n);
void rx_memo_release(rx_memo *mo);

/* The first start at or after q that the matcher's notes do not show to
 * fail (q when they show nothing). */
uint64_t rx_match_known_failures(const mstate *ms, const rx_node *root, uint64_t q);

/* Loads the thread's matcher blocks into ms (steps, hit and caps are the
 * caller's), and stores them back after the search. */
void rx_match_begin(mstate *ms);
void rx_match_end(const mstate *ms);

/* Matches node at p: RX_FOUND with the end in *out, RX_NONE, RX_OUT_OF_BUDGET
 * when a step of the call was refused (a match reached so is none), or
 * RX_OUT_OF_MEMORY when the work stack or the undo log could not grow. */
int rx_match_node(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *out);

/*
 * Spends one step: refused (-1) once any step was refused in this call, or
 * when the budget is used up; the first refusal sets the flag for good.
 */
static inline int rx_spend_step(mstate *ms) {
    if (ms->hit) return -1;
    if (ms->steps > 0) {
        ms->steps--;
        return 0;
    }
    ms->hit = 1;
    return -1;
}

/* Charges c steps at once (work whose steps the rules would spend one by
 * one): -1, with the flag set as a refused step leaves it, when fewer are
 * left. */
static inline int charge_steps(mstate *ms, int64_t c) {
    if (ms->hit) return -1;
    if (ms->steps < c) {
        ms->steps = 0;
        ms->hit = 1;
        return -1;
    }
    ms->steps -= static_cast<int32_t>(c);
    return 0;
}

/* Clears the active record and empties the log; nothing without a record.
 * Every write to the record is logged and taken back exactly, so once the
 * record was cleared in this search an empty log means it is still clear. */
static inline void caps_reset(mstate *ms) {
    if (ms->caps == nullptr) return;
    if (ms->caps_clean && ms->logn == 0) return;
    memset(ms->caps, 0, sizeof *ms->caps);
    ms->logn = 0;
    for (int g = 0; g <= RX_MAX_GROUPS; g++) ms->newest[g] = -1;
    ms->caps_clean = 1;
}

static inline int is_word_byte(uint8_t b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

static inline int in_bits(const uint8_t *bits, uint8_t b) { return (bits[b >> 3] >> (b & 7)) & 1; }

/* Leaves that consume exactly one byte, whatever the bytes around it. */
static inline int is_byte_leaf(const rx_node *node) {
    return node->kind == RX_CHAR || node->kind == RX_ANY || node->kind == RX_CLASS;
}

/* Whether the bytes of a literal chain compare as letters of either case
 * (the chain's top carries its bytes' case flag once it is compiled). */
static inline int lit_fold(const rx_node *chain) { return (chain->flags & RX_FLAG_I) != 0; }

/* Leaves: the nodes that are no sequence, alternation, repetition or group. */
static inline int is_leaf_part(const rx_node *node) {
    return node->kind != RX_CONCAT && node->kind != RX_ALT && node->kind != RX_REPEAT &&
           node->kind != RX_GROUP;
}

/* Leaves, literal chains and repetitions of a single leaf: the parts the
 * matcher matches in place, without frames or captures. */
static inline int is_simple_part(const rx_node *node) {
    return is_leaf_part(node) || (node->kind == RX_REPEAT && is_leaf_part(node->child)) ||
           (node->kind == RX_CONCAT && node->lit != nullptr);
}

/* Adds b to a set of bytes held as 32 bytes of bits (value v is bit v % 8
 * of byte v / 8, as in_bits reads them). */
static inline void set_add(uint8_t *set, unsigned b) {
    set[b >> 3] = static_cast<uint8_t>(set[b >> 3] | (1u << (b & 7)));
}

static inline uint8_t fold_byte(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

/* Adds the byte c of a literal to a set, and its other case when fold is
 * set and c is a letter. */
static inline void set_add_literal(uint8_t *set, uint8_t c, int fold) {
    set_add(set, c);
    if (fold && fold_byte(c) >= 'a' && fold_byte(c) <= 'z') {
        set_add(set, fold_byte(c));
        set_add(set, fold_byte(c) - 32u);
    }
}

/* The bytes a byte leaf takes, as bits of a 32-byte set (added to it): a
 * byte, or with the case flag a letter in either case; every byte but line
 * feed (all with the dot-all flag); a class's bits, a letter in either case
 * when either is in (with the case flag), the complement when negated. */
static inline void leaf_set(const rx_node *node, uint8_t *set) {
    const int fold = (node->flags & RX_FLAG_I) != 0;
    if (node->kind == RX_CHAR) {
        set_add_literal(set, node->ch, fold);
        return;
    }
    uint8_t bits[32];
    if (node->kind == RX_ANY) {
        memset(bits, 0xFF, sizeof bits);
        if (!(node->flags & RX_FLAG_S))
            bits['\n' >> 3] = static_cast<uint8_t>(bits['\n' >> 3] & ~(1u << ('\n' & 7)));
    } else {
        memcpy(bits, node->bits, sizeof bits);
        if (fold)
            for (unsigned b = 'a'; b <= 'z'; b++)
                if (in_bits(bits, static_cast<uint8_t>(b)) || in_bits(bits, static_cast<uint8_t>(b - 32))) {
                    set_add(bits, b);
                    set_add(bits, b - 32);
                }
        if (node->negate)
            for (unsigned i = 0; i < 32; i++) bits[i] = static_cast<uint8_t>(~bits[i]);
    }
    for (unsigned i = 0; i < 32; i++) set[i] = static_cast<uint8_t>(set[i] | bits[i]);
}

/* A leaf at p: 1 with the end in *e, or 0. Bytes, anchors and boundaries;
 * any unknown kind fails. */
static inline int leaf_match(const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *e) {
    switch (node->kind) {
    case RX_CHAR: {
        if (p >= n) return 0;
        uint8_t b = t[p], c = node->ch;
        if (node->flags & RX_FLAG_I) {
            if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
            if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
        }
        if (b != c) return 0;
        *e = p + 1;
        return 1;
    }
    case RX_ANY:
        if (p >= n) return 0;
        if (t[p] == '\n' && !(node->flags & RX_FLAG_S)) return 0;
        *e = p + 1;
        return 1;
    case RX_CLASS: {
        if (p >= n) return 0;
        uint8_t b = t[p];
        int inside = in_bits(node->bits, b);
        if (!inside && (node->flags & RX_FLAG_I)) {
            if (b >= 'a' && b <= 'z')
                inside = in_bits(node->bits, static_cast<uint8_t>(b - 32));
            else if (b >= 'A' && b <= 'Z')
                inside = in_bits(node->bits, static_cast<uint8_t>(b + 32));
        }
        if (inside == (node->negate != 0)) return 0;
        *e = p + 1;
        return 1;
    }
    case RX_ANCHOR: {
        int ok;
        if (node->anchor == 1)
            ok = p == 0 || ((node->flags & RX_FLAG_M) && t[p - 1] == '\n');
        else if (node->anchor == 2)
            ok = p == n || ((node->flags & RX_FLAG_M) && t[p] == '\n');
        else
            ok = 0;
        if (!ok) return 0;
        *e = p;
        return 1;
    }
    case RX_WORDB: {
        int before = p > 0 && is_word_byte(t[p - 1]);
        int after = p < n && is_word_byte(t[p]);
        if ((before != after) == (node->not_boundary != 0)) return 0;
        *e = p;
        return 1;
    }
    default: return 0;
    }
}

/* 1 when the m bytes at s equal lit, letters folded when fold is set. */
static inline int same_bytes(const uint8_t *s, const uint8_t *lit, int32_t m, int fold, int32_t *matched) {
    int32_t j = 0;
    if (!fold) {
        if (memcmp(s, lit, static_cast<size_t>(m)) == 0) {
            *matched = m;
            return 1;
        }
        while (s[j] == lit[j]) j++;
    } else {
        while (j < m && fold_byte(s[j]) == fold_byte(lit[j])) j++;
    }
    *matched = j;
    return j == m;
}

/* ---- literal sets (rx_match_win_literals.cpp) ------------------------------- */

/* Alternations of more alternatives than this are matched through their
 * trie; smaller ones through their byte table (pick), which charges exactly
 * what the rules charge. */
#define RX_TRIE_FROM 16
#define RX_NO_ALT INT32_MAX /* no alternative */

/* How a literal set finds the next position where one of its literals
 * occurs. */
enum {
    RX_SCAN_FIRST, /* the bytes that begin a literal, each candidate walked */
    RX_SCAN_TEDDY, /* SIMD nibble masks of the first bytes (SSSE3) */
    RX_SCAN_DFA,   /* the Aho-Corasick automaton, built on first use */
    RX_SCAN_DFA_UNBUILT
};

/*
 * The alternatives of an alternation of literal chains and single literal
 * bytes: a trie of their bytes (folded when the pattern ignores case) that
 * tells, in one walk, the first alternative in order that matches at a
 * position, and a search for the next position where any of them occurs.
 * Made by rx_literals_build; every array is a heap block of its own.
 */
typedef struct rx_litset {
    struct rx_litset *next; /* the prog's list */
    int32_t count;          /* alternatives */
    int fold;               /* letters compare in either case */
    int32_t min_len;        /* shortest alternative */
    int32_t max_len;        /* longest alternative */
    int32_t *len;           /* per alternative: its bytes */
    int64_t *before;        /* count + 1 entries: before[i] the sum of
                               len - 1 over the alternatives before i */
    /* the trie: nodes numbered breadth first, 0 the root; the children of a
     * node are contiguous and ordered by their byte */
    uint32_t nodes;
    uint32_t *first_child; /* per node: its first child */
    uint16_t *children;    /* per node: how many children it has */
    uint8_t *label;        /* per node: the (folded) byte of its edge */
    int32_t *win;          /* per node: the lowest alternative that ends there,
                              or RX_NO_ALT */
    int32_t *best;         /* per node: the lowest that ends there or below */
    uint32_t root[256];    /* the root's child for each text byte, 0: none */
    /* the search */
    int scan;                 /* RX_SCAN_* */
    int32_t teddy_len;        /* bytes the masks look at (1 to 3) */
    uint8_t teddy_lo[3][16];  /* buckets whose literals may hold a byte of
                                 this low nibble at this offset ... */
    uint8_t teddy_hi[3][16];  /* ... and of this high nibble */
    uint32_t classes;         /* byte classes of the automaton */
    uint16_t byte_class[256]; /* each byte's class */
    uint32_t *dfa;            /* per state and class: the next state's row
                                 (state * classes), RX_DFA_OUT set when some
                                 literal ends there */
    uint32_t *longest;        /* per state: the longest literal ending there */
} rx_litset;

/* Builds the set of an alternation (flattened) whose alternatives are all
 * literal chains or single literal bytes, with one case rule, and adds it
 * to the prog's list; null when the alternation has no such shape or memory
 * ran out (it is then matched as before: nothing is lost but speed). */
rx_litset *rx_literals_build(rx_prog *prog, const rx_node *alt);
/* Frees the prog's list of sets. */
void rx_literals_free(rx_prog *prog);
/* The alternation alt (with a set) at p, as the matcher's rules give it: 1
 * with the end of the first alternative that matches in *e, else 0; steps
 * charged as the comment in the file says. */
int rx_literals_match(mstate *ms, const rx_node *alt, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *e);
/* The first position at or after p where one of the set's literals occurs
 * (whole, before n), or n + 1. A pure function of the text; the set's
 * automaton is built on the first call over a text long enough to pay. */
uint64_t rx_literals_next(rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p);

/* ---- prefilter ---------------------------------------------------------------- */

/* The analysis of the bytes that may begin a match; 1 when it rules out
 * some positions, 0 when it cannot. */
int rx_prefilter_analyse(const rx_node *root, rx_first_bytes *fb);
/* The literal every match of the compiled tree begins with (len 0: none). */
void rx_prefilter_literal(const rx_node *root, rx_literal *lit);
/* The alternation every match begins with (past zero-width items), or null. */
rx_node *rx_prefilter_alternation(const rx_node *root);
/* The index of the least common of len bytes. */
size_t rx_prefilter_rare_of(const uint8_t *bytes, int32_t len);
/* The longest literal every match contains: fills prog->required. */
void rx_prefilter_required(rx_prog *prog);
/* Where the required literal first occurs at or after p (whole, before n),
 * or n + 1. */
uint64_t rx_prefilter_required_next(const rx_literal *req, const uint8_t *t, uint64_t n, uint64_t p);
/* p, or n + 1 (one step charged per position from p on) when the required
 * literal no longer occurs from p on. */
uint64_t rx_prefilter_skip_required(mstate *ms, rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p);
uint64_t rx_prefilter_skip_literals(mstate *ms, rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p);
/* Rule out the hopeless positions from p on, one step each, and return the
 * first that must be tried; n + 1 (with the flag set when the budget ran
 * out on the way) when none is left. */
uint64_t rx_prefilter_skip_bytes(mstate *ms, const rx_first_bytes *fb, const uint8_t *t, uint64_t n,
                                 uint64_t p);
uint64_t rx_prefilter_skip_literal(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p);
/* The length of a NUL-terminated text (limit + 1 when longer than limit),
 * noting in prog->seen where the literal prefix's least common byte occurs. */
uint64_t rx_prefilter_measure(rx_prog *prog, const char *text, uint64_t limit);
/* A run and what must follow it, as in (\w+)@ or \w+\s+Holmes: sets
 * prog->run, run_follow and run_byte when the compiled tree has that shape. */
void rx_prefilter_run(rx_prog *prog);
/* The bytes of the pattern's fixed-width first items: fills prog->lead. */
void rx_prefilter_lead(rx_prog *prog);
/* The bytes the pattern's first item can begin with, where it must take a
 * byte and its shape tells them at once: sets prog->quick and quick_first. */
void rx_prefilter_quick(rx_prog *prog);
uint64_t rx_prefilter_skip_lead(mstate *ms, const rx_lead *lead, const uint8_t *t, uint64_t n, uint64_t p);
uint64_t rx_prefilter_skip_run(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p);
/* The same filters without the steps: the first position at or after p
 * that each does not rule out, n + 1 when there is none. The bytes' guard
 * is the analysis's own or a variant of it (null: none). */
uint64_t rx_prefilter_next_literal(const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p);
uint64_t rx_prefilter_next_lead(const rx_lead *lead, const uint8_t *t, uint64_t n, uint64_t p);
uint64_t rx_prefilter_next_run(const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p);
uint64_t rx_prefilter_next_bytes(const rx_first_bytes *fb, const rx_node *guard, const uint8_t *t, uint64_t n,
                                 uint64_t p);

#endif /* RX_MATCH_WIN_INTERNAL_H */
