/* Warnings about patterns written for other regular-expression dialects:
 * constructs that are valid here but mean something else than elsewhere
 * (\n is the letter n, [\d] a backslash and a d, ...), or that fail here for
 * a reason a user of another dialect would not guess (a flag group after the
 * start). They never change an answer; the host prints them on standard
 * error before it calls the library. */
#ifndef KRX_CLI_WARNINGS_H
#define KRX_CLI_WARNINGS_H

#include <string>
#include <vector>

namespace cli {

/* One message per trap, in pattern order, each naming the byte offset at
 * which the construct begins: "pattern byte 3: \n is the letter 'n' here, ...". */
std::vector<std::string> dialect_traps(const char *pattern);

/* Prints the messages of dialect_traps as "kelvaron-regex: warning: ...". */
void warn_dialect_traps(const char *pattern);

} /* namespace cli */

#endif
