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
static RX_THREAD_LOCAL int32_t g_steps_left;    /* steps of the call's budget left */
static RX_THREAD_LOCAL int32_t g_budget_hit;    /* a step was refused in the call */
static RX_THREAD_LOCAL int32_t g_out_of_memory; /* the work stack or log could not grow */
static RX_THREAD_LOCAL rx_caps *g_caps;         /* active capture record, or null */

int32_t rx_engine_budget(uint64_t n, uint64_t nodes) {
    const uint64_t room = RX_STEPS_MAX - RX_STEPS_BASE;
    uint64_t per_byte = RX_STEPS_PER_BYTE + nodes;
    if (nodes > room || (n != 0 && per_byte > room / n)) return RX_STEPS_MAX;
    return static_cast<int32_t>(per_byte * n + RX_STEPS_BASE);
}

/* Rules out the hopeless positions from p on, one step each, by the prog's
 * prefilter, and returns the first that must be tried (n + 1 when none is
 * left, the flag set when the budget ran out on the way). */
static uint64_t skip_hopeless(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    switch (prog->filter) {
    case RX_FILTER_LITERAL: return rx_prefilter_skip_literal(ms, prog, t, n, p);
    case RX_FILTER_LEAD: return rx_prefilter_skip_lead(ms, &prog->lead, t, n, p);
    case RX_FILTER_RUN: return rx_prefilter_skip_run(ms, prog, t, n, p);
    case RX_FILTER_BYTES: return rx_prefilter_skip_bytes(ms, &prog->first, t, n, p);
    default: return p;
    }
}

/* The analysis of the bytes that may begin a match, made once per prog and
 * kept: 1 when it rules out some positions. */
static int first_bytes_useful(rx_prog *prog) {
    if (prog->first_state == 0) prog->first_state = rx_prefilter_analyse(prog->root, &prog->first) ? 1 : -1;
    return prog->first_state > 0;
}

/*
 * Tries the start positions from start on: 1 with the first match's span, 0
 * when there is none, -1 when a step was refused (or memory ran out). The
 * analysis of the bytes that may begin a match is made only once a couple of
 * attempts have failed, so that searches that match at once do not pay for
 * it, and the prog keeps it for its later searches.
 */
static int scan_positions(mstate *ms, rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t start,
                          uint64_t *found, uint64_t *end) {
    int failures = 0;
    for (uint64_t p = start; p <= n; p++) {
        p = skip_hopeless(ms, prog, t, n, p);
        if (ms->hit) return -1;
        if (p > n) break;
        caps_reset(ms);
        if (rx_spend_step(ms) == 0) {
            int m = rx_match_node(ms, prog->root, t, n, p, end);
            if (m < 0) return -1;
            if (m > 0) {
                *found = p;
                return ms->hit ? -1 : 1;
            }
        }
        if (ms->hit) return -1;
        if (prog->filter == RX_FILTER_UNKNOWN && ++failures == 2 && n - p >= 8)
            prog->filter = first_bytes_useful(prog) ? RX_FILTER_BYTES : RX_FILTER_NONE;
    }
    return 0;
}

/*
 * One search of a prepared pattern, drawing on the prog's budget: 1 with the
 * match's span, 0 none, -1 when a step was refused in this call (or memory
 * ran out). A match found while some step of the call was refused is no
 * match: the search fails instead. With the prog anchored only offset 0 is
 * tried. The active record is installed for the call and the previous one
 * put back on every way out.
 */
static int run_search(rx_prog *prog, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                      uint64_t *out_end, rx_caps *caps) {
    const uint8_t *t = reinterpret_cast<const uint8_t *>(text);
    if (!prog->armed) rx_engine_arm(prog, n);
    mstate ms;
    ms.steps = prog->steps_left;
    ms.hit = prog->budget_hit;
    ms.caps = caps;
    rx_match_begin(&ms);
    rx_caps *saved = g_caps;
    g_caps = caps;
    caps_reset(&ms);

    int result = 0;
    uint64_t end = 0, found = 0;
    if (ms.hit) {
        result = -1;
    } else if (prog->anchored) {
        if (start == 0 && rx_spend_step(&ms) == 0) {
            int m = rx_match_node(&ms, prog->root, t, n, 0, &end);
            if (m < 0)
                result = -1;
            else if (m > 0)
                result = ms.hit ? -1 : 1;
        }
        if (result == 0 && ms.hit) result = -1;
    } else {
        result = scan_positions(&ms, prog, t, n, start, &found, &end);
    }
    g_caps = saved;
    rx_match_end(&ms);
    prog->steps_left = ms.steps;
    prog->budget_hit = ms.hit;
    g_steps_left = ms.steps;
    g_budget_hit = ms.hit;
    g_out_of_memory = ms.oom;
    if (ms.oom) result = RX_OUT_OF_MEMORY;
    if (result == 1) {
        *out_start = found;
        *out_end = end;
    }
    return result;
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

const char *rx_engine_last_error(void) {
    if (g_out_of_memory) return "out of memory";
    if (g_budget_hit) return "backtracking limit reached";
    return "match engine error";
}

/* A literal in one case is found with memchr and memcmp; otherwise the
 * fixed-width lead, or the run and its next byte, or (once attempts fail)
 * the bytes that may begin a match. A pattern tried at offset 0 alone needs
 * none. */
static int pick_filter(rx_prog *prog) {
    if (prog->anchored) return RX_FILTER_NONE;
    const rx_node *lit = rx_prefilter_literal(prog->root);
    if (lit != nullptr && !(lit->right->flags & RX_FLAG_I)) {
        prog->prefix = lit;
        prog->prefix_rare = rx_prefilter_rare_byte(lit);
        return RX_FILTER_LITERAL;
    }
    rx_prefilter_lead(prog);
    if (prog->lead.len >= 2) return RX_FILTER_LEAD;
    rx_prefilter_run(prog);
    return prog->run != nullptr ? RX_FILTER_RUN : RX_FILTER_UNKNOWN;
}

static void choose_filter(rx_prog *prog) {
    prog->prepared_filter = pick_filter(prog);
    prog->filter = prog->prepared_filter;
}

int rx_engine_prepare(const char *pattern, rx_prog *prog, char *err, uint64_t err_size) {
    if (prog == nullptr) return -1;
    memset(prog, 0, sizeof *prog);
    if (pattern == nullptr) return -1;
    rx_parse_info info;
    prog->root = rx_parse_tree(pattern, err, err_size, &info);
    if (prog->root == nullptr) return info.out_of_memory ? RX_OUT_OF_MEMORY : -1;
    prog->anchored = info.anchored;
    prog->nodes = info.nodes;
    prog->groups = info.groups;
    if (rx_compile_tree(prog, &info) != 0) {
        rx_engine_release(prog);
        rx_parse_out_of_memory(err, err_size); /* as a parse that ran out of memory */
        return RX_OUT_OF_MEMORY;
    }
    choose_filter(prog);
    return 0;
}

/* A text's searches begin as those of a freshly prepared prog would: the
 * analysis of first bytes, kept from an earlier text, comes into force
 * only after the attempts that a fresh prog makes before it. So each text
 * costs the same steps, whatever the prog searched before. */
static void arm_budget(rx_prog *prog, uint64_t n) {
    prog->filter = prog->prepared_filter;
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
}

uint64_t rx_engine_measure(rx_prog *prog, const char *text, uint64_t limit) {
    forget_seen(prog);
    uint64_t n = prog->filter == RX_FILTER_LITERAL ? rx_prefilter_measure(prog, text, limit)
                                                   : strnlen(text, static_cast<size_t>(limit + 1));
    arm_budget(prog, n);
    return n;
}

void rx_engine_release(rx_prog *prog) {
    if (prog == nullptr) return;
    node_free(prog->root);
    prog->root = nullptr;
    free(prog->flats); /* the literal bytes share its block */
    prog->flats = nullptr;
    prog->lits = nullptr;
    free(prog->picks);
    prog->picks = nullptr;
    free(prog->first.second);
    prog->first.second = nullptr;
    free(prog->seen);
    prog->seen = nullptr;
    prog->seen_room = 0;
    forget_seen(prog);
    prog->prefix = nullptr;
    prog->run = nullptr;
    prog->run_next = nullptr;
}

int rx_engine_find_prog(rx_prog *prog, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                        uint64_t *out_end, rx_caps *caps) {
    if (prog == nullptr || prog->root == nullptr) return -1;
    return run_search(prog, text, n, start, out_start, out_end, caps);
}

/* ---- many lines of one block ---------------------------------------------------
 * Each filter rules out a position only where no match can begin. A line is
 * a part of the block, and where a filter reads only bytes (the literal,
 * the lead, the first bytes, the whole alternatives of a leading alternation
 * of literals) it keeps in the block every position it keeps
 * in the line: the line's bytes are the block's, and where the line ends
 * the block shows a line feed, which can only keep more. What a line does
 * not show is its neighbours:
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
 *     start, where no filter runs: every line is a candidate. */

/* The first position at or after p that the prog's filter keeps for some
 * line, n + 1 when there is none; p itself where the filter is not sound
 * for lines or there is none. */
static uint64_t next_line_candidate(rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    if (prog->anchored) return p;
    switch (prog->prepared_filter) {
    case RX_FILTER_LITERAL: return rx_prefilter_next_literal(prog, t, n, p);
    case RX_FILTER_LEAD: return rx_prefilter_next_lead(&prog->lead, t, n, p);
    case RX_FILTER_RUN: return rx_prefilter_next_run(prog, t, n, p);
    case RX_FILTER_UNKNOWN: {
        if (!first_bytes_useful(prog)) return p;
        const rx_node *guard = prog->first.guard;
        if (guard == nullptr) return rx_prefilter_next_alternative(&prog->first, prog->root, t, n, p);
        if (guard->kind != RX_ANCHOR) return rx_prefilter_next_bytes(&prog->first, guard, t, n, p);
        rx_node lines = *guard;
        lines.flags |= RX_FLAG_M;
        return rx_prefilter_next_bytes(&prog->first, &lines, t, n, p);
    }
    default: return p;
    }
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
