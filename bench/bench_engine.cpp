/* Speed of one search through the engine's entry points: the one-shot
 * search (parse, search, free) and the search of a pattern parsed once, on
 * typical patterns (a literal, class runs, an alternation, captures) over
 * texts from 1 KiB to 1 MiB whose only match sits near the end, so every
 * search scans the whole text. Run with --benchmark_repetitions=N to get
 * medians; each benchmark also reports the result code it saw, so a search
 * that ran out of budget is visible instead of looking fast. A last one
 * enumerates dictionary alternations of 40 and 2,500 words over 1 and
 * 10 MiB. */
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "rx_match_win.h"

namespace {

struct Case {
    const char *name;
    const char *pattern;
    const char *tail; /* placed near the end of the text: the one match */
};

const Case CASES[] = {
    {"literal", "needle", "needle"},
    {"literal_i", "(?i)needle", "NeEdLe"},
    {"class_run", "[0-9]+-[0-9]+", "2024-0612"},
    {"shorthand_run", "\\d{4}-\\d{2}", "2024-06"},
    {"alternation", "error|fatal|panic", "panic"},
    {"captures", "(\\w+)@(\\w+)\\.com", "someone@example.com"},
    {"anchored_words", "\\bzebra\\b", "zebra"},
    {"bracketed", "<([^>]*)>", "<tag>"},
};

/* Words of lower-case letters separated by spaces (no digits, no "@", no
 * "<"), then the case's tail, then a few more words. */
std::string make_text(size_t size, const char *tail) {
    static const char *const words[] = {"the",   "quick", "brown", "fox", "jumps", "over",   "lazy",   "dog",
                                        "lorem", "ipsum", "dolor", "sit", "amet",  "server", "request"};
    std::string t;
    uint32_t x = 12345;
    std::string end = std::string(" ") + tail + " done";
    while (t.size() + end.size() < size) {
        x = x * 1103515245u + 12345u;
        t += words[(x >> 16) % (sizeof words / sizeof *words)];
        t += ' ';
    }
    t += end;
    return t;
}

void BM_find_caps(benchmark::State &state) {
    const Case &c = CASES[state.range(0)];
    std::string text = make_text(static_cast<size_t>(state.range(1)), c.tail);
    state.SetLabel(c.name);
    int last = 0;
    for (auto _ : state) {
        uint64_t s = 0, e = 0;
        rx_caps caps;
        last = rx_engine_find_caps(c.pattern, text.data(), text.size(), 0, &s, &e, &caps);
        benchmark::DoNotOptimize(e);
    }
    state.counters["result"] = last;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_find_prog(benchmark::State &state) {
    const Case &c = CASES[state.range(0)];
    std::string text = make_text(static_cast<size_t>(state.range(1)), c.tail);
    state.SetLabel(c.name);
    rx_prog prog;
    char err[128];
    if (rx_engine_prepare(c.pattern, &prog, err, sizeof err) != 0) {
        state.SkipWithError(err);
        return;
    }
    int last = 0;
    for (auto _ : state) {
        uint64_t s = 0, e = 0;
        rx_caps caps;
        rx_engine_arm(&prog, text.size()); /* each search a call of its own */
        last = rx_engine_find_prog(&prog, text.data(), text.size(), 0, &s, &e, &caps);
        benchmark::DoNotOptimize(e);
    }
    rx_engine_release(&prog);
    state.counters["result"] = last;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

/* Enumeration as a host sees it: every match of a prepared pattern, one
 * search after another under one budget, timed over its iterations. */
void enumerate(benchmark::State &state, const char *pattern, const std::string &text) {
    rx_prog prog;
    char err[128];
    if (rx_engine_prepare(pattern, &prog, err, sizeof err) != 0) {
        state.SkipWithError(err);
        return;
    }
    int64_t matches = 0;
    for (auto _ : state) {
        uint64_t off = 0, s = 0, e = 0;
        matches = 0;
        rx_caps caps;
        rx_engine_arm(&prog, text.size()); /* one budget for the enumeration */
        while (off <= text.size() &&
               rx_engine_find_prog(&prog, text.data(), text.size(), off, &s, &e, &caps) == 1) {
            matches++;
            off = e == s ? e + 1 : e;
        }
        benchmark::DoNotOptimize(matches);
    }
    rx_engine_release(&prog);
    state.counters["matches"] = static_cast<double>(matches);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

/* Every match of a short pattern. */
void BM_enumerate_words(benchmark::State &state) {
    enumerate(state, "\\w+", make_text(static_cast<size_t>(state.range(0)), "end"));
}

/* Dictionary alternations: count words of /usr/share/dict/american-english
 * (Debian's wamerican), evenly spread over the list, of 13 letters or more
 * and without an apostrophe, joined by "|", enumerated over a text of
 * ordinary words with one of the dictionary's planted every 4 KiB. */
std::vector<std::string> dictionary_words(size_t count) {
    std::vector<std::string> all, picked;
    FILE *f = fopen("/usr/share/dict/american-english", "r");
    if (f == nullptr) return picked;
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        std::string w(line);
        while (!w.empty() && (w.back() == '\n' || w.back() == '\r')) w.pop_back();
        bool plain = w.size() >= 13;
        for (unsigned char c : w) plain = plain && c < 0x80 && c != '\'';
        if (plain) all.push_back(w);
    }
    fclose(f);
    for (size_t i = 0; i < count && !all.empty(); i++) picked.push_back(all[i * all.size() / count]);
    return picked;
}

void BM_dictionary(benchmark::State &state) {
    std::vector<std::string> words = dictionary_words(static_cast<size_t>(state.range(0)));
    if (words.empty()) {
        state.SkipWithError("no /usr/share/dict/american-english (install wamerican)");
        return;
    }
    std::string pattern, text = make_text(static_cast<size_t>(state.range(1)), "end");
    for (const std::string &w : words) pattern += (pattern.empty() ? "" : "|") + w;
    for (size_t at = 4096, k = 0; at + 32 < text.size(); at += 4096, k++)
        text.replace(at, 0, words[k % words.size()]);
    enumerate(state, pattern.c_str(), text);
}

void sizes(benchmark::internal::Benchmark *b) {
    for (int64_t c = 0; c < static_cast<int64_t>(sizeof CASES / sizeof *CASES); c++)
        for (int64_t size : {int64_t(1) << 10, int64_t(1) << 14, int64_t(1) << 17, int64_t(1) << 20})
            b->Args({c, size});
}

BENCHMARK(BM_find_caps)->Apply(sizes);
BENCHMARK(BM_find_prog)->Apply(sizes);
BENCHMARK(BM_enumerate_words)->Arg(1 << 10)->Arg(1 << 14)->Arg(1 << 17);
BENCHMARK(BM_dictionary)
    ->Args({40, 1 << 20})
    ->Args({2500, 1 << 20})
    ->Args({2500, 10 << 20})
    ->Unit(benchmark::kMillisecond);

} /* namespace */

BENCHMARK_MAIN();
