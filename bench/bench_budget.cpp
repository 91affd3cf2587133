/* The worst calls the step budget has to stop, each over 10 MiB: how long a
 * host waits for the answer or for "backtracking limit reached". Each call
 * runs a few times only (they take up to seconds); select with
 * --benchmark_filter. Run with
 *   build/bench/bench_budget --benchmark_repetitions=3 --benchmark_report_aggregates_only=true */
#include <benchmark/benchmark.h>

#include <string>

#include "kelvaron_regex.h"

namespace {

const size_t TEN_MIB = 10485760;

/* Prose-like text of the given size: words from a small vocabulary. */
std::string prose(size_t bytes) {
    static const char *words[] = {"the ",  "of ",   "and ", "a ",      "to ",   "in ",    "is ",    "was ",
                                  "that ", "with ", "for ", "holmes ", "said ", "which ", "this.\n"};
    std::string text;
    uint32_t seed = 7;
    while (text.size() < bytes) {
        seed = seed * 1103515245u + 12345u;
        text += words[(seed >> 16) % 15];
    }
    text.resize(bytes);
    return text;
}

struct Worst {
    const char *name;
    std::string pattern;
    std::string text;
};

const Worst &worst(int index) {
    static const Worst cases[] = {
        {"optional_run", "(?:a{1,2000}b)?", std::string(TEN_MIB, 'a')},
        {"star_then_missing", "a*b", std::string(TEN_MIB, 'a')},
        {"nested_alternation", "(?:a|aa)*c", std::string(TEN_MIB, 'a')},
        {"literal_64k", std::string(65536, 'e'), prose(TEN_MIB)},
        {"literal_64k_words", prose(65536), prose(TEN_MIB)},
        {"alternatives_150",
         [] {
             std::string p = "(?:(?:";
             for (int i = 0; i < 150; i++) p += "b|";
             return p + ".){0,2000}c)?";
         }(),
         std::string(TEN_MIB, 'x')},
    };
    return cases[index];
}

void BM_worst_call(benchmark::State &state) {
    const Worst &w = worst(static_cast<int>(state.range(0)));
    bool answered = false;
    for (auto _ : state) {
        const char *answer = rx_test(w.pattern.c_str(), w.text.c_str());
        answered = answer != nullptr;
        benchmark::DoNotOptimize(answer);
    }
    state.SetLabel(std::string(w.name) + (answered ? ": answered" : ": limit reached"));
}
BENCHMARK(BM_worst_call)->DenseRange(0, 5)->Iterations(1)->Unit(benchmark::kMillisecond);

} /* namespace */

BENCHMARK_MAIN();
