/* grep's output (see cli_grep_output.h), byte for byte as GNU grep 3.8
 * writes it in the C locale:
 *   - a line: [name SEP][number SEP]text, SEP ':' for selected lines and '-'
 *     for context lines; -c: [name:]count; -l, -L: the name alone;
 *   - with colour, each coloured part is \33[<cap>m\33[K ... \33[m\33[K (no
 *     \33[K with ne): the name in fn, the number in ln, each separator and
 *     the group separator in se, matched text in ms (selected lines) or mc
 *     (context lines, where -v puts the lines that match), whole lines in
 *     sl or cx (swapped by rv under -v). A line colour starts again before
 *     the text ahead of each match (the match's end resets it) and closes
 *     after the text that follows the last, which excludes a carriage
 *     return before the line's end. */
#include "cli_grep_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cli {

namespace {

/* Reads GREP_COLORS: capabilities separated by ':', each NAME=VALUE or a
 * boolean NAME; mt sets ms and mc at once; unknown names are passed over. */
void read_colors_var(const char *caps, GrepColors &c) {
    struct Cap {
        const char *name;
        std::string GrepColors::*field;
    };
    static const Cap CAPS[] = {{"ms", &GrepColors::ms}, {"mc", &GrepColors::mc}, {"sl", &GrepColors::sl},
                               {"cx", &GrepColors::cx}, {"fn", &GrepColors::fn}, {"ln", &GrepColors::ln},
                               {"bn", &GrepColors::bn}, {"se", &GrepColors::se}};
    const char *p = caps;
    while (*p != '\0') {
        const char *item_end = std::strchr(p, ':');
        if (item_end == nullptr) item_end = p + std::strlen(p);
        const std::string item(p, static_cast<size_t>(item_end - p));
        const size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        if (eq == std::string::npos) {
            if (name == "rv") c.rv = true;
            if (name == "ne") c.ne = true;
        } else {
            const std::string value = item.substr(eq + 1);
            if (name == "mt") c.ms = c.mc = value;
            for (const Cap &cap : CAPS)
                if (name == cap.name) c.*cap.field = value;
        }
        p = *item_end == ':' ? item_end + 1 : item_end;
    }
}

} /* namespace */

GrepColors read_grep_colors() {
    GrepColors c;
    const char *old = std::getenv("GREP_COLOR");
    if (old != nullptr && *old != '\0') {
        error("warning: GREP_COLOR='%s' is deprecated; use GREP_COLORS='mt=%s'", old, old);
        c.ms = c.mc = old;
    }
    const char *caps = std::getenv("GREP_COLORS");
    if (caps != nullptr) read_colors_var(caps, c);
    return c;
}

GrepOutput::GrepOutput(const GrepOptions &opt, bool color) : opt_(opt), color_(color) {
    if (color_) colors_ = read_grep_colors();
}

bool GrepOutput::wants_spans() const {
    if (opt_.only_matching) return true;
    return color_ && !(opt_.invert ? colors_.mc : colors_.ms).empty();
}

void GrepOutput::start(const std::string &cap) {
    if (!color_ || cap.empty()) return;
    write_str("\033[");
    write_str(cap);
    write_str(colors_.ne ? "m" : "m\033[K");
}

void GrepOutput::end(const std::string &cap) {
    if (!color_ || cap.empty()) return;
    write_str(colors_.ne ? "\033[m" : "\033[m\033[K");
}

void GrepOutput::colored(const std::string &cap, const char *p, size_t n) {
    start(cap);
    write_bytes(p, n);
    end(cap);
}

void GrepOutput::number(const std::string &cap, uint64_t value, char sep) {
    char num[24];
    const int len = std::snprintf(num, sizeof num, "%llu", static_cast<unsigned long long>(value));
    colored(cap, num, static_cast<size_t>(len));
    colored(colors_.se, &sep, 1);
}

void GrepOutput::prefix(const Place &at, uint64_t offset, char sep) {
    if (at.show_name) {
        colored(colors_.fn, at.name.data(), at.name.size());
        colored(colors_.se, &sep, 1);
    }
    if (at.line_no > 0) number(colors_.ln, at.line_no, sep);
    if (opt_.byte_offsets) number(colors_.bn, offset, sep);
}

void GrepOutput::line(const Place &at, const char *text, size_t n, bool selected,
                      const std::vector<Span> *spans) {
    wrote_lines_ = true;
    const std::string &match_color = selected ? colors_.ms : colors_.mc;
    if (opt_.only_matching) {
        if (spans == nullptr) return;
        for (const Span &s : *spans) {
            if (s.start == s.end) continue; /* grep -o writes no empty match */
            prefix(at, at.offset + s.start, selected ? ':' : '-');
            colored(match_color, text + s.start, static_cast<size_t>(s.end - s.start));
            write_bytes("\n", 1);
        }
        return;
    }
    prefix(at, at.offset, selected ? ':' : '-');
    const bool swap = colors_.rv && opt_.invert;
    const std::string &line_color = selected != swap ? colors_.sl : colors_.cx;
    size_t done = 0; /* the bytes written */
    if (color_ && spans != nullptr && !match_color.empty()) {
        for (const Span &s : *spans) {
            if (s.start == s.end) continue;
            start(line_color);
            write_bytes(text + done, static_cast<size_t>(s.start) - done);
            colored(match_color, text + s.start, static_cast<size_t>(s.end - s.start));
            done = static_cast<size_t>(s.end);
        }
    }
    size_t tail_end = n;
    if (color_ && tail_end > done && text[tail_end - 1] == '\r') --tail_end;
    if (tail_end > done) colored(line_color, text + done, tail_end - done);
    write_bytes(text + tail_end, n - tail_end);
    write_bytes("\n", 1);
}

void GrepOutput::group_break() {
    if (!wrote_lines_ || !opt_.group_separators) return;
    colored(colors_.se, opt_.group_separator.data(), opt_.group_separator.size());
    write_bytes("\n", 1);
}

void GrepOutput::count(const std::string &name, bool show_name, unsigned long long count) {
    if (show_name) {
        colored(colors_.fn, name.data(), name.size());
        colored(colors_.se, ":", 1);
    }
    char num[24];
    const int len = std::snprintf(num, sizeof num, "%llu\n", count);
    write_bytes(num, static_cast<size_t>(len));
}

void GrepOutput::file_name(const std::string &name) {
    colored(colors_.fn, name.data(), name.size());
    write_bytes("\n", 1);
}

} /* namespace cli */
