/*
 * The analysis of a pattern: the lint and the explanation (rx_analysis.h).
 *
 * The lint works on the parse tree in two passes that never recurse (the
 * nodes are numbered in pre-order, so a pass over the numbers from the last
 * to the first meets every node after its operands, and from the first to
 * the last before them):
 *
 *   - bottom up, a summary of each node's possible outcomes under the commit
 *     rule: when it matches consuming, the bytes it can begin and end with,
 *     the byte before its start and the one after its end; when it matches
 *     empty, the bytes that can stand around it and the word-boundary test
 *     it makes; the bytes on which it surely matches consuming; whether it
 *     always matches. Every set is an over-approximation (the "surely" set
 *     an under-approximation), so a combination with no possible outcome
 *     can provably never match;
 *   - top down, each node's context: the bytes that can stand before its
 *     start and at it when it is tried, and a summary of what must match
 *     after it up to the point where a failure after it is the same as its
 *     own failure (the next alternative of an alternation it is the left
 *     operand of, the end of a repetition's iteration, the whole pattern).
 *
 * A part with no possible outcome in its context is reported where it can
 * be taken out without changing any answer (a dead alternative or optional
 * part), or as the whole pattern's failure.
 */
#include "rx_analysis.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kelvaron_regex_internal.h"
#include "rx_common.h"
#include "rx_escape.h"
#include "rx_match_win.h"
#include "rx_match_win_internal.h"

/* Patterns with more nodes get the dialect checks only. */
#define ANALYSIS_NODES_MAX 65536
/* Bytes of pattern text quoted in a message, and in an explanation's text. */
#define SNIPPET_MAX 40
#define EXPLAIN_TEXT_MAX 200
/* Positions of a fixed sequence compared for shadowing. */
#define PREFIX_MAX 64

/* ---- byte sets ---------------------------------------------------------------
 * 256 bits, and one more for the edge of the text: BOT (no byte before) in a
 * set of bytes before a position, EOT (no byte after) in a set of bytes at
 * one. */
typedef struct bset {
    uint64_t w[4];
    uint8_t edge;
} bset;

static const bset NONE_SET = {{0, 0, 0, 0}, 0};
static const bset ALL_SET = {{~0ull, ~0ull, ~0ull, ~0ull}, 1};

static int bs_empty(const bset *a) { return !(a->w[0] | a->w[1] | a->w[2] | a->w[3] | a->edge); }
static int bs_has(const bset *a, unsigned b) { return (a->w[b >> 6] >> (b & 63)) & 1; }
static void bs_add(bset *a, unsigned b) { a->w[b >> 6] |= 1ull << (b & 63); }
static bset bs_and(const bset *a, const bset *b) {
    bset r;
    for (int i = 0; i < 4; i++) r.w[i] = a->w[i] & b->w[i];
    r.edge = a->edge & b->edge;
    return r;
}
static bset bs_or(const bset *a, const bset *b) {
    bset r;
    for (int i = 0; i < 4; i++) r.w[i] = a->w[i] | b->w[i];
    r.edge = a->edge | b->edge;
    return r;
}
static bset bs_minus(const bset *a, const bset *b) {
    bset r;
    for (int i = 0; i < 4; i++) r.w[i] = a->w[i] & ~b->w[i];
    r.edge = a->edge & static_cast<uint8_t>(!b->edge);
    return r;
}
static int bs_meet(const bset *a, const bset *b) {
    bset r = bs_and(a, b);
    return !bs_empty(&r);
}
static int bs_same(const bset *a, const bset *b) {
    return memcmp(a->w, b->w, sizeof a->w) == 0 && a->edge == b->edge;
}
static int bs_subset(const bset *a, const bset *b) {
    bset r = bs_minus(a, b);
    return bs_empty(&r);
}
static bset bs_bytes(const bset *a) {
    bset r = *a;
    r.edge = 0;
    return r;
}
static int bs_count(const bset *a) {
    int n = 0;
    for (int i = 0; i < 4; i++) n += __builtin_popcountll(a->w[i]);
    return n;
}
static bset leaf_bytes(const rx_node *leaf) {
    uint8_t bits[32] = {0};
    bset r = NONE_SET;
    leaf_set(leaf, bits);
    for (unsigned b = 0; b < 256; b++)
        if (in_bits(bits, static_cast<uint8_t>(b))) bs_add(&r, b);
    return r;
}
static bset word_set(void) {
    bset r = NONE_SET;
    for (unsigned b = 0; b < 256; b++)
        if (is_word_byte(static_cast<uint8_t>(b))) bs_add(&r, b);
    return r;
}

/* Narrows the bytes before (prev) and at (next) a position to the pairs a
 * word-boundary test passes: wb 1 "\b" (one side a word byte, the other
 * not), 2 "\B" (both or neither); the edges count as non-word. 0 when no
 * pair passes. */
static int wb_filter(int wb, bset *prev, bset *next) {
    if (wb == 0) return !bs_empty(prev) && !bs_empty(next);
    bset w = word_set();
    bset pw = bs_and(prev, &w), pn = bs_minus(prev, &w), nw = bs_and(next, &w), nn = bs_minus(next, &w);
    int has_pw = !bs_empty(&pw), has_pn = !bs_empty(&pn), has_nw = !bs_empty(&nw), has_nn = !bs_empty(&nn);
    bset p = NONE_SET, n = NONE_SET;
    if (wb == 1) {
        if (has_pw && has_nn) p = bs_or(&p, &pw), n = bs_or(&n, &nn);
        if (has_pn && has_nw) p = bs_or(&p, &pn), n = bs_or(&n, &nw);
    } else {
        if (has_pw && has_nw) p = bs_or(&p, &pw), n = bs_or(&n, &nw);
        if (has_pn && has_nn) p = bs_or(&p, &pn), n = bs_or(&n, &nn);
    }
    *prev = p;
    *next = n;
    return !bs_empty(prev) && !bs_empty(next);
}

/* ---- summaries ----------------------------------------------------------------
 * What a node's matches can look like, whatever surrounds it. Each set
 * carries the node that last narrowed it (src, -1 for none), which names
 * the culprit of a failure in messages. */
typedef struct sm {
    uint8_t cons;   /* it may match consuming at least one byte ... */
    bset first;     /* ... beginning with one of these bytes */
    bset last;      /* ... ending with one of these */
    bset after;     /* ... with one of these after its end (edge: the end) */
    bset cprev;     /* ... and one of these before its start (edge: none) */
    uint8_t empty;  /* it may match the empty string ... */
    bset eprev;     /* ... with one of these before ... */
    bset enext;     /* ... and one of these after the position */
    uint8_t wb;     /* ... and that word-boundary test (0 none, 1 \b, 2 \B) */
    bset sure;      /* with one of these bytes next it surely matches consuming */
    uint8_t always; /* it matches at every position of every text */
    int32_t src_first, src_after, src_cprev, src_eprev, src_enext;
} sm;

static void sm_accept(sm *s) {
    memset(s, 0, sizeof *s);
    s->empty = 1;
    s->eprev = ALL_SET;
    s->enext = ALL_SET;
    s->always = 1;
    s->src_first = s->src_after = s->src_cprev = s->src_eprev = s->src_enext = -1;
}

static void sm_none(sm *s) {
    sm_accept(s);
    s->empty = 0;
    s->always = 0;
    s->eprev = NONE_SET;
    s->enext = NONE_SET;
}

static int sm_feasible(const sm *s) { return s->cons || s->empty; }

/* dst = dst & b, src taken from b when b narrowed it. */
static void narrow(bset *dst, int32_t *dsrc, const bset *b, int32_t bsrc) {
    bset r = bs_and(dst, b);
    if (!bs_same(&r, dst)) *dsrc = bsrc;
    *dst = r;
}

/* Adds the consuming outcome (first, last, after, cprev) to s. */
static void add_cons(sm *s, const bset *first, int32_t sf, const bset *last, const bset *after, int32_t sa,
                     const bset *cprev, int32_t sc) {
    if (!s->cons) {
        s->cons = 1;
        s->first = *first;
        s->last = *last;
        s->after = *after;
        s->cprev = *cprev;
        s->src_first = sf;
        s->src_after = sa;
        s->src_cprev = sc;
        return;
    }
    s->first = bs_or(&s->first, first);
    s->last = bs_or(&s->last, last);
    s->after = bs_or(&s->after, after);
    s->cprev = bs_or(&s->cprev, cprev);
}

/* The sequence a then b. */
static void sm_seq(const sm *a, const sm *b, sm *r) {
    sm_none(r);
    if (a->cons && b->cons && bs_meet(&a->after, &b->first) && bs_meet(&a->last, &b->cprev))
        add_cons(r, &a->first, a->src_first, &b->last, &b->after, b->src_after, &a->cprev, a->src_cprev);
    if (a->cons && b->empty) {
        bset prev = a->last, next = a->after;
        int32_t sa = a->src_after, dummy = -1;
        narrow(&prev, &dummy, &b->eprev, b->src_eprev);
        narrow(&next, &sa, &b->enext, b->src_enext);
        bset before = next;
        if (wb_filter(b->wb, &prev, &next)) {
            if (!bs_same(&before, &next)) sa = b->src_enext;
            add_cons(r, &a->first, a->src_first, &prev, &next, sa, &a->cprev, a->src_cprev);
        }
    }
    if (a->empty && b->cons) {
        bset prev = a->eprev, next = bs_bytes(&a->enext);
        int32_t sp = a->src_eprev, sf = b->src_first;
        narrow(&prev, &sp, &b->cprev, b->src_cprev);
        narrow(&next, &sf, &b->first, b->src_first);
        if (wb_filter(a->wb, &prev, &next))
            add_cons(r, &next, b->src_first, &b->last, &b->after, b->src_after, &prev, sp);
    }
    if (a->empty && b->empty && !(a->wb && b->wb && a->wb != b->wb)) {
        bset prev = a->eprev, next = a->enext;
        int32_t sp = a->src_eprev, sn = a->src_enext;
        narrow(&prev, &sp, &b->eprev, b->src_eprev);
        narrow(&next, &sn, &b->enext, b->src_enext);
        int wb = a->wb ? a->wb : b->wb;
        if (wb_filter(wb, &prev, &next)) {
            r->empty = 1;
            r->eprev = prev;
            r->enext = next;
            r->wb = static_cast<uint8_t>(wb);
            r->src_eprev = sp;
            r->src_enext = sn;
        }
    }
    r->always = a->always && b->always;
    if (b->always) r->sure = a->sure;
    if (a->always && !a->cons) r->sure = bs_or(&r->sure, &b->sure);
}

/* The alternation: right is tried only where left fails, so never where
 * left surely matches, and never at all when left always matches. */
static void sm_alt(const sm *l, const sm *rt, int32_t left_id, sm *r) {
    *r = *l;
    if (l->always) return;
    sm q = *rt;
    bset not_sure = bs_minus(&ALL_SET, &l->sure);
    if (q.cons) {
        narrow(&q.first, &q.src_first, &not_sure, left_id);
        if (bs_empty(&q.first)) q.cons = 0;
    }
    if (q.empty) {
        narrow(&q.enext, &q.src_enext, &not_sure, left_id);
        if (bs_empty(&q.enext)) q.empty = 0;
    }
    if (q.cons) {
        if (!r->cons) {
            r->cons = 1;
            r->first = q.first;
            r->last = q.last;
            r->after = q.after;
            r->cprev = q.cprev;
            r->src_first = q.src_first;
            r->src_after = q.src_after;
            r->src_cprev = q.src_cprev;
        } else {
            add_cons(r, &q.first, q.src_first, &q.last, &q.after, q.src_after, &q.cprev, q.src_cprev);
        }
    }
    if (q.empty) {
        if (!r->empty) {
            r->empty = 1;
            r->eprev = q.eprev;
            r->enext = q.enext;
            r->wb = q.wb;
            r->src_eprev = q.src_eprev;
            r->src_enext = q.src_enext;
        } else {
            r->eprev = bs_or(&r->eprev, &q.eprev);
            r->enext = bs_or(&r->enext, &q.enext);
            if (r->wb != q.wb) r->wb = 0;
        }
    }
    if (!l->empty) r->sure = bs_or(&l->sure, &rt->sure);
    r->always = rt->always;
}

/* A repetition of x (the node rep, numbered id). Greedy: iterations while
 * they match and consume, up to max; so after an unbounded run the next
 * byte is one x does not surely take. Lazy: exactly min. Below min an
 * iteration that matches empty completes the repetition. */
static void sm_rep(const rx_node *rep, int32_t id, const sm *x, sm *r) {
    sm_none(r);
    const int64_t min = rep->min, max = rep->max;
    if (max >= 0 && min > max) return;
    if (max == 0 || (rep->lazy && min == 0)) {
        sm_accept(r);
        return;
    }
    const int unbounded = !rep->lazy && max < 0;
    bset not_sure = bs_minus(&ALL_SET, &x->sure);
    if (min == 0) {
        r->empty = 1;
        r->eprev = ALL_SET;
        r->enext = not_sure;
        r->src_enext = bs_empty(&x->sure) ? -1 : id;
        r->always = 1;
    } else if (x->empty) {
        r->empty = 1;
        r->eprev = x->eprev;
        r->enext = x->enext;
        r->wb = x->wb;
        r->src_eprev = x->src_eprev;
        r->src_enext = x->src_enext;
    }
    int chains = min < 2 || (bs_meet(&x->after, &x->first) && bs_meet(&x->last, &x->cprev)) ||
                 (x->empty && bs_meet(&x->after, &x->enext) && bs_meet(&x->last, &x->eprev));
    if (x->cons && chains) {
        bset after = x->after;
        int32_t sa = x->src_after;
        if (unbounded) narrow(&after, &sa, &not_sure, id);
        add_cons(r, &x->first, x->src_first, &x->last, &after, sa, &x->cprev, x->src_cprev);
    }
    if (min >= 1 && x->always) r->always = 1;
    if (min <= 1 && (max < 0 || max >= 1) && !(rep->lazy && min == 0)) r->sure = x->sure;
}

/* What is left of a repetition after an iteration: more iterations or none. */
static void sm_rest(const sm *x, sm *r) {
    sm_accept(r);
    if (x->cons)
        add_cons(r, &x->first, x->src_first, &x->last, &x->after, x->src_after, &x->cprev, x->src_cprev);
}

/* ---- the numbered tree ----------------------------------------------------------- */

typedef struct ctx {
    bset prev; /* bytes that can stand before the node's start (edge BOT) */
    bset next; /* bytes that can stand at it (edge EOT) */
    int32_t src_next;
    sm after;          /* what must match after it, up to its failure boundary */
    uint8_t loop_body; /* the node is (inside groups) the body of a loop */
} ctx;

typedef struct ana {
    const char *pattern;
    uint32_t flags; /* of the leading flag group */
    uint32_t body;  /* where the pattern after the flag group begins */
    rx_node *root;
    uint32_t n;
    const rx_node **node; /* by number, in pre-order */
    int32_t *parent;
    int32_t *right; /* the number of the right operand, -1 for none */
    sm *sum;
    ctx *cx;
    int bounded; /* contexts stop at failure boundaries (the lint) or not */
} ana;

static void ana_free(ana *a) {
    node_free(a->root);
    free(a->node);
    free(a->parent);
    free(a->right);
    free(a->sum);
    free(a->cx);
    memset(a, 0, sizeof *a);
}

/* Numbers the nodes in pre-order (operand before right operand). */
static int number_nodes(ana *a, uint64_t count) {
    a->n = static_cast<uint32_t>(count);
    a->node = static_cast<const rx_node **>(rx_calloc(count, sizeof *a->node));
    a->parent = static_cast<int32_t *>(rx_calloc(count, sizeof *a->parent));
    const rx_node **stack = static_cast<const rx_node **>(rx_malloc(count * sizeof *stack));
    int32_t *up = static_cast<int32_t *>(rx_malloc(count * sizeof *up));
    if (a->node == nullptr || a->parent == nullptr || stack == nullptr || up == nullptr) {
        free(stack);
        free(up);
        return -1;
    }
    size_t top = 0;
    uint32_t k = 0;
    stack[top] = a->root;
    up[top++] = -1;
    while (top > 0 && k < a->n) {
        top--;
        const rx_node *x = stack[top];
        a->node[k] = x;
        a->parent[k] = up[top];
        const int32_t me = static_cast<int32_t>(k++);
        if (x->right != nullptr) stack[top] = x->right, up[top++] = me;
        if (x->left != nullptr) stack[top] = x->left, up[top++] = me;
        if (x->child != nullptr) stack[top] = x->child, up[top++] = me;
    }
    free(stack);
    free(up);
    a->n = k;
    a->right = static_cast<int32_t *>(rx_malloc(a->n * sizeof *a->right));
    if (a->right == nullptr) return -1;
    for (uint32_t i = 0; i < a->n; i++) a->right[i] = -1;
    for (uint32_t i = 1; i < a->n; i++) {
        const int32_t p = a->parent[i];
        if (a->node[p]->right == a->node[i]) a->right[p] = static_cast<int32_t>(i);
    }
    return 0;
}

/* The number of a node's operand: the next numbers after the node, left
 * (or child) first. */
static int32_t first_operand(int32_t i) { return i + 1; }
static int32_t second_operand(const ana *a, int32_t i) { return a->right[i]; }

static void summarise(ana *a) {
    for (int64_t i = static_cast<int64_t>(a->n) - 1; i >= 0; i--) {
        const int32_t id = static_cast<int32_t>(i);
        const rx_node *x = a->node[id];
        sm *s = &a->sum[id];
        switch (x->kind) {
        case RX_CHAR:
        case RX_ANY:
        case RX_CLASS: {
            sm_none(s);
            bset b = leaf_bytes(x);
            if (!bs_empty(&b)) {
                s->cons = 1;
                s->first = s->last = s->sure = b;
                s->after = ALL_SET;
                s->cprev = ALL_SET;
                s->src_first = id;
            }
            break;
        }
        case RX_ANCHOR:
        case RX_WORDB: {
            sm_accept(s);
            s->always = 0;
            if (x->kind == RX_WORDB) {
                s->wb = x->not_boundary ? 2 : 1;
                s->src_eprev = s->src_enext = id;
            } else {
                bset edge = NONE_SET;
                edge.edge = 1;
                if (x->flags & RX_FLAG_M) bs_add(&edge, '\n');
                if (x->anchor == 1) s->eprev = edge, s->src_eprev = id;
                if (x->anchor == 2) s->enext = edge, s->src_enext = id;
            }
            break;
        }
        case RX_CONCAT: sm_seq(&a->sum[first_operand(id)], &a->sum[second_operand(a, id)], s); break;
        case RX_ALT:
            sm_alt(&a->sum[first_operand(id)], &a->sum[second_operand(a, id)], first_operand(id), s);
            break;
        case RX_REPEAT: sm_rep(x, id, &a->sum[first_operand(id)], s); break;
        case RX_GROUP: *s = a->sum[first_operand(id)]; break;
        default: sm_none(s); break;
        }
    }
}

/* 1 when a node with summary s can match in context c, together with what
 * must follow it (with_after) or alone. */
static int fits(const sm *s, const ctx *c, int with_after) {
    sm t;
    if (with_after)
        sm_seq(s, &c->after, &t);
    else
        t = *s;
    if (t.cons && bs_meet(&t.first, &c->next) && bs_meet(&t.cprev, &c->prev)) return 1;
    if (!t.empty) return 0;
    bset prev = bs_and(&t.eprev, &c->prev), next = bs_and(&t.enext, &c->next);
    return wb_filter(t.wb, &prev, &next);
}

static int is_loop(const rx_node *rep) { return rep->max < 0 || rep->max > 1; }

static void set_contexts(ana *a) {
    ctx *c = &a->cx[0];
    c->prev = ALL_SET;
    c->next = ALL_SET;
    c->src_next = -1;
    sm_accept(&c->after);
    c->loop_body = 0;
    for (uint32_t i = 0; i < a->n; i++) {
        const rx_node *x = a->node[i];
        const ctx *me = &a->cx[i];
        const int32_t id = static_cast<int32_t>(i);
        if (x->kind == RX_CONCAT) {
            const int32_t l = first_operand(id), r = second_operand(a, id);
            const sm *ls = &a->sum[l];
            ctx *lc = &a->cx[l], *rc = &a->cx[r];
            *lc = *me;
            lc->loop_body = 0;
            sm_seq(&a->sum[r], &me->after, &lc->after);
            *rc = *me;
            rc->loop_body = 0;
            rc->prev = ls->cons ? ls->last : NONE_SET;
            rc->next = ls->cons ? ls->after : NONE_SET;
            rc->src_next = ls->cons ? ls->src_after : ls->src_enext;
            if (ls->empty) {
                bset p = bs_and(&me->prev, &ls->eprev), q = bs_and(&me->next, &ls->enext);
                if (!ls->cons && !bs_same(&q, &me->next)) rc->src_next = ls->src_enext;
                if (!ls->cons && bs_same(&q, &me->next)) rc->src_next = me->src_next;
                rc->prev = bs_or(&rc->prev, &p);
                rc->next = bs_or(&rc->next, &q);
            }
        } else if (x->kind == RX_ALT) {
            const int32_t l = first_operand(id), r = second_operand(a, id);
            ctx *lc = &a->cx[l], *rc = &a->cx[r];
            *lc = *me;
            if (a->bounded) sm_accept(&lc->after);
            *rc = *me;
            bset not_sure = bs_minus(&ALL_SET, &a->sum[l].sure);
            narrow(&rc->next, &rc->src_next, &not_sure, l);
        } else if (x->kind == RX_GROUP) {
            a->cx[id + 1] = *me;
        } else if (x->kind == RX_REPEAT) {
            const sm *xs = &a->sum[id + 1];
            ctx *cc = &a->cx[id + 1];
            *cc = *me;
            cc->loop_body = static_cast<uint8_t>(is_loop(x));
            if (xs->cons) {
                cc->prev = bs_or(&cc->prev, &xs->last);
                cc->next = bs_or(&cc->next, &xs->after);
            }
            if (a->bounded) {
                sm_accept(&cc->after);
            } else {
                sm rest;
                sm_rest(xs, &rest);
                sm_seq(&rest, &me->after, &cc->after);
            }
        }
    }
}

/* Parses and analyses; 0, 1 when the tree is too big to analyse (only the
 * parse is kept), RX_OUT_OF_MEMORY. */
static int ana_build(ana *a, const char *pattern, int bounded, rx_parse_info *info, rx_parse_notes *notes,
                     char *err, int *invalid) {
    memset(a, 0, sizeof *a);
    a->pattern = pattern;
    a->bounded = bounded;
    a->body = static_cast<uint32_t>(rx_parse_leading_flags(pattern, &a->flags));
    *invalid = 0;
    a->root = rx_parse_tree_noted(pattern, err, 128, info, notes);
    if (a->root == nullptr) {
        if (info->out_of_memory) return RX_OUT_OF_MEMORY;
        *invalid = 1;
        return 0;
    }
    if (info->nodes > ANALYSIS_NODES_MAX) return 1;
    if (number_nodes(a, info->nodes) != 0) return RX_OUT_OF_MEMORY;
    a->sum = static_cast<sm *>(rx_calloc(a->n, sizeof *a->sum));
    a->cx = static_cast<ctx *>(rx_calloc(a->n, sizeof *a->cx));
    if (a->sum == nullptr || a->cx == nullptr) return RX_OUT_OF_MEMORY;
    summarise(a);
    set_contexts(a);
    return 0;
}

/* ---- texts ---------------------------------------------------------------------- */

/* A growing text: an rx_buf, and whether memory ran out on the way. */
typedef struct text {
    char *data;
    uint64_t len, cap;
    int failed;
} text;

static void tx_put(text *t, const char *s, uint64_t n) {
    if (!t->failed && rx_buf_putn(&t->data, &t->len, &t->cap, s, n) != 0) t->failed = 1;
}
static void tx_puts(text *t, const char *s) { tx_put(t, s, strlen(s)); }
static void tx_int(text *t, int64_t v) {
    char num[24];
    snprintf(num, sizeof num, "%lld", static_cast<long long>(v));
    tx_puts(t, num);
}
/* The text taken out (an empty text when nothing was written), or null when
 * memory ran out (nothing is then left allocated). */
static char *tx_take(text *t) {
    if (!t->failed && t->data == nullptr) tx_put(t, "", 0);
    if (t->failed) {
        free(t->data);
        return nullptr;
    }
    return t->data;
}

/* Pattern bytes [start, end) for a message, in backquotes: cut to
 * SNIPPET_MAX bytes (not inside a UTF-8 sequence), a line feed shown as the
 * symbol of one, other control bytes as \xHH. */
static void tx_snippet(text *t, const char *pattern, uint32_t start, uint32_t end) {
    tx_puts(t, "`");
    uint32_t stop = end;
    if (stop - start > SNIPPET_MAX) {
        stop = start + SNIPPET_MAX;
        while (stop > start && (static_cast<uint8_t>(pattern[stop]) & 0xC0) == 0x80) stop--;
    }
    for (uint32_t i = start; i < stop; i++) {
        const uint8_t b = static_cast<uint8_t>(pattern[i]);
        if (b == '\n') {
            tx_puts(t, "\xE2\x8F\x8E");
        } else if (b < 0x20 || b == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", b);
            tx_puts(t, hex);
        } else {
            tx_put(t, pattern + i, 1);
        }
    }
    if (stop < end) tx_puts(t, "...");
    tx_puts(t, "`");
}

static void tx_node(text *t, const ana *a, int32_t id) {
    tx_snippet(t, a->pattern, a->node[id]->span_start, a->node[id]->span_end);
}

/* A byte set as pattern text that matches exactly it: one byte as itself
 * (escaped when it is an operator), more as a bracket class, members or
 * (when the set holds the NUL byte, which a pattern cannot) the others
 * negated. Inside brackets nothing is escaped: "]" goes first, "-" last and
 * "^" never first. Null when the set is empty or every byte. */
static void tx_set(text *t, const bset *set) {
    bset s = bs_bytes(set);
    const int n = bs_count(&s);
    if (n == 0 || n == 256) {
        t->failed = 1;
        return;
    }
    if (n == 1 && !bs_has(&s, 0)) {
        unsigned b = 0;
        while (!bs_has(&s, b)) b++;
        char c = static_cast<char>(b), *lit = nullptr;
        if (rx_escape_literal(&c, 1, &lit, nullptr) != 0) {
            t->failed = 1;
            return;
        }
        tx_puts(t, lit);
        free(lit);
        return;
    }
    const int negate = bs_has(&s, 0);
    if (negate) s = bs_minus(&ALL_SET, &s), s.edge = 0;
    tx_puts(t, negate ? "[^" : "[");
    int written = 0;
    if (bs_has(&s, ']')) tx_puts(t, "]"), written = 1;
    for (unsigned b = 1; b < 256; b++) {
        if (!bs_has(&s, b) || b == ']' || b == '-' || b == '^') continue;
        unsigned e = b;
        while (e + 1 < 256 && bs_has(&s, e + 1) && e + 1 != ']' && e + 1 != '-' && e + 1 != '^') e++;
        char c = static_cast<char>(b);
        tx_put(t, &c, 1);
        if (e >= b + 2) tx_puts(t, "-");
        if (e >= b + 1) c = static_cast<char>(e), tx_put(t, &c, 1);
        written = 1;
        b = e;
    }
    if (bs_has(&s, '^') && !written && bs_has(&s, '-')) {
        tx_puts(t, "-^]");
        return;
    }
    if (bs_has(&s, '^')) tx_puts(t, "^");
    if (bs_has(&s, '-')) tx_puts(t, "-");
    tx_puts(t, "]");
}

/* ---- findings --------------------------------------------------------------------- */

static const char EFFECT_NEVER[] = "never-matches";
static const char EFFECT_DEAD[] = "dead";
static const char EFFECT_NOTE[] = "note";
static const char EFFECT_DIALECT[] = "dialect";

typedef struct linter {
    ana a;
    rx_lint *out;
    int failed;    /* memory ran out */
    uint8_t *skip; /* nodes inside a part already reported */
} linter;

static rx_finding *add_finding(linter *L, const char *code, const char *effect, uint32_t start, uint32_t end,
                               char *message) {
    rx_lint *o = L->out;
    if (message == nullptr) {
        L->failed = 1;
        return nullptr;
    }
    if (o->count == o->room) {
        uint32_t room = o->room == 0 ? 8 : o->room * 2;
        rx_finding *grown = static_cast<rx_finding *>(rx_realloc(o->findings, room * sizeof *grown));
        if (grown == nullptr) {
            free(message);
            L->failed = 1;
            return nullptr;
        }
        o->findings = grown;
        o->room = room;
    }
    rx_finding *f = &o->findings[o->count++];
    memset(f, 0, sizeof *f);
    f->code = code;
    f->effect = effect;
    f->start = start;
    f->end = end;
    f->message = message;
    return f;
}

/* Adds a suggestion (both texts heap, or null when memory ran out). */
static void add_suggestion(linter *L, rx_finding *f, char *pattern, char *meaning) {
    if (f == nullptr || pattern == nullptr || meaning == nullptr ||
        f->suggestion_count == RX_SUGGESTIONS_MAX) {
        if (pattern == nullptr || meaning == nullptr) L->failed = 1;
        free(pattern);
        free(meaning);
        return;
    }
    f->suggestions[f->suggestion_count].pattern = pattern;
    f->suggestions[f->suggestion_count].meaning = meaning;
    f->suggestion_count++;
}

static char *dup_text(const char *s) {
    text t = {nullptr, 0, 0, 0};
    tx_puts(&t, s);
    return tx_take(&t);
}

/* The pattern with [start, end) replaced by the text of with. */
static char *replaced(const char *pattern, uint32_t start, uint32_t end, text *with) {
    text t = {nullptr, 0, 0, 0};
    if (with->failed) {
        free(with->data);
        return nullptr;
    }
    tx_put(&t, pattern, start);
    tx_put(&t, with->data != nullptr ? with->data : "", with->len);
    tx_puts(&t, pattern + end);
    free(with->data);
    return tx_take(&t);
}

static int is_byte(const ana *a, int32_t id) { return id >= 0 && is_byte_leaf(a->node[id]); }

/* The run node (a greedy unbounded repetition of one byte leaf) or -1. */
static int is_run(const ana *a, int32_t id) {
    if (id < 0) return 0;
    const rx_node *x = a->node[id];
    return x->kind == RX_REPEAT && !x->lazy && x->max < 0 && is_byte(a, id + 1);
}

/* The first item after node r in its sequence (through the sequence nodes
 * around it, not through groups), or -1. */
static int32_t next_item(const ana *a, int32_t r) {
    int32_t n = r;
    while (a->parent[n] >= 0 && a->node[a->parent[n]]->kind == RX_CONCAT && a->right[a->parent[n]] == n)
        n = a->parent[n];
    const int32_t p = a->parent[n];
    if (p < 0 || a->node[p]->kind != RX_CONCAT) return -1;
    int32_t f = a->right[p];
    while (a->node[f]->kind == RX_CONCAT) f = first_operand(f);
    return f;
}

/* 1 when f is the item right after r in a sequence, their texts adjacent. */
static int follows_directly(const ana *a, int32_t r, int32_t f) {
    return r >= 0 && f > 0 && next_item(a, r) == f && a->node[r]->span_end == a->node[f]->span_start;
}

static int commit_safe(const char *pattern);

/* ---- why a part cannot match -------------------------------------------------------- */

typedef struct why {
    const char *code;
    int32_t culprit;  /* the node whose rule makes it fail, or -1 */
    int32_t follower; /* the byte leaf it leaves nothing for, or -1 */
    int32_t origin;   /* the part that cannot match */
} why;

/* The culprit of the sequence a then b having no outcome. */
static void blame_pair(const sm *a, const sm *b, why *w) {
    if (a->cons && b->cons && !bs_meet(&a->after, &b->first)) {
        w->culprit = a->src_after;
        w->follower = b->src_first;
    } else if (a->cons && b->cons && !bs_meet(&a->last, &b->cprev)) {
        w->culprit = b->src_cprev;
    } else if (a->empty && b->cons && !bs_meet(&a->enext, &b->first)) {
        w->culprit = a->src_enext;
        w->follower = b->src_first;
    } else if (a->cons && b->empty) {
        w->culprit = !bs_meet(&a->last, &b->eprev) ? b->src_eprev : b->src_enext;
    }
}

static void name_culprit(const ana *a, why *w) {
    if (w->culprit < 0) return;
    const rx_node *c = a->node[w->culprit];
    if (c->kind == RX_REPEAT)
        w->code = "swallowed-follower";
    else if (c->kind == RX_ANCHOR || c->kind == RX_WORDB)
        w->code = "impossible-anchor";
}

/* Why node id cannot match: by itself (its summary has no outcome), in its
 * context (the bytes around it), or with what must follow it. */
static void explain_failure(const ana *a, int32_t id, why *w) {
    w->code = "unmatchable";
    w->culprit = w->follower = -1;
    w->origin = id;
    int32_t n = id;
    if (!sm_feasible(&a->sum[id])) {
        for (;;) {
            const rx_node *x = a->node[n];
            w->origin = n;
            if (x->kind == RX_CONCAT) {
                const int32_t l = first_operand(n), r = a->right[n];
                if (!sm_feasible(&a->sum[l])) {
                    n = l;
                } else if (!sm_feasible(&a->sum[r])) {
                    n = r;
                } else {
                    blame_pair(&a->sum[l], &a->sum[r], w);
                    break;
                }
            } else if (x->kind == RX_GROUP || x->kind == RX_ALT) {
                n = first_operand(n);
            } else if (x->kind == RX_REPEAT) {
                if (x->max >= 0 && x->min > x->max) {
                    w->code = "reversed-count";
                    return;
                }
                if (sm_feasible(&a->sum[n + 1])) break;
                n = n + 1;
            } else {
                if (is_byte_leaf(x)) w->code = "empty-class";
                return;
            }
        }
    } else if (!fits(&a->sum[id], &a->cx[id], 0)) {
        const sm *s = &a->sum[id];
        const ctx *c = &a->cx[id];
        if (s->cons && !bs_meet(&s->first, &c->next)) {
            w->culprit = c->src_next;
            w->follower = s->src_first;
        } else if (s->cons && !bs_meet(&s->cprev, &c->prev)) {
            w->culprit = s->src_cprev;
        } else {
            w->culprit = bs_meet(&s->eprev, &c->prev) ? s->src_enext : s->src_eprev;
        }
    } else {
        blame_pair(&a->sum[id], &a->cx[id].after, w);
    }
    name_culprit(a, w);
}

/* The reason in words, without the end of the sentence. */
static void tx_why(text *t, const ana *a, const why *w) {
    if (w->culprit >= 0 && a->node[w->culprit]->kind == RX_REPEAT) {
        tx_node(t, a, w->culprit);
        tx_puts(t, " takes all it can and never gives a byte back, so ");
        if (w->follower >= 0)
            tx_node(t, a, w->follower), tx_puts(t, " after it");
        else
            tx_puts(t, "what comes after it");
        tx_puts(t, " can never match");
        return;
    }
    if (w->culprit >= 0 && a->node[w->culprit]->kind == RX_ANCHOR) {
        const rx_node *c = a->node[w->culprit];
        const int multi = (c->flags & RX_FLAG_M) != 0;
        tx_node(t, a, w->culprit);
        if (c->anchor == 1)
            tx_puts(
                t, multi ? " matches only at the start of the text or after a line feed, and the byte before "
                           "it here can never be one"
                         : " matches only at the start of the text (there is no (?m)), and here a byte is "
                           "always matched before it");
        else
            tx_puts(t,
                    multi
                        ? " matches only at the end of the text or before a line feed, and the byte after it "
                          "here can never be one"
                        : " matches only at the end of the text (there is no (?m)), and here a byte must "
                          "still match after it");
        return;
    }
    if (w->culprit >= 0 && a->node[w->culprit]->kind == RX_WORDB) {
        tx_node(t, a, w->culprit);
        tx_puts(t,
                a->node[w->culprit]->not_boundary
                    ? " needs a word byte on both sides or on neither, and the bytes around it here are one "
                      "word byte and one other"
                    : " needs a word byte on one side and another byte on the other, and the bytes around "
                      "it here are both word bytes or both not");
        return;
    }
    if (strcmp(w->code, "reversed-count") == 0) {
        tx_node(t, a, w->origin);
        tx_puts(t, " asks for more repetitions than it allows, so it can never match");
        return;
    }
    if (strcmp(w->code, "empty-class") == 0) {
        tx_node(t, a, w->origin);
        tx_puts(t, " holds no byte at all (a range whose end is below its start adds nothing), so it can "
                   "never match");
        return;
    }
    tx_node(t, a, w->origin);
    tx_puts(t, " can never match here");
}

/* The span a failure marks: from the run to the byte it leaves nothing for,
 * or the culprit, or the part. */
static void why_span(const ana *a, const why *w, uint32_t *start, uint32_t *end) {
    int32_t at = w->culprit >= 0 ? w->culprit : w->origin;
    *start = a->node[at]->span_start;
    *end = a->node[at]->span_end;
    if (w->culprit >= 0 && w->follower >= 0 && a->node[w->follower]->span_end > *start &&
        a->node[w->follower]->span_start >= *end)
        *end = a->node[w->follower]->span_end;
}

/* The suggestions for a run that swallows the byte leaf after it. */
static void suggest_run(linter *L, rx_finding *f, int32_t run, int32_t fol) {
    const ana *a = &L->a;
    if (f == nullptr || !is_run(a, run) || !is_byte(a, fol)) return;
    const rx_node *r = a->node[run], *atom = a->node[run + 1], *t = a->node[fol];
    bset s = leaf_bytes(atom), tb = leaf_bytes(t), rest = bs_minus(&s, &tb);
    text cls = {nullptr, 0, 0, 0}, mean = {nullptr, 0, 0, 0};
    if (!bs_empty(&rest)) {
        tx_set(&cls, &rest);
        mean.failed = cls.failed;
        tx_puts(&mean, "up to the first ");
        tx_node(&mean, a, fol);
        add_suggestion(L, f, replaced(a->pattern, atom->span_start, atom->span_end, &cls), tx_take(&mean));
    }
    if (!follows_directly(a, run, fol)) return;
    text rep = {nullptr, 0, 0, 0};
    if (r->min >= 1) {
        tx_put(&rep, a->pattern + atom->span_start, atom->span_end - atom->span_start);
        if (r->min > 1) tx_puts(&rep, "{"), tx_int(&rep, r->min), tx_puts(&rep, "}");
    }
    tx_puts(&rep, "(?:");
    if (!bs_empty(&rest)) tx_set(&rep, &rest), tx_puts(&rep, "*");
    tx_put(&rep, a->pattern + t->span_start, t->span_end - t->span_start);
    tx_puts(&rep, ")+");
    char *sugg = replaced(a->pattern, r->span_start, t->span_end, &rep);
    if (sugg == nullptr) {
        L->failed = 1;
        return;
    }
    if (!commit_safe(sugg)) {
        free(sugg);
        return;
    }
    text m2 = {nullptr, 0, 0, 0};
    tx_puts(&m2, "up to the last ");
    tx_node(&m2, a, fol);
    tx_puts(&m2, ", as other engines do");
    add_suggestion(L, f, sugg, tx_take(&m2));
}

/* Reports a part that cannot match: the whole pattern (never-matches) or a
 * part that can go (dead, with the part's span). */
static void report_failure(linter *L, int32_t id, const char *effect, const char *tail) {
    const ana *a = &L->a;
    why w;
    explain_failure(a, id, &w);
    text t = {nullptr, 0, 0, 0};
    tx_why(&t, a, &w);
    tx_puts(&t, tail);
    uint32_t start, end;
    if (effect == EFFECT_NEVER) {
        why_span(a, &w, &start, &end);
    } else {
        start = a->node[id]->span_start;
        end = a->node[id]->span_end;
    }
    rx_finding *f = add_finding(L, w.code, effect, start, end, tx_take(&t));
    if (effect == EFFECT_NEVER && is_run(a, w.culprit)) suggest_run(L, f, w.culprit, w.follower);
}

/* ---- the checks on the tree ----------------------------------------------------------- */

/* A fixed sequence of byte leaves (groups and exact counts included):
 * their sets in order, or -1 when id is no such sequence. */
static int fixed_bytes(const ana *a, int32_t id, bset *out, int max) {
    int count = 0;
    int32_t stack[PREFIX_MAX + 1];
    int top = 0;
    stack[top++] = id;
    while (top > 0) {
        const int32_t n = stack[--top];
        const rx_node *x = a->node[n];
        if (is_byte_leaf(x)) {
            if (count == max) return -1;
            out[count++] = leaf_bytes(x);
        } else if (x->kind == RX_GROUP) {
            stack[top++] = n + 1;
        } else if (x->kind == RX_CONCAT) {
            if (top + 2 > PREFIX_MAX) return -1;
            stack[top++] = a->right[n];
            stack[top++] = n + 1;
        } else {
            return -1;
        }
    }
    return count;
}

/* 1 when every match of node id is at least k bytes long and its i-th byte
 * is in want[i]: read from its leading items (byte leaves, groups, counted
 * repetitions of byte leaves; zero-width items only narrow it). */
static int begins_within(const ana *a, int32_t id, const bset *want, int k) {
    int pos = 0;
    int32_t stack[PREFIX_MAX + 1];
    int top = 0;
    stack[top++] = id;
    while (top > 0 && pos < k) {
        const int32_t n = stack[--top];
        const rx_node *x = a->node[n];
        if (is_byte_leaf(x)) {
            bset b = leaf_bytes(x);
            if (!bs_subset(&b, &want[pos++])) return 0;
        } else if (x->kind == RX_ANCHOR || x->kind == RX_WORDB) {
            continue;
        } else if (x->kind == RX_GROUP) {
            stack[top++] = n + 1;
        } else if (x->kind == RX_CONCAT) {
            if (top + 2 > PREFIX_MAX) return 0;
            stack[top++] = a->right[n];
            stack[top++] = n + 1;
        } else if (x->kind == RX_REPEAT && is_byte(a, n + 1) && x->min >= 1 &&
                   (x->max < 0 || x->max >= x->min)) {
            bset b = leaf_bytes(a->node[n + 1]);
            for (int32_t i = 0; i < x->min && pos < k; i++)
                if (!bs_subset(&b, &want[pos++])) return 0;
            if (x->max != x->min) break;
        } else {
            return 0;
        }
    }
    return pos >= k;
}

static int same_text(const ana *a, int32_t x, int32_t y) {
    const rx_node *p = a->node[x], *q = a->node[y];
    return p->span_end - p->span_start == q->span_end - q->span_start &&
           memcmp(a->pattern + p->span_start, a->pattern + q->span_start, p->span_end - p->span_start) == 0;
}

/* The earlier operand that shadows ops[j] (never tried, or never matching,
 * where they match), or -1; *how: 0 it always matches, 1 the same text, 2
 * its fixed bytes begin every match of ops[j], 3 it surely matches there. */
static int32_t shadow_of(const ana *a, const int32_t *ops, const uint8_t *dead, int j, int *how) {
    bset seq[PREFIX_MAX];
    for (int k = 0; k < j; k++) {
        if (dead[k]) continue;
        const int32_t o = ops[k];
        if (a->sum[o].always) return *how = 0, o;
        if (same_text(a, o, ops[j])) return *how = 1, o;
        const int len = fixed_bytes(a, o, seq, PREFIX_MAX);
        if (len > 0 && begins_within(a, ops[j], seq, len)) return *how = 2, o;
    }
    const int32_t src = a->cx[ops[j]].src_next;
    for (int k = 0; k < j; k++)
        if (ops[k] == src && !dead[k] && !fits(&a->sum[ops[j]], &a->cx[ops[j]], 0)) return *how = 3, src;
    return -1;
}

/* The suggestion for a loop over alternatives that are all runs: the loop
 * over their bodies. */
static void suggest_loop(linter *L, rx_finding *f, const int32_t *ops, int m) {
    const ana *a = &L->a;
    for (int k = 0; k < m; k++) {
        const rx_node *x = a->node[ops[k]];
        if (x->kind != RX_REPEAT || x->lazy || x->max >= 0 || x->min > 1) return;
    }
    text t = {nullptr, 0, 0, 0};
    tx_put(&t, a->pattern, a->node[ops[0]]->span_start);
    for (int k = 0; k < m; k++) {
        const rx_node *body = a->node[ops[k] + 1];
        if (k > 0)
            tx_put(&t, a->pattern + a->node[ops[k - 1]]->span_end,
                   a->node[ops[k]]->span_start - a->node[ops[k - 1]]->span_end);
        const int atom = is_byte_leaf(body) || body->kind == RX_GROUP;
        if (!atom) tx_puts(&t, "(?:");
        tx_put(&t, a->pattern + body->span_start, body->span_end - body->span_start);
        if (!atom) tx_puts(&t, ")");
    }
    tx_puts(&t, a->pattern + a->node[ops[m - 1]]->span_end);
    /* (other engines end such a loop at an empty iteration too) */
    add_suggestion(L, f, tx_take(&t), dup_text("any mix of what the alternatives take"));
}

#define ALT_OPS_MAX 4096

/* The operands of the alternation whose top node is top, in order. */
static int alt_operands(const ana *a, int32_t top, int32_t *ops, int max) {
    int m = 0;
    int32_t n = top;
    while (a->node[n]->kind == RX_ALT && m < max - 1) {
        ops[m++] = a->right[n];
        n = first_operand(n);
    }
    if (a->node[n]->kind == RX_ALT) return 0;
    ops[m++] = n;
    for (int i = 0; i < m / 2; i++) {
        int32_t s = ops[i];
        ops[i] = ops[m - 1 - i];
        ops[m - 1 - i] = s;
    }
    return m;
}

/* The span of a part to take out: a non-capturing group around exactly it
 * goes with it. */
static void part_span(const ana *a, int32_t id, uint32_t *start, uint32_t *end) {
    uint32_t s = a->node[id]->span_start, e = a->node[id]->span_end;
    while (s >= 3 && memcmp(a->pattern + s - 3, "(?:", 3) == 0 && a->pattern[e] == ')') s -= 3, e++;
    *start = s;
    *end = e;
}

/* What the alternation's operands are: kind[j] is 1 shadowed by by[j], 4
 * shadowed by an empty alternative inside a loop, 2 never matching, 3
 * failing after it matches; dead[j] is 1 when the operand is never used.
 * Answers how many are dead. */
static int classify_alternatives(const ana *a, int32_t top, const int32_t *ops, int m, uint8_t *dead,
                                 uint8_t *kind, int32_t *by) {
    for (int j = 0; j < m; j++) {
        int h = 0;
        by[j] = j > 0 && sm_feasible(&a->sum[ops[j]]) ? shadow_of(a, ops, dead, j, &h) : -1;
        if (by[j] >= 0) {
            kind[j] = static_cast<uint8_t>(h == 0 && a->cx[top].loop_body && a->sum[by[j]].empty ? 4 : 1);
            dead[j] = 1;
        } else if (!sm_feasible(&a->sum[ops[j]]) || !fits(&a->sum[ops[j]], &a->cx[ops[j]], 0)) {
            kind[j] = 2;
            dead[j] = 1;
        } else if (!fits(&a->sum[ops[j]], &a->cx[ops[j]], 1)) {
            kind[j] = 3;
        }
    }
    /* failing after a match: removable when nothing after it could match where it does */
    for (int j = 0; j < m; j++) {
        if (kind[j] != 3) continue;
        int ok = 1;
        for (int l = j + 1; l < m && ok; l++) {
            if (kind[l] == 2 || kind[l] == 3) continue;
            if ((kind[l] == 1 || kind[l] == 4) && by[l] != ops[j]) continue;
            const sm *p = &a->sum[ops[j]], *q = &a->sum[ops[l]];
            ok = !p->empty && !q->empty && !bs_meet(&p->first, &q->first);
        }
        dead[j] = static_cast<uint8_t>(ok);
    }
    int ndead = 0;
    for (int j = 0; j < m; j++) ndead += dead[j];
    return ndead;
}

/* The finding for operand j of the alternation, as classify_alternatives
 * found it. */
static void report_alternative(linter *L, int32_t top, const int32_t *ops, int m, int j, uint8_t dead,
                               uint8_t kind, int32_t by) {
    const ana *a = &L->a;
    const int32_t o = ops[j];
    text t = {nullptr, 0, 0, 0};
    rx_finding *f = nullptr;
    uint32_t ps, pe;
    part_span(a, o, &ps, &pe);
    if (kind == 1 || kind == 4) {
        tx_node(&t, a, o);
        tx_puts(&t, " is never used: ");
        if (a->node[by]->span_start == a->node[by]->span_end)
            tx_puts(&t, "the empty alternative");
        else
            tx_node(&t, a, by);
        tx_puts(&t, kind == 4 ? " before it can match the empty string, so in this loop it always "
                                "matches, and the loop ends where it takes nothing"
                              : " before it always matches where it could");
        f = add_finding(L, kind == 4 ? "nullable-loop" : "shadowed-alternative", EFFECT_DEAD, ps, pe,
                        tx_take(&t));
        if (kind == 4 && a->node[a->parent[top]]->kind == RX_REPEAT) suggest_loop(L, f, ops, m);
    } else if (kind == 2 || kind == 3) {
        why w;
        explain_failure(a, o, &w);
        tx_why(&t, a, &w);
        tx_puts(&t, dead ? ": this alternative is never used"
                         : ": when this alternative matches, the match fails here, and the "
                           "alternatives after it are not tried");
        f = add_finding(L, w.code, dead ? EFFECT_DEAD : EFFECT_NOTE, ps, pe, tx_take(&t));
        if (f != nullptr && is_run(a, w.culprit)) suggest_run(L, f, w.culprit, w.follower);
    }
    if (kind != 0) L->skip[o] = 1;
}

static void check_alternation(linter *L, int32_t top) {
    const ana *a = &L->a;
    int32_t *ops = static_cast<int32_t *>(rx_malloc(ALT_OPS_MAX * sizeof *ops));
    uint8_t *dead = static_cast<uint8_t *>(rx_calloc(ALT_OPS_MAX, 1));
    uint8_t *kind = static_cast<uint8_t *>(rx_calloc(ALT_OPS_MAX, 1));
    int32_t *by = static_cast<int32_t *>(rx_malloc(ALT_OPS_MAX * sizeof *by));
    if (ops == nullptr || dead == nullptr || kind == nullptr || by == nullptr) {
        L->failed = 1;
    } else {
        const int m = alt_operands(a, top, ops, ALT_OPS_MAX);
        /* when the whole alternation fails, that is said higher up */
        if (classify_alternatives(a, top, ops, m, dead, kind, by) < m)
            for (int j = 0; j < m; j++) report_alternative(L, top, ops, m, j, dead[j], kind[j], by[j]);
    }
    free(ops);
    free(dead);
    free(kind);
    free(by);
}

/* X*?, X??, X{n,m}?: a lazy repetition takes its minimum. */
static void check_lazy(linter *L, int32_t id) {
    const ana *a = &L->a;
    const rx_node *x = a->node[id];
    text t = {nullptr, 0, 0, 0};
    tx_node(&t, a, id);
    if (x->min == 0) {
        tx_puts(&t, " is lazy: it takes as few as it can, and here that is always none, so it matches only "
                    "the empty string");
    } else {
        tx_puts(&t, " is lazy: it takes exactly ");
        tx_int(&t, x->min);
        tx_puts(&t, " and never more");
    }
    rx_finding *f = add_finding(L, "lazy-minimum", EFFECT_NOTE, x->span_start, x->span_end, tx_take(&t));
    /* C*?T: up to the first T */
    const int32_t follower = next_item(a, id);
    if (f == nullptr || !is_byte(a, follower) || !is_byte(a, id + 1) || !follows_directly(a, id, follower))
        return;
    const rx_node *atom = a->node[id + 1], *tn = a->node[follower];
    bset s = leaf_bytes(atom), tb = leaf_bytes(tn);
    for (int wide = 0; wide < 2; wide++) {
        if (wide && !(atom->kind == RX_ANY && !(atom->flags & RX_FLAG_S))) break;
        if (wide) bs_add(&s, '\n');
        bset rest = bs_minus(&s, &tb);
        if (bs_empty(&rest)) return;
        text rep = {nullptr, 0, 0, 0}, mean = {nullptr, 0, 0, 0};
        if (x->min >= 1) {
            tx_put(&rep, a->pattern + atom->span_start, atom->span_end - atom->span_start);
            if (x->min > 1) tx_puts(&rep, "{"), tx_int(&rep, x->min), tx_puts(&rep, "}");
        }
        tx_set(&rep, &rest);
        if (x->max < 0)
            tx_puts(&rep, "*");
        else
            tx_puts(&rep, "{0,"), tx_int(&rep, static_cast<int64_t>(x->max) - x->min), tx_puts(&rep, "}");
        tx_put(&rep, a->pattern + tn->span_start, tn->span_end - tn->span_start);
        char *sugg = replaced(a->pattern, x->span_start, tn->span_end, &rep);
        if (sugg == nullptr) {
            L->failed = 1;
            return;
        }
        /* as other engines do only where nothing may follow the T */
        const int last = tn->span_end == strlen(a->pattern) && a->parent[follower] == 0 &&
                         a->right[0] == follower && !wide;
        tx_puts(&mean, "up to the first ");
        tx_node(&mean, a, follower);
        if (wide) tx_puts(&mean, ", across line feeds too");
        if (last && commit_safe(sugg)) tx_puts(&mean, ", as other engines do");
        add_suggestion(L, f, sugg, tx_take(&mean));
    }
}

/* C{n,m} followed by what needs a byte C takes: it takes exactly m. */
static void check_bounded(linter *L, int32_t id) {
    const ana *a = &L->a;
    const rx_node *x = a->node[id];
    const sm *k = &a->cx[id].after;
    bset s = leaf_bytes(a->node[id + 1]);
    if (!k->cons || k->empty || !bs_subset(&k->first, &s)) return;
    text t = {nullptr, 0, 0, 0};
    tx_node(&t, a, id);
    tx_puts(&t, " takes up to ");
    tx_int(&t, x->max);
    tx_puts(&t, " and never gives one back, and what follows needs a byte it takes: so it matches only when "
                "it has taken all ");
    tx_int(&t, x->max);
    rx_finding *f = add_finding(L, "bounded-swallow", EFFECT_NOTE, x->span_start, x->span_end, tx_take(&t));
    const int32_t fol = next_item(a, id);
    if (f == nullptr || !is_byte(a, fol) || !follows_directly(a, id, fol)) return;
    bset tb = leaf_bytes(a->node[fol]);
    if (!bs_same(&tb, &s)) return;
    const rx_node *atom = a->node[id + 1];
    text rep = {nullptr, 0, 0, 0};
    tx_put(&rep, a->pattern + atom->span_start, atom->span_end - atom->span_start);
    tx_puts(&rep, "{");
    tx_int(&rep, static_cast<int64_t>(x->min) + 1);
    tx_puts(&rep, ",");
    tx_int(&rep, static_cast<int64_t>(x->max) + 1);
    tx_puts(&rep, "}");
    char *sugg = replaced(a->pattern, x->span_start, a->node[fol]->span_end, &rep);
    if (sugg == nullptr) {
        L->failed = 1;
        return;
    }
    text mean = {nullptr, 0, 0, 0};
    tx_puts(&mean, "from ");
    tx_int(&mean, static_cast<int64_t>(x->min) + 1);
    tx_puts(&mean, " to ");
    tx_int(&mean, static_cast<int64_t>(x->max) + 1);
    tx_puts(&mean, " of them");
    if (commit_safe(sugg)) tx_puts(&mean, ", as other engines do");
    add_suggestion(L, f, sugg, tx_take(&mean));
}

/* A repetition or group that can match consuming, but never where it
 * stands: it always matches empty. 1 when reported. */
static int check_always_empty(linter *L, int32_t id) {
    const ana *a = &L->a;
    const sm *s = &a->sum[id];
    const ctx *c = &a->cx[id];
    if (!s->cons || !s->empty) return 0;
    if (bs_meet(&s->first, &c->next) && bs_meet(&s->cprev, &c->prev)) return 0;
    bset prev = bs_and(&s->eprev, &c->prev), next = bs_and(&s->enext, &c->next);
    if (!wb_filter(s->wb, &prev, &next)) return 0;
    text t = {nullptr, 0, 0, 0};
    if (a->node[id]->kind == RX_GROUP) {
        tx_puts(&t, "group ");
        tx_int(&t, a->node[id]->group);
        tx_puts(&t, " is always empty: ");
    }
    tx_node(&t, a, id);
    tx_puts(&t, " here can never take a byte");
    if (is_run(a, c->src_next)) {
        tx_puts(&t, ": ");
        tx_node(&t, a, c->src_next);
        tx_puts(&t, " before it has taken every byte it could");
    }
    add_finding(L, "always-empty", EFFECT_NOTE, a->node[id]->span_start, a->node[id]->span_end, tx_take(&t));
    return 1;
}

/* Steps a try of a run spends per byte, as the matching rules charge them. */
#define RUN_STEPS_PER_BYTE 2

/* An unanchored pattern that begins with a run and can fail after it: each
 * start inside a run of its bytes runs it to the end again. */
static void check_retried(linter *L, const rx_parse_info *info) {
    const ana *a = &L->a;
    int32_t n = 0;
    while (a->node[n]->kind == RX_CONCAT || a->node[n]->kind == RX_GROUP) n = first_operand(n);
    if (info->anchored || !is_run(a, n) || a->node[n]->min != 0 || a->cx[n].after.always) return;
    /* the longest run r whose tries fit the budget of a text of r bytes:
     * r * r / 2 * steps per byte <= (8 + nodes) * r + 1,000,000 */
    const double per = static_cast<double>(RX_STEPS_PER_BYTE + info->nodes);
    double r = 1;
    while (r * r / 2 * RUN_STEPS_PER_BYTE <= per * r + RX_STEPS_BASE && r < 1e9) r *= 1.01;
    text t = {nullptr, 0, 0, 0};
    tx_node(&t, a, n);
    tx_puts(&t, " is tried again from every start position inside a run of the bytes it takes, and each try "
                "runs to the end of the run: a run of n such bytes costs about n * n / 2 tries of it, so a "
                "text with a run of more than about ");
    tx_int(&t, static_cast<int64_t>(r / 100) * 100);
    tx_puts(&t, " bytes that does not match uses up the step budget (\"backtracking limit reached\")");
    add_finding(L, "retried-run", EFFECT_NOTE, a->node[n]->span_start, a->node[n]->span_end, tx_take(&t));
}

static void check_tree(linter *L, const rx_parse_info *info) {
    ana *a = &L->a;
    L->skip = static_cast<uint8_t *>(rx_calloc(a->n, 1));
    if (L->skip == nullptr) {
        L->failed = 1;
        return;
    }
    if (!sm_feasible(&a->sum[0])) {
        /* every alternative at the top fails: one finding for each */
        int32_t ops[64];
        int m = a->node[0]->kind == RX_ALT ? alt_operands(a, 0, ops, 64) : 0;
        if (m == 0) ops[m++] = 0;
        for (int j = 0; j < m; j++) report_failure(L, ops[j], EFFECT_NEVER, ": the pattern can never match");
        check_retried(L, info);
        return;
    }
    for (uint32_t i = 0; i < a->n && !L->failed; i++) {
        const int32_t id = static_cast<int32_t>(i);
        const int32_t p = a->parent[id];
        if (p >= 0 && L->skip[p]) L->skip[id] = 1;
        if (L->skip[id]) continue;
        const rx_node *x = a->node[id];
        if (x->kind == RX_ALT && (p < 0 || a->node[p]->kind != RX_ALT || a->right[p] == id)) {
            check_alternation(L, id);
        } else if (x->kind == RX_REPEAT && x->max != 0) {
            if (!x->lazy && x->min == 0 &&
                (!sm_feasible(&a->sum[id + 1]) || !fits(&a->sum[id + 1], &a->cx[id + 1], 0))) {
                why w;
                explain_failure(a, id + 1, &w);
                text t = {nullptr, 0, 0, 0};
                tx_why(&t, a, &w);
                tx_puts(&t, ": this optional part is never used");
                /* a quantifier or group around it goes with it: it always matches empty too */
                int32_t top = id;
                while (a->parent[top] >= 0 && (a->node[a->parent[top]]->kind == RX_REPEAT ||
                                               a->node[a->parent[top]]->kind == RX_GROUP))
                    top = a->parent[top];
                add_finding(L, w.code, EFFECT_DEAD, a->node[top]->span_start, a->node[top]->span_end,
                            tx_take(&t));
                L->skip[id] = 1;
                continue;
            }
            if (x->lazy && (x->max < 0 || x->min < x->max)) check_lazy(L, id);
            if (!x->lazy && x->max > x->min && is_byte(a, id + 1)) check_bounded(L, id);
            if (!x->lazy && p >= 0 && check_always_empty(L, id)) L->skip[id] = 1;
        } else if (x->kind == RX_GROUP && p >= 0) {
            if (check_always_empty(L, id)) L->skip[id] = 1;
        }
    }
    check_retried(L, info);
}

/* ---- other dialects ---------------------------------------------------------------- */

typedef struct escape_meaning {
    char letter;
    const char *elsewhere;
} escape_meaning;

/* What an escape of a letter or digit stands for in other dialects. */
static const escape_meaning ESCAPES[] = {
    {'n', "a line feed"},
    {'t', "a tab"},
    {'r', "a carriage return"},
    {'f', "a form feed"},
    {'v', "a vertical tab"},
    {'a', "a bell"},
    {'e', "an escape"},
    {'0', "a NUL byte"},
    {'x', "a hexadecimal escape"},
    {'u', "a Unicode escape"},
    {'U', "a Unicode escape"},
    {'p', "a Unicode property"},
    {'P', "a Unicode property"},
    {'A', "the start of the text"},
    {'z', "the end of the text"},
    {'Z', "the end of the text"},
    {'Q', "the start of a quoted run"},
    {'E', "the end of a quoted run"},
    {'G', "the end of the last match"},
    {'K', "a reset of the match start"},
    {'h', "a horizontal space"},
    {'H', "a byte that is no horizontal space"},
    {'R', "a line break"},
    {'N', "a byte that is no line feed"},
    {'c', "a control character"},
    {'k', "a named back-reference"},
    {'g', "a back-reference"},
    {'o', "an octal escape"},
};

static void dialect_findings(linter *L, const char *pattern, const rx_parse_notes *notes) {
    for (uint32_t i = 0; i < notes->count && !L->failed; i++) {
        const rx_parse_fact *f = &notes->facts[i];
        text t = {nullptr, 0, 0, 0};
        char c[2] = {static_cast<char>(f->byte), 0};
        const char *code = "dialect-escape";
        if (f->kind == RX_FACT_ESCAPE) {
            const char *elsewhere = nullptr;
            for (const escape_meaning &e : ESCAPES)
                if (e.letter == static_cast<char>(f->byte)) elsewhere = e.elsewhere;
            if (f->byte >= '1' && f->byte <= '9') {
                tx_puts(&t, "\\"), tx_puts(&t, c), tx_puts(&t, " is the digit "), tx_puts(&t, c);
                tx_puts(&t, " here, not a back-reference (there are no back-references)");
            } else if (elsewhere != nullptr) {
                tx_puts(&t, "\\"), tx_puts(&t, c);
                tx_puts(&t, f->byte == '0' ? " is the digit '" : " is the letter '");
                tx_puts(&t, c), tx_puts(&t, "' here, not "), tx_puts(&t, elsewhere);
            } else {
                continue;
            }
        } else if (f->kind == RX_FACT_CLASS_BACKSLASH) {
            code = "dialect-class-escape";
            if (f->byte == 0) {
                tx_puts(&t, "\\] inside brackets is a backslash here, and that ']' ends the set");
            } else {
                tx_puts(&t, "\\"), tx_puts(&t, c),
                    tx_puts(&t, " inside brackets is a backslash and the byte '");
                tx_puts(&t, c), tx_puts(&t, "' here, not an escape");
            }
        } else if (f->kind == RX_FACT_CLASS_POSIX) {
            code = "dialect-posix-class";
            tx_put(&t, pattern + f->start, f->end - f->start);
            tx_puts(&t, " is no POSIX class here: its bytes join the set, and its ']' ends the set");
        } else if (f->kind == RX_FACT_GROUP_17) {
            code = "too-many-groups";
            tx_puts(&t, "group 17 and the groups after it match but are never reported: only groups 1 to 16 "
                        "are");
        } else {
            continue;
        }
        add_finding(L, code, EFFECT_DIALECT, f->start, f->end, tx_take(&t));
    }
}

/* The hint for a parse that stopped at another dialect's construct. */
static char *trap_hint(const char *pattern, const rx_parse_notes *n) {
    if (n->trap == RX_TRAP_NONE) return nullptr;
    text t = {nullptr, 0, 0, 0};
    tx_put(&t, pattern + n->trap_start, n->trap_end - n->trap_start);
    switch (n->trap) {
    case RX_TRAP_LATE_FLAGS:
        tx_puts(&t,
                " is a flag group after the start: flags count only in one group at the very start of the "
                "pattern, so here it is an error");
        break;
    case RX_TRAP_OTHER_FLAGS:
    case RX_TRAP_SCOPED_FLAGS:
        tx_puts(&t, " is not known here: the only flag group is one of i, m and s at the very start of the "
                    "pattern, such as (?i) or (?ms)");
        break;
    case RX_TRAP_NAMED_GROUP:
        tx_puts(&t, " is a named group elsewhere: here groups are (...), numbered from 1, and (?:...)");
        break;
    case RX_TRAP_LOOKAROUND: tx_puts(&t, " is a look-around elsewhere: there is no look-around here"); break;
    case RX_TRAP_ATOMIC:
        tx_puts(&t, " is an atomic group elsewhere: here every part keeps its first match anyway, so (?:...) "
                    "does the same");
        break;
    case RX_TRAP_COMMENT: tx_puts(&t, " is a comment elsewhere: there are no comments here"); break;
    default:
        tx_puts(&t,
                " after a quantifier makes it possessive elsewhere: here every repetition keeps what it took "
                "anyway, so leave the + out");
        break;
    }
    return tx_take(&t);
}

/* ---- the lint ------------------------------------------------------------------------- */

static int cmp_findings(const void *x, const void *y) {
    const rx_finding *p = static_cast<const rx_finding *>(x), *q = static_cast<const rx_finding *>(y);
    if (p->start != q->start) return p->start < q->start ? -1 : 1;
    if (p->end != q->end) return p->end < q->end ? -1 : 1;
    return p->message < q->message ? -1 : p->message > q->message;
}

/* Stable order by span: insertion sort (findings are few). */
static void sort_findings(rx_lint *o) {
    for (uint32_t i = 1; i < o->count; i++) {
        rx_finding f = o->findings[i];
        uint32_t j = i;
        while (j > 0 && (o->findings[j - 1].start > f.start ||
                         (o->findings[j - 1].start == f.start && o->findings[j - 1].end > f.end))) {
            o->findings[j] = o->findings[j - 1];
            j--;
        }
        o->findings[j] = f;
    }
    (void)cmp_findings;
}

void rx_analysis_lint_free(rx_lint *lint) {
    if (lint == nullptr) return;
    for (uint32_t i = 0; i < lint->count; i++) {
        free(lint->findings[i].message);
        for (int32_t k = 0; k < lint->findings[i].suggestion_count; k++) {
            free(lint->findings[i].suggestions[k].pattern);
            free(lint->findings[i].suggestions[k].meaning);
        }
    }
    free(lint->findings);
    free(lint->hint);
    memset(lint, 0, sizeof *lint);
}

int rx_analysis_lint(const char *pattern, rx_lint *out) {
    memset(out, 0, sizeof *out);
    linter L;
    memset(&L, 0, sizeof L);
    L.out = out;
    rx_parse_info info;
    rx_parse_notes notes;
    memset(&info, 0, sizeof info);
    memset(&notes, 0, sizeof notes);
    int invalid = 0;
    const int built = ana_build(&L.a, pattern, 1, &info, &notes, out->error, &invalid);
    if (built == RX_OUT_OF_MEMORY) {
        L.failed = 1;
    } else if (invalid) {
        out->invalid = 1;
        out->error_offset = info.error_offset;
        if (notes.trap != RX_TRAP_NONE) {
            out->hint = trap_hint(pattern, &notes);
            out->hint_start = notes.trap_start;
            if (out->hint == nullptr) L.failed = 1;
        }
    } else {
        out->error[0] = '\0';
        dialect_findings(&L, pattern, &notes);
        if (built == 0 && !L.failed) check_tree(&L, &info);
    }
    free(notes.facts);
    free(L.skip);
    ana_free(&L.a);
    if (L.failed) {
        rx_analysis_lint_free(out);
        return RX_OUT_OF_MEMORY;
    }
    sort_findings(out);
    return 0;
}

/* ---- the choice points of a pattern: same answers as a backtracking engine -----------
 * Under this engine's rule a part never takes back a choice; a backtracking
 * engine does when what follows fails. They agree when at every choice the
 * next byte decides it: alternatives that begin (or, matching empty, stand
 * before) pairwise different bytes, and greedy repetitions whose operand
 * begins with bytes that what follows them cannot begin with, or where
 * whatever follows always matches. */
static int commit_safe(const char *pattern) {
    ana a;
    rx_parse_info info;
    memset(&info, 0, sizeof info);
    char err[128];
    int invalid = 0;
    int safe = ana_build(&a, pattern, 0, &info, nullptr, err, &invalid) == 0 && !invalid;
    for (uint32_t i = 0; safe && i < a.n; i++) {
        const int32_t id = static_cast<int32_t>(i);
        const rx_node *x = a.node[id];
        const sm *k = &a.cx[id].after;
        if (k->always) continue;
        bset follow = k->cons ? k->first : NONE_SET;
        if (k->empty) follow = bs_or(&follow, &k->enext);
        if (x->kind == RX_REPEAT && (x->max < 0 || x->min < x->max)) {
            const sm *c = &a.sum[id + 1];
            safe = !x->lazy && !c->empty && !bs_meet(&c->first, &follow);
        } else if (x->kind == RX_ALT && (a.parent[id] < 0 || a.node[a.parent[id]]->kind != RX_ALT ||
                                         a.right[a.parent[id]] == id)) {
            int32_t ops[256];
            const int m = alt_operands(&a, id, ops, 256);
            bset seen = NONE_SET;
            if (m == 0) safe = 0;
            for (int j = 0; j < m && safe; j++) {
                const sm *o = &a.sum[ops[j]];
                bset d = o->cons ? o->first : NONE_SET;
                if (o->empty) d = bs_or(&d, &o->enext);
                safe = m > 0 && !bs_meet(&d, &seen);
                seen = bs_or(&seen, &d);
            }
        }
    }
    ana_free(&a);
    return safe;
}

/* ---- the explanation ------------------------------------------------------------------- */

typedef struct explainer {
    rx_explain *out;
    const char *pattern;
    uint32_t flags;
    int failed;
} explainer;

static int32_t add_explained(explainer *E, const char *kind, uint32_t start, uint32_t end, int32_t parent,
                             int32_t depth, char *description) {
    rx_explain *o = E->out;
    if (description == nullptr) {
        E->failed = 1;
        return -1;
    }
    if (o->count == o->room) {
        uint32_t room = o->room == 0 ? 16 : o->room * 2;
        rx_explain_node *grown = static_cast<rx_explain_node *>(rx_realloc(o->nodes, room * sizeof *grown));
        if (grown == nullptr) {
            free(description);
            E->failed = 1;
            return -1;
        }
        o->nodes = grown;
        o->room = room;
    }
    rx_explain_node *x = &o->nodes[o->count];
    x->kind = kind;
    x->start = start;
    x->end = end;
    x->description = description;
    x->parent = parent;
    x->depth = depth;
    return static_cast<int32_t>(o->count++);
}

static char *describe_repeat(const rx_node *x) {
    text t = {nullptr, 0, 0, 0};
    if (x->max >= 0 && x->min > x->max) {
        tx_puts(&t, "never matches: it asks for more repetitions than it allows");
    } else if (x->lazy) {
        tx_puts(&t, "lazy: exactly ");
        tx_int(&t, x->min);
        tx_puts(&t, x->min == 0 ? " times, so always the empty string" : " times (its minimum), never more");
    } else if (x->min == x->max) {
        tx_puts(&t, "exactly "), tx_int(&t, x->min), tx_puts(&t, " times");
    } else if (x->min == 0 && x->max == 1) {
        tx_puts(&t, "optional: taken when it matches, and then never given back");
    } else {
        tx_int(&t, x->min);
        if (x->max < 0)
            tx_puts(&t, " or more times");
        else
            tx_puts(&t, " to "), tx_int(&t, x->max), tx_puts(&t, " times");
        tx_puts(&t, ": as many as possible, and never gives one back");
    }
    return tx_take(&t);
}

static char *describe_leaf(const explainer *E, const rx_node *x) {
    const char *p = E->pattern + x->span_start;
    const char *s = nullptr;
    if (x->kind == RX_ANY) {
        s = (x->flags & RX_FLAG_S) ? "any byte" : "any byte but a line feed";
    } else if (x->kind == RX_CLASS && p[0] == '\\') {
        switch (p[1]) {
        case 'd': s = "a digit (0 to 9)"; break;
        case 'D': s = "a byte that is no digit"; break;
        case 's':
            s = "a white-space byte (space, tab, line feed, vertical tab, form feed, carriage return)";
            break;
        case 'S': s = "a byte that is no white space"; break;
        case 'w': s = "a word byte (a letter, a digit or _)"; break;
        default: s = "a byte that is no word byte"; break;
        }
    } else if (x->kind == RX_CLASS) {
        s = x->negate ? "one byte that is none of the set (no escapes inside brackets)"
                      : "one byte of the set (no escapes inside brackets)";
    } else if (x->kind == RX_ANCHOR && x->anchor == 1) {
        s = (x->flags & RX_FLAG_M) ? "the start of the text or of a line" : "the start of the text";
    } else if (x->kind == RX_ANCHOR) {
        s = (x->flags & RX_FLAG_M) ? "the end of the text or of a line (before a line feed)"
                                   : "the end of the text (not before a final line feed)";
    } else if (x->kind == RX_WORDB) {
        s = x->not_boundary
                ? "not at a word boundary: word bytes on both sides or on neither"
                : "a word boundary: a word byte on one side and another byte (or the edge) on the other";
    }
    text t = {nullptr, 0, 0, 0};
    if (s != nullptr) tx_puts(&t, s);
    if (x->kind == RX_CLASS && (x->flags & RX_FLAG_I)) tx_puts(&t, ", letters in either case");
    return tx_take(&t);
}

static const char *leaf_kind(const rx_node *x) {
    switch (x->kind) {
    case RX_ANY: return "any";
    case RX_CLASS: return "class";
    case RX_ANCHOR: return "anchor";
    case RX_WORDB: return "boundary";
    default: return "literal";
    }
}

/* A frame of the walk: a node, or a run of count literal bytes from it. */
typedef struct xframe {
    const rx_node *node;
    const rx_node *last; /* the last byte of a literal run */
    uint32_t count;
    int32_t parent, depth;
} xframe;

typedef struct xstack {
    xframe *f;
    size_t n, cap;
} xstack;

static int xpush(xstack *s, xframe f) {
    if (s->n == s->cap) {
        size_t cap = s->cap == 0 ? 64 : s->cap * 2;
        xframe *g = static_cast<xframe *>(rx_realloc(s->f, cap * sizeof *g));
        if (g == nullptr) return -1;
        s->f = g;
        s->cap = cap;
    }
    s->f[s->n++] = f;
    return 0;
}

/* Pushes the operands of a chain of kind (sequence or alternation) in
 * reverse, so that they come off in order; runs of literal bytes of a
 * sequence become one frame. */
static int push_chain(xstack *s, xstack *tmp, const rx_node *top, int32_t parent, int32_t depth) {
    tmp->n = 0;
    const rx_node *n = top;
    while (n->kind == top->kind) {
        if (xpush(tmp, xframe{n->right, n->right, 1, parent, depth}) != 0) return -1;
        n = n->left;
    }
    if (xpush(tmp, xframe{n, n, 1, parent, depth}) != 0) return -1;
    /* tmp holds the operands last first: push them in that order */
    for (size_t i = 0; i < tmp->n; i++) {
        xframe f = tmp->f[i];
        if (top->kind == RX_CONCAT && f.node->kind == RX_CHAR && s->n > 0 &&
            s->f[s->n - 1].node->kind == RX_CHAR && s->f[s->n - 1].parent == parent &&
            s->f[s->n - 1].depth == depth && s->f[s->n - 1].count > 0 && i > 0 &&
            s->f[s->n - 1].node->span_start == f.node->span_end) {
            s->f[s->n - 1].node = f.node; /* extend the run leftwards */
            s->f[s->n - 1].count++;
            continue;
        }
        if (xpush(s, f) != 0) return -1;
    }
    return 0;
}

static void explain_tree(explainer *E, const rx_node *root, uint32_t body, uint32_t len) {
    text t = {nullptr, 0, 0, 0};
    tx_puts(&t,
            "the pattern: tried at each start position from the left; the first position where it matches "
            "wins, and every part keeps the first match it finds");
    int32_t top = add_explained(E, "pattern", 0, len, -1, 0, tx_take(&t));
    if (top < 0) return;
    if (body > 0) {
        text f = {nullptr, 0, 0, 0};
        tx_puts(&f, "flags for the whole pattern:");
        if (E->flags & RX_FLAG_I) tx_puts(&f, " i (ASCII letters in either case)");
        if (E->flags & RX_FLAG_M) tx_puts(&f, " m (^ and $ also at line feeds)");
        if (E->flags & RX_FLAG_S) tx_puts(&f, " s (. also takes a line feed)");
        add_explained(E, "flags", 0, body, top, 1, tx_take(&f));
    }
    xstack s = {nullptr, 0, 0}, tmp = {nullptr, 0, 0};
    if (xpush(&s, xframe{root, root, 1, top, 1}) != 0) E->failed = 1;
    while (s.n > 0 && !E->failed) {
        xframe f = s.f[--s.n];
        const rx_node *x = f.node;
        if (f.depth > RX_EXPLAIN_DEPTH_MAX) {
            add_explained(E, "more", x->span_start, x->span_end, f.parent, f.depth,
                          dup_text("deeper parts, not shown"));
            continue;
        }
        int32_t me = -1;
        if (x->kind == RX_CHAR && f.count >= 1 &&
            !(x->kind == RX_CHAR && x->ch == 0 && x->span_start == x->span_end)) {
            uint32_t end = f.count > 1 ? f.last->span_end : x->span_end;
            text d = {nullptr, 0, 0, 0};
            tx_puts(&d, f.count > 1 ? "the bytes " : "the byte ");
            tx_snippet(&d, E->pattern, x->span_start, end);
            if (x->flags & RX_FLAG_I) tx_puts(&d, ", letters in either case");
            add_explained(E, "literal", x->span_start, end, f.parent, f.depth, tx_take(&d));
        } else if (x->kind == RX_CONCAT || x->kind == RX_ALT) {
            text d = {nullptr, 0, 0, 0};
            tx_puts(&d,
                    x->kind == RX_CONCAT
                        ? "each part in turn, from where the one before ended; a part that matched is never "
                          "asked for another end"
                        : "the first alternative that matches here, tried in order; once one matches, the "
                          "ones after it are never tried");
            me = add_explained(E, x->kind == RX_CONCAT ? "sequence" : "alternation", x->span_start,
                               x->span_end, f.parent, f.depth, tx_take(&d));
            if (me >= 0 && push_chain(&s, &tmp, x, me, f.depth + 1) != 0) E->failed = 1;
        } else if (x->kind == RX_REPEAT && x->min == 0 && x->max == 0 &&
                   x->child->span_start == x->child->span_end) {
            add_explained(E, "empty", x->span_start, x->span_end, f.parent, f.depth,
                          dup_text("the empty string: matches at every position"));
        } else if (x->kind == RX_REPEAT || x->kind == RX_GROUP) {
            text d = {nullptr, 0, 0, 0};
            if (x->kind == RX_GROUP) {
                tx_puts(&d, "group "), tx_int(&d, x->group), tx_puts(&d, ": reports what its inside matched");
                me = add_explained(E, "group", x->span_start, x->span_end, f.parent, f.depth, tx_take(&d));
            } else {
                me = add_explained(E, "repeat", x->span_start, x->span_end, f.parent, f.depth,
                                   describe_repeat(x));
            }
            if (me >= 0 && xpush(&s, xframe{x->child, x->child, 1, me, f.depth + 1}) != 0) E->failed = 1;
        } else {
            add_explained(E, leaf_kind(x), x->span_start, x->span_end, f.parent, f.depth,
                          describe_leaf(E, x));
        }
    }
    free(s.f);
    free(tmp.f);
}

void rx_analysis_explain_free(rx_explain *explain) {
    if (explain == nullptr) return;
    for (uint32_t i = 0; i < explain->count; i++) free(explain->nodes[i].description);
    free(explain->nodes);
    memset(explain, 0, sizeof *explain);
}

int rx_analysis_explain(const char *pattern, rx_explain *out) {
    memset(out, 0, sizeof *out);
    rx_parse_info info;
    memset(&info, 0, sizeof info);
    rx_node *root = rx_parse_tree(pattern, out->error, sizeof out->error, &info);
    if (root == nullptr) {
        if (info.out_of_memory) return RX_OUT_OF_MEMORY;
        out->invalid = 1;
        out->error_offset = info.error_offset;
        return 0;
    }
    explainer E = {out, pattern, 0, 0};
    const uint32_t body = static_cast<uint32_t>(rx_parse_leading_flags(pattern, &E.flags));
    explain_tree(&E, root, body, static_cast<uint32_t>(strlen(pattern)));
    node_free(root);
    if (E.failed) {
        rx_analysis_explain_free(out);
        return RX_OUT_OF_MEMORY;
    }
    return 0;
}

/* ---- JSON ------------------------------------------------------------------------------- */

static void js_str(text *t, const char *s, uint64_t n) {
    if (!t->failed && json_append_quoted(&t->data, &t->len, &t->cap, s, n) != 0) t->failed = 1;
}

static void js_error(text *t, const char *message, uint64_t offset, const char *hint) {
    tx_puts(t, "{\"error\":{\"message\":");
    js_str(t, message, strlen(message));
    tx_puts(t, ",\"offset\":");
    tx_int(t, static_cast<int64_t>(offset));
    if (hint != nullptr) tx_puts(t, ",\"hint\":"), js_str(t, hint, strlen(hint));
    tx_puts(t, "}}");
}

char *rx_analysis_lint_json(const char *pattern) {
    if (pattern == nullptr) return nullptr;
    rx_lint l;
    if (rx_analysis_lint(pattern, &l) != 0) return nullptr;
    text t = {nullptr, 0, 0, 0};
    if (l.invalid) {
        js_error(&t, l.error, l.error_offset, l.hint);
    } else {
        tx_puts(&t, "{\"findings\":[");
        for (uint32_t i = 0; i < l.count; i++) {
            const rx_finding *f = &l.findings[i];
            tx_puts(&t, i > 0 ? ",{\"code\":" : "{\"code\":");
            js_str(&t, f->code, strlen(f->code));
            tx_puts(&t, ",\"effect\":");
            js_str(&t, f->effect, strlen(f->effect));
            tx_puts(&t, ",\"start\":"), tx_int(&t, f->start);
            tx_puts(&t, ",\"end\":"), tx_int(&t, f->end);
            tx_puts(&t, ",\"message\":");
            js_str(&t, f->message, strlen(f->message));
            for (int32_t k = 0; k < f->suggestion_count; k++) {
                tx_puts(&t, k == 0 ? ",\"suggestions\":[{\"pattern\":" : ",{\"pattern\":");
                js_str(&t, f->suggestions[k].pattern, strlen(f->suggestions[k].pattern));
                tx_puts(&t, ",\"meaning\":");
                js_str(&t, f->suggestions[k].meaning, strlen(f->suggestions[k].meaning));
                tx_puts(&t, "}");
            }
            if (f->suggestion_count > 0) tx_puts(&t, "]");
            tx_puts(&t, "}");
        }
        tx_puts(&t, "]}");
    }
    rx_analysis_lint_free(&l);
    return tx_take(&t);
}

/* The text of a span for the explanation, cut to EXPLAIN_TEXT_MAX bytes
 * (not inside a UTF-8 sequence) with "..." after it when longer. */
static void js_span_text(text *t, const char *pattern, uint32_t start, uint32_t end) {
    uint32_t stop = end;
    if (stop - start > EXPLAIN_TEXT_MAX) {
        stop = start + EXPLAIN_TEXT_MAX;
        while (stop > start && (static_cast<uint8_t>(pattern[stop]) & 0xC0) == 0x80) stop--;
    }
    if (stop == end) {
        js_str(t, pattern + start, end - start);
        return;
    }
    tx_puts(t, "\"");
    if (!t->failed && json_append_escaped(&t->data, &t->len, &t->cap, pattern + start, stop - start) != 0)
        t->failed = 1;
    tx_puts(t, "...\"");
}

char *rx_analysis_explain_json(const char *pattern) {
    if (pattern == nullptr) return nullptr;
    rx_explain x;
    if (rx_analysis_explain(pattern, &x) != 0) return nullptr;
    text t = {nullptr, 0, 0, 0};
    if (x.invalid) {
        js_error(&t, x.error, x.error_offset, nullptr);
    } else {
        tx_puts(&t, "{\"tree\":");
        int32_t prev = -1;
        for (uint32_t i = 0; i < x.count; i++) {
            const rx_explain_node *e = &x.nodes[i];
            if (i > 0 && e->depth <= prev) {
                for (int32_t d = prev; d >= e->depth; d--) tx_puts(&t, "]}");
                tx_puts(&t, ",");
            }
            tx_puts(&t, "{\"kind\":");
            js_str(&t, e->kind, strlen(e->kind));
            tx_puts(&t, ",\"start\":"), tx_int(&t, e->start);
            tx_puts(&t, ",\"end\":"), tx_int(&t, e->end);
            tx_puts(&t, ",\"text\":");
            js_span_text(&t, pattern, e->start, e->end);
            tx_puts(&t, ",\"description\":");
            js_str(&t, e->description, strlen(e->description));
            tx_puts(&t, ",\"children\":[");
            prev = e->depth;
        }
        for (int32_t d = prev; d >= 0; d--) tx_puts(&t, "]}");
        tx_puts(&t, "}");
    }
    rx_analysis_explain_free(&x);
    return tx_take(&t);
}
