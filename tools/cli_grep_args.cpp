/* grep's command line, read as GNU grep reads it: options and operands in
 * any order until "--"; short options alone or joined (-inr), with their
 * value joined or next (-e PAT, -ePAT, -A3); long options with "=VALUE" or
 * the next argument, and by any prefix that names one option alone
 * (--ignore); -NUM for --context=NUM. The first operand is the pattern
 * unless -e or -f gave patterns; a pattern holding line feeds is one
 * pattern per line. */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli_grep.h"

namespace cli {

const char GREP_HELP[] =
    "      Prints the lines of the FILEs (standard input when there is none, or\n"
    "      for -; the working folder with -r) that hold a match of PATTERNS, as\n"
    "      GNU grep does, with its options, its output and its exit status. Each\n"
    "      line is one text for the library, searched as rx_test would search it\n"
    "      (its own budget; a line may hold up to 10485760 bytes). PATTERNS are in\n"
    "      the library's dialect (see Pattern syntax in the README), close to\n"
    "      grep -E; one pattern per line, and an empty pattern matches every line.\n"
    "      Where the dialects differ the answers do: every part of a pattern\n"
    "      commits to its first end, so a line GNU grep selects by backtracking\n"
    "      may not be selected, and -o and the colours show the first match at\n"
    "      each place (an alternation's first alternative that matches), not the\n"
    "      longest.\n"
    "      Patterns:\n"
    "        -e, --regexp=PATTERNS   patterns (may be repeated; they become\n"
    "                                alternatives, in their order)\n"
    "        -f, --file=FILE         patterns from FILE, one per line (- for\n"
    "                                standard input)\n"
    "        -F, --fixed-strings     PATTERNS are texts, escaped as the library\n"
    "                                escapes literals\n"
    "        -E, --extended-regexp   accepted: the library's dialect is the only one\n"
    "        -i, -y, --ignore-case   letters match in either case (ASCII, as the\n"
    "                                library folds): (?i) joins the pattern's\n"
    "                                leading flag group; --no-ignore-case undoes it\n"
    "        -w, --word-regexp       \\b(?:P)\\b for each pattern P: each match commits\n"
    "                                to its first end, so where GNU grep would retry\n"
    "                                a shorter match to find a whole word, this may not\n"
    "        -x, --line-regexp       ^(?:P)$ for each pattern P\n"
    "      Selection and output:\n"
    "        -v, --invert-match      select the lines without a match\n"
    "        -c, --count             print the number of selected lines per file\n"
    "        -l, --files-with-matches     print only the names of files with a\n"
    "                                selected line\n"
    "        -L, --files-without-match    ... without one\n"
    "        -o, --only-matching     print each non-empty match on a line of its own\n"
    "        -q, --quiet, --silent   print nothing; exit 0 at the first selected line\n"
    "        -s, --no-messages       no messages about files that cannot be read\n"
    "        -m, --max-count=NUM     stop a file after NUM selected lines\n"
    "        -n, --line-number       prefix each line with its number\n"
    "        -b, --byte-offset       ... with its offset in the file (-o: the match's)\n"
    "        -H, --with-filename     prefix each line with its file's name (the\n"
    "                                default when there is more than one file)\n"
    "        -h, --no-filename       never\n"
    "            --label=LABEL       the name of standard input\n"
    "        -A, --after-context=NUM, -B, --before-context=NUM, -C, --context=NUM,\n"
    "        -NUM                    NUM lines of context after, before, around\n"
    "                                each selected line; groups apart are\n"
    "                                separated by -- (--group-separator=SEP,\n"
    "                                --no-group-separator)\n"
    "            --color[=WHEN]      colour matches, names, numbers and separators\n"
    "                                as GREP_COLORS says (and GREP_COLOR, which grep\n"
    "                                still reads); WHEN is auto (the default: when\n"
    "                                standard output is a terminal and TERM is not\n"
    "                                dumb), always or never\n"
    "      Files:\n"
    "        -a, --text              search binary files as text\n"
    "        -I                      take binary files for files without a match\n"
    "            --binary-files=TYPE binary (the default), text or without-match. A\n"
    "                                file is binary from the 98304-byte block that\n"
    "                                holds its first NUL byte, as for grep: there\n"
    "                                NUL bytes end lines too, and a selected line\n"
    "                                prints \"binary file matches\" on standard error\n"
    "                                in its place, after which the file is left\n"
    "        -r, --recursive         search folders, not following symbolic links\n"
    "                                found in them\n"
    "        -R, --dereference-recursive  ... following them\n"
    "            --include=GLOB      search only files whose name matches GLOB\n"
    "            --exclude=GLOB      skip files whose name matches GLOB (of several\n"
    "                                --include and --exclude, the last that matches\n"
    "                                decides)\n"
    "            --exclude-dir=GLOB  skip folders whose name matches GLOB\n"
    "      Exit status 0 when a line was selected, 1 when none was, 2 after an\n"
    "      error (the other files are still searched), unless -q selected a line.\n";

namespace {

/* Codes of the options without a short form. */
enum : int {
    OPT_NO_IGNORE_CASE = 256,
    OPT_GROUP_SEPARATOR,
    OPT_NO_GROUP_SEPARATOR,
    OPT_BINARY_FILES,
    OPT_INCLUDE,
    OPT_EXCLUDE,
    OPT_EXCLUDE_DIR,
    OPT_COLOR,
    OPT_LABEL,
    OPT_HELP,
};

enum ArgKind { NO_ARG, NEEDS_ARG, OPTIONAL_ARG };

struct LongOption {
    const char *name;
    ArgKind arg;
    int code; /* the short option it stands for, or an OPT_ code */
};

const LongOption LONG_OPTIONS[] = {
    {"extended-regexp", NO_ARG, 'E'},
    {"fixed-strings", NO_ARG, 'F'},
    {"regexp", NEEDS_ARG, 'e'},
    {"file", NEEDS_ARG, 'f'},
    {"ignore-case", NO_ARG, 'i'},
    {"no-ignore-case", NO_ARG, OPT_NO_IGNORE_CASE},
    {"word-regexp", NO_ARG, 'w'},
    {"line-regexp", NO_ARG, 'x'},
    {"invert-match", NO_ARG, 'v'},
    {"count", NO_ARG, 'c'},
    {"files-with-matches", NO_ARG, 'l'},
    {"files-without-match", NO_ARG, 'L'},
    {"only-matching", NO_ARG, 'o'},
    {"quiet", NO_ARG, 'q'},
    {"silent", NO_ARG, 'q'},
    {"no-messages", NO_ARG, 's'},
    {"max-count", NEEDS_ARG, 'm'},
    {"line-number", NO_ARG, 'n'},
    {"byte-offset", NO_ARG, 'b'},
    {"with-filename", NO_ARG, 'H'},
    {"no-filename", NO_ARG, 'h'},
    {"label", NEEDS_ARG, OPT_LABEL},
    {"after-context", NEEDS_ARG, 'A'},
    {"before-context", NEEDS_ARG, 'B'},
    {"context", NEEDS_ARG, 'C'},
    {"group-separator", NEEDS_ARG, OPT_GROUP_SEPARATOR},
    {"no-group-separator", NO_ARG, OPT_NO_GROUP_SEPARATOR},
    {"color", OPTIONAL_ARG, OPT_COLOR},
    {"colour", OPTIONAL_ARG, OPT_COLOR},
    {"text", NO_ARG, 'a'},
    {"binary-files", NEEDS_ARG, OPT_BINARY_FILES},
    {"recursive", NO_ARG, 'r'},
    {"dereference-recursive", NO_ARG, 'R'},
    {"include", NEEDS_ARG, OPT_INCLUDE},
    {"exclude", NEEDS_ARG, OPT_EXCLUDE},
    {"exclude-dir", NEEDS_ARG, OPT_EXCLUDE_DIR},
    {"help", NO_ARG, OPT_HELP},
    {"version", NO_ARG, 'V'},
};

const char SHORT_FLAGS[] = "EFiywxvclLoqsnbHhaIrRV"; /* short options without a value */
const char SHORT_VALUED[] = "efmABC";                /* ... and with one */

int grep_usage_error(const char *fmt, const char *arg) {
    std::fprintf(stderr, "%s: ", PROGRAM);
    std::fprintf(stderr, fmt, arg);
    std::fprintf(stderr, "\nTry '%s grep --help'.\n", PROGRAM);
    return EXIT_ERROR;
}

/* The patterns of one -e value or pattern operand: one per line. */
void add_patterns(const char *text, std::vector<std::string> &out) {
    const char *p = text;
    for (;;) {
        const char *nl = std::strchr(p, '\n');
        if (nl == nullptr) {
            out.emplace_back(p);
            return;
        }
        out.emplace_back(p, static_cast<size_t>(nl - p));
        p = nl + 1;
    }
}

/* The patterns of -f FILE: one per line; a last line feed ends the last
 * pattern rather than beginning an empty one. Returns false after a
 * message when the file cannot be read. */
bool add_pattern_file(const char *path, std::vector<std::string> &out) {
    const bool from_stdin = std::strcmp(path, "-") == 0;
    std::FILE *f = from_stdin ? stdin : std::fopen(path, "rb");
    if (f == nullptr) {
        error("%s: %s", path, std::strerror(errno));
        return false;
    }
    std::string text;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
    const bool failed = std::ferror(f) != 0;
    const int saved = errno;
    if (!from_stdin) std::fclose(f);
    if (failed) {
        error("%s: %s", path, std::strerror(saved));
        return false;
    }
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return true;
}

/* A count of lines (-A -B -C -m); false when value is not a number. A
 * negative -m means no limit, as for grep. */
bool read_count(const char *value, bool negative_ok, long long *out) {
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(value, &end, 10);
    if (end == value || *end != '\0' || errno != 0) return false;
    if (v < 0 && !negative_ok) return false;
    *out = v < 0 ? -1 : v;
    return true;
}

struct Parser {
    GrepOptions &opt;
    bool patterns_given = false; /* by -e or -f */
    std::vector<const char *> operands;
    /* -A and -B as given (-1: not given) win over -C, whatever the order */
    long long after = -1, before = -1, around = 0;
};

/* Applies one option with its value (null for none). Returns -1, or the
 * exit status of the error reported. */
int apply(Parser &ps, int code, const char *value, const char *spelled) {
    GrepOptions &o = ps.opt;
    switch (code) {
    case 'E': break;
    case 'F': o.fixed = true; break;
    case 'e':
        add_patterns(value, o.patterns);
        ps.patterns_given = true;
        break;
    case 'f':
        if (!add_pattern_file(value, o.patterns)) return EXIT_ERROR;
        ps.patterns_given = true;
        break;
    case 'i':
    case 'y': o.ignore_case = true; break;
    case OPT_NO_IGNORE_CASE: o.ignore_case = false; break;
    case 'w': o.word = true; break;
    case 'x': o.line = true; break;
    case 'v': o.invert = true; break;
    case 'c': o.count = true; break;
    case 'l': o.list = ListMode::WITH_MATCH; break;
    case 'L': o.list = ListMode::WITHOUT_MATCH; break;
    case 'o': o.only_matching = true; break;
    case 'q': o.quiet = true; break;
    case 's': o.no_messages = true; break;
    case 'm':
        if (!read_count(value, true, &o.max_count)) return grep_usage_error("invalid max count '%s'", value);
        break;
    case 'n': o.line_numbers = true; break;
    case 'b': o.byte_offsets = true; break;
    case 'H': o.with_filename = 1; break;
    case 'h': o.with_filename = 0; break;
    case OPT_LABEL: o.label = value; break;
    case 'A':
    case 'B':
    case 'C': {
        long long n = 0;
        if (!read_count(value, false, &n)) return grep_usage_error("invalid context length '%s'", value);
        (code == 'A' ? ps.after : code == 'B' ? ps.before : ps.around) = n;
        o.context = true;
        break;
    }
    case OPT_GROUP_SEPARATOR:
        o.group_separator = value;
        o.group_separators = true;
        break;
    case OPT_NO_GROUP_SEPARATOR: o.group_separators = false; break;
    case OPT_COLOR:
        if (value == nullptr) {
            o.color = ColorMode::AUTO;
        } else if (!parse_color_mode(value, &o.color)) {
            return grep_usage_error("--color: WHEN is auto, always or never, not '%s'", value);
        }
        break;
    case 'a': o.binary = BinaryMode::TEXT; break;
    case 'I': o.binary = BinaryMode::WITHOUT_MATCH; break;
    case OPT_BINARY_FILES:
        if (std::strcmp(value, "binary") == 0) {
            o.binary = BinaryMode::BINARY;
        } else if (std::strcmp(value, "text") == 0) {
            o.binary = BinaryMode::TEXT;
        } else if (std::strcmp(value, "without-match") == 0) {
            o.binary = BinaryMode::WITHOUT_MATCH;
        } else {
            return grep_usage_error("--binary-files: TYPE is binary, text or without-match, not '%s'", value);
        }
        break;
    case 'r': o.recursive = 1; break;
    case 'R': o.recursive = 2; break;
    case OPT_INCLUDE: o.file_rules.push_back({value, true}); break;
    case OPT_EXCLUDE: o.file_rules.push_back({value, false}); break;
    case OPT_EXCLUDE_DIR: o.exclude_dirs.emplace_back(value); break;
    case OPT_HELP: o.help = true; break;
    case 'V': o.version = true; break;
    default: return grep_usage_error("unknown option '%s'", spelled);
    }
    return -1;
}

/* The long option named by a (after "--"), exactly or by a prefix that only
 * it has; null (after a message) when there is none or several. */
const LongOption *find_long(const char *name, size_t len, int *status) {
    const LongOption *found = nullptr;
    int prefixed = 0;
    for (const LongOption &lo : LONG_OPTIONS) {
        if (std::strncmp(lo.name, name, len) != 0) continue;
        if (lo.name[len] == '\0') return &lo;
        if (found == nullptr || found->code != lo.code) prefixed++;
        found = &lo;
    }
    const std::string spelled = "--" + std::string(name, len);
    if (prefixed == 1) return found;
    *status =
        grep_usage_error(prefixed == 0 ? "unknown option '%s'" : "option '%s' is ambiguous", spelled.c_str());
    return nullptr;
}

/* Reads the long option at args[*i] (without its "--"). */
int take_long(Parser &ps, const std::vector<const char *> &args, size_t *i) {
    const char *a = args[*i] + 2;
    const char *eq = std::strchr(a, '=');
    const size_t len = eq != nullptr ? static_cast<size_t>(eq - a) : std::strlen(a);
    int status = -1;
    const LongOption *lo = find_long(a, len, &status);
    if (lo == nullptr) return status;
    const char *value = eq != nullptr ? eq + 1 : nullptr;
    if (lo->arg == NO_ARG && value != nullptr)
        return grep_usage_error("option '--%s' takes no value", lo->name);
    if (lo->arg == NEEDS_ARG && value == nullptr) {
        if (*i + 1 >= args.size()) return grep_usage_error("option '--%s' needs a value", lo->name);
        value = args[++*i];
    }
    return apply(ps, lo->code, value, args[*i]);
}

/* Reads the joined short options at args[*i] (without its "-"). */
int take_short(Parser &ps, const std::vector<const char *> &args, size_t *i) {
    const char *a = args[*i];
    for (const char *p = a + 1; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') { /* -NUM */
            const char *q = p;
            while (*q >= '0' && *q <= '9') ++q;
            const std::string digits(p, static_cast<size_t>(q - p));
            const int st = apply(ps, 'C', digits.c_str(), a);
            if (st >= 0) return st;
            p = q - 1;
            continue;
        }
        const char letter[3] = {'-', *p, '\0'};
        if (std::strchr(SHORT_VALUED, *p) != nullptr) {
            const char *value = p + 1;
            if (*value == '\0') {
                if (*i + 1 >= args.size()) return grep_usage_error("option '%s' needs a value", letter);
                value = args[++*i];
            }
            return apply(ps, *p, value, letter);
        }
        if (std::strchr(SHORT_FLAGS, *p) == nullptr) return grep_usage_error("unknown option '%s'", letter);
        const int st = apply(ps, *p, nullptr, letter);
        if (st >= 0) return st;
    }
    return -1;
}

} /* namespace */

int parse_grep_args(const std::vector<const char *> &args, GrepOptions &opt) {
    Parser ps{opt, false, {}, -1, -1, 0};
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const char *a = args[i];
        if (options_done || a[0] != '-' || a[1] == '\0') {
            ps.operands.push_back(a);
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            options_done = true;
            continue;
        }
        const int st = a[1] == '-' ? take_long(ps, args, &i) : take_short(ps, args, &i);
        if (st >= 0) return st;
    }
    if (opt.help || opt.version) return -1;
    opt.after = ps.after >= 0 ? ps.after : ps.around;
    opt.before = ps.before >= 0 ? ps.before : ps.around;
    size_t first_file = 0;
    if (!ps.patterns_given) {
        if (ps.operands.empty()) return grep_usage_error("%s", "usage: grep [OPTIONS] PATTERNS [FILE...]");
        add_patterns(ps.operands[0], opt.patterns);
        first_file = 1;
    }
    for (size_t k = first_file; k < ps.operands.size(); ++k) opt.files.emplace_back(ps.operands[k]);
    return -1;
}

} /* namespace cli */
