/*
 * Seeded generator of random patterns and texts for the generated tests
 * (pattern_gen.cpp).
 *
 * Patterns are drawn from the whole pattern language: literal bytes (high
 * bytes included), escaped bytes, ".", bracket classes with ranges and
 * negation, the shorthand classes, "^" "$" "\b" "\B", capturing and
 * non-capturing groups, alternation with empty alternatives, every
 * quantifier form greedy or lazy (counted forms with min above max and
 * brace texts that are no quantifier), leading flag groups, start-anchored
 * alternations, and now and then a syntax error. Texts are drawn over a small
 * alphabet taken from the pattern's own bytes so that matches are likely.
 *
 * The random source is a fixed 64-bit generator, so a seed gives the same
 * cases on every platform and compiler.
 */
#ifndef KRX_TEST_PATTERN_GEN_H
#define KRX_TEST_PATTERN_GEN_H

#include <stddef.h>
#include <stdint.h>

#include <string>

typedef struct pg_rng {
    uint64_t state;
} pg_rng;

void pg_seed(pg_rng *rng, uint64_t seed);
uint64_t pg_next(pg_rng *rng);
/* Uniform in [0, n); 0 when n is 0. */
uint32_t pg_below(pg_rng *rng, uint32_t n);
/* 1 with the given chance in percent. */
int pg_chance(pg_rng *rng, uint32_t percent);

/* Shape of the generated patterns. */
typedef struct pg_options {
    int max_depth;       /* group nesting */
    int max_items;       /* items per sequence */
    int max_alts;        /* alternatives per alternation */
    int flags_percent;   /* chance of a leading flag group */
    int anchor_percent;  /* chance of a start-anchored alternation */
    int invalid_percent; /* chance of a deliberate syntax error */
} pg_options;

/* Small patterns suited to texts of a few dozen bytes. */
void pg_default_options(pg_options *opt);

/* A random pattern. */
std::string pg_pattern(pg_rng *rng, const pg_options *opt);

/* A random text of at most max_len bytes over an alphabet taken from the
 * pattern's bytes plus a few others (line feed, carriage return, tab, space,
 * NUL, a capital, a digit, "_", a high byte). */
std::string pg_text(pg_rng *rng, const std::string &pattern, size_t max_len);

/* A text of exactly len bytes that repeats a short random unit drawn like
 * pg_text's bytes, sometimes ending in one different byte: long texts on
 * which repetitions run long. */
std::string pg_long_text(pg_rng *rng, const std::string &pattern, size_t len);

/* The bytes of s written as a C string literal, for reproducing a case. */
std::string pg_quote(const std::string &s);

/* A pattern built around the shapes the lint looks at (a run followed by a
 * byte it takes, a lazy or bounded run before a byte, an alternative that
 * begins with an earlier one, a loop over runs, anchors and boundaries
 * between bytes), mixed with pieces from pg_pattern. */
std::string pg_shaped_pattern(pg_rng *rng, const pg_options *opt);

#endif /* KRX_TEST_PATTERN_GEN_H */
