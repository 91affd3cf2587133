/* rx_replace_preview as a host sees it, through the public header only: the
 * exact JSON answer for tables of (pattern, text, replacement), covering
 * literal replacement (no group references), empty matches, the leading "^"
 * rule, JSON quoting of the result, the step budget of a call, the text
 * limit, and the null / invalid-pattern failures with rx_last_error. */
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

const char LIMIT_REACHED[] = "null: backtracking limit reached";

TEST(RxReplace, EveryMatchIsReplaced) {
    check_table({
        {"a", "banana", "o", R"({"result":"bonono","count":3})"},
        {"z", "abc", "x", R"({"result":"abc","count":0})"},
        {"z", "", "x", R"({"result":"","count":0})"},
        {"a", "banana", "", R"({"result":"bnn","count":3})"},
        {"an", "banana", "<>", R"({"result":"b<><>a","count":2})"},
        {"a(b|c)", "ab ac ad", "X", R"({"result":"X X ad","count":2})"},
        {"\\d+", "a1b22c333", "#", R"({"result":"a#b#c#","count":3})"},
    });
}

TEST(RxReplace, EmptyMatchesInsertTheReplacement) {
    check_table({
        /* A pattern that only matches the empty string: n + 1 insertions. */
        {"", "abc", "-", R"({"result":"-a-b-c-","count":4})"},
        {"x{0}", "ab", ".", R"({"result":".a.b.","count":3})"},
        {"", "", "X", R"({"result":"X","count":1})"},
        {"\\B", "ab", "-", R"({"result":"a-b","count":1})"},
        /* An empty match right after a non-empty one is replaced too. */
        {"a*", "ab", "R", R"({"result":"RRbR","count":3})"},
        {"a*", "b", "R", R"({"result":"RbR","count":2})"},
        {"a*", "", "R", R"({"result":"R","count":1})"},
        {"(?m)$", "a\nb", "|", R"({"result":"a|\nb|","count":2})"},
        {"(?:a?){2}", "a", "R", R"({"result":"RR","count":2})"},
        {"(a*)+", "", "E", R"({"result":"E","count":1})"},
        {"x(a*)+y", "xy", "Z", R"({"result":"Z","count":1})"},
    });
}

TEST(RxReplace, MatchingRulesShowInTheResult) {
    check_table({
        {"a*ab", "aab", "X", R"({"result":"aab","count":0})"},
        {"(a|ab)c", "abc", "X", R"({"result":"abc","count":0})"},
        {"a|ab", "ab", "X", R"({"result":"Xb","count":1})"},
        {"a+?b", "aab", "X", R"({"result":"aX","count":1})"},
        {"a{2,5}?", "aaaaa", "X", R"({"result":"XXa","count":2})"},
        {"(?i)[a-c]+", "xABCx", "-", R"({"result":"x-x","count":1})"},
        {"\\bfoo\\b", "a foo foobar", "X", R"({"result":"a X foobar","count":1})"},
        {".", "a\n", "X", R"({"result":"X\n","count":1})"},
        {"(?s).", "a\n", "X", R"({"result":"XX","count":2})"},
    });
}

TEST(RxReplace, LeadingCaretRule) {
    check_table({
        /* Every alternative anchored: replaced at most once, at offset 0. */
        {"^a", "aaa", "X", R"({"result":"Xaa","count":1})"},
        {"^", "abc", "X", R"({"result":"Xabc","count":1})"},
        {"^b", "abc", "X", R"({"result":"abc","count":0})"},
        /* An unanchored alternative is replaced wherever it matches. */
        {"^a|b", "xb", "Y", R"({"result":"xY","count":1})"},
        {"^a|b", "abb", "X", R"({"result":"XXX","count":3})"},
        /* A leading flag group: every offset. */
        {"(?m)^a", "a\na", "X", R"({"result":"X\nX","count":2})"},
    });
}

TEST(RxReplace, ReplacementIsTakenLiterally) {
    check_table({
        {"(a)", "a", "$1\\1", R"({"result":"$1\\1","count":1})"},
        {"(a)(b)", "abab", "\\2\\1$2$1&$0", R"({"result":"\\2\\1$2$1&$0\\2\\1$2$1&$0","count":2})"},
        {"b", "abc", "${1}", R"({"result":"a${1}c","count":1})"},
    });
}

TEST(RxReplace, ResultIsQuotedAsJson) {
    check_table({
        /* Quote, backslash, short escapes, \u00xx in lower case for the other
         * control bytes, from the text and from the replacement alike; 0x7F
         * and bytes from 0x80 up unchanged. */
        {"x", "\"x\\\n\r\t\x01\x1f\x7f\xC3\xA9", "\x02\"\x0b",
         R"({"result":"\"\u0002\"\u000b\\\n\r\t\u0001\u001f)"
         "\x7f\xC3\xA9"
         R"(","count":1})"},
        /* A match inside a UTF-8 sequence leaves the other byte raw. */
        {"\xA9", "\xC3\xA9", "!", "{\"result\":\"\xC3!\",\"count\":1}"},
        {"[^x]", "\xC3\xA9", ".", R"({"result":"..","count":2})"},
        {"/", "a/b", "\x08\x0c", R"({"result":"a\u0008\u000cb","count":1})"},
    });
}

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
