/* kelvaron-regex: the command-line host of the library.
 *
 * It is linked with the library's engine (the internal static library
 * krx_engine). The subcommands are the rows of COMMANDS below, which drives
 * dispatch, the usage messages and the help; validate, test, replace and
 * generate each call one of the five functions of include/kelvaron_regex.h
 * and print its answer, grep prepares its pattern once and searches the
 * lines of its files with the engine's own entry points (cli_grep.cpp),
 * each line as rx_test would search it.
 *
 * By default the JSON answer is printed as it came back, followed by a
 * newline. With --human the answer is read back (cli_answers.cpp) and shown
 * in a form meant for people (the marker view is cli_markers.cpp). Patterns
 * that look written for another dialect draw warnings on standard error
 * (cli_lint.cpp, from the library's analysis); they never change the answer.
 * lint and explain show that analysis itself.
 *
 * Exit status, as grep's: 0 a match (validate, generate: an answer), 1 no
 * match, 2 an error (a refused call, a usage error, unreadable input). */
#include "kelvaron_regex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <fcntl.h>
#  include <io.h>
#endif

#include "cli_answers.h"
#include "cli_common.h"
#include "cli_grep.h"
#include "cli_markers.h"
#include "cli_lint.h"
#include "rx_analysis.h"
#include "cli_serve.h"

namespace cli {
namespace {

/* The options a command takes, as bits. */
enum : unsigned {
    OPT_HUMAN = 1u,     /* -H, --human */
    OPT_FILE = 2u,      /* -f, --file */
    OPT_JSON = 4u,      /* --json FILE */
    OPT_COLOR = 8u,     /* --color */
    OPT_JSON_OUT = 16u, /* lint, explain: --json (the answer as JSON) */
};

struct Options {
    bool human = false;
    bool help = false;
    bool version = false;
    const char *file = nullptr; /* --file FILE */
    const char *json = nullptr; /* --json FILE */
    bool json_out = false;      /* lint, explain: --json */
    ColorMode color = ColorMode::AUTO;
    std::vector<const char *> args; /* the command and its positional arguments */
};

struct Command {
    const char *name;
    const char *synopsis; /* after "kelvaron-regex " */
    const char *help;     /* lines indented by six spaces */
    unsigned takes;       /* OPT bits */
    int (*run)(const Options &);
    /* A command that reads its own command line instead: every argument but
     * the command word (and a "--" before it). Then run and takes are not
     * used. */
    int (*run_own)(const std::vector<const char *> &args);
};

int cmd_validate(const Options &opt);
int cmd_test(const Options &opt);
int cmd_replace(const Options &opt);
int cmd_generate(const Options &opt);
int cmd_grep(const std::vector<const char *> &args);
int cmd_lint(const Options &opt);
int cmd_explain(const Options &opt);

const Command COMMANDS[] = {
    {"validate", "validate PATTERN",
     "      Is PATTERN acceptable? Prints {\"ok\":true} or\n"
     "      {\"ok\":false,\"error\":\"...\"}. A rejected pattern is an answer too, so\n"
     "      the exit status is 0 either way.\n",
     OPT_HUMAN, cmd_validate, nullptr},
    {"test", "test PATTERN [TEXT]",
     "      Lists every match of PATTERN in TEXT, left to right, with the span and\n"
     "      text of each match and of each capture group (1 to 16) that took part:\n"
     "      {\"matches\":[{\"start\":S,\"end\":E,\"text\":\"...\",\"groups\":[\n"
     "        {\"index\":N,\"start\":S,\"end\":E,\"text\":\"...\"}]}]}\n"
     "      Exit status 0 when there is a match, 1 when there is none.\n",
     OPT_HUMAN | OPT_FILE | OPT_COLOR, cmd_test, nullptr},
    {"replace", "replace PATTERN REPLACEMENT [TEXT]",
     "      Replaces every match of PATTERN in TEXT with REPLACEMENT, taken\n"
     "      literally (no group references, no escapes):\n"
     "      {\"result\":\"...\",\"count\":N}\n"
     "      Exit status 0 when something was replaced, 1 when nothing matched.\n",
     OPT_HUMAN | OPT_FILE, cmd_replace, nullptr},
    {"generate", "generate EXAMPLE... | generate --json FILE",
     "      Synthesises an anchored pattern that matches every example:\n"
     "      {\"pattern\":\"^...$\",\"verbose\":\"(?x)\\n^\\n  ...\\n$\"}\n"
     "      The EXAMPLE arguments are turned into a JSON array of strings; with\n"
     "      --json the array is read as it stands from FILE (- for standard\n"
     "      input). 1 to 64 examples of at most 4096 bytes each; they must be\n"
     "      valid UTF-8, as JSON text must be.\n",
     OPT_HUMAN | OPT_JSON, cmd_generate, nullptr},
    {"grep", "grep [OPTIONS] PATTERNS [FILE...]", GREP_HELP, 0, nullptr, cmd_grep},
    {"lint", "lint [--json] PATTERN",
     "      Tells what the pattern does under this library's rule (every part keeps\n"
     "      the first match it finds): where it can never match (never-matches),\n"
     "      parts that are never used (dead), matches that are not what the pattern\n"
     "      seems to say (note), and what other dialects read otherwise (dialect).\n"
     "      Each finding shows the pattern with ^~~ under its bytes, its message and\n"
     "      the suggested patterns with their meaning. --json prints\n"
     "      {\"findings\":[{\"code\":\"...\",\"effect\":\"...\",\"start\":S,\"end\":E,\n"
     "        \"message\":\"...\",\"suggestions\":[{\"pattern\":\"...\",\"meaning\":\"...\"}]}]}\n"
     "      or {\"error\":{\"message\":\"...\",\"offset\":N}} for an invalid pattern.\n"
     "      Exit status 0 when there is no finding, 1 when there are, 2 for an\n"
     "      invalid pattern.\n",
     OPT_JSON_OUT, cmd_lint, nullptr},
    {"explain", "explain [--json] PATTERN",
     "      Shows the pattern as a tree of its parts, one line each: its text, its\n"
     "      kind and what it matches in plain words. --json prints\n"
     "      {\"tree\":{\"kind\":\"...\",\"start\":S,\"end\":E,\"text\":\"...\",\n"
     "        \"description\":\"...\",\"children\":[...]}}\n"
     "      (texts longer than 200 bytes are cut, with ... after them). Exit status\n"
     "      0, or 2 for an invalid pattern.\n",
     OPT_JSON_OUT, cmd_explain, nullptr},
    {"serve", "serve [--port N] [--open]", SERVE_HELP, 0, nullptr, run_serve},
};

const char HELP_INTRO[] = "Usage: kelvaron-regex [OPTIONS] COMMAND ARGUMENTS...\n"
                          "\n"
                          "A command-line host for the kelvaron-regex library. Each command calls the\n"
                          "library and prints its JSON answer on standard output, followed by a\n"
                          "newline (grep prints lines, as grep does).\n"
                          "\n"
                          "Commands:\n";

const char HELP_REST[] =
    "\n"
    "Where the text comes from (test, replace):\n"
    "  the TEXT argument when it is given; otherwise the file named by --file;\n"
    "  otherwise standard input (also with --file -). Giving both TEXT and\n"
    "  --file is a usage error. A text read from a file or standard input is\n"
    "  taken whole, final line break included (echo adds one).\n"
    "\n"
    "Options (anywhere on the line; -- ends the options, so that a PATTERN or\n"
    "TEXT that begins with '-' can follow it):\n"
    "  -H, --human       show the answer for people instead of the JSON text\n"
    "                    (grep reads its own options: there -H names the file):\n"
    "                      validate  \"ok\" or the reason the pattern is rejected\n"
    "                      test      the lines of the text that hold a match, with\n"
    "                                a marker line under each (^~~ marks a match,\n"
    "                                ^ its first byte; | marks an empty match just\n"
    "                                before the byte above it, or at the end of\n"
    "                                the line), then each match with its number,\n"
    "                                span and text and each group's number, span\n"
    "                                and text; spans are byte offsets [start,end).\n"
    "                                Lines without a match are left out (...).\n"
    "                                Bytes that do not print are shown as \\t \\n\n"
    "                                \\r or \\xHH, a backslash as \\\\; a line break\n"
    "                                shows as \\n when a match covers it. Markers\n"
    "                                follow the width a terminal gives each\n"
    "                                character (2 for wide ones, 0 for combining)\n"
    "                      replace   the resulting text, then the count\n"
    "                      generate  the compact pattern, an empty line, and the\n"
    "                                verbose form line by line\n"
    "  -f, --file FILE   read TEXT from FILE (- for standard input); also\n"
    "                    --file=FILE\n"
    "      --json FILE   generate: read the JSON array of examples from FILE\n"
    "                    (- for standard input); also --json=FILE\n"
    "      --color[=WHEN]  test --human: show matched text in colour;\n"
    "                    WHEN is auto (the default: when standard output is a\n"
    "                    terminal and TERM is not dumb), always or never\n"
    "      --json        lint, explain: print the answer as JSON\n"
    "      --version     print the library's version and exit\n"
    "  -h, --help        show this help and exit (for grep -h means: do not\n"
    "                    name the file; COMMAND --help shows that command's help)\n"
    "\n"
    "Warnings:\n"
    "  validate, test, replace and grep warn on standard error, naming the byte\n"
    "  offset, where the pattern can never match or has a part that is never\n"
    "  used, and where it looks written for another dialect: \\n \\t \\r \\f \\v\n"
    "  \\a \\e \\0 \\A \\z \\Q ... are letters and digits, \\1 to \\9 digits (there are\n"
    "  no back-references); inside brackets a backslash is a plain byte and\n"
    "  [:alpha:] no class; a flag group counts only at the very start; groups\n"
    "  after the 16th are not reported. Warnings never change the answer; lint\n"
    "  shows them all, with suggestions.\n"
    "\n"
    "Bytes and limits:\n"
    "  Everything is handled as bytes; offsets are byte offsets. The library\n"
    "  takes NUL-terminated strings, so a text cannot hold a NUL byte: none can\n"
    "  come through an argument, and when a text or JSON input read from a file\n"
    "  or standard input holds one, the input ends at that byte (a note says so\n"
    "  on standard error). grep searches whole lines, NUL bytes included, and\n"
    "  takes files with NUL bytes for binary files as grep does. A text (a\n"
    "  line, for grep) may hold at most 10485760 bytes.\n"
    "\n"
    "Exit status:\n"
    "  0  test, replace, grep: a match; validate, generate: the library answered\n"
    "  1  test, replace, grep: no match\n"
    "  2  an error: the library refused the call (its reason, as rx_last_error()\n"
    "     gives it, is on standard error after \"kelvaron-regex: \": \"invalid\n"
    "     pattern: ...\", \"backtracking limit reached\", \"text exceeds 10485760\n"
    "     bytes\", \"invalid JSON\", ...), a usage error, or an input file that\n"
    "     cannot be read\n"
    "\n"
    "Examples:\n"
    "  kelvaron-regex validate 'a(b|c'\n"
    "  kelvaron-regex test 'a(b|c)' 'ab ac'\n"
    "  kelvaron-regex -H test '\\d+' --file notes.txt\n"
    "  echo banana | kelvaron-regex replace a o\n"
    "  kelvaron-regex generate 2023-12-01 2024-01-15\n"
    "  kelvaron-regex grep -n -i 'error|fatal' app.log\n"
    "  kelvaron-regex grep -r --include='*.c' -w -e main -e init src\n"
    "  kelvaron-regex -- test '-?\\d+' 'x -12 y'\n";

const Command *find_command(const char *name) {
    for (const Command &c : COMMANDS) {
        if (name != nullptr && std::strcmp(c.name, name) == 0) return &c;
    }
    return nullptr;
}

std::string command_names() {
    std::string names;
    for (const Command &c : COMMANDS) {
        if (!names.empty()) names += ", ";
        names += c.name;
    }
    return names;
}

int show_help(const Command *cmd) {
    if (cmd != nullptr) {
        std::printf("Usage: kelvaron-regex %s\n\n%s\nSee 'kelvaron-regex --help' for the options.\n",
                    cmd->synopsis, cmd->help);
    } else {
        std::fputs(HELP_INTRO, stdout);
        for (const Command &c : COMMANDS) std::printf("  %s\n%s", c.synopsis, c.help);
        std::fputs(HELP_REST, stdout);
    }
    return flush_stdout() ? EXIT_MATCH : EXIT_ERROR;
}

int usage_error(const char *fmt, const char *arg) {
    std::fprintf(stderr, "%s: ", PROGRAM);
    std::fprintf(stderr, fmt, arg);
    std::fprintf(stderr, "\nTry '%s --help'.\n", PROGRAM);
    return EXIT_ERROR;
}

/* ---------------------------------------------------------------------------
 * Command line */

bool takes_value(const char *a) {
    return std::strcmp(a, "-f") == 0 || std::strcmp(a, "--file") == 0 || std::strcmp(a, "--json") == 0;
}

/* The command word: the first argument that is neither an option nor an
 * option's value, and its index in *at. The other options are read knowing
 * it, since grep reads its own. */
const char *command_word(int argc, char **argv, int *at) {
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--") == 0) {
            *at = i + 1;
            return i + 1 < argc ? argv[i + 1] : nullptr;
        }
        if (a[0] != '-' || a[1] == '\0') {
            *at = i;
            return a;
        }
        if (takes_value(a)) ++i;
    }
    return nullptr;
}

/* Stores the FILE of an option written "NAME=FILE" or "NAME FILE" (the next
 * argument, past which *i then moves). Returns -1 when taken, otherwise the
 * exit status of the usage error reported. */
int take_file_option(const char *a, const char *long_name, int argc, char **argv, int *i, const char **slot) {
    const size_t n = std::strlen(long_name);
    const char *value = nullptr;
    if (std::strncmp(a, long_name, n) == 0 && a[n] == '=') {
        value = a + n + 1;
    } else if (*i + 1 < argc) {
        value = argv[++*i];
    } else {
        return usage_error("option %s needs a FILE", a);
    }
    if (*slot != nullptr) return usage_error("%s given twice", long_name);
    *slot = value;
    return -1;
}

/* Reads one option a (at argv[*i]) into opt; *bit is set to its OPT bit
 * (0 for those every command takes). Returns -1 when taken, otherwise the
 * exit status of the usage error reported. */
int take_option(const char *a, bool json_flag, int argc, char **argv, int *i, Options &opt, unsigned *bit) {
    *bit = 0;
    if (std::strcmp(a, "-H") == 0 || std::strcmp(a, "--human") == 0) {
        opt.human = true;
        *bit = OPT_HUMAN;
    } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
        opt.help = true;
    } else if (std::strcmp(a, "--version") == 0) {
        opt.version = true;
    } else if (std::strcmp(a, "--color") == 0 || std::strcmp(a, "--colour") == 0) {
        opt.color = ColorMode::AUTO;
        *bit = OPT_COLOR;
    } else if (std::strncmp(a, "--color=", 8) == 0 || std::strncmp(a, "--colour=", 9) == 0) {
        if (!parse_color_mode(std::strchr(a, '=') + 1, &opt.color)) {
            return usage_error("%s: WHEN is auto, always or never", a);
        }
        *bit = OPT_COLOR;
    } else if (std::strcmp(a, "-f") == 0 || std::strcmp(a, "--file") == 0 ||
               std::strncmp(a, "--file=", 7) == 0) {
        *bit = OPT_FILE;
        return take_file_option(a, "--file", argc, argv, i, &opt.file);
    } else if (json_flag && std::strcmp(a, "--json") == 0) {
        opt.json_out = true;
        *bit = OPT_JSON_OUT;
    } else if (std::strcmp(a, "--json") == 0 || std::strncmp(a, "--json=", 7) == 0) {
        *bit = OPT_JSON;
        return take_file_option(a, "--json", argc, argv, i, &opt.json);
    } else {
        return usage_error("unknown option '%s' (put -- before an argument that begins with '-')", a);
    }
    return -1;
}

/* Reads the options wherever they stand; everything else, and everything
 * after "--", is positional. A lone "-" is positional too. An option that
 * the command does not take is a usage error. Returns -1 when the line is
 * fine, otherwise the exit status of the usage error reported. */
int parse_command_line(int argc, char **argv, const Command *cmd, Options &opt) {
    const bool json_flag = cmd != nullptr && (cmd->takes & OPT_JSON_OUT) != 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (options_done || a[0] != '-' || a[1] == '\0') {
            opt.args.push_back(a);
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            options_done = true;
            continue;
        }
        unsigned bit = 0;
        const int st = take_option(a, json_flag, argc, argv, &i, opt, &bit);
        if (st >= 0) return st;
        if (cmd != nullptr && bit != 0 && (cmd->takes & bit) == 0) {
            std::string what = std::string("'") + a + "' does not go with " + cmd->name;
            return usage_error("%s", what.c_str());
        }
    }
    return -1;
}

/* ---------------------------------------------------------------------------
 * Input */

/* Reads a whole stream. Returns false on a read error. */
bool read_stream(std::FILE *f, std::string &out) {
    char chunk[65536];
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, f);
        out.append(chunk, got);
        if (got < sizeof chunk) return std::ferror(f) == 0;
    }
}

/* Reads FILE, or standard input when FILE is "-". The library takes
 * NUL-terminated strings, so the input ends at its first NUL byte; that cut
 * is announced on standard error rather than made silently. Returns false
 * (after reporting) when the input cannot be read. */
bool read_input(const char *path, const char *what, std::string &out) {
    bool from_stdin = std::strcmp(path, "-") == 0;
    std::FILE *f = from_stdin ? stdin : std::fopen(path, "rb");
    if (f == nullptr) {
        error("cannot open %s: %s", path, std::strerror(errno));
        return false;
    }
    bool ok = read_stream(f, out);
    int saved_errno = errno;
    if (!from_stdin) std::fclose(f);
    if (!ok) {
        error("cannot read %s: %s", from_stdin ? "standard input" : path, std::strerror(saved_errno));
        return false;
    }
    size_t nul = out.find('\0');
    if (nul != std::string::npos) {
        error("note: the %s holds a NUL byte at offset %zu; only the %zu bytes before it are used", what, nul,
              nul);
        out.resize(nul);
    }
    return true;
}

/* The text of test and replace: the argument at position index when there is
 * one, else --file, else standard input. Returns -1 when it was read,
 * otherwise the exit status to leave with. */
int take_text(const Options &opt, size_t index, std::string &text) {
    if (opt.args.size() > index) {
        if (opt.file != nullptr)
            return usage_error("%s", "give the TEXT either as an argument or with --file");
        text = opt.args[index];
        return -1;
    }
    return read_input(opt.file != nullptr ? opt.file : "-", "text", text) ? -1 : EXIT_ERROR;
}

/* The examples as a JSON array of strings: quote and backslash escaped,
 * control bytes as \n \r \t \b \f or \u00XX, every other byte (UTF-8
 * included) as it stands. */
std::string examples_to_json(const std::vector<const char *> &examples) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "[";
    for (size_t k = 0; k < examples.size(); ++k) {
        if (k > 0) out += ',';
        out += '"';
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(examples[k]); *p; ++p) {
            unsigned char b = *p;
            switch (b) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (b < 0x20) {
                    out += "\\u00";
                    out += hex[b >> 4];
                    out += hex[b & 15];
                } else {
                    out += static_cast<char>(b);
                }
            }
        }
        out += '"';
    }
    out += ']';
    return out;
}

/* ---------------------------------------------------------------------------
 * Commands */

/* A call the library refused: its reason on standard error. */
int refused() {
    error("%s", rx_last_error());
    return EXIT_ERROR;
}

/* Writes the answer as it came (a copy: the library's buffer is reused),
 * and the note that the human view could not read it when human is set. */
void write_raw(const std::string &answer, bool human) {
    if (human) error("note: showing the answer as it came");
    write_str(answer);
    write_bytes("\n", 1);
}

/* The end of every command: status when the output was written, else 2. */
int done(int status) { return flush_stdout() ? status : EXIT_ERROR; }

int cmd_validate(const Options &opt) {
    if (opt.args.size() != 2) return usage_error("%s", "validate takes exactly one PATTERN");
    warn_findings(opt.args[1]);
    const char *answer = rx_validate(opt.args[1]);
    if (answer == nullptr) return refused();
    const std::string copy(answer);
    bool ok = false;
    std::string reason;
    if (opt.human && read_validate_answer(copy.c_str(), &ok, &reason)) {
        rx_lint l;
        if (!ok && rx_analysis_lint(opt.args[1], &l) == 0) {
            /* the pattern, a caret under the byte where it went wrong, the message */
            show_caret(opt.args[1], l.invalid ? l.error_offset : 0, reason.c_str());
            rx_analysis_lint_free(&l);
        } else {
            write_str(ok ? std::string("ok") : reason);
            write_bytes("\n", 1);
        }
    } else {
        write_raw(copy, opt.human);
    }
    return done(EXIT_MATCH);
}

/* The human view of a test answer: the marker view, then the list. */
void show_test(const std::vector<MatchInfo> &matches, const std::string &text, bool color) {
    if (matches.empty()) {
        write_str("no match\n");
        return;
    }
    show_text_with_markers(text, matches, color);
    char line[160];
    std::snprintf(line, sizeof line, "%zu match%s\n", matches.size(), matches.size() == 1 ? "" : "es");
    write_str(line);
    for (size_t k = 0; k < matches.size(); ++k) {
        const MatchInfo &m = matches[k];
        std::snprintf(line, sizeof line, "  #%zu [%lld,%lld) ", k + 1, m.start, m.end);
        write_str(line);
        write_str(quote_for_people(m.text));
        write_str("\n");
        for (const GroupInfo &g : m.groups) {
            std::snprintf(line, sizeof line, "      group %lld [%lld,%lld) ", g.index, g.start, g.end);
            write_str(line);
            write_str(quote_for_people(g.text));
            write_str("\n");
        }
    }
}

/* Spans must lie within the text, in order and without overlap. */
bool spans_fit(const std::vector<MatchInfo> &matches, const std::string &text) {
    long long prev_end = 0;
    for (const MatchInfo &m : matches) {
        if (m.start < prev_end || m.end < m.start || m.end > static_cast<long long>(text.size())) {
            return false;
        }
        prev_end = m.end;
    }
    return true;
}

int cmd_test(const Options &opt) {
    if (opt.args.size() < 2 || opt.args.size() > 3) return usage_error("%s", "usage: test PATTERN [TEXT]");
    std::string text;
    const int st = take_text(opt, 2, text);
    if (st >= 0) return st;
    warn_findings(opt.args[1]);
    const char *answer = rx_test(opt.args[1], text.c_str());
    if (answer == nullptr) return refused();
    const std::string copy(answer);
    std::vector<MatchInfo> matches;
    if (!read_test_answer(copy.c_str(), matches) || !spans_fit(matches, text)) {
        write_raw(copy, opt.human);
        error("cannot read the answer of rx_test");
        return done(EXIT_ERROR);
    }
    if (opt.human) {
        show_test(matches, text, color_wanted(opt.color));
    } else {
        write_raw(copy, false);
    }
    return done(matches.empty() ? EXIT_NONE : EXIT_MATCH);
}

int cmd_replace(const Options &opt) {
    if (opt.args.size() < 3 || opt.args.size() > 4) {
        return usage_error("%s", "usage: replace PATTERN REPLACEMENT [TEXT]");
    }
    std::string text;
    const int st = take_text(opt, 3, text);
    if (st >= 0) return st;
    warn_findings(opt.args[1]);
    const char *answer = rx_replace_preview(opt.args[1], text.c_str(), opt.args[2]);
    if (answer == nullptr) return refused();
    const std::string copy(answer);
    std::string result;
    long long count = 0;
    if (!read_replace_answer(copy.c_str(), &result, &count)) {
        write_raw(copy, opt.human);
        error("cannot read the answer of rx_replace_preview");
        return done(EXIT_ERROR);
    }
    if (opt.human) {
        write_str(result);
        if (!result.empty() && result.back() != '\n') write_str("\n");
        char line[64];
        std::snprintf(line, sizeof line, "count: %lld\n", count);
        write_str(line);
    } else {
        write_raw(copy, false);
    }
    return done(count > 0 ? EXIT_MATCH : EXIT_NONE);
}

int cmd_generate(const Options &opt) {
    std::string json;
    if (opt.json != nullptr) {
        if (opt.args.size() > 1)
            return usage_error("%s", "give the examples either as arguments or with --json");
        if (!read_input(opt.json, "JSON input", json)) return EXIT_ERROR;
    } else {
        if (opt.args.size() < 2)
            return usage_error("%s", "generate needs at least one EXAMPLE (or --json FILE)");
        json = examples_to_json(std::vector<const char *>(opt.args.begin() + 1, opt.args.end()));
    }
    const char *answer = rx_generate(json.c_str());
    if (answer == nullptr) return refused();
    const std::string copy(answer);
    std::string pattern, verbose;
    if (opt.human && read_generate_answer(copy.c_str(), &pattern, &verbose)) {
        write_str(pattern);
        write_str("\n\n");
        write_str(verbose);
        if (verbose.empty() || verbose.back() != '\n') write_str("\n");
    } else {
        write_raw(copy, opt.human);
    }
    return done(EXIT_MATCH);
}

int show_version() {
    std::printf("%s %s\n", PROGRAM, KELVARON_REGEX_VERSION_STRING);
    return done(EXIT_MATCH);
}

int cmd_grep(const std::vector<const char *> &args) {
    GrepOptions g;
    const int st = parse_grep_args(args, g);
    if (st >= 0) return st;
    if (g.help) return show_help(find_command("grep"));
    if (g.version) return show_version();
    return run_grep(g);
}

int cmd_lint(const Options &opt) {
    if (opt.args.size() != 2) return usage_error("%s", "usage: lint [--json] PATTERN");
    return run_lint(opt.args[1], opt.json_out);
}

int cmd_explain(const Options &opt) {
    if (opt.args.size() != 2) return usage_error("%s", "usage: explain [--json] PATTERN");
    return run_explain(opt.args[1], opt.json_out);
}

int run(int argc, char **argv) {
    int word_at = 0;
    const char *word = command_word(argc, argv, &word_at);
    const Command *cmd = find_command(word);
    if (cmd != nullptr && cmd->run_own != nullptr) {
        std::vector<const char *> args;
        for (int i = 1; i < argc; ++i) {
            const bool dashes_before_word = i + 1 == word_at && std::strcmp(argv[i], "--") == 0;
            if (i != word_at && !dashes_before_word) args.push_back(argv[i]);
        }
        return cmd->run_own(args);
    }
    Options opt;
    const int st = parse_command_line(argc, argv, cmd, opt);
    if (st >= 0) return st;
    if (opt.version) return show_version();
    if (opt.help) return show_help(cmd);
    if (word == nullptr) return usage_error("no command given (%s)", command_names().c_str());
    if (cmd == nullptr) {
        std::string what = std::string("unknown command '") + word + "' (" + command_names() + ")";
        return usage_error("%s", what.c_str());
    }
    return cmd->run(opt);
}

} /* namespace */
} /* namespace cli */

int main(int argc, char **argv) {
#if defined(_WIN32)
    /* Texts and answers are bytes: no line-break translation on the way in or out. */
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return cli::run(argc, argv);
}
