/* Messages, standard output and the --color rule of the command-line host. */
#include "cli_common.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#  include <io.h>
#  define krx_isatty _isatty
#  define krx_fileno _fileno
#else
#  include <unistd.h>
#  define krx_isatty isatty
#  define krx_fileno fileno
#endif

namespace cli {

const char PROGRAM[] = "kelvaron-regex";

const char SGR_MATCH[] = "\033[01;31m";
const char SGR_RESET[] = "\033[m";

void error(const char *fmt, ...) {
    std::fflush(stdout); /* what was written before the message comes before it */
    std::fprintf(stderr, "%s: ", PROGRAM);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

void write_bytes(const char *p, size_t n) { std::fwrite(p, 1, n, stdout); }

void write_str(const std::string &s) { write_bytes(s.data(), s.size()); }

bool flush_stdout() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        error("cannot write to standard output: %s", std::strerror(errno));
        return false;
    }
    return true;
}

bool parse_color_mode(const char *value, ColorMode *mode) {
    if (std::strcmp(value, "auto") == 0 || std::strcmp(value, "tty") == 0 ||
        std::strcmp(value, "if-tty") == 0) {
        *mode = ColorMode::AUTO;
    } else if (std::strcmp(value, "always") == 0 || std::strcmp(value, "yes") == 0 ||
               std::strcmp(value, "force") == 0) {
        *mode = ColorMode::ALWAYS;
    } else if (std::strcmp(value, "never") == 0 || std::strcmp(value, "no") == 0 ||
               std::strcmp(value, "none") == 0) {
        *mode = ColorMode::NEVER;
    } else {
        return false;
    }
    return true;
}

bool stdout_is_terminal() { return krx_isatty(krx_fileno(stdout)) != 0; }

bool color_wanted(ColorMode mode) {
    if (mode != ColorMode::AUTO) return mode == ColorMode::ALWAYS;
    if (!stdout_is_terminal()) return false;
    const char *term = std::getenv("TERM");
#if defined(_WIN32)
    /* A Windows console shows escape sequences only when asked to; terminals
   * that understand them set TERM. */
    if (term == nullptr) return false;
#endif
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

} /* namespace cli */
