/* The one pattern grep searches with, made of its patterns and -F -i -w -x.
 *
 * Each pattern is first judged alone, as rx_validate judges it, so that a
 * wrong one is named as wrong (wrapped, "a)|(b" would parse). Its leading
 * flag group comes off; the flags of all of them go into the one group the
 * library allows, at the very start. (?m) and (?s) change nothing on lines,
 * which hold no line feed, so they simply join; (?i) changes what a pattern
 * matches, so patterns with and without it cannot share one group, unless
 * -i gives it to all. -F escapes each pattern whole, flag group included,
 * with the library's literal escaping. Then each pattern P becomes
 *   (?:P)          when there are several,
 *   ^(?:P)$        with -x,
 *   \b(?:P)\b      with -w (-x wins, as for grep),
 * and the patterns alternatives, in their order. Each pattern is wrapped
 * on its own, so that one that commits to an end where the anchors fail
 * does not keep a later one from matching at the same place. A group
 * without a capture costs the engine nothing. */
#include <cstdlib>
#include <cstring>

#include "cli_grep_pattern.h"
#include "kelvaron_regex_internal.h"
#include "rx_common.h"
#include "rx_escape.h"

namespace cli {
namespace {

const size_t MESSAGE_SIZE = 256;

/* The pattern's text once its flag group is off (-F: escaped). False when
 * memory ran out. */
bool body_of(const std::string &pattern, bool fixed, uint32_t *flags, std::string &body) {
    *flags = 0;
    if (!fixed) {
        const uint64_t skip = rx_parse_leading_flags(pattern.c_str(), flags);
        body = pattern.substr(static_cast<size_t>(skip));
        return true;
    }
    char *text = nullptr;
    uint64_t length = 0;
    if (rx_escape_literal(pattern.data(), pattern.size(), &text, &length) != 0) return false;
    body.assign(text, static_cast<size_t>(length));
    std::free(text);
    return true;
}

} /* namespace */

int grep_pattern(const GrepOptions &opt, std::string &out) {
    std::string alternatives;
    uint32_t all = 0;
    int with_i = 0;
    for (size_t k = 0; k < opt.patterns.size(); ++k) {
        const std::string &p = opt.patterns[k];
        if (p.find('\0') != std::string::npos) {
            error("pattern %zu holds a NUL byte, which a pattern cannot hold", k + 1);
            return EXIT_ERROR;
        }
        char msg[MESSAGE_SIZE];
        if (!opt.fixed && rx_validate_pattern(p.c_str(), msg, sizeof msg) != 0) {
            error("invalid pattern: %s", msg);
            return EXIT_ERROR;
        }
        uint32_t flags = 0;
        std::string body;
        if (!body_of(p, opt.fixed, &flags, body)) {
            error("out of memory");
            return EXIT_ERROR;
        }
        all |= flags;
        with_i += (flags & RX_FLAG_I) != 0;
        if (opt.line)
            body = "^(?:" + body + ")$";
        else if (opt.word)
            body = "\\b(?:" + body + ")\\b";
        else if (opt.patterns.size() > 1)
            body = "(?:" + body + ")";
        alternatives += (k > 0 ? "|" : "") + body;
    }
    if (with_i > 0 && with_i < static_cast<int>(opt.patterns.size()) && !opt.ignore_case) {
        error("the patterns cannot be combined: some begin with (?i) and some do not, and the library "
              "takes one flag group for the whole pattern (give -i, or (?i) to every pattern)");
        return EXIT_ERROR;
    }
    if (opt.ignore_case) all |= RX_FLAG_I;
    std::string group;
    if (all != 0) {
        group = "(?";
        if (all & RX_FLAG_I) group += 'i';
        if (all & RX_FLAG_M) group += 'm';
        if (all & RX_FLAG_S) group += 's';
        group += ')';
    }
    out = group + alternatives;
    return -1;
}

} /* namespace cli */
