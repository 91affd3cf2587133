/*
 * The engine's matcher: does a compiled tree match a byte text at a given
 * offset, and where does the match end?
 *
 * The matching rules are those of a recursive backtracking matcher in which
 * every node commits to the first end it reaches. They run here on an
 * explicit machine: rx_match_node walks the tree with a work stack of frames
 * kept on the heap (one block per thread, grown on demand and reused), so
 * the machine stack stays small and bounded for any pattern and text. Steps
 * are charged as the rules charge them; several shortcuts (leaf operands
 * evaluated in place, chains of sequences and alternations matched as one
 * node with their steps charged in one sum, literal chains compared with
 * memcmp, repetitions of a single leaf run in a loop, calls in tail
 * position) change how fast the answer comes, never the answer, the
 * captures or the steps charged.
 *
 * The work stack and the capture undo log are heap blocks reached through
 * thread-local pointers and released when the thread ends.
 */
#include <stdlib.h>
#include <string.h>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"
#include "rx_platform.h"

/* One entry of the capture undo log: a group's recording before it was
 * overwritten, so that taking the recording back restores it whole. */
typedef struct cap_undo {
    uint64_t start;
    uint64_t end;
    int32_t group;
    uint8_t set;
} cap_undo;

/* What a frame of the work stack waits for. */
enum {
    F_SEQ,         /* item k of a sequence */
    F_ALTS,        /* alternative k of an alternation */
    F_GROUP,       /* a capturing group's inside */
    F_QUANT_CHILD, /* iteration k of a repetition: the operand */
    F_QUANT_NEXT   /* iteration k done: the repetition from iteration k + 1 */
};

/* A pending node of the machine: what the recursive rules keep in a call's
 * frame. For a repetition, one frame per iteration below its minimum and
 * one for the iteration under way (see quant_enter). */
typedef struct mframe {
    const rx_node *node;
    uint64_t pos; /* where the node (or the iteration) started */
    int32_t mark; /* undo log length when it started */
    int32_t k;    /* repetition: iterations matched before this one;
                        sequence, alternation: the operand under way */
    int32_t tag;  /* F_* */
} mframe;

/* The thread's matcher blocks, kept and reused from one search to the next:
 * plain pointers and counts (no thread-local arrays). */
static RX_THREAD_LOCAL cap_undo *g_caplog;   /* undo log (heap) */
static RX_THREAD_LOCAL int32_t g_caplog_n;   /* entries in use */
static RX_THREAD_LOCAL int32_t g_caplog_cap; /* entries allocated */
static RX_THREAD_LOCAL mframe *g_work;       /* work stack (heap) */
static RX_THREAD_LOCAL size_t g_work_cap;    /* frames allocated */

/* Blocks bigger than these are released after the search that grew them, so
 * one huge pattern does not pin memory for the thread's whole life. */
#define RX_WORK_KEEP (static_cast<size_t>(1) << 16)
#define RX_CAPLOG_KEEP (1 << 16)

static void release_work(void) {
    free(g_work);
    g_work = nullptr;
    g_work_cap = 0;
}

static void release_caplog(void) {
    free(g_caplog);
    g_caplog = nullptr;
    g_caplog_cap = 0;
    g_caplog_n = 0;
}

static void engine_thread_cleanup(void) {
    release_work();
    release_caplog();
}

/* Takes back the recordings made since the log held mark entries, newest
 * first, giving each group its earlier start, end and set-flag. */
static inline void caps_undo_to(mstate *ms, int32_t mark) {
    if (ms->caps == nullptr) return;
    if (mark < 0) mark = 0;
    while (ms->logn > mark) {
        const cap_undo *u = &ms->log[--ms->logn];
        ms->caps->start[u->group] = u->start;
        ms->caps->end[u->group] = u->end;
        ms->caps->set[u->group] = u->set;
    }
}

static int grow_log(mstate *ms) {
    if (ms->logcap > 0x3fffffff) return -1;
    int32_t cap = ms->logcap > 0 ? ms->logcap * 2 : 64;
    cap_undo *grown = static_cast<cap_undo *>(rx_realloc(ms->log, static_cast<size_t>(cap) * sizeof *grown));
    if (grown == nullptr) return -1;
    ms->log = grown;
    ms->logcap = cap;
    g_caplog = grown;
    g_caplog_cap = cap;
    rx_thread_cleanup_arm(engine_thread_cleanup);
    return 0;
}

/* Records group g as the span [p, e), logging what it held before. -1 when
 * the log cannot grow. */
static int record_group(mstate *ms, int32_t g, uint64_t p, uint64_t e) {
    if (ms->caps == nullptr || g < 1 || g > RX_MAX_GROUPS) return 0;
    if (ms->logn == ms->logcap && grow_log(ms) != 0) return -1;
    cap_undo *u = &ms->log[ms->logn++];
    u->group = g;
    u->start = ms->caps->start[g];
    u->end = ms->caps->end[g];
    u->set = ms->caps->set[g];
    ms->caps->start[g] = p;
    ms->caps->end[g] = e;
    ms->caps->set[g] = 1;
    return 0;
}

static mframe *grow_work(mstate *ms) {
    size_t cap = ms->workcap > 0 ? ms->workcap * 2 : 256;
    if (cap > SIZE_MAX / sizeof(mframe)) return nullptr;
    mframe *grown = static_cast<mframe *>(rx_realloc(ms->work, cap * sizeof *grown));
    if (grown == nullptr) return nullptr;
    ms->work = grown;
    ms->workcap = cap;
    g_work = grown;
    g_work_cap = cap;
    rx_thread_cleanup_arm(engine_thread_cleanup);
    return grown;
}

static inline int is_leaf(const rx_node *node) {
    return node->kind != RX_CONCAT && node->kind != RX_ALT && node->kind != RX_REPEAT &&
           node->kind != RX_GROUP;
}

/*
 * A literal chain of m bytes at p, charged what the sequence rules charge:
 * each of its m - 1 sequence nodes spends a step before its first operand,
 * and one more before its second once the first matched. So a match costs
 * 2(m - 1) steps, and a mismatch at the j-th byte (counted from 1)
 * (m - 1) + (j - 1). Where fewer steps are left than that, the rules would
 * have refused one on the way: the chain fails with the flag set.
 */
static int literal_match(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                         uint64_t *e) {
    const int32_t m = node->lit_len;
    const int fold = (node->right->flags & RX_FLAG_I) != 0;
    uint64_t room = n - p;
    int32_t avail = room < static_cast<uint64_t>(m) ? static_cast<int32_t>(room) : m;
    int32_t matched = 0; /* bytes that agree before the first that does not */
    same_bytes(t + p, node->lit, avail, fold, &matched);
    const int ok = matched == m;
    if (charge_steps(ms, ok ? 2 * static_cast<int64_t>(m - 1) : static_cast<int64_t>(m - 1) + matched) != 0)
        return 0;
    if (ok) *e = p + static_cast<uint64_t>(m);
    return ok;
}

/* Length of the run of bytes from p on, at most most of them, that a
 * byte-consuming leaf accepts one after another. */
static int64_t leaf_run(const rx_node *leaf, const uint8_t *t, uint64_t n, uint64_t p, int64_t most) {
    const uint8_t *s = t + p;
    int64_t run = 0;
    switch (leaf->kind) {
    case RX_CHAR:
        if (!(leaf->flags & RX_FLAG_I) || !((leaf->ch | 32) >= 'a' && (leaf->ch | 32) <= 'z')) {
            while (run < most && s[run] == leaf->ch) run++;
        } else {
            const uint8_t c = static_cast<uint8_t>(leaf->ch | 32);
            while (run < most && (s[run] | 32) == c) run++;
        }
        return run;
    case RX_ANY:
        if (leaf->flags & RX_FLAG_S) return most;
        {
            const void *nl = memchr(s, '\n', static_cast<size_t>(most));
            return nl != nullptr ? static_cast<const uint8_t *>(nl) - s : most;
        }
    case RX_CLASS:
        if (!(leaf->flags & RX_FLAG_I)) {
            const int outside = leaf->negate != 0; /* what in_bits says of a byte it takes */
            while (run < most && in_bits(leaf->bits, s[run]) != outside) run++;
            return run;
        }
        [[fallthrough]]; /* folded classes byte by byte */
    default: {
        uint64_t next;
        while (run < most && leaf_match(leaf, t, n, p + static_cast<uint64_t>(run), &next)) run++;
        return run;
    }
    }
}

/*
 * A whole repetition of a single leaf at p (the rules of match_quant unrolled:
 * a leaf records nothing and needs no frame). Each iteration k spends one step
 * on entering the repetition and, unless the repetition ends there, one more
 * before trying the leaf. When the chain ends in a failure, the deepest
 * iteration at or above the minimum turns it into a match ending where that
 * iteration began; below the minimum the failure stands. Below the minimum an
 * iteration that consumes nothing (an anchor or boundary) completes the
 * repetition there, unless the minimum exceeds the maximum.
 */
static int quant_leaf(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                      uint64_t *out) {
    const rx_node *leaf = node->child;
    const int32_t min = node->min, max = node->max;
    int32_t k = 0;
    uint64_t prev = p, e = p;
    int r;
    /*
     * Iterations that nothing can interrupt are taken in one go: while the
     * leaf keeps matching a byte, at least two steps are left per iteration
     * and the bounds allow another, each iteration just spends its two steps.
     */
    if (!ms->hit && (leaf->kind == RX_CHAR || leaf->kind == RX_ANY || leaf->kind == RX_CLASS)) {
        int64_t most = ms->steps / 2;
        if (max >= 0 && max < most) most = max;
        if (node->lazy && min < most) most = min;
        if (static_cast<int64_t>(n - p) < most) most = static_cast<int64_t>(n - p);
        int64_t run = most > 0 ? leaf_run(leaf, t, n, p, most) : 0;
        if (run > 0) {
            ms->steps -= static_cast<int32_t>(2 * run);
            k = static_cast<int32_t>(run);
            prev = p + static_cast<uint64_t>(run) - 1;
            p += static_cast<uint64_t>(run);
        }
    }
    for (;;) {
        if (rx_spend_step(ms) != 0) {
            r = 0;
            break;
        }
        if (max >= 0 && k > max) {
            r = 0;
            break;
        }
        uint64_t next;
        if (k >= min) {
            if (node->lazy || (max >= 0 && k >= max)) {
                r = 1;
                e = p;
                break;
            }
            if (rx_spend_step(ms) != 0 || !leaf_match(leaf, t, n, p, &next) || next == p) {
                r = 1;
                e = p;
                break;
            }
        } else {
            if ((max >= 0 && k >= max) || rx_spend_step(ms) != 0 || !leaf_match(leaf, t, n, p, &next)) {
                r = 0;
                break;
            }
            if (next == p) {
                r = !(max >= 0 && min > max);
                e = p;
                break;
            }
        }
        prev = p;
        p = next;
        k++;
    }
    if (!r && k > 0 && k - 1 >= min) {
        r = 1;
        e = prev;
    }
    if (r) *out = e;
    return r;
}

/* Leaves, literal chains and repetitions of a single leaf match without
 * frames or captures. */
static inline int is_simple(const rx_node *node) {
    return is_leaf(node) || (node->kind == RX_REPEAT && is_leaf(node->child)) ||
           (node->kind == RX_CONCAT && node->lit != nullptr);
}

static inline int simple_match(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                               uint64_t *e) {
    if (node->kind == RX_REPEAT) return quant_leaf(ms, node, t, n, p, e);
    if (node->kind == RX_CONCAT) return literal_match(ms, node, t, n, p, e);
    return leaf_match(node, t, n, p, e);
}

/*
 * Matches node at p: 1 with the end in *out, 0 when it does not match, -1
 * when the work stack or the undo log could not grow (the search is then
 * abandoned). This is the recursive matcher run on an explicit stack:
 *
 *   sequence     mark; step, first operand; step, second operand from its
 *                end; on any failure take back to mark and fail (a chain
 *                of sequences is one node with its operands in a list: the
 *                steps down the chain are charged at once, then a step
 *                before each operand after the first);
 *   alternation  mark; step, first operand; else take back, step, second
 *                (a chain likewise, or straight to the alternative its
 *                byte table names);
 *   group        mark; step, inside; on success record the group;
 *   repetition   match_quant below.
 *
 * A refused step counts as a failure of the node that needed it. Frames are
 * skipped where the recursive call would be the node's last act (a last
 * operand with nothing to take back, an alternation's last alternative, a
 * group when no record is active).
 */
int rx_match_node(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *out) {
    mframe *stack = ms->work;
    size_t cap = ms->workcap, sp = 0;
    int ok = 0;
    uint64_t e = p;
    int32_t k = 0;    /* repetition: iterations matched */
    int32_t i = 0;    /* sequence, alternation: the operand under way */
    int32_t mark = 0; /* sequence, alternation: undo log length at entry */

#define RX_PUSH(NODE, POS, MARK, K, TAG)        \
  do {                                          \
    if (sp == cap) {                            \
      stack = grow_work(ms);                    \
      if (stack == nullptr) goto out_of_memory; \
      cap = ms->workcap;                        \
    }                                           \
    stack[sp].node = (NODE);                    \
    stack[sp].pos = (POS);                      \
    stack[sp].mark = (MARK);                    \
    stack[sp].k = (K);                          \
    stack[sp].tag = (TAG);                      \
    sp++;                                       \
  } while (0)

descend:
    switch (node->kind) {
    case RX_CONCAT:
        if (node->lit != nullptr) {
            ok = literal_match(ms, node, t, n, p, &e);
            goto ret;
        }
        if (charge_steps(ms, node->flat_len - 1) != 0) {
            ok = 0;
            goto ret;
        }
        i = 0;
        mark = ms->logn;
        goto seq_item;
    case RX_ALT:
        if (node->litset != nullptr) {
            ok = rx_literals_match(ms, node, t, n, p, &e);
            goto ret;
        }
        if (charge_steps(ms, node->flat_len - 1) != 0) {
            ok = 0;
            goto ret;
        }
        if (node->pick != nullptr) {
            /* the alternatives before the first whose first byte takes the
             * byte fail there: charge what they cost and go to it */
            i = p < n ? node->pick[t[p]] : -1;
            if (charge_steps(ms, node->pick_cost[i >= 0 ? i : node->flat_len]) != 0 || i < 0) {
                ok = 0;
                goto ret;
            }
            if (is_byte_leaf(node->flat[i])) {
                ok = 1;
                e = p + 1;
                goto ret;
            }
            if (literal_match(ms, node->flat[i], t, n, p, &e)) {
                ok = 1;
                goto ret;
            }
            if (ms->hit || ++i == node->flat_len) {
                ok = 0;
                goto ret;
            }
            mark = ms->logn;
            goto alt_item;
        }
        i = 0;
        mark = ms->logn;
        goto alt_item;
    case RX_GROUP: {
        if (rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        if (ms->caps == nullptr || node->group < 1 || node->group > RX_MAX_GROUPS) {
            node = node->child;
            goto descend;
        }
        RX_PUSH(node, p, ms->logn, 0, F_GROUP);
        node = node->child;
        goto descend;
    }
    case RX_REPEAT:
        if (is_leaf(node->child)) {
            ok = quant_leaf(ms, node, t, n, p, &e);
            goto ret;
        }
        k = 0;
        goto quant_enter;
    default: ok = leaf_match(node, t, n, p, &e); goto ret;
    }

    /*
     * Sequence (node) from item i on, at p, recordings since mark: a step
     * before each item after the first; simple items in place, others in a
     * frame (none for the last when nothing needs taking back).
     */
seq_item:
    for (;;) {
        const rx_node *item = node->flat[i];
        if (i > 0 && rx_spend_step(ms) != 0) {
            caps_undo_to(ms, mark);
            ok = 0;
            goto ret;
        }
        if (!is_simple(item)) break;
        uint64_t m;
        if (!simple_match(ms, item, t, n, p, &m)) {
            caps_undo_to(ms, mark);
            ok = 0;
            goto ret;
        }
        p = m;
        if (++i == node->flat_len) {
            ok = 1;
            e = p;
            goto ret;
        }
    }
    if (i + 1 < node->flat_len || (ms->caps != nullptr && ms->logn != mark)) RX_PUSH(node, p, mark, i, F_SEQ);
    node = node->flat[i];
    goto descend;

    /*
     * Alternation (node) from alternative i on, at p: a step before each
     * alternative after the first; the first that matches answers.
     */
alt_item:
    for (;;) {
        const rx_node *alt = node->flat[i];
        if (i > 0 && rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        if (!is_simple(alt)) break;
        uint64_t m;
        if (simple_match(ms, alt, t, n, p, &m)) {
            ok = 1;
            e = m;
            goto ret;
        }
        if (++i == node->flat_len) {
            ok = 0;
            goto ret;
        }
    }
    if (i + 1 < node->flat_len) RX_PUSH(node, p, mark, i, F_ALTS);
    node = node->flat[i];
    goto descend;

    /*
     * match_quant(node, p, k): k iterations are matched already.
     *   step on entry; fail above the maximum;
     *   at or above the minimum: lazy or at the maximum ends here; otherwise
     *     step, try an iteration; an iteration that fails or consumes nothing
     *     ends the repetition here (its recordings taken back); else continue
     *     with iteration k + 1, and if that fails end here;
     *   below the minimum: at the maximum fail; otherwise step, try an
     *     iteration; failure fails; an iteration that consumes nothing
     *     completes the repetition here, keeping its recordings (unless the
     *     minimum exceeds the maximum); else continue with k + 1.
     *
     * Iteration k + 1 at or above the minimum can fail only when its entry
     * step is refused, and after a refusal the search fails whatever the
     * repetition answers. So from the minimum on an iteration that matched
     * keeps no frame: the next one runs in its place, and a repetition over
     * a whole text holds one frame, not one per iteration.
     */
quant_enter : {
    int32_t at_entry = ms->logn;
    if (rx_spend_step(ms) != 0) {
        ok = 0;
        goto ret;
    }
    if (node->max >= 0 && k > node->max) {
        ok = 0;
        goto ret;
    }
    if (k >= node->min) {
        if (node->lazy || (node->max >= 0 && k >= node->max)) {
            ok = 1;
            e = p;
            goto ret;
        }
    } else if (node->max >= 0 && k >= node->max) {
        ok = 0;
        goto ret;
    }
    if (rx_spend_step(ms) != 0) {
        ok = k >= node->min;
        e = p;
        goto ret;
    }
    RX_PUSH(node, p, at_entry, k, F_QUANT_CHILD);
    node = node->child;
    goto descend;
}

ret:
    while (sp > 0) {
        mframe *f = &stack[sp - 1];
        switch (f->tag) {
        case F_SEQ:
            if (!ok) {
                caps_undo_to(ms, f->mark);
                sp--;
                continue;
            }
            node = f->node;
            i = f->k + 1;
            mark = f->mark;
            p = e;
            sp--;
            if (i == node->flat_len) continue;
            goto seq_item;
        case F_ALTS:
            sp--;
            if (ok) continue;
            caps_undo_to(ms, f->mark);
            node = f->node;
            i = f->k + 1;
            mark = f->mark;
            p = f->pos;
            goto alt_item;
        case F_GROUP:
            if (ok) {
                if (record_group(ms, f->node->group, f->pos, e) != 0) goto out_of_memory;
            } else {
                caps_undo_to(ms, f->mark);
            }
            sp--;
            continue;
        case F_QUANT_CHILD: {
            const rx_node *q = f->node;
            uint64_t at = f->pos;
            if (f->k >= q->min) {
                if (!ok || e == at) {
                    caps_undo_to(ms, f->mark);
                    ok = 1;
                    e = at;
                    sp--;
                    continue;
                }
                sp--; /* from the minimum on: the next iteration in its place */
            } else {
                if (!ok) {
                    caps_undo_to(ms, f->mark);
                    sp--;
                    continue;
                }
                if (e == at) {
                    if (q->max >= 0 && q->min > q->max) {
                        caps_undo_to(ms, f->mark);
                        ok = 0;
                    }
                    sp--;
                    continue;
                }
                f->tag = F_QUANT_NEXT;
            }
            node = q;
            p = e;
            k = f->k + 1;
            goto quant_enter;
        }
        default: /* F_QUANT_NEXT */
            if (!ok) {
                caps_undo_to(ms, f->mark);
                if (f->k >= f->node->min) {
                    ok = 1;
                    e = f->pos;
                }
            }
            sp--;
            continue;
        }
    }
#undef RX_PUSH
    if (ok) *out = e;
    return ok;

out_of_memory:
    ms->oom = 1;
    return -1;
}

void rx_match_begin(mstate *ms) {
    ms->oom = 0;
    ms->caps_clean = 0;
    ms->log = g_caplog;
    ms->logn = g_caplog_n;
    ms->logcap = g_caplog_cap;
    ms->work = g_work;
    ms->workcap = g_work_cap;
}

void rx_match_end(const mstate *ms) {
    g_caplog_n = ms->logn;
    if (g_work_cap > RX_WORK_KEEP) release_work();
    if (g_caplog_cap > RX_CAPLOG_KEEP) release_caplog();
}
