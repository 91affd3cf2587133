/* What a host would pick instead of this library: PCRE2 with its JIT plus a
 * few lines of its own that write the same JSON answer. This program times
 * rx_test and rx_replace_preview end to end (answer included) against
 *   - PCRE2-JIT enumerating the same matches and writing the same JSON,
 *   - the PCRE2 interpreter enumerating them and counting only,
 * checks that both sides answer byte for byte the same on every row (a
 * mismatch is printed loudly and makes the exit status 1), and prints the
 * medians in milliseconds (thread CPU time unless --wall) with the ratios
 * peer time / our time (above 1: we are faster) and their geometric means.
 * A last table times rx_validate and rx_generate on ordinary inputs, in
 * microseconds per call. The interpreter's count is no yardstick for
 * rx_replace_preview, which rewrites the whole text, so its table has none.
 *
 *   bench_peers [--size=BYTES] [--reps=N] [--row=WORDS] [--wall] [FILE]
 *     FILE: any text (NUL bytes become spaces), cut to BYTES (4 MiB by
 *     default); without it a deterministic English-and-log-like corpus of
 *     BYTES is built; --row keeps the rows whose name contains WORDS.
 *     scripts/bench-peers.sh runs it on Debian's changelogs.
 *   bench_peers --write-corpus=OUT [--size=BYTES] [FILE]
 *     writes the text the tables would use to OUT and stops, so that another
 *     program (the WebAssembly benchmark, js/bench/) can time the same bytes.
 *   bench_peers --worst=dot|group [--size=BYTES] [--peer]
 *     one rx_test call (or, with --peer, the PCRE2-JIT side) of "." over a
 *     text of one non-newline byte, or "(\w)" over "a"s, 10 MiB by default;
 *     run it under /usr/bin/time -v for the peak memory.
 *
 * PCRE2 is told to behave as the library does on these rows: no UTF and no
 * Unicode properties (so \w \d \b are ASCII), line feed as the newline, and
 * the library's enumeration rule: after an empty match the next search
 * starts one byte further, and a match may start where a non-empty one
 * ended. Where the two dialects differ (the library commits every node to
 * its first end, PCRE2 backtracks into it) the rows are chosen so that
 * backtracking cannot change the answer. */
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kelvaron_regex.h"

namespace {

const size_t DEFAULT_SIZE = 4u << 20;
const size_t WORST_SIZE = 10u << 20;
const char REPLACEMENT[] = "<x>";

struct Row {
    const char *name;
    const char *pattern;
};
const Row ROWS[] = {
    {"literal", "zebra"},
    {"literal, case-insensitive", "(?i)holmes"},
    {"word runs", "\\w+"},
    {"digit runs", "\\d+"},
    {"alternation", "apple|banana|cherry|grape|lemon"},
    {"word boundary", "\\bthe\\b"},
    {"date", "\\d{4}-\\d{2}-\\d{2}"},
    {"captures", "(\\w+)@(\\w+)\\.com"},
};

/* Times are the CPU time of the calling thread (kernel time for its page
 * faults included), so that other work on a shared machine does not count;
 * --wall takes the wall clock instead. */
bool g_wall_clock = false;

double wall_ms() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double, std::milli>(clock::now().time_since_epoch()).count();
}

double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double now_ms() { return g_wall_clock ? wall_ms() : cpu_ms(); }

const char *clock_name() { return g_wall_clock ? "wall-clock time" : "thread CPU time"; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

/* ---- corpus ----------------------------------------------------------------- */

/* A small deterministic generator (xorshift64), so every run builds the
 * same corpus. */
struct Rng {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    size_t below(size_t n) { return static_cast<size_t>(next() % n); }
};

const char *const WORDS[] = {
    "the",     "of",     "and",    "to",      "in",     "a",       "is",         "that",  "for",    "it",
    "as",      "was",    "with",   "be",      "by",     "on",      "not",        "he",    "this",   "are",
    "or",      "his",    "from",   "at",      "which",  "but",     "have",       "an",    "had",    "they",
    "you",     "were",   "their",  "one",     "all",    "we",      "can",        "her",   "has",    "there",
    "been",    "if",     "more",   "when",    "will",   "would",   "who",        "so",    "no",     "there's",
    "Holmes",  "Watson", "street", "window",  "letter", "evening", "Baker",      "upon",  "The",    "package",
    "version", "fixed",  "upload", "release", "build",  "patch",   "bug",        "other", "mother", "theory",
    "bathe",   "then",   "them",   "these",   "x86_64", "v2",      "under_score"};
const char *const RARE[] = {"apple", "banana", "cherry", "grape", "lemon", "HOLMES", "zebra"};
const char *const HOSTS[] = {"alpha", "db01", "mail", "gateway", "worker7"};
const char *const USERS[] = {"ann", "bob42", "carol_x", "dave", "root"};
const char *const DOMAINS[] = {"example", "mailhost", "corp", "isp"};

void add_sentence(std::string &t, Rng &r) {
    size_t words = 6 + r.below(12);
    for (size_t i = 0; i < words; i++) {
        if (i > 0) t += r.below(17) == 0 ? ", " : " ";
        if (r.below(60) == 0)
            t += RARE[r.below(std::size(RARE) - (r.below(20) == 0 ? 0 : 1))];
        else
            t += WORDS[r.below(std::size(WORDS))];
    }
    switch (r.below(8)) {
    case 0: t += " \"so he said\"."; break;
    case 1: t += " (see C:\\temp\\notes)."; break;
    default: t += "."; break;
    }
    t += r.below(5) == 0 ? "\n" : " ";
}

void add_number(std::string &t, uint64_t v, int width) {
    char digits[24];
    snprintf(digits, sizeof digits, "%0*llu", width, static_cast<unsigned long long>(v));
    t += digits;
}

void add_log_line(std::string &t, Rng &r) {
    add_number(t, 2020 + r.below(6), 4);
    t += '-';
    add_number(t, 1 + r.below(12), 2);
    t += '-';
    add_number(t, 1 + r.below(28), 2);
    t += ' ';
    add_number(t, r.below(24), 2);
    t += ':';
    add_number(t, r.below(60), 2);
    t += ':';
    add_number(t, r.below(60), 2);
    t += ' ';
    t += HOSTS[r.below(std::size(HOSTS))];
    t += " sshd[";
    add_number(t, 100 + r.below(30000), 1);
    t += "]:\taccepted key for ";
    t += USERS[r.below(std::size(USERS))];
    t += " from 10.0.";
    add_number(t, r.below(256), 1);
    t += '.';
    add_number(t, r.below(256), 1);
    if (r.below(3) == 0) {
        t += " mail ";
        t += USERS[r.below(std::size(USERS))];
        t += '@';
        t += DOMAINS[r.below(std::size(DOMAINS))];
        t += r.below(4) == 0 ? ".org" : ".com";
    }
    t += " status=";
    add_number(t, r.below(2) == 0 ? 200 : 404, 1);
    t += '\n';
}

/* Paragraphs of prose between runs of log lines, until size bytes. */
std::string build_corpus(size_t size) {
    Rng r;
    std::string t;
    t.reserve(size + 256);
    while (t.size() < size) {
        size_t prose = 2 + r.below(6), logs = 1 + r.below(8);
        for (size_t i = 0; i < prose; i++) add_sentence(t, r);
        t += '\n';
        for (size_t i = 0; i < logs; i++) add_log_line(t, r);
    }
    t.resize(size);
    return t;
}

/* The file's first size bytes, NUL bytes made spaces; false when unreadable. */
bool read_corpus(const char *path, size_t size, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string t(size, '\0');
    in.read(&t[0], static_cast<std::streamsize>(size));
    t.resize(static_cast<size_t>(in.gcount()));
    std::replace(t.begin(), t.end(), '\0', ' ');
    *out = std::move(t);
    return true;
}

/* ---- the peer: PCRE2 and a few lines of JSON writing -------------------------- */

/* Appends the bytes escaped by the library's rules: '"' and '\' take a
 * backslash, LF CR TAB become \n \r \t, other bytes below 0x20 \u00xx in
 * lower-case hex, every other byte (0x7F and 0x80..0xFF too) unchanged. */
void put_escaped(std::string &out, const char *p, size_t len) {
    static const char hex[] = "0123456789abcdef";
    size_t run = 0;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(p + run, i - run);
        run = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            const char u[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.append(u, 6);
        }
        }
    }
    out.append(p + run, len - run);
}

void put_quoted(std::string &out, const char *p, size_t len) {
    out += '"';
    put_escaped(out, p, len);
    out += '"';
}

void put_int(std::string &out, size_t v) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, v);
    out.append(digits, r.ptr);
}

struct Peer {
    pcre2_code *code = nullptr;
    pcre2_match_data *md = nullptr;
    pcre2_compile_context *cc = nullptr;
    bool single = false; /* a leading "^": one search only, as the library does */
};

bool peer_open(Peer *p, const char *pattern) {
    p->cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(p->cc, PCRE2_NEWLINE_LF);
    int err = 0;
    PCRE2_SIZE at = 0;
    p->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                            PCRE2_NEVER_UTF | PCRE2_NEVER_UCP, &err, &at, p->cc);
    if (p->code == nullptr) return false;
    if (pcre2_jit_compile(p->code, PCRE2_JIT_COMPLETE) != 0) return false;
    p->md = pcre2_match_data_create_from_pattern(p->code, nullptr);
    p->single = pattern[0] == '^';
    return p->md != nullptr;
}

void peer_close(Peer *p) {
    pcre2_match_data_free(p->md);
    pcre2_code_free(p->code);
    pcre2_compile_context_free(p->cc);
}

/* Calls on_match(ovector, pairs) for every match in the library's order;
 * the number of matches, or a negative PCRE2 error code. */
template <typename OnMatch>
long peer_enumerate(const Peer &p, const std::string &text, bool jit, OnMatch on_match) {
    PCRE2_SPTR subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    size_t n = text.size(), offset = 0;
    long count = 0;
    for (;;) {
        int rc = jit ? pcre2_jit_match(p.code, subject, n, offset, 0, p.md, nullptr)
                     : pcre2_match(p.code, subject, n, offset, PCRE2_NO_JIT, p.md, nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) break;
        if (rc < 0) return rc;
        const PCRE2_SIZE *ov = pcre2_get_ovector_pointer(p.md);
        on_match(ov, rc);
        count++;
        if (p.single) break;
        offset = ov[1] == ov[0] ? ov[1] + 1 : ov[1];
        if (offset > n) break;
    }
    return count;
}

/* The answer rx_test gives, written from PCRE2's matches. */
long peer_test(const Peer &p, const std::string &text, std::string *out) {
    std::string &o = *out;
    o = "{\"matches\":[";
    const char *t = text.data();
    long count = peer_enumerate(p, text, true, [&](const PCRE2_SIZE *ov, int pairs) {
        if (o.back() != '[') o += ',';
        o += "{\"start\":";
        put_int(o, ov[0]);
        o += ",\"end\":";
        put_int(o, ov[1]);
        o += ",\"text\":";
        put_quoted(o, t + ov[0], ov[1] - ov[0]);
        o += ",\"groups\":[";
        bool listed = false;
        for (int g = 1; g < pairs; g++) {
            if (ov[2 * g] == PCRE2_UNSET) continue;
            o += listed ? ",{\"index\":" : "{\"index\":";
            put_int(o, static_cast<size_t>(g));
            o += ",\"start\":";
            put_int(o, ov[2 * g]);
            o += ",\"end\":";
            put_int(o, ov[2 * g + 1]);
            o += ",\"text\":";
            put_quoted(o, t + ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
            o += '}';
            listed = true;
        }
        o += "]}";
    });
    o += "]}";
    return count;
}

/* The answer rx_replace_preview gives: every match replaced by the literal
 * replacement, the result escaped as it is written. */
long peer_replace(const Peer &p, const std::string &text, const char *replacement, std::string *out) {
    std::string &o = *out;
    o = "{\"result\":\"";
    std::string escaped_replacement;
    put_escaped(escaped_replacement, replacement, strlen(replacement));
    size_t copied = 0;
    long count = peer_enumerate(p, text, true, [&](const PCRE2_SIZE *ov, int) {
        put_escaped(o, text.data() + copied, ov[0] - copied);
        o += escaped_replacement;
        copied = ov[1];
    });
    put_escaped(o, text.data() + copied, text.size() - copied);
    o += "\",\"count\":";
    put_int(o, static_cast<size_t>(count < 0 ? 0 : count));
    o += '}';
    return count;
}

long peer_count(const Peer &p, const std::string &text) {
    return peer_enumerate(p, text, false, [](const PCRE2_SIZE *, int) {});
}

/* ---- the rows --------------------------------------------------------------- */

struct Result {
    std::vector<double> ours, jit, interp; /* milliseconds, one per run */
    long matches = 0;
    std::string failure; /* our error text when a call failed */
    bool same = true;
};

/* Prints where two answers part, loudly. */
void report_mismatch(const char *what, const Row &row, const std::string &ours, const std::string &peer) {
    size_t at = 0;
    while (at < ours.size() && at < peer.size() && ours[at] == peer[at]) at++;
    size_t from = at > 60 ? at - 60 : 0;
    fprintf(stderr,
            "\n*** MISMATCH (%s, row \"%s\", pattern %s): the answers part at byte %zu "
            "(ours %zu bytes, PCRE2 %zu bytes)\n    ours: ...%s\n    PCRE2: ...%s\n\n",
            what, row.name, row.pattern, at, ours.size(), peer.size(), ours.substr(from, 120).c_str(),
            peer.substr(from, 120).c_str());
}

/* Records one timed call of ours; its answer is kept from the first run
 * only (the copy is not timed). */
void record_ours(Result *r, const char *answer, double ms, bool first, std::string *keep) {
    r->ours.push_back(ms);
    if (answer == nullptr) r->failure = rx_last_error();
    if (first && answer != nullptr) *keep = answer;
}

Result run_test_row(const Row &row, const std::string &text, int reps, const Peer &peer) {
    Result r;
    std::string ours, theirs;
    long counted = 0;
    for (int i = 0; i < reps; i++) {
        double t0 = now_ms();
        const char *answer = rx_test(row.pattern, text.c_str());
        double t1 = now_ms();
        benchmark::DoNotOptimize(answer);
        record_ours(&r, answer, t1 - t0, i == 0, &ours);
        t0 = now_ms();
        r.matches = peer_test(peer, text, &theirs);
        r.jit.push_back(now_ms() - t0);
        t0 = now_ms();
        counted = peer_count(peer, text);
        r.interp.push_back(now_ms() - t0);
        benchmark::DoNotOptimize(counted);
    }
    if (counted != r.matches) {
        fprintf(stderr,
                "\n*** MISMATCH (row \"%s\"): PCRE2's interpreter counts %ld matches, its JIT %ld\n\n",
                row.name, counted, r.matches);
        r.same = false;
    }
    if (r.failure.empty() && ours != theirs) {
        report_mismatch("rx_test", row, ours, theirs);
        r.same = false;
    }
    return r;
}

Result run_replace_row(const Row &row, const std::string &text, int reps, const Peer &peer) {
    Result r;
    std::string ours, theirs;
    for (int i = 0; i < reps; i++) {
        double t0 = now_ms();
        const char *answer = rx_replace_preview(row.pattern, text.c_str(), REPLACEMENT);
        double t1 = now_ms();
        benchmark::DoNotOptimize(answer);
        record_ours(&r, answer, t1 - t0, i == 0, &ours);
        t0 = now_ms();
        r.matches = peer_replace(peer, text, REPLACEMENT, &theirs);
        r.jit.push_back(now_ms() - t0);
    }
    if (r.failure.empty() && ours != theirs) {
        report_mismatch("rx_replace_preview", row, ours, theirs);
        r.same = false;
    }
    return r;
}

/* The pattern as a Markdown table cell. */
std::string cell(const char *pattern) {
    std::string c = "`";
    for (const char *p = pattern; *p != '\0'; p++) c += *p == '|' ? std::string("\\|") : std::string(1, *p);
    return c + "`";
}

struct Geo {
    double log_sum = 0;
    int rows = 0;
    void add(double ratio) {
        log_sum += std::log(ratio);
        rows++;
    }
    double mean() const { return rows > 0 ? std::exp(log_sum / rows) : 0; }
};

/* Runs every row of one export and prints its table; false on a mismatch. */
bool table(bool replace, const std::string &text, int reps, const std::string &only) {
    if (replace)
        printf("\nrx_replace_preview (replacement \"%s\"), medians of %d runs, ms of %s\n\n"
               "| row | pattern | matches | rx_replace_preview | PCRE2-JIT + substitution + JSON | ratio |\n"
               "|---|---|---:|---:|---:|---:|\n",
               REPLACEMENT, reps, clock_name());
    else
        printf("\nrx_test, medians of %d runs, ms of %s\n\n"
               "| row | pattern | matches | rx_test | PCRE2-JIT + JSON | ratio | PCRE2 interpreter, count "
               "only | ratio |\n"
               "|---|---|---:|---:|---:|---:|---:|---:|\n",
               reps, clock_name());
    bool all_same = true;
    Geo jit, interp;
    for (const Row &row : ROWS) {
        if (std::string(row.name).find(only) == std::string::npos) continue;
        Peer peer;
        if (!peer_open(&peer, row.pattern)) {
            fprintf(stderr, "*** PCRE2 cannot compile %s\n", row.pattern);
            peer_close(&peer);
            all_same = false;
            continue;
        }
        Result r = replace ? run_replace_row(row, text, reps, peer) : run_test_row(row, text, reps, peer);
        peer_close(&peer);
        all_same = all_same && r.same;
        double ours = median(r.ours), j = median(r.jit);
        std::string mark = r.same ? "" : " MISMATCH";
        if (!r.failure.empty()) {
            printf("| %s | %s | %ld | fails (%s) after %.1f | %.2f | - |", row.name,
                   cell(row.pattern).c_str(), r.matches, r.failure.c_str(), ours, j);
        } else {
            printf("| %s | %s | %ld | %.2f | %.2f | %.2f |", row.name, cell(row.pattern).c_str(), r.matches,
                   ours, j, j / ours);
            jit.add(j / ours);
        }
        if (!replace) {
            double i = median(r.interp);
            if (r.failure.empty()) {
                printf(" %.2f | %.2f |", i, i / ours);
                interp.add(i / ours);
            } else {
                printf(" %.2f | - |", i);
            }
        }
        printf("%s\n", mark.c_str());
        fflush(stdout);
    }
    printf("\nGeometric mean of peer time / our time over the %d rows that answer: PCRE2-JIT %.2f", jit.rows,
           jit.mean());
    if (!replace) printf(", PCRE2 interpreter %.2f", interp.mean());
    printf("\n");
    return all_same;
}

/* ---- validation and generation --------------------------------------------------- */

struct Call {
    const char *name;
    const char *input;
    bool generate;
};
const Call CALLS[] = {
    {"rx_validate", "zebra", false},
    {"rx_validate", "(\\w+)@(\\w+)\\.com", false},
    {"rx_validate", "^(\\w+)@([a-z0-9-]+)(\\.[a-z]{2,})+$", false},
    {"rx_validate", "(?i)(?:apple|banana|cherry|grape|lemon)s?\\b", false},
    {"rx_validate", "(a(b", false},
    {"rx_generate", "[\"2023-12-01\",\"2024-01-15\",\"1999-07-04\",\"2000-02-29\"]", true},
    {"rx_generate", "[\"id-7.txt\",\"id-x-9.txt\",\"id-x-10.txt\",\"id-y.txt\"]", true},
    {"rx_generate", "[\"user_1\",\"admin_22\",\"guest\"]", true},
    {"rx_generate", "[\"ann@example.com\",\"bob42@mail.org\",\"carol.x@corp.net\"]", true},
    {"rx_generate", "[\"GET /index.html 200\",\"POST /api/v1/items 201\",\"GET /favicon.ico 404\"]", true},
};

/* 1 when the call failed. */
int call_once(const Call &c) {
    const char *answer = c.generate ? rx_generate(c.input) : rx_validate(c.input);
    benchmark::DoNotOptimize(answer);
    return answer != nullptr ? 0 : 1;
}

/* Microseconds per call: batches of about 20 ms, the median of reps. */
void small_calls(int reps) {
    printf("\nrx_validate and rx_generate, medians of %d batches, microseconds of %s per call\n\n"
           "| call | input | us per call |\n|---|---|---:|\n",
           reps, clock_name());
    for (const Call &c : CALLS) {
        long batch = 0, failed = 0;
        double t0 = now_ms();
        while (now_ms() - t0 < 20) {
            failed += call_once(c);
            batch++;
        }
        std::vector<double> per_call;
        for (int i = 0; i < reps; i++) {
            t0 = now_ms();
            for (long k = 0; k < batch; k++) failed += call_once(c);
            per_call.push_back((now_ms() - t0) * 1000.0 / static_cast<double>(batch));
        }
        printf("| %s | %s | %.2f |%s\n", c.name, cell(c.input).c_str(), median(per_call),
               failed > 0 ? (std::string(" fails: ") + rx_last_error()).c_str() : "");
    }
}

/* ---- the worst case: every byte a match ---------------------------------------------- */

int worst_case(const std::string &which, size_t size, bool peer_side) {
    bool group = which == "group";
    if (!group && which != "dot") {
        fprintf(stderr, "bench_peers: --worst takes dot or group\n");
        return 2;
    }
    const char *pattern = group ? "(\\w)" : ".";
    std::string text(size, group ? 'a' : 'x');
    double w0 = wall_ms(), c0 = cpu_ms(), wall = 0, cpu = 0;
    size_t answer_bytes = 0;
    if (peer_side) {
        Peer p;
        if (!peer_open(&p, pattern)) return 1;
        std::string answer;
        peer_test(p, text, &answer);
        wall = wall_ms() - w0;
        cpu = cpu_ms() - c0;
        answer_bytes = answer.size();
        peer_close(&p);
    } else {
        const char *answer = rx_test(pattern, text.c_str());
        wall = wall_ms() - w0;
        cpu = cpu_ms() - c0;
        if (answer == nullptr) {
            printf("rx_test(\"%s\") over %zu bytes fails: %s\n", pattern, size, rx_last_error());
            return 1;
        }
        answer_bytes = strlen(answer);
    }
    printf("%s(\"%s\") over %zu bytes: %.3f s wall-clock, %.3f s CPU, answer %zu bytes\n",
           peer_side ? "PCRE2-JIT + JSON" : "rx_test", pattern, size, wall / 1000.0, cpu / 1000.0,
           answer_bytes);
    return 0;
}

/* A byte count with an optional k or m suffix (KiB, MiB); 0 when malformed. */
size_t parse_size(const char *s) {
    char *end = nullptr;
    unsigned long long v = strtoull(s, &end, 10);
    if (end == s) return 0;
    if (*end == 'k' || *end == 'K')
        v <<= 10, end++;
    else if (*end == 'm' || *end == 'M')
        v <<= 20, end++;
    return *end == '\0' ? static_cast<size_t>(v) : 0;
}

} /* namespace */

int main(int argc, char **argv) {
    size_t size = 0;
    int reps = 5;
    bool peer_side = false;
    std::string worst, only, corpus_out;
    const char *file = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a.rfind("--size=", 0) == 0) {
            size = parse_size(argv[i] + 7);
            if (size == 0) return fprintf(stderr, "bench_peers: bad size %s\n", argv[i] + 7), 2;
        } else if (a.rfind("--reps=", 0) == 0) {
            reps = std::max(1, atoi(argv[i] + 7));
        } else if (a.rfind("--worst=", 0) == 0) {
            worst = a.substr(8);
        } else if (a.rfind("--row=", 0) == 0) {
            only = a.substr(6);
        } else if (a.rfind("--write-corpus=", 0) == 0) {
            corpus_out = a.substr(15);
        } else if (a == "--wall") {
            g_wall_clock = true;
        } else if (a == "--peer") {
            peer_side = true;
        } else if (a.rfind("--", 0) == 0 || file != nullptr) {
            fprintf(stderr, "usage: bench_peers [--size=BYTES] [--reps=N] [--row=WORDS] [--wall] [FILE]\n"
                            "       bench_peers --write-corpus=OUT [--size=BYTES] [FILE]\n"
                            "       bench_peers --worst=dot|group [--size=BYTES] [--peer]\n");
            return 2;
        } else {
            file = argv[i];
        }
    }
    if (!worst.empty()) return worst_case(worst, size != 0 ? size : WORST_SIZE, peer_side);
    if (size == 0) size = DEFAULT_SIZE;

    std::string text;
    if (file != nullptr) {
        if (!read_corpus(file, size, &text)) return fprintf(stderr, "bench_peers: cannot read %s\n", file), 2;
        printf("Corpus: %zu bytes of %s (NUL bytes made spaces)\n", text.size(), file);
    } else {
        text = build_corpus(size);
        printf("Corpus: %zu bytes of the built-in English-and-log-like text\n", text.size());
    }
    if (!corpus_out.empty()) {
        std::ofstream out(corpus_out, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return out.good() ? 0 : (fprintf(stderr, "bench_peers: cannot write %s\n", corpus_out.c_str()), 2);
    }
    bool same = table(false, text, reps, only);
    same = table(true, text, reps, only) && same;
    if (only.empty()) small_calls(reps);
    if (!same) {
        printf("\n*** Some answers differ from PCRE2's: see the MISMATCH lines above.\n");
        return 1;
    }
    printf("\nEvery answer is byte-identical to PCRE2's.\n");
    return 0;
}
