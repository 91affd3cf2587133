/* Out-of-memory sweeps: for every export, fail allocations of one call from
 * the k-th on, for k = 1, 2, ... until the call makes fewer than k
 * allocations and so succeeds. Two modes: only the k-th allocation fails
 * (a passing shortage), or the k-th and every later one (memory gone for
 * good, the mode that finds code which carries on after a refusal). Every
 * failing call must answer null (or rx_validate's documented degraded
 * answers) with a specified message, leave the thread's previous answer
 * intact, and leak nothing (the sanitizer build checks that). Each call runs
 * on a fresh thread, so first-use allocations of per-thread state are swept
 * too. */
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <thread>

#include "kelvaron_regex.h"
#include "rx_common.h"

namespace {

using Call = std::function<const char *()>;

struct Outcome {
    bool null_answer = false;
    std::string answer;
    std::string error;
    long allocations = 0;
    bool previous_intact = false;
};

/* How the k-th allocation is refused: rx_alloc_fail_at or rx_alloc_fail_from. */
using Arm = void (*)(long);

/* A sweep mode, named for the test's name and CTest's. */
struct Mode {
    const char *name;
    Arm arm;
};

void PrintTo(const Mode &mode, std::ostream *os) { *os << mode.name; }

/* Runs call on a new thread with allocations failing from the k-th on (as
 * arm says), after storing a previous answer on that thread. */
Outcome run_failing(const Call &call, Arm arm, long k) {
    Outcome out;
    std::thread t([&] {
        const char *prev = rx_validate("previous");
        std::string prev_text = prev != nullptr ? prev : "";
        arm(k);
        const char *answer = call();
        out.allocations = rx_alloc_count();
        rx_alloc_fail_at(0);
        out.null_answer = answer == nullptr;
        if (answer != nullptr) out.answer = answer;
        out.error = rx_last_error();
        out.previous_intact = answer != nullptr || std::string(prev) == prev_text;
    });
    t.join();
    return out;
}

/* Sweeps k until the call succeeds; returns the number of failing points. */
long sweep(const Call &call, Arm arm, const std::set<std::string> &messages,
           const std::set<std::string> &degraded_answers = {}) {
    std::string expected;
    std::thread t([&] {
        const char *a = call();
        expected = a != nullptr ? a : "(null)";
    });
    t.join();
    long k = 1;
    for (;; k++) {
        Outcome o = run_failing(call, arm, k);
        if (o.allocations < k) {
            /* No allocation failed: the normal answer. */
            EXPECT_FALSE(o.null_answer) << "k=" << k;
            EXPECT_EQ(o.answer, expected);
            break;
        }
        if (o.null_answer) {
            EXPECT_TRUE(messages.count(o.error)) << "k=" << k << " error: " << o.error;
            EXPECT_TRUE(o.previous_intact) << "k=" << k;
        } else {
            EXPECT_TRUE(degraded_answers.count(o.answer) || o.answer == expected)
                << "k=" << k << " answer: " << o.answer;
        }
        if (k > 100000) {
            ADD_FAILURE() << "sweep does not end";
            break;
        }
    }
    return k - 1;
}

const std::set<std::string> OOM = {"out of memory", "out of memory for JSON buffer"};

class OutOfMemory : public ::testing::TestWithParam<Mode> {};

TEST_P(OutOfMemory, Validate) {
    const std::set<std::string> degraded = {
        "{\"ok\":false,\"error\":\"parse error\"}",
        "{\"ok\":false,\"error\":\"NFA reject (engine ok): parse error\"}",
        "{\"ok\":false,\"error\":\"validate failed\"}",
    };
    EXPECT_GT(sweep([] { return rx_validate("a(b|c)*d{2,3}"); }, GetParam().arm, OOM, degraded), 0);
    EXPECT_GT(sweep([] { return rx_validate("(a"); }, GetParam().arm, OOM, degraded), 0);
    EXPECT_GT(sweep([] { return rx_validate(nullptr); }, GetParam().arm, OOM, degraded), 0);
}

TEST_P(OutOfMemory, Test) {
    EXPECT_GT(sweep([] { return rx_test("a(b|c)", "ab ac"); }, GetParam().arm, OOM), 0);
    EXPECT_GT(sweep([] { return rx_test("z", "abc"); }, GetParam().arm, OOM), 0);
    std::string literals; /* the noted offsets of the literal's rare byte grow twice */
    for (int i = 0; i < 200; i++) literals += "ab ";
    EXPECT_GT(sweep([&] { return rx_test("ab", literals.c_str()); }, GetParam().arm, OOM), 0);
    /* More than eight matches grow the match arrays twice. */
    static const std::string many(20, 'a');
    EXPECT_GT(sweep([] { return rx_test("(a)", many.c_str()); }, GetParam().arm, OOM), 0);
    /* An answer larger than the thread's first 8192-byte buffer. */
    static const std::string wide = std::string(300, 'x') + "\"\x01";
    EXPECT_GT(
        sweep([] { return rx_test("(x+)(\"?)(.)", (wide + wide + wide).c_str()); }, GetParam().arm, OOM), 0);
    static const std::string big(3000, 'q');
    EXPECT_GT(sweep([] { return rx_test("q", big.c_str()); }, GetParam().arm, OOM), 0);
    /* Deep repetition with groups: the matcher's work stack and capture log
     * grow on the heap. */
    static const std::string pairs = [] {
        std::string s;
        while (s.size() < 1000) s += "ab";
        return s + "c";
    }();
    EXPECT_GT(sweep([] { return rx_test("(?:(a)|(b))*c", pairs.c_str()); }, GetParam().arm, OOM), 0);
    /* Alternations of literals: their tries, nibble masks and automaton
     * (an alternation without them is matched as before, to the same
     * answer). */
    static const std::string words20 = [] {
        std::string s;
        for (int i = 0; i < 20; i++) s += (i ? "|w" : "w") + std::to_string(i);
        return s;
    }();
    static const std::string words70 = words20 + [] {
        std::string s;
        for (int i = 20; i < 70; i++) s += "|w" + std::to_string(i);
        return s;
    }();
    static const std::string text = [] {
        std::string s;
        for (int i = 0; s.size() < 2000; i++) s += (i % 7 ? " x" : " w") + std::to_string(i % 90);
        return s;
    }();
    EXPECT_GT(sweep([] { return rx_test(words20.c_str(), text.c_str()); }, GetParam().arm, OOM), 0);
    EXPECT_GT(sweep([] { return rx_test(words70.c_str(), text.c_str()); }, GetParam().arm, OOM), 0);
}

TEST_P(OutOfMemory, ReplacePreview) {
    EXPECT_GT(sweep([] { return rx_replace_preview("a", "banana", "o"); }, GetParam().arm, OOM), 0);
    EXPECT_GT(sweep([] { return rx_replace_preview("a", "a", ""); }, GetParam().arm, OOM), 0);
    EXPECT_GT(sweep([] { return rx_replace_preview("x*", "abc", "\"-\""); }, GetParam().arm, OOM), 0);
    static const std::string big(10000, 'b');
    EXPECT_GT(sweep([] { return rx_replace_preview("c", big.c_str(), "d"); }, GetParam().arm, OOM), 0);
}

TEST_P(OutOfMemory, Generate) {
    const char *lists[] = {
        "[\"\"]",
        "[\"aaa\",\"a\"]",
        "[\"2023-12-01\",\"2024-01-15\"]",
        "[\"user_1\",\"admin_22\"]",
        "[\"id-7.txt\",\"id-x-9.txt\"]",
        "[\"x-1\",\"x-1-2\",\"x-2\"]",
        "[\"hello\",\"hello world\",\"a\\tb#c\"]",
        "[\"\\u00e9\",\"\\u00e8\"]",
    };
    for (const char *list : lists) {
        EXPECT_GT(sweep([list] { return rx_generate(list); }, GetParam().arm, OOM), 0) << list;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, OutOfMemory,
                         ::testing::Values(Mode{"OneFails", &rx_alloc_fail_at},
                                           Mode{"AllLaterFail", &rx_alloc_fail_from}),
                         [](const ::testing::TestParamInfo<Mode> &info) {
                             return std::string(info.param.name);
                         });

} /* namespace */
