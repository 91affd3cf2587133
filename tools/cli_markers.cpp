/* The marker view of the command-line host (see cli_markers.h).
 *
 * A line is laid out unit by unit: a unit is one well-formed printable UTF-8
 * character, shown as it stands and as wide as a terminal shows it, or one
 * byte shown by show_byte (itself, or an escape such as \t or \xHH, as wide
 * as that text). col[b] is the column where byte b's unit begins; a byte
 * inside a character takes no column of its own. A character that a match
 * boundary cuts is shown byte by byte as \xHH, so that the markers can point
 * between its bytes. */
#include "cli_markers.h"

#include <cstdint>
#include <cstdio>

#include "cli_common.h"

namespace cli {
namespace {

struct Range {
    uint32_t lo, hi;
};

/* Zero-width: combining marks, zero-width spaces and joiners, variation
 * selectors. */
const Range ZERO_WIDTH[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0670, 0x0670}, {0x06D6, 0x06DC}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

/* Wide: East Asian wide and full-width characters and the emoji blocks. */
const Range WIDE[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18AFF}, {0x1B000, 0x1B2FF}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <size_t N>
bool in_ranges(const Range (&ranges)[N], uint32_t cp) {
    size_t lo = 0, hi = N;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (cp < ranges[mid].lo) {
            hi = mid;
        } else if (cp > ranges[mid].hi) {
            lo = mid + 1;
        } else {
            return true;
        }
    }
    return false;
}

uint32_t utf8_decode(const std::string &s, size_t i, size_t len) {
    static const unsigned char lead_mask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = static_cast<unsigned char>(s[i]) & lead_mask[len];
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

/* Length of the printable character at s[i] that is shown as it stands: a
 * well-formed sequence of two or more bytes that is not a C1 control
 * (U+0080..U+009F); 0 when the byte at i is shown by show_byte. */
size_t printable_sequence_length(const std::string &s, size_t i) {
    if (static_cast<unsigned char>(s[i]) < 0x80) return 0;
    size_t len = utf8_sequence_length(s, i);
    if (len == 0 || utf8_decode(s, i, len) < 0xA0) return 0;
    return len;
}

/* How one byte is shown to people: printable ASCII as itself, the usual
 * control bytes as \n \r \t, other bytes as \xHH, and a backslash doubled so
 * that the escapes stay unambiguous. */
void show_byte(unsigned char b, std::string &out) {
    static const char hex[] = "0123456789abcdef";
    switch (b) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    case '\\': out += "\\\\"; return;
    default: break;
    }
    if (b >= 0x20 && b < 0x7F) {
        out += static_cast<char>(b);
    } else {
        out += "\\x";
        out += hex[b >> 4];
        out += hex[b & 15];
    }
}

/* One line of the text, [ls, le), as it is shown, and the column of each of
 * its bytes: col[b - ls] for the bytes, col[le - ls] for the line break (or
 * the end of the text), col[le - ls + 1] for the end of the line as shown. */
struct LineLayout {
    std::string shown;
    std::vector<size_t> col;
};

/* in_match[b]: byte b lies in a non-empty match (for the colour only). */
void lay_out_line(const std::string &text, size_t ls, size_t le, bool break_covered,
                  const std::vector<bool> &boundary, const std::vector<bool> &in_match, bool color,
                  LineLayout &out) {
    out.shown.clear();
    out.col.assign(le - ls + 2, 0);
    size_t c = 0;
    bool colored = false;
    for (size_t i = ls; i <= le; ++i) {
        const bool want = color && i < text.size() && in_match[i] && (i < le || break_covered);
        if (want != colored) {
            out.shown += want ? SGR_MATCH : SGR_RESET;
            colored = want;
        }
        out.col[i - ls] = c;
        if (i == le) break;
        size_t len = printable_sequence_length(text, i);
        for (size_t k = 1; k < len; ++k) {
            if (boundary[i + k]) len = 0;
        }
        if (len > 0) {
            const size_t width = static_cast<size_t>(utf8_display_width(text, i, len));
            out.shown.append(text, i, len);
            for (size_t k = 1; k < len; ++k) out.col[i + k - ls] = c + width;
            c += width;
            i += len - 1;
            continue;
        }
        const size_t before = out.shown.size();
        show_byte(static_cast<unsigned char>(text[i]), out.shown);
        c += out.shown.size() - before;
    }
    if (break_covered) {
        out.shown += "\\n";
        c += 2;
    }
    if (colored) out.shown += SGR_RESET;
    out.col[le - ls + 1] = c;
}

/* The marker line of matches [first, last) over the line laid out in lay:
 * '^' in the first column of a match, '~' in the others, '|' for an empty
 * match. A match whose bytes take no column (zero-width characters only)
 * still gets its '^'. */
std::string mark_line(const std::vector<MatchInfo> &matches, size_t first, size_t last, size_t ls, size_t le,
                      const LineLayout &lay) {
    std::string marks(lay.col[le - ls + 1] + 1, ' ');
    for (size_t j = first; j < last; ++j) {
        const size_t s = static_cast<size_t>(matches[j].start), e = static_cast<size_t>(matches[j].end);
        if (s == e) {
            marks[lay.col[s - ls]] = '|';
            continue;
        }
        const size_t from = s > ls ? s : ls;
        const size_t to = e < le + 1 ? e : le + 1; /* bytes [from, to) of this line */
        bool marked = false;
        for (size_t b = from; b < to; ++b) {
            const size_t c0 = lay.col[b - ls], c1 = lay.col[b - ls + 1];
            for (size_t c = c0; c < c1; ++c) {
                marks[c] = (b == s && c == c0) ? '^' : '~';
                marked = true;
            }
        }
        if (!marked && s >= ls) marks[lay.col[s - ls]] = '^';
    }
    while (!marks.empty() && marks.back() == ' ') marks.pop_back();
    return marks;
}

} /* namespace */

size_t utf8_sequence_length(const std::string &s, size_t i) {
    unsigned char b0 = static_cast<unsigned char>(s[i]);
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF; /* range of the second byte */
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    unsigned char b1 = static_cast<unsigned char>(s[i + 1]);
    if (b1 < lo || b1 > hi) return 0;
    for (size_t k = 2; k < len; ++k) {
        unsigned char b = static_cast<unsigned char>(s[i + k]);
        if (b < 0x80 || b > 0xBF) return 0;
    }
    return len;
}

int utf8_display_width(const std::string &s, size_t i, size_t len) {
    if (len == 0) return 1;
    const uint32_t cp = utf8_decode(s, i, len);
    if (in_ranges(ZERO_WIDTH, cp)) return 0;
    if (in_ranges(WIDE, cp)) return 2;
    return 1;
}

std::string quote_for_people(const std::string &s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const size_t len = printable_sequence_length(s, i);
        if (len > 0) {
            out.append(s, i, len);
            i += len;
            continue;
        }
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b == '"') {
            out += "\\\"";
        } else {
            show_byte(b, out);
        }
        ++i;
    }
    out += '"';
    return out;
}

/* Lines without a match are elided as "..."; a line break that a match
 * covers is shown as \n at the end of its line so that the marker has a
 * place. */
void show_text_with_markers(const std::string &text, const std::vector<MatchInfo> &matches, bool color) {
    const size_t n = text.size();
    std::vector<bool> boundary(n + 1, false); /* some match starts or ends here */
    std::vector<bool> in_match(color ? n : 0, false);
    for (const MatchInfo &m : matches) {
        boundary[static_cast<size_t>(m.start)] = true;
        boundary[static_cast<size_t>(m.end)] = true;
        for (size_t b = static_cast<size_t>(m.start); color && b < static_cast<size_t>(m.end); ++b) {
            in_match[b] = true;
        }
    }
    size_t mi = 0; /* first match not wholly before the line */
    size_t line_no = 0;
    size_t last_shown = 0; /* number of the last line shown, 0 for none */
    LineLayout lay;
    for (size_t ls = 0; ls <= n;) {
        ++line_no;
        size_t le = ls;
        while (le < n && text[le] != '\n') ++le;
        const bool has_break = le < n;
        const size_t next = has_break ? le + 1 : n + 1;
        /* An empty match at ls belongs to this line, a match ending at ls does not. */
        while (mi < matches.size()) {
            const size_t s = static_cast<size_t>(matches[mi].start);
            const size_t e = static_cast<size_t>(matches[mi].end);
            if (!(e < ls || (e == ls && s < e))) break;
            ++mi;
        }
        size_t last = mi; /* matches [mi, last) touch this line */
        bool break_covered = false;
        while (last < matches.size() && static_cast<size_t>(matches[last].start) <= le) {
            if (has_break && static_cast<size_t>(matches[last].end) > le) break_covered = true;
            ++last;
        }
        if (last == mi) {
            ls = next;
            continue;
        }
        lay_out_line(text, ls, le, break_covered, boundary, in_match, color, lay);
        if (line_no > last_shown + 1) write_str("     ...\n");
        char gutter[32];
        std::snprintf(gutter, sizeof gutter, "%6zu  ", line_no);
        write_str(gutter);
        write_str(lay.shown);
        write_str("\n        ");
        write_str(mark_line(matches, mi, last, ls, le, lay));
        write_str("\n");
        last_shown = line_no;
        ls = next;
    }
    /* The empty line after a final line break is no line of its own unless a
   * match sits there. */
    size_t lines = line_no;
    if (n > 0 && text[n - 1] == '\n' && last_shown != line_no) --lines;
    if (last_shown != 0 && last_shown < lines) write_str("     ...\n");
}

} /* namespace cli */
