/* Does the work of a call grow linearly with the text? For each adversarial
 * pattern this program times rx_test on texts of 64 KiB, 128 KiB, ... up to
 * 8 MiB (each twice the one before) and prints, per size, the time and its
 * ratio to the time at half the size: about 2 when the work is linear,
 * about 4 when it grows with the square of the text. Each cell also says
 * whether the call answered or was refused ("backtracking limit reached"):
 * a refusal comes when the budget, itself linear in the text, runs out, so
 * a refused row doubles too but answers nothing.
 *
 * A second table makes the slowest calls known, one call each, with
 * patterns up to 64 KiB over texts of 10 MiB: the wall-clock time a host
 * waits for the answer or for the refusal, against the goal of one second.
 * Calls whose answer itself is hundreds of megabytes (every byte a match)
 * are measured by bench_peers --worst instead.
 *
 *   bench_linear [--min=BYTES] [--max=BYTES] [--reps=N] [--row=WORDS] [--wall]
 *                [--no-worst | --worst-only]
 *     times are medians of up to N runs (3 by default; fewer past a second
 *     a cell) of thread CPU time unless --wall; --row keeps the rows whose
 *     pattern or text contains WORDS. scripts/bench-linear.sh builds and runs it. */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kelvaron_regex.h"

using namespace krx_bench;

namespace {

const size_t MIN_SIZE = 64u << 10;
const size_t MAX_SIZE = 8u << 20;
const size_t WORST_SIZE = 10u << 20;
const size_t PATTERN_LIMIT = 64u << 10;
const double CELL_BUDGET_MS = 1000;

/* ---- texts -------------------------------------------------------------------- */

enum TextKind { PROSE, PROSE_NO_EQUALS, A_RUN, AB_RUN, WORD_RUN, SPACE_RUN, X_RUN, QB_RUN };

const char *text_name(TextKind kind) {
    switch (kind) {
    case PROSE: return "prose and log lines";
    case PROSE_NO_EQUALS: return "prose and log lines, '=' made spaces";
    case A_RUN: return "`a` repeated";
    case AB_RUN: return "`ab` repeated";
    case WORD_RUN: return "words and single spaces, no punctuation";
    case SPACE_RUN: return "spaces, then one `x`";
    case X_RUN: return "`x` repeated";
    case QB_RUN: return "`qb qc qd ` repeated";
    }
    return "";
}

/* The text of a kind, of exactly size bytes; the prose is the built-in
 * corpus, built once at the largest size (a shorter one is its beginning). */
std::string make_text(TextKind kind, size_t size) {
    static std::string prose;
    switch (kind) {
    case PROSE:
    case PROSE_NO_EQUALS: {
        if (prose.size() < size) prose = build_corpus(std::max(size, WORST_SIZE));
        std::string t = prose.substr(0, size);
        if (kind == PROSE_NO_EQUALS) std::replace(t.begin(), t.end(), '=', ' ');
        return t;
    }
    case A_RUN: return std::string(size, 'a');
    case AB_RUN: return repeat_to("ab", size);
    case WORD_RUN: return repeat_to("lorem ipsum dolor sit amet consectetur adipiscing elit sed do ", size);
    case SPACE_RUN: return std::string(size - 1, ' ') + "x";
    case X_RUN: return std::string(size, 'x');
    case QB_RUN: return repeat_to("qb qc qd ", size);
    }
    return "";
}

/* ---- patterns ----------------------------------------------------------------- */

struct Case {
    std::string pattern;
    std::string shown; /* the pattern cell; the pattern itself when empty */
    TextKind text;
    size_t size = 0; /* the worst-call table's text size when not WORST_SIZE */
};

std::string shown(const Case &c) { return c.shown.empty() ? cell(c.pattern) : c.shown; }

/* Every k-th ASCII word of the dictionary, count of them, cut to at most
 * limit bytes at a '|'; empty when there is no dictionary. */
std::string dictionary_pattern(size_t count, size_t limit, std::string *shown_as) {
    std::vector<std::string> words;
    if (!dictionary_words(&words, true)) return "";
    std::string p = every_kth_alternation(words, count);
    if (p.size() > limit) p.resize(p.rfind('|', limit));
    size_t n = static_cast<size_t>(std::count(p.begin(), p.end(), '|')) + 1;
    *shown_as = "dictionary words, " + std::to_string(n) + " of them joined by " + cell("|") + " (" +
                std::to_string(p.size()) + " bytes)";
    return p;
}

/* The adversarial patterns of the linear table: runs before a literal,
 * runs retried from every start, nested repetitions, a dictionary. */
std::vector<Case> linear_cases() {
    std::vector<Case> cases = {
        {"\\w+\\s+Holmes", "", PROSE},
        {"\\w+\\s+Holmes\\s+\\w+", "", PROSE},
        {"[ -~]*ABCDEFGHIJKLMNOPQRSTUVWXYZ$", "", PROSE},
        {".efghijklmnopq[a-z]+[A-Z]", "", PROSE},
        {".*.*=.*", "", PROSE_NO_EQUALS},
        {"a*b", "", A_RUN},
        {"(?:a|aa)*c", "", A_RUN},
        {"(?:a*)*b", "", A_RUN},
        {"(?:a+)+b", "", A_RUN},
        {"(a|b|ab)*c", "", AB_RUN},
        {"(?:\\w+\\s?)+!", "", WORD_RUN},
        {"\\s+$", "", SPACE_RUN},
    };
    Case dict = {"", "", PROSE};
    dict.pattern = dictionary_pattern(2500, PATTERN_LIMIT, &dict.shown);
    if (!dict.pattern.empty()) cases.push_back(dict);
    return cases;
}

/* The slowest calls known today, for the worst-call table. */
std::vector<Case> worst_cases() {
    std::vector<Case> cases = linear_cases();
    Case big = {"", "", PROSE}, all = {"", "", PROSE, 60000};
    big.pattern = dictionary_pattern(8000, PATTERN_LIMIT, &big.shown);
    if (!big.pattern.empty()) cases.push_back(big);
    all.pattern =
        dictionary_pattern(43000, SIZE_MAX, &all.shown); /* larger than 64 KiB, as a host may send */
    if (!all.pattern.empty()) cases.push_back(all);
    std::string qa; /* six-letter words that start like the text's words and fail on their second byte */
    for (int i = 0; qa.size() < PATTERN_LIMIT - 7; ++i) {
        if (!qa.empty()) qa += '|';
        qa += "qa";
        for (int k = 0, v = i; k < 4; ++k, v /= 26) qa += static_cast<char>('a' + v % 26);
    }
    cases.push_back({qa, cell("qaaaaa|qabaaa|...") + ", 64 KiB of six-letter words", QB_RUN});
    cases.push_back({std::string(PATTERN_LIMIT, 'e'), "`eee...e`, a 64 KiB literal", PROSE});
    std::string alternatives = "(?:(?:";
    for (int i = 0; i < 150; i++) alternatives += "b|";
    cases.push_back({alternatives + ".){0,2000}c)?",
                     cell("(?:(?:b|b|...|.){0,2000}c)?") + " with 150 " + cell("b|"), X_RUN});
    cases.push_back({"(?:a{1,2000}b)?", "", A_RUN});
    std::string nested, groups = "(?:(a)", stars;
    for (int i = 0; i < 1000; i++) nested += "(?:";
    nested += "a*";
    for (int i = 0; i < 1000; i++) nested += ")*";
    cases.push_back({nested + "b", "`(?:(?:...(?:a*)*...)*)*b`, 1,000 stars deep", A_RUN});
    /* Groups inside repetitions: each iteration records its captures. */
    cases.push_back({"(a|aa)*c", "", A_RUN});
    cases.push_back({"((a)|(b)|(ab))*c", "", AB_RUN});
    cases.push_back({"(?:(\\w)+\\s?)+!", "", WORD_RUN});
    for (int i = 0; i < 15; i++) groups += "(a)?";
    cases.push_back({groups + ")*c", "`(?:(a)(a)?...(a)?)*c`, 16 groups", A_RUN});
    for (int i = 0; i < 16; i++) stars += "(";
    stars += "a";
    for (int i = 0; i < 16; i++) stars += ")*";
    cases.push_back({stars + "c", "`((...(a)*...)*)*c`, 16 groups deep", A_RUN});
    return cases;
}

/* ---- timing ------------------------------------------------------------------- */

struct Outcome {
    double ms = 0; /* median of the runs */
    bool refused = false;
    std::string reason; /* the error text of a failed call */
    size_t matches = 0;
};

/* The number of match objects in an answer of rx_test. */
size_t count_matches(const char *answer) {
    size_t n = 0;
    for (const char *p = answer; (p = strstr(p, "{\"start\":")) != nullptr; p++) n++;
    return n;
}

/* Times rx_test on the text: up to reps runs within CELL_BUDGET_MS. */
Outcome time_call(const std::string &pattern, const std::string &text, int reps) {
    Outcome o;
    std::vector<double> runs;
    double total = 0;
    while (static_cast<int>(runs.size()) < reps && total < CELL_BUDGET_MS) {
        double t0 = now_ms();
        const char *answer = rx_test(pattern.c_str(), text.c_str());
        runs.push_back(now_ms() - t0);
        total += runs.back();
        benchmark::DoNotOptimize(answer);
        o.refused = answer == nullptr;
        if (o.refused)
            o.reason = rx_last_error();
        else if (runs.size() == 1)
            o.matches = count_matches(answer);
    }
    o.ms = median(runs);
    return o;
}

bool selected(const Case &c, const std::string &only) {
    return only.empty() || c.pattern.find(only) != std::string::npos ||
           shown(c).find(only) != std::string::npos ||
           std::string(text_name(c.text)).find(only) != std::string::npos;
}

void linear_table(size_t min_size, size_t max_size, int reps, const std::string &only) {
    std::vector<size_t> sizes;
    for (size_t n = min_size; n <= max_size; n *= 2) sizes.push_back(n);
    printf("\nrx_test on texts of doubling size: ms of %s (medians of up to %d runs) and, after x, the ratio "
           "to the time at half the size; \"refused\" marks a call that failed with \"backtracking limit "
           "reached\"\n\n| pattern | text |",
           clock_name(), reps);
    for (size_t n : sizes) printf(" %s |", size_name(n).c_str());
    printf(" answers up to | matches at %s |\n|---|---|", size_name(sizes.back()).c_str());
    for (size_t i = 0; i < sizes.size() + 2; i++) printf("---:|");
    printf("\n");
    fflush(stdout);
    for (const Case &c : linear_cases()) {
        if (!selected(c, only)) continue;
        printf("| %s | %s |", shown(c).c_str(), text_name(c.text));
        double previous = 0;
        size_t answered_to = 0;
        Outcome o;
        for (size_t n : sizes) {
            o = time_call(c.pattern, make_text(c.text, n), reps);
            printf(" %s%.2f", o.refused ? "refused " : "", o.ms);
            if (previous > 0) printf(" x%.1f", o.ms / previous);
            printf(" |");
            fflush(stdout);
            previous = o.ms;
            if (!o.refused) answered_to = n;
        }
        printf(" %s |", answered_to == sizes.back() ? "all"
                        : answered_to == 0          ? "none"
                                                    : size_name(answered_to).c_str());
        if (o.refused)
            printf(" refused |\n");
        else
            printf(" %zu |\n", o.matches);
        fflush(stdout);
    }
}

void worst_table(const std::string &only) {
    printf(
        "\nThe slowest calls known: one rx_test call each, patterns up to 64 KiB (and one larger), texts of "
        "%s unless said; seconds of wall-clock and of thread CPU time\n\n"
        "| pattern | text | outcome | wall s | CPU s |\n|---|---|---|---:|---:|\n",
        size_name(WORST_SIZE).c_str());
    fflush(stdout);
    for (const Case &c : worst_cases()) {
        if (!selected(c, only)) continue;
        size_t size = c.size != 0 ? c.size : WORST_SIZE;
        std::string text = make_text(c.text, size), text_cell = text_name(c.text);
        if (size != WORST_SIZE) text_cell += ", " + std::to_string(size) + " bytes";
        double w0 = wall_ms(), c0 = cpu_ms();
        const char *answer = rx_test(c.pattern.c_str(), text.c_str());
        double wall = wall_ms() - w0, cpu = cpu_ms() - c0;
        std::string outcome = answer == nullptr ? std::string("refused: ") + rx_last_error()
                                                : std::to_string(count_matches(answer)) + " matches";
        printf("| %s | %s | %s | %.3f | %.3f |\n", shown(c).c_str(), text_cell.c_str(), outcome.c_str(),
               wall / 1000.0, cpu / 1000.0);
        fflush(stdout);
    }
}

int usage() {
    fprintf(stderr, "usage: bench_linear [--min=BYTES] [--max=BYTES] [--reps=N] [--row=WORDS] [--wall]\n"
                    "                    [--no-worst | --worst-only]\n");
    return 2;
}

} /* namespace */

int main(int argc, char **argv) {
    size_t min_size = MIN_SIZE, max_size = MAX_SIZE;
    int reps = 3;
    bool linear = true, worst = true;
    std::string only;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a.rfind("--min=", 0) == 0) {
            min_size = parse_size(argv[i] + 6);
        } else if (a.rfind("--max=", 0) == 0) {
            max_size = parse_size(argv[i] + 6);
        } else if (a.rfind("--reps=", 0) == 0) {
            reps = std::max(1, atoi(argv[i] + 7));
        } else if (a.rfind("--row=", 0) == 0) {
            only = a.substr(6);
        } else if (a == "--wall") {
            set_wall_clock(true);
        } else if (a == "--no-worst") {
            worst = false;
        } else if (a == "--worst-only") {
            linear = false;
        } else {
            return usage();
        }
    }
    if (min_size == 0 || max_size < min_size || max_size > WORST_SIZE) {
        fprintf(stderr, "bench_linear: sizes from 1 byte to 10 MiB, --min at most --max\n");
        return 2;
    }
    if (linear) linear_table(min_size, max_size, reps, only);
    if (worst) worst_table(only);
    return 0;
}
