/* The grep subcommand: searches files line by line, as grep does. */
#ifndef KRX_CLI_GREP_H
#define KRX_CLI_GREP_H

#include <vector>

#include "cli_common.h"

namespace cli {

struct GrepOptions {
    bool count = false;         /* -c: print the number of selected lines */
    bool only_matching = false; /* -o: print each match on a line of its own */
    bool line_numbers = false;  /* -n */
    bool invert = false;        /* -v: select the lines without a match */
    int with_filename = -1;     /* -H 1, -h 0, -1: when there is more than one file */
    ColorMode color = ColorMode::AUTO;
};

/* Searches each file (standard input when there is none, or for "-").
 * Returns 0 when a line was selected, 1 when none was, 2 after an error
 * (the pattern, a file that cannot be read, a call the library refused). */
int run_grep(const GrepOptions &opt, const char *pattern, const std::vector<const char *> &files);

} /* namespace cli */

#endif
