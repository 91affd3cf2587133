/* What a host pays per call: the exports on typical inputs (a pattern typed
 * into an editor run against a log-sized text), beside std::regex on the
 * same inputs as a baseline in the same process. Run with
 *   build/bench/bench_exports --benchmark_repetitions=5 --benchmark_report_aggregates_only=true */
#include <benchmark/benchmark.h>

#include <regex>
#include <string>

#include "kelvaron_regex.h"

namespace {

/* A log-like text: words, numbers, dates and e-mail addresses. */
std::string make_text(size_t bytes) {
    static const char *pieces[] = {"2024-01-15 ",           "user_42 ",    "logged in from ", "10.0.0.7 ",
                                   "mail ann@example.org ", "status=200 ", "took 35ms\n"};
    std::string text;
    for (size_t i = 0; text.size() < bytes; i++) text += pieces[i % 7];
    text.resize(bytes);
    return text;
}

struct Input {
    const char *name;
    const char *pattern;
};
const Input INPUTS[] = {
    {"literal", "status"},
    {"date", "\\d{4}-\\d{2}-\\d{2}"},
    {"email", "(\\w+)@(\\w+)\\.org"},
    {"alternation", "ann|bob|carol|dave"},
    {"class_run", "[a-z]+"},
};

void BM_rx_test(benchmark::State &state) {
    const Input &in = INPUTS[state.range(0)];
    std::string text = make_text(static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        const char *answer = rx_test(in.pattern, text.c_str());
        if (answer == nullptr) state.SkipWithError(rx_last_error());
        benchmark::DoNotOptimize(answer);
    }
    state.SetLabel(in.name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(1));
}

/* Baseline: std::regex (ECMAScript) finding every match with its groups. */
void BM_std_regex(benchmark::State &state) {
    const Input &in = INPUTS[state.range(0)];
    std::string text = make_text(static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        std::regex re(in.pattern);
        size_t count = 0;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
            count += it->size();
        benchmark::DoNotOptimize(count);
    }
    state.SetLabel(in.name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(1));
}

void inputs(benchmark::internal::Benchmark *b) {
    for (int i = 0; i < 5; i++)
        for (int bytes : {1024, 65536}) b->Args({i, bytes});
}

BENCHMARK(BM_rx_test)->Apply(inputs);
BENCHMARK(BM_std_regex)->Apply(inputs);

void BM_rx_replace_preview(benchmark::State &state) {
    std::string text = make_text(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(rx_replace_preview("\\d+", text.c_str(), "N"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_rx_replace_preview)->Arg(1024)->Arg(65536);

void BM_rx_validate(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(rx_validate("^(\\w+)@([a-z0-9-]+)(\\.[a-z]{2,})+$"));
}
BENCHMARK(BM_rx_validate);

void BM_rx_generate(benchmark::State &state) {
    const char *json = "[\"2023-12-01\",\"2024-01-15\",\"1999-07-04\",\"2000-02-29\"]";
    for (auto _ : state) benchmark::DoNotOptimize(rx_generate(json));
}
BENCHMARK(BM_rx_generate);

void BM_rx_generate_alternation(benchmark::State &state) {
    const char *json = "[\"id-7.txt\",\"id-x-9.txt\",\"id-x-10.txt\",\"id-y.txt\"]";
    for (auto _ : state) benchmark::DoNotOptimize(rx_generate(json));
}
BENCHMARK(BM_rx_generate_alternation);

} /* namespace */

BENCHMARK_MAIN();
