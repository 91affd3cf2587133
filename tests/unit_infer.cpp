/* Pattern inference: exact compact and verbose patterns for every shape,
 * the token and shape rules as they show in the patterns, the ordering of
 * alternatives, the rebuild when the engine would miss an example, UTF-8
 * characters kept whole, the "no examples" failure, and a sweep over every
 * failed allocation. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kelvaron_regex.h"
#include "rx_common.h"
#include "rx_infer.h"
#include "rx_match_win.h"
#include "test_support.h"

namespace {

struct Inferred {
    int rc = -2;
    std::string pattern;
    std::string verbose;
};

Inferred infer(const std::vector<std::string> &examples) {
    std::vector<const char *> ptrs;
    for (const std::string &e : examples) ptrs.push_back(e.c_str());
    char *pattern = nullptr;
    char *verbose = nullptr;
    Inferred out;
    out.rc = rx_infer_pattern(ptrs.data(), static_cast<int>(ptrs.size()), &pattern, &verbose);
    if (out.rc == 0) {
        out.pattern = pattern;
        out.verbose = verbose;
        std::free(pattern);
        std::free(verbose);
    }
    return out;
}

/* The verbose text from its lines: joined by single line feeds, no line
 * feed after the last. */
std::string lines(const std::vector<std::string> &ls) {
    std::string out;
    for (size_t i = 0; i < ls.size(); i++) {
        if (i > 0) out += '\n';
        out += ls[i];
    }
    return out;
}

/* The usual verbose text of a pattern without top-level alternatives. */
std::string one_line(const std::string &body) { return lines({"(?x)", "^", "  " + body, "$"}); }

std::string printable(const std::vector<std::string> &examples) {
    std::string out;
    for (const std::string &e : examples) {
        out += '"';
        for (unsigned char c : e) {
            if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
        out += "\" ";
    }
    return out;
}

/* Checks that the pattern matches every example from its first byte to its
 * last (the pattern is parsed once; each search behaves as a search on the
 * pattern text). */
void expect_matches_whole(const std::string &pattern, const std::vector<std::string> &examples) {
    rx_prog prog;
    char err[128] = "";
    ASSERT_EQ(rx_engine_prepare(pattern.c_str(), &prog, err, sizeof err), 0) << err;
    for (const std::string &e : examples) {
        uint64_t s = 99, end = 99;
        int rc = rx_engine_find_prog(&prog, e.c_str(), e.size(), 0, &s, &end, nullptr);
        EXPECT_TRUE(rc == 1 && s == 0 && end == e.size())
            << pattern.substr(0, 200) << " misses " << printable({e}).substr(0, 200);
    }
    rx_engine_release(&prog);
}

struct Case {
    std::vector<std::string> examples;
    std::string pattern;
    std::string verbose; /* empty: checked by a table of its own */
};

void check_cases(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        Inferred got = infer(c.examples);
        ASSERT_EQ(got.rc, 0) << printable(c.examples);
        EXPECT_EQ(got.pattern, c.pattern) << printable(c.examples);
        if (!c.verbose.empty()) {
            EXPECT_EQ(got.verbose, c.verbose) << printable(c.examples);
        }
        expect_matches_whole(got.pattern, c.examples);
    }
}

/* ---- the four shapes --------------------------------------------------------- */

TEST(Infer, EmptyShape) {
    check_cases({
        {{""}, "^$", lines({"(?x)", "^", "  ", "$"})},
        {{"", ""}, "^$", lines({"(?x)", "^", "  ", "$"})},
    });
}

TEST(Infer, SingleByteRunShape) {
    check_cases({
        {{"x", "x"}, "^x$", one_line("x")},
        {{"1", "11"}, "^1{1,2}$", one_line("1{1,2}")},
        {{"aa", "a", "aaa"}, "^a{1,3}$", one_line("a{1,3}")},
        {{"aaa"}, "^a{3}$", one_line("a{3}")},
        {{"..", "."}, "^\\.{1,2}$", one_line("\\.{1,2}")},
        {{"$", "$$$"}, "^\\${1,3}$", one_line("\\${1,3}")},
        {{"((("}, "^\\({3}$", one_line("\\({3}")},
        {{"||", "|"}, "^\\|{1,2}$", one_line("\\|{1,2}")},
        {{"  ", " "}, "^ {1,2}$", one_line("\\ {1,2}")},
        {{"\t"}, "^\t$", one_line("\\\t")},
        {{"##"}, "^#{2}$", one_line("\\#{2}")},
        {{"\xC3\xC3"}, "^\xC3{2}$", one_line("\xC3{2}")},
        {{std::string(2048, 'a')}, "^a{2048}$", one_line("a{2048}")},
    });
}

TEST(Infer, AlignedShape) {
    check_cases({
        {{"2023-12-01", "2024-01-15"}, "^\\d{4}-\\d{2}-\\d{2}$", one_line("\\d{4}-\\d{2}-\\d{2}")},
        {{"555-12", "555-98"}, "^555-\\d{2}$", one_line("555-\\d{2}")},
        {{"user_1", "admin_22"}, "^[A-Za-z_]{5,6}\\d{1,2}$", one_line("[A-Za-z_]{5,6}\\d{1,2}")},
        {{"foo bar", "foo  bar"}, "^foo\\s{1,2}bar$", one_line("foo\\s{1,2}bar")},
        {{"cat", "dog", "bird"}, "^[A-Za-z_]{3,4}$", one_line("[A-Za-z_]{3,4}")},
        {{"x", "y", "z"}, "^[A-Za-z_]$", one_line("[A-Za-z_]")},
        {{"A", "a"}, "^[A-Za-z_]$", one_line("[A-Za-z_]")},
        {{"r1.2", "r1.10"}, "^r1\\.\\d{1,2}$", one_line("r1\\.\\d{1,2}")},
        {{"(1)", "(22)"}, "^\\(\\d{1,2}\\)$", one_line("\\(\\d{1,2}\\)")},
        {{"a.b"}, "^a\\.b$", one_line("a\\.b")},
        {{"12", "345"}, "^\\d{2,3}$", one_line("\\d{2,3}")},
        {{"abc", "ABD"}, "^[A-Za-z_]{3}$", one_line("[A-Za-z_]{3}")},
        {{"12", "34"}, "^\\d{2}$", one_line("\\d{2}")},
        {{"a1", "a2"}, "^a\\d$", one_line("a\\d")},
        {{"a b", "a\tb"}, "^a\\sb$", one_line("a\\sb")},
        {{"$1", "$22"}, "^\\$\\d{1,2}$", one_line("\\$\\d{1,2}")},
        {{"(1", "(2"}, "^\\(\\d$", one_line("\\(\\d")},
        {{"^1", "^22"}, "^\\^\\d{1,2}$", one_line("\\^\\d{1,2}")},
        {{"a|1", "b|2"}, "^[A-Za-z_]\\|\\d$", one_line("[A-Za-z_]\\|\\d")},
        {{"#1", "#22"}, "^#\\d{1,2}$", one_line("\\#\\d{1,2}")},
        /* A single example that is no single-byte run is written literally,
         * white space included. */
        {{"hello world"}, "^hello world$", one_line("hello\\ world")},
        {{"x\ny"}, "^x\ny$", one_line("x\\\ny")},
        {{"a\r\n\v\fb"}, "^a\r\n\v\fb$", one_line("a\\\r\\\n\\\v\\\fb")},
        {{"{a}"}, "^\\{a\\}$", one_line("\\{a\\}")},
        {{"a*b+c?"}, "^a\\*b\\+c\\?$", one_line("a\\*b\\+c\\?")},
        {{"[x]", "[yy]"}, "^\\[[A-Za-z_]{1,2}\\]$", one_line("\\[[A-Za-z_]{1,2}\\]")},
        {{"1 # 2", "33 # 4"}, "^\\d{1,2} # \\d$", one_line("\\d{1,2}\\ \\#\\ \\d")},
    });
}

TEST(Infer, AlternationShape) {
    check_cases({
        {{"id-7.txt", "id-x-9.txt"},
         "^id-(7|x-9)\\.txt$",
         lines({"(?x)", "^", "  id-(7", "  |", "  x-9)\\.txt", "$"})},
        {{"cat", "dog-1"}, "^(cat|dog-1)$", lines({"(?x)", "^", "  (cat", "  |", "  dog-1)", "$"})},
        /* A middle comes after every middle that begins with it. */
        {{"a-a", "a-b-a"}, "^a-(b-|)a$", lines({"(?x)", "^", "  a-(b-", "  |", "  )a", "$"})},
        {{"hello world", "hello"},
         "^hello( world|)$",
         lines({"(?x)", "^", "  hello(\\ world", "  |", "  )", "$"})},
        {{"x-1", "x-1-2", "x-2"},
         "^x-(1-2|1|2)$",
         lines({"(?x)", "^", "  x-(1-2", "  |", "  1", "  |", "  2)", "$"})},
        {{"", "a"}, "^(a|)$", lines({"(?x)", "^", "  (a", "  |", "  )", "$"})},
        {{"a_b", "a-b"}, "^a(-|_)b$", lines({"(?x)", "^", "  a(-", "  |", "  _)b", "$"})},
        /* Escaped operators are literal units: they never break a line or
         * change the depth. */
        {{"p(a|bb)q", "p(c|d)q-1"},
         "^p\\((a\\|bb\\)q|c\\|d\\)q-1)$",
         lines({"(?x)", "^", "  p\\((a\\|bb\\)q", "  |", "  c\\|d\\)q-1)", "$"})},
        {{"a$", "a$b$"}, "^a\\$(b\\$|)$", lines({"(?x)", "^", "  a\\$(b\\$", "  |", "  )", "$"})},
        {{"x #", "x"}, "^x( #|)$", lines({"(?x)", "^", "  x(\\ \\#", "  |", "  )", "$"})},
    });
}

/* ---- tokens and shapes, as the patterns show them ------------------------------ */

TEST(Infer, TokenRules) {
    check_cases({
        /* The underscore joins a letter run: ab_12 is two tokens, ab-12 three. */
        {{"ab-12", "ab_12"}, "^ab(-|_)12$", ""},
        {{"ab-12", "xyz-3"}, "^[A-Za-z_]{2,3}-\\d{1,2}$", ""},
        {{"user_42", "abc_d_9"}, "^[A-Za-z_]{5,6}\\d{1,2}$", ""},
        /* Digits are not letters: a1b2 is four tokens. */
        {{"a1b2", "c3d4"}, "^[A-Za-z_]\\d[A-Za-z_]\\d$", ""},
        {{"a1b2", "ab12"}, "^a(1b|b1)2$", ""},
        /* Other bytes are tokens one by one and must be the same byte. */
        {{"x..y", "xx..yy"}, "^[A-Za-z_]{1,2}\\.\\.[A-Za-z_]{1,2}$", ""},
        {{"a.b", "a,b"}, "^a(,|\\.)b$", ""},
        {{"a`b", "c`dd"}, "^[A-Za-z_]`[A-Za-z_]{1,2}$", ""},
        {{"a^b", "cc^d"}, "^[A-Za-z_]{1,2}\\^[A-Za-z_]$", ""},
        {{"a[b", "a]b"}, "^a(\\[|\\])b$", ""},
        {{"a\\b", "cc\\d"}, "^[A-Za-z_]{1,2}\\\\[A-Za-z_]$", ""},
        /* One white-space run covers spaces, tabs and line breaks together. */
        {{"  \t!", " !"}, "^\\s{1,3}!$", ""},
        {{"a \r\nb", "a\fb"}, "^a\\s{1,3}b$", ""},
        {{"a b", "a\x01"
                 "b"},
         "^a(\x01| )b$",
         ""},
        /* 0xC3 0xA9 are two other tokens, compared byte by byte. */
        {{"\xC3\xA9"
          "1",
          "\xC3\xA9"
          "22"},
         "^\xC3\xA9\\d{1,2}$",
         ""},
        {{"\xC3\xA9"
          "a",
          "\xC3\xA9"
          "ab"},
         "^\xC3\xA9[A-Za-z_]{1,2}$",
         ""},
        /* Run texts play no part in the shape, only run kinds. */
        {{"2024-01-15", "1999-12-31"}, "^\\d{4}-\\d{2}-\\d{2}$", ""},
        {{"2024-01-15", "2024-0115"}, "^2024-01(-|)15$", ""},
        /* The empty example has no shape, not even with another empty one. */
        {{"", "1", "22"}, "^(1|22|)$", ""},
        {{"", "a", "b"}, "^(a|b|)$", ""},
    });
}

/* Sequences of 17, 33 and 65 tokens: the token array grows past 16, 32 and
 * 64 slots, and every token still takes part in the comparison. */
TEST(Infer, LongTokenSequences) {
    for (int tokens : {16, 17, 32, 33, 64, 65, 200}) {
        /* "a-a-...-a" with (tokens + 1) / 2 letters and tokens / 2 hyphens,
         * ending in a letter when tokens is odd, in a hyphen when even. */
        std::string small, big, expected = "^";
        for (int i = 0; i < tokens; i++) {
            if (i % 2 == 0) {
                small += "a";
                big += i == tokens - 1 || i == tokens - 2 ? "bb" : "b";
                expected += i == tokens - 1 || i == tokens - 2 ? "[A-Za-z_]{1,2}" : "[A-Za-z_]";
            } else {
                small += "-";
                big += "-";
                expected += "-";
            }
        }
        expected += "$";
        check_cases({{{small, big}, expected, one_line(expected.substr(1, expected.size() - 2))}});

        /* The last token differs in its byte: the shapes differ. */
        std::string dot = small + ".", comma = small + ",";
        check_cases({{{dot, comma}, "^" + small + "(,|\\.)$", ""}});
        /* One token more in one example: the shapes differ. */
        check_cases({{{small, small + "-"}, "^" + small + "(-|)$", ""}});
    }
}

/* ---- ordering and the rebuild -------------------------------------------------- */

TEST(Infer, AlternativesThatTheEngineWouldMissAreRebuilt) {
    check_cases({
        /* ^(1-|1|2)-$ misses 1-: the first alternative takes the hyphen the
         * suffix needs. The whole examples become the alternatives. */
        {{"1-", "1--", "2-"},
         "^(1--|1-|2-)$",
         lines({"(?x)", "^", "  (1--", "  |", "  1-", "  |", "  2-)", "$"})},
        {{"a.", "a..", "b."}, "^(a\\.\\.|a\\.|b\\.)$", ""},
        /* Runs of any length stay repetitions: repetition has no limit. */
        {{std::string(2049, 'a')}, "^a{2049}$", ""},
        {{std::string(2049, '.'), "."}, "^\\.{1,2049}$", ""},
        {{std::string(2049, '1') + "x", "111x"}, "^\\d{3,2049}x$", ""},
        {{std::string(3000, ' ') + "z", " z"}, "^\\s{1,3000}z$", lines({"(?x)", "^", "  \\s{1,3000}z", "$"})},
        {{std::string(2048, '1') + "x", "111x"}, "^\\d{3,2048}x$", ""},
    });
}

/* ---- UTF-8 characters stay whole --------------------------------------------- */

TEST(Infer, PrefixAndSuffixNeverSplitACharacter) {
    const std::string e_acute = "\xC3\xA9", e_grave = "\xC3\xA8", euro = "\xE2\x82\xAC", pound = "\xC2\xA3";
    check_cases({
        {{e_acute, e_grave},
         "^(" + e_grave + "|" + e_acute + ")$",
         lines({"(?x)", "^", "  (" + e_grave, "  |", "  " + e_acute + ")", "$"})},
        {{e_grave, e_acute + e_grave},
         "^(" + e_acute + "|)" + e_grave + "$",
         lines({"(?x)", "^", "  (" + e_acute, "  |", "  )" + e_grave, "$"})},
        /* A shared lead byte alone is not a prefix; the shared character is. */
        {{"x" + e_acute + "1", "x" + e_grave + "-"}, "^x(" + e_grave + "-|" + e_acute + "1)$", ""},
        /* The suffix starts on a character's first byte: only the last byte
         * of euro (E2 82 AC) and of the second character is shared. */
        {{"a" + euro, "b\xE2\x84\xAC"}, "^(a" + euro + "|b\xE2\x84\xAC)$", ""},
        {{"1" + pound, "-" + pound}, "^(-|1)" + pound + "$", ""},
        /* A prefix that ends where a character ends stays whole. */
        {{e_acute, e_acute + "x"}, "^" + e_acute + "(x|)$", ""},
        {{euro + "1", euro + "-"}, "^" + euro + "(-|1)$", ""},
    });
}

/* ---- order and repetitions of the input ---------------------------------------- */

TEST(Infer, InputOrderAndRepeatsDoNotMatter) {
    const std::vector<std::vector<std::string>> sets = {
        {"x-1", "x-1-2", "x-2"},
        {"id-7.txt", "id-x-9.txt", "id-7.txt"},
        {"user_1", "admin_22", "root_333"},
        {"", "a", "aa"},
        {"1-", "1--", "2-"},
    };
    for (const auto &base : sets) {
        Inferred ref = infer(base);
        ASSERT_EQ(ref.rc, 0);
        std::vector<std::string> perm = base;
        std::sort(perm.begin(), perm.end());
        do {
            Inferred got = infer(perm);
            EXPECT_EQ(got.pattern, ref.pattern) << printable(perm);
            EXPECT_EQ(got.verbose, ref.verbose) << printable(perm);
            std::vector<std::string> doubled = perm;
            doubled.insert(doubled.end(), perm.rbegin(), perm.rend());
            Inferred twice = infer(doubled);
            EXPECT_EQ(twice.pattern, ref.pattern) << printable(doubled);
        } while (std::next_permutation(perm.begin(), perm.end()));
    }
}

/* ---- the call's contract ------------------------------------------------------ */

TEST(Infer, NoExamples) {
    const char *one[] = {"a"};
    for (int count : {0, -1, -64}) {
        char sentinel[] = "untouched";
        char *pattern = sentinel, *verbose = sentinel;
        rx_clear_error();
        EXPECT_EQ(rx_infer_pattern(one, count, &pattern, &verbose), -1);
        EXPECT_STREQ(rx_last_error(), "no examples");
        EXPECT_EQ(pattern, sentinel);
        EXPECT_EQ(verbose, sentinel);
    }
}

TEST(Infer, InputIsNotModifiedAndErrorSlotIsLeftAlone) {
    std::string a = "b-2", b = "a-1", c = "b-2";
    const char *list[] = {a.c_str(), b.c_str(), c.c_str()};
    const char *copy[] = {list[0], list[1], list[2]};
    rx_set_error("%s", "earlier failure");
    char *pattern = nullptr, *verbose = nullptr;
    ASSERT_EQ(rx_infer_pattern(list, 3, &pattern, &verbose), 0);
    EXPECT_STREQ(pattern, "^[A-Za-z_]-\\d$");
    EXPECT_STREQ(rx_last_error(), "earlier failure");
    std::free(pattern);
    std::free(verbose);
    for (int i = 0; i < 3; i++) EXPECT_EQ(list[i], copy[i]);
    EXPECT_EQ(a, "b-2");
    EXPECT_EQ(b, "a-1");
    rx_clear_error();
}

/* The largest inputs, inferred and proved on a thread with a 1 MiB stack. */
TEST(Infer, LargestInputsOnASmallStack) {
    std::vector<std::string> examples;
    for (int i = 0; i < 64; i++) examples.push_back(std::string(4096 - i, i % 2 ? '(' : ')'));
    Inferred got;
    ASSERT_TRUE(krx_test::run_on_stack([&] { got = infer(examples); }));
    ASSERT_EQ(got.rc, 0);
    EXPECT_EQ(got.pattern.substr(0, 2), "^(");
    expect_matches_whole(got.pattern, examples);
}

TEST(Infer, SixtyFourLongExamples) {
    std::vector<std::string> examples;
    for (int i = 0; i < 64; i++) examples.push_back(std::string(4090, 'k') + "-" + std::to_string(1000 + i));
    check_cases({{examples, "^" + std::string(4090, 'k') + "-\\d{4}$", ""}});
    examples.clear();
    for (int i = 0; i < 64; i++)
        examples.push_back(std::string(4000 + i, 'q') + "." + std::string(95 - i, '7'));
    /* Runs of thousands of bytes: the aligned shape stands. */
    check_cases({{examples, "^[A-Za-z_]{4000,4063}\\.\\d{32,95}$", ""}});
    expect_matches_whole("^[A-Za-z_]{4000,4063}\\.\\d{32,95}$", examples);
}

/* ---- every failed allocation ---------------------------------------------------- */

struct Attempt {
    int rc = -2;
    bool outputs_untouched = false;
    std::string pattern, verbose, error;
};

/* One call with the k-th allocation failing, on a fresh thread with a 1 MiB
 * stack, so that the engine's first-use allocations on a thread are failed
 * too. */
Attempt attempt(const std::vector<const char *> &ptrs, long k) {
    Attempt a;
    bool started = krx_test::run_on_stack([&] {
        char sentinel[] = "untouched";
        char *pattern = sentinel, *verbose = sentinel;
        rx_clear_error();
        rx_alloc_fail_at(k);
        a.rc = rx_infer_pattern(ptrs.data(), static_cast<int>(ptrs.size()), &pattern, &verbose);
        rx_alloc_fail_at(0);
        a.error = rx_last_error();
        a.outputs_untouched = pattern == sentinel && verbose == sentinel;
        if (a.rc == 0) {
            a.pattern = pattern;
            a.verbose = verbose;
            std::free(pattern);
            std::free(verbose);
        }
    });
    EXPECT_TRUE(started);
    return a;
}

/* Fails the k-th allocation of one call, k = 1, 2, ..., until the call
 * makes fewer than k allocations and succeeds with the normal answer. Each
 * failure must answer -1 with "out of memory" and leave both outputs as
 * they were; the sanitizer build checks that nothing leaks. */
void sweep(const std::vector<std::string> &examples) {
    std::vector<const char *> ptrs;
    for (const std::string &e : examples) ptrs.push_back(e.c_str());
    Attempt expected = attempt(ptrs, 0);
    ASSERT_EQ(expected.rc, 0);
    long k = 1;
    for (;; k++) {
        Attempt a = attempt(ptrs, k);
        if (a.rc == 0) {
            EXPECT_EQ(a.pattern, expected.pattern) << "k=" << k << " " << printable(examples);
            EXPECT_EQ(a.verbose, expected.verbose) << "k=" << k << " " << printable(examples);
            EXPECT_EQ(a.error, "");
            break;
        }
        ASSERT_EQ(a.rc, -1) << "k=" << k;
        EXPECT_EQ(a.error, "out of memory") << "k=" << k << " " << printable(examples);
        EXPECT_TRUE(a.outputs_untouched) << "k=" << k;
    }
    EXPECT_GT(k, 3) << printable(examples);
}

TEST(Infer, EachAllocationFailureIsReported) {
    const std::vector<std::vector<std::string>> lists = {
        {""},
        {"aaa", "a"},
        {"2023-12-01", "2024-01-15"},
        {"hello", "hello world"},
        {"id-7.txt", "id-x-9.txt"},
        {"1-", "1--", "2-"},
        {"x-1", "x-1-2", "x-2"},
        {"a-a-a-a-a-a-a-a-a-a-a-a-a-a-a-a-a-a-a", "b-b-b-b-b-b-b-b-b-b-b-b-b-b-b-b-b-b-bb"},
        {std::string(200, '#') + " x", std::string(150, '#') + " yy"},
        {std::string(2049, 'z')},
    };
    for (const auto &l : lists) sweep(l);
}

TEST(Infer, EachAllocationFailureIsReportedForManyExamples) {
    std::vector<std::string> examples;
    int n = krx_test::long_mode() ? 64 : 12;
    for (int i = 0; i < n; i++) examples.push_back("item " + std::to_string(i * 37) + (i % 3 ? "-x" : ""));
    sweep(examples);
}

} /* namespace */
