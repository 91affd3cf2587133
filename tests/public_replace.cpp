/* rx_replace_preview as a host sees it, through the public header only: the
 * exact JSON answer for tables of (pattern, text, replacement), covering the
 * step budget of a call, the text limit, and the null / invalid-pattern
 * failures with rx_last_error. Literal replacement (no group references),
 * empty matches, the leading "^" rule and the JSON quoting of the result are
 * in the table of tests/cases/match_cases.json (public_cases.cpp), which the
 * JS package's tests share. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvaron_regex.h"
#include "test_support.h"

namespace {

/* The answer of rx_replace_preview, or "null: " and the error text when it
 * refused. A successful call must leave the error text empty. */
std::string replace_answer(const char *pattern, const char *text, const char *replacement) {
    const char *answer = rx_replace_preview(pattern, text, replacement);
    if (answer == nullptr) return std::string("null: ") + rx_last_error();
    std::string out(answer);
    if (rx_last_error()[0] != '\0') out += std::string(" [error text: ") + rx_last_error() + "]";
    return out;
}

struct Case {
    std::string pattern;
    std::string text;
    std::string replacement;
    std::string answer;
};

void check_table(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        EXPECT_EQ(replace_answer(c.pattern.c_str(), c.text.c_str(), c.replacement.c_str()), c.answer)
            << "pattern [" << c.pattern << "] text [" << c.text << "] replacement [" << c.replacement << "]";
    }
}

/* {"result":"<text>","count":<n>} for a result that JSON quoting leaves as it is. */
std::string plain_answer(const std::string &result, int count) {
    return "{\"result\":\"" + result + "\",\"count\":" + std::to_string(count) + "}";
}

std::string repeated(const std::string &piece, int times) {
    std::string out;
    for (int i = 0; i < times; i++) out += piece;
    return out;
}

const char LIMIT_REACHED[] = "null: backtracking limit reached";

TEST(RxReplace, LongRepetitionsAndTheBudgetOfACall) {
    check_table({
        {"a*", std::string(3000, 'a'), "R", R"({"result":"RR","count":2})"},
        {"a*b", std::string(3000, 'a') + "b", "R", R"({"result":"R","count":1})"},
        {"b|a*", "b" + std::string(3000, 'a'), "X", R"({"result":"XXX","count":3})"},
        {"a*b", std::string(1004, 'a'), "R", R"({"result":")" + std::string(1004, 'a') + R"(","count":0})"},
        {"(?:a|b){0,5000}c", std::string(1500, 'a'), "R", LIMIT_REACHED},
        /* The budget runs out after the first match was found: nothing is
         * replaced, the whole call fails. */
        {"(?:a|b){0,5000}c|d", "d", "X", R"({"result":"X","count":1})"},
        {"(?:a|b){0,5000}c|d", "d" + std::string(2000, 'a'), "X", LIMIT_REACHED},
        /* Each search matches the empty string after thousands of steps: the
         * one budget of the call runs out long before the end of the text. */
        {"(?:(?:a|b){1,2000}c)?", std::string(10485760, 'a'), "X", LIMIT_REACHED},
        /* A group is recorded though the preview shows none, so the call
         * spends what rx_test spends and fails where it fails. */
        {"(?:(" + repeated("b|", 40) + ".){0,2000}c)?", std::string(200, 'x'), "X", LIMIT_REACHED},
    });
}

TEST(RxReplace, TextLimit) {
    const int LIMIT = 10485760;
    std::string text(LIMIT, 'b');
    EXPECT_TRUE(krx_test::same_long_text(replace_answer("a", text.c_str(), "x"), plain_answer(text, 0)));
    text[LIMIT - 1] = 'c';
    EXPECT_TRUE(krx_test::same_long_text(replace_answer("c", text.c_str(), "d"),
                                         plain_answer(std::string(LIMIT - 1, 'b') + "d", 1)));
    text += "c";
    EXPECT_EQ(replace_answer("c", text.c_str(), "d"), "null: text exceeds 10485760 bytes");
    EXPECT_EQ(replace_answer("(", text.c_str(), "d"), "null: invalid pattern: unclosed group");
}

TEST(RxReplace, InvalidPatterns) {
    check_table({
        {"*a", "a", "x", "null: invalid pattern: unexpected '*'"},
        {"a|+", "a", "x", "null: invalid pattern: unexpected '+'"},
        {"(a", "a", "x", "null: invalid pattern: unclosed group"},
        {"a)", "a", "x", "null: invalid pattern: trailing junk at ')'"},
        {"[^", "a", "x", "null: invalid pattern: unclosed character class"},
    });
}

TEST(RxReplace, NullArgumentsInOrder) {
    struct NullCase {
        const char *pattern, *text, *replacement, *error;
    };
    const NullCase cases[] = {
        {nullptr, nullptr, nullptr, "null pattern"},
        {nullptr, "b", "x", "null pattern"},
        {"a", nullptr, nullptr, "null text"},
        {"a", nullptr, "x", "null text"},
        {"a", "b", nullptr, "null replacement"},
        /* Null arguments are tested before the pattern is compiled. */
        {"(", nullptr, "x", "null text"},
        {"(", "b", nullptr, "null replacement"},
    };
    for (const NullCase &c : cases) {
        EXPECT_EQ(rx_replace_preview(c.pattern, c.text, c.replacement), nullptr) << c.error;
        EXPECT_STREQ(rx_last_error(), c.error);
    }
}

TEST(RxReplace, FailedCallKeepsThePreviousAnswer) {
    const char *first = rx_replace_preview("a", "banana", "o");
    ASSERT_NE(first, nullptr);
    const std::string saved(first);
    EXPECT_EQ(saved, R"({"result":"bonono","count":3})");
    EXPECT_EQ(rx_replace_preview("a", "b", nullptr), nullptr);
    EXPECT_EQ(rx_replace_preview("*", "b", "x"), nullptr);
    EXPECT_EQ(rx_replace_preview("(?:a|b){0,5000}c", std::string(1500, 'a').c_str(), "x"), nullptr);
    EXPECT_EQ(rx_replace_preview("a", std::string(10485761, 'a').c_str(), "x"), nullptr);
    EXPECT_EQ(rx_test(nullptr, "b"), nullptr);
    EXPECT_EQ(std::string(first), saved);
}

TEST(RxReplace, ErrorTextIsClearedByTheNextCall) {
    EXPECT_EQ(rx_replace_preview("a", "b", nullptr), nullptr);
    EXPECT_STREQ(rx_last_error(), "null replacement");
    ASSERT_NE(rx_replace_preview("a", "b", "c"), nullptr);
    EXPECT_STREQ(rx_last_error(), "");
    EXPECT_EQ(rx_replace_preview("(?:a|b){0,5000}c|d", ("d" + std::string(2000, 'a')).c_str(), "x"), nullptr);
    EXPECT_STREQ(rx_last_error(), "backtracking limit reached");
    EXPECT_EQ(replace_answer("a", "a", "b"), R"({"result":"b","count":1})");
}

} /* namespace */
