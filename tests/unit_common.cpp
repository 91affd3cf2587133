/* The shared facilities: error slot, per-thread answer buffer, rx_buf and
 * the leading flag group. These are the rules that are easy to get wrong by
 * one byte: the capacities, the terminator, the cut at 511 bytes. */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kelvaron_regex.h"
#include "rx_common.h"

namespace {

TEST(ErrorSlot, StartsEmptyAndIsNeverNull) {
    /* Run on a fresh thread of a fresh process state is not possible, but a
     * cleared slot reads as the empty text, never null. */
    rx_clear_error();
    ASSERT_NE(rx_last_error(), nullptr);
    EXPECT_STREQ(rx_last_error(), "");
}

TEST(ErrorSlot, FormatsAndCutsAt511Bytes) {
    rx_set_error("text exceeds %d bytes", 10485760);
    EXPECT_STREQ(rx_last_error(), "text exceeds 10485760 bytes");
    std::string longer(600, 'x');
    longer[510] = 'y';
    rx_set_error("%s", longer.c_str());
    EXPECT_EQ(std::strlen(rx_last_error()), 511u);
    EXPECT_EQ(rx_last_error()[510], 'y');
    rx_set_error("last %s", "wins");
    EXPECT_STREQ(rx_last_error(), "last wins");
    rx_clear_error();
    EXPECT_STREQ(rx_last_error(), "");
}

TEST(ErrorSlot, FormattingFromItsOwnTextIsSafe) {
    rx_set_error("backtracking limit reached");
    rx_set_error("%s", rx_last_error());
    EXPECT_STREQ(rx_last_error(), "backtracking limit reached");
}

/* Each case runs on a thread of its own, so it starts with no answer buffer. */
template <typename F>
void on_fresh_thread(F f) {
    std::thread t(f);
    t.join();
}

TEST(ResultBuffer, CapacitiesFollowTheGrowthRule) {
    on_fresh_thread([] {
        EXPECT_EQ(rx_tls_json_capacity(), 0u);
        std::string small(100, 'a');
        const char *p = rx_tls_put_json(small.c_str(), small.size());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(p), small);
        EXPECT_EQ(rx_tls_json_capacity(), 8192u);

        /* 8191 bytes plus the terminator still fit. */
        std::string fits(8191, 'b');
        ASSERT_NE(rx_tls_put_json(fits.c_str(), fits.size()), nullptr);
        EXPECT_EQ(rx_tls_json_capacity(), 8192u);

        /* 8192 bytes need one more for the terminator. */
        std::string exact(8192, 'c');
        p = rx_tls_put_json(exact.c_str(), exact.size());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::strlen(p), 8192u);
        EXPECT_EQ(rx_tls_json_capacity(), 16384u);

        /* Never made smaller. */
        ASSERT_NE(rx_tls_put_json(small.c_str(), small.size()), nullptr);
        EXPECT_EQ(rx_tls_json_capacity(), 16384u);
    });
    on_fresh_thread([] {
        std::string first(10, 'x');
        ASSERT_NE(rx_tls_put_json(first.c_str(), first.size()), nullptr);
        std::string big(100000, 'y');
        ASSERT_NE(rx_tls_put_json(big.c_str(), big.size()), nullptr);
        EXPECT_EQ(rx_tls_json_capacity(), 131072u);
    });
    on_fresh_thread([] {
        /* A first answer above 8192 bytes doubles from 8192. */
        std::string big(8193, 'z');
        ASSERT_NE(rx_tls_put_json(big.c_str(), big.size()), nullptr);
        EXPECT_EQ(rx_tls_json_capacity(), 16384u);
    });
}

/* An answer built in a block of its own and handed over: the buffer's
 * capacities are those that copying the text would give. Each run is one
 * fresh thread; each step hands over length bytes in a block of
 * block_cap bytes and expects the buffer's capacity after it. */
TEST(ResultBuffer, AdoptedBlocksFollowTheGrowthRule) {
    struct Step {
        uint64_t length, block_cap, cap_after;
    };
    const std::vector<std::vector<Step>> runs = {
        {{100, 128, 8192},
         {8191, 8192, 8192},
         {8192, 16384, 16384},
         {100, 128, 16384},
         {16000, 16384, 16384}},
        {{10, 64, 8192}, {100000, 131072, 131072}},
        {{8193, 16384, 16384}},
        {{9000, 32768, 16384}}, /* a block larger than the rule's size is resized */
    };
    for (const auto &run : runs) {
        on_fresh_thread([&run] {
            char letter = 'a';
            for (const Step &st : run) {
                char *block = static_cast<char *>(malloc(st.block_cap));
                ASSERT_NE(block, nullptr);
                memset(block, letter, st.length);
                const char *p = rx_tls_adopt_json(block, st.length, st.block_cap);
                ASSERT_NE(p, nullptr);
                EXPECT_EQ(std::string(p), std::string(st.length, letter));
                EXPECT_EQ(rx_tls_json_capacity(), st.cap_after) << st.length;
                letter++;
            }
        });
    }
}

/* An export that writes its answer as it goes builds it in the block that
 * a handed-over answer replaced, so a thread asking again and again
 * allocates nothing for its answers; answers and capacities stay as they are. */
TEST(ResultBuffer, AnswersAreBuiltInTheBlockTheyReplaced) {
    on_fresh_thread([] {
        const std::string text(3000, 'a');
        std::string answers[4];
        long allocations[4];
        uint64_t capacities[4];
        for (int i = 0; i < 4; i++) {
            rx_alloc_fail_at(0);
            const char *p = i == 2 ? rx_replace_preview("a", text.c_str(), "bb") : rx_test("a", text.c_str());
            allocations[i] = rx_alloc_count();
            ASSERT_NE(p, nullptr);
            answers[i] = p;
            capacities[i] = rx_tls_json_capacity();
        }
        EXPECT_EQ(answers[1], answers[0]);
        EXPECT_EQ(answers[3], answers[0]);
        EXPECT_EQ(answers[2], "{\"result\":\"" + std::string(6000, 'b') + "\",\"count\":3000}");
        EXPECT_EQ(capacities[0], 262144u); /* 3000 matches of 45 or more bytes */
        EXPECT_EQ(capacities[3], 262144u);
        /* The first two answers need blocks of their own (the second keeps
         * the first as the spare); from the third on the spare serves. (The
         * second call also reuses the chunk of nodes the first released.) */
        EXPECT_EQ(allocations[1], allocations[0] - 1);
        EXPECT_LT(allocations[3], allocations[1]);
    });
}

TEST(ResultBuffer, EmptyAndNullTexts) {
    on_fresh_thread([] {
        const char *p = rx_tls_put_json("", 0);
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p, "");
        rx_clear_error();
        EXPECT_EQ(rx_tls_put_json(nullptr, 5), nullptr);
        EXPECT_STREQ(rx_last_error(), "null JSON");
    });
}

TEST(ResultBuffer, PutCopiesExactlyLenBytes) {
    on_fresh_thread([] {
        const char *p = rx_tls_put_json("abcdef", 3);
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p, "abc");
    });
}

TEST(ResultBuffer, PrintfFormatsBeyondTheScratchSize) {
    on_fresh_thread([] {
        std::string piece(5000, 'q');
        const char *p = rx_tls_printf_json("{\"x\":\"%s\",\"n\":%d}", piece.c_str(), 7);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(p), "{\"x\":\"" + piece + "\",\"n\":7}");
    });
}

TEST(ResultBuffer, FailedGrowthKeepsThePreviousAnswer) {
    on_fresh_thread([] {
        const char *p = rx_tls_put_json("previous", 8);
        ASSERT_NE(p, nullptr);
        std::string big(20000, 'w');
        rx_alloc_fail_at(1);
        EXPECT_EQ(rx_tls_put_json(big.c_str(), big.size()), nullptr);
        rx_alloc_fail_at(0);
        EXPECT_STREQ(rx_last_error(), "out of memory for JSON buffer");
        EXPECT_STREQ(p, "previous");
        EXPECT_EQ(rx_tls_json_capacity(), 8192u);

        /* A handed-over block that must be resized: the block is released,
         * the previous answer stays. */
        char *block = static_cast<char *>(malloc(32768));
        ASSERT_NE(block, nullptr);
        memset(block, 'v', 9000);
        rx_alloc_fail_at(1);
        EXPECT_EQ(rx_tls_adopt_json(block, 9000, 32768), nullptr);
        rx_alloc_fail_at(0);
        EXPECT_STREQ(rx_last_error(), "out of memory for JSON buffer");
        EXPECT_STREQ(p, "previous");
        EXPECT_EQ(rx_tls_json_capacity(), 8192u);

        rx_alloc_fail_at(1);
        EXPECT_EQ(rx_tls_printf_json("%s", "x"), nullptr);
        rx_alloc_fail_at(0);
        EXPECT_STREQ(rx_last_error(), "out of memory");
        EXPECT_STREQ(p, "previous");
    });
}

struct Buf {
    char *data = nullptr;
    uint64_t length = 0;
    uint64_t capacity = 0;
    ~Buf() { rx_buf_free(data); }
};

TEST(Buffer, GrowsFrom64ByDoubling) {
    Buf b;
    ASSERT_EQ(rx_buf_putc(&b.data, &b.length, &b.capacity, 'a'), 0);
    EXPECT_EQ(b.capacity, 64u);
    for (int i = 1; i < 63; i++) ASSERT_EQ(rx_buf_putc(&b.data, &b.length, &b.capacity, 'a'), 0);
    EXPECT_EQ(b.length, 63u);
    EXPECT_EQ(b.capacity, 64u);
    ASSERT_EQ(rx_buf_putc(&b.data, &b.length, &b.capacity, 'b'), 0);
    EXPECT_EQ(b.length, 64u);
    EXPECT_EQ(b.capacity, 128u);
    EXPECT_EQ(b.data[64], '\0');
    EXPECT_EQ(b.data[63], 'b');
}

TEST(Buffer, PutsMatchesBytewiseGrowth) {
    /* Capacities after appending n bytes at once are those of n single
     * appends: the smallest 64 * 2^k above n. */
    const struct {
        size_t n;
        uint64_t cap;
    } cases[] = {{1, 64}, {63, 64}, {64, 128}, {127, 128}, {128, 256}, {1000, 1024}, {5000, 8192}};
    for (const auto &c : cases) {
        Buf b;
        std::string s(c.n, 'k');
        ASSERT_EQ(rx_buf_puts(&b.data, &b.length, &b.capacity, s.c_str()), 0);
        EXPECT_EQ(b.length, c.n);
        EXPECT_EQ(b.capacity, c.cap) << c.n;
        EXPECT_EQ(std::string(b.data), s);
    }
}

TEST(Buffer, EmptyStringLeavesNoBlock) {
    Buf b;
    ASSERT_EQ(rx_buf_puts(&b.data, &b.length, &b.capacity, ""), 0);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(b.capacity, 0u);
}

TEST(Buffer, StoresTheLowEightBitsOfTheByte) {
    Buf b;
    ASSERT_EQ(rx_buf_putc(&b.data, &b.length, &b.capacity, 0x1C3), 0);
    EXPECT_EQ(static_cast<unsigned char>(b.data[0]), 0xC3);
}

TEST(Buffer, FailedGrowthKeepsWhatWasAppended) {
    Buf b;
    std::string s(100, 'm');
    rx_alloc_fail_at(2); /* the first block (64) succeeds, the growth to 128 fails */
    EXPECT_EQ(rx_buf_puts(&b.data, &b.length, &b.capacity, s.c_str()), -1);
    rx_alloc_fail_at(0);
    EXPECT_EQ(b.length, 63u);
    EXPECT_EQ(b.capacity, 64u);
    EXPECT_EQ(std::string(b.data), std::string(63, 'm'));

    rx_alloc_fail_at(1);
    EXPECT_EQ(rx_buf_putc(&b.data, &b.length, &b.capacity, 'z'), -1);
    rx_alloc_fail_at(0);
    EXPECT_EQ(b.length, 63u);
}

TEST(Buffer, PrintfShortAndLong) {
    Buf b;
    ASSERT_EQ(rx_buf_printf(&b.data, &b.length, &b.capacity, "%d-%s", 42, "x"), 0);
    EXPECT_STREQ(b.data, "42-x");
    std::string big(700, 'p');
    ASSERT_EQ(rx_buf_printf(&b.data, &b.length, &b.capacity, "[%s]", big.c_str()), 0);
    EXPECT_EQ(std::string(b.data), "42-x[" + big + "]");
    /* The long form needs a scratch block; without it nothing is appended. */
    uint64_t before = b.length;
    rx_alloc_fail_at(1);
    EXPECT_EQ(rx_buf_printf(&b.data, &b.length, &b.capacity, "%s", big.c_str()), -1);
    rx_alloc_fail_at(0);
    EXPECT_EQ(b.length, before);
}

TEST(Buffer, PutIntWritesWhatPercentDWrites) {
    /* Every number of up to five digits, and each power of ten from 10^5 on
     * with its neighbours, both signs, and the ends of the range. */
    std::vector<int32_t> values;
    for (int32_t v = 0; v < 100000; v++) values.push_back(v);
    for (int64_t p = 100000; p <= 1000000000; p *= 10)
        for (int64_t v : {p - 1, p, p + 1, 2 * p + 3, p * 9 / 7})
            for (int64_t signed_v : {v, -v})
                if (signed_v >= INT32_MIN && signed_v <= INT32_MAX)
                    values.push_back(static_cast<int32_t>(signed_v));
    for (int32_t v : {10485760, 12345678, -98765432, 10203040, 90000009, -7, INT32_MAX, INT32_MAX - 1,
                      INT32_MIN, INT32_MIN + 1})
        values.push_back(v);
    Buf b;
    std::string want;
    for (int32_t v : values) {
        char expected[16];
        snprintf(expected, sizeof expected, "%d", v);
        want += expected;
        want += ' ';
        ASSERT_EQ(rx_buf_put_int(&b.data, &b.length, &b.capacity, v), 0);
        ASSERT_EQ(rx_buf_putc(&b.data, &b.length, &b.capacity, ' '), 0);
    }
    EXPECT_EQ(std::string(b.data, b.length), want);
}

TEST(LeadingFlags, Table) {
    const struct {
        const char *pattern;
        uint64_t length;
        uint32_t flags;
    } cases[] = {
        {"(?i)a", 4, RX_FLAG_I},
        {"(?m)", 4, RX_FLAG_M},
        {"(?s).", 4, RX_FLAG_S},
        {"(?ims)a", 6, RX_FLAG_I | RX_FLAG_M | RX_FLAG_S},
        {"(?sim)", 6, RX_FLAG_I | RX_FLAG_M | RX_FLAG_S},
        {"(?iii)", 6, RX_FLAG_I},
        {"(?)a", 0, 0},
        {"(?x)a", 0, 0},
        {"(?imx)a", 0, 0}, /* x lies outside i..s: the letters stop, no ")" */
        {"(?ij)", 0, 0},   /* j lies inside i..s but is no flag */
        {"(?i-s)a", 0, 0},
        {"(?i:a)", 0, 0},
        {"(?:a)", 0, 0},
        {"(?", 0, 0},
        {"(?i", 0, 0},
        {"a(?i)", 0, 0},
        {"", 0, 0},
        {"(a)", 0, 0},
    };
    for (const auto &c : cases) {
        uint32_t flags = 99;
        EXPECT_EQ(rx_parse_leading_flags(c.pattern, &flags), c.length) << c.pattern;
        EXPECT_EQ(flags, c.flags) << c.pattern;
        EXPECT_EQ(rx_parse_leading_flags(c.pattern, nullptr), c.length) << c.pattern;
    }
    uint32_t flags = 99;
    EXPECT_EQ(rx_parse_leading_flags(nullptr, &flags), 0u);
    EXPECT_EQ(flags, 0u);
}

} /* namespace */
