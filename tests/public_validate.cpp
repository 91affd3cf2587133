/* rx_validate and rx_last_error as a host sees them: the null pattern, the
 * answer's buffer, control bytes, and very long or deeply nested patterns on
 * a thread with a 1 MiB stack. The accepted and rejected patterns, with
 * every parser message, are in the table of tests/cases/match_cases.json
 * (public_cases.cpp). */
#include <gtest/gtest.h>

#include <string>

#include "kelvaron_regex.h"
#include "test_support.h"

namespace {

const std::string OK = "{\"ok\":true}";
std::string rejected(const std::string &message) { return "{\"ok\":false,\"error\":\"" + message + "\"}"; }

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
