/* The lint, the explanation and the pattern warnings of the command-line
 * host (see cli_lint.h). The findings come from the library's analysis
 * (src/rx_analysis.h), which works on the parser's tree: the host reads no
 * pattern syntax of its own. */
#include "cli_lint.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli_common.h"
#include "cli_markers.h"
#include "rx_analysis.h"

namespace cli {
namespace {

const char LINE_FEED_SYMBOL[] = "\xE2\x8F\x8E"; /* how a raw line feed is shown */

/* The pattern for people, and in cols the column each of its bytes starts
 * at (cols[len]: the width of the whole): well-formed printable UTF-8 as it
 * stands, a line feed as its symbol, other control and stray bytes as \xHH. */
std::string shown(const std::string &p, std::vector<size_t> &cols) {
    std::string out;
    cols.clear();
    size_t col = 0;
    for (size_t i = 0; i < p.size();) {
        const unsigned char b = static_cast<unsigned char>(p[i]);
        size_t len = 1, width = 1;
        std::string piece;
        if (b == '\n') {
            piece = LINE_FEED_SYMBOL;
        } else if (b >= 0x20 && b < 0x7f) {
            piece = std::string(1, static_cast<char>(b));
        } else if (b >= 0x80 && (len = utf8_sequence_length(p, i)) > 0) {
            piece = p.substr(i, len);
            width = static_cast<size_t>(utf8_display_width(p, i, len));
        } else {
            len = 1;
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            piece = hex;
            width = 4;
        }
        for (size_t k = 0; k < len; k++) cols.push_back(col);
        out += piece;
        col += width;
        i += len;
    }
    cols.push_back(col);
    return out;
}

/* The pattern and a line with ^~~ under bytes [start, end) (^ alone for an
 * empty span). */
void show_span(const char *pattern, size_t start, size_t end) {
    const std::string p(pattern);
    if (start > p.size()) start = p.size();
    if (end > p.size()) end = p.size();
    std::vector<size_t> cols;
    const std::string line = shown(p, cols);
    const size_t from = cols[start], to = cols[end];
    std::string marks(from, ' ');
    marks += '^';
    if (to > from + 1) marks += std::string(to - from - 1, '~');
    write_str(line + "\n" + marks + "\n");
}

/* A suggestion's pattern for people: a raw line feed as its symbol. */
std::string for_people(const char *s) {
    std::string out;
    for (; *s != '\0'; ++s) {
        if (*s == '\n')
            out += LINE_FEED_SYMBOL;
        else
            out += *s;
    }
    return out;
}

bool lint_or_report(const char *pattern, rx_lint *l) {
    if (rx_analysis_lint(pattern, l) != 0) {
        error("out of memory");
        return false;
    }
    return true;
}

} /* namespace */

void show_caret(const char *pattern, unsigned long long offset, const char *message) {
    show_span(pattern, static_cast<size_t>(offset), static_cast<size_t>(offset) + 1);
    write_str(std::string(message) + "\n");
}

int run_lint(const char *pattern, bool json) {
    if (json) {
        char *answer = rx_analysis_lint_json(pattern);
        if (answer == nullptr) {
            error("out of memory");
            return EXIT_ERROR;
        }
        const bool invalid = std::strncmp(answer, "{\"error\"", 8) == 0;
        const bool none = std::strcmp(answer, "{\"findings\":[]}") == 0;
        write_str(std::string(answer) + "\n");
        std::free(answer);
        if (!flush_stdout()) return EXIT_ERROR;
        return invalid ? EXIT_ERROR : none ? EXIT_MATCH : EXIT_NONE;
    }
    rx_lint l;
    if (!lint_or_report(pattern, &l)) return EXIT_ERROR;
    int status = EXIT_MATCH;
    if (l.invalid) {
        show_caret(pattern, l.error_offset, l.error);
        if (l.hint != nullptr) write_str(std::string("hint: ") + l.hint + "\n");
        status = EXIT_ERROR;
    } else if (l.count == 0) {
        write_str("no findings\n");
    } else {
        bool line_feed = false;
        for (uint32_t i = 0; i < l.count; i++) {
            const rx_finding &f = l.findings[i];
            if (i > 0) write_str("\n");
            show_span(pattern, f.start, f.end);
            write_str(std::string(f.effect) + " (" + f.code + "): " + f.message + "\n");
            for (int32_t k = 0; k < f.suggestion_count; k++) {
                const rx_suggestion &s = f.suggestions[k];
                line_feed = line_feed || std::strchr(s.pattern, '\n') != nullptr;
                write_str(std::string("  suggestion: ") + for_people(s.pattern) + "   (" + s.meaning + ")\n");
            }
        }
        if (line_feed)
            write_str(std::string("\n") + LINE_FEED_SYMBOL + " is a raw line feed byte in the pattern\n");
        status = EXIT_NONE;
    }
    rx_analysis_lint_free(&l);
    return flush_stdout() ? status : EXIT_ERROR;
}

int run_explain(const char *pattern, bool json) {
    if (json) {
        char *answer = rx_analysis_explain_json(pattern);
        if (answer == nullptr) {
            error("out of memory");
            return EXIT_ERROR;
        }
        const bool invalid = std::strncmp(answer, "{\"error\"", 8) == 0;
        write_str(std::string(answer) + "\n");
        std::free(answer);
        if (!flush_stdout()) return EXIT_ERROR;
        return invalid ? EXIT_ERROR : EXIT_MATCH;
    }
    rx_explain x;
    if (rx_analysis_explain(pattern, &x) != 0) {
        error("out of memory");
        return EXIT_ERROR;
    }
    int status = EXIT_MATCH;
    if (x.invalid) {
        show_caret(pattern, x.error_offset, x.error);
        status = EXIT_ERROR;
    } else {
        const std::string p(pattern);
        for (uint32_t i = 0; i < x.count; i++) {
            const rx_explain_node &e = x.nodes[i];
            std::vector<size_t> cols;
            const size_t n = e.end - e.start, cut = n > 60 ? 60 : n;
            std::string part = shown(p.substr(e.start, cut), cols) + (cut < n ? "..." : "");
            if (part.empty()) part = "(empty)";
            const size_t indent = 2 * static_cast<size_t>(e.depth < 32 ? e.depth : 32);
            write_str(std::string(indent, ' ') + part + "  " + e.kind + ": " + e.description + "\n");
        }
    }
    rx_analysis_explain_free(&x);
    return flush_stdout() ? status : EXIT_ERROR;
}

void warn_findings(const char *pattern) {
    rx_lint l;
    if (rx_analysis_lint(pattern, &l) != 0) return; /* out of memory: no warnings, the call says the rest */
    if (l.invalid && l.hint != nullptr) error("warning: pattern byte %u: %s", l.hint_start, l.hint);
    for (uint32_t i = 0; i < l.count; i++) {
        const rx_finding &f = l.findings[i];
        if (std::strcmp(f.effect, "note") == 0) continue;
        error("warning: pattern byte %u: %s", f.start, f.message);
    }
    rx_analysis_lint_free(&l);
}

} /* namespace cli */
