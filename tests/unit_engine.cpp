// Matcher and search: the worked cases of the matching rules (with the four
// repairs: a match cut short by a refused step is a failure, the anchored
// shortcut only when every top-level alternative is anchored, rollback that
// restores a group's earlier recording, and an empty iteration below the
// minimum completing the repetition), capture records, the state after each
// outcome, exact step counts, the depth limit with nested repetitions on a
// 1 MiB stack, 10 MiB texts, out-of-memory paths, and a check against a
// small recursive transcription of the rules on generated patterns.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rx_match_win.h"
#include "test_support.h"

namespace {

struct Group {
    int index;
    uint64_t start, end;
};

struct Outcome {
    int r = -9;
    uint64_t s = 0, e = 0;
    std::vector<Group> groups;  // set groups only, by index
    int32_t steps = 0;
    std::string error;  // rx_engine_last_error after -1
};

std::vector<Group> set_groups(const rx_caps &c) {
    std::vector<Group> g;
    for (int i = 1; i <= RX_MAX_GROUPS; i++)
        if (c.set[i]) g.push_back({i, c.start[i], c.end[i]});
    return g;
}

Outcome search(const std::string &pattern, const std::string &text, uint64_t start = 0, bool with_caps = true) {
    Outcome o;
    rx_caps caps;
    std::memset(&caps, 0xAB, sizeof caps);
    o.r = rx_engine_find_caps(pattern.c_str(), text.data(), text.size(), start, &o.s, &o.e,
                              with_caps ? &caps : nullptr);
    o.steps = rx_engine_steps_left();
    if (o.r == 1 && with_caps) o.groups = set_groups(caps);
    if (o.r < 0) o.error = rx_engine_last_error();
    return o;
}

std::string show(const std::vector<Group> &g) {
    std::string s;
    for (const Group &x : g)
        s += " g" + std::to_string(x.index) + "[" + std::to_string(x.start) + "," + std::to_string(x.end) + ")";
    return s;
}

struct MatchCase {
    std::string pattern;
    std::string text;
    uint64_t start;
    int r;
    uint64_t s, e;
    std::vector<Group> groups;
};

std::string rep(char c, size_t n) { return std::string(n, c); }

void check_cases(const std::vector<MatchCase> &cases) {
    for (const MatchCase &c : cases) {
        Outcome o = search(c.pattern, c.text, c.start);
        std::string where = "pattern " + c.pattern + " text(" + std::to_string(c.text.size()) + ") " +
                            c.text.substr(0, 40) + " start " + std::to_string(c.start);
        EXPECT_EQ(o.r, c.r) << where;
        if (o.r == 1 && c.r == 1) {
            EXPECT_EQ(o.s, c.s) << where;
            EXPECT_EQ(o.e, c.e) << where;
            EXPECT_EQ(show(o.groups), show(c.groups)) << where;
        }
        if (c.r < 0) {
            EXPECT_EQ(o.error, "backtracking limit reached") << where;
        }
        // Both families agree.
        uint64_t s2 = 0, e2 = 0;
        rx_caps caps;
        EXPECT_EQ(rx_nfa_find_caps(c.pattern.c_str(), c.text.data(), c.text.size(), c.start, &s2, &e2, &caps), o.r)
            << where;
        EXPECT_EQ(rx_engine_steps_left(), o.steps) << where;
        EXPECT_EQ(rx_nfa_find(c.pattern.c_str(), c.text.data(), c.text.size(), c.start, &s2, &e2), o.r) << where;
        EXPECT_EQ(rx_engine_steps_left(), o.steps) << where;
        if (o.r == 1) {
            EXPECT_EQ(s2, o.s);
            EXPECT_EQ(e2, o.e);
        }
    }
}

TEST(Matcher, FirstEndCommitment) {
    check_cases({
        {"a*ab", "aab", 0, 0, 0, 0, {}},
        {"(a|ab)c", "abc", 0, 0, 0, 0, {}},
        {"a|ab", "ab", 0, 1, 0, 1, {}},
        {"a+?b", "aab", 0, 1, 1, 3, {}},
        {"a??", "a", 0, 1, 0, 0, {}},
        {"a{2,5}?", "aaaa", 0, 1, 0, 2, {}},
        {"a{2,5}", "aaaaaaa", 0, 1, 0, 5, {}},
        {"a{3,2}", "aaaa", 0, 0, 0, 0, {}},
        {"a{0}", "aaa", 0, 1, 0, 0, {}},
        {"a{0}b", "ab", 0, 1, 1, 2, {}},
        {"", "", 0, 1, 0, 0, {}},
        {"(?i)", "x", 0, 1, 0, 0, {}},
        {"x*", "", 0, 1, 0, 0, {}},
        {"(?:ab)*c", "ababc", 0, 1, 0, 5, {}},
        {"(?:ab)*abc", "ababc", 0, 0, 0, 0, {}},
        {"(?:a|b)*?c", "abc", 0, 1, 2, 3, {}},
        {"a|b|c", "xxc", 0, 1, 2, 3, {}},
        {"\\1", "01", 0, 1, 1, 2, {}},
        {"\\n", "\nn", 0, 1, 1, 2, {}},
    });
}

TEST(Matcher, EmptyIterationBelowTheMinimumCompletes) {
    check_cases({
        {"(a*)+", "", 0, 1, 0, 0, {{1, 0, 0}}},
        {"(a*)+", "b", 0, 1, 0, 0, {{1, 0, 0}}},
        {"x(a*)+y", "xy", 0, 1, 0, 2, {{1, 1, 1}}},
        {"(?:a?){2}", "a", 0, 1, 0, 1, {}},
        {"(?:a?){2}", "a", 1, 1, 1, 1, {}},
        {"(a?){3}", "aab", 0, 1, 0, 2, {{1, 2, 2}}},
        {"(?:\\b){2}a", "a", 0, 1, 0, 1, {}},
        {"a{3,2}", "aaa", 0, 0, 0, 0, {}},
        // The minimum above the maximum never matches, even when the
        // operand can match the empty string.
        {"(?:a?){3,2}", "aaa", 0, 0, 0, 0, {}},
        {"(?:\\b){3,2}", "a", 0, 0, 0, 0, {}},
    });
}

TEST(Matcher, BytesClassesAnchorsBoundaries) {
    check_cases({
        {".", "\n", 0, 0, 0, 0, {}},
        {".", "\r", 0, 1, 0, 1, {}},
        {"(?s).", "\n", 0, 1, 0, 1, {}},
        {"$", "a\n", 0, 1, 2, 2, {}},
        {"(?m)$", "a\n", 0, 1, 1, 1, {}},
        {"(?m)^b", "a\nb", 0, 1, 2, 3, {}},
        {"^b", "a\nb", 0, 0, 0, 0, {}},
        {"(?i)[a-c]+", "ABC", 0, 1, 0, 3, {}},
        {"(?i)[^a]", "A", 0, 0, 0, 0, {}},
        {"(?i)[^a]", "Ab", 0, 1, 1, 2, {}},
        {"(?i)a", "A", 0, 1, 0, 1, {}},
        {"(?i)A", "a", 0, 1, 0, 1, {}},
        {"(?i)[A-C]", "b", 0, 1, 0, 1, {}},
        {"(?i)\xe9", "\xc9", 0, 0, 0, 0, {}},
        {"(?i)[\xe0-\xef]", "\xc9", 0, 0, 0, 0, {}},
        {"(?i)\\w", "\xc9", 0, 0, 0, 0, {}},
        {"(?i)[[]", "{", 0, 0, 0, 0, {}},
        {"\\bfoo\\b", "a foo b", 0, 1, 2, 5, {}},
        {"\\bfoo\\b", "afoo b", 0, 0, 0, 0, {}},
        {"\\B", "ab", 0, 1, 1, 1, {}},
        {"\\b", "", 0, 0, 0, 0, {}},
        {"\\B", "", 0, 1, 0, 0, {}},
        {"\\b", "\xe9", 0, 0, 0, 0, {}},
        {"\\d+", "ab123c", 0, 1, 2, 5, {}},
        {"\\D", "123c", 0, 1, 3, 4, {}},
        {"\\s+", "a \t\r\n\f\vb", 0, 1, 1, 7, {}},
        {"\\S", " \t\x01", 0, 1, 2, 3, {}},
        {"\\W", "ab_9-", 0, 1, 4, 5, {}},
        {"[\\d]+", "d\\1", 0, 1, 0, 2, {}},
        {"[]a]+", "]a]b", 0, 1, 0, 3, {}},
        {"[^]a]", "]ab", 0, 1, 2, 3, {}},
        {"\xc3\xa9+", "x\xc3\xa9\xa9", 0, 1, 1, 4, {}},
        {"a", std::string("\0a", 2), 0, 1, 1, 2, {}},
        {"[^a]", std::string("\0", 1), 0, 1, 0, 1, {}},
    });
}

TEST(Matcher, CaptureRecords) {
    check_cases({
        {"(a)|b", "b", 0, 1, 0, 1, {}},
        {"(?:(a)x)*", "axay", 0, 1, 0, 2, {{1, 0, 1}}},
        {"(a*)*", "aa", 0, 1, 0, 2, {{1, 0, 2}}},
        {"(?:(a)*(b)x)|a+b", rep('a', 256) + "b", 0, 1, 0, 257, {}},
        {"(?:(a)*(b)x)|a+b", rep('a', 1000) + "b", 0, 1, 0, 1001, {}},
        {"((a)(b))", "ab", 0, 1, 0, 2, {{1, 0, 2}, {2, 0, 1}, {3, 1, 2}}},
        {"(a)+", "aaa", 0, 1, 0, 3, {{1, 2, 3}}},
        {"()", "x", 0, 1, 0, 0, {{1, 0, 0}}},
        {"(?:(a)|(b))+", "ab", 0, 1, 0, 2, {{1, 0, 1}, {2, 1, 2}}},
        {"(a)(?:(b)c|bd)", "abd", 0, 1, 0, 3, {{1, 0, 1}}},
        {"(x)(a)|xb", "xb", 0, 1, 0, 2, {}},
        {"(?:(a)b)?(a)c", "ac", 0, 1, 0, 2, {{2, 0, 1}}},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)(p)(q)",
         "abcdefghijklmnopq",
         0,
         1,
         0,
         17,
         {{1, 0, 1}, {2, 1, 2},   {3, 2, 3},   {4, 3, 4},   {5, 4, 5},   {6, 5, 6},
          {7, 6, 7}, {8, 7, 8},   {9, 8, 9},   {10, 9, 10}, {11, 10, 11}, {12, 11, 12},
          {13, 12, 13}, {14, 13, 14}, {15, 14, 15}, {16, 15, 16}}},
        // A group recorded on the path that matched, recorded again in an
        // iteration that was dropped: the earlier recording comes back.
        {"(?:(a)|b)*", "aab", 0, 1, 0, 3, {{1, 1, 2}}},
        {"(?:(\\w)\\w)*", "abcde", 0, 1, 0, 4, {{1, 2, 3}}},
    });
}

TEST(Matcher, DepthLimitCutsAreFailures) {
    check_cases({
        {"a*", rep('a', 2047), 0, 1, 0, 2047, {}},
        {"a*", rep('a', 2048), 0, -1, 0, 0, {}},
        {"a*", rep('a', 3000), 0, -1, 0, 0, {}},
        {"a*b", rep('a', 3000) + "b", 0, -1, 0, 0, {}},
        {"a*?", rep('a', 3000), 0, 1, 0, 0, {}},
        {"(a)*", rep('a', 2047), 0, 1, 0, 2047, {{1, 2046, 2047}}},
        {"(?:(?:(?:(a))))*", rep('a', 2047), 0, 1, 0, 2047, {{1, 2046, 2047}}},
        {"(?:(?:(?:(a))))*", rep('a', 2048), 0, -1, 0, 0, {}},
        {"(?:(?:(?:(a))))*", rep('a', 5000), 0, -1, 0, 0, {}},
        {"(?:a*)*", rep('a', 2046), 0, 1, 0, 2046, {}},
        {"(?:a*b)*", rep('a', 2046) + "b", 0, 1, 0, 2047, {}},
        {"(?:a*b)*", rep('a', 2047) + "b", 0, -1, 0, 0, {}},
        {"(?:ab)*", "ab" + rep('x', 5000), 0, 1, 0, 2, {}},
    });
}

TEST(Search, AnchoredShortcutOnlyWhenEveryAlternativeIsAnchored) {
    check_cases({
        {"^a|b", "xb", 0, 1, 1, 2, {}},
        {"^a|b", "abb", 0, 1, 0, 1, {}},
        {"^a|b", "abb", 1, 1, 1, 2, {}},
        {"^a|^b", "xb", 0, 0, 0, 0, {}},
        {"^a|^b", "ba", 0, 1, 0, 1, {}},
        {"^a|^b", "ba", 1, 0, 0, 0, {}},
        {"^a", "aa", 1, 0, 0, 0, {}},
        {"^", "abc", 2, 0, 0, 0, {}},
        {"^|a", "abc", 2, 0, 0, 0, {}},
        {"^|a", "aba", 2, 1, 2, 3, {}},
        {"(?m)^b", "a\nb", 0, 1, 2, 3, {}},
        {"(?i)^b", "ab", 0, 0, 0, 0, {}},
        {"(^a)|b", "xb", 0, 1, 1, 2, {}},
        {"^a|(b)", "xb", 0, 1, 1, 2, {{1, 1, 2}}},
        {"^(a|b)", "xb", 0, 0, 0, 0, {}},
        {"^a|[|]^b", "x|b", 0, 0, 0, 0, {}},
        {"^a|\\|b", "x|b", 0, 1, 1, 3, {}},
    });
    // A start offset beyond 0 with an anchored pattern tries nothing at all.
    Outcome o = search("^a|^b", "ab", 1);
    EXPECT_EQ(o.r, 0);
    EXPECT_EQ(o.steps, 1000016);
    o = search("^a|^b", "xb", 0);
    EXPECT_EQ(o.r, 0);
    // offset 0 alone: step; alternation step, left sequence (step, "^",
    // step, "a" fails); step, right sequence (step, "^", step, "b" fails)
    EXPECT_EQ(o.steps, 1000016 - 7);
}

TEST(Search, StartOffsets) {
    check_cases({
        {"a*", "ab", 2, 1, 2, 2, {}},
        {"a", "ab", 2, 0, 0, 0, {}},
        {"b", "abab", 2, 1, 3, 4, {}},
        {"a*", "", 0, 1, 0, 0, {}},
        {"a", "", 0, 0, 0, 0, {}},
    });
    // Beyond the length: 0, outputs untouched, record cleared.
    rx_caps caps;
    std::memset(&caps, 0x5A, sizeof caps);
    uint64_t s = 77, e = 88;
    EXPECT_EQ(rx_engine_find_caps("a*", "ab", 2, 3, &s, &e, &caps), 0);
    EXPECT_EQ(s, 77u);
    EXPECT_EQ(e, 88u);
    rx_caps zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&caps, &zero, sizeof caps), 0);
    EXPECT_EQ(rx_engine_steps_left(), 1000016);
}

// Steps spent, counted by hand from the rules: one per start position tried,
// one before each operand of a sequence, alternation and group, and for a
// repetition one on entry and one before each iteration.
struct StepCase {
    std::string pattern, text;
    uint64_t start;
    int r;
    int32_t spent;
};

TEST(Search, StepsSpentExactly) {
    const StepCase cases[] = {
        {"a", "", 0, 0, 1},
        {"a", "a", 0, 1, 1},
        {"a", "xa", 0, 1, 2},
        {"a", "xxxxxxxxxa", 0, 1, 10},
        {"a", "xxxxxxxxxx", 0, 0, 11},
        {"ab", "a", 0, 0, 3 + 2},          // at 0: step, seq step, a, step, b fails; at 1: step, seq step
        {"ab", "xab", 0, 1, 2 + 3},
        {"ab", "xxxxx", 0, 0, 6 * 2},
        {"(a)", "a", 0, 1, 2},
        {"(a)", "xxa", 0, 1, 6},
        {"a|b", "b", 0, 1, 3},
        {"a|b", "xxb", 0, 1, 3 * 3},
        {"a*", "", 0, 1, 1 + 2},           // entry, iteration step, a fails
        {"a*", "aa", 0, 1, 1 + 6},         // per iteration: entry + step; last entry + step
        {"a{2}", "aa", 0, 1, 1 + 5},       // k=0: 2, k=1: 2, k=2: entry
        {"a+?", "aaa", 0, 1, 1 + 3},
        {"a{3,2}", "aaa", 0, 0, 6 + 6 + 5 + 3},
        {"\\w+@", "ab@", 0, 1, 1 + 1 + 6 + 1},
        {"\\w+@", "ab  ", 0, 0, 9 + 7 + 4 + 4 + 4},
        {"(?:ab|cd)e", "xcde", 0, 1, 6 + 8},
    };
    for (const StepCase &c : cases) {
        Outcome o = search(c.pattern, c.text, c.start);
        int32_t budget = static_cast<int32_t>(c.text.size() * 8 + 1000000);
        EXPECT_EQ(o.r, c.r) << c.pattern << " / " << c.text;
        EXPECT_EQ(budget - o.steps, c.spent) << c.pattern << " / " << c.text;
    }
}

TEST(Search, BudgetExhaustionAndTheStateAfterEachOutcome) {
    // Runs out: -1, the flag set, steps used up.
    Outcome o = search("(a*)*b", rep('a', 200));
    EXPECT_EQ(o.r, 0);  // each start fails fast: a* commits, no exponential blow-up
    o = search("(?:a|aa)*c", rep('a', 1000));
    EXPECT_EQ(o.r, -1);
    EXPECT_EQ(o.error, "backtracking limit reached");
    EXPECT_EQ(o.steps, 0);

    std::string long_text = rep('a', 100000) + "b";
    o = search("(?:a*a*a*a*a*a*)*c", long_text);
    EXPECT_EQ(o.r, -1);
    EXPECT_EQ(o.error, "backtracking limit reached");

    // A pattern that does not parse leaves the flag as the last search left it.
    uint64_t s = 0, e = 0;
    EXPECT_EQ(rx_engine_find("a(", "a", 1, 0, &s, &e), -1);
    EXPECT_STREQ(rx_engine_last_error(), "backtracking limit reached");
    EXPECT_EQ(rx_engine_find("a", "a", 1, 0, &s, &e), 1);
    EXPECT_EQ(rx_engine_find("a(", "a", 1, 0, &s, &e), -1);
    EXPECT_STREQ(rx_engine_last_error(), "match engine error");
    EXPECT_EQ(rx_engine_find("*", "a", 1, 0, &s, &e), -1);
    EXPECT_STREQ(rx_engine_last_error(), "match engine error");

    // The budget is computed per call: each search starts afresh.
    o = search("b", rep('x', 10) + "b");
    EXPECT_EQ(o.r, 1);
    EXPECT_EQ(o.steps, 1000088 - 11);

    // A match found while a step was refused earlier is not reported, and
    // the output values are untouched.
    s = 5;
    e = 6;
    std::string t = rep('a', 3000);
    EXPECT_EQ(rx_engine_find("a*", t.c_str(), t.size(), 0, &s, &e), -1);
    EXPECT_EQ(s, 5u);
    EXPECT_EQ(e, 6u);
    EXPECT_STREQ(rx_engine_last_error(), "backtracking limit reached");
}

TEST(Search, PreparedPatternEqualsTheOneShotSearch) {
    const char *patterns[] = {"a", "^a|b", "^a|^b", "(a)|b", "\\w+", "(?:(a)x)*", "^", "x*", "(?m)^b$", "a(b"};
    const std::string texts[] = {"", "a", "xb", "ab", "axay", "b\nb", "hello world", rep('a', 2100)};
    for (const char *p : patterns) {
        rx_prog prog;
        char err[128];
        int prepared = rx_engine_prepare(p, &prog, err, sizeof err);
        char err2[256];
        EXPECT_EQ(prepared, rx_engine_compile_ok(p, err2, sizeof err2)) << p;
        if (prepared != 0) {
            EXPECT_STREQ(err, err2);
            continue;
        }
        for (const std::string &t : texts) {
            for (uint64_t start = 0; start <= t.size() && start < 4; start++) {
                Outcome a = search(p, t, start);
                rx_caps caps;
                Outcome b;
                b.r = rx_engine_find_prog(&prog, t.data(), t.size(), start, &b.s, &b.e, &caps);
                b.steps = rx_engine_steps_left();
                if (b.r == 1) b.groups = set_groups(caps);
                EXPECT_EQ(a.r, b.r) << p << " / " << t.substr(0, 20);
                EXPECT_EQ(a.steps, b.steps) << p;
                if (a.r == 1 && b.r == 1) {
                    EXPECT_EQ(a.s, b.s);
                    EXPECT_EQ(a.e, b.e);
                    EXPECT_EQ(show(a.groups), show(b.groups));
                }
            }
        }
        EXPECT_EQ(prog.anchored, std::string(p) == "^a|^b" || std::string(p) == "^") << p;
        rx_engine_release(&prog);
        EXPECT_EQ(prog.root, nullptr);
    }
}

// ---- small stacks, deep nesting and large texts -----------------------------

TEST(Limits, NestedRepetitionsToTheDepthLimitOnSmallStack) {
    struct Deep {
        std::string pattern, text;
        int r;
        uint64_t e;
    };
    std::vector<Deep> cases = {
        {"(?:(?:(?:(a))))*", rep('a', 2047), 1, 2047},
        {"(?:(?:(?:(a))))*", rep('a', 4096), -1, 0},
        // Four nested repetitions share the limit: the innermost can take
        // 2044 iterations, and the step for one more is refused.
        {"((((a)*)*)*)*", rep('a', 2044), 1, 2044},
        {"((((a)*)*)*)*", rep('a', 2045), -1, 0},
        {"((((a)*)*)*)*", rep('a', 4096), -1, 0},
        {"(?:(?:a|b)(?:c|d)?)*", rep('a', 1500) + rep('b', 1500), -1, 0},
        {"(?:(?:a|b)(?:c|d)?)*", rep('a', 1000) + rep('b', 1000), 1, 2000},
    };
    // A group inside a repetition 200 levels of non-capturing groups deep.
    std::string deep = "(?:";
    for (int i = 0; i < 200; i++) deep += "(?:";
    deep += "(a)";
    for (int i = 0; i < 200; i++) deep += ")";
    deep += ")*";
    cases.push_back({deep, rep('a', 2047), 1, 2047});
    cases.push_back({deep, rep('a', 3000), -1, 0});
    // A long sequence inside a repetition: each iteration walks a deep left
    // spine of the tree.
    std::string spine = "(?:(" + rep('a', 500) + "))*";
    cases.push_back({spine, rep('a', 500 * 40), 1, 500 * 40});

    for (const Deep &d : cases) {
        Outcome o;
        ASSERT_TRUE(krx_test::run_on_stack([&] { o = search(d.pattern, d.text); }));
        EXPECT_EQ(o.r, d.r) << d.pattern.substr(0, 40) << " / " << d.text.size();
        if (o.r == 1 && d.r == 1) {
            EXPECT_EQ(o.s, 0u);
            EXPECT_EQ(o.e, d.e);
        }
        if (d.r < 0) {
            EXPECT_EQ(o.error, "backtracking limit reached");
        }
    }
}

TEST(Limits, TenMebibyteTexts) {
    const size_t n = 10485760;
    std::string text(n, 'x');
    for (size_t i = 0; i < n; i += 97) text[i] = ' ';
    text[n - 3] = 'y';
    struct Big {
        std::string pattern;
        int r;
        uint64_t s, e;
    };
    const Big cases[] = {
        {"y", 1, n - 3, n - 2},
        {"(?i)Y", 1, n - 3, n - 2},
        {"[yz]x", 1, n - 3, n - 1},
        {"(y)(x+)", 1, n - 3, n},
        {"\\w+y", -1, 0, 0},  // each start in a word runs to its end: far above 8 steps a byte
        {"x*", 1, 0, 0},
        {"q", 0, 0, 0},
        {"(q)|r", 0, 0, 0},
        {"$", 1, n, n},
        {"(?:x|z)y", 1, n - 4, n - 2},
        {"x*y", -1, 0, 0},  // 8 steps per byte do not cover the long runs of x
    };
    for (const Big &b : cases) {
        Outcome o;
        ASSERT_TRUE(krx_test::run_on_stack([&] { o = search(b.pattern, text); }));
        uint64_t s = b.s;
        EXPECT_EQ(o.r, b.r) << b.pattern;
        if (o.r == 1 && b.r == 1) {
            EXPECT_EQ(o.s, s) << b.pattern;
            EXPECT_EQ(o.e, b.e) << b.pattern;
        }
    }
}

// ---- out of memory -------------------------------------------------------------

TEST(Memory, GrowthFailuresOfTheWorkStackAndUndoLog) {
    // Each k on a fresh thread, so the thread's blocks do not exist yet.
    const char *patterns[] = {"(?:(a)(b)|ab)+c", "(?:(?:ab)(?:cd|ef))*g", "((((((((((a))))))))))+"};
    const std::string text = rep('x', 3) + "abababababcdabefg" + rep('a', 300) + "c";
    for (const char *p : patterns) {
        rx_prog prog;
        char err[128];
        ASSERT_EQ(rx_engine_prepare(p, &prog, err, sizeof err), 0);
        Outcome want;
        ASSERT_TRUE(krx_test::run_on_stack([&] {
            rx_caps caps;
            want.r = rx_engine_find_prog(&prog, text.data(), text.size(), 0, &want.s, &want.e, &caps);
            want.steps = rx_engine_steps_left();
        }));
        ASSERT_GE(want.r, 0) << p;
        bool done = false;
        for (long k = 1; k < 100 && !done; k++) {
            Outcome got;
            long made = 0;
            ASSERT_TRUE(krx_test::run_on_stack([&] {
                rx_caps caps;
                rx_alloc_fail_at(k);
                got.r = rx_engine_find_prog(&prog, text.data(), text.size(), 0, &got.s, &got.e, &caps);
                made = rx_alloc_count();
                rx_alloc_fail_at(0);
                got.steps = rx_engine_steps_left();
                got.error = rx_engine_last_error();
            }));
            if (made < k) {
                EXPECT_EQ(got.r, want.r) << p;
                EXPECT_EQ(got.steps, want.steps) << p;
                EXPECT_EQ(got.s, want.s) << p;
                EXPECT_EQ(got.e, want.e) << p;
                done = true;
            } else {
                EXPECT_EQ(got.r, -1) << p << " k=" << k;
                EXPECT_EQ(got.error, "out of memory") << p << " k=" << k;
            }
        }
        EXPECT_TRUE(done) << p;
        rx_engine_release(&prog);
    }
}

TEST(Memory, SteadyStateSearchesDoNotAllocate) {
    rx_prog prog;
    char err[128];
    ASSERT_EQ(rx_engine_prepare("(?:(\\w+)@(\\w+)|z)+", &prog, err, sizeof err), 0);
    const std::string text = "mail me at someone@example or other@place today";
    rx_caps caps;
    uint64_t s, e;
    ASSERT_EQ(rx_engine_find_prog(&prog, text.data(), text.size(), 0, &s, &e, &caps), 1);
    rx_alloc_fail_at(1);
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(rx_engine_find_prog(&prog, text.data(), text.size(), 0, &s, &e, &caps), 1);
    }
    long made = rx_alloc_count();
    rx_alloc_fail_at(0);
    EXPECT_EQ(made, 0);
    EXPECT_EQ(s, 11u);
    EXPECT_EQ(e, 26u);
    rx_engine_release(&prog);
}

// ---- against a direct recursive transcription of the rules -------------------

// The rules as written: a recursive matcher with its own state record.
struct RefState {
    int32_t steps = 0, depth = 0, hit = 0;
    rx_caps *caps = nullptr;
    struct Undo {
        int g;
        uint64_t s, e;
        uint8_t set;
    };
    std::vector<Undo> log;
};

int ref_spend(RefState &st) {
    if (st.hit) return -1;
    if (st.steps > 0 && st.depth <= 2048) {
        st.steps--;
        return 0;
    }
    st.hit = 1;
    return -1;
}

void ref_undo(RefState &st, size_t mark) {
    if (!st.caps) return;
    while (st.log.size() > mark) {
        RefState::Undo u = st.log.back();
        st.log.pop_back();
        st.caps->start[u.g] = u.s;
        st.caps->end[u.g] = u.e;
        st.caps->set[u.g] = u.set;
    }
}

bool is_word(uint8_t b) { return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_'; }
uint8_t fold(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }
bool bit(const rx_node *nd, uint8_t b) { return (nd->bits[b >> 3] >> (b & 7)) & 1; }

bool ref_node(RefState &st, const rx_node *nd, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *out);

bool ref_quant(RefState &st, const rx_node *nd, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *out, int32_t k) {
    size_t mark = st.log.size();
    if (ref_spend(st)) return false;
    if (nd->max >= 0 && k > nd->max) return false;
    uint64_t e;
    if (k >= nd->min) {
        if (nd->lazy || (nd->max >= 0 && k >= nd->max)) {
            *out = p;
            return true;
        }
        st.depth++;
        if (ref_spend(st) || !ref_node(st, nd->child, t, n, p, &e) || e == p) {
            st.depth--;
            ref_undo(st, mark);
            *out = p;
            return true;
        }
        bool r = ref_quant(st, nd, t, n, e, out, k + 1);
        st.depth--;
        if (r) return true;
        ref_undo(st, mark);
        *out = p;
        return true;
    }
    if (nd->max >= 0 && k >= nd->max) return false;
    st.depth++;
    if (ref_spend(st) || !ref_node(st, nd->child, t, n, p, &e)) {
        st.depth--;
        ref_undo(st, mark);
        return false;
    }
    if (e == p) {
        st.depth--;
        if (nd->max >= 0 && nd->min > nd->max) {
            ref_undo(st, mark);
            return false;
        }
        *out = p;
        return true;
    }
    bool r = ref_quant(st, nd, t, n, e, out, k + 1);
    st.depth--;
    if (r) return true;
    ref_undo(st, mark);
    return false;
}

bool ref_node(RefState &st, const rx_node *nd, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *out) {
    size_t mark = st.log.size();
    uint64_t m, e;
    switch (nd->kind) {
    case RX_CHAR:
        if (p == n) return false;
        if (nd->flags & RX_FLAG_I ? fold(t[p]) != fold(nd->ch) : t[p] != nd->ch) return false;
        *out = p + 1;
        return true;
    case RX_ANY:
        if (p == n || (t[p] == '\n' && !(nd->flags & RX_FLAG_S))) return false;
        *out = p + 1;
        return true;
    case RX_CLASS: {
        if (p == n) return false;
        uint8_t b = t[p];
        bool in = bit(nd, b);
        if (nd->flags & RX_FLAG_I) {
            if (b >= 'a' && b <= 'z') in = in || bit(nd, static_cast<uint8_t>(b - 32));
            if (b >= 'A' && b <= 'Z') in = in || bit(nd, static_cast<uint8_t>(b + 32));
        }
        if (in == (nd->negate != 0)) return false;
        *out = p + 1;
        return true;
    }
    case RX_ANCHOR: {
        bool ok = nd->anchor == 1 ? (p == 0 || ((nd->flags & RX_FLAG_M) && t[p - 1] == '\n'))
                                  : (p == n || ((nd->flags & RX_FLAG_M) && t[p] == '\n'));
        if (!ok) return false;
        *out = p;
        return true;
    }
    case RX_WORDB: {
        bool before = p > 0 && is_word(t[p - 1]), after = p < n && is_word(t[p]);
        if ((before != after) == (nd->not_boundary != 0)) return false;
        *out = p;
        return true;
    }
    case RX_CONCAT:
        if (ref_spend(st) || !ref_node(st, nd->left, t, n, p, &m) || ref_spend(st) ||
            !ref_node(st, nd->right, t, n, m, &e)) {
            ref_undo(st, mark);
            return false;
        }
        *out = e;
        return true;
    case RX_ALT:
        if (!ref_spend(st) && ref_node(st, nd->left, t, n, p, &e)) {
            *out = e;
            return true;
        }
        ref_undo(st, mark);
        if (!ref_spend(st) && ref_node(st, nd->right, t, n, p, &e)) {
            *out = e;
            return true;
        }
        ref_undo(st, mark);
        return false;
    case RX_REPEAT:
        return ref_quant(st, nd, t, n, p, out, 0);
    case RX_GROUP:
        if (ref_spend(st) || !ref_node(st, nd->child, t, n, p, &e)) {
            ref_undo(st, mark);
            return false;
        }
        if (st.caps && nd->group >= 1 && nd->group <= 16) {
            st.log.push_back({nd->group, st.caps->start[nd->group], st.caps->end[nd->group], st.caps->set[nd->group]});
            st.caps->start[nd->group] = p;
            st.caps->end[nd->group] = e;
            st.caps->set[nd->group] = 1;
        }
        *out = e;
        return true;
    default:
        return false;
    }
}

// Only offset 0 is tried when the pattern begins with "^" and so does every
// other top-level alternative (read from the pattern text).
bool ref_anchored(const std::string &p) {
    if (p.empty() || p[0] != '^') return false;
    int depth = 0;
    for (size_t i = 0; i < p.size(); i++) {
        char c = p[i];
        if (c == '\\') {
            i++;
        } else if (c == '[') {
            size_t j = i + 1;
            if (j < p.size() && p[j] == '^') j++;
            if (j < p.size() && p[j] == ']') j++;
            while (j < p.size() && p[j] != ']') j++;
            i = j;
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (c == '|' && depth == 0) {
            if (i + 1 >= p.size() || p[i + 1] != '^') return false;
        }
    }
    return true;
}

Outcome ref_search(const std::string &pattern, const std::string &text, uint64_t start) {
    Outcome o;
    char err[128];
    rx_node *root = parse_pattern(pattern.c_str(), err, sizeof err);
    if (!root) {
        o.r = -2;
        return o;
    }
    const uint8_t *t = reinterpret_cast<const uint8_t *>(text.data());
    uint64_t n = text.size();
    RefState st;
    rx_caps caps;
    std::memset(&caps, 0, sizeof caps);
    st.caps = &caps;
    st.steps = static_cast<int32_t>(n * 8 + 1000000);
    o.r = 0;
    bool anchored = ref_anchored(pattern);
    for (uint64_t p = start; p <= n; p++) {
        if (anchored && p != 0) break;
        std::memset(&caps, 0, sizeof caps);
        st.log.clear();
        uint64_t e;
        if (!ref_spend(st) && ref_node(st, root, t, n, p, &e)) {
            o.r = st.hit ? -1 : 1;
            o.s = p;
            o.e = e;
            break;
        }
        if (st.hit) {
            o.r = -1;
            break;
        }
        if (anchored) break;
    }
    if (o.r == 1) o.groups = set_groups(caps);
    o.steps = st.steps;
    node_free(root);
    return o;
}

// Random patterns over the whole syntax, texts over a small alphabet.
struct Gen {
    std::mt19937 rng;
    explicit Gen(unsigned seed) : rng(seed) {}
    int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

    std::string atom(int depth) {
        static const char *const leaves[] = {"a", "b", "c", ".", "[ab]", "[^a]", "[a-c]", "\\w", "\\W", "\\d",
                                             "\\s", "\\b", "\\B", "A", "x", "[]a]", "\\.", " "};
        int k = pick(depth > 3 ? 10 : 16);
        if (k < 10) return leaves[pick(sizeof leaves / sizeof *leaves)];
        if (k < 12) return "(" + alt(depth + 1) + ")";
        if (k < 14) return "(?:" + alt(depth + 1) + ")";
        return leaves[pick(3)];
    }
    std::string quant() {
        static const char *const q[] = {"*", "+", "?", "{2}", "{0}", "{1,}", "{0,2}", "{2,3}", "{3,2}", "{0,0}", "{1}"};
        int k = pick(10);
        if (k < 5) return "";
        std::string s = q[pick(sizeof q / sizeof *q)];
        if (pick(4) == 0) s += "?";
        return s;
    }
    std::string seq(int depth) {
        std::string s;
        int len = pick(4);
        for (int i = 0; i < len; i++) {
            int k = pick(12);
            if (k == 0)
                s += "^";
            else if (k == 1)
                s += "$";
            else
                s += atom(depth) + quant();
        }
        return s;
    }
    std::string alt(int depth) {
        std::string s = seq(depth);
        while (pick(4) == 0) s += "|" + seq(depth);
        return s;
    }
    std::string pattern() {
        static const char *const flags[] = {"", "", "", "", "(?i)", "(?m)", "(?s)", "(?ims)", "^"};
        if (pick(8) == 0) return hard();
        return flags[pick(sizeof flags / sizeof *flags)] + alt(0);
    }
    // Shapes that run out of budget or depth on long texts.
    std::string hard() {
        {
            std::string x = pick(2) ? std::string("a") : atom(3);
            switch (pick(4)) {
            case 0: return "(?:" + x + "*)*" + atom(3);
            case 1: return "(" + x + "|" + x + x + ")*" + atom(3);
            case 2: return "(?:" + x + "+" + atom(3) + "?)+" + atom(3);
            default: return "(" + alt(2) + ")*" + x;
            }
        }
    }
    std::string long_text() {
        size_t len = pick(4) == 0 ? 20000 : static_cast<size_t>(2040 + pick(60));
        std::string s(len, 'a');
        if (pick(2))
            for (size_t i = 1; i < len; i += 2) s[i] = 'b';
        if (pick(2)) s[len - 1 - static_cast<size_t>(pick(10))] = 'c';
        return s;
    }
    std::string text() {
        static const char alphabet[] = "aaabbcAx \n1_.";
        int len = pick(8) == 0 ? 2040 + pick(20) : pick(8) == 0 ? 100 + pick(400) : pick(12);
        if (pick(100) == 0) len = 20000;
        std::string s;
        int shape = len > 100 ? pick(3) : 0;
        for (int i = 0; i < len; i++) {
            if (shape == 0)
                s += alphabet[pick(static_cast<int>(sizeof alphabet - 1))];
            else
                s += shape == 1 ? 'a' : "ab"[i % 2];
        }
        return s;
    }
};

TEST(Reference, GeneratedPatternsAgreeStepForStep) {
    const int count = krx_test::long_mode() ? 200000 : 6000;
    int mismatches = 0, compared = 0;
    int outcomes[3] = {0, 0, 0};  // -1, 0, 1
    std::vector<std::string> fixed = {"(?:(a)x)*", "(a*)*", "(?:(a)*(b)x)|a+b", "x(a*)+y", "(?:a?){2}", "^a|b",
                                      "^a|^b", "(?:a|aa)*c", "\\w+@\\w+", "(?:\\b\\w)+", "((a)|b)+"};
    std::vector<std::string> fixed_texts = {"axay", "aa", "aaab", "xy", "a", "xb", "ab", "aaaac", "ab@cd x@", "ab cd", "abab"};
    ASSERT_TRUE(krx_test::run_on_stack(
        [&] {
            Gen g(12345);
            for (int i = 0; i < count + static_cast<int>(fixed.size() * fixed_texts.size()); i++) {
                std::string p, t;
                if (i < static_cast<int>(fixed.size() * fixed_texts.size())) {
                    p = fixed[static_cast<size_t>(i) / fixed_texts.size()];
                    t = fixed_texts[static_cast<size_t>(i) % fixed_texts.size()];
                } else if (g.pick(12) == 0) {
                    p = g.hard();
                    t = g.long_text();
                } else {
                    p = g.pattern();
                    t = g.text();
                }
                uint64_t start = t.empty() || g.pick(3) ? 0 : static_cast<uint64_t>(g.pick(static_cast<int>(t.size()) + 2));
                Outcome want = ref_search(p, t, start);
                if (want.r == -2) continue;
                bool with_caps = i % 3 != 2;
                Outcome got = search(p, t, start, with_caps);
                if (!with_caps) want.groups.clear();
                compared++;
                outcomes[got.r + 1]++;
                bool same = got.r == want.r && got.steps == want.steps &&
                            (got.r != 1 || (got.s == want.s && got.e == want.e && show(got.groups) == show(want.groups)));
                if (!same && ++mismatches <= 10) {
                    ADD_FAILURE() << "pattern " << p << " text \"" << t.substr(0, 60) << "\" (" << t.size()
                                  << " bytes) start " << start << "\n  rules: r=" << want.r << " [" << want.s << ","
                                  << want.e << ")" << show(want.groups) << " steps " << want.steps
                                  << "\n  engine: r=" << got.r << " [" << got.s << "," << got.e << ")"
                                  << show(got.groups) << " steps " << got.steps;
                }
            }
        },
        size_t(512) << 20));
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(compared, count / 2);
    // The generated set reaches every outcome, refusals included.
    EXPECT_GT(outcomes[0], count / 200);
    EXPECT_GT(outcomes[1], count / 20);
    EXPECT_GT(outcomes[2], count / 5);
    std::printf("compared %d: %d failed, %d without match, %d found\n", compared, outcomes[0], outcomes[1],
                outcomes[2]);
}

// Start positions that cannot begin a match are charged without being tried;
// these shapes and lengths make sure that changes nothing, down to the steps,
// the budget running out inside the charged stretch included.
TEST(Reference, SkippedStartPositionsAgree) {
    const char *patterns[] = {"\\bab\\b", "(?m)^b", "$a", "\\Bb", "\\b(?:ab|ba)", "x", "(?i)x", "[xy]z", "(?:ab|cd)+",
                              "(a)b", "\\w+@", "a{1,0}b", "(?:a|\\d)x", "(?:(?:b))c", "(?:abcdefgh|ijklmnop|qrstuvwx)z",
                              "(\\bq)", "(?:\\bq|r)", "b+?c", "\\b", "(?m)$\\n", "(?:yyyyyyyyyy|zzzzzzzzzz)+q",
                              "\\Bqrstuvwxyzqrstuvwxyz", "\\bqrstuvwxyz", "(?:(?:(?:(?:(a))b)c)d)e",
                              "a{0,1000}b", "[ab]{2,900}?c", "(?i)A{3,}x", "(?:a{1,700}|b)+c"};
    std::vector<std::string> texts;
    std::mt19937 rng(7);
    for (size_t len : {9, 40, 300, 5000}) {
        for (const char *alphabet : {"ab ", "abxyz\n", "y", "ab"}) {
            std::string t;
            size_t k = std::strlen(alphabet);
            for (size_t i = 0; i < len; i++) t += alphabet[rng() % k];
            texts.push_back(t);
        }
    }
    texts.push_back(rep('y', 200000));
    texts.push_back(rep('a', 200000));
    texts.push_back(rep('a', 2000) + "b" + rep('a', 3000));
    texts.push_back(rep('y', 200000) + "ab");
    texts.push_back(rep('y', 199990) + " ab q");
    int compared = 0;
    ASSERT_TRUE(krx_test::run_on_stack(
        [&] {
            for (const char *p : patterns) {
                for (const std::string &t : texts) {
                    for (uint64_t start : {uint64_t(0), uint64_t(3)}) {
                        for (bool with_caps : {true, false}) {
                            Outcome want = ref_search(p, t, start);
                            Outcome got = search(p, t, start, with_caps);
                            if (!with_caps) want.groups.clear();
                            compared++;
                            EXPECT_EQ(got.r, want.r) << p << " / " << t.size() << " start " << start;
                            EXPECT_EQ(got.steps, want.steps) << p << " / " << t.size() << " start " << start;
                            if (got.r == 1 && want.r == 1) {
                                EXPECT_EQ(got.s, want.s) << p;
                                EXPECT_EQ(got.e, want.e) << p;
                                EXPECT_EQ(show(got.groups), show(want.groups)) << p;
                            }
                        }
                    }
                }
            }
        },
        size_t(512) << 20));
    EXPECT_EQ(compared, static_cast<int>(sizeof patterns / sizeof *patterns * texts.size() * 4));
}

}  // namespace
