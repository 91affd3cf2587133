/* The slowest and most memory-hungry calls of rx_test we know of, each made
 * once (a single call may take many seconds): how long a host waits before
 * the answer or the failure, and the process's peak memory after the call.
 * Not a test and not run in CI (bench_linear's second table times the
 * slowest calls of patterns up to 64 KiB, refusals included, in one run).
 * Run one entry at a time to read its peak:
 *   /usr/bin/time -v build/bench/bench_slow --benchmark_filter='BM_literal_1mb'
 * Mind what an entry may cost before running it, and never run them all
 * unfiltered on a shared machine: as these lines are written,
 * BM_sixteen_groups answers 9.3 GB of JSON at a peak of about 18 GB.
 * Entries:
 *   BM_empty_after_million/N  (?:(?:b|b|...|.){0,2000}c)? with 150 "b|" over
 *                             N bytes of "x": every search matches the empty
 *                             string after about a million steps
 *   BM_alternation_64k        a 64 KiB alternation of words over 10 MiB of
 *                             text that starts each word but holds none
 *   BM_literal_1mb            a 1,000,000-byte literal over 10 MiB that
 *                             holds all of it but its last byte, everywhere
 *   BM_sixteen_groups         16 groups around (?:) over 10 MiB: an empty
 *                             match with 16 groups at every byte
 *   BM_dot                    "." over 10 MiB: a match at every byte */
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "kelvaron_regex.h"

namespace {

const size_t TEN_MIB = 10485760;

/* Makes one call and labels the run with its outcome; peak_rss_MiB is the
 * process's peak resident size so far, so read it from a run of one entry. */
void run_once(benchmark::State &state, const std::string &pattern, const std::string &text) {
    std::string outcome;
    for (auto _ : state) {
        const char *answer = rx_test(pattern.c_str(), text.c_str());
        outcome = answer != nullptr ? "answer of " + std::to_string(std::string(answer).size()) + " bytes"
                                    : std::string("failed: ") + rx_last_error();
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.SetLabel(outcome);
}

void BM_empty_after_million(benchmark::State &state) {
    std::string pattern = "(?:(?:";
    for (int i = 0; i < 150; ++i) pattern += "b|";
    pattern += ".){0,2000}c)?";
    run_once(state, pattern, std::string(static_cast<size_t>(state.range(0)), 'x'));
}
BENCHMARK(BM_empty_after_million)
    ->Arg(3700)
    ->Arg(10000)
    ->Arg(TEN_MIB)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

/* Words of six letters from a counter, "qa" first, so each starts with the
 * text's first byte and fails on its second. */
void BM_alternation_64k(benchmark::State &state) {
    std::string pattern;
    for (int i = 0; pattern.size() < 65536; ++i) {
        if (!pattern.empty()) pattern += '|';
        pattern += "qa";
        for (int k = 0, v = i; k < 4; ++k, v /= 26) pattern += static_cast<char>('a' + v % 26);
    }
    std::string text;
    while (text.size() < TEN_MIB) text += "qb qc qd ";
    text.resize(TEN_MIB);
    run_once(state, pattern, text);
}
BENCHMARK(BM_alternation_64k)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_literal_1mb(benchmark::State &state) {
    const std::string pattern = std::string(999999, 'a') + "b";
    run_once(state, pattern, std::string(TEN_MIB, 'a'));
}
BENCHMARK(BM_literal_1mb)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_sixteen_groups(benchmark::State &state) {
    std::string pattern;
    for (int i = 0; i < 16; ++i) pattern += "((?:))";
    run_once(state, pattern, std::string(TEN_MIB, 'x'));
}
BENCHMARK(BM_sixteen_groups)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_dot(benchmark::State &state) { run_once(state, ".", std::string(TEN_MIB, 'x')); }
BENCHMARK(BM_dot)->Iterations(1)->Unit(benchmark::kMillisecond);

} /* namespace */

BENCHMARK_MAIN();
