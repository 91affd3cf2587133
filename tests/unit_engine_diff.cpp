/*
 * Differential test of the pattern engine against the reference matcher
 * (tests/support/ref_matcher.*), on hand-picked and generated cases.
 *
 * The reference keeps the matching rules step for step under the call's
 * budget; the engine may charge less for work it skips, never more. So for
 * every case (one search, or a whole enumeration under one budget):
 *   - when the reference completes within the budget, the engine gives the
 *     same answer (result, span, every group's set-flag and span) and has
 *     spent no more steps than the reference;
 *   - when the reference runs out, the engine either fails with
 *     "backtracking limit reached" or gives the answer of the reference run
 *     without any budget (an enumeration: the matches found before the
 *     failure are those of the unbudgeted run).
 *
 * The reference itself is first checked against exact answers worked out by
 * hand, so that a disagreement can be blamed on the right side.
 *
 * The quick set runs by default; KRX_LONG=1 runs the long one. KRX_DIFF_SEED
 * picks another base seed for the generated cases. Everything runs on a
 * thread with a large stack because the reference recurses per iteration.
 */
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pattern_gen.h"
#include "ref_matcher.h"
#include "rx_match_win.h"

namespace {

const size_t BIG_STACK = (size_t)256 << 20;
const char LIMIT_MESSAGE[] = "backtracking limit reached";

bool long_mode() {
    const char *v = getenv("KRX_LONG");
    return v && strcmp(v, "1") == 0;
}

uint64_t base_seed() {
    const char *v = getenv("KRX_DIFF_SEED");
    return v ? strtoull(v, NULL, 0) : 0x6B656C76ull;
}

/* A text for a failure message: quoted, with long runs of one byte written
 * as a count so that texts of thousands of bytes stay readable. */
std::string show_text(const std::string &t) {
    if (t.size() <= 80) return pg_quote(t);
    std::string out;
    size_t i = 0;
    while (i < t.size()) {
        size_t j = i;
        while (j < t.size() && t[j] == t[i]) j++;
        if (!out.empty()) out += " + ";
        if (j - i >= 4)
            out += "std::string(" + std::to_string(j - i) + ", " + pg_quote(std::string(1, t[i])) + ")";
        else
            out += pg_quote(t.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string show_caps(const rx_caps &c) {
    std::string out;
    for (int g = 1; g <= RX_MAX_GROUPS; g++) {
        if (!c.set[g]) continue;
        out += " g" + std::to_string(g) + "=[" + std::to_string(c.start[g]) + "," + std::to_string(c.end[g]) +
               ")";
    }
    return out.empty() ? " no groups" : out;
}

/* ---- one search on each side ----------------------------------------------- */

/* Which engine entry point answers a case. */
enum engine_api { API_ENGINE_CAPS, API_ENGINE, API_NFA_CAPS, API_NFA, API_PROG };

struct answer {
    int result = 0;
    uint64_t start = 0, end = 0;
    rx_caps caps;
    bool has_caps = true;
    int64_t steps_left = 0;
    std::string reason; /* last-error text after -1 */
    bool outs_touched = false;
};

const uint64_t SENTINEL = 0xDEADBEEFCAFEull;
/* Steps after which a reference run without a budget is abandoned: a case
 * the engine answers in linear time can take the reference quadratic time
 * (\w+@ over a long word), and then it cannot settle the case. Such cases
 * are counted, not judged. */
const int64_t GIVE_UP = (int64_t)8 << 20;
int g_unsettled = 0;

/* Completes an engine answer from the search just run on this thread: the
 * steps it left, its span (or whether it wrote the out-parameters without a
 * match, which it must not), and its reason on failure. */
void record_outcome(answer &a, uint64_t s, uint64_t e) {
    a.steps_left = rx_engine_steps_left();
    if (a.result == 1) {
        a.start = s;
        a.end = e;
    } else {
        a.outs_touched = s != SENTINEL || e != SENTINEL;
    }
    if (a.result < 0) a.reason = rx_engine_last_error();
}

answer engine_search(const char *pattern, const std::string &text, uint64_t start, engine_api api) {
    answer a;
    memset(&a.caps, 0xA5, sizeof a.caps); /* the search must clear it */
    uint64_t s = SENTINEL, e = SENTINEL;
    const char *t = text.data();
    uint64_t n = text.size();
    switch (api) {
    case API_ENGINE_CAPS: a.result = rx_engine_find_caps(pattern, t, n, start, &s, &e, &a.caps); break;
    case API_NFA_CAPS: a.result = rx_nfa_find_caps(pattern, t, n, start, &s, &e, &a.caps); break;
    case API_ENGINE:
        a.result = rx_engine_find(pattern, t, n, start, &s, &e);
        a.has_caps = false;
        break;
    case API_NFA:
        a.result = rx_nfa_find(pattern, t, n, start, &s, &e);
        a.has_caps = false;
        break;
    case API_PROG: {
        rx_prog prog;
        char err[RX_SEARCH_ERR_SIZE];
        if (rx_engine_prepare(pattern, &prog, err, sizeof err) != 0) {
            a.result = -1;
            a.has_caps = false;
            return a;
        }
        a.result = rx_engine_find_prog(&prog, t, n, start, &s, &e, &a.caps);
        rx_engine_release(&prog);
        break;
    }
    }
    record_outcome(a, s, e);
    return a;
}

answer ref_search(const rx_node *tree, const char *pattern, const std::string &text, uint64_t start,
                  ref_budget *budget) {
    answer a;
    ref_result r;
    ref_find(tree, pattern, text.data(), text.size(), start, budget, &r);
    a.result = r.result;
    a.start = r.start;
    a.end = r.end;
    a.caps = r.caps;
    a.steps_left = r.steps_left;
    if (r.result == -1) a.reason = LIMIT_MESSAGE;
    return a;
}

/* The budget of a call over text for tree, armed. */
ref_budget call_budget(const rx_node *tree, const std::string &text) {
    ref_budget b;
    ref_budget_init(&b, ref_budget_for(text.size(), ref_count_nodes(tree)));
    return b;
}

std::string show_answer(const answer &a) {
    std::string out = "result " + std::to_string(a.result);
    if (a.result == 1) {
        out += " [" + std::to_string(a.start) + "," + std::to_string(a.end) + ")";
        if (a.has_caps) out += show_caps(a.caps);
    } else if (a.result < 0) {
        out += " (" + a.reason + ")";
    }
    out += ", steps left " + std::to_string(a.steps_left);
    return out;
}

/* Empty when the engine gives the same answer as the reference, else what
 * differs: the result, and on a match its span and every group's set-flag
 * and span (entry 0 is cleared by every search). Steps are judged apart. */
std::string answer_differences(const answer &eng, const answer &ref) {
    std::string d;
    if (eng.result != ref.result) d += " result;";
    if (eng.result == ref.result && ref.result == 1) {
        if (eng.start != ref.start || eng.end != ref.end) d += " span;";
        for (int g = 1; eng.has_caps && g <= RX_MAX_GROUPS; g++) {
            if ((eng.caps.set[g] != 0) != (ref.caps.set[g] != 0))
                d += " group " + std::to_string(g) + " set-flag;";
            else if (ref.caps.set[g] &&
                     (eng.caps.start[g] != ref.caps.start[g] || eng.caps.end[g] != ref.caps.end[g]))
                d += " group " + std::to_string(g) + " span;";
        }
        if (eng.has_caps && (eng.caps.set[0] != 0 || eng.caps.start[0] != 0 || eng.caps.end[0] != 0))
            d += " entry 0 not cleared;";
    }
    if (eng.result != 1 && eng.outs_touched) d += " out-parameters written without a match;";
    if (eng.result < 0 && eng.reason != LIMIT_MESSAGE) d += " reason;";
    return d;
}

/* The rule of the budget for one search: the engine answers as the
 * reference when the reference completed (spending no more), and otherwise
 * fails or answers as the reference without a budget (computed by the
 * caller on demand through unbudgeted()). */
template <typename F>
std::string judge(const answer &eng, const answer &ref, F unbudgeted, answer *shown) {
    *shown = ref;
    if (ref.result >= 0) {
        std::string d = answer_differences(eng, ref);
        if (eng.steps_left < ref.steps_left) d += " spent more steps than the reference;";
        return d;
    }
    if (eng.result < 0) return answer_differences(eng, ref);
    *shown = unbudgeted();
    if (shown->result == -3) {
        g_unsettled++;
        return "";
    }
    return answer_differences(eng, *shown);
}

std::string show_case(const std::string &pattern, const std::string &text, uint64_t start) {
    return "pattern " + pg_quote(pattern) + ", text " + show_text(text) + " (" + std::to_string(text.size()) +
           " bytes), start " + std::to_string(start);
}

/* Runs one case through the chosen entry point and the reference. Returns
 * "" on agreement, else a report that reproduces the case. */
std::string diff_one(const std::string &pattern, const std::string &text, uint64_t start, engine_api api) {
    char err[RX_SEARCH_ERR_SIZE];
    rx_node *tree = parse_pattern(pattern.c_str(), err, sizeof err);
    answer eng = engine_search(pattern.c_str(), text, start, api);
    if (!tree) {
        if (eng.result != -1 || eng.outs_touched)
            return show_case(pattern, text, start) + ": does not parse (" + err +
                   ") but the engine answered " + show_answer(eng);
        return "";
    }
    ref_budget budget = call_budget(tree, text);
    answer ref = ref_search(tree, pattern.c_str(), text, start, &budget), shown;
    std::string d = judge(
        eng, ref,
        [&] {
            ref_budget none;
            ref_budget_none(&none, GIVE_UP);
            return ref_search(tree, pattern.c_str(), text, start, &none);
        },
        &shown);
    node_free(tree);
    if (d.empty()) return "";
    static const char *const names[] = {"rx_engine_find_caps", "rx_engine_find", "rx_nfa_find_caps",
                                        "rx_nfa_find", "rx_engine_find_prog"};
    return show_case(pattern, text, start) + " via " + names[api] + ":" + d +
           "\n  engine:    " + show_answer(eng) + "\n  reference: " + show_answer(shown);
}

/* ---- enumeration ------------------------------------------------------------
 * Search from offset 0 under one budget for the whole call; after each match
 * continue at its end, one byte further for an empty match, and stop past the
 * end of the text, after the first match of a start-anchored pattern, at the
 * first search that finds nothing, or at a failure. */
struct enumeration {
    std::vector<answer> searches; /* every search, the last one included */
};

std::string show_enumeration(const enumeration &en) {
    std::string out;
    for (const answer &a : en.searches) out += "\n    " + show_answer(a);
    return out;
}

enumeration ref_enumerate(const rx_node *tree, const char *pattern, const std::string &text,
                          ref_budget *budget) {
    enumeration en;
    int anchored = ref_is_anchored(pattern);
    uint64_t offset = 0;
    for (;;) {
        answer a = ref_search(tree, pattern, text, offset, budget);
        en.searches.push_back(a);
        if (a.result != 1 || anchored) break;
        offset = a.end == a.start ? a.end + 1 : a.end;
        if (offset > text.size()) break;
    }
    return en;
}

/* The engine's enumeration over one prepared pattern, as the library's
 * enumeration runs it (its own anchored mark decides when to stop): a text
 * without NUL bytes, as the library's are, is measured first, which lets a
 * literal prefix note where its rare byte occurs. */
enumeration engine_enumerate(const std::string &text, rx_prog *prog) {
    enumeration en;
    if (text.find('\0') == std::string::npos) {
        const uint64_t limit = text.size() + 1;
        EXPECT_EQ(text.size(), rx_engine_measure(prog, text.c_str(), limit));
    }
    uint64_t offset = 0;
    for (;;) {
        answer a;
        uint64_t s = SENTINEL, e = SENTINEL;
        memset(&a.caps, 0, sizeof a.caps);
        a.result = rx_engine_find_prog(prog, text.data(), text.size(), offset, &s, &e, &a.caps);
        record_outcome(a, s, e);
        en.searches.push_back(a);
        if (a.result != 1 || prog->anchored) break;
        offset = a.end == a.start ? a.end + 1 : a.end;
        if (offset > text.size()) break;
        if (en.searches.size() > text.size() + 2) break; /* a stuck offset */
    }
    return en;
}

/* Search by search: the same answers over the first `count` searches. */
std::string diff_searches(const enumeration &eng, const enumeration &ref, size_t count) {
    for (size_t i = 0; i < count && i < eng.searches.size() && i < ref.searches.size(); i++) {
        std::string one = answer_differences(eng.searches[i], ref.searches[i]);
        if (!one.empty()) return " search " + std::to_string(i) + ":" + one;
    }
    return "";
}

/* The rule of the budget for a whole enumeration. When both run out, the
 * searches that both completed must agree; when only the reference runs
 * out, the engine must give the whole unbudgeted enumeration (none). */
std::string judge_enumerations(const enumeration &eng, const enumeration &ref, const enumeration &none) {
    const answer &last = eng.searches.back();
    if (ref.searches.back().result >= 0) {
        std::string d = eng.searches.size() != ref.searches.size() ? " number of searches;" : "";
        d += diff_searches(eng, ref, ref.searches.size());
        if (d.empty() && last.steps_left < ref.searches.back().steps_left)
            d += " spent more steps than the reference;";
        return d;
    }
    if (last.result < 0) {
        size_t both = std::min(eng.searches.size(), ref.searches.size()) - 1;
        return diff_searches(eng, ref, both) + (last.reason != LIMIT_MESSAGE ? " reason;" : "");
    }
    if (none.searches.empty()) return " no unbudgeted enumeration;";
    if (none.searches.back().result == -3) {
        g_unsettled++;
        return "";
    }
    std::string d = eng.searches.size() != none.searches.size() ? " number of searches;" : "";
    return d + diff_searches(eng, none, none.searches.size());
}

/* Compares the whole enumeration of the engine with the reference's under
 * one budget, and the prepared pattern's anchored mark. "" on agreement. */
std::string diff_enumeration(const std::string &pattern, const std::string &text) {
    char err[RX_SEARCH_ERR_SIZE];
    rx_node *tree = parse_pattern(pattern.c_str(), err, sizeof err);
    if (!tree) return "";
    ref_budget budget = call_budget(tree, text);
    enumeration ref = ref_enumerate(tree, pattern.c_str(), text, &budget), none;
    std::string report;
    rx_prog prog;
    if (rx_engine_prepare(pattern.c_str(), &prog, err, sizeof err) != 0) {
        node_free(tree);
        return "rx_engine_prepare refused " + pg_quote(pattern) + ", which parses";
    }
    if (prog.anchored != ref_is_anchored(pattern.c_str()))
        report += "anchored mark of " + pg_quote(pattern) + ": engine " + std::to_string(prog.anchored) +
                  ", reference " + std::to_string(ref_is_anchored(pattern.c_str())) + "\n";
    enumeration eng = engine_enumerate(text, &prog);
    rx_engine_release(&prog);
    if (ref.searches.back().result < 0 && eng.searches.back().result >= 0) {
        ref_budget unlimited;
        ref_budget_none(&unlimited, GIVE_UP);
        none = ref_enumerate(tree, pattern.c_str(), text, &unlimited);
    }
    node_free(tree);
    std::string d = judge_enumerations(eng, ref, none);
    if (!d.empty())
        report += "enumeration of " + show_case(pattern, text, 0) + ":" + d +
                  "\n  engine:" + show_enumeration(eng) + "\n  reference:" + show_enumeration(ref) +
                  (none.searches.empty() ? "" : "\n  reference without a budget:" + show_enumeration(none));
    return report;
}

/* ---- running on the big stack ------------------------------------------------ */

/* Runs fn on a thread with a big stack, for the recursive reference. The
 * work there only computes; assertions and SCOPED_TRACE belong on the
 * test's own thread. On Windows GoogleTest watches every other thread that
 * touches its per-thread state (a trace does) with a thread of its own,
 * which may still be running when the test program exits, and under Wine
 * that exit can then crash after every test has passed. */
template <typename F>
void on_big_stack(F fn) {
    ASSERT_EQ(0, ref_run_on_big_stack([](void *p) { (*static_cast<F *>(p))(); }, &fn, BIG_STACK));
}

/* ---- hand-worked answers ----------------------------------------------------
 * Exact answers of single searches. groups lists the groups that are set
 * after a match as "g:start-end" items separated by spaces ("" for none);
 * steps is the number of steps the search spent, or -1 when not worked out
 * by hand. */
/* A hand-worked search: the reference's answer under the call's budget, and
 * where the engine charges less than the rules (a part answered from its
 * memo) and so answers a search the reference is refused, its answer. */
#define SAME_AS_REFERENCE 9
struct worked_search {
    const char *pattern;
    std::string text;
    uint64_t start;
    int result;
    uint64_t match_start, match_end;
    const char *groups;
    int64_t steps;
    int engine = SAME_AS_REFERENCE;
};

std::string a_times(size_t n) { return std::string(n, 'a'); }

const std::vector<worked_search> &worked_searches() {
    static const std::vector<worked_search> table = {
        /* each node commits to its first end */
        {"a*ab", "aab", 0, 0, 0, 0, "", -1},
        {"(a|ab)c", "abc", 0, 0, 0, 0, "", -1},
        {"a|ab", "ab", 0, 1, 0, 1, "", -1},
        {"a+?b", "aab", 0, 1, 1, 3, "", -1},
        {"a??", "a", 0, 1, 0, 0, "", -1},
        {"a{2,5}?", "aaaa", 0, 1, 0, 2, "", -1},
        {"a{3,2}", "aaa", 0, 0, 0, 0, "", 20},
        {"a{0}", "a", 0, 1, 0, 0, "", -1},
        /* steps: one per start position, one per operand of a sequence,
           alternation or group, and per repetition entry and iteration */
        {"ab", "ab", 0, 1, 0, 2, "", 3},
        {"ab", "a", 0, 0, 0, 0, "", 3 + 2},
        {"ab", "xab", 0, 1, 1, 3, "", 2 + 3},
        {"ab", "xxxxx", 0, 0, 0, 0, "", 6 * 2},
        {"abc", "abx", 0, 0, 0, 0, "", (1 + 2 + 2) + (1 + 2) * 3},
        {"a*", "aa", 0, 1, 0, 2, "", 7},
        {"a", "", 0, 0, 0, 0, "", 1},
        {"(a)|b", "b", 0, 1, 0, 1, "", 4},
        {"^a|^b", "xb", 0, 0, 0, 0, "", 7},
        {"^a|b", "xb", 0, 1, 1, 2, "", 9},
        {"^a|^b", "b", 0, 1, 0, 1, "", -1},
        {"^a|^b", "ab", 1, 0, 0, 0, "", 0},
        {"a*", "ab", 2, 1, 2, 2, "", -1},
        {"a*", "ab", 3, 0, 0, 0, "", 0},
        {"(?m)^b", "a\nb", 0, 1, 2, 3, "", -1},
        {"^a|b", "abb", 1, 1, 1, 2, "", -1},
        /* bytes, flags, anchors, boundaries */
        {".", "\n", 0, 0, 0, 0, "", -1},
        {".", "\r", 0, 1, 0, 1, "", -1},
        {"(?s).", "\n", 0, 1, 0, 1, "", -1},
        {"$", "a\n", 0, 1, 2, 2, "", -1},
        {"(?m)$", "a\n", 0, 1, 1, 1, "", -1},
        {"(?i)[a-c]+", "ABC", 0, 1, 0, 3, "", -1},
        {"(?i)[^a]", "A", 0, 0, 0, 0, "", -1},
        {"(?i)a", "A", 0, 1, 0, 1, "", -1},
        {"(?i)\xE9", "\xC9", 0, 0, 0, 0, "", -1},
        {"\\bfoo\\b", "a foo b", 0, 1, 2, 5, "", -1},
        {"\\B", "ab", 0, 1, 1, 1, "", -1},
        {"\\b", "", 0, 0, 0, 0, "", -1},
        {"\\B", "", 0, 1, 0, 0, "", -1},
        /* a rolled-back recording gives the group back what it held */
        {"(?:(a)x)*", "axay", 0, 1, 0, 2, "1:0-1", -1},
        {"(a*)*", "aa", 0, 1, 0, 2, "1:0-2", -1},
        {"(a)|b", "b", 0, 1, 0, 1, "", -1},
        {"(?:(a)*(b)x)|a+b", a_times(256) + "b", 0, 1, 0, 257, "", -1},
        {"(?:(a)*(b)x)|(a)+b", a_times(300) + "b", 0, 1, 0, 301, "3:299-300", -1},
        {"((a)|b)+", "ab", 0, 1, 0, 2, "1:1-2 2:0-1", -1},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)(p)(q)", "abcdefghijklmnopq", 0, 1, 0, 17,
         "1:0-1 2:1-2 3:2-3 4:3-4 5:4-5 6:5-6 7:6-7 8:7-8 9:8-9 10:9-10 11:10-11 12:11-12 "
         "13:12-13 14:13-14 15:14-15 16:15-16",
         -1},
        /* an empty iteration below the minimum completes the repetition */
        {"(a*)+", "", 0, 1, 0, 0, "1:0-0", 6},
        {"(a*)+", "b", 0, 1, 0, 0, "1:0-0", -1},
        {"x(a*)+y", "xy", 0, 1, 0, 2, "1:1-1", -1},
        {"(?:a?){2}", "a", 0, 1, 0, 1, "", -1},
        {"(?:a?){2}", "a", 1, 1, 1, 1, "", -1},
        {"(){3}", "", 0, 1, 0, 0, "1:0-0", -1},
        /* ... but min above max still never matches */
        {"(?:a*){3,2}", "", 0, 0, 0, 0, "", -1},
        {"(a*){3,2}", "b", 0, 0, 0, 0, "", -1},
        /* no limit on repetition: a search runs as long as the text */
        {"a*", a_times(2047), 0, 1, 0, 2047, "", 2 * 2047 + 3},
        {"a*", a_times(2047), 2047, 1, 2047, 2047, "", 3},
        {"a*", a_times(3000), 0, 1, 0, 3000, "", 2 * 3000 + 3},
        {"a*b", a_times(3000) + "b", 0, 1, 0, 3001, "", 2 * 3000 + 5},
        {"\\w+", a_times(3000), 0, 1, 0, 3000, "", -1},
        {"(?:(?:(?:(a))))*", a_times(2048), 0, 1, 0, 2048, "1:2047-2048", -1},
        {"(?:ab)*", "ab" + a_times(5000), 0, 1, 0, 2, "", -1},
        {"a{0,2048}", a_times(3000), 0, 1, 0, 2048, "", -1},
        {"a{2049}", a_times(3000), 0, 1, 0, 2049, "", -1},
        {"a*?", a_times(3000), 0, 1, 0, 0, "", 2},
        /* budget: (8 + nodes) steps per byte plus 1,000,000 for the call.
           a*b over n bytes "a" spends 2r + 5 at a start with r bytes after
           it, (n + 1)(n + 5) in all, against 12n + 1,000,000 */
        {"a*b", a_times(1003), 0, 0, 0, 0, "", 1004 * 1008},
        {"a*b", a_times(1004), 0, -1, 0, 0, "", -1, 0},
        {"(a*)*b", a_times(1100), 0, -1, 0, 0, "", -1, 0},
        {"(?:a|aa)*c", a_times(1400), 0, -1, 0, 0, "", -1, 0},
        {"(a|aa)*c", a_times(1400), 0, -1, 0, 0, "", -1, 0},
        /* a bounded repetition's iterations depend on how many came before:
           every start walks the rest of the run again */
        {"(?:a|b){0,5000}c", a_times(1500), 0, -1, 0, 0, "", -1},
        {"(a*)*b", a_times(200), 0, 0, 0, 0, "", 200 * 201 + 13 * 200 + 8},
        /* a greedy repetition whose entry step is refused keeps what it
           has: a match reached so is a failure */
        {"(?:a+b|a)*", a_times(3000), 0, -1, 0, 0, "", -1, 1},
        {"(?:(?:a|b){0,3000}x|a)*", a_times(3000), 0, -1, 0, 0, "", -1},
    };
    return table;
}

/* Parses "g:s-e g:s-e" into the set flags and spans it names. */
rx_caps expected_caps(const char *groups) {
    rx_caps c;
    memset(&c, 0, sizeof c);
    const char *p = groups;
    while (*p) {
        char *next;
        long g = strtol(p, &next, 10);
        unsigned long long s = strtoull(next + 1, &next, 10);
        unsigned long long e = strtoull(next + 1, &next, 10);
        c.set[g] = 1;
        c.start[g] = s;
        c.end[g] = e;
        p = next;
        while (*p == ' ') p++;
    }
    return c;
}

/* Whole enumerations worked out by hand: the matches as "s-e" items; the
 * last search's result (0 or -1). */
/* A hand-worked enumeration under one budget: the reference's matches and
 * last result, and where the engine answers what the reference is refused,
 * its last result. */
struct worked_enumeration {
    const char *pattern;
    std::string text;
    const char *matches;
    int last;
    int engine_last = SAME_AS_REFERENCE;
};

const std::vector<worked_enumeration> &worked_enumerations() {
    static const std::vector<worked_enumeration> table = {
        {"a*", "", "0-0", 0},
        {"a", "", "", 0},
        {"a*", "b", "0-0 1-1", 0},
        {"a*", "ab", "0-1 1-1 2-2", 0},
        {"a", "aaa", "0-1 1-2 2-3", 0},
        {"^a", "aa", "0-1", 0},
        {"^b", "ab", "", 0},
        {"^a|b", "xb", "1-2", 0},
        {"^a|b", "abb", "0-1 1-2 2-3", 0},
        {"^a|^b", "ab", "0-1", 0},
        {"^a|^b|", "ab", "0-1 1-1 2-2", 0},
        {"(?m)^a", "a\na", "0-1 2-3", 0},
        {"(?:a?){2}", "a", "0-1 1-1", 0},
        {"a*", a_times(2047), "0-2047 2047-2047", 0},
        {"a*", a_times(3000), "0-3000 3000-3000", 0},
        {"b|a*", a_times(10) + "b" + a_times(2100), "0-10 10-11 11-2111 2111-2111", 0},
        /* one budget for the call: each search alone fits, both do not */
        {"a*c|b", a_times(800) + "b", "800-801", 0},
        {"a*c|b", a_times(800), "", 0},
        {"a*c|b", a_times(800) + "b" + a_times(800), "800-801", -1, 0},
    };
    return table;
}

/* The matches of an enumeration as "s-e s-e", and the last search's result. */
std::string matches_of(const enumeration &en, int *last) {
    std::string out;
    for (const answer &a : en.searches) {
        if (a.result != 1) continue;
        if (!out.empty()) out += ' ';
        out += std::to_string(a.start) + "-" + std::to_string(a.end);
    }
    *last = en.searches.empty() ? 99 : en.searches.back().result;
    if (!en.searches.empty() && en.searches.back().result == 1) *last = 0;
    return out;
}

/* ---- the reference against hand-worked answers -------------------------------- */

TEST(ReferenceMatcher, WorkedSearches) {
    const std::vector<worked_search> &table = worked_searches();
    std::vector<ref_result> results(table.size());
    std::vector<int> parsed(table.size(), 0);
    on_big_stack([&] {
        for (size_t i = 0; i < table.size(); i++) {
            const worked_search &w = table[i];
            ref_find_pattern(w.pattern, w.text.data(), w.text.size(), w.start, 1, &results[i], &parsed[i]);
        }
    });
    for (size_t i = 0; i < table.size(); i++) {
        const worked_search &w = table[i];
        const ref_result &r = results[i];
        SCOPED_TRACE(show_case(w.pattern, w.text, w.start));
        ASSERT_EQ(1, parsed[i]);
        EXPECT_EQ(w.result, r.result);
        if (w.result == 1) {
            EXPECT_EQ(w.match_start, r.start);
            EXPECT_EQ(w.match_end, r.end);
            rx_caps want = expected_caps(w.groups);
            EXPECT_EQ(show_caps(want), show_caps(r.caps));
        }
        EXPECT_EQ(w.result == -1 ? 1 : 0, r.budget_hit);
        if (w.steps >= 0) {
            EXPECT_EQ(w.steps, r.spent);
        }
    }
}

TEST(ReferenceMatcher, WorkedEnumerations) {
    const std::vector<worked_enumeration> &table = worked_enumerations();
    std::vector<enumeration> found(table.size());
    std::vector<std::string> errors(table.size());
    on_big_stack([&] {
        for (size_t i = 0; i < table.size(); i++) {
            const worked_enumeration &w = table[i];
            char err[RX_SEARCH_ERR_SIZE];
            rx_node *tree = parse_pattern(w.pattern, err, sizeof err);
            if (tree == nullptr) {
                errors[i] = err;
                continue;
            }
            ref_budget budget = call_budget(tree, w.text);
            found[i] = ref_enumerate(tree, w.pattern, w.text, &budget);
            node_free(tree);
        }
    });
    for (size_t i = 0; i < table.size(); i++) {
        const worked_enumeration &w = table[i];
        SCOPED_TRACE(show_case(w.pattern, w.text, 0));
        ASSERT_EQ("", errors[i]);
        int last = 0;
        EXPECT_EQ(w.matches, matches_of(found[i], &last));
        EXPECT_EQ(w.last, last);
    }
}

/* Which patterns are tried at offset 0 alone: the first byte is "^" and so
 * is the first byte of every other top-level alternative, read from the
 * pattern text (a group that begins with "^" does not count). */
struct anchored_row {
    const char *pattern;
    int anchored;
};

const std::vector<anchored_row> &anchored_rows() {
    static const std::vector<anchored_row> table = {
        {"^a", 1},       {"^a|^b", 1},     {"^a|b", 0},        {"^a|", 0},      {"^", 1},
        {"a|^b", 0},     {"(?m)^a", 0},    {"^(a|b)", 1},      {"^(a|b)|c", 0}, {"^[|]", 1},
        {"^[]|]", 1},    {"^[^]|]|^x", 1}, {"^\\|b", 1},       {"^a|\\^b", 0},  {"^a|(?:^b)", 0},
        {"^a|^b|^c", 1}, {"^a||^c", 0},    {"^(?:a|b)|^c", 1}, {"^a\\", 1},     {"^a|(^b)", 0},
        {"^a|^", 1},     {"^$|^b", 1},     {"^a{2}|^b*", 1},   {"^[a|]|b", 0},  {"^(|)|^", 1},
    };
    return table;
}

TEST(ReferenceMatcher, AnchoredRule) {
    for (const anchored_row &row : anchored_rows())
        EXPECT_EQ(row.anchored, ref_is_anchored(row.pattern)) << row.pattern;
}

/* The log of a rolled-back group is unbounded: 5000 recordings on the
 * current path are all taken back by the failing tail. */
TEST(ReferenceMatcher, UndoLogHasNoLimit) {
    on_big_stack([] {
        std::string text = a_times(1500) + "b";
        ref_result r;
        int parsed = 0;
        ref_find_pattern("(?:(a)*(b)x)|a+b", text.data(), text.size(), 0, 1, &r, &parsed);
        ASSERT_EQ(1, parsed);
        ASSERT_EQ(1, r.result);
        EXPECT_EQ(0u, r.start);
        EXPECT_EQ(1501u, r.end);
        EXPECT_EQ(" no groups", show_caps(r.caps));
    });
}

/* ---- the generator on its own ------------------------------------------------ */

TEST(PatternGenerator, SameSeedSameCases) {
    pg_options opt;
    pg_default_options(&opt);
    for (uint64_t seed = 1; seed <= 50; seed++) {
        pg_rng a, b;
        pg_seed(&a, seed);
        pg_seed(&b, seed);
        std::string pa = pg_pattern(&a, &opt), pb = pg_pattern(&b, &opt);
        EXPECT_EQ(pa, pb);
        EXPECT_EQ(pg_text(&a, pa, 20), pg_text(&b, pb, 20));
    }
}

TEST(PatternGenerator, CoversTheSyntaxAndMostlyParses) {
    pg_options opt;
    pg_default_options(&opt);
    pg_rng rng;
    pg_seed(&rng, 7);
    const char *const features[] = {"(?:", "(?i)", "(?m)", "(?s)", "|", "*",  "+",   "?",    "*?",  "+?",
                                    "??",  "{",    ",}",   "}?",   "[", "[^", "\\d", "\\w",  "\\s", "\\D",
                                    "\\W", "\\S",  "\\b",  "\\B",  "^", "$",  ".",   "\xE9", "\n",  "A"};
    std::vector<int> seen(sizeof features / sizeof features[0], 0);
    int parsed = 0, total = 3000, min_gt_max = 0, empty_alt = 0, anchored = 0;
    for (int i = 0; i < total; i++) {
        std::string p = pg_pattern(&rng, &opt);
        for (size_t f = 0; f < seen.size(); f++)
            if (p.find(features[f]) != std::string::npos) seen[f]++;
        for (size_t k = 0; k + 4 < p.size(); k++)
            if (p[k] == '{' && p[k + 2] == ',' && p[k + 4] == '}' && p[k + 1] > p[k + 3]) min_gt_max++;
        if (p.find("||") != std::string::npos || p.find("(|") != std::string::npos) empty_alt++;
        if (ref_is_anchored(p.c_str())) anchored++;
        char err[RX_SEARCH_ERR_SIZE];
        rx_node *tree = parse_pattern(p.c_str(), err, sizeof err);
        if (tree) parsed++;
        node_free(tree);
        std::string t = pg_text(&rng, p, 16);
        EXPECT_LE(t.size(), 16u);
        EXPECT_EQ(777u, pg_long_text(&rng, p, 777).size());
    }
    for (size_t f = 0; f < seen.size(); f++) EXPECT_GT(seen[f], 5) << pg_quote(features[f]);
    EXPECT_GT(min_gt_max, 5);
    EXPECT_GT(empty_alt, 5);
    EXPECT_GT(anchored, 50);
    EXPECT_GT(parsed, total * 85 / 100);
    EXPECT_LT(parsed, total);
}

/* ---- the engine against the reference ------------------------------------------ */

/* The hand-worked cases always run, through every entry point, and the
 * engine must also give the hand-worked answer itself. */
TEST(EngineDiff, WorkedSearches) {
    on_big_stack([] {
        const engine_api apis[] = {API_ENGINE_CAPS, API_ENGINE, API_NFA_CAPS, API_NFA, API_PROG};
        for (const worked_search &w : worked_searches()) {
            for (engine_api api : apis) {
                std::string d = diff_one(w.pattern, w.text, w.start, api);
                EXPECT_EQ("", d);
            }
            answer eng = engine_search(w.pattern, w.text, w.start, API_ENGINE_CAPS);
            const int want = w.engine != SAME_AS_REFERENCE ? w.engine : w.result;
            EXPECT_EQ(want, eng.result) << show_case(w.pattern, w.text, w.start);
            if (want == -1) {
                EXPECT_STREQ(LIMIT_MESSAGE, rx_engine_last_error());
            }
        }
    });
}

TEST(EngineDiff, WorkedEnumerations) {
    on_big_stack([] {
        for (const worked_enumeration &w : worked_enumerations()) {
            EXPECT_EQ("", diff_enumeration(w.pattern, w.text));
            rx_prog prog;
            char err[RX_SEARCH_ERR_SIZE];
            ASSERT_EQ(0, rx_engine_prepare(w.pattern, &prog, err, sizeof err));
            enumeration en = engine_enumerate(w.text, &prog);
            rx_engine_release(&prog);
            int last = 0;
            EXPECT_EQ(w.matches, matches_of(en, &last)) << show_case(w.pattern, w.text, 0);
            EXPECT_EQ(w.engine_last != SAME_AS_REFERENCE ? w.engine_last : w.last, last)
                << show_case(w.pattern, w.text, 0);
        }
    });
}

/* The prepared pattern's anchored mark, and the searches (whose steps show
 * which offsets were tried) of the anchored and the nearly anchored. */
TEST(EngineDiff, AnchoredPatterns) {
    const char *const texts[] = {"", "a", "b", "ab", "xb", "ba", "aab", "a|b"};
    for (const anchored_row &row : anchored_rows()) {
        rx_prog prog;
        char err[RX_SEARCH_ERR_SIZE];
        ASSERT_EQ(0, rx_engine_prepare(row.pattern, &prog, err, sizeof err)) << row.pattern;
        EXPECT_EQ(row.anchored, prog.anchored) << row.pattern;
        rx_engine_release(&prog);
        for (const char *t : texts) {
            for (uint64_t start = 0; start < 3; start++) {
                EXPECT_EQ("", diff_one(row.pattern, t, start, API_ENGINE_CAPS));
                EXPECT_EQ("", diff_one(row.pattern, t, start, API_PROG));
            }
            EXPECT_EQ("", diff_enumeration(row.pattern, t));
        }
    }
}

/* A pattern that does not parse fails the search without a budget. */
TEST(EngineDiff, UnparsablePatterns) {
    const char *const bad[] = {"*a", "(a", "[a", "a)", "a**", "(?x)a", "(?i:a)"};
    for (const char *p : bad) {
        EXPECT_EQ("", diff_one(p, "aaa", 0, API_ENGINE_CAPS));
        EXPECT_EQ("", diff_one(p, "aaa", 0, API_PROG));
    }
}

/* Patterns whose repetitions run long enough to spend the whole budget, on
 * texts around that limit. */
TEST(EngineDiff, BudgetLimits) {
    on_big_stack([] {
        const char *const patterns[] = {
            "(a*)*b",
            "(a|aa)*c",
            "(?:a+)+b",
            "((a)*)*x",
            "(a*?)*b",
            "(?:(?:(?:(a))))*",
            "(?:(?:(?:(a))))*b",
            "(a|b)*",
            "(?:a|b)*c",
            "(?:(a)|b)+$",
            "\\w+\\s",
            "a*",
            "(?:a*)+$",
            "(?:(a)(a)?)*$",
            "(?:a{1,3})*b",
            "(a+?)*b",
            "([ab]*)*c",
            "(?i)(A*)*b",
            "a{2048}",
            "a{2049}",
            "a{0,2048}",
            "(a){2047,}?",
            "(?:a{2}){1024}",
            "(?:(?:a{2}){2})*b",
            "(?m)(?:^a*$\n?)*x",
        };
        const size_t quick[] = {0, 1, 700, 1003, 1004, 1100, 2048, 3000};
        const size_t extra[] = {300, 500, 900, 1000, 1200, 1500, 1800, 2000, 2046, 2100, 2500, 4000, 6000};
        std::vector<size_t> lens(quick, quick + sizeof quick / sizeof quick[0]);
        if (long_mode()) lens.insert(lens.end(), extra, extra + sizeof extra / sizeof extra[0]);
        int failures = 0;
        for (const char *p : patterns) {
            for (size_t len : lens) {
                const std::string tails[] = {"", "b", "c", "ab"};
                for (const std::string &tail : tails) {
                    std::string text = a_times(len) + tail;
                    std::string d = diff_one(p, text, 0, API_ENGINE_CAPS);
                    if (!d.empty() && failures++ < 10) ADD_FAILURE() << d;
                }
                std::string alt;
                for (size_t i = 0; i < len; i++) alt += (i % 3 == 2) ? 'b' : 'a';
                std::string d = diff_one(p, alt, 0, API_ENGINE_CAPS);
                if (!d.empty() && failures++ < 10) ADD_FAILURE() << d;
                d = diff_enumeration(p, alt + "b" + alt);
                if (!d.empty() && failures++ < 10) ADD_FAILURE() << d;
            }
        }
        EXPECT_EQ(0, failures);
    });
}

/* Start positions that cannot begin a match are ruled out without an
 * attempt; these shapes and texts (long runs where nothing can begin, the
 * budget running out in the middle of them) check that this changes no
 * answer. */
TEST(EngineDiff, SkippedStartPositions) {
    const char *const patterns[] = {"\\bab\\b",
                                    "(?m)^b",
                                    "$a",
                                    "\\Bb",
                                    "\\b(?:ab|ba)",
                                    "x",
                                    "(?i)x",
                                    "[xy]z",
                                    "(?:ab|cd)+",
                                    "(a)b",
                                    "\\w+@",
                                    "a{1,0}b",
                                    "(?:a|\\d)x",
                                    "(?:(?:b))c",
                                    "(?:abcdefgh|ijklmnop|qrstuvwx)z",
                                    "(\\bq)",
                                    "(?:\\bq|r)",
                                    "b+?c",
                                    "\\b",
                                    "(?m)$\\n",
                                    "(?:yyyyyyyyyy|zzzzzzzzzz)+q",
                                    "\\Bqrstuvwxyzqrstuvwxyz",
                                    "\\bqrstuvwxyz",
                                    "(?:(?:(?:(?:(a))b)c)d)e",
                                    "a{0,1000}b",
                                    "[ab]{2,900}?c",
                                    "(?i)A{3,}x",
                                    "(?:a{1,700}|b)+c",
                                    "(\\w+)@(\\w+)\\.com",
                                    "[ab]+c",
                                    "(?i)[A-B]+y",
                                    "(a+)b",
                                    "a+(?:bc|d)",
                                    "\\w+\\b\\s",
                                    "(?:b+)a",
                                    "\\d{2}-\\d",
                                    "(?i)ab{2}",
                                    "(?i)[a-c]{2}x",
                                    "(a)b{2,3}c",
                                    "a{2}?b",
                                    "(?i)BA",
                                    "[xy]a.b",
                                    "(?:ab){2}y"};
    std::vector<std::string> texts;
    pg_rng rng;
    pg_seed(&rng, 7);
    for (size_t len : {9, 40, 300, 5000}) {
        for (const char *alphabet : {"ab ", "abxyz\n", "y", "ab"}) {
            std::string t;
            size_t k = strlen(alphabet);
            for (size_t i = 0; i < len; i++) t += alphabet[pg_below(&rng, (uint32_t)k)];
            texts.push_back(t);
        }
    }
    texts.push_back(std::string(100000, 'y'));
    texts.push_back(a_times(100000));
    texts.push_back(a_times(2000) + "b" + a_times(3000));
    texts.push_back(std::string(100000, 'y') + "ab");
    texts.push_back(std::string(99990, 'y') + " ab q");
    std::string mail;
    while (mail.size() < 3000) mail += "ab@cd.com x@y a@b.com aab, bbbc.ad 12-3 Abb ABB xbya abab ";
    texts.push_back(mail);
    on_big_stack([&] {
        int failures = 0;
        for (const char *p : patterns) {
            for (const std::string &t : texts) {
                const bool long_text = t.size() > 5000; /* the reference is slow there */
                for (uint64_t start : {uint64_t(0), uint64_t(3)}) {
                    for (engine_api api : {API_ENGINE_CAPS, API_ENGINE}) {
                        if (long_text && (start > 0 || api != API_ENGINE_CAPS)) continue;
                        std::string d = diff_one(p, t, start, api);
                        if (!d.empty() && failures++ < 10) ADD_FAILURE() << d;
                    }
                }
                if (long_text) continue;
                std::string d = diff_enumeration(p, t);
                if (!d.empty() && failures++ < 10) ADD_FAILURE() << d;
            }
        }
        EXPECT_EQ(0, failures);
    });
    printf("[ skipped   ] %d cases the reference could not settle without a budget\n", g_unsettled);
}

/* The engine rules hopeless positions out for one step where the reference
 * spends four, and that is what lets it finish: the reference runs out of
 * budget, the engine answers as the reference does without one. */
TEST(EngineDiff, AnswersWhereTheReferenceRunsOut) {
    const char *pattern = "(?:a|b)[ab]*c";
    const std::string text = a_times(4000) + std::string(1000000, ' ');
    on_big_stack([&] {
        EXPECT_EQ("", diff_one(pattern, text, 0, API_ENGINE_CAPS));
        EXPECT_EQ("", diff_enumeration(pattern, text));
    });
    ref_result r;
    int parsed = 0;
    on_big_stack([&] { ref_find_pattern(pattern, text.data(), text.size(), 0, 1, &r, &parsed); });
    EXPECT_EQ(-1, r.result);
    answer eng = engine_search(pattern, text, 0, API_ENGINE_CAPS);
    EXPECT_EQ(0, eng.result);
}

/* A short text that the pattern matches from its start, consuming all of
 * it, or "" when a few tries find none. */
std::string unit_matched_by(pg_rng *rng, const std::string &pattern) {
    char err[RX_SEARCH_ERR_SIZE];
    rx_node *tree = parse_pattern(pattern.c_str(), err, sizeof err);
    if (!tree) return "";
    std::string found;
    for (int attempt = 0; attempt < 30 && found.empty(); attempt++) {
        std::string cand = pg_text(rng, pattern, 4);
        if (cand.empty()) continue;
        ref_budget budget;
        ref_budget_init(&budget, 100000);
        ref_state st;
        ref_state_init(&st, &budget);
        uint64_t e = 0;
        if (ref_match_node(&st, tree, cand.data(), cand.size(), 0, &e) && e == cand.size()) found = cand;
        ref_state_free(&st);
    }
    node_free(tree);
    return found;
}

/* Random patterns over long texts: the budget and the depth limit in
 * combination with everything else. */
TEST(EngineDiff, GeneratedLongTexts) {
    on_big_stack([] {
        int cases = long_mode() ? 2000 : 150;
        pg_options opt;
        pg_default_options(&opt);
        opt.max_items = 3;
        opt.invalid_percent = 0;
        const size_t lens[] = {700, 1500, 3000, 5000, 8000};
        int failures = 0, matched = 0, refused = 0;
        for (int i = 0; i < cases; i++) {
            pg_rng rng;
            pg_seed(&rng, base_seed() * 1000003u + 0x10000000u + (uint64_t)i);
            /* half of the patterns are put under a repetition with a tail
               and run over a text that repeats a piece they match, so that
               they iterate over the whole text and back off at its end */
            bool wrap = pg_chance(&rng, 50);
            opt.flags_percent = wrap ? 0 : 12;
            opt.anchor_percent = wrap ? 0 : 8;
            std::string p = pg_pattern(&rng, &opt);
            size_t len = lens[pg_below(&rng, 5)];
            std::string t;
            if (wrap) {
                std::string unit = unit_matched_by(&rng, p);
                /* the last ones give every start the same run to walk and a
                   follower that fails after it, so the memo answers most of
                   them; shared prefixes make the alternatives retry */
                static const char *const shapes[][3] = {
                    {"(?:", ")*x", ""},          {"(", ")+$", ""},       {"(?:", ")*?b", ""},
                    {"((?:", ")*)*c", ""},       {"(?:", "|a)*\\b", ""}, {"(?:", ")+\x01", ""},
                    {"(?:", ")*(?:", ")\x02"},   {"(", "|", "a)*\x03"},  {"(?:(", ")|(", ")x)*y"},
                    {"[^\x04]*(?:", ")\x04", ""}};
                uint32_t k = pg_below(&rng, 10);
                p = shapes[k][0] + p + shapes[k][1] + (shapes[k][2][0] ? p + shapes[k][2] : "");
                if (!unit.empty())
                    while (t.size() < len) t += unit;
            }
            if (t.empty()) t = pg_long_text(&rng, p, len);
            uint64_t start = pg_chance(&rng, 80) ? 0 : pg_below(&rng, (uint32_t)t.size() + 2);
            std::string d = diff_one(p, t, start, API_ENGINE_CAPS);
            if (!d.empty() && failures++ < 10) ADD_FAILURE() << "long case " << i << ": " << d;
            if (i % 5 == 0) { /* the memo kept across the searches of one call */
                d = diff_enumeration(p, t);
                if (!d.empty() && failures++ < 10) ADD_FAILURE() << "long case " << i << ": " << d;
            }
            ref_result rr;
            int parsed = 0;
            ref_find_pattern(p.c_str(), t.data(), t.size(), start, 1, &rr, &parsed);
            if (parsed && rr.result == 1) matched++;
            if (parsed && rr.result == -1) refused++;
        }
        EXPECT_EQ(0, failures);
        /* the set must reach the limits often, and match often too */
        EXPECT_GT(refused, cases / 20);
        EXPECT_GT(matched, cases / 4);
        printf("[ generated ] %d long cases: %d matched, %d refused\n", cases, matched, refused);
    });
}

/* ---- long alternations of literals --------------------------------------------- */

/* Words over a small alphabet that share prefixes and are prefixes of one
 * another (a|ab), now and then with a capital, a high byte or a byte that
 * needs an escape, and now and then one longer than the alternation (where
 * the rules charge less than the trie's walk). */
std::vector<std::string> literal_words(pg_rng *rng, int count) {
    std::vector<std::string> words;
    for (int i = 0; i < count; i++) {
        std::string w;
        if (pg_chance(rng, i == 0 ? 20 : 3)) {
            for (uint32_t k = 17 + pg_below(rng, 14); k > 0; k--) w += "abc"[pg_below(rng, 3)];
            words.push_back(w);
            continue;
        }
        if (!words.empty() && pg_chance(rng, 40)) w = words[pg_below(rng, (uint32_t)words.size())];
        if (pg_chance(rng, 50) && w.size() > 1) w.resize(pg_below(rng, (uint32_t)w.size()) + 1);
        for (uint32_t k = pg_below(rng, 4) + (w.empty() ? 1 : 0); k > 0; k--) {
            uint32_t r = pg_below(rng, 100);
            w += r < 80 ? "abc"[pg_below(rng, 3)] : r < 90 ? 'B' : r < 95 ? '\xE9' : '.';
        }
        words.push_back(w);
    }
    return words;
}

/* The words joined by "|" (escaped), in one of the shapes a host meets:
 * plain, in a group, case-insensitive, with an anchor or a boundary in
 * front, with items after, repeated. */
std::string literal_alternation(pg_rng *rng, const std::vector<std::string> &words) {
    std::string alt;
    for (const std::string &w : words) {
        if (!alt.empty()) alt += '|';
        for (char c : w) alt += c == '.' ? std::string("\\.") : std::string(1, c);
    }
    static const char *const shapes[][2] = {
        {"", ""},           {"(?:", ")"},      {"(", ")"},        {"(?i)", ""},     {"(?i)(?:", ")x"},
        {"\\b(?:", ")\\b"}, {"^(?:", ")"},     {"(?m)^(?:", ")"}, {"(?:", ")$"},    {"(?:", ")+"},
        {"x(?:", ")"},      {"(?:", ")\\w*c"}, {"\\B(?:", ")"},   {"(?:", nullptr}, {"c*(?:", ")"}};
    uint32_t k = pg_below(rng, sizeof shapes / sizeof shapes[0]);
    if (shapes[k][1] == nullptr) return "(?:" + alt + ")(?:" + alt + ")";
    return shapes[k][0] + alt + shapes[k][1];
}

/* A text of words of the list and bytes around them; in a sparse one the
 * words stand far apart in bytes no word holds, so that each occurrence is
 * found by the search alone. */
std::string literal_text(pg_rng *rng, const std::vector<std::string> &words, size_t len) {
    std::string t;
    const bool sparse = pg_chance(rng, 50);
    while (t.size() < len) {
        uint32_t r = pg_below(rng, 100);
        if (sparse)
            t += r < 4 ? words[pg_below(rng, (uint32_t)words.size())] : std::string(1, "xyz -"[r % 5]);
        else if (r < 45)
            t += words[pg_below(rng, (uint32_t)words.size())];
        else if (r < 55)
            t += ' ';
        else if (r < 60)
            t += '\n';
        else
            t += "abcABx "[pg_below(rng, 7)];
    }
    t.resize(len);
    return t;
}

/* Alternations of 2 to 120 literals (a byte table below 17, a trie above;
 * Teddy masks up to 64, the automaton beyond) over texts long enough for the
 * search to use them, single searches and whole enumerations. */
TEST(EngineDiff, GeneratedLiteralAlternations) {
    on_big_stack([] {
        const int cases = long_mode() ? 4000 : 400;
        const size_t lens[] = {10, 70, 200, 900, 3000};
        int failures = 0;
        for (int i = 0; i < cases; i++) {
            pg_rng rng;
            pg_seed(&rng, base_seed() * 1000003u + 0x20000000u + (uint64_t)i);
            std::vector<std::string> words = literal_words(&rng, 2 + (int)pg_below(&rng, 119));
            std::string p = literal_alternation(&rng, words);
            std::string t = literal_text(&rng, words, lens[pg_below(&rng, 5)]);
            uint64_t start = pg_chance(&rng, 70) ? 0 : pg_below(&rng, (uint32_t)t.size() + 1);
            std::string d = diff_one(p, t, start, pg_chance(&rng, 50) ? API_PROG : API_ENGINE_CAPS);
            if (!d.empty() && failures++ < 10) ADD_FAILURE() << "case " << i << ": " << d;
            d = diff_enumeration(p, t);
            if (!d.empty() && failures++ < 10) ADD_FAILURE() << "case " << i << ": " << d;
        }
        EXPECT_EQ(0, failures);
    });
}

/* Two or three bytes put before a pattern, so that every match begins with
 * a literal: the library's enumeration then measures the text by the
 * literal's least common byte and looks its offsets up. */
std::string with_literal_prefix(pg_rng *rng, const std::string &p) {
    static const char bytes[] = "abcx";
    std::string literal;
    for (uint32_t k = 2 + pg_below(rng, 2); k > 0; k--) literal += bytes[pg_below(rng, 4)];
    return literal + "(?:" + p + ")";
}

/* The main generated set: small patterns, short texts, assorted start
 * offsets and entry points; every fourth case also compares whole
 * enumerations, and so does every case given a literal prefix (one in
 * ten), over a text without NUL bytes as the library's are. */
TEST(EngineDiff, GeneratedCases) {
    on_big_stack([] {
        int cases = long_mode() ? 150000 : 20000;
        pg_options opt;
        pg_default_options(&opt);
        int failures = 0, matched = 0, unmatched = 0, refused = 0, unparsed = 0;
        for (int i = 0; i < cases; i++) {
            pg_rng rng;
            pg_seed(&rng, base_seed() * 1000003u + (uint64_t)i);
            std::string p = pg_pattern(&rng, &opt);
            const bool literal = pg_chance(&rng, 10);
            if (literal) p = with_literal_prefix(&rng, p);
            std::string t = pg_text(&rng, p, 24);
            if (literal) t.erase(std::remove(t.begin(), t.end(), '\0'), t.end());
            uint64_t start = pg_chance(&rng, 75) ? 0 : pg_below(&rng, (uint32_t)t.size() + 2);
            engine_api api = API_ENGINE_CAPS;
            uint32_t r = pg_below(&rng, 100);
            if (r < 8)
                api = API_ENGINE;
            else if (r < 16)
                api = API_NFA_CAPS;
            else if (r < 20)
                api = API_NFA;
            else if (r < 30)
                api = API_PROG;
            std::string d = diff_one(p, t, start, api);
            if (!d.empty() && failures++ < 20) ADD_FAILURE() << "case " << i << ": " << d;
            if (i % 4 == 0 || literal) {
                d = diff_enumeration(p, t);
                if (!d.empty() && failures++ < 20) ADD_FAILURE() << "case " << i << ": " << d;
            }
            ref_result rr;
            int parsed = 0;
            ref_find_pattern(p.c_str(), t.data(), t.size(), start, 1, &rr, &parsed);
            if (!parsed)
                unparsed++;
            else if (rr.result == 1)
                matched++;
            else if (rr.result == 0)
                unmatched++;
            else
                refused++;
        }
        EXPECT_EQ(0, failures);
        /* the mix must exercise both outcomes */
        EXPECT_GT(matched, cases / 4);
        EXPECT_GT(unmatched, cases / 20);
        printf("[ generated ] %d cases: %d matched, %d unmatched, %d refused, %d unparsed\n", cases, matched,
               unmatched, refused, unparsed);
    });
}

/* A block of lines read by rx_engine_next_candidate: it may never pass over
 * a line in which a search of that line alone (with the same prog, armed
 * for the line, as grep uses it) finds a match or fails, from any start,
 * a line start or a byte inside a line. */
std::string diff_block(pg_rng *rng, const std::string &pattern, const std::string &block) {
    rx_prog prog;
    char err[RX_SEARCH_ERR_SIZE];
    if (rx_engine_prepare(pattern.c_str(), &prog, err, sizeof err) != 0) return "";
    struct line {
        uint64_t start, end;
        int verdict;
    };
    std::vector<line> lines;
    for (uint64_t at = 0; at < block.size();) {
        uint64_t end = block.find('\n', at);
        uint64_t s = 0, e = 0;
        rx_engine_arm(&prog, end - at);
        lines.push_back(
            {at, end, rx_engine_find_prog(&prog, block.data() + at, end - at, 0, &s, &e, nullptr)});
        at = end + 1;
    }
    std::string report;
    const uint8_t *t = reinterpret_cast<const uint8_t *>(block.data());
    for (size_t k = 0; k < lines.size() && report.empty(); k++) {
        const uint64_t inside = lines[k].start + pg_below(rng, (uint32_t)(lines[k].end - lines[k].start + 1));
        for (uint64_t from : {lines[k].start, inside}) {
            const uint64_t r = rx_engine_next_candidate(&prog, t, block.size(), from);
            if (r < from || r > block.size() + 1)
                report += " from " + std::to_string(from) + ": r " + std::to_string(r);
            for (const line &l : lines)
                if (l.end >= from && l.end < r && l.verdict != 0)
                    report += " from " + std::to_string(from) + ": r " + std::to_string(r) +
                              " passes the line at " + std::to_string(l.start) + " (search " +
                              std::to_string(l.verdict) + ");";
        }
    }
    rx_engine_release(&prog);
    return report.empty() ? "" : "block of " + show_case(pattern, block, 0) + ":" + report;
}

/* Generated patterns over blocks of generated texts joined by line feeds. */
TEST(EngineDiff, GeneratedBlocksOfLines) {
    on_big_stack([] {
        int cases = long_mode() ? 40000 : 4000;
        pg_options opt;
        pg_default_options(&opt);
        int failures = 0;
        for (int i = 0; i < cases; i++) {
            pg_rng rng;
            pg_seed(&rng, base_seed() * 7919u + (uint64_t)i);
            std::string p = pg_pattern(&rng, &opt);
            std::string block;
            for (uint32_t k = 2 + pg_below(&rng, 4); k > 0; k--) block += pg_text(&rng, p, 12) + "\n";
            std::string d = diff_block(&rng, p, block);
            if (!d.empty() && failures++ < 20) ADD_FAILURE() << "case " << i << ": " << d;
        }
        EXPECT_EQ(0, failures);
    });
}

} /* namespace */
