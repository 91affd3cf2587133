/* The one pattern that grep's patterns and flags make (cli_grep_pattern.cpp). */
#ifndef KRX_CLI_GREP_PATTERN_H
#define KRX_CLI_GREP_PATTERN_H

#include <string>

#include "cli_grep.h"

namespace cli {

/* Makes the pattern of opt's patterns (at least one) and flags into out.
 * Returns -1 when it is made, otherwise 2 after a message (an invalid
 * pattern, patterns whose flags cannot be joined, no memory). */
int grep_pattern(const GrepOptions &opt, std::string &out);

} /* namespace cli */

#endif
