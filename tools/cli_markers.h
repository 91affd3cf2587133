/* The human view of a text: bytes shown so that people can read them, and
 * the marker view that puts ^~~ under the matches of each line. */
#ifndef KRX_CLI_MARKERS_H
#define KRX_CLI_MARKERS_H

#include <cstddef>
#include <string>
#include <vector>

#include "cli_answers.h"

namespace cli {

/* Length of the well-formed UTF-8 sequence that starts at s[i], or 0 when the
 * bytes there are not one (a stray continuation byte, an overlong form, a
 * surrogate, a value above U+10FFFF or a cut-off sequence). */
size_t utf8_sequence_length(const std::string &s, size_t i);

/* Columns a terminal gives the character of the well-formed sequence
 * s[i, i+len): 2 for wide (East Asian wide and full-width characters,
 * most emoji), 0 for combining marks and other zero-width characters,
 * 1 otherwise. A byte that is not part of well-formed UTF-8 would take one
 * column; the views below never write such a byte as it stands. */
int utf8_display_width(const std::string &s, size_t i, size_t len);

/* A byte string in double quotes: printable ASCII and well-formed printable
 * UTF-8 as they stand, \" \\ \t \n \r, every other byte as \xHH. */
std::string quote_for_people(const std::string &s);

/* Shows the lines of text that hold (part of) a match, each followed by its
 * marker line; matches must be in order, without overlap, within the text.
 * With color, the matched bytes of each line are shown in the match colour. */
void show_text_with_markers(const std::string &text, const std::vector<MatchInfo> &matches, bool color);

} /* namespace cli */

#endif
