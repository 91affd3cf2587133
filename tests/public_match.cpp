/* rx_test as a host sees it, through the public header only: the exact JSON
 * answer, byte for byte, for tables of (pattern, text), covering long match
 * lists, capture groups (numbering, rollback, groups that took no part), the
 * step budget of a call and long repetitions, real-sized texts, the text
 * limit, JSON quoting of match texts, and the null / invalid-pattern failures
 * with rx_last_error. How matches are enumerated (empty matches, the leading
 * "^" rule) and the matching rules (first-end commitment, repetition,
 * anchors, word boundaries, case folding, escapes and brackets) are in the
 * table of tests/cases/match_cases.json (public_cases.cpp), which the JS
 * package's tests share. */
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "kelvaron_regex.h"
#include "test_support.h"

namespace {

/* The answer of rx_test, or "null: " and the error text when it refused.
 * A successful call must leave the error text empty; if it does not, the
 * returned string says so and cannot equal an expected answer. */
std::string test_answer(const char *pattern, const char *text) {
    const char *answer = rx_test(pattern, text);
    if (answer == nullptr) return std::string("null: ") + rx_last_error();
    std::string out(answer);
    if (rx_last_error()[0] != '\0') out += std::string(" [error text: ") + rx_last_error() + "]";
    return out;
}

std::string test_answer(const std::string &pattern, const std::string &text) {
    return test_answer(pattern.c_str(), text.c_str());
}

struct Case {
    std::string pattern;
    std::string text;
    std::string answer;
};

void check_table(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        EXPECT_EQ(test_answer(c.pattern, c.text), c.answer)
            << "pattern [" << c.pattern << "] text [" << c.text << "]";
    }
}

/* Builders for answers whose texts are plain letters and digits (no byte
 * that JSON quoting changes), used where a table would be unreadably long. */
std::string match_obj(int start, int end, const std::string &text, const std::string &groups = "") {
    return "{\"start\":" + std::to_string(start) + ",\"end\":" + std::to_string(end) + ",\"text\":\"" + text +
           "\",\"groups\":[" + groups + "]}";
}

std::string group_obj(int index, int start, int end, const std::string &text) {
    return "{\"index\":" + std::to_string(index) + ",\"start\":" + std::to_string(start) +
           ",\"end\":" + std::to_string(end) + ",\"text\":\"" + text + "\"}";
}

std::string answer_of(const std::vector<std::string> &match_objs) {
    std::string out = "{\"matches\":[";
    for (size_t i = 0; i < match_objs.size(); ++i) {
        if (i > 0) out += ",";
        out += match_objs[i];
    }
    return out + "]}";
}

const char LIMIT_REACHED[] = "null: backtracking limit reached";

TEST(RxTest, ManyMatchesGrowTheLists) {
    for (int n : {7, 8, 9, 16, 17, 33, 1000, 100000}) {
        std::vector<std::string> ms;
        for (int i = 0; i < n; ++i) ms.push_back(match_obj(i, i + 1, "a"));
        EXPECT_TRUE(krx_test::same_long_text(test_answer("a", std::string(n, 'a')), answer_of(ms))) << n;
    }
    /* A literal's matches are found through the offsets of its least common
     * byte noted while the text is measured, and beyond the first 65,536 of
     * them; an offset before the search's start begins no match. */
    for (int n : {1, 64, 65, 70000}) {
        std::string text;
        std::vector<std::string> ms;
        for (int i = 0; i < n; ++i) {
            text += "zab";
            ms.push_back(match_obj(3 * i + 1, 3 * i + 3, "ab"));
        }
        EXPECT_TRUE(krx_test::same_long_text(test_answer("ab", text), answer_of(ms))) << n;
    }
    EXPECT_EQ(test_answer("eez", "z eez zeez"), answer_of({match_obj(2, 5, "eez"), match_obj(7, 10, "eez")}));
    /* An empty match at every offset, the last one at the end of the text. */
    std::vector<std::string> empties;
    for (int i = 0; i <= 100; ++i) empties.push_back(match_obj(i, i, ""));
    EXPECT_EQ(test_answer("a*", std::string(100, 'b')), answer_of(empties));
}

TEST(RxTest, CaptureGroups) {
    const std::string a256b = std::string(256, 'a') + "b";
    check_table({
        /* Numbered by opening parenthesis; listed in increasing number. */
        {"((a)(b))", "ab",
         R"({"matches":[{"start":0,"end":2,"text":"ab","groups":[{"index":1,"start":0,"end":2,"text":"ab"},)"
         R"({"index":2,"start":0,"end":1,"text":"a"},{"index":3,"start":1,"end":2,"text":"b"}]}]})"},
        /* Groups that took no part are left out, so numbers may skip. */
        {"(a)|(b)", "b",
         R"({"matches":[{"start":0,"end":1,"text":"b","groups":[{"index":2,"start":0,"end":1,"text":"b"}]}]})"},
        {"(a)|b", "b", R"({"matches":[{"start":0,"end":1,"text":"b","groups":[]}]})"},
        {"(a)(?:b)", "ab",
         R"({"matches":[{"start":0,"end":2,"text":"ab","groups":[{"index":1,"start":0,"end":1,"text":"a"}]}]})"},
        {"()", "",
         R"({"matches":[{"start":0,"end":0,"text":"","groups":[{"index":1,"start":0,"end":0,"text":""}]}]})"},
        /* A dropped iteration gives the group back its earlier recording. */
        {"(?:(a)x)*", "axay",
         R"({"matches":[{"start":0,"end":2,"text":"ax","groups":[{"index":1,"start":0,"end":1,"text":"a"}]},)"
         R"({"start":2,"end":2,"text":"","groups":[]},{"start":3,"end":3,"text":"","groups":[]},)"
         R"({"start":4,"end":4,"text":"","groups":[]}]})"},
        {"(a*)*", "aa",
         R"({"matches":[{"start":0,"end":2,"text":"aa","groups":[{"index":1,"start":0,"end":2,"text":"aa"}]},)"
         R"({"start":2,"end":2,"text":"","groups":[]}]})"},
        /* 256 recordings and then a failed alternative: all taken back. */
        {"(?:(a)*(b)x)|a+b", a256b,
         R"({"matches":[{"start":0,"end":257,"text":")" + a256b + R"(","groups":[]}]})"},
        /* The last recording on the path that matched. */
        {"(a)+", "aaa",
         R"({"matches":[{"start":0,"end":3,"text":"aaa","groups":[{"index":1,"start":2,"end":3,"text":"a"}]}]})"},
        /* Nothing recorded for one match carries over to the next. */
        {"(a)?b", "abb",
         R"({"matches":[{"start":0,"end":2,"text":"ab","groups":[{"index":1,"start":0,"end":1,"text":"a"}]},)"
         R"({"start":2,"end":3,"text":"b","groups":[]}]})"},
    });
}

TEST(RxTest, OnlySixteenGroupsAreReported) {
    std::string pattern, text, groups;
    for (int i = 0; i < 17; ++i) {
        char c = static_cast<char>('a' + i);
        pattern += std::string("(") + c + ")";
        text += c;
        if (i < 16) groups += (i > 0 ? "," : "") + group_obj(i + 1, i, i + 1, std::string(1, c));
    }
    EXPECT_EQ(test_answer(pattern, text), answer_of({match_obj(0, 17, text, groups)}));
}

/* A pattern and text whose call runs out of budget: from every start the
 * bounded repetition walks the rest of the run again (its iterations depend
 * on how many came before, so they are not remembered), about n * n steps
 * over n bytes "a", against 14n + 1,000,000. */
const char RUNS_OUT_PATTERN[] = "(?:a|b){0,5000}c";
const std::string RUNS_OUT_TEXT(1500, 'a');

TEST(RxTest, LongRepetitionsAndTheBudgetOfACall) {
    const std::string a3000(3000, 'a'), a800(800, 'a'), a900(900, 'a');
    std::string word;
    for (int i = 0; i < 3000; ++i) word += "ab9_Z"[i % 5];
    std::string alternatives = "(?:(?:";
    for (int i = 0; i < 150; ++i) alternatives += "b|";
    alternatives += ".){0,2000}c)?";
    check_table({
        /* no limit on repetition */
        {"a*", a3000, answer_of({match_obj(0, 3000, a3000), match_obj(3000, 3000, "")})},
        {"a*b", a3000 + "b", answer_of({match_obj(0, 3001, a3000 + "b")})},
        {"\\w+", " " + word + " ", answer_of({match_obj(1, 3001, word)})},
        {"(?:(?:(?:(a))))*", a3000,
         answer_of({match_obj(0, 3000, a3000, group_obj(1, 2999, 3000, "a")), match_obj(3000, 3000, "")})},
        {"b|a*", "b" + a3000,
         answer_of({match_obj(0, 1, "b"), match_obj(1, 3001, a3000), match_obj(3001, 3001, "")})},
        /* work linear in the text: a start inside a run the first start
         * walked ends where that start's run ended */
        {"a*b", std::string(1004, 'a'), R"({"matches":[]})"},
        {"(?:a|b)*c", std::string(5000, 'b'), R"({"matches":[]})"},
        {"a*c|b", a800 + "b" + a800, answer_of({match_obj(800, 801, "b")})},
        {"(a|aa)*c", std::string(1500, 'a'), R"({"matches":[]})"},
        {RUNS_OUT_PATTERN, RUNS_OUT_TEXT, LIMIT_REACHED},
        /* one budget for the call: each search alone fits, the second finds
         * the budget used by the first */
        {"(?:a|b){0,2000}c|d", a900 + "d", answer_of({match_obj(900, 901, "d")})},
        {"(?:a|b){0,2000}c|d", a900, R"({"matches":[]})"},
        {"(?:a|b){0,2000}c|d", a900 + "d" + a900, LIMIT_REACHED},
        /* every search matches the empty string after 600,000 steps */
        {alternatives, std::string(3700, 'x'), LIMIT_REACHED},
    });
    /* after the match "d", the second search runs out */
    EXPECT_EQ(test_answer("(?:a|b){0,5000}c|d", "d" + std::string(2000, 'a')), LIMIT_REACHED);
}

/* Searches of everyday kinds over 10 MiB of text shaped like prose and logs:
 * each answers, and the number of matches (rx_replace_preview's count) is
 * the one a plain scan of the text gives. */
struct BigText {
    std::string text;
    std::vector<std::string> rare; /* words planted a known number of times */
    int plantings = 0;             /* how often each was planted */
};

const BigText &big_text() {
    static BigText big = [] {
        BigText b;
        b.rare = {"quixotry", "zeugmas", "jackdaw", "sphinxes", "flummox",
                  "kumquat",  "wyvern",  "oxbow",   "fjords",   "czardom"};
        static const char *const words[] = {
            "the", "of",   "and", "a",    "to",    "in",  "is",   "was", "he",   "that", "it", "his",
            "her", "you",  "as",  "had",  "with",  "for", "she",  "not", "at",   "but",  "be", "my",
            "on",  "have", "him", "said", "which", "by",  "this", "all", "from", "they", "no", "were"};
        uint64_t seed = 12345;
        auto next = [&seed] {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<uint32_t>(seed >> 33);
        };
        std::string &t = b.text;
        const size_t SIZE = 10485760;
        t.reserve(SIZE + 20000);
        int line = 0;
        while (t.size() < SIZE - 20000) {
            line++;
            if (line % 7 == 0) {
                t += "2024-03-0" + std::to_string(line % 9 + 1) + " 12:00:" + std::to_string(line % 60) +
                     " kernel: <info> eth0 link up id=" + std::to_string(next() % 100000) + "\n";
            } else if (line % 500 == 0) {
                t += std::string(8192, 'x') + "\n"; /* a line of 8 KB */
            } else {
                for (int w = 0; w < 12; w++) {
                    if (w) t += ' ';
                    t += words[next() % (sizeof words / sizeof *words)];
                }
                t += ".\n";
            }
            if (line % 20000 == 0) {
                for (const std::string &r : b.rare) t += r + " ";
                t += "\n";
                b.plantings++;
            }
            if (line == 40000) {
                for (int i = 0; i < 3000; ++i) t += "Qx9_"[i % 4]; /* a 3000-byte token */
                t += "\n<" + std::string(4000, 'y') + "\n>\n";     /* a tag 4 KB long */
            }
        }
        return b;
    }();
    return big;
}

bool is_word(unsigned char c) { return isalnum(c) || c == '_'; }

/* Matches of the first alternative that matches at each position, scanning
 * on past each match. */
int count_alternatives(const std::string &t, const std::vector<std::string> &alts) {
    int count = 0;
    for (size_t p = 0; p < t.size();) {
        size_t len = 0;
        for (const std::string &a : alts)
            if (t.compare(p, a.size(), a) == 0) {
                len = a.size();
                break;
            }
        if (len > 0) {
            count++;
            p += len;
        } else {
            p++;
        }
    }
    return count;
}

int replace_count(const std::string &pattern, const std::string &text) {
    const char *answer = rx_replace_preview(pattern.c_str(), text.c_str(), "");
    if (answer == nullptr) {
        ADD_FAILURE() << pattern << ": " << rx_last_error();
        return -1;
    }
    std::string a(answer);
    size_t at = a.rfind(",\"count\":");
    return at == std::string::npos ? -1 : std::stoi(a.substr(at + 9));
}

TEST(RxTest, EverydaySearchesOverTenMebibytes) {
    const BigText &big = big_text();
    const std::string &t = big.text;
    int words = 0, tags = 0, lines = 1;
    for (size_t i = 0; i < t.size(); ++i) {
        if (is_word(t[i]) && (i == 0 || !is_word(t[i - 1]))) words++;
        if (t[i] == '\n') lines++;
    }
    for (size_t p = t.find('<'); p != std::string::npos;) {
        size_t close = t.find('>', p + 2);
        if (close == std::string::npos) break;
        tags++;
        p = t.find('<', close + 1);
    }
    std::vector<std::string> four(big.rare.begin(), big.rare.begin() + 4);
    auto joined = [](const std::vector<std::string> &alts) {
        std::string out;
        for (const std::string &a : alts) out += (out.empty() ? "" : "|") + a;
        return out;
    };
    EXPECT_EQ(test_answer("Sherlock Holmes", t), R"({"matches":[]})");
    EXPECT_EQ(replace_count(joined(four), t), count_alternatives(t, four));
    EXPECT_EQ(replace_count(joined(big.rare), t), count_alternatives(t, big.rare));
    EXPECT_EQ(count_alternatives(t, big.rare), 10 * big.plantings);
    EXPECT_EQ(replace_count("<[^>]+>", t), tags);
    EXPECT_EQ(replace_count("\\w+", t), words);
    EXPECT_EQ(replace_count("(?m)^.*$", t), lines);
}

TEST(RxTest, TextLimit) {
    const int LIMIT = 10485760;
    std::string text(LIMIT, 'b');
    EXPECT_EQ(test_answer("a", text), R"({"matches":[]})");
    text[LIMIT - 1] = 'c';
    EXPECT_EQ(test_answer("c", text),
              R"({"matches":[{"start":10485759,"end":10485760,"text":"c","groups":[]}]})");
    EXPECT_EQ(test_answer("bc", text),
              R"({"matches":[{"start":10485758,"end":10485760,"text":"bc","groups":[]}]})");
    text += "c";
    /* "bb" and "zz" are measured by their least common byte, which occurs
     * everywhere or nowhere. */
    for (const char *pattern : {"c", "z", "bc", "bb", "zz"})
        EXPECT_EQ(test_answer(pattern, text), "null: text exceeds 10485760 bytes") << pattern;
    /* The pattern is checked before the text is measured. */
    EXPECT_EQ(test_answer("*", text), "null: invalid pattern: unexpected '*'");
}

TEST(RxTest, MatchTextsAreQuotedAsJson) {
    check_table({
        /* Quote, backslash, the three short escapes, other control bytes as
         * \u00xx in lower case; 0x7F, UTF-8 and "/" unchanged. */
        {"[^x]+", "\"\\\n\r\t\x01\x08\x0c\x1b\x1f\x7f\xC3\xA9/",
         R"({"matches":[{"start":0,"end":14,"text":"\"\\\n\r\t\u0001\u0008\u000c\u001b\u001f)"
         "\x7f\xC3\xA9"
         R"(/","groups":[]}]})"},
        {"(\"+)", "a\"\"b",
         R"({"matches":[{"start":1,"end":3,"text":"\"\"","groups":[{"index":1,"start":1,"end":3,"text":"\"\""}]}]})"},
        /* A match that ends inside a UTF-8 sequence carries the raw bytes. */
        {"\xA9", "\xC3\xA9", "{\"matches\":[{\"start\":1,\"end\":2,\"text\":\"\xA9\",\"groups\":[]}]}"},
        {".", "\xC3\xA9",
         "{\"matches\":[{\"start\":0,\"end\":1,\"text\":\"\xC3\",\"groups\":[]},"
         "{\"start\":1,\"end\":2,\"text\":\"\xA9\",\"groups\":[]}]}"},
        {"\\w+", "\x1b[1mhi", R"({"matches":[{"start":2,"end":6,"text":"1mhi","groups":[]}]})"},
    });
    /* Every byte value at every place of a 19-byte text among bytes that
     * pass unchanged: the quoting looks at several bytes at a time, so an
     * escape must be found wherever it sits. The expected text is written
     * by the rules above, one byte at a time. */
    const char *hex = "0123456789abcdef";
    for (int b = 1; b < 256; b++) {
        for (size_t at = 0; at < 19; at++) {
            std::string text = "x\x80"
                               "yz\x7f\xff"
                               "abc ~\xC3\xA9\x9f"
                               "#klmno";
            text.resize(19);
            text[at] = static_cast<char>(b);
            std::string quoted;
            for (unsigned char c : text) {
                if (c == '"' || c == '\\')
                    quoted += std::string("\\") + static_cast<char>(c);
                else if (c == '\n')
                    quoted += "\\n";
                else if (c == '\r')
                    quoted += "\\r";
                else if (c == '\t')
                    quoted += "\\t";
                else if (c < 0x20)
                    quoted += std::string("\\u00") + hex[c >> 4] + hex[c & 15];
                else
                    quoted += static_cast<char>(c);
            }
            ASSERT_EQ(test_answer("(?s).+", text),
                      "{\"matches\":[{\"start\":0,\"end\":19,\"text\":\"" + quoted + "\",\"groups\":[]}]}")
                << "byte " << b << " at " << at;
        }
    }
}

TEST(RxTest, InvalidPatterns) {
    check_table({
        {"*a", "a", "null: invalid pattern: unexpected '*'"},
        {"a**", "a", "null: invalid pattern: unexpected '*'"},
        {"a*??", "a", "null: invalid pattern: unexpected '?'"},
        {"(?x)a", "a", "null: invalid pattern: unexpected '?'"},
        {"(a", "a", "null: invalid pattern: unclosed group"},
        {"a)", "a", "null: invalid pattern: trailing junk at ')'"},
        {"[a", "a", "null: invalid pattern: unclosed character class"},
        {"[]", "a", "null: invalid pattern: unclosed character class"},
    });
}

TEST(RxTest, NullArgumentsInOrder) {
    EXPECT_EQ(rx_test(nullptr, "a"), nullptr);
    EXPECT_STREQ(rx_last_error(), "null pattern");
    EXPECT_EQ(rx_test(nullptr, nullptr), nullptr);
    EXPECT_STREQ(rx_last_error(), "null pattern");
    EXPECT_EQ(rx_test("a", nullptr), nullptr);
    EXPECT_STREQ(rx_last_error(), "null text");
    /* The text is tested before the pattern is compiled. */
    EXPECT_EQ(rx_test("(", nullptr), nullptr);
    EXPECT_STREQ(rx_last_error(), "null text");
}

TEST(RxTest, FailedCallKeepsThePreviousAnswer) {
    const char *first = rx_test("b", "abc");
    ASSERT_NE(first, nullptr);
    const std::string saved(first);
    EXPECT_EQ(saved, R"({"matches":[{"start":1,"end":2,"text":"b","groups":[]}]})");
    EXPECT_EQ(rx_test(nullptr, "abc"), nullptr);
    EXPECT_EQ(rx_test("a", nullptr), nullptr);
    EXPECT_EQ(rx_test("(", "abc"), nullptr);
    EXPECT_EQ(rx_test(RUNS_OUT_PATTERN, RUNS_OUT_TEXT.c_str()), nullptr);
    EXPECT_EQ(rx_test("a", std::string(10485761, 'a').c_str()), nullptr);
    EXPECT_EQ(rx_replace_preview("(", "abc", "x"), nullptr);
    EXPECT_EQ(rx_generate("[]"), nullptr);
    EXPECT_EQ(std::string(first), saved);
}

TEST(RxTest, ErrorTextIsClearedByTheNextCall) {
    EXPECT_EQ(rx_test("(", "a"), nullptr);
    EXPECT_STREQ(rx_last_error(), "invalid pattern: unclosed group");
    /* Reading it does not clear it. */
    EXPECT_STREQ(rx_last_error(), "invalid pattern: unclosed group");
    ASSERT_NE(rx_test("a", "a"), nullptr);
    EXPECT_STREQ(rx_last_error(), "");

    EXPECT_EQ(rx_test(RUNS_OUT_PATTERN, RUNS_OUT_TEXT.c_str()), nullptr);
    EXPECT_STREQ(rx_last_error(), "backtracking limit reached");
    /* The next call starts with a fresh budget. */
    EXPECT_EQ(test_answer("a", "a"), R"({"matches":[{"start":0,"end":1,"text":"a","groups":[]}]})");

    EXPECT_EQ(rx_replace_preview("a", "b", nullptr), nullptr);
    EXPECT_STREQ(rx_last_error(), "null replacement");
    ASSERT_NE(rx_test("z", "a"), nullptr);
    EXPECT_STREQ(rx_last_error(), "");
}

} /* namespace */
