/* What grep writes (cli_grep_output.cpp): output lines with their name and
 * number prefixes, -o's matches, counts, names, group separators, and the
 * colours of --color as GREP_COLORS and GREP_COLOR set them, all as GNU
 * grep writes them. */
#ifndef KRX_CLI_GREP_OUTPUT_H
#define KRX_CLI_GREP_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_grep.h"

namespace cli {

/* A match in a line: bytes [start, end). */
struct Span {
    uint64_t start, end;
};

/* SGR parameters of each part grep colours (GREP_COLORS' names); empty:
 * that part is written without colour. */
struct GrepColors {
    std::string ms = "01;31"; /* matched text in a selected line */
    std::string mc = "01;31"; /* matched text in a context line */
    std::string sl;           /* whole selected lines */
    std::string cx;           /* whole context lines */
    std::string fn = "35";    /* file names */
    std::string ln = "32";    /* line numbers */
    std::string bn = "32";    /* byte offsets (read, not used: there is no -b) */
    std::string se = "36";    /* separators: ':', '-' and the group separator */
    bool rv = false;          /* with -v, sl and cx change places */
    bool ne = false;          /* no \33[K after each coloured part */
};

/* The colours that GREP_COLOR (grep's old variable, the colour of matched
 * text, with grep's warning that it is deprecated) and then GREP_COLORS
 * set. Read only when colour is on, as grep does. */
GrepColors read_grep_colors();

/* The writer of one grep run. */
class GrepOutput {
  public:
    GrepOutput(const GrepOptions &opt, bool color);

    /* Where a line is: its file's name (when shown), its number (0: not
     * shown) and the offset of its first byte in the file (shown with -b). */
    struct Place {
        const std::string &name;
        bool show_name;
        uint64_t line_no;
        uint64_t offset;
    };
    /* A line of a file with its prefixes: selected (separator ':') or
     * context ('-'); spans, when given, are its matches in order (coloured
     * when colour is on). With -o a line is written as its non-empty
     * matches, one per line (a line without any, not at all). */
    void line(const Place &at, const char *text, size_t n, bool selected, const std::vector<Span> *spans);
    /* The group separator, before a line that does not follow the last one
     * written (or the first of another file), once something was written. */
    void group_break();
    void count(const std::string &name, bool show_name, unsigned long long count);
    void file_name(const std::string &name);
    /* Counts as written lines, for the group separators: the message of a
     * binary file that matches does. */
    void stands_for_lines() { wrote_lines_ = true; }
    /* Whether line() colours matches, so that spans are worth finding. */
    bool wants_spans() const;

  private:
    void start(const std::string &cap);
    void end(const std::string &cap);
    void prefix(const Place &at, uint64_t offset, char sep);
    void number(const std::string &cap, uint64_t value, char sep);
    void colored(const std::string &cap, const char *p, size_t n);

    const GrepOptions &opt_;
    bool color_;
    GrepColors colors_;
    bool wrote_lines_ = false; /* a line was written: separators may follow */
};

} /* namespace cli */

#endif
