/*
 * The engine's search face: a prepared pattern (parse, compile), the step
 * budget of a call, the loop over start positions, and the entry points of
 * both name families with the query of the last failure's reason.
 *
 * A search loads the call's budget and the thread's matcher blocks into a
 * record on its own stack, runs, and stores them back, so the hot loop does
 * not touch thread-local storage. What the last search on a thread left
 * (steps, refusal, memory failure) stays in thread-local variables for
 * rx_engine_last_error and the tests.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"
#include "rx_platform.h"

/* What the last search on this thread left, and its active record. */
static RX_THREAD_LOCAL int32_t g_steps_left;  /* steps of the call's budget left */
static RX_THREAD_LOCAL int32_t g_last_status; /* its status: RX_FOUND .. RX_OUT_OF_MEMORY */
static RX_THREAD_LOCAL rx_caps *g_caps;       /* active capture record, or null */

int32_t rx_engine_budget(uint64_t n, uint64_t nodes) {
    const uint64_t room = RX_STEPS_MAX - RX_STEPS_BASE;
    uint64_t per_byte = RX_STEPS_PER_BYTE + nodes;
    if (nodes > room || (n != 0 && per_byte > room / n)) return RX_STEPS_MAX;
    return static_cast<int32_t>(per_byte * n + RX_STEPS_BASE);
}

static void analyse_filter(rx_prog *prog);

/* The remaining text from which the analysis of a pattern's shape pays: on
 * shorter ones every position is tried. */
#define RX_ANALYSE_FROM 64

/* Rules out the hopeless positions from p on, one step each, by the prog's
 * prefilter, and returns the first that must be tried (n + 1 when none is
 * left, the flag set when the budget ran out on the way). A prog whose
 * shape is not analysed yet is analysed on the first text long enough. */
static uint64_t skip_hopeless(mstate *ms, rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    /* Whether the rest is long enough, not whether an earlier text was, so
     * that a prog used for many texts charges each what a fresh one would. */
    if (prog->filter != RX_FILTER_LITERAL && n < RX_ANALYSE_FROM) return p;
    if (prog->filter == RX_FILTER_UNKNOWN) analyse_filter(prog);
    if (prog->required.len > 0) {
        p = rx_prefilter_skip_required(ms, prog, t, n, p);
        if (p > n) return p;
    }
    switch (prog->filter) {
    case RX_FILTER_LITERAL: return rx_prefilter_skip_literal(ms, prog, t, n, p);
    case RX_FILTER_LITERALS: return rx_prefilter_skip_literals(ms, prog->lead_set, t, n, p);
    case RX_FILTER_LEAD: return rx_prefilter_skip_lead(ms, &prog->lead, t, n, p);
    case RX_FILTER_RUN: return rx_prefilter_skip_run(ms, prog, t, n, p);
    case RX_FILTER_BYTES: return rx_prefilter_skip_bytes(ms, &prog->first, t, n, p);
    default: return p;
    }
}

/* One attempt at p, its step included: RX_FOUND (*end written), RX_NONE,
 * RX_OUT_OF_BUDGET or RX_OUT_OF_MEMORY. */
static int attempt(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *end) {
    caps_reset(ms);
    if (rx_spend_step(ms) != 0) return RX_OUT_OF_BUDGET;
    return rx_match_node(ms, prog->root, t, n, p, end);
}

/*
 * Tries the start positions from start on, in order, until one matches: a
 * status as attempt's, with *found the match's start.
 */
static int scan_positions(mstate *ms, rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t start,
                          uint64_t *found, uint64_t *end) {
    for (uint64_t p = start; p <= n; p++) {
        p = skip_hopeless(ms, prog, t, n, p);
        if (ms->hit) return RX_OUT_OF_BUDGET;
        if (p > n) break;
        /* a position whose byte the first item cannot take: one step */
        if (prog->quick && (p == n || !in_bits(prog->quick_first, t[p]))) {
            if (rx_spend_step(ms) != 0) return RX_OUT_OF_BUDGET;
            continue;
        }
        /* starts the matcher's notes show to fail: one step each */
        const uint64_t q = rx_match_known_failures(ms, prog->root, p);
        if (q > p) {
            if (charge_steps(ms, static_cast<int64_t>(q - p)) != 0) return RX_OUT_OF_BUDGET;
            p = q - 1;
            continue;
        }
        const int status = attempt(ms, prog, t, n, p, end);
        if (status != RX_NONE) {
            *found = p;
            return status;
        }
    }
    return RX_NONE;
}

/*
 * One search of a prepared pattern, drawing on the prog's budget: RX_FOUND
 * with the match's span, RX_NONE, or a failure status: RX_OUT_OF_BUDGET when
 * a step was refused in this call (a match reached after a refusal is no
 * match), RX_OUT_OF_MEMORY. With the prog anchored only offset 0 is tried.
 * The active record is installed for the call and the previous one put back
 * on every way out.
 */
static int run_search(rx_prog *prog, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                      uint64_t *out_end, rx_caps *caps) {
    const uint8_t *t = reinterpret_cast<const uint8_t *>(text);
    if (!prog->armed) rx_engine_arm(prog, n);
    mstate ms;
    ms.steps = prog->steps_left;
    ms.hit = prog->budget_hit;
    ms.caps = caps;
    ms.memo = &prog->memo;
    /* the notes hold for one text, and ends of parts that record groups
     * only while no record is active */
    if (prog->memo.text != text || prog->memo.n != n || (caps != nullptr && prog->memo.group_ends))
        rx_memo_forget(&prog->memo, text, n);
    rx_match_begin(&ms);
    rx_caps *saved = g_caps;
    g_caps = caps;
    caps_reset(&ms);

    int status = RX_NONE;
    uint64_t end = 0, found = 0;
    if (ms.hit)
        status = RX_OUT_OF_BUDGET;
    else if (!prog->anchored)
        status = scan_positions(&ms, prog, t, n, start, &found, &end);
    else if (start == 0)
        status = attempt(&ms, prog, t, n, 0, &end);
    g_caps = saved;
    rx_match_end(&ms);
    prog->steps_left = ms.steps;
    prog->budget_hit = ms.hit;
    g_steps_left = ms.steps;
    g_last_status = status;
    if (status == RX_FOUND) {
        *out_start = found;
        *out_end = end;
    }
    return status;
}

/* Parse, arm a budget of its own, search, free. The other three entry
 * points are this one. */
int rx_engine_find_caps(const char *pattern, const char *text, uint64_t n, uint64_t start,
                        uint64_t *out_start, uint64_t *out_end, rx_caps *caps) {
    char err[RX_SEARCH_ERR_SIZE]; /* the parser's message, which a search does not report */
    rx_prog prog;
    if (rx_engine_prepare(pattern, &prog, err, sizeof err) != 0) return -1;
    int r = run_search(&prog, text, n, start, out_start, out_end, caps);
    rx_engine_release(&prog);
    return r;
}

int rx_engine_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                   uint64_t *out_end) {
    return rx_engine_find_caps(pattern, text, n, start, out_start, out_end, nullptr);
}

int rx_nfa_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                uint64_t *out_end) {
    return rx_engine_find_caps(pattern, text, n, start, out_start, out_end, nullptr);
}

int rx_nfa_find_caps(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                     uint64_t *out_end, rx_caps *caps) {
    return rx_engine_find_caps(pattern, text, n, start, out_start, out_end, caps);
}

/* The one place where a search's failure status becomes its text. */
const char *rx_engine_status_message(int status) {
    switch (status) {
    case RX_OUT_OF_MEMORY: return "out of memory";
    case RX_OUT_OF_BUDGET: return "backtracking limit reached";
    default: return "match engine error";
    }
}

const char *rx_engine_last_error(void) { return rx_engine_status_message(g_last_status); }

/* A literal in one case that every match begins with is known at once,
 * for the measuring of a text notes where its least common byte occurs; the
 * rest of the analysis waits for a text long enough (skip_hopeless). A
 * pattern tried at offset 0 alone needs none. */
static void choose_filter(rx_prog *prog) {
    prog->filter = RX_FILTER_NONE;
    if (prog->anchored) return;
    rx_prefilter_literal(prog->root, &prog->prefix);
    if (prog->prefix.len >= 2 && !prog->prefix.fold) {
        prog->filter = RX_FILTER_LITERAL;
        return;
    }
    prog->filter = RX_FILTER_UNKNOWN;
}

/* The first filter the pattern's shape allows: an alternation of literals
 * searched by its set, the fixed-width lead, a run and what follows it, or
 * the bytes that may begin a match; and a literal every match contains. */
static void analyse_filter(rx_prog *prog) {
    rx_prefilter_required(prog);
    rx_node *alt = rx_prefilter_alternation(prog->root);
    if (alt != nullptr) {
        prog->lead_set = alt->litset != nullptr ? alt->litset : rx_literals_build(prog, alt);
        if (prog->lead_set != nullptr) {
            prog->filter = RX_FILTER_LITERALS;
            return;
        }
    }
    rx_prefilter_lead(prog);
    if (prog->lead.len >= 2) {
        prog->filter = RX_FILTER_LEAD;
        return;
    }
    rx_prefilter_run(prog);
    if (prog->run != nullptr) {
        prog->filter = RX_FILTER_RUN;
        return;
    }
    prog->filter = rx_prefilter_analyse(prog->root, &prog->first) ? RX_FILTER_BYTES : RX_FILTER_NONE;
}

int rx_engine_prepare(const char *pattern, rx_prog *prog, char *err, uint64_t err_size) {
    if (prog == nullptr) return -1;
    memset(prog, 0, sizeof *prog);
    if (pattern == nullptr) return -1;
    rx_parse_info info;
    prog->arena.first = rx_parse_arena_size(pattern);
    prog->root = rx_parse_tree_in(pattern, err, err_size, &info, nullptr, &prog->arena);
    if (prog->root == nullptr) {
        rx_arena_release(&prog->arena); /* what the parse made before it failed */
        return info.out_of_memory ? RX_OUT_OF_MEMORY : -1;
    }
    prog->anchored = info.anchored;
    prog->nodes = info.nodes;
    prog->groups = info.groups;
    if (rx_compile_tree(prog, &info) != 0) {
        rx_engine_release(prog);
        rx_parse_out_of_memory(err, err_size); /* as a parse that ran out of memory */
        return RX_OUT_OF_MEMORY;
    }
    choose_filter(prog);
    rx_prefilter_quick(prog);
    return 0;
}

static void arm_budget(rx_prog *prog, uint64_t n) {
    prog->steps_left = rx_engine_budget(n, prog->nodes);
    prog->budget_hit = 0;
    prog->armed = 1;
}

/* Drops the offsets noted of a text (the block stays for the next). */
static void forget_seen(rx_prog *prog) {
    prog->seen_count = 0;
    prog->seen_until = 0;
}

void rx_engine_arm(rx_prog *prog, uint64_t n) {
    arm_budget(prog, n);
    forget_seen(prog);
    rx_memo_forget(&prog->memo, nullptr, 0);
}

uint64_t rx_engine_measure(rx_prog *prog, const char *text, uint64_t limit) {
    forget_seen(prog);
    uint64_t n = prog->filter == RX_FILTER_LITERAL ? rx_prefilter_measure(prog, text, limit)
                                                   : strnlen(text, static_cast<size_t>(limit + 1));
    arm_budget(prog, n);
    rx_memo_forget(&prog->memo, nullptr, 0);
    return n;
}

void rx_engine_release(rx_prog *prog) {
    if (prog == nullptr) return;
    rx_arena_release(&prog->arena); /* the tree's nodes */
    prog->root = nullptr;
    free(prog->flats);
    prog->flats = nullptr;
    free(prog->picks);
    prog->picks = nullptr;
    rx_memo_release(&prog->memo);
    free(prog->memo_block);
    prog->memo_block = nullptr;
    prog->memo_items = nullptr;
    prog->point_groups = nullptr;
    memset(&prog->memo, 0, sizeof prog->memo);
    free(prog->first.second);
    prog->first.second = nullptr;
    rx_literals_free(prog);
    free(prog->seen);
    prog->seen = nullptr;
    prog->seen_room = 0;
    forget_seen(prog);
    prog->run = nullptr;
}

int rx_engine_find_prog(rx_prog *prog, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                        uint64_t *out_end, rx_caps *caps) {
    if (prog == nullptr || prog->root == nullptr) return -1;
    return run_search(prog, text, n, start, out_start, out_end, caps);
}

/* ---- many lines of one block ---------------------------------------------------
 * Each filter rules out a position only where no match can begin. A line is
 * a part of the block, and where a filter reads only bytes (the literal,
 * the lead, the literals of a leading alternation, the first bytes, a
 * literal every match contains) it keeps in the block every position it
 * keeps in the line: the line's bytes are the block's, and where the line
 * ends the block shows a line feed, which can only keep more. What a line
 * does not show is its neighbours:
 *   - ^ and $ without (?m) hold at every line's start and end, which the
 *     block shows only at its own; as a guard they are tested with (?m),
 *     which holds at exactly those places;
 *   - \b and \B see a line feed as a non-word byte, as they see a line's
 *     start and end, so they agree;
 *   - a run that takes line feeds goes on into the next line in the block:
 *     a start in the earlier line then ends its run where the block's run
 *     ends (kept when the byte after it fits, though in its line the run
 *     ends at the line's end and fails), and a start in the later line ends
 *     it there in both, so the block keeps more, never less;
 *   - a prog that can match only at offset 0 may match at every line's
 *     start, where no filter runs: every line is a candidate.
 * A literal every match contains lies in the line of the match: the first
 * line that may hold a match ends at or after both the first position a
 * filter keeps and the literal's first occurrence. */

/* The first position at or after p that the prog's filter keeps for some
 * line, n + 1 when there is none; p itself where there is no filter. */
static uint64_t next_line_candidate(rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    if (prog->anchored) return p;
    if (prog->filter == RX_FILTER_UNKNOWN) analyse_filter(prog);
    uint64_t q;
    switch (prog->filter) {
    case RX_FILTER_LITERAL: q = rx_prefilter_next_literal(prog, t, n, p); break;
    case RX_FILTER_LITERALS: q = rx_literals_next(prog->lead_set, t, n, p); break;
    case RX_FILTER_LEAD: q = rx_prefilter_next_lead(&prog->lead, t, n, p); break;
    case RX_FILTER_RUN: q = rx_prefilter_next_run(prog, t, n, p); break;
    case RX_FILTER_BYTES: {
        const rx_node *guard = prog->first.guard;
        rx_node lines;
        if (guard != nullptr && guard->kind == RX_ANCHOR) {
            lines = *guard;
            lines.flags |= RX_FLAG_M;
            guard = &lines;
        }
        q = rx_prefilter_next_bytes(&prog->first, guard, t, n, p);
        break;
    }
    default: q = p; break;
    }
    if (q > n || prog->required.len == 0) return q;
    const uint64_t r = rx_prefilter_required_next(&prog->required, t, n, p);
    return r > q ? r : q;
}

uint64_t rx_engine_next_candidate(rx_prog *prog, const uint8_t *text, uint64_t n, uint64_t from) {
    if (prog == nullptr || prog->root == nullptr || from > n) return from;
    forget_seen(prog); /* the offsets noted of another text */
    /* from's own line may hold a match that begins before from (a host
     * passes line starts, where this takes no time) */
    uint64_t start = from;
    while (start > 0 && text[start - 1] != '\n') start--;
    const uint64_t r = next_line_candidate(prog, text, n, start);
    return r < from ? from : r;
}

int32_t rx_engine_steps_left(void) { return g_steps_left; }
