/* rx_generate as a host sees it: the four shapes with exact compact and
 * verbose answers, the reader's strictness, every message with its index,
 * and the limits on the number and size of the examples. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvaron_regex.h"

namespace {

/* The JSON answer for a compact pattern and verbose lines, both written
 * plainly (the helper quotes them as the library must). */
std::string quote(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out + "\"";
}

std::string answer(const std::string &compact, const std::vector<std::string> &lines) {
    std::string verbose;
    for (size_t i = 0; i < lines.size(); i++) verbose += (i ? "\n" : "") + lines[i];
    return "{\"pattern\":" + quote(compact) + ",\"verbose\":" + quote(verbose) + "}";
}

std::string generate(const std::string &json) {
    const char *a = rx_generate(json.c_str());
    return a != nullptr ? std::string(a) : "null: " + std::string(rx_last_error());
}

struct Case {
    const char *json;
    const char *compact;
    std::vector<std::string> lines;
};

TEST(Generate, Shapes) {
    const Case cases[] = {
        /* empty */
        {R"j([""])j", "^$", {"(?x)", "^", "  ", "$"}},
        {R"j(["",""])j", "^$", {"(?x)", "^", "  ", "$"}},
        /* single-byte run */
        {R"j(["1","11"])j", "^1{1,2}$", {"(?x)", "^", "  1{1,2}", "$"}},
        {R"j(["aa","a","aaa"])j", "^a{1,3}$", {"(?x)", "^", "  a{1,3}", "$"}},
        {R"j(["aaa"])j", "^a{3}$", {"(?x)", "^", "  a{3}", "$"}},
        {R"j(["..","."])j", "^\\.{1,2}$", {"(?x)", "^", "  \\.{1,2}", "$"}},
        {R"j(["x","x"])j", "^x$", {"(?x)", "^", "  x", "$"}},
        /* aligned */
        {R"j(["2023-12-01","2024-01-15"])j",
         "^\\d{4}-\\d{2}-\\d{2}$",
         {"(?x)", "^", "  \\d{4}-\\d{2}-\\d{2}", "$"}},
        {R"j(["555-12","555-98"])j", "^555-\\d{2}$", {"(?x)", "^", "  555-\\d{2}", "$"}},
        {R"j(["user_1","admin_22"])j",
         "^[A-Za-z_]{5,6}\\d{1,2}$",
         {"(?x)", "^", "  [A-Za-z_]{5,6}\\d{1,2}", "$"}},
        {R"j(["foo bar","foo  bar"])j", "^foo\\s{1,2}bar$", {"(?x)", "^", "  foo\\s{1,2}bar", "$"}},
        {R"j(["cat","dog","bird"])j", "^[A-Za-z_]{3,4}$", {"(?x)", "^", "  [A-Za-z_]{3,4}", "$"}},
        {R"j(["x","y","z"])j", "^[A-Za-z_]$", {"(?x)", "^", "  [A-Za-z_]", "$"}},
        {R"j(["A","a"])j", "^[A-Za-z_]$", {"(?x)", "^", "  [A-Za-z_]", "$"}},
        {R"j(["abc","ABD"])j", "^[A-Za-z_]{3}$", {"(?x)", "^", "  [A-Za-z_]{3}", "$"}},
        {R"j(["r1.2","r1.10"])j", "^r1\\.\\d{1,2}$", {"(?x)", "^", "  r1\\.\\d{1,2}", "$"}},
        {R"j(["(1)","(22)"])j", "^\\(\\d{1,2}\\)$", {"(?x)", "^", "  \\(\\d{1,2}\\)", "$"}},
        {R"j(["a.b"])j", "^a\\.b$", {"(?x)", "^", "  a\\.b", "$"}},
        {R"j(["12","345"])j", "^\\d{2,3}$", {"(?x)", "^", "  \\d{2,3}", "$"}},
        /* A backslash and the byte after it are laid out as one literal unit. */
        {R"j(["$1","$22"])j", "^\\$\\d{1,2}$", {"(?x)", "^", "  \\$\\d{1,2}", "$"}},
        {R"j(["(1","(2"])j", "^\\(\\d$", {"(?x)", "^", "  \\(\\d", "$"}},
        {R"j(["a|1","b|2"])j", "^[A-Za-z_]\\|\\d$", {"(?x)", "^", "  [A-Za-z_]\\|\\d", "$"}},
        {R"j(["^1","^22"])j", "^\\^\\d{1,2}$", {"(?x)", "^", "  \\^\\d{1,2}", "$"}},
        /* White space and "#" from the examples are escaped in the verbose form. */
        {R"j(["a #1","a #22"])j", "^a #\\d{1,2}$", {"(?x)", "^", "  a\\ \\#\\d{1,2}", "$"}},
        {"[\"a\\tb\"]", "^a\tb$", {"(?x)", "^", "  a\\\tb", "$"}},
        /* alternation */
        {R"j(["id-7.txt","id-x-9.txt"])j",
         "^id-(7|x-9)\\.txt$",
         {"(?x)", "^", "  id-(7", "  |", "  x-9)\\.txt", "$"}},
        {R"j(["id-x-9.txt","id-7.txt"])j",
         "^id-(7|x-9)\\.txt$",
         {"(?x)", "^", "  id-(7", "  |", "  x-9)\\.txt", "$"}},
        {R"j(["cat","dog-1"])j", "^(cat|dog-1)$", {"(?x)", "^", "  (cat", "  |", "  dog-1)", "$"}},
        {R"j(["a_b","a-b"])j", "^a(-|_)b$", {"(?x)", "^", "  a(-", "  |", "  _)b", "$"}},
        /* A middle comes after every middle that begins with it. */
        {R"j(["x-1","x-1-2","x-2"])j",
         "^x-(1-2|1|2)$",
         {"(?x)", "^", "  x-(1-2", "  |", "  1", "  |", "  2)", "$"}},
        {R"j(["hello","hello world"])j",
         "^hello( world|)$",
         {"(?x)", "^", "  hello(\\ world", "  |", "  )", "$"}},
        {R"j(["a-a","a-b-a"])j", "^a-(b-|)a$", {"(?x)", "^", "  a-(b-", "  |", "  )a", "$"}},
        {R"j(["","a"])j", "^(a|)$", {"(?x)", "^", "  (a", "  |", "  )", "$"}},
        /* The first pattern would not match 1- (the group commits to "1-"),
         * so the whole examples become the alternatives. */
        {R"j(["1-","1--","2-"])j",
         "^(1--|1-|2-)$",
         {"(?x)", "^", "  (1--", "  |", "  1-", "  |", "  2-)", "$"}},
        {R"j(["p(a|bb)q","p(c|d)q-1"])j",
         "^p\\((a\\|bb\\)q|c\\|d\\)q-1)$",
         {"(?x)", "^", "  p\\((a\\|bb\\)q", "  |", "  c\\|d\\)q-1)", "$"}},
        /* A common prefix never ends inside a UTF-8 character. */
        {"[\"\\u00e9\",\"\\u00e8\"]",
         "^(\xC3\xA8|\xC3\xA9)$",
         {"(?x)", "^", "  (\xC3\xA8", "  |", "  \xC3\xA9)", "$"}},
        {"[\"\xC3\xA8\",\"\xC3\xA9\xC3\xA8\"]",
         "^(\xC3\xA9|)\xC3\xA8$",
         {"(?x)", "^", "  (\xC3\xA9", "  |", "  )\xC3\xA8", "$"}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(generate(c.json), answer(c.compact, c.lines)) << c.json;
        EXPECT_STREQ(rx_last_error(), "") << c.json;
    }
}

TEST(Generate, GeneratedPatternsMatchTheirExamples) {
    /* A run of thousands of bytes stays one repetition. */
    std::string long_run(3000, 'a');
    std::string json = "[\"" + long_run + "\",\"a\"]";
    EXPECT_EQ(generate(json), answer("^a{1,3000}$", {"(?x)", "^", "  a{1,3000}", "$"}));
    /* Alternatives the engine would miss (the first takes the hyphen the
     * suffix needs) are rebuilt from the whole examples. */
    EXPECT_EQ(generate("[\"1-\",\"1--\",\"2-\"]"),
              answer("^(1--|1-|2-)$", {"(?x)", "^", "  (1--", "  |", "  1-", "  |", "  2-)", "$"}));
}

TEST(Generate, Messages) {
    std::string nul_long = "[\"a\\u0000" + std::string(5000, 'b') + "\"]";
    const struct {
        std::string json;
        const char *message;
    } cases[] = {
        {"[]", "empty examples array"},
        {"{}", "examples_json must be a JSON array of strings"},
        {"\"a\"", "examples_json must be a JSON array of strings"},
        {"1", "examples_json must be a JSON array of strings"},
        {"null", "examples_json must be a JSON array of strings"},
        {"[\"a\",\"b\",3]", "example 2 is not a string"},
        {"[null]", "example 0 is not a string"},
        {"[\"a\",[\"b\"]]", "example 1 is not a string"},
        {"[\"a\",1,\"b\\u0000\"]", "example 1 is not a string"},
        {"[\"a\",\"b\\u0000c\"]", "example 1 contains a NUL byte"},
        {"[\"a\\u0000b\",\"a\\u0000c\"]", "example 0 contains a NUL byte"},
        {nul_long, "example 0 contains a NUL byte"},
        {"[\"a\",\"b\",]", "invalid JSON"},
        {"[\"a\"] // c", "invalid JSON"},
        {"/* c */ [\"a\"]", "invalid JSON"},
        {"\xEF\xBB\xBF[\"a\"]", "invalid JSON"},
        {"[\"\xC3\"]", "invalid JSON"},
        {"[\"\xFF\"]", "invalid JSON"},
        {"[\"a\"] x", "invalid JSON"},
        {"[\"a\"][\"b\"]", "invalid JSON"},
        {"", "invalid JSON"},
        {"['a']", "invalid JSON"},
        {"[\"a\nb\"]", "invalid JSON"},
    };
    for (const auto &c : cases) {
        ASSERT_NE(rx_validate("a"), nullptr);
        EXPECT_EQ(rx_generate(c.json.c_str()), nullptr) << c.json;
        EXPECT_STREQ(rx_last_error(), c.message) << c.json;
    }
    EXPECT_EQ(rx_generate(nullptr), nullptr);
    EXPECT_STREQ(rx_last_error(), "null examples_json");
}

TEST(Generate, WhiteSpaceAroundTheArrayIsAllowed) {
    EXPECT_EQ(generate(" \n[ \"ab\" ,\t\"ab\" ]\r\n"), answer("^ab$", {"(?x)", "^", "  ab", "$"}));
}

TEST(Generate, Limits) {
    auto list = [](int n, const std::string &item) {
        std::string json = "[";
        for (int i = 0; i < n; i++) json += (i ? ",\"" : "\"") + item + "\"";
        return json + "]";
    };
    EXPECT_EQ(generate(list(64, "7")), answer("^7$", {"(?x)", "^", "  7", "$"}));
    /* 65 elements fail before any element is looked at. */
    EXPECT_EQ(rx_generate(list(65, "7").c_str()), nullptr);
    EXPECT_STREQ(rx_last_error(), "too many examples (max 64)");
    EXPECT_EQ(rx_generate("[1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,"
                          "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1]"),
              nullptr);
    EXPECT_STREQ(rx_last_error(), "too many examples (max 64)");

    /* Lengths count decoded bytes: each \u00e9 is two bytes. */
    std::string e2048;
    for (int i = 0; i < 2048; i++) e2048 += "\\u00e9";
    const char *ok = rx_generate(("[\"" + e2048 + "\"]").c_str());
    ASSERT_NE(ok, nullptr) << rx_last_error();
    EXPECT_EQ(rx_generate(("[\"x\",\"" + e2048 + "a\"]").c_str()), nullptr);
    EXPECT_STREQ(rx_last_error(), "example 1 exceeds 4096 bytes");

    std::string b4096(4096, 'b');
    EXPECT_EQ(generate("[\"" + b4096 + "\"]"), answer("^b{4096}$", {"(?x)", "^", "  b{4096}", "$"}));
    EXPECT_EQ(rx_generate(("[\"" + b4096 + "b\"]").c_str()), nullptr);
    EXPECT_STREQ(rx_last_error(), "example 0 exceeds 4096 bytes");
}

TEST(Generate, FailureKeepsThePreviousAnswer) {
    const char *first = rx_generate("[\"ab\"]");
    ASSERT_NE(first, nullptr);
    std::string copy = first;
    EXPECT_EQ(rx_generate("[]"), nullptr);
    EXPECT_EQ(std::string(first), copy);
}

} /* namespace */
