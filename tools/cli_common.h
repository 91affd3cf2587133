/* What every part of the command-line host shares: exit statuses, messages
 * on standard error under the program's name, writing to standard output,
 * and the --color rule. */
#ifndef KRX_CLI_COMMON_H
#define KRX_CLI_COMMON_H

#include <cstddef>
#include <string>

namespace cli {

/* Exit statuses, as grep has them: 0 a match (or an answer), 1 no match,
 * 2 an error (usage, unreadable input, a call the library refused). */
const int EXIT_MATCH = 0;
const int EXIT_NONE = 1;
const int EXIT_ERROR = 2;

extern const char PROGRAM[]; /* "kelvaron-regex", the prefix of every message */

/* "kelvaron-regex: <message>\n" on standard error.
 * (mingw-w64's C++ standard I/O is its own, which knows %zu and %llu.) */
void error(const char *fmt, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Write errors are not checked on each write; callers look at the stream's
 * error flag once everything is written (flush_stdout). */
void write_bytes(const char *p, size_t n);
void write_str(const std::string &s);
/* Flushes standard output; false (after a message) when writing failed. */
bool flush_stdout();

enum class ColorMode { AUTO, ALWAYS, NEVER };

/* Reads the value of --color=WHEN: auto (or tty, if-tty), always (yes,
 * force), never (no, none), as grep reads it; false for others. */
bool parse_color_mode(const char *value, ColorMode *mode);
/* Standard output is a terminal. */
bool stdout_is_terminal();
/* auto: colour when standard output is a terminal and TERM is not "dumb". */
bool color_wanted(ColorMode mode);

/* SGR sequences of the marker view's colour (grep's default for matches;
 * grep's own colours are cli_grep_output's). */
extern const char SGR_MATCH[]; /* bold red: matched text */
extern const char SGR_RESET[];

} /* namespace cli */

#endif
