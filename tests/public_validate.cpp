/* rx_validate and rx_last_error as a host sees them: exact answers for the
 * accepted and rejected patterns, every parser message with its byte, and
 * very long or deeply nested patterns on a thread with a 1 MiB stack. */
#include <gtest/gtest.h>

#include <string>

#include "kelvaron_regex.h"
#include "test_support.h"

namespace {

const std::string OK = "{\"ok\":true}";
std::string rejected(const std::string &message) { return "{\"ok\":false,\"error\":\"" + message + "\"}"; }

struct Case {
    const char *pattern;
    std::string answer;
};

TEST(Validate, AcceptedPatterns) {
    const char *accepted[] = {
        "",
        "a",
        "(?i)",
        "(?ims)a",
        "(?m)^a$",
        "(?s).",
        "a*?",
        "\\b*",
        "a|",
        "a||b",
        "()",
        "(?:)",
        "(?:a)",
        "a{,2}",
        "a{2",
        "a{2}{3}",
        "a{",
        "a{2,",
        "a{2,x}",
        "a{ 2}",
        "a{,5}",
        "{",
        "}",
        "]",
        "[]a]",
        "[^]a]",
        "[a-]",
        "[z-a]",
        "[\\d]",
        "[]-a]",
        "[+--]",
        "\\n",
        "\\t",
        "\\.",
        "\\",
        "\\1",
        "a{3,2}",
        "a{0}",
        "a{2147483647}",
        "a{0,2147483647}",
        "\\d\\D\\s\\S\\w\\W\\b\\B",
        "((a)(b))",
        "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)(p)(q)",
        "x(y)?z",
        "a+?b",
        "a{2,5}?",
        "^$",
        "\xC3\xA9+",
        "[^a-z0-9_]",
    };
    for (const char *p : accepted) {
        const char *answer = rx_validate(p);
        ASSERT_NE(answer, nullptr) << p;
        EXPECT_EQ(std::string(answer), OK) << p;
        EXPECT_STREQ(rx_last_error(), "") << p;
    }
}

TEST(Validate, RejectedPatternsCarryTheParserMessage) {
    const Case cases[] = {
        {"*a", rejected("unexpected '*'")},
        {"+", rejected("unexpected '+'")},
        {"?", rejected("unexpected '?'")},
        {"a|*", rejected("unexpected '*'")},
        {"(*)", rejected("unexpected '*'")},
        {"^*", rejected("unexpected '*'")},
        {"$+", rejected("unexpected '+'")},
        {"a**", rejected("unexpected '*'")},
        {"a*??", rejected("unexpected '?'")},
        {"a{2}*", rejected("unexpected '*'")},
        {"(?)a", rejected("unexpected '?'")},
        {"(?x)a", rejected("unexpected '?'")},
        {"(?i-s)a", rejected("unexpected '?'")},
        {"(?i:a)", rejected("unexpected '?'")},
        {"a(?i)", rejected("unexpected '?'")},
        {"(?imx)a", rejected("unexpected '?'")},
        {"a)", rejected("trailing junk at ')'")},
        {")", rejected("trailing junk at ')'")},
        {"(a))b", rejected("trailing junk at ')'")},
        {"(a", rejected("unclosed group")},
        {"a(", rejected("unclosed group")},
        {"((a)", rejected("unclosed group")},
        {"(?:a", rejected("unclosed group")},
        {"[a", rejected("unclosed character class")},
        {"[", rejected("unclosed character class")},
        {"[]", rejected("unclosed character class")},
        {"[^]", rejected("unclosed character class")},
        {"[a-", rejected("unclosed character class")},
        {"(a|[b)", rejected("unclosed character class")},
        /* Counts beyond the largest signed 32-bit value are refused, not wrapped. */
        {"a{2147483648}", rejected("repetition count too large")},
        {"a{1,99999999999}", rejected("repetition count too large")},
        {"a{99999999999,}", rejected("repetition count too large")},
    };
    for (const auto &c : cases) {
        rx_validate("a"); /* leaves something in the slot's neighbourhood */
        const char *answer = rx_validate(c.pattern);
        ASSERT_NE(answer, nullptr) << c.pattern;
        EXPECT_EQ(std::string(answer), c.answer) << c.pattern;
        /* A rejection is an answer, not a failure. */
        EXPECT_STREQ(rx_last_error(), "") << c.pattern;
    }
}

TEST(Validate, NullPattern) {
    const char *answer = rx_validate(nullptr);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::string(answer), rejected("null pattern"));
    EXPECT_STREQ(rx_last_error(), "null pattern");
    /* The next call clears the slot. */
    ASSERT_NE(rx_validate("a"), nullptr);
    EXPECT_STREQ(rx_last_error(), "");
}

TEST(Validate, AnswerLivesInTheThreadsBufferUntilTheNextAnswer) {
    const char *first = rx_validate("a");
    const char *second = rx_validate("*");
    /* Same thread, same buffer: the first pointer now shows the second answer. */
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::string(second), rejected("unexpected '*'"));
}

TEST(Validate, ControlBytesInPatternsNeverBreakTheJson) {
    /* Every byte value except NUL is accepted as a literal. */
    std::string all;
    for (int b = 1; b < 256; b++) {
        if (b == '(' || b == ')' || b == '[' || b == '*' || b == '+' || b == '?' || b == '|' || b == '\\' ||
            b == '{')
            continue;
        all.push_back(static_cast<char>(b));
    }
    const char *answer = rx_validate(all.c_str());
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::string(answer), OK);
}

TEST(Validate, LongAndDeepPatternsOnASmallStack) {
    std::string literal(1000000, 'a');
    std::string answer_long;
    ASSERT_TRUE(krx_test::run_on_stack([&] {
        const char *a = rx_validate(literal.c_str());
        answer_long = a != nullptr ? a : "(null)";
    }));
    EXPECT_EQ(answer_long, OK);

    std::string nested = std::string(100000, '(') + "a" + std::string(100000, ')');
    std::string answer_deep;
    ASSERT_TRUE(krx_test::run_on_stack([&] {
        const char *a = rx_validate(nested.c_str());
        answer_deep = a != nullptr ? a : "(null)";
    }));
    EXPECT_TRUE(answer_deep == OK || answer_deep == rejected("groups nested too deeply")) << answer_deep;

    std::string alternatives;
    for (int i = 0; i < 200000; i++) alternatives += "a|";
    std::string answer_alt;
    ASSERT_TRUE(krx_test::run_on_stack([&] {
        const char *a = rx_validate(alternatives.c_str());
        answer_alt = a != nullptr ? a : "(null)";
    }));
    EXPECT_EQ(answer_alt, OK);

    std::string quantified;
    for (int i = 0; i < 200000; i++) quantified += "(?:a*)";
    std::string answer_q;
    ASSERT_TRUE(krx_test::run_on_stack([&] {
        const char *a = rx_validate(quantified.c_str());
        answer_q = a != nullptr ? a : "(null)";
    }));
    EXPECT_EQ(answer_q, OK);
}

} /* namespace */
