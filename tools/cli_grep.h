/* The grep subcommand: searches files line by line as GNU grep does, with
 * GNU grep's flags and output, the library's engine and its dialect. Its
 * parts:
 *   cli_grep_args.cpp     the command line, read as grep reads it, and the help
 *   cli_grep_pattern.cpp  the one pattern made of -e/-f patterns and -F -i -w -x
 *   cli_files.cpp         which files are searched: operands, -r/-R, --include ...
 *   cli_grep_output.cpp   what is written: prefixes, colours (GREP_COLORS), context
 *   cli_grep.cpp          the search: blocks of lines, candidates, binary files */
#ifndef KRX_CLI_GREP_H
#define KRX_CLI_GREP_H

#include <string>
#include <vector>

#include "cli_common.h"

namespace cli {

enum class ListMode { NONE, WITH_MATCH, WITHOUT_MATCH }; /* -l, -L */

/* What a file with a NUL byte is taken for (--binary-files). */
enum class BinaryMode { BINARY, TEXT, WITHOUT_MATCH }; /* the default, -a, -I */

/* An --include (include set) or --exclude glob, in the order given. */
struct GlobRule {
    std::string glob;
    bool include;
};

struct GrepOptions {
    /* the patterns and how they are read */
    std::vector<std::string> patterns; /* from -e and -f in order, or the first operand */
    bool fixed = false;                /* -F: each pattern is a literal text */
    bool ignore_case = false;          /* -i: letters of either case (ASCII) */
    bool word = false;                 /* -w: \b(?:P)\b */
    bool line = false;                 /* -x: ^(?:P)$ */
    /* which lines are selected and what is printed */
    bool invert = false; /* -v: the lines without a match */
    bool count = false;  /* -c */
    ListMode list = ListMode::NONE;
    bool only_matching = false;   /* -o */
    bool quiet = false;           /* -q */
    bool no_messages = false;     /* -s: no messages on files that cannot be read */
    long long max_count = -1;     /* -m: stop after so many selected lines; -1 never */
    bool line_numbers = false;    /* -n */
    bool byte_offsets = false;    /* -b: the offset of each line (-o: match) in its file */
    int with_filename = -1;       /* -H 1, -h 0; -1: names when more than one file */
    long long after = 0;          /* -A, -C */
    long long before = 0;         /* -B, -C */
    bool context = false;         /* some context option was given: groups are separated */
    bool group_separators = true; /* --no-group-separator clears it */
    std::string group_separator = "--";
    BinaryMode binary = BinaryMode::BINARY;
    std::string label = "(standard input)"; /* --label */
    ColorMode color = ColorMode::AUTO;
    /* the files */
    int recursive = 0;                     /* 1: -r, 2: -R (symbolic links followed everywhere) */
    std::vector<GlobRule> file_rules;      /* --include, --exclude */
    std::vector<std::string> exclude_dirs; /* --exclude-dir */
    std::vector<std::string> files;        /* the operands after the pattern */
    /* not a search */
    bool help = false;
    bool version = false;
};

/* The help of grep, lines indented by six spaces, for the command table. */
extern const char GREP_HELP[];

/* Reads grep's command line (every argument but the command word). Returns
 * -1 when it is fine, otherwise the exit status of the usage error that was
 * reported. */
int parse_grep_args(const std::vector<const char *> &args, GrepOptions &opt);

/* Searches as opt says. Returns 0 when a line was selected, 1 when none
 * was, 2 after an error (a pattern, a file that cannot be read, a line the
 * engine refused), unless -q found a line. */
int run_grep(const GrepOptions &opt);

} /* namespace cli */

#endif
