/* Literal escaping: exact escaped texts and lengths, every byte value, NUL
 * bytes inside a range, the empty range, and failure of each allocation. */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pattern_gen.h"
#include "rx_common.h"
#include "rx_escape.h"
#include "rx_match_win.h"

namespace {

/* Escapes s (all of its bytes, NUL bytes included); fails the test when the
 * call does not succeed. */
std::string escape(const std::string &s, uint64_t *out_length = nullptr) {
    char *text = nullptr;
    uint64_t length = 12345;
    int rc = rx_escape_literal(s.data(), s.size(), &text, &length);
    EXPECT_EQ(rc, 0);
    if (rc != 0 || text == nullptr) return "<failed>";
    std::string result(text, length);
    EXPECT_EQ(text[length], '\0') << "result is not NUL-terminated";
    std::free(text);
    if (out_length != nullptr) *out_length = length;
    return result;
}

const char OPERATORS[] = "$()*+.?[\\]^{|}";

bool is_operator(unsigned char b) { return b != 0 && std::strchr(OPERATORS, b) != nullptr; }

struct EscapeCase {
    std::string input;
    std::string expected;
};

TEST(Escape, ExactResults) {
    const EscapeCase cases[] = {
        {"a.b", "a\\.b"},
        {"1+1=2", "1\\+1=2"},
        {"(x|y)", "\\(x\\|y\\)"},
        {"\\", "\\\\"},
        {"^", "\\^"},
        {"{", "\\{"},
        {"}", "\\}"},
        {"$", "\\$"},
        {"[a-z]", "\\[a-z\\]"},
        {"a*b+c?", "a\\*b\\+c\\?"},
        {"-", "-"},
        {"/", "/"},
        {"#", "#"},
        {" ", " "},
        {"\t", "\t"},
        {"\xC3\xA9", "\xC3\xA9"},
        {",:@&=\"'", ",:@&=\"'"},
        {"_AZaz09", "_AZaz09"},
        {"\x01\x1F\x7F\x80\xFF", "\x01\x1F\x7F\x80\xFF"},
        {"$1.00 (net)", "\\$1\\.00 \\(net\\)"},
        {"\\d", "\\\\d"},
        {"\\b", "\\\\b"},
        {"$()*+.?[\\]^{|}", "\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\]\\^\\{\\|\\}"},
    };
    for (const EscapeCase &c : cases) {
        uint64_t length = 0;
        EXPECT_EQ(escape(c.input, &length), c.expected) << "input: " << c.input;
        EXPECT_EQ(length, c.expected.size()) << "input: " << c.input;
    }
}

TEST(Escape, LengthOfDocumentedCases) {
    struct {
        const char *input;
        uint64_t length;
    } cases[] = {{"a.b", 4}, {"(x|y)", 8}, {"1+1=2", 6}, {"\\", 2}, {"", 0}};
    for (const auto &c : cases) {
        uint64_t length = 999;
        escape(c.input, &length);
        EXPECT_EQ(length, c.length) << c.input;
    }
}

TEST(Escape, EveryByteValueAlone) {
    int escaped_count = 0;
    for (int v = 0; v < 256; v++) {
        std::string one(1, static_cast<char>(v));
        uint64_t length = 0;
        std::string got = escape(one, &length);
        if (is_operator(static_cast<unsigned char>(v))) {
            escaped_count++;
            EXPECT_EQ(got, "\\" + one) << "byte " << v;
            EXPECT_EQ(length, 2u) << "byte " << v;
        } else {
            EXPECT_EQ(got, one) << "byte " << v;
            EXPECT_EQ(length, 1u) << "byte " << v;
        }
    }
    EXPECT_EQ(escaped_count, 14);
}

TEST(Escape, AllByteValuesInOneRange) {
    std::string all;
    std::string expected;
    for (int v = 0; v < 256; v++) {
        char b = static_cast<char>(v);
        all.push_back(b);
        if (is_operator(static_cast<unsigned char>(v))) expected.push_back('\\');
        expected.push_back(b);
    }
    uint64_t length = 0;
    EXPECT_EQ(escape(all, &length), expected);
    EXPECT_EQ(length, 256u + 14u);
}

TEST(Escape, NulByteDoesNotEndTheRange) {
    const std::string input("a\0.b", 4);
    uint64_t length = 0;
    EXPECT_EQ(escape(input, &length), std::string("a\0\\.b", 5));
    EXPECT_EQ(length, 5u);
}

TEST(Escape, CountBoundsTheRange) {
    const char *text = "a.b.c";
    char *out = nullptr;
    uint64_t length = 0;
    ASSERT_EQ(rx_escape_literal(text, 2, &out, &length), 0);
    EXPECT_STREQ(out, "a\\.");
    EXPECT_EQ(length, 3u);
    std::free(out);
}

TEST(Escape, EmptyRangeIsABlockOfItsOwn) {
    const char *sources[] = {nullptr, "abc", ""};
    for (const char *src : sources) {
        char *out = nullptr;
        uint64_t length = 77;
        ASSERT_EQ(rx_escape_literal(src, 0, &out, &length), 0);
        ASSERT_NE(out, nullptr);
        EXPECT_NE(out, src);
        EXPECT_EQ(out[0], '\0');
        EXPECT_EQ(length, 0u);
        std::free(out);
    }
}

TEST(Escape, LengthOutputIsOptional) {
    char *out = nullptr;
    ASSERT_EQ(rx_escape_literal("x|y", 3, &out, nullptr), 0);
    EXPECT_STREQ(out, "x\\|y");
    std::free(out);
    out = nullptr;
    ASSERT_EQ(rx_escape_literal(nullptr, 0, &out, nullptr), 0);
    EXPECT_STREQ(out, "");
    std::free(out);
}

TEST(Escape, LongRangeGrowsTheBuffer) {
    std::string input;
    std::string expected;
    for (int i = 0; i < 5000; i++) {
        char b = "ab.|c"[i % 5];
        input.push_back(b);
        if (b == '.' || b == '|') expected.push_back('\\');
        expected.push_back(b);
    }
    uint64_t length = 0;
    EXPECT_EQ(escape(input, &length), expected);
    EXPECT_EQ(length, 7000u);
}

/* The escaped text, read as a pattern, matches exactly the bytes it came
 * from: the whole range, and no range that differs from it in one byte. */
void expect_exact_pattern(const std::string &range) {
    std::string pattern = "^" + escape(range) + "$";
    char err[128] = "";
    ASSERT_EQ(rx_engine_compile_ok(pattern.c_str(), err, sizeof err), 0)
        << err << " in " << pg_quote(pattern);
    uint64_t s = 9, e = 9;
    EXPECT_EQ(rx_engine_find(pattern.c_str(), range.c_str(), range.size(), 0, &s, &e), 1) << pg_quote(range);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(e, range.size()) << pg_quote(range);
    if (range.empty()) return;
    std::string changed = range;
    size_t at = range.size() / 2;
    changed[at] = static_cast<char>(range[at] == 'A' ? 'a' : range[at] == (char)0xFF ? 1 : range[at] + 1);
    EXPECT_EQ(rx_engine_find(pattern.c_str(), changed.c_str(), changed.size(), 0, &s, &e), 0)
        << pg_quote(pattern) << " matches " << pg_quote(changed);
    std::string longer = range + range.substr(0, 1);
    EXPECT_EQ(rx_engine_find(pattern.c_str(), longer.c_str(), longer.size(), 0, &s, &e), 0)
        << pg_quote(pattern) << " matches " << pg_quote(longer);
}

TEST(Escape, EscapedTextMatchesExactlyItsBytes) {
    for (int v = 1; v < 256; v++) expect_exact_pattern(std::string(1, static_cast<char>(v)));
    const char *fixed[] = {"", "(?i)A", "a{2}", "x{2,}", "\\d\\b", "[^a]", "(a|b)*", "^$", "a|", "A", "{,5}"};
    for (const char *f : fixed) expect_exact_pattern(f);
    pg_rng rng;
    pg_seed(&rng, 0x657363617065ull);
    for (int i = 0; i < 3000; i++) {
        std::string range;
        for (uint32_t n = pg_below(&rng, 40); n > 0; n--) {
            uint32_t r = pg_below(&rng, 3);
            range += r == 0 ? OPERATORS[pg_below(&rng, 14)] : static_cast<char>(1 + pg_below(&rng, 255));
        }
        expect_exact_pattern(range);
    }
}

/* Every allocation of a call fails in turn: the call answers -1, leaves
 * both outputs as they were, and (under the leak checker) leaves no block
 * behind; the first k past the last allocation succeeds with the full text. */
TEST(Escape, EachAllocationFailureIsReported) {
    struct {
        std::string input;
        long allocations; /* blocks the buffer takes: 64, 128, 256, ... bytes */
    } cases[] = {
        {"", 1},
        {"a", 1},
        {std::string(63, 'x'), 1}, /* 63 bytes and the NUL fill 64 */
        {std::string(64, 'x'), 2},
        {std::string(63, '.'), 2}, /* 126 bytes of text and the NUL: 128 */
        {std::string(64, '.'), 3},
        {std::string(300, '+'), 5}, /* 600 bytes: 64 .. 1024 */
    };
    for (const auto &c : cases) {
        std::string expected;
        for (char b : c.input) {
            if (is_operator(static_cast<unsigned char>(b))) expected.push_back('\\');
            expected.push_back(b);
        }
        long k = 1;
        for (;; k++) {
            char sentinel_text[] = "untouched";
            char *out = sentinel_text;
            uint64_t length = 4242;
            rx_alloc_fail_at(k);
            int rc = rx_escape_literal(c.input.data(), c.input.size(), &out, &length);
            rx_alloc_fail_at(0);
            if (rc == 0) {
                ASSERT_NE(out, sentinel_text);
                EXPECT_EQ(std::string(out, length), expected);
                std::free(out);
                break;
            }
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(out, sentinel_text) << "k=" << k;
            EXPECT_EQ(length, 4242u) << "k=" << k;
            ASSERT_LT(k, 100) << "never succeeds";
        }
        EXPECT_EQ(k - 1, c.allocations) << "input of " << c.input.size() << " bytes";
    }
}

} /* namespace */
