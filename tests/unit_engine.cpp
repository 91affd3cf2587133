/* Matcher and search: the worked cases of the matching rules (with the
 * repairs: a match reached after a refused step is a failure, the anchored
 * shortcut only when every top-level alternative is anchored, rollback that
 * restores a group's earlier recording, an empty iteration below the minimum
 * completing the repetition, one budget per call sized to the pattern, no
 * limit on repetition), capture records, the state after each outcome, exact
 * step counts, long repetitions on a 1 MiB stack, 10 MiB texts and
 * out-of-memory paths. The agreement with the reference matcher on generated
 * cases is unit_engine_diff.cpp's. */
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"
#include "rx_platform.h"
#include "test_support.h"

namespace {

struct Group {
    int index;
    uint64_t start, end;
};

struct Outcome {
    int r = -9;
    uint64_t s = 0, e = 0;
    std::vector<Group> groups; /* set groups only, by index */
    int32_t steps = 0;
    std::string error; /* rx_engine_last_error after -1 */
};

std::vector<Group> set_groups(const rx_caps &c) {
    std::vector<Group> g;
    for (int i = 1; i <= RX_MAX_GROUPS; i++)
        if (c.set[i]) g.push_back({i, c.start[i], c.end[i]});
    return g;
}

Outcome search(const std::string &pattern, const std::string &text, uint64_t start = 0,
               bool with_caps = true) {
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
        s += " g" + std::to_string(x.index) + "[" + std::to_string(x.start) + "," + std::to_string(x.end) +
             ")";
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

std::string times(const std::string &unit, int k) {
    std::string out;
    while (k-- > 0) out += unit;
    return out;
}

/* The budget of a bare search of pattern over n bytes, from the size of its
 * tree. */
int32_t budget_of(const std::string &pattern, uint64_t n) {
    rx_prog prog;
    char err[128];
    if (rx_engine_prepare(pattern.c_str(), &prog, err, sizeof err) != 0) return -1;
    uint64_t nodes = prog.nodes;
    rx_engine_release(&prog);
    return rx_engine_budget(n, nodes);
}

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
        /* Both families agree. */
        uint64_t s2 = 0, e2 = 0;
        rx_caps caps;
        EXPECT_EQ(rx_nfa_find_caps(c.pattern.c_str(), c.text.data(), c.text.size(), c.start, &s2, &e2, &caps),
                  o.r)
            << where;
        EXPECT_EQ(rx_engine_steps_left(), o.steps) << where;
        EXPECT_EQ(rx_nfa_find(c.pattern.c_str(), c.text.data(), c.text.size(), c.start, &s2, &e2), o.r)
            << where;
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
        /* The minimum above the maximum never matches, even when the
         * operand can match the empty string. */
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
         {{1, 0, 1},
          {2, 1, 2},
          {3, 2, 3},
          {4, 3, 4},
          {5, 4, 5},
          {6, 5, 6},
          {7, 6, 7},
          {8, 7, 8},
          {9, 8, 9},
          {10, 9, 10},
          {11, 10, 11},
          {12, 11, 12},
          {13, 12, 13},
          {14, 13, 14},
          {15, 14, 15},
          {16, 15, 16}}},
        /* A group recorded on the path that matched, recorded again in an
         * iteration that was dropped: the earlier recording comes back. */
        {"(?:(a)|b)*", "aab", 0, 1, 0, 3, {{1, 1, 2}}},
        {"(?:(\\w)\\w)*", "abcde", 0, 1, 0, 4, {{1, 2, 3}}},
    });
}

TEST(Matcher, NoLimitOnRepetition) {
    std::string word = rep('a', 1000) + rep('Z', 1000) + rep('7', 1000);
    check_cases({
        {"a*", rep('a', 3000), 0, 1, 0, 3000, {}},
        {"a*b", rep('a', 3000) + "b", 0, 1, 0, 3001, {}},
        {"\\w+", " " + word + " ", 0, 1, 1, 3001, {}},
        {".*", rep('x', 3000) + "\n", 0, 1, 0, 3000, {}},
        {"<[^>]+>", "<" + rep('x', 5000) + ">", 0, 1, 0, 5002, {}},
        {"(a)*", rep('a', 5000), 0, 1, 0, 5000, {{1, 4999, 5000}}},
        {"(?:(?:(?:(a))))*", rep('a', 5000), 0, 1, 0, 5000, {{1, 4999, 5000}}},
        {"(?:a*b)*", rep('a', 2047) + "b", 0, 1, 0, 2048, {}},
        {"(?:ab)*", "ab" + rep('x', 5000), 0, 1, 0, 2, {}},
        {"a*?", rep('a', 3000), 0, 1, 0, 0, {}},
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
    /* A start offset beyond 0 with an anchored pattern tries nothing at all. */
    Outcome o = search("^a|^b", "ab", 1);
    EXPECT_EQ(o.r, 0);
    EXPECT_EQ(o.steps, budget_of("^a|^b", 2));
    o = search("^a|^b", "xb", 0);
    EXPECT_EQ(o.r, 0);
    /* offset 0 alone: step; alternation step, left sequence (step, "^",
     * step, "a" fails); step, right sequence (step, "^", step, "b" fails) */
    EXPECT_EQ(o.steps, budget_of("^a|^b", 2) - 7);
}

TEST(Search, StartOffsets) {
    check_cases({
        {"a*", "ab", 2, 1, 2, 2, {}},
        {"a", "ab", 2, 0, 0, 0, {}},
        {"b", "abab", 2, 1, 3, 4, {}},
        {"a*", "", 0, 1, 0, 0, {}},
        {"a", "", 0, 0, 0, 0, {}},
    });
    /* Beyond the length: 0, outputs untouched, record cleared. */
    rx_caps caps;
    std::memset(&caps, 0x5A, sizeof caps);
    uint64_t s = 77, e = 88;
    EXPECT_EQ(rx_engine_find_caps("a*", "ab", 2, 3, &s, &e, &caps), 0);
    EXPECT_EQ(s, 77u);
    EXPECT_EQ(e, 88u);
    rx_caps zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&caps, &zero, sizeof caps), 0);
    EXPECT_EQ(rx_engine_steps_left(), budget_of("a*", 2));
}

/* Steps spent, counted by hand from the rules: one per start position tried,
 * one before each operand of a sequence, alternation and group, and for a
 * repetition one on entry and one before each iteration; one for each start
 * position ruled out without an attempt. */
struct StepCase {
    std::string pattern, text;
    uint64_t start;
    int r;
    int32_t spent;
};

/* Seventeen alternatives, the first of 20 bytes. */
const char LONG_FIRST[] = "abcdefghijklmnopqrst|b|c|d|e|f|g|h|i|j|k|l|m|n|o|p|q";

TEST(Search, StepsSpentExactly) {
    const StepCase cases[] = {
        {"a", "", 0, 0, 1},
        {"a", "a", 0, 1, 1},
        {"a", "xa", 0, 1, 2},
        {"a", "xxxxxxxxxa", 0, 1, 10},
        {"a", "xxxxxxxxxx", 0, 0, 11},
        /* A pattern that begins with a string of plain bytes: positions where
         * the string does not begin are ruled out for one step each (an
         * attempt there spends 3 + 2 at 0 in "a" and 2 at 1, 2 at "x", by
         * the rules); a match of the string spends 2 per byte after its first. */
        {"ab", "a", 0, 0, 2},
        {"ab", "xab", 0, 1, 1 + 3},
        {"ab", "xxxxx", 0, 0, 6},
        {"(a)", "a", 0, 1, 2},
        /* ... and on any text, a position whose byte the first item cannot
         * take (and the end of the text) for one step each */
        {"(a)", "xxa", 0, 1, 1 + 1 + 2},
        {"a|b", "b", 0, 1, 3},
        {"a|b", "xxb", 0, 1, 1 + 1 + 3},
        {"a*", "", 0, 1, 1 + 2},     /* entry, iteration step, a fails */
        {"a*", "aa", 0, 1, 1 + 6},   /* per iteration: entry + step; last entry + step */
        {"a{2}", "aa", 0, 1, 1 + 5}, /* k=0: 2, k=1: 2, k=2: entry */
        {"a+?", "aaa", 0, 1, 1 + 3},
        /* A text shorter than 64 bytes is not analysed: every position is
         * tried, charged as the rules charge. On a longer one, a{3,2} needs
         * three a's: only 0 is tried (1 + 2 + 2 + 1, its minimum above its
         * maximum), 1 to 64 are ruled out. */
        {"a{3,2}", "aaa", 0, 0, 20},
        {"a{3,2}", "aaa" + std::string(61, 'x'), 0, 0, 6 + 64},
        {"\\w+@", "ab@", 0, 1, 1 + 1 + 6 + 1},
        /* A start inside a run whose rest failed is known to fail: 1 and 2
         * cost a step each (the rules: 7 + 4); 3 and 4 cannot begin a run. */
        {"\\w+@", "ab  ", 0, 0, 9 + 1 + 1 + 1 + 1},
        {"\\w+@", "ab" + std::string(62, ' '), 0, 0, 65},
        /* ... and so does one whose follower is a repetition: \s+ */
        {"\\w+\\s+x", "ab.c" + std::string(60, '.'), 0, 0, 65},
        /* A literal every match contains ends the search where it no longer
         * occurs: from 6 on " the" is gone, though runs followed by a space
         * are not. */
        {"[a-z]+ the", "x the " + times("ab ", 22), 6, 0, 72 + 1 - 6},
        {"(?:ab|cd)e", "xcde", 0, 1, 1 + 8},
        /* An alternation of more than 16 literals charges the work of its
         * trie: the edges walked plus the winner's 2(len - 1), or what the
         * rules charge without the bytes failed literals matched, whichever
         * is less: 16 steps down the chain and 2 * 19 for the winner here ... */
        {LONG_FIRST, "abcdefghijklmnopqrst", 0, 1, 1 + 16 + 38},
        /* ... and one edge, not 16 + 16 + 19 steps, for its last one */
        {LONG_FIRST, "q", 0, 1, 1 + 1},
    };
    for (const StepCase &c : cases) {
        Outcome o = search(c.pattern, c.text, c.start);
        int32_t budget = budget_of(c.pattern, c.text.size());
        EXPECT_EQ(o.r, c.r) << c.pattern << " / " << c.text;
        EXPECT_EQ(budget - o.steps, c.spent) << c.pattern << " / " << c.text;
    }
}

TEST(Search, BudgetExhaustionAndTheStateAfterEachOutcome) {
    /* Runs out: -1, the flag set, steps used up. */
    Outcome o = search("(a*)*b", rep('a', 200));
    EXPECT_EQ(o.r, 0); /* each start fails fast: a* commits, no exponential blow-up */
    /* Linear: each start meets the runs and the repetition's iterations
     * the first start walked, and answers them from the memo. */
    o = search("(?:a|aa)*c", rep('a', 1000));
    EXPECT_EQ(o.r, 0);
    std::string long_text = rep('a', 100000) + "b";
    o = search("(?:a*a*a*a*a*a*)*c", long_text);
    EXPECT_EQ(o.r, 0);
    o = search("(a|aa)*c", rep('a', 1000));
    EXPECT_EQ(o.r, 0);
    /* ... but a bounded repetition's iterations depend on how many came
     * before: every start walks the rest of the run again. */
    o = search("(?:a|b){0,5000}c", rep('a', 1500));
    EXPECT_EQ(o.r, -1);
    EXPECT_EQ(o.error, "backtracking limit reached");
    EXPECT_EQ(o.steps, 0);

    /* A pattern that does not parse leaves the flag as the last search left it. */
    uint64_t s = 0, e = 0;
    EXPECT_EQ(rx_engine_find("a(", "a", 1, 0, &s, &e), -1);
    EXPECT_STREQ(rx_engine_last_error(), "backtracking limit reached");
    EXPECT_EQ(rx_engine_find("a", "a", 1, 0, &s, &e), 1);
    EXPECT_EQ(rx_engine_find("a(", "a", 1, 0, &s, &e), -1);
    EXPECT_STREQ(rx_engine_last_error(), "match engine error");
    EXPECT_EQ(rx_engine_find("*", "a", 1, 0, &s, &e), -1);
    EXPECT_STREQ(rx_engine_last_error(), "match engine error");

    /* A bare search arms a budget of its own: each starts afresh. */
    o = search("b", rep('x', 10) + "b");
    EXPECT_EQ(o.r, 1);
    EXPECT_EQ(o.steps, budget_of("b", 11) - 11);

    /* A match found while a step was refused earlier is not reported, and
     * the output values are untouched: the outer repetition's entry step is
     * refused and it keeps the iterations it has. */
    s = 5;
    e = 6;
    std::string t = rep('a', 3000);
    EXPECT_EQ(rx_engine_find("(?:(?:a|b){0,3000}x|a)*", t.c_str(), t.size(), 0, &s, &e), -1);
    EXPECT_EQ(s, 5u);
    EXPECT_EQ(e, 6u);
    EXPECT_STREQ(rx_engine_last_error(), "backtracking limit reached");
}

/* The budget: (8 + nodes) steps per byte plus 1,000,000, at most
 * 2,147,483,647; nodes counts every record of the tree, the two of each
 * empty sequence included. */
TEST(Search, BudgetFormula) {
    struct Row {
        std::string pattern;
        uint64_t n;
        int32_t budget;
    };
    const Row rows[] = {
        {"a", 0, 1000000},
        {"ab", 2, 1000022},
        {"", 10, 1000100},
        {"(?i)", 10, 1000100},
        {"a|", 1, 1000012},
        {"(a)|b", 1, 1000012},
        {"a*b", 1003, 1012036},
        {"x", 10485760, 95371840},
        {rep('a', 98), 10485760, 2129609280},
        {rep('a', 99), 10485760, 2147483647},
        {"x", uint64_t(1) << 40, 2147483647},
    };
    for (const Row &r : rows) EXPECT_EQ(budget_of(r.pattern, r.n), r.budget) << r.pattern << " / " << r.n;
    EXPECT_EQ(rx_engine_budget(UINT64_MAX, UINT64_MAX), 2147483647);
    EXPECT_EQ(rx_engine_budget(1, UINT64_MAX - 4), 2147483647);
}

/* A prog carries one budget for all its searches until it is armed again;
 * a refusal is final for the rest of the call. */
TEST(Search, OneBudgetPerCall) {
    rx_prog prog;
    char err[128];
    ASSERT_EQ(rx_engine_prepare("(?:a|b){0,2000}c|d", &prog, err, sizeof err), 0);
    const std::string t = rep('a', 900) + "d" + rep('a', 900);
    uint64_t s = 0, e = 0;
    EXPECT_EQ(rx_engine_find_prog(&prog, t.data(), t.size(), 0, &s, &e, nullptr), 1);
    EXPECT_EQ(s, 900u);
    EXPECT_EQ(e, 901u);
    EXPECT_EQ(rx_engine_find_prog(&prog, t.data(), t.size(), 901, &s, &e, nullptr), -1);
    EXPECT_STREQ(rx_engine_last_error(), "backtracking limit reached");
    EXPECT_EQ(rx_engine_find_prog(&prog, t.data(), t.size(), t.size(), &s, &e, nullptr), -1);
    rx_engine_arm(&prog, t.size());
    EXPECT_EQ(rx_engine_find_prog(&prog, t.data(), t.size(), 901, &s, &e, nullptr), 0);
    EXPECT_STREQ(rx_engine_last_error(), "match engine error");
    rx_engine_release(&prog);
}

TEST(Search, PreparedPatternEqualsTheOneShotSearch) {
    const char *patterns[] = {"a",         "^a|b", "^a|^b", "(a)|b",   "\\w+",
                              "(?:(a)x)*", "^",    "x*",    "(?m)^b$", "a(b"};
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
                rx_engine_arm(&prog, t.size());
                b.r = rx_engine_find_prog(&prog, t.data(), t.size(), start, &b.s, &b.e, &caps);
                b.steps = rx_engine_steps_left();
                if (b.r == 1) b.groups = set_groups(caps);
                EXPECT_EQ(a.r, b.r) << p << " / " << t.substr(0, 20);
                /* the prog keeps what it learnt of hopeless start positions
                 * from earlier searches, so it may spend less */
                EXPECT_GE(b.steps, a.steps) << p;
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

/* The search for a string in a text, behind the literal prefilter: the first
 * occurrence, through the dense-candidate fallback too. */
TEST(Search, FindBytes) {
    const std::string dense = rep('a', 5000) + "ab" + rep('a', 10);
    struct Row {
        std::string hay, needle;
        long at;
    } rows[] = {
        {"zebra crossing", "zebra", 0},
        {"a zebra", "zebra", 2},
        {"zebr", "zebra", -1},
        {"xxzebrzebra", "zebra", 6},
        {"abc", "c", 2},
        {"abc", "d", -1},
        {dense, "ab", 5000},
        {dense, "aab", 4999},
        {dense, "abb", -1},
        {rep('a', 3000) + "b", rep('a', 100) + "b", 2900},
    };
    for (const Row &r : rows) {
        /* whichever byte of the needle memchr looks for */
        for (size_t rare = 0; rare < r.needle.size(); rare++) {
            const void *hit =
                rx_find_bytes(r.hay.data(), r.hay.size(), r.needle.data(), r.needle.size(), rare);
            long at = hit == nullptr ? -1 : static_cast<const char *>(hit) - r.hay.data();
            EXPECT_EQ(at, r.at) << r.needle.substr(0, 20) << " in " << r.hay.substr(0, 20) << " by " << rare;
        }
    }
    /* The byte searches behind the other prefilters, sixteen bytes at a time
     * and then byte by byte: hits inside the first block, across its end,
     * in the tail, and none. */
    const std::string hay = rep('x', 20) + "aB" + rep('x', 13) + "Mq" + rep('x', 3);
    const unsigned char *h = reinterpret_cast<const unsigned char *>(hay.data());
    const unsigned char ab[] = {'a', 'b'}, bq[] = {'B', 'q'}, zy[] = {'z', 'y'};
    EXPECT_EQ(rx_find_any_of(h, hay.size(), ab, 2, nullptr, 0), 20u);
    EXPECT_EQ(rx_find_any_of(h, hay.size() - 1, ab, 2, bq, 2), 20u);
    EXPECT_EQ(rx_find_any_of(h, hay.size() - 1, zy, 2, bq, 2), hay.size() - 1);
    EXPECT_EQ(static_cast<const unsigned char *>(rx_find_byte_folded(h, hay.size(), 'm')) - h, 35);
    EXPECT_EQ(rx_find_byte_folded(h, 35, 'm'), nullptr);
    rx_byte_at m = {0, 'm', 1}, q = {1, 'q', 0}, b = {1, 'b', 1};
    EXPECT_EQ(rx_find_pair(h, hay.size() - 1, m, q), 35u);
    EXPECT_EQ(rx_find_pair(h, hay.size() - 1, {0, 'a', 0}, b), 20u);
    EXPECT_EQ(rx_find_pair(h, hay.size() - 1, m, b), hay.size() - 1);
}

/* The first line of a block that may hold a match, by each prefilter: a
 * literal, the lead (also folded), the first bytes (also behind a guard:
 * ^ without (?m) holds at every line's start, \b sees a line feed as a
 * non-word byte), a run (also one that takes line feeds), none at all (n + 1),
 * an anchored pattern (every line), and a start inside a line whose match
 * begins before it. */
TEST(Search, CandidateLinesOfABlock) {
    struct Row {
        const char *pattern, *text;
        uint64_t from, want;
    } rows[] = {
        {"err", "ok\nan err\n", 0, 6},
        {"zz", "ab\ncd\n", 0, 7},
        {"\\d{4}-\\d{2}", "no\n2024-01\n", 0, 3},
        {"(?i)debian", "x\nDebIan\n", 0, 2},
        {"fixed|added", "x\nadded\n", 0, 2},
        {"(?s)^\\w+", "  \nab\n", 0, 3},
        {"\\b\\d+", "x1\n2\n", 0, 3},
        {"(\\w+)@", "a b\nme@x\n", 0, 4},
        {"[^y]+y", "ab\nby\n", 3, 3},
        {"", "ab\n", 0, 0},
        {"^ab", "xx\nab\n", 0, 0},
        {"^ab", "xx\nab\n", 3, 3},
        {"err", "an err\nok\n", 4, 4},
        {"err", "an err\nok\n", 7, 11},
    };
    for (const Row &r : rows) {
        rx_prog prog;
        char err[128];
        ASSERT_EQ(rx_engine_prepare(r.pattern, &prog, err, sizeof err), 0) << r.pattern;
        const uint8_t *t = reinterpret_cast<const uint8_t *>(r.text);
        EXPECT_EQ(rx_engine_next_candidate(&prog, t, strlen(r.text), r.from), r.want)
            << r.pattern << " from " << r.from;
        rx_engine_release(&prog);
    }
}

/* The byte set of a leaf, which the prefilters build their tables from, is
 * the set of bytes the leaf matches, case folding and negation included. */
TEST(Search, LeafSetsAgreeWithTheLeaves) {
    const char *leaves[] = {"a",         "(?i)a", "(?i)Z", "(?i)@", "(?i)[^a-c]",
                            "(?i)[@-Z]", ".",     "(?s).", "\\W",   "[^]a]"};
    for (const char *p : leaves) {
        char err[128];
        rx_node *leaf = parse_pattern(p, err, sizeof err);
        ASSERT_NE(leaf, nullptr) << p;
        uint8_t set[32] = {};
        leaf_set(leaf, set);
        for (unsigned b = 0; b < 256; b++) {
            uint8_t byte = static_cast<uint8_t>(b);
            uint64_t e;
            EXPECT_EQ((set[b >> 3] >> (b & 7)) & 1, leaf_match(leaf, &byte, 1, 0, &e)) << p << " byte " << b;
        }
        node_free(leaf);
    }
}

/* ---- small stacks, deep nesting and large texts ----------------------------- */

/* The first position at or after p where one of the literals occurs
 * (letters in either case with fold), or n + 1: a plain loop. */
uint64_t plain_next(const std::string &t, const std::vector<std::string> &lits, bool fold, uint64_t p) {
    for (uint64_t q = p; q < t.size(); q++)
        for (const std::string &l : lits) {
            size_t i = 0;
            while (
                i < l.size() && q + i < t.size() &&
                (fold ? tolower((unsigned char)t[q + i]) == tolower((unsigned char)l[i]) : t[q + i] == l[i]))
                i++;
            if (i == l.size()) return q;
        }
    return t.size() + 1;
}

/* Each search of a literal set (nibble masks where the processor has
 * SSSE3, the automaton, the first bytes with the trie) against the plain
 * loop, from every position of texts where the literals overlap, share
 * prefixes and are prefixes of one another. */
TEST(LiteralSets, EverySearchFindsTheFirstOccurrence) {
    std::vector<std::vector<std::string>> lists = {{"bcaa", "a", "ca", "ac"},
                                                   {"abcdef", "cd"},
                                                   {"ab", "abc", "abcd", "b"},
                                                   {"xyz", "yz"},
                                                   {"ba", "aab"}};
    uint32_t x = 7;
    auto next = [&x](uint32_t below) {
        x = x * 1103515245u + 12345u;
        return (x >> 16) % below;
    };
    for (int k = 0; k < 24; k++) {
        std::vector<std::string> words;
        for (uint32_t count = 2 + next(k < 20 ? 30 : 80); count > 0; count--) {
            std::string w;
            for (uint32_t len = 1 + next(k % 3 == 0 ? 9 : 4); len > 0; len--) w += "abc"[next(3)];
            words.push_back(w);
        }
        lists.push_back(words);
    }
    for (size_t k = 0; k < lists.size(); k++) {
        const bool fold = k % 4 == 1;
        std::string joined, text;
        for (const std::string &w : lists[k]) joined += (joined.empty() ? "" : "|") + w;
        const std::string pattern = (fold ? "(?i)" : "") + joined;
        while (text.size() < 3000) text += "abcAB xy"[next(k % 2 ? 8 : 3)];
        rx_prog prog;
        char err[128];
        ASSERT_EQ(rx_engine_prepare(pattern.c_str(), &prog, err, sizeof err), 0) << pattern;
        rx_litset *set = rx_literals_build(&prog, rx_prefilter_alternation(prog.root));
        ASSERT_NE(set, nullptr) << pattern;
        std::vector<int> scans = {RX_SCAN_DFA_UNBUILT, RX_SCAN_FIRST};
        if (set->scan == RX_SCAN_TEDDY) scans.push_back(RX_SCAN_TEDDY);
        const uint8_t *t = reinterpret_cast<const uint8_t *>(text.data());
        for (int scan : scans) {
            if (scan != RX_SCAN_DFA_UNBUILT || set->dfa == nullptr) set->scan = scan;
            int wrong = 0;
            for (uint64_t p = 0; p <= text.size() && wrong < 3; p++) {
                uint64_t want = plain_next(text, lists[k], fold, p);
                uint64_t got = rx_literals_next(set, t, text.size(), p);
                if (got != want) {
                    ADD_FAILURE() << pattern << " from " << p << " by search " << set->scan << ": " << got
                                  << ", not " << want;
                    wrong++;
                }
            }
            if (scan == RX_SCAN_DFA_UNBUILT) {
                EXPECT_EQ(set->scan, RX_SCAN_DFA) << pattern;
            }
        }
        rx_engine_release(&prog);
    }
}

TEST(Limits, LongRepetitionsOnSmallStack) {
    struct Deep {
        std::string pattern, text;
        int r;
        uint64_t e;
    };
    std::vector<Deep> cases = {
        {"(?:(?:(?:(a))))*", rep('a', 4096), 1, 4096},
        {"((((a)*)*)*)*", rep('a', 4096), 1, 4096},
        {"(?:(?:a|b)(?:c|d)?)*", rep('a', 1500) + rep('b', 1500), 1, 3000},
        {"(?:ab)*", "", 1, 0},
        {"(?:(a)b)*x", rep('c', 1), 0, 0},
    };
    /* A group inside a repetition 200 levels of non-capturing groups deep. */
    std::string deep = "(?:";
    for (int i = 0; i < 200; i++) deep += "(?:";
    deep += "(a)";
    for (int i = 0; i < 200; i++) deep += ")";
    deep += ")*";
    cases.push_back({deep, rep('a', 3000), 1, 3000});
    /* A long sequence inside a repetition: each iteration walks a deep left
     * spine of the tree. */
    std::string spine = "(?:(" + rep('a', 500) + "))*";
    cases.push_back({spine, rep('a', 500 * 40), 1, 500 * 40});
    /* Millions of iterations of a repetition over a sequence: one frame for
     * the whole run, not one per iteration. */
    std::string ab;
    for (int i = 0; i < 2500000; i++) ab += "ab";
    cases.push_back({"(?:ab)*", ab, 1, ab.size()});
    cases.push_back({"(?:(a)b)*", ab, 1, ab.size()});

    for (const Deep &d : cases) {
        Outcome o;
        ASSERT_TRUE(krx_test::run_on_stack([&] { o = search(d.pattern, d.text); }));
        EXPECT_EQ(o.r, d.r) << d.pattern.substr(0, 40) << " / " << d.text.size();
        if (o.r == 1 && d.r == 1) {
            EXPECT_EQ(o.s, 0u);
            EXPECT_EQ(o.e, d.e);
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
        {"\\w+y", 0, 0, 0}, /* no run of word bytes is followed by "y": each start ruled out */
        {"x*", 1, 0, 0},
        {"q", 0, 0, 0},
        {"(q)|r", 0, 0, 0},
        {"$", 1, n, n},
        {"(?:x|z)y", 1, n - 4, n - 2},
        /* a start inside a run of x ends where the run's first start ended */
        {"x*y", 1, (n - 4) / 97 * 97 + 1, n - 2},
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

/* ---- out of memory ------------------------------------------------------------- */

TEST(Memory, GrowthFailuresOfTheWorkStackAndUndoLog) {
    /* Each k on a fresh thread, so the thread's blocks do not exist yet. */
    const char *patterns[] = {"(?:(a)(b)|ab)+c", "(?:(?:ab)(?:cd|ef))*g", "((((((((((a))))))))))+"};
    const std::string text = rep('x', 3) + "abababababcdabefg" + rep('a', 300) + "c";
    for (const char *p : patterns) {
        rx_prog prog;
        char err[128];
        ASSERT_EQ(rx_engine_prepare(p, &prog, err, sizeof err), 0);
        Outcome want;
        ASSERT_TRUE(krx_test::run_on_stack([&] {
            rx_caps caps;
            /* twice: the first search also makes the prog's analysis of
             * hopeless start positions, which the later ones use */
            for (int i = 0; i < 2; i++) {
                rx_engine_arm(&prog, text.size());
                want.r = rx_engine_find_prog(&prog, text.data(), text.size(), 0, &want.s, &want.e, &caps);
            }
            want.steps = rx_engine_steps_left();
        }));
        ASSERT_GE(want.r, 0) << p;
        bool done = false;
        for (long k = 1; k < 100 && !done; k++) {
            Outcome got;
            long made = 0;
            ASSERT_TRUE(krx_test::run_on_stack([&] {
                rx_caps caps;
                rx_engine_arm(&prog, text.size());
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
                EXPECT_EQ(got.r, RX_OUT_OF_MEMORY) << p << " k=" << k;
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

} /* namespace */
