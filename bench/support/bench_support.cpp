/* The clocks, texts, dictionary patterns and table cells the benchmark
 * programs share (bench_support.h says what each gives). */
#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

namespace krx_bench {

/* ---- clocks ------------------------------------------------------------------ */

namespace {
bool g_wall_clock = false;
}

void set_wall_clock(bool wall) { g_wall_clock = wall; }

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
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void Geo::add(double ratio) {
    log_sum += std::log(ratio);
    rows++;
}

double Geo::mean() const { return rows > 0 ? std::exp(log_sum / rows) : 0; }

/* ---- texts -------------------------------------------------------------------- */

namespace {

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

} /* namespace */

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

std::string repeat_to(const std::string &text, size_t size) {
    std::string t;
    t.reserve(size);
    while (!text.empty() && t.size() < size) t.append(text, 0, std::min(text.size(), size - t.size()));
    return t;
}

std::vector<std::string> short_texts(const std::string &text, size_t min_len, size_t max_len, size_t count) {
    std::vector<std::string> texts;
    size_t at = 0;
    while (at < text.size() && texts.size() < count) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        while (end - at > max_len) { /* the piece up to the last space within max_len */
            size_t space = text.rfind(' ', at + max_len - 1);
            if (space == std::string::npos || space < at + min_len) break;
            if (texts.size() < count) texts.push_back(text.substr(at, space + 1 - at));
            at = space + 1;
        }
        if (end - at >= min_len && end - at <= max_len && texts.size() < count)
            texts.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return texts;
}

/* ---- dictionary words --------------------------------------------------------- */

const char *const DICTIONARY = "/usr/share/dict/american-english";

bool dictionary_words(std::vector<std::string> *words, bool letters_only) {
    std::ifstream in(DICTIONARY);
    if (!in) return false;
    words->clear();
    std::string line;
    while (std::getline(in, line)) {
        bool letters = !line.empty();
        for (unsigned char c : line) letters = letters && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
        if (!line.empty() && (letters || !letters_only)) words->push_back(line);
    }
    return !words->empty();
}

std::string every_kth_alternation(const std::vector<std::string> &words, size_t count) {
    std::string pattern;
    size_t k = std::max<size_t>(1, words.size() / std::max<size_t>(1, count));
    for (size_t i = 0, taken = 0; i < words.size() && taken < count; i += k, taken++) {
        if (!pattern.empty()) pattern += '|';
        pattern += words[i];
    }
    return pattern;
}

std::string alternation_up_to(const std::vector<std::string> &words, size_t bytes) {
    std::string pattern;
    for (const std::string &w : words) {
        size_t grown = pattern.size() + (pattern.empty() ? 0 : 1) + w.size();
        if (grown > bytes) break;
        if (!pattern.empty()) pattern += '|';
        pattern += w;
    }
    return pattern;
}

/* ---- tables ------------------------------------------------------------------- */

std::string cell(const std::string &pattern) {
    std::string c = "`";
    for (char ch : pattern) c += ch == '|' ? std::string("\\|") : std::string(1, ch);
    return c + "`";
}

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

std::string size_name(size_t bytes) {
    char s[32];
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        snprintf(s, sizeof s, "%zu MiB", bytes >> 20);
    else if (bytes >= 1024 && bytes % 1024 == 0)
        snprintf(s, sizeof s, "%zu KiB", bytes >> 10);
    else
        snprintf(s, sizeof s, "%zu B", bytes);
    return s;
}

} /* namespace krx_bench */
