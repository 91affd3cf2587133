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
    int anchored;      /* only offset 0 can ever match: the pattern's first byte
                         is "^" and so is the first byte of every other
                         top-level alternative */
    uint64_t nodes;    /* rx_node records in the tree */
    uint64_t chains;   /* sequence nodes of literal chains */
    uint64_t joins;    /* sequence and alternation nodes */
    int32_t groups;    /* groups that record (at most RX_MAX_GROUPS) */
    int out_of_memory; /* the parse failed for want of memory */
} rx_parse_info;

/* parse_pattern, also filling *info (when given), on failure too. */
rx_node *rx_parse_tree(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info);
/* Writes the message of a parse that ran out of memory into err. */
void rx_parse_out_of_memory(char *err, uint64_t err_size);

/* ---- compile ---------------------------------------------------------------- */

/* Gives a prepared prog the compiled form of the tree its parse described;
 * 0, or -1 when memory ran out. */
int rx_compile_tree(rx_prog *prog, const rx_parse_info *info);

/* ---- match ------------------------------------------------------------------- */

typedef struct cap_undo cap_undo;
typedef struct mframe mframe;

/* The matcher's state during one search, loaded from the thread-local
 * variables at its start and stored back at its end. */
typedef struct mstate {
    int32_t steps;
    int32_t hit;
    int32_t oom;
    rx_caps *caps;
    int32_t caps_clean; /* the record is all zero whenever the log is empty */
    cap_undo *log;
    int32_t logn;
    int32_t logcap;
    mframe *work;
    size_t workcap;
} mstate;

/* Loads the thread's matcher blocks into ms (steps, hit and caps are the
 * caller's), and stores them back after the search. */
void rx_match_begin(mstate *ms);
void rx_match_end(const mstate *ms);

/* Matches node at p: 1 with the end in *out, 0 when it does not match, -1
 * when the work stack or the undo log could not grow. */
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

/* The bytes a byte leaf takes, as bits of a 32-byte set (added to it). */
static inline void leaf_set(const rx_node *node, uint8_t *set) {
    for (unsigned b = 0; b < 256; b++) {
        const int letter = (b | 32u) >= 'a' && (b | 32u) <= 'z'; /* either case */
        const int fold = (node->flags & RX_FLAG_I) != 0;
        int in;
        if (node->kind == RX_CHAR) {
            in = b == node->ch || (fold && letter && (b | 32u) == (node->ch | 32u));
        } else if (node->kind == RX_ANY) {
            in = b != '\n' || (node->flags & RX_FLAG_S);
        } else {
            in = in_bits(node->bits, static_cast<uint8_t>(b));
            if (!in && fold && letter) in = in_bits(node->bits, static_cast<uint8_t>(b ^ 32u));
            in = in != (node->negate != 0);
        }
        if (in) set_add(set, b);
    }
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

/* ---- prefilter ---------------------------------------------------------------- */

/* The analysis of the bytes that may begin a match; 1 when it rules out
 * some positions, 0 when it cannot. */
int rx_prefilter_analyse(const rx_node *root, rx_first_bytes *fb);
/* The literal chain every match of the compiled tree begins with, or null. */
const rx_node *rx_prefilter_literal(const rx_node *root);
/* The index of the least common byte of a literal chain. */
size_t rx_prefilter_rare_byte(const rx_node *lit);
/* Rule out the hopeless positions from p on, one step each, and return the
 * first that must be tried; n + 1 (with the flag set when the budget ran
 * out on the way) when none is left. */
uint64_t rx_prefilter_skip_bytes(mstate *ms, const rx_first_bytes *fb, const uint8_t *t, uint64_t n,
                                 uint64_t p);
uint64_t rx_prefilter_skip_literal(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p);
/* The length of a NUL-terminated text (limit + 1 when longer than limit),
 * noting in prog->seen where the literal prefix's least common byte occurs. */
uint64_t rx_prefilter_measure(rx_prog *prog, const char *text, uint64_t limit);
/* A run and the byte after it every match begins with, as in (\w+)@: sets
 * prog->run and prog->run_next when the compiled tree has that shape. */
void rx_prefilter_run(rx_prog *prog);
/* The bytes of the pattern's fixed-width first items: fills prog->lead. */
void rx_prefilter_lead(rx_prog *prog);
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
/* As the bytes without a guard, and where every match begins with an
 * alternation of a few literals and bytes (fb->second), also one of them
 * whole: the first position at or after p where one matches, n + 1. */
uint64_t rx_prefilter_next_alternative(const rx_first_bytes *fb, const rx_node *root, const uint8_t *t,
                                       uint64_t n, uint64_t p);

#endif /* RX_MATCH_WIN_INTERNAL_H */
