/* The grep subcommand (see cli_grep.h).
 *
 * Each line is one text for the library, without its line feed; a last line
 * without a line feed counts as a line. Input is read in blocks and cut into
 * lines, so memory holds one block and one line, whatever the file's size.
 * A line is kept up to one byte past the library's text limit: the library
 * then refuses it with its own message, and the rest of the line is skipped.
 * A line with a NUL byte is searched up to that byte only (the library takes
 * NUL-terminated strings); a note says so once per file. */
#include "cli_grep.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_answers.h"
#include "cli_lint.h"
#include "kelvaron_regex.h"

namespace cli {
namespace {

const size_t TEXT_LIMIT = 10485760; /* the library's limit on a text */
const char NO_MATCHES[] = "{\"matches\":[]}";

struct Grep {
    const GrepOptions &opt;
    const char *pattern;
    bool color;
    bool show_name = false;
    bool selected_any = false;
    bool failed = false;
    std::vector<MatchInfo> spans;
};

/* "name:" and "12:" in front of an output line, coloured as grep does.
 * A line_no of 0 stands for no number (the lines of -c). */
void write_prefix(const Grep &g, const char *name, unsigned long long line_no) {
    char num[32];
    std::snprintf(num, sizeof num, "%llu", line_no);
    const bool number = g.opt.line_numbers && line_no > 0;
    const char *parts[2] = {g.show_name ? name : nullptr, number ? num : nullptr};
    const char *colors[2] = {SGR_FILE, SGR_LINE};
    for (int k = 0; k < 2; ++k) {
        if (parts[k] == nullptr) continue;
        if (g.color) write_str(colors[k]);
        write_str(parts[k]);
        if (g.color) {
            write_str(SGR_RESET);
            write_str(SGR_SEP);
        }
        write_bytes(":", 1);
        if (g.color) write_str(SGR_RESET);
    }
}

void write_match_text(const Grep &g, const std::string &line, size_t s, size_t e) {
    if (g.color) write_str(SGR_MATCH);
    write_bytes(line.data() + s, e - s);
    if (g.color) write_str(SGR_RESET);
}

/* Prints a selected line (or its matches with -o) as grep does. */
void print_line(Grep &g, const char *name, unsigned long long line_no, const std::string &line,
                bool with_spans) {
    if (g.opt.only_matching) {
        for (const MatchInfo &m : g.spans) {
            if (m.start == m.end) continue; /* grep -o prints no empty matches */
            write_prefix(g, name, line_no);
            write_match_text(g, line, static_cast<size_t>(m.start), static_cast<size_t>(m.end));
            write_bytes("\n", 1);
        }
        return;
    }
    write_prefix(g, name, line_no);
    size_t at = 0;
    if (with_spans) {
        for (const MatchInfo &m : g.spans) {
            if (m.start == m.end) continue;
            write_bytes(line.data() + at, static_cast<size_t>(m.start) - at);
            write_match_text(g, line, static_cast<size_t>(m.start), static_cast<size_t>(m.end));
            at = static_cast<size_t>(m.end);
        }
    }
    write_bytes(line.data() + at, line.size() - at);
    write_bytes("\n", 1);
}

/* Searches one line. Returns 1 when it is selected, 0 when not, -1 when the
 * library refused it (reported here). */
int search_line(Grep &g, const char *name, unsigned long long line_no, const std::string &line) {
    const char *answer = rx_test(g.pattern, line.c_str());
    if (answer == nullptr) {
        error("%s:%llu: %s", name, line_no, rx_last_error());
        return -1;
    }
    const bool matched = std::strcmp(answer, NO_MATCHES) != 0;
    if (matched == g.opt.invert) return 0;
    /* Spans are wanted for -o, and for the colour of matched text. */
    const bool with_spans = !g.opt.invert && !g.opt.count && (g.opt.only_matching || g.color);
    g.spans.clear();
    if (with_spans && !read_test_spans(answer, g.spans)) {
        error("%s:%llu: cannot read the answer of rx_test", name, line_no);
        return -1;
    }
    if (!g.opt.count) print_line(g, name, line_no, line, with_spans);
    return 1;
}

/* Searches the stream f; name is how messages and prefixes call it. */
void grep_stream(Grep &g, std::FILE *f, const char *name) {
    char block[1 << 16];
    std::string line;
    unsigned long long line_no = 0, selected = 0;
    bool noted_nul = false, pending = false;
    for (;;) {
        const size_t got = std::fread(block, 1, sizeof block, f);
        for (size_t i = 0; i < got;) {
            const char *nl = static_cast<const char *>(std::memchr(block + i, '\n', got - i));
            const size_t end = nl != nullptr ? static_cast<size_t>(nl - block) : got;
            const size_t room = TEXT_LIMIT + 1 - line.size();
            const size_t take = end - i < room ? end - i : room;
            line.append(block + i, take);
            pending = true;
            i = end;
            if (nl == nullptr) break;
            ++i;
            ++line_no;
            if (!noted_nul && line.find('\0') != std::string::npos) {
                error("%s:%llu: note: the line holds a NUL byte; in such lines only the bytes "
                      "before the first NUL are searched",
                      name, line_no);
                noted_nul = true;
            }
            const int r = search_line(g, name, line_no, line);
            if (r < 0) g.failed = true;
            if (r > 0) ++selected;
            line.clear();
            pending = false;
        }
        if (got < sizeof block) break;
    }
    if (std::ferror(f)) {
        error("%s: %s", name, std::strerror(errno));
        g.failed = true;
    } else if (pending) { /* a last line without a line feed */
        const int r = search_line(g, name, ++line_no, line);
        if (r < 0) g.failed = true;
        if (r > 0) ++selected;
    }
    if (selected > 0) g.selected_any = true;
    if (g.opt.count) {
        write_prefix(g, name, 0);
        char num[32];
        std::snprintf(num, sizeof num, "%llu\n", selected);
        write_str(num);
    }
}

} /* namespace */

int run_grep(const GrepOptions &opt, const char *pattern, const std::vector<const char *> &files) {
    warn_findings(pattern);
    const char *verdict = rx_validate(pattern);
    bool ok = false;
    std::string reason;
    if (verdict == nullptr || !read_validate_answer(verdict, &ok, &reason)) {
        error("%s", rx_last_error());
        return EXIT_ERROR;
    }
    if (!ok) {
        error("invalid pattern: %s", reason.c_str());
        return EXIT_ERROR;
    }
    Grep g{opt, pattern, color_wanted(opt.color), false, false, false, {}};
    g.show_name = opt.with_filename == 1 || (opt.with_filename < 0 && files.size() > 1);
    std::vector<const char *> names = files;
    if (names.empty()) names.push_back("-");
    for (const char *path : names) {
        const bool from_stdin = std::strcmp(path, "-") == 0;
        const char *name = from_stdin ? "(standard input)" : path;
        std::FILE *f = from_stdin ? stdin : std::fopen(path, "rb");
        if (f == nullptr) {
            error("%s: %s", path, std::strerror(errno));
            g.failed = true;
            continue;
        }
        grep_stream(g, f, name);
        if (!from_stdin) std::fclose(f);
    }
    if (!flush_stdout()) return EXIT_ERROR;
    if (g.failed) return EXIT_ERROR;
    return g.selected_any ? EXIT_MATCH : EXIT_NONE;
}

} /* namespace cli */
