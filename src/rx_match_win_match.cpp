/*
 * The engine's matcher: does a compiled tree match a byte text at a given
 * offset, and where does the match end?
 *
 * The matching rules are those of a recursive backtracking matcher in which
 * every node commits to the first end it reaches. They run here on a machine
 * with a work stack of frames kept on the heap (one block per thread, grown
 * on demand and reused), so the machine stack stays small and bounded for
 * any pattern and text. One loop drives it: a node is entered by the function
 * of its kind, and a finished node's outcome is handed to the frame below it,
 * which the function of that frame's kind resumes.
 *
 * Steps are charged as the rules charge them, or less for work that is not
 * done. Shortcuts that change how fast the answer comes, never the answer or
 * the captures: leaf operands evaluated in place, chains of sequences and
 * alternations matched as one node with their steps charged in one sum,
 * literal chains compared with memcmp, repetitions of a single leaf counted
 * in one run, calls in tail position, and the memo below.
 *
 * The memo. Under first-end commit every part of the pattern is a function
 * of the position where it starts: a part entered again at a position where
 * it ran before ends where it ended then, or fails as it failed. So the
 * matcher notes the outcome of the parts that can be entered at one
 * position from several starts (the rest of a sequence after an item of
 * varying width, the operand of a repetition, a greedy unbounded
 * repetition's remaining iterations) and answers them from the note, for
 * one step, the next time. A run of a single byte leaf is noted as its span:
 * a start inside it ends where it ends. Ends of parts that record groups are
 * noted only while no capture record is active (a note holds no captures).
 * The notes are positions of one text, so they hold for the searches of one
 * armed prog; they live in a table of fixed size per part, a slot per
 * position modulo its width, so a position that shares a slot with a later
 * one simply loses its note.
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
    int32_t prev; /* the group's entry before this one, or -1 */
    uint8_t set;
} cap_undo;

/* What a frame of the work stack waits for. */
enum {
    F_SEQ,         /* item k of a sequence */
    F_ALT,         /* alternative k of an alternation */
    F_GROUP,       /* a capturing group's inside */
    F_QUANT_CHILD, /* iteration k of a repetition: the operand */
    F_QUANT_NEXT,  /* iteration k done below the minimum: the repetition from k + 1 */
    F_MEMO,        /* a memo point entered at pos: note the outcome */
    F_RUN          /* a run of a repetition's iterations from pos on: note its end */
};

/* A pending node of the machine: what the recursive rules keep in a call's
 * frame. For a repetition, one frame per iteration below its minimum and
 * one for the iteration under way (see quant_step). */
typedef struct mframe {
    const rx_node *node;
    uint64_t pos;  /* where the node, the iteration or the memo point began */
    int32_t mark;  /* undo log length then; F_RUN: the run's index in its loop */
    int32_t k;     /* repetition: iterations matched before this one;
                      sequence, alternation: the operand under way;
                      F_MEMO: the memo point; F_RUN: the loop */
    int32_t tag;   /* F_* */
    int32_t floor; /* F_QUANT_CHILD from the minimum on: undo log length when
                      the run of iterations from the minimum began */
} mframe;

/* The thread's matcher blocks, kept and reused from one search to the next:
 * plain pointers and counts (no thread-local arrays). */
static RX_THREAD_LOCAL cap_undo *g_caplog;   /* undo log (heap) */
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
}

static void engine_thread_cleanup(void) {
    release_work();
    release_caplog();
}

/* ---- captures ------------------------------------------------------------ */

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
        ms->newest[u->group] = u->prev;
    }
}

/*
 * Drops the entries from `from` on that the log no longer needs, after an
 * iteration of a repetition at or above its minimum was kept: an entry for a
 * group that an earlier iteration of the same run (entries from floor on)
 * already recorded. No frame that could take the log back to a length
 * between floor and the end remains (such iterations keep no frame), and
 * taking it back to floor or below also takes back the older entry, which
 * restores what the group held before the run. So a repetition of groups
 * over a whole text keeps one entry per group, not one per iteration.
 */
static void caps_compact(mstate *ms, int32_t from, int32_t floor) {
    if (ms->caps == nullptr || from >= ms->logn) return;
    int32_t before[RX_MAX_GROUPS + 1]; /* each group's newest entry below from */
    uint32_t seen = 0, kept = 0;
    int32_t j = from;
    for (int32_t i = from; i < ms->logn; i++) {
        const cap_undo u = ms->log[i];
        const uint32_t bit = 1u << u.group;
        if (!(seen & bit)) before[u.group] = u.prev;
        seen |= bit;
        if (u.prev >= floor) continue;
        ms->log[j] = u;
        ms->newest[u.group] = j++;
        kept |= bit;
    }
    for (int32_t g = 1; g <= RX_MAX_GROUPS; g++)
        if ((seen & ~kept) & (1u << g)) ms->newest[g] = before[g];
    ms->logn = j;
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
    cap_undo *u = &ms->log[ms->logn];
    u->prev = ms->newest[g];
    ms->newest[g] = ms->logn++;
    u->group = g;
    u->start = ms->caps->start[g];
    u->end = ms->caps->end[g];
    u->set = ms->caps->set[g];
    ms->caps->start[g] = p;
    ms->caps->end[g] = e;
    ms->caps->set[g] = 1;
    return 0;
}

/* ---- the memo -------------------------------------------------------------
 * A slot holds the position it notes, plus one, in its upper 32 bits (0: an
 * empty slot) and the outcome in its lower 32: MEMO_FAILS, or d + MEMO_ENDS:
 * the part matches and ends d bytes further on. */
#define MEMO_FAILS 0u
#define MEMO_ENDS 1u
#define MEMO_UNKNOWN 0xFFFFFFFFu /* what memo_get answers for no note */
#define MEMO_SLOTS (1u << 22)    /* slots of all points together, at most */
#define MEMO_MIN_WIDTH 64u
#define MEMO_MAX_WIDTH \
  (1u << 16) /* positions per point, at most: notes far apart
                share slots, and the table stays small
                enough to live in the caches */

enum { LOOP_EMPTY, LOOP_GROWING, LOOP_DONE };

void rx_memo_forget(rx_memo *mo, const void *text, uint64_t n) {
    if (mo->dirty && mo->slots != nullptr) memset(mo->slots, 0, mo->slot_count * sizeof *mo->slots);
    mo->dirty = 0;
    mo->group_ends = 0;
    mo->text = text;
    mo->n = n;
    for (int32_t i = 0; i < mo->run_count; i++) mo->runs[i].lo = UINT64_MAX;
    for (int32_t i = 0; i < mo->loop_count; i++)
        for (int r = 0; r < RX_LOOP_RUNS; r++) mo->loops[i].run[r].state = LOOP_EMPTY;
}

void rx_memo_release(rx_memo *mo) {
    free(mo->slots);
    mo->slots = nullptr;
    mo->slot_count = 0;
    mo->width = 0;
    for (int32_t i = 0; i < mo->loop_count; i++)
        for (int r = 0; r < RX_LOOP_RUNS; r++) {
            free(mo->loops[i].run[r].bits);
            mo->loops[i].run[r].bits = nullptr;
            mo->loops[i].run[r].words = 0;
        }
}

/* The slots, made when a search first needs them: a width (a power of two)
 * of positions per point, at most the text's length + 1. 0, or -1 when the
 * memo is off for this text (memory refused, too many points, or positions
 * beyond 32 bits). */
static int memo_ready(rx_memo *mo) {
    if (mo->width != 0) return 0;
    if (mo->off || mo->points == 0 || mo->n >= 0xFFFFFFF0u) return -1;
    uint64_t width = MEMO_MIN_WIDTH;
    while (width < mo->n + 1 && width < MEMO_MAX_WIDTH &&
           width * static_cast<uint64_t>(mo->points) * 2 <= MEMO_SLOTS)
        width *= 2;
    uint64_t count = width * static_cast<uint64_t>(mo->points);
    if (mo->slots == nullptr || mo->slot_count != count) {
        free(mo->slots);
        mo->slots = static_cast<uint64_t *>(rx_calloc(static_cast<size_t>(count), sizeof *mo->slots));
        mo->slot_count = mo->slots != nullptr ? count : 0;
        if (mo->slots == nullptr) {
            mo->off = 1; /* only speed is lost */
            return -1;
        }
        mo->dirty = 0;
    }
    mo->width = width;
    return 0;
}

static inline uint32_t memo_get(const rx_memo *mo, int32_t point, uint64_t p) {
    if (mo->width == 0) return MEMO_UNKNOWN;
    const uint64_t slot = mo->slots[static_cast<uint64_t>(point) * mo->width + (p & (mo->width - 1))];
    return (slot >> 32) == p + 1 ? static_cast<uint32_t>(slot) : MEMO_UNKNOWN;
}

static inline void memo_put(rx_memo *mo, int32_t point, uint64_t p, uint32_t value) {
    mo->slots[static_cast<uint64_t>(point) * mo->width + (p & (mo->width - 1))] = ((p + 1) << 32) | value;
    mo->dirty = 1;
}

/* Notes the outcome of point at p: a failure always (it records nothing), an
 * end only where the part records no group or no record is active. Nothing
 * once a step was refused: the search is over then. */
static void memo_note(mstate *ms, int32_t point, uint64_t p, int ok, uint64_t e) {
    rx_memo *mo = ms->memo;
    if (ms->hit || memo_ready(mo) != 0) return;
    if (!ok) {
        memo_put(mo, point, p, MEMO_FAILS);
    } else if (!mo->point_groups[point] || ms->caps == nullptr) {
        if (mo->point_groups[point]) mo->group_ends = 1;
        memo_put(mo, point, p, static_cast<uint32_t>(e - p) + MEMO_ENDS);
    }
}

/* ---- iteration runs -------------------------------------------------------
 * A greedy unbounded repetition, from its minimum on, ends where it ended
 * before from the same position. Its iterations are noted run by run: the
 * positions where they began, as bits from the run's first position, and
 * the run's end. Each repetition keeps two runs; a new one takes the place
 * of the one that ended earlier, which later starts are the less likely to
 * meet. A run made with a capture record active also keeps, for each group
 * its iterations recorded, the span the run left it and the last iteration
 * that recorded it, so that a start inside the run replays the recordings
 * of its iterations from there on. */

/* The run of loop l that had an iteration begin at p and that this search
 * may use, or null. */
static const rx_loop_run *loop_known(const mstate *ms, int32_t l, uint64_t p) {
    const rx_loop *loop = &ms->memo->loops[l];
    for (int r = 0; r < RX_LOOP_RUNS; r++) {
        const rx_loop_run *run = &loop->run[r];
        if (run->state != LOOP_DONE || p < run->first || p - run->first >= run->len) continue;
        if (loop->groups && ms->caps != nullptr && !run->caps) continue; /* it kept no spans */
        const uint64_t i = p - run->first;
        if ((run->bits[i >> 6] >> (i & 63)) & 1) return run;
    }
    return nullptr;
}

/* Records the groups the iterations of run from p on recorded, as they left
 * them. -1 when the undo log cannot grow. */
static int loop_replay(mstate *ms, const rx_loop_run *run, uint64_t p) {
    if (ms->caps == nullptr) return 0;
    for (int32_t g = 1; g <= RX_MAX_GROUPS; g++)
        if (((run->kept >> g) & 1) && run->kept_at[g] >= p)
            if (record_group(ms, g, run->kept_start[g], run->kept_end[g]) != 0) return -1;
    return 0;
}

/* Keeps, in the growing run r of loop l, the spans of the groups the undo
 * log records from mark on: what an iteration that began at p recorded, or
 * what a run replayed at p. */
static void loop_keep(mstate *ms, int32_t l, int r, int32_t mark, uint64_t p) {
    rx_loop_run *run = &ms->memo->loops[l].run[r];
    if (run->state != LOOP_GROWING || ms->caps == nullptr) return;
    for (int32_t i = mark < 0 ? 0 : mark; i < ms->logn; i++) {
        const int32_t g = ms->log[i].group;
        run->kept |= 1u << g;
        run->kept_at[g] = p;
        run->kept_start[g] = ms->caps->start[g];
        run->kept_end[g] = ms->caps->end[g];
    }
}

/* Begins a run of loop l at p: the index of the run taken. */
static int loop_begin(mstate *ms, int32_t l, uint64_t p) {
    rx_loop *loop = &ms->memo->loops[l];
    int take = 0;
    for (int r = 1; r < RX_LOOP_RUNS; r++) {
        const rx_loop_run *a = &loop->run[take], *b = &loop->run[r];
        if (b->state == LOOP_EMPTY || (a->state == LOOP_DONE && b->state == LOOP_DONE && b->end < a->end))
            take = r;
    }
    rx_loop_run *run = &loop->run[take];
    run->state = LOOP_GROWING;
    run->first = p;
    run->len = 0;
    run->caps = ms->caps != nullptr;
    run->kept = 0;
    return take;
}

/* Notes an iteration of the growing run r of loop l at p; when its bits
 * cannot grow the run is dropped (only speed is lost). */
static void loop_mark(rx_memo *mo, int32_t l, int r, uint64_t p) {
    rx_loop_run *run = &mo->loops[l].run[r];
    if (run->state != LOOP_GROWING) return;
    const uint64_t i = p - run->first, need = (i >> 6) + 1;
    if (need > run->words) {
        uint64_t words = run->words > 0 ? run->words : 16;
        while (words < need) words *= 2;
        uint64_t *grown = static_cast<uint64_t *>(rx_realloc(run->bits, static_cast<size_t>(words) * 8));
        if (grown == nullptr) {
            run->state = LOOP_EMPTY;
            return;
        }
        run->bits = grown;
        run->words = words;
    }
    const uint64_t had = (run->len + 63) >> 6; /* words in use, the rest to clear */
    if (need > had) memset(run->bits + had, 0, static_cast<size_t>(need - had) * 8);
    run->bits[i >> 6] |= uint64_t(1) << (i & 63);
    run->len = i + 1;
}

/* The growing run r of loop l ended at e (ok), or was abandoned. */
static void loop_end(mstate *ms, int32_t l, int r, int ok, uint64_t e) {
    rx_loop_run *run = &ms->memo->loops[l].run[r];
    if (run->state != LOOP_GROWING) return;
    run->state = ok && !ms->hit ? LOOP_DONE : LOOP_EMPTY;
    run->end = e;
}

/* ---- the machine ---------------------------------------------------------- */

/* The registers of one run of the machine. */
typedef struct machine {
    mstate *ms;
    const uint8_t *t;    /* the text ... */
    uint64_t n;          /* ... and its length */
    const rx_node *node; /* the node to enter, or whose frame is resumed */
    uint64_t p;          /* where the node is entered */
    uint64_t e;          /* where the node that finished last ended */
    int ok;              /* whether it matched */
    int32_t i;           /* sequence, alternation: the operand under way */
    int32_t k;           /* repetition: iterations matched */
    int32_t mark;        /* sequence: undo log length where it began */
    int32_t floor;       /* repetition: the floor of the run of iterations
                            from the minimum on, or -1 when none began */
    mframe *stack;       /* the work stack (the thread's block) ... */
    size_t sp;           /* ... frames in use ... */
    size_t cap;          /* ... and allocated */
} machine;

/* What a step of the machine asks for next. */
enum { ENTER, RETURN, NO_MEMORY };

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

/* Pushes a frame; -1 when the stack cannot grow. */
static inline int push(machine *m, const rx_node *node, uint64_t pos, int32_t mark, int32_t k, int32_t tag) {
    if (m->sp == m->cap) {
        m->stack = grow_work(m->ms);
        if (m->stack == nullptr) return -1;
        m->cap = m->ms->workcap;
    }
    mframe *f = &m->stack[m->sp++];
    f->node = node;
    f->pos = pos;
    f->mark = mark;
    f->k = k;
    f->tag = tag;
    return 0;
}

/* Ends the node under way: ok with its end in m->e (set by the caller). */
static inline int finish(machine *m, int ok) {
    m->ok = ok;
    return RETURN;
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
    const int fold = lit_fold(node);
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
 * A repetition of a leaf that takes no byte (an anchor or a boundary): it
 * matches empty or not at all, so at most its first iteration is tried. At
 * or above the minimum an empty iteration ends the repetition where it is;
 * below it, it completes the repetition, unless the minimum exceeds the
 * maximum. Steps as the rules spend them.
 */
static int quant_empty_leaf(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                            uint64_t *out) {
    const int32_t min = node->min, max = node->max;
    uint64_t next;
    if (rx_spend_step(ms) != 0) return 0;
    if (min == 0) {
        if (node->lazy || max == 0) {
            *out = p;
            return 1;
        }
        rx_spend_step(ms);
        *out = p; /* the iteration consumes nothing or fails: ends here */
        return 1;
    }
    if (max >= 0 && max == 0) return 0;
    if (rx_spend_step(ms) != 0 || !leaf_match(node->child, t, n, p, &next)) return 0;
    if (max >= 0 && min > max) return 0;
    *out = p;
    return 1;
}

/*
 * A whole repetition of a byte leaf at p: the rules of the repetition run
 * with the number of bytes r the leaf takes one after another from p. Each
 * iteration spends a step on entering the repetition and one more before
 * trying the leaf; the last level spends one (it stops at its bound) or two
 * (the leaf fails). So, with T the iterations it takes at most (its minimum
 * when lazy, else its maximum, or no bound):
 *   - minimum above maximum: never matches; 2r + 1 steps when r reaches the
 *     maximum, else 2r + 2;
 *   - r reaches T: matches T bytes for 2T + 1 steps;
 *   - otherwise the leaf fails after r bytes: 2r + 2 steps, a match of r
 *     bytes when r is at least the minimum, else a failure.
 * A greedy repetition notes the full run it found, [p, p + r]; a start inside
 * a noted run knows r at once and is charged one step.
 */
static int quant_leaf(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                      uint64_t *out) {
    const rx_node *leaf = node->child;
    if (!is_byte_leaf(leaf)) return quant_empty_leaf(ms, node, t, n, p, out);
    const int64_t min = node->min, max = node->max;
    int64_t most = node->lazy ? min : (max >= 0 ? max : INT64_MAX);
    if (max >= 0 && min > max) most = max;
    rx_run *run = node->memo >= 0 ? &ms->memo->runs[node->memo] : nullptr;
    int64_t r;
    int known = 0;
    if (run != nullptr && run->lo <= p && p <= run->hi) {
        r = static_cast<int64_t>(run->hi - p);
        if (r > most) r = most;
        known = 1;
    } else {
        const int64_t room = static_cast<int64_t>(n - p);
        r = leaf_run(leaf, t, n, p, room < most ? room : most);
        if (run != nullptr && r < most) { /* the leaf fails at p + r: a full run */
            run->lo = p;
            run->hi = p + static_cast<uint64_t>(r);
        }
    }
    int ok;
    int64_t cost;
    if (max >= 0 && min > max) {
        ok = 0;
        cost = 2 * r + (r >= max ? 1 : 2);
    } else if (r == most) {
        ok = 1;
        cost = 2 * r + 1;
    } else {
        ok = r >= min;
        cost = 2 * r + 2;
    }
    if (charge_steps(ms, known ? 1 : cost) != 0) return 0;
    if (ok) *out = p + static_cast<uint64_t>(r);
    return ok;
}

static inline int simple_match(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                               uint64_t *e) {
    if (node->kind == RX_REPEAT) return quant_leaf(ms, node, t, n, p, e);
    if (node->kind == RX_CONCAT) return literal_match(ms, node, t, n, p, e);
    return leaf_match(node, t, n, p, e);
}

/* Answers a memo point entered at p from its note, if it has one: RETURN
 * with the outcome, or -1 for no note (when a frame F_MEMO has been pushed
 * to note it, if the memo can). NO_MEMORY when that frame cannot be pushed. */
static int memo_point(machine *m, int32_t point, const rx_node *node, uint64_t p) {
    const uint32_t v = memo_get(m->ms->memo, point, p);
    if (v == MEMO_FAILS) return finish(m, 0);
    if (v != MEMO_UNKNOWN) {
        m->e = p + (v - MEMO_ENDS);
        return finish(m, 1);
    }
    if (m->ms->memo->off) return -1;
    return push(m, node, p, 0, point, F_MEMO) != 0 ? NO_MEMORY : -1;
}

/*
 * Sequence m->node from item m->i on, at m->p, recordings since m->mark: a
 * step before each item after the first; simple items in place, others in a
 * frame (none for the last when nothing needs taking back). The rest of the
 * sequence from a memo point on is answered from its note where it has one.
 */
static int seq_items(machine *m) {
    const rx_node *node = m->node;
    mstate *ms = m->ms;
    for (;;) {
        const int32_t i = m->i;
        const rx_node *item = node->flat[i];
        if (i > 0) {
            if (rx_spend_step(ms) != 0) {
                caps_undo_to(ms, m->mark);
                return finish(m, 0);
            }
            if (node->memo_items != nullptr && node->memo_items[i] >= 0) {
                int r = memo_point(m, node->memo_items[i], node, m->p);
                if (r == RETURN && !m->ok) caps_undo_to(ms, m->mark);
                if (r >= 0) return r;
            }
        }
        if (!is_simple_part(item)) break;
        uint64_t end;
        if (!simple_match(ms, item, m->t, m->n, m->p, &end)) {
            caps_undo_to(ms, m->mark);
            return finish(m, 0);
        }
        m->p = end;
        if (++m->i == node->flat_len) {
            m->e = end;
            return finish(m, 1);
        }
    }
    if (m->i + 1 < node->flat_len || (ms->caps != nullptr && ms->logn != m->mark))
        if (push(m, node, m->p, m->mark, m->i, F_SEQ) != 0) return NO_MEMORY;
    m->node = node->flat[m->i];
    return ENTER;
}

/* Alternation m->node from alternative m->i on, at m->p: a step before each
 * alternative after the first; the first that matches answers. */
static int alt_items(machine *m) {
    const rx_node *node = m->node;
    for (;;) {
        const rx_node *alt = node->flat[m->i];
        if (m->i > 0 && rx_spend_step(m->ms) != 0) return finish(m, 0);
        if (!is_simple_part(alt)) break;
        uint64_t end;
        if (simple_match(m->ms, alt, m->t, m->n, m->p, &end)) {
            m->e = end;
            return finish(m, 1);
        }
        if (++m->i == node->flat_len) return finish(m, 0);
    }
    if (m->i + 1 < node->flat_len)
        if (push(m, node, m->p, m->ms->logn, m->i, F_ALT) != 0) return NO_MEMORY;
    m->node = node->flat[m->i];
    return ENTER;
}

/* An alternation with a byte table: the alternatives before the first whose
 * first byte takes the byte at p fail there, so charge what they cost and go
 * straight to it. */
static int alt_picked(machine *m) {
    const rx_node *node = m->node;
    const int32_t i = m->p < m->n ? node->pick[m->t[m->p]] : -1;
    if (charge_steps(m->ms, node->pick_cost[i >= 0 ? i : node->flat_len]) != 0 || i < 0) return finish(m, 0);
    if (is_byte_leaf(node->flat[i])) {
        m->e = m->p + 1;
        return finish(m, 1);
    }
    if (literal_match(m->ms, node->flat[i], m->t, m->n, m->p, &m->e)) return finish(m, 1);
    if (m->ms->hit || i + 1 == node->flat_len) return finish(m, 0);
    m->i = i + 1;
    return alt_items(m);
}

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
 * keeps no frame: the next one runs in its place, and a repetition over a
 * whole text holds one frame, not one per iteration. A greedy unbounded
 * repetition from the minimum on ends where it ended before at the same
 * position: its iterations are noted as one run (frame F_RUN), answered
 * from the note when a later start meets one of them.
 */
static int quant_step(machine *m) {
    const rx_node *node = m->node;
    mstate *ms = m->ms;
    const int32_t k = m->k;
    const int32_t at_entry = ms->logn;
    const int32_t floor = m->floor >= 0 ? m->floor : at_entry; /* where this run began */
    m->floor = -1;
    if (rx_spend_step(ms) != 0) return finish(m, 0);
    if (node->max >= 0 && k > node->max) return finish(m, 0);
    if (k >= node->min) {
        if (node->lazy || (node->max >= 0 && k >= node->max)) {
            m->e = m->p;
            return finish(m, 1);
        }
        if (node->memo >= 0 && !ms->memo->off) {
            /* the first iteration from the minimum on begins a run; the
             * later ones find its frame on top */
            const mframe *top = m->sp > 0 ? &m->stack[m->sp - 1] : nullptr;
            const int growing = top != nullptr && top->tag == F_RUN && top->node == node;
            const rx_loop_run *known = loop_known(ms, node->memo, m->p);
            if (known != nullptr) {
                const int32_t mark = ms->logn;
                if (loop_replay(ms, known, m->p) != 0) return NO_MEMORY;
                if (growing) loop_keep(ms, node->memo, top->mark, mark, m->p);
                m->e = known->end;
                return finish(m, 1);
            }
            if (!growing) {
                const int r = loop_begin(ms, node->memo, m->p);
                if (push(m, node, m->p, r, node->memo, F_RUN) != 0) return NO_MEMORY;
                top = &m->stack[m->sp - 1];
            }
            loop_mark(ms->memo, node->memo, top->mark, m->p);
        }
    } else if (node->max >= 0 && k >= node->max) {
        return finish(m, 0);
    }
    if (rx_spend_step(ms) != 0) {
        m->e = m->p;
        return finish(m, k >= node->min);
    }
    if (push(m, node, m->p, at_entry, k, F_QUANT_CHILD) != 0) return NO_MEMORY;
    m->stack[m->sp - 1].floor = floor;
    if (node->memo_child >= 0) {
        int r = memo_point(m, node->memo_child, node->child, m->p);
        if (r >= 0) return r;
    }
    m->node = node->child;
    return ENTER;
}

/* Enters m->node at m->p. */
static int enter(machine *m) {
    const rx_node *node = m->node;
    mstate *ms = m->ms;
    switch (node->kind) {
    case RX_CONCAT:
        if (node->lit != nullptr) return finish(m, literal_match(ms, node, m->t, m->n, m->p, &m->e));
        if (charge_steps(ms, node->flat_len - 1) != 0) return finish(m, 0);
        m->i = 0;
        m->mark = ms->logn;
        return seq_items(m);
    case RX_ALT:
        if (node->litset != nullptr) return finish(m, rx_literals_match(ms, node, m->t, m->n, m->p, &m->e));
        if (charge_steps(ms, node->flat_len - 1) != 0) return finish(m, 0);
        if (node->pick != nullptr) return alt_picked(m);
        m->i = 0;
        return alt_items(m);
    case RX_GROUP:
        if (rx_spend_step(ms) != 0) return finish(m, 0);
        if (ms->caps != nullptr && node->group >= 1 && node->group <= RX_MAX_GROUPS)
            if (push(m, node, m->p, ms->logn, 0, F_GROUP) != 0) return NO_MEMORY;
        m->node = node->child;
        return ENTER;
    case RX_REPEAT:
        if (is_leaf_part(node->child)) return finish(m, quant_leaf(ms, node, m->t, m->n, m->p, &m->e));
        m->k = 0;
        return quant_step(m);
    default: return finish(m, leaf_match(node, m->t, m->n, m->p, &m->e));
    }
}

/* The frame f of a sequence: item f->k ended (m->ok, m->e). */
static int resume_seq(machine *m, const mframe *f) {
    m->sp--;
    if (!m->ok) {
        caps_undo_to(m->ms, f->mark);
        return RETURN;
    }
    m->node = f->node;
    m->i = f->k + 1;
    m->mark = f->mark;
    m->p = m->e;
    if (m->i == m->node->flat_len) return RETURN;
    return seq_items(m);
}

/* The frame of an alternation: alternative f->k ended. */
static int resume_alt(machine *m, const mframe *f) {
    m->sp--;
    if (m->ok) return RETURN;
    caps_undo_to(m->ms, f->mark);
    m->node = f->node;
    m->i = f->k + 1;
    m->p = f->pos;
    return alt_items(m);
}

/* The frame of a capturing group: its inside ended. */
static int resume_group(machine *m, const mframe *f) {
    m->sp--;
    if (!m->ok) {
        caps_undo_to(m->ms, f->mark);
        return RETURN;
    }
    return record_group(m->ms, f->node->group, f->pos, m->e) != 0 ? NO_MEMORY : RETURN;
}

/* The frame of iteration f->k of a repetition: its operand ended. */
static int resume_quant_child(machine *m, mframe *f) {
    const rx_node *q = f->node;
    const uint64_t at = f->pos;
    if (f->k >= q->min) {
        if (!m->ok || m->e == at) {
            caps_undo_to(m->ms, f->mark);
            m->sp--;
            m->e = at;
            return finish(m, 1);
        }
        if (q->memo >= 0 && m->sp >= 2 && f[-1].tag == F_RUN && f[-1].node == q)
            loop_keep(m->ms, q->memo, f[-1].mark, f->mark, at);
        caps_compact(m->ms, f->mark, f->floor);
        m->floor = f->floor; /* the next iteration continues the run */
        m->sp--;             /* from the minimum on: the next iteration in its place */
    } else {
        if (!m->ok) {
            caps_undo_to(m->ms, f->mark);
            m->sp--;
            return RETURN;
        }
        if (m->e == at) {
            if (q->max >= 0 && q->min > q->max) {
                caps_undo_to(m->ms, f->mark);
                m->ok = 0;
            }
            m->sp--;
            return RETURN;
        }
        f->tag = F_QUANT_NEXT;
    }
    m->node = q;
    m->p = m->e;
    m->k = f->k + 1;
    return quant_step(m);
}

/* The frame of an iteration below the minimum: the iterations after it
 * ended; a failure there, at or above the minimum, ends the repetition at
 * this iteration's start. */
static int resume_quant_next(machine *m, const mframe *f) {
    if (!m->ok) {
        caps_undo_to(m->ms, f->mark);
        if (f->k >= f->node->min) {
            m->ok = 1;
            m->e = f->pos;
        }
    }
    m->sp--;
    return RETURN;
}

/* Hands the outcome that passes by to the memo, then on. */
static int resume_memo(machine *m, const mframe *f) {
    memo_note(m->ms, f->k, f->pos, m->ok, m->e);
    m->sp--;
    return RETURN;
}

static int resume_run(machine *m, const mframe *f) {
    loop_end(m->ms, f->k, f->mark, m->ok, m->e);
    m->sp--;
    return RETURN;
}

/* Resumes the frame on top of the stack with the outcome of the node that
 * ended. */
static int resume(machine *m) {
    mframe *f = &m->stack[m->sp - 1];
    switch (f->tag) {
    case F_SEQ: return resume_seq(m, f);
    case F_ALT: return resume_alt(m, f);
    case F_GROUP: return resume_group(m, f);
    case F_QUANT_CHILD: return resume_quant_child(m, f);
    case F_QUANT_NEXT: return resume_quant_next(m, f);
    case F_MEMO: return resume_memo(m, f);
    default: return resume_run(m, f);
    }
}

/*
 * Starts known to fail, from the notes alone: a pattern that is a sequence
 * whose first item is a greedy unbounded repetition (in a group or not) and
 * whose rest after it is a memo point. A start at q where that repetition's
 * end is known, and the rest is known to fail there, fails without an
 * attempt: for a byte leaf every start inside the noted run ends at its end;
 * for another operand (with a minimum of 0) every start where an iteration of
 * a noted run began. Returns the first position from q on not known so (q
 * itself when nothing is known).
 */
uint64_t rx_match_known_failures(const mstate *ms, const rx_node *root, uint64_t q) {
    if (root->kind != RX_CONCAT || root->memo_items == nullptr || root->memo_items[1] < 0) return q;
    const rx_node *first = root->flat[0];
    if (first->kind == RX_GROUP) first = first->child;
    if (first->kind != RX_REPEAT || first->memo < 0 || first->max >= 0 || first->lazy) return q;
    const rx_memo *mo = ms->memo;
    const int32_t rest = root->memo_items[1];
    if (is_byte_leaf(first->child)) {
        const rx_run *run = &mo->runs[first->memo];
        if (run->lo <= q && q <= run->hi && memo_get(mo, rest, run->hi) == MEMO_FAILS) return run->hi + 1;
        return q; /* (starts too close to the run's end for the minimum fail too) */
    }
    if (is_leaf_part(first->child) || first->min != 0) return q;
    const rx_loop_run *run = loop_known(ms, first->memo, q);
    if (run == nullptr || memo_get(mo, rest, run->end) != MEMO_FAILS) return q;
    while (q - run->first < run->len && ((run->bits[(q - run->first) >> 6] >> ((q - run->first) & 63)) & 1))
        q++;
    return q;
}

/*
 * Matches node at p: RX_FOUND with the end in *out, RX_NONE when it does not
 * match, RX_OUT_OF_BUDGET when a step of the call was refused (a match
 * reached after a refusal is no match), RX_OUT_OF_MEMORY when the work stack
 * or the undo log could not grow (the search is then abandoned). A refused
 * step counts as a failure of the node that needed it and leaves ms->hit
 * set.
 */
int rx_match_node(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *out) {
    machine m;
    m.ms = ms;
    m.t = t;
    m.n = n;
    m.node = node;
    m.p = p;
    m.e = p;
    m.ok = 0;
    m.i = 0;
    m.k = 0;
    m.mark = 0;
    m.floor = -1;
    m.stack = ms->work;
    m.sp = 0;
    m.cap = ms->workcap;
    int next = ENTER;
    for (;;) {
        if (next == ENTER)
            next = enter(&m);
        else if (m.sp == 0)
            break;
        else
            next = resume(&m);
        if (next == NO_MEMORY) {
            for (size_t i = 0; i < m.sp; i++) /* the runs under way are abandoned */
                if (m.stack[i].tag == F_RUN) loop_end(ms, m.stack[i].k, m.stack[i].mark, 0, 0);
            ms->oom = 1;
            return RX_OUT_OF_MEMORY;
        }
    }
    if (ms->hit) return RX_OUT_OF_BUDGET;
    if (!m.ok) return RX_NONE;
    *out = m.e;
    return RX_FOUND;
}

void rx_match_begin(mstate *ms) {
    ms->oom = 0;
    ms->caps_clean = 0;
    ms->log = g_caplog;
    ms->logn = 0;
    for (int g = 0; g <= RX_MAX_GROUPS; g++) ms->newest[g] = -1;
    ms->logcap = g_caplog_cap;
    ms->work = g_work;
    ms->workcap = g_work_cap;
}

void rx_match_end(const mstate *ms) {
    (void)ms;
    if (g_work_cap > RX_WORK_KEEP) release_work();
    if (g_caplog_cap > RX_CAPLOG_KEEP) release_caplog();
}
