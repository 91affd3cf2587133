/* Which files grep searches (cli_files.cpp): its operands, the folders that
 * -r and -R walk, and the --include, --exclude and --exclude-dir globs. */
#ifndef KRX_CLI_FILES_H
#define KRX_CLI_FILES_H

#include <functional>
#include <string>

#include "cli_grep.h"

namespace cli {

/* One file to search. */
struct InputFile {
    std::string path;  /* what to open; "-" for standard input */
    std::string name;  /* how output and messages call it */
    bool found_inside; /* found in a folder that -r walked (its name is shown) */
};

/* 1 when name matches glob as fnmatch without flags matches it: * any
 * bytes, ? one byte, [...] one byte of a set ([!...] or [^...] of its
 * complement, ranges a-z, a ] first is a member), \x the byte x. */
bool glob_match(const char *glob, const char *name);

/* Hands each file to search, in grep's order, to search: the operands as
 * given (standard input for "-", and when there are none without -r; the
 * working folder when there are none with -r), folders walked depth first
 * in the order they list their entries. What cannot be searched (a missing
 * file, a folder without -r) is reported unless -s, and sets *failed.
 * search returns false to end the walk. */
void walk_inputs(const GrepOptions &opt, const std::function<bool(const InputFile &)> &search, bool *failed);

} /* namespace cli */

#endif
