/* The lint and the explanation in the command-line host (cli_lint.cpp):
 * the lint and explain subcommands, the caret under a rejected pattern's
 * byte, and the warnings that test, replace, validate and grep print on
 * standard error before they call the library (the answers never change). */
#ifndef KRX_CLI_LINT_H
#define KRX_CLI_LINT_H

namespace cli {

/* lint [--json] PATTERN: 0 no findings, 1 findings, 2 an invalid pattern. */
int run_lint(const char *pattern, bool json);
/* explain [--json] PATTERN: 0, or 2 for an invalid pattern. */
int run_explain(const char *pattern, bool json);
/* The pattern, a caret under the byte at offset, and the message. */
void show_caret(const char *pattern, unsigned long long offset, const char *message);
/* "kelvaron-regex: warning: pattern byte N: ..." for each finding that says
 * the pattern or a part of it never matches, or that it means something
 * else in other dialects, and for the construct of another dialect that an
 * invalid pattern stopped at. */
void warn_findings(const char *pattern);

} /* namespace cli */

#endif
