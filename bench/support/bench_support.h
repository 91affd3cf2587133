/* What the benchmark programs share: the clocks and the median, the texts
 * they search (the built-in English-and-log-like corpus, a file's first
 * bytes, the lines of a text), the dictionary words and the patterns made of
 * them, and the Markdown cells of their tables. */
#ifndef KRX_BENCH_SUPPORT_H
#define KRX_BENCH_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krx_bench {

/* ---- clocks ------------------------------------------------------------------ */

/* Times are the CPU time of the calling thread (kernel time for its page
 * faults included), so that other work on a shared machine does not count;
 * set_wall_clock(true) makes now_ms() read the wall clock instead. */
void set_wall_clock(bool wall);
double wall_ms();
double cpu_ms();
double now_ms();
const char *clock_name();
double median(std::vector<double> v);

/* The geometric mean of ratios. */
struct Geo {
    double log_sum = 0;
    int rows = 0;
    void add(double ratio);
    double mean() const;
};

/* ---- texts -------------------------------------------------------------------- */

/* A deterministic corpus of size bytes: paragraphs of English-like prose
 * (with "Holmes" and a few rare words in it) between runs of log lines. */
std::string build_corpus(size_t size);

/* The file's first size bytes, NUL bytes made spaces; false when unreadable. */
bool read_corpus(const char *path, size_t size, std::string *out);

/* The text repeated (and cut) to exactly size bytes. */
std::string repeat_to(const std::string &text, size_t size);

/* Up to count short texts of min_len to max_len bytes from the text, in its
 * order: its lines (without their line feed), a line longer than max_len
 * cut into pieces after a space (never inside a UTF-8 character). */
std::vector<std::string> short_texts(const std::string &text, size_t min_len, size_t max_len, size_t count);

/* ---- dictionary words --------------------------------------------------------- */

/* The word list that Debian's wamerican installs. */
extern const char *const DICTIONARY;

/* The words of the dictionary in its order, only those made of ASCII
 * letters when letters_only (no "Aaron's", no "éclair"); false when the
 * file cannot be read. */
bool dictionary_words(std::vector<std::string> *words, bool letters_only);

/* count words taken from words at an even stride (every k-th), joined by
 * '|': the same pattern for the same list. */
std::string every_kth_alternation(const std::vector<std::string> &words, size_t count);

/* The words from the first on, joined by '|', as many as fit in bytes. */
std::string alternation_up_to(const std::vector<std::string> &words, size_t bytes);

/* ---- tables ------------------------------------------------------------------- */

/* The pattern as a Markdown table cell: in backquotes, '|' escaped. */
std::string cell(const std::string &pattern);

/* A byte count with an optional k or m suffix (KiB, MiB); 0 when malformed. */
size_t parse_size(const char *s);

/* A byte count as "64 KiB", "10 MiB" or "50 B". */
std::string size_name(size_t bytes);

} /* namespace krx_bench */

#endif
