/* Stress through the public header: threads making mixed calls of all five
 * exports at once. Each call's answer must be the one the same call gives
 * on a single thread, which is made first; so the table names calls and no
 * answers of its own. The error text is one per process, and the host
 * contract lets a reader trust it only when every call is serialised:
 * - in the concurrent phase it is not read at all (a null answer must be
 *   null again, nothing more);
 * - in the serialised phase each thread takes one lock over its call and the
 *   read, and the text must then be exactly the single-threaded one.
 * The ThreadSanitizer build (scripts/tsan.sh) runs this with more rounds. */
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kelvaron_regex.h"
#include "test_support.h"

namespace {

enum Export { VALIDATE, TEST, REPLACE, GENERATE };

struct Call {
    Export fn;
    const char *a, *b, *c; /* the arguments in order; nullptr is passed as it is */
};

const Call CALLS[] = {
    {VALIDATE, "a(b|c)*d{2,3}", nullptr, nullptr},
    {VALIDATE, "(a", nullptr, nullptr},
    {VALIDATE, "[^a-z]+\\d?", nullptr, nullptr},
    {VALIDATE, nullptr, nullptr, nullptr},
    {TEST, "(\\w+)@(\\w+)", "mail ann@example or bob@test", nullptr},
    {TEST, "(?i)(a)|(b)", "xAbBa", nullptr},
    {TEST, "a*", "aab", nullptr},
    {TEST, "(?m)^(.*)$", "one\ntwo\n\"three\"\t\x01", nullptr},
    {TEST, "z", "abc", nullptr},
    {TEST, "\\b\\w", "to be, or not", nullptr},
    {TEST, "(a", "a", nullptr},
    {TEST, nullptr, "a", nullptr},
    {TEST, "a", nullptr, nullptr},
    {REPLACE, "a", "banana", "o"},
    {REPLACE, "x*", "abc", "-"},
    {REPLACE, "[", "x", "y"},
    {REPLACE, "a", "a", nullptr},
    {GENERATE, "[\"2023-12-01\",\"2024-01-15\"]", nullptr, nullptr},
    {GENERATE, "[\"id-7.txt\",\"id-x-9.txt\"]", nullptr, nullptr},
    {GENERATE, "[\"1-\",\"1--\",\"2-\"]", nullptr, nullptr},
    {GENERATE, "[1]", nullptr, nullptr},
    {GENERATE, "[]", nullptr, nullptr},
    {GENERATE, "not json", nullptr, nullptr},
    {GENERATE, nullptr, nullptr, nullptr},
};

/* Calls whose texts are made at run time: answers larger than a thread's
 * first answer buffer, and searches that reach the limits. */
std::vector<Call> all_calls() {
    static const std::string words = [] {
        std::string s;
        for (int i = 0; i < 2000; ++i) s += "w" + std::to_string(i % 97) + " ";
        return s;
    }();
    static const std::string as(5000, 'a');
    std::vector<Call> calls(std::begin(CALLS), std::end(CALLS));
    calls.push_back({TEST, "(w)(\\d+)", words.c_str(), nullptr});
    calls.push_back({REPLACE, "\\d", words.c_str(), "<n>"});
    calls.push_back({TEST, "(?:(?:a)*)*", as.c_str(), nullptr});
    calls.push_back({TEST, "a*b", as.c_str(), nullptr});
    return calls;
}

const char *make(const Call &c) {
    switch (c.fn) {
    case VALIDATE: return rx_validate(c.a);
    case TEST: return rx_test(c.a, c.b);
    case REPLACE: return rx_replace_preview(c.a, c.b, c.c);
    case GENERATE: return rx_generate(c.a);
    }
    return nullptr;
}

/* What a call gave: its answer (or null) and the error text read right
 * after it. */
struct Outcome {
    bool null;
    std::string answer;
    std::string error;
};

Outcome outcome_of(const char *answer) {
    return {answer == nullptr, answer != nullptr ? answer : "", rx_last_error()};
}

bool same_outcome(const Outcome &a, const Outcome &b) {
    return a.null == b.null && a.answer == b.answer && a.error == b.error;
}

std::vector<Outcome> single_threaded(const std::vector<Call> &calls) {
    std::vector<Outcome> out;
    for (const Call &c : calls) out.push_back(outcome_of(make(c)));
    return out;
}

/* Runs body(thread id) on THREADS threads at once. */
template <typename Body>
void on_threads(int threads, Body body) {
    std::vector<std::thread> pool;
    for (int id = 0; id < threads; ++id) pool.emplace_back(body, id);
    for (std::thread &t : pool) t.join();
}

/* The k-th of n calls that thread id makes in a round: each thread walks the
 * table from its own place, every other one backwards. */
size_t call_index(int id, size_t k, size_t n) {
    const size_t step = id % 2 == 0 ? k : n - 1 - k;
    return (step + static_cast<size_t>(id) * 5) % n;
}

const int THREADS = krx_test::long_mode() ? 8 : 4;
const int ROUNDS = krx_test::long_mode() ? 2000 : 20;

/* Every thread makes every call ROUNDS times, each time judged by
 * same(call index, answer); the number of calls judged different, and the
 * first of them. */
template <typename Same>
void expect_all_same(const std::vector<Call> &calls, Same same) {
    std::atomic<int> bad{0};
    std::atomic<int> first_bad{-1};
    on_threads(THREADS, [&](int id) {
        const size_t n = calls.size();
        for (int round = 0; round < ROUNDS; ++round) {
            for (size_t k = 0; k < n; ++k) {
                const size_t at = call_index(id, k, n);
                if (!same(at)) {
                    bad++;
                    int none = -1;
                    first_bad.compare_exchange_strong(none, static_cast<int>(at));
                }
            }
        }
    });
    EXPECT_EQ(bad.load(), 0) << "first differing call: #" << first_bad.load();
}

TEST(Stress, ConcurrentCallsAnswerAsOnOneThread) {
    KRX_SKIP_WITHOUT_THREADS();
    const std::vector<Call> calls = all_calls();
    const std::vector<Outcome> expected = single_threaded(calls);
    expect_all_same(calls, [&](size_t at) {
        const char *answer = make(calls[at]);
        return expected[at].null ? answer == nullptr : answer != nullptr && expected[at].answer == answer;
    });
}

TEST(Stress, SerialisedCallsReadTheirOwnErrorText) {
    KRX_SKIP_WITHOUT_THREADS();
    const std::vector<Call> calls = all_calls();
    const std::vector<Outcome> expected = single_threaded(calls);
    std::mutex host_lock;
    expect_all_same(calls, [&](size_t at) {
        std::lock_guard<std::mutex> hold(host_lock);
        return same_outcome(outcome_of(make(calls[at])), expected[at]);
    });
}

} /* namespace */
