/* The search of grep (see cli_grep.h).
 *
 * The pattern is prepared once. A file is read by blocks into one buffer
 * that holds the lines not yet handled (and the few kept for -B), so memory
 * stays flat whatever the file's size; a line may hold up to the library's
 * text limit. Each line is one text, without its line feed, searched as
 * rx_test would search it: its own budget, every match enumerated, so its
 * answer (a match, none, or a refusal such as "backtracking limit reached")
 * is the library's. Only the lines that may hold a match are searched: the
 * engine reads a whole block with its prefilter (rx_engine_next_candidate)
 * and names the first line that may; the lines before it hold none. A last
 * line without a line feed counts as a line, and is written with one.
 *
 * Binary files, as GNU grep takes them: a file is binary from the block of
 * 98304 bytes (grep's read size) that holds its first NUL byte, that is,
 * for every line that ends in that block or later. There, NUL bytes end
 * lines too (they are turned into line feeds), and a selected line is not
 * written: "binary file matches" goes to standard error instead and the
 * file is left (counts and names are still given). -a reads such files as
 * text; -I takes their binary part for a part without a match. */
#include "cli_grep.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#  include <io.h>
#else
#  include <unistd.h>
#endif
#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

#include "cli_files.h"
#include "cli_grep_output.h"
#include "cli_grep_pattern.h"
#include "cli_lint.h"
#include "kelvaron_regex_internal.h"
#include "rx_match_win.h"
#include "rx_walk.h"

#if defined(_WIN32)
#  define krx_open _open
#  define krx_read _read
#  define krx_close _close
#  define KRX_O_BINARY _O_BINARY
#else
#  define krx_open open
#  define krx_read read
#  define krx_close close
#  define KRX_O_BINARY 0
#endif

namespace cli {
namespace {

#if defined(_WIN32)
/* Not called: on Windows every file is counted as it is read. */
long krx_pread(int, void *, size_t, uint64_t) { return -1; }
#else
long krx_pread(int fd, void *p, size_t n, uint64_t at) {
    return static_cast<long>(pread(fd, p, n, static_cast<off_t>(at)));
}
#endif

const uint64_t BINARY_BLOCK = 98304;       /* a file is binary from the block of its first NUL */
const size_t READ_SIZE = 4 * BINARY_BLOCK; /* bytes asked of each read (whole blocks) */
const size_t PAD = 64;                     /* readable bytes kept after the data */
const uint64_t NOT_BINARY = ~uint64_t(0);

/* What is written for the selected lines. */
enum class Mode { LINES, COUNT, LIST_WITH, LIST_WITHOUT, QUIET };

/* Line feeds among the n bytes at p. */
uint64_t count_line_feeds(const char *p, size_t n) {
    uint64_t count = 0;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    while (i + 64 <= n) {
        /* 63 rounds of 4 blocks at most, so that no lane of a sum passes 252 */
        __m128i a = _mm_setzero_si128(), b = _mm_setzero_si128();
        for (size_t k = 0; k < 63 && i + 64 <= n; ++k, i += 64) {
            const __m128i *q = reinterpret_cast<const __m128i *>(p + i);
            a = _mm_sub_epi8(a, _mm_cmpeq_epi8(_mm_loadu_si128(q), lf));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi8(_mm_loadu_si128(q + 1), lf));
            a = _mm_sub_epi8(a, _mm_cmpeq_epi8(_mm_loadu_si128(q + 2), lf));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi8(_mm_loadu_si128(q + 3), lf));
        }
        const __m128i sums =
            _mm_add_epi64(_mm_sad_epu8(a, _mm_setzero_si128()), _mm_sad_epu8(b, _mm_setzero_si128()));
        count += static_cast<uint64_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    for (; i < n; ++i) count += p[i] == '\n';
    return count;
}

/* The start of the line that holds offset at, not before floor. */
size_t line_start(const char *data, size_t floor, size_t at) {
#if defined(__GLIBC__)
    const void *lf = at > floor ? memrchr(data + floor, '\n', at - floor) : nullptr;
    return lf != nullptr ? static_cast<size_t>(static_cast<const char *>(lf) - data) + 1 : floor;
#else
    while (at > floor && data[at - 1] != '\n') --at;
    return at;
#endif
}

/* The run: the prepared pattern, the output, and what the files gave. */
struct Grep {
    const GrepOptions &opt;
    Mode mode = Mode::LINES;
    rx_prog prog;
    bool prepared = false;
    bool match_nothing = false; /* no pattern (-f of an empty file): no line matches */
    GrepOutput out;
    bool spans_wanted = false;
    std::vector<Span> spans;         /* the matches of the line searched last */
    std::vector<Span> context_spans; /* those of a context line searched again */
    bool selected_any = false;
    bool failed = false;
    bool stop = false; /* -q selected a line: no more files */

    Grep(const GrepOptions &o, bool color) : opt(o), out(o, color) {}
    ~Grep() {
        if (prepared) rx_engine_release(&prog);
    }
    Grep(const Grep &) = delete;
    Grep &operator=(const Grep &) = delete;
};

/* The answer of one line of n bytes at text, as rx_test gives it: 1 a
 * match, 0 none, a negative engine failure, or LINE_TOO_LONG. The matches
 * are kept in spans, when given. */
const int LINE_TOO_LONG = -100;

int search_line(Grep &g, const char *text, size_t n, std::vector<Span> *spans) {
    if (spans != nullptr) spans->clear();
    if (g.match_nothing) return 0;
    if (n > RX_TEXT_LIMIT) return LINE_TOO_LONG;
    rx_engine_arm(&g.prog, n);
    rx_walk walk;
    rx_walk_start(&walk, &g.prog, text, n);
    rx_caps work;
    rx_caps *caps = g.prog.groups > 0 ? &work : nullptr; /* recorded as rx_test records them */
    uint64_t s = 0, e = 0;
    int found = 0, r;
    while ((r = rx_walk_next(&walk, &s, &e, caps)) == RX_FOUND) {
        found = 1;
        if (spans != nullptr) spans->push_back(Span{s, e});
    }
    return r < 0 ? r : found;
}

/* The buffer of one file: data[0, len) holds the bytes from file offset
 * base on, and PAD readable bytes follow them. */
struct Buffer {
    char *data = nullptr;
    size_t cap = 0;
    size_t len = 0;
    uint64_t base = 0;
    ~Buffer() { std::free(data); }
    Buffer() = default;
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    /* Room for more bytes after len; false when memory ran out. */
    bool reserve(size_t more) {
        if (len + more + PAD <= cap) return true;
        size_t room = cap == 0 ? READ_SIZE + PAD : cap;
        while (room < len + more + PAD) room *= 2;
        char *block = static_cast<char *>(std::realloc(data, room));
        if (block == nullptr) return false;
        data = block;
        cap = room;
        return true;
    }
};

/* One file being searched. Offsets are offsets into the buffer. */
struct Scan {
    Grep &g;
    const InputFile &file;
    bool show_name;
    int fd;
    Buffer buf;
    bool eof = false;
    size_t pos = 0;                    /* the start of the first line not handled yet */
    size_t counted = 0;                /* the line feeds before this offset ... */
    uint64_t lines_before = 0;         /* ... are counted here, with those before the buffer */
    bool lines_known = true;           /* lines_before holds (else it is counted again) */
    bool count_always = true;          /* count what leaves the buffer (else count on demand) */
    bool skipping = false;             /* in a line over the text limit, dropped up to its end */
    uint64_t binary_from = NOT_BINARY; /* file offset where the binary part begins */
    bool told_binary = false;
    unsigned long long selected = 0;
    bool done = false;        /* nothing more of this file is wanted */
    uint64_t last_out = 0;    /* the number of the line written last (0: none) */
    long long after_left = 0; /* context lines still to write after a selected line */
    bool trailing = false;    /* -m reached: only the context after it is left */

    Scan(Grep &grep, const InputFile &f, bool name, int d) : g(grep), file(f), show_name(name), fd(d) {}

    uint64_t line_number(size_t at) {
        if (!lines_known) recount();
        if (at > counted) {
            lines_before += count_line_feeds(buf.data + counted, at - counted);
            counted = at;
        }
        return lines_before + 1;
    }
    bool binary_line(size_t line_end) const { return buf.base + line_end >= binary_from; }
    GrepOutput::Place place(size_t ls, uint64_t number) const {
        return GrepOutput::Place{file.name, show_name, g.opt.line_numbers ? number : 0, buf.base + ls};
    }
    size_t line_end(size_t ls, size_t end) const {
        const void *lf = std::memchr(buf.data + ls, '\n', end - ls);
        return static_cast<size_t>(static_cast<const char *>(lf) - buf.data);
    }

    void recount();
    void report_line(size_t ls, int verdict);
    void write_context(size_t ls, size_t le, uint64_t number);
    void write_before(size_t ls, uint64_t number);
    void selected_line(size_t ls, size_t le, bool have_spans);
    void unselected_line(size_t ls, size_t le, bool have_spans);
    void known_unmatched(size_t to);
    void trailing_context(size_t end);
    void lines(size_t end);
    bool refill();
    size_t keep_from() const;
    void run();
};

/* The line feeds of the file before the buffer, read again: a file whose
 * line numbers are seldom wanted (only in a message) is not counted as it
 * is read, when it can be read again. From then on it is. The NUL bytes
 * that end lines in a binary file count too. */
void Scan::recount() {
    lines_before = 0;
    const bool nuls = g.opt.binary == BinaryMode::BINARY && binary_from != NOT_BINARY;
    char chunk[65536];
    for (uint64_t at = 0; at < buf.base;) {
        const size_t want = buf.base - at < sizeof chunk ? static_cast<size_t>(buf.base - at) : sizeof chunk;
        const long got = krx_pread(fd, chunk, want, at);
        if (got <= 0) break; /* the number is then short: only a message shows it */
        for (long k = 0; nuls && k < got; ++k)
            if (chunk[k] == '\0') chunk[k] = '\n';
        lines_before += count_line_feeds(chunk, static_cast<size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    counted = 0;
    lines_known = true;
    count_always = true;
}

void Scan::report_line(size_t ls, int verdict) {
    g.failed = true;
    const unsigned long long number = line_number(ls);
    if (verdict == LINE_TOO_LONG)
        error("%s:%llu: text exceeds %d bytes", file.name.c_str(), number, RX_TEXT_LIMIT);
    else
        error("%s:%llu: %s", file.name.c_str(), number, rx_engine_last_error());
}

/* A context line (one not selected) with its number. Under -v such a line
 * holds matches, which the colours and -o show, as for grep, and which are
 * found again here (not without -v: not after -m's last line either). */
void Scan::write_context(size_t ls, size_t le, uint64_t number) {
    if (binary_line(le)) return;
    bool have_spans = false;
    if (g.opt.invert && g.spans_wanted)
        have_spans = search_line(g, buf.data + ls, le - ls, &g.context_spans) == 1;
    if (g.opt.context && (last_out == 0 || number > last_out + 1)) g.out.group_break();
    g.out.line(place(ls, number), buf.data + ls, le - ls, false, have_spans ? &g.context_spans : nullptr);
    last_out = number;
}

/* The -B lines before the selected line at ls (number), after the last one
 * written; they are still in the buffer (keep_from). */
void Scan::write_before(size_t ls, uint64_t number) {
    uint64_t want = static_cast<uint64_t>(g.opt.before);
    if (want > number - 1 - last_out) want = number - 1 - last_out;
    size_t start = ls, k = 0;
    while (k < want && start > 0) {
        size_t s = start - 1; /* the line feed that ends the line before */
        while (s > 0 && buf.data[s - 1] != '\n') --s;
        start = s;
        ++k;
    }
    for (size_t at = start; k > 0; --k) {
        const size_t le = line_end(at, ls);
        write_context(at, le, number - k);
        at = le + 1;
    }
}

void Scan::selected_line(size_t ls, size_t le, bool have_spans) {
    if (binary_line(le) && g.mode == Mode::LINES) {
        if (!told_binary) error("%s: binary file matches", file.name.c_str());
        told_binary = true;
        g.out.stands_for_lines(); /* as for grep, the message stands for written lines */
        done = true;
        return;
    }
    ++selected;
    const bool last = g.opt.max_count >= 0 && selected >= static_cast<unsigned long long>(g.opt.max_count);
    switch (g.mode) {
    case Mode::QUIET:
        g.stop = true;
        done = true;
        return;
    case Mode::LIST_WITH: g.out.file_name(file.name); /* fall through */
    case Mode::LIST_WITHOUT: done = true; return;
    case Mode::COUNT: done = last; return;
    case Mode::LINES: break;
    }
    const uint64_t number = line_number(ls);
    if (g.opt.before > 0) write_before(ls, number);
    if (g.opt.context && (last_out == 0 || number > last_out + 1)) g.out.group_break();
    g.out.line(place(ls, number), buf.data + ls, le - ls, true, have_spans ? &g.spans : nullptr);
    last_out = number;
    after_left = g.opt.after;
    if (last) {
        trailing = after_left > 0;
        done = !trailing;
    }
}

void Scan::unselected_line(size_t ls, size_t le, bool have_spans) {
    if (after_left <= 0 || g.mode != Mode::LINES) return;
    --after_left;
    if (binary_line(le)) return;
    const uint64_t number = line_number(ls);
    if (g.opt.context && (last_out == 0 || number > last_out + 1)) g.out.group_break();
    g.out.line(place(ls, number), buf.data + ls, le - ls, false, have_spans ? &g.spans : nullptr);
    last_out = number;
}

/* The lines in [pos, to) hold no match: under -v each is selected;
 * otherwise only the context after a selected line wants some of them.
 * A line over the text limit, which rx_test would refuse, is refused here
 * too (only a stretch longer than the limit can hold one). Moves pos to
 * to, or to where -m or the file's end stopped it. */
void Scan::known_unmatched(size_t to) {
    g.spans.clear();
    const bool long_lines = to - pos > RX_TEXT_LIMIT;
    while (pos < to && !done && !trailing && (g.opt.invert || after_left > 0 || long_lines)) {
        const size_t le = line_end(pos, to);
        if (le - pos > RX_TEXT_LIMIT) {
            report_line(pos, LINE_TOO_LONG);
            if (after_left > 0) --after_left; /* a line, though not one to write */
        } else if (g.opt.invert) {
            selected_line(pos, le, false);
        } else {
            unselected_line(pos, le, false);
        }
        pos = le + 1;
    }
    if (!done && !trailing) pos = to;
}

/* After -m's last line: its context, whatever the lines hold. */
void Scan::trailing_context(size_t end) {
    while (pos < end && after_left > 0) {
        const size_t le = line_end(pos, end);
        write_context(pos, le, line_number(pos));
        --after_left;
        pos = le + 1;
    }
    if (after_left <= 0) done = true;
}

/* Handles the whole lines in [pos, end) (buf.data[end - 1] is a line feed). */
void Scan::lines(size_t end) {
    while (pos < end && !done) {
        if (trailing) {
            trailing_context(end);
            return;
        }
        uint64_t r = end;
        if (!g.match_nothing)
            r = rx_engine_next_candidate(&g.prog, reinterpret_cast<const uint8_t *>(buf.data), end, pos);
        const size_t ls = r >= end ? end : line_start(buf.data, pos, static_cast<size_t>(r));
        if (ls > pos) known_unmatched(ls);
        if (pos < ls || done || trailing) continue; /* -m's last line came on the way */
        if (ls >= end) return;
        const size_t le = line_end(ls, end);
        const bool spans = g.spans_wanted;
        const int verdict = search_line(g, buf.data + ls, le - ls, spans ? &g.spans : nullptr);
        if (verdict < 0) {
            report_line(ls, verdict);
            unselected_line(ls, le, false);
        } else if ((verdict == 1) != g.opt.invert) {
            selected_line(ls, le, spans);
        } else {
            unselected_line(ls, le, spans && verdict == 1);
        }
        pos = le + 1;
    }
}

/* Where the bytes worth keeping begin: the line at pos, and the -B lines
 * before it (none across a line over the limit). */
size_t Scan::keep_from() const {
    size_t keep = pos;
    if (skipping) return keep;
    for (long long k = 0; k < g.opt.before && keep > 0; ++k) {
        size_t s = keep - 1;
        while (s > 0 && buf.data[s - 1] != '\n') --s;
        keep = s;
    }
    return keep;
}

/* Reads more of the file after dropping what is no longer needed. False
 * after a message when reading failed or memory ran out. */
bool Scan::refill() {
    const size_t keep = keep_from();
    if (keep > 0) {
        if (count_always)
            line_number(keep); /* count the line feeds that go */
        else
            lines_known = false;
        std::memmove(buf.data, buf.data + keep, buf.len - keep);
        buf.len -= keep;
        buf.base += keep;
        pos -= keep;
        counted -= keep;
    }
    if (!buf.reserve(READ_SIZE + 1)) {
        error("%s: out of memory", file.name.c_str());
        return false;
    }
    char *fresh = buf.data + buf.len;
    long got;
    do {
        got = static_cast<long>(krx_read(fd, fresh, static_cast<unsigned>(READ_SIZE)));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (!g.opt.no_messages) error("%s: %s", file.name.c_str(), std::strerror(errno));
        return false;
    }
    const size_t n = static_cast<size_t>(got);
    if (g.opt.binary != BinaryMode::TEXT) {
        const char *nul = static_cast<const char *>(std::memchr(fresh, '\0', n));
        if (nul != nullptr && binary_from == NOT_BINARY) {
            const uint64_t at = buf.base + static_cast<uint64_t>(nul - buf.data);
            binary_from = at - at % BINARY_BLOCK;
        }
        for (; nul != nullptr; nul = static_cast<const char *>(std::memchr(nul, '\0', n - (nul - fresh))))
            *const_cast<char *>(nul) = '\n';
    }
    buf.len += n;
    if (n == 0) {
        eof = true;
        if (buf.len > pos && buf.data[buf.len - 1] != '\n') buf.data[buf.len++] = '\n';
    }
    std::memset(buf.data + buf.len, 0, PAD);
    return true;
}

void Scan::run() {
    while (!done && !g.stop) {
        if (!eof && !refill()) {
            g.failed = true;
            return;
        }
        if (skipping) { /* the rest of a line over the limit */
            const void *lf = std::memchr(buf.data + pos, '\n', buf.len - pos);
            pos = lf != nullptr ? static_cast<size_t>(static_cast<const char *>(lf) - buf.data) + 1 : buf.len;
            skipping = lf == nullptr;
        }
        size_t end = line_start(buf.data, pos, buf.len); /* after the last whole line */
        bool last_part = false;
        if (g.opt.binary == BinaryMode::WITHOUT_MATCH && binary_from != NOT_BINARY) {
            /* only the lines that end before the binary part */
            size_t cut = binary_from > buf.base ? static_cast<size_t>(binary_from - buf.base) : 0;
            if (cut < end) {
                while (cut > pos && buf.data[cut - 1] != '\n') --cut;
                end = cut < pos ? pos : cut;
                last_part = true;
            }
        }
        if (end > pos) {
            lines(end);
        } else if (!skipping && buf.len - pos > RX_TEXT_LIMIT) {
            report_line(pos, LINE_TOO_LONG);
            if (after_left > 0) --after_left; /* a line, though not one to write */
            pos = buf.len;
            skipping = true;
        }
        if (last_part && !done) {
            /* -I: as for grep, a file found binary holds no match after all
             * (what was written stays written) */
            selected = 0;
            done = true;
        }
        if (eof && pos >= buf.len) break;
    }
}

/* A regular file, which pread can read again (not on Windows, where every
 * file is counted as it is read). */
bool can_read_again(int fd) {
#if defined(_WIN32)
    (void)fd;
    return false;
#else
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
#endif
}

Mode mode_of(const GrepOptions &opt) {
    if (opt.quiet) return Mode::QUIET;
    if (opt.list == ListMode::WITH_MATCH) return Mode::LIST_WITH;
    if (opt.list == ListMode::WITHOUT_MATCH) return Mode::LIST_WITHOUT;
    if (opt.count) return Mode::COUNT;
    return Mode::LINES;
}

/* Searches one file; false when the walk should end (-q). */
bool search_file(Grep &g, const InputFile &file) {
    const bool from_stdin = file.path == "-";
    const int fd = from_stdin ? 0 : krx_open(file.path.c_str(), O_RDONLY | KRX_O_BINARY);
    if (fd < 0) {
        g.failed = true;
        if (!g.opt.no_messages) error("%s: %s", file.path.c_str(), std::strerror(errno));
        return true;
    }
    const bool show_name = g.opt.with_filename == 1 ||
                           (g.opt.with_filename < 0 && (g.opt.files.size() > 1 || file.found_inside));
    Scan scan(g, file, show_name, fd);
    scan.count_always = g.opt.line_numbers || g.opt.context || !can_read_again(fd);
    if (g.opt.max_count != 0) scan.run();
    if (!from_stdin) krx_close(fd);
    if (scan.selected > 0 || scan.told_binary) g.selected_any = true;
    if (g.mode == Mode::COUNT) g.out.count(file.name, show_name, scan.selected);
    if (g.mode == Mode::LIST_WITHOUT && scan.selected == 0) g.out.file_name(file.name);
    return !g.stop;
}

} /* namespace */

int run_grep(const GrepOptions &opt) {
    /* lines go out in large writes, unless a terminal shows them as they come */
    static char out_buffer[1 << 16];
    if (!stdout_is_terminal()) std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    Grep g(opt, color_wanted(opt.color));
    g.mode = mode_of(opt);
    /* -m 0 reads nothing, as for grep: nothing is selected (only -L has
     * files to name, and goes through them); nor does -v with the one
     * pattern that matches every line, the empty one */
    const bool selects_none = opt.max_count == 0 || (opt.invert && opt.patterns.size() == 1 &&
                                                     opt.patterns[0].empty() && !opt.line && !opt.word);
    if (selects_none && g.mode != Mode::LIST_WITHOUT) return EXIT_NONE;
    if (!opt.fixed)
        for (const std::string &p : opt.patterns) warn_findings(p.c_str());
    g.match_nothing = opt.patterns.empty();
    if (!g.match_nothing) {
        std::string pattern;
        const int st = grep_pattern(opt, pattern);
        if (st >= 0) return st;
        char err[RX_SEARCH_ERR_SIZE];
        const int prepared = rx_engine_prepare(pattern.c_str(), &g.prog, err, sizeof err);
        if (prepared != 0) {
            if (prepared == RX_OUT_OF_MEMORY)
                error("out of memory");
            else
                error("invalid pattern: %s", err);
            return EXIT_ERROR;
        }
        g.prepared = true;
    }
    g.spans_wanted = g.mode == Mode::LINES && g.out.wants_spans();
    walk_inputs(
        opt, [&g](const InputFile &file) { return search_file(g, file); }, &g.failed);
    const bool written = flush_stdout();
    if (opt.quiet && g.selected_any) return EXIT_MATCH;
    if (g.failed || !written) return EXIT_ERROR;
    return g.selected_any ? EXIT_MATCH : EXIT_NONE;
}

} /* namespace cli */
