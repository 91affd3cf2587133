/*
 * Match enumeration (rx_walk.cpp): the walk over the matches of a prepared
 * pattern in a text, left to right, by the library's rules. rx_test and
 * rx_replace_preview enumerate through it, and so does a host that searches
 * texts of known length itself (the command-line grep: each line a text).
 *
 * The rules: the searches of one walk draw on one budget, armed for the
 * text before the walk starts; after an empty match the next search starts
 * one byte further, and a match may start where a non-empty one ended; a
 * prog that can match only at offset 0 (prog->anchored) has no further
 * match after its first. The text is n bytes; a NUL byte in it is a byte
 * like any other.
 */
#ifndef RX_WALK_H
#define RX_WALK_H

#include <stdint.h>

#include "rx_match_win.h"

typedef struct rx_walk {
    rx_prog *prog;    /* prepared, armed for this text; not owned */
    const char *text; /* the text, n bytes; not owned */
    uint64_t n;
    uint64_t offset; /* where the next search starts */
    int done;        /* 1 once no further match can come */
} rx_walk;

/* Starts a walk over the n bytes at text with a prog whose budget was
 * armed for them (rx_engine_arm, or rx_engine_measure for a NUL-terminated
 * text, which lets a literal prefix's searches look up what it noted). */
void rx_walk_start(rx_walk *w, rx_prog *prog, const char *text, uint64_t n);

/* The next match: RX_FOUND with its span (and caps, when given, as the
 * search left it), RX_NONE when there is none, or the search's failure
 * (RX_OUT_OF_BUDGET, RX_OUT_OF_MEMORY; its reason in
 * rx_engine_last_error()), after which the walk is done too. */
int rx_walk_next(rx_walk *w, uint64_t *s, uint64_t *e, rx_caps *caps);

#endif /* RX_WALK_H */
