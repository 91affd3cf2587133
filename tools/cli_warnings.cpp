/* Dialect-trap warnings (see cli_warnings.h). The scan follows the pattern
 * syntax of the library: outside brackets a backslash takes the next byte
 * (\d \s \w \b and their capitals are classes and anchors, any other byte
 * stands for itself); a bracket set runs from '[' (and an optional '^', and a
 * ']' right after them, which is literal) to the next ']', and a backslash
 * inside it is a plain byte that does not protect a ']'. */
#include "cli_warnings.h"

#include <cstdio>
#include <cstring>

#include "cli_common.h"

namespace cli {
namespace {

struct EscapeTrap {
    char letter;
    const char *elsewhere; /* what the escape means in other dialects */
};

const EscapeTrap ESCAPE_TRAPS[] = {
    {'n', "a line feed"},
    {'t', "a tab"},
    {'r', "a carriage return"},
    {'f', "a form feed"},
    {'v', "a vertical tab"},
    {'a', "a bell"},
    {'e', "an escape"},
    {'0', "a NUL byte"},
    {'x', "a hexadecimal escape"},
    {'u', "a Unicode escape"},
    {'U', "a Unicode escape"},
    {'p', "a Unicode property"},
    {'P', "a Unicode property"},
};

std::string at(size_t offset) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "pattern byte %zu: ", offset);
    return buf;
}

/* The escape \c at offset i outside brackets. */
void escape_trap(char c, size_t i, std::vector<std::string> &out) {
    const char *kind = (c >= '0' && c <= '9') ? "digit" : "letter";
    std::string esc = std::string("\\") + c;
    if (c >= '1' && c <= '9') {
        out.push_back(at(i) + esc + " is the digit " + c +
                      " here, not a back-reference (there are no back-references)");
        return;
    }
    for (const EscapeTrap &t : ESCAPE_TRAPS) {
        if (t.letter == c) {
            out.push_back(at(i) + esc + " is the " + kind + " '" + c + "' here, not " + t.elsewhere);
            return;
        }
    }
}

/* Length of a POSIX class "[:name:]" (or "[=x=]", "[.x.]") at p, 0 if none. */
size_t posix_class_length(const char *p) {
    if (p[0] != '[' || (p[1] != ':' && p[1] != '=' && p[1] != '.')) return 0;
    const char *close = std::strchr(p + 2, p[1]);
    if (close == nullptr || close[1] != ']' || close == p + 2) return 0;
    return static_cast<size_t>(close - p) + 2;
}

/* The bracket set that starts at offset start; returns the offset of its
 * closing ']' (or the pattern's length when it has none). */
size_t bracket_traps(const char *pattern, size_t start, std::vector<std::string> &out) {
    size_t i = start + 1;
    if (pattern[i] == '^') ++i;
    if (pattern[i] == ']') ++i;
    for (; pattern[i] != '\0' && pattern[i] != ']'; ++i) {
        if (pattern[i] == '\\' && pattern[i + 1] != '\0') {
            std::string esc = std::string("\\") + pattern[i + 1];
            if (pattern[i + 1] == ']') {
                out.push_back(at(i) + esc +
                              " inside brackets is a backslash here, and that ']' ends the set");
            } else {
                out.push_back(at(i) + esc + " inside brackets is a backslash and the byte '" +
                              pattern[i + 1] + "' here, not an escape");
            }
        }
        const size_t len = posix_class_length(pattern + i);
        if (len > 0) {
            out.push_back(at(i) + std::string(pattern + i, len) +
                          " is no POSIX class here: its bytes join the set, and its ']' ends the set");
            return i + len - 1;
        }
    }
    return i;
}

/* A group "(?...)" at offset i: only one group of the flags i, m and s, at
 * the very start of the pattern, is known here. */
void flag_group_trap(const char *pattern, size_t i, std::vector<std::string> &out) {
    size_t j = i + 2;
    bool only_ims = true;
    while ((pattern[j] >= 'a' && pattern[j] <= 'z') || (pattern[j] >= 'A' && pattern[j] <= 'Z') ||
           pattern[j] == '-') {
        if (std::strchr("ims", pattern[j]) == nullptr) only_ims = false;
        ++j;
    }
    if (j == i + 2 || (pattern[j] != ')' && pattern[j] != ':')) return;
    const std::string group(pattern + i, j + 1 - i);
    if (i > 0 && only_ims && pattern[j] == ')') {
        out.push_back(at(i) + group +
                      " is a flag group after the start: flags count only in one group at the very "
                      "start of the pattern, so here it is an error");
    } else if (!only_ims || pattern[j] == ':') {
        out.push_back(at(i) + group +
                      " is not known here: the only flag group is one of i, m and s "
                      "at the very start of the pattern, such as (?i) or (?ms)");
    }
}

} /* namespace */

std::vector<std::string> dialect_traps(const char *pattern) {
    std::vector<std::string> out;
    for (size_t i = 0; pattern[i] != '\0'; ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (pattern[i + 1] == '\0') break;
            escape_trap(pattern[i + 1], i, out);
            ++i;
        } else if (c == '[') {
            i = bracket_traps(pattern, i, out);
            if (pattern[i] == '\0') break;
        } else if (c == '(' && pattern[i + 1] == '?') {
            flag_group_trap(pattern, i, out);
        }
    }
    return out;
}

void warn_dialect_traps(const char *pattern) {
    for (const std::string &m : dialect_traps(pattern)) error("warning: %s", m.c_str());
}

} /* namespace cli */
