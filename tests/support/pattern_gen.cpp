/*
 * Random patterns and texts for the generated tests. The pattern grammar
 * mirrors the parser's: an optional leading flag group, then an alternation
 * of sequences of items, each item an anchor or an atom with at most one
 * quantifier. Sizes stay small so that the recursive reference matcher and
 * the texts of a few dozen bytes give a good share of matches, failures and
 * partial matches.
 */
#include "pattern_gen.h"

#include <stdio.h>

/* splitmix64: one multiply-xorshift round per number; good enough mixing
 * for test data and identical everywhere. */
void pg_seed(pg_rng *rng, uint64_t seed) { rng->state = seed; }

uint64_t pg_next(pg_rng *rng) {
    uint64_t z = (rng->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t pg_below(pg_rng *rng, uint32_t n) {
    if (n == 0) return 0;
    return (uint32_t)(pg_next(rng) % n);
}

int pg_chance(pg_rng *rng, uint32_t percent) { return pg_below(rng, 100) < percent; }

void pg_default_options(pg_options *opt) {
    opt->max_depth = 3;
    opt->max_items = 4;
    opt->max_alts = 3;
    opt->flags_percent = 12;
    opt->anchor_percent = 8;
    opt->invalid_percent = 2;
}

static char pick(pg_rng *rng, const char *from) {
    size_t len = 0;
    while (from[len]) len++;
    return from[pg_below(rng, (uint32_t)len)];
}

/* Literal bytes: mostly a, b, c so that texts hit them often; sometimes a
 * capital (for the case flag), a digit, space, "_", a line feed, a byte
 * from 128 up, or one of the bytes that read as literals although they look
 * like syntax. */
static void gen_literal(pg_rng *rng, std::string &out) {
    uint32_t r = pg_below(rng, 100);
    if (r < 70)
        out += pick(rng, "aabbc");
    else if (r < 78)
        out += pick(rng, "ABC");
    else if (r < 83)
        out += pick(rng, "1_ ");
    else if (r < 86)
        out += '\n';
    else if (r < 89)
        out += (char)0xE9;
    else if (r < 93)
        out += pick(rng, "}]-,");
    else
        out += pick(rng, "xyz");
}

static void gen_escape(pg_rng *rng, std::string &out) {
    out += '\\';
    uint32_t r = pg_below(rng, 100);
    if (r < 45)
        out += pick(rng, "dDwWsS");
    else if (r < 65)
        out += pick(rng, "bB");
    else
        out += pick(rng, ".*+?()[]{}|^$\\nt1a");
}

static void gen_class_byte(pg_rng *rng, std::string &out) {
    uint32_t r = pg_below(rng, 100);
    if (r < 70)
        out += pick(rng, "abcab");
    else if (r < 80)
        out += pick(rng, "ABZ");
    else if (r < 85)
        out += pick(rng, "09_");
    else if (r < 90)
        out += pick(rng, "\\-^.");
    else if (r < 95)
        out += '\n';
    else
        out += (char)0xE9;
}

/* A bracket class: optional negation, optional "]" in first place, then
 * single bytes and ranges (some reversed, which hold nothing); a "-" may
 * come last. Never left open: an open class is produced only as a
 * deliberate error. */
static void gen_class(pg_rng *rng, std::string &out) {
    out += '[';
    if (pg_chance(rng, 25)) out += '^';
    if (pg_chance(rng, 8)) out += ']';
    int count = 1 + (int)pg_below(rng, 3);
    for (int i = 0; i < count; i++) {
        if (pg_chance(rng, 30)) {
            static const char *const ranges[] = {"a-c", "a-b", "b-z", "A-Z", "0-9", "c-a", "+--", "a-\xE9"};
            out += ranges[pg_below(rng, 8)];
        } else {
            gen_class_byte(rng, out);
        }
    }
    if (pg_chance(rng, 8)) out += '-';
    out += ']';
}

/* At most one quantifier; counted forms use small numbers so that min above
 * max turns up, and a few brace texts that are no quantifier at all. */
static void gen_quant(pg_rng *rng, std::string &out) {
    uint32_t r = pg_below(rng, 100);
    if (r < 50) return;
    if (r < 64)
        out += '*';
    else if (r < 74)
        out += '+';
    else if (r < 82)
        out += '?';
    else if (r < 86) {
        out += '{';
        out += (char)('0' + pg_below(rng, 4));
        out += '}';
    } else if (r < 90) {
        out += '{';
        out += (char)('0' + pg_below(rng, 3));
        out += ",}";
    } else if (r < 97) {
        out += '{';
        out += (char)('0' + pg_below(rng, 4));
        out += ',';
        out += (char)('0' + pg_below(rng, 4));
        out += '}';
    } else {
        static const char *const braces[] = {"{", "{,2}", "{2", "{1,x}", "{ 2}"};
        out += braces[pg_below(rng, 5)];
        return;
    }
    if (pg_chance(rng, 30)) out += '?';
}

static void gen_alt(pg_rng *rng, const pg_options *opt, int depth, std::string &out);

static void gen_atom(pg_rng *rng, const pg_options *opt, int depth, std::string &out) {
    uint32_t r = pg_below(rng, 100);
    if (r < 38) {
        gen_literal(rng, out);
    } else if (r < 52) {
        gen_escape(rng, out);
    } else if (r < 58) {
        out += '.';
    } else if (r < 72) {
        gen_class(rng, out);
    } else if (depth < opt->max_depth) {
        out += '(';
        if (pg_chance(rng, 35)) out += "?:";
        gen_alt(rng, opt, depth + 1, out);
        out += ')';
    } else {
        gen_literal(rng, out);
    }
}

static void gen_seq(pg_rng *rng, const pg_options *opt, int depth, std::string &out) {
    int items = (int)pg_below(rng, (uint32_t)opt->max_items + 1);
    if (items == 0 && pg_chance(rng, 60)) items = 1;
    for (int i = 0; i < items; i++) {
        uint32_t r = pg_below(rng, 100);
        if (r < 5) {
            out += '^';
        } else if (r < 10) {
            out += '$';
        } else {
            gen_atom(rng, opt, depth, out);
            gen_quant(rng, out);
        }
    }
}

static void gen_alt(pg_rng *rng, const pg_options *opt, int depth, std::string &out) {
    int alts = 1;
    while (alts < opt->max_alts && pg_chance(rng, 25)) alts++;
    for (int i = 0; i < alts; i++) {
        if (i > 0) out += '|';
        gen_seq(rng, opt, depth, out);
    }
}

/* One of the ways a pattern can be wrong: a quantifier where an item must
 * begin, an unclosed group or class, a ")" too many, a flag group that is
 * not one. */
static void gen_invalid(pg_rng *rng, std::string &out) {
    static const char *const bad[] = {"*",    "+a",     "(a",  "[ab", ")",  "a**",
                                      "(?x)", "(?i:a)", "a|?", "[^",  "(?)"};
    std::string piece = bad[pg_below(rng, 11)];
    size_t at = out.empty() ? 0 : pg_below(rng, (uint32_t)out.size() + 1);
    out.insert(at, piece);
}

std::string pg_pattern(pg_rng *rng, const pg_options *opt) {
    std::string out;
    if (pg_chance(rng, (uint32_t)opt->anchor_percent)) {
        /* A start-anchored alternation: the first alternative begins with
         * "^", the others mostly do too. */
        int alts = 1 + (int)pg_below(rng, 3);
        for (int i = 0; i < alts; i++) {
            if (i > 0) out += '|';
            if (i == 0 || pg_chance(rng, 75)) out += '^';
            gen_seq(rng, opt, 1, out);
        }
    } else {
        if (pg_chance(rng, (uint32_t)opt->flags_percent)) {
            static const char *const flags[] = {"(?i)", "(?m)", "(?s)", "(?ims)", "(?mi)", "(?ss)", "(?si)"};
            out += flags[pg_below(rng, 7)];
        }
        gen_alt(rng, opt, 0, out);
    }
    if (pg_chance(rng, (uint32_t)opt->invalid_percent)) gen_invalid(rng, out);
    return out;
}

/* The text alphabet: a handful of the pattern's own bytes (letters of
 * bracket ranges and shorthand letters included, which is harmless), plus
 * up to two bytes that test the edges (line breaks, white space, a NUL, a
 * byte from 128 up, a capital). */
static std::string text_alphabet(pg_rng *rng, const std::string &pattern) {
    std::string pool;
    for (char c : pattern) {
        unsigned char b = (unsigned char)c;
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == ' ' ||
            b == '_' || b == '\n' || b >= 128 || b == '-' || b == ',' || b == '}' || b == ']') {
            if (pool.find(c) == std::string::npos) pool += c;
        }
    }
    std::string alpha;
    int want = 2 + (int)pg_below(rng, 3);
    for (int i = 0; i < want && !pool.empty(); i++) alpha += pool[pg_below(rng, (uint32_t)pool.size())];
    if (alpha.empty()) alpha = "ab";
    int extras = (int)pg_below(rng, 3);
    for (int i = 0; i < extras; i++) {
        static const char extra[] = {'\n', ' ', 'A', 'B',  '1',  '_', (char)0xE9,
                                     'a',  'b', 'x', '\r', '\t', '\0'};
        alpha += extra[pg_below(rng, sizeof extra)];
    }
    return alpha;
}

std::string pg_text(pg_rng *rng, const std::string &pattern, size_t max_len) {
    std::string alpha = text_alphabet(rng, pattern);
    size_t len = pg_below(rng, (uint32_t)max_len + 1);
    if (pg_chance(rng, 50)) len = len / 2;
    std::string out;
    for (size_t i = 0; i < len; i++) out += alpha[pg_below(rng, (uint32_t)alpha.size())];
    return out;
}

std::string pg_long_text(pg_rng *rng, const std::string &pattern, size_t len) {
    std::string alpha = text_alphabet(rng, pattern);
    std::string unit;
    int unit_len = 1 + (int)pg_below(rng, 3);
    for (int i = 0; i < unit_len; i++) unit += alpha[pg_below(rng, (uint32_t)alpha.size())];
    std::string out;
    while (out.size() < len) out += unit[out.size() % unit.size()];
    if (len > 0 && pg_chance(rng, 50)) out[len - 1] = alpha[pg_below(rng, (uint32_t)alpha.size())];
    return out;
}

std::string pg_quote(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        unsigned char b = (unsigned char)c;
        if (b == '"' || b == '\\') {
            out += '\\';
            out += c;
        } else if (b == '\n') {
            out += "\\n";
        } else if (b < 32 || b >= 127) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X\"\"", b);
            out += hex;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

/* A byte item: a literal, ".", a class or a shorthand. */
static void gen_byte_item(pg_rng *rng, std::string &out) {
    static const char *const items[] = {"a",   "b",    ".",    "\\w",   "\\d", "\\s",
                                        "\\S", "[ab]", "[^a]", "[a-c]", "x",   "\\."};
    out += items[pg_below(rng, 12)];
}

std::string pg_shaped_pattern(pg_rng *rng, const pg_options *opt) {
    std::string out;
    static const char *const flags[] = {"(?m)", "(?s)", "(?i)"};
    if (pg_chance(rng, 15)) out += flags[pg_below(rng, 3)];
    int pieces = 1 + (int)pg_below(rng, 3);
    for (int i = 0; i < pieces; i++) {
        uint32_t r = pg_below(rng, 100);
        if (r < 22) { /* a run and a byte after it */
            gen_byte_item(rng, out);
            out += pick(rng, "*+");
            if (pg_chance(rng, 15)) out += pick(rng, "$^");
            gen_byte_item(rng, out);
        } else if (r < 34) { /* lazy */
            gen_byte_item(rng, out);
            static const char *const lazy[] = {"*?", "+?", "??", "{1,3}?"};
            out += lazy[pg_below(rng, 4)];
            gen_byte_item(rng, out);
        } else if (r < 46) { /* bounded */
            gen_byte_item(rng, out);
            static const char *const counts[] = {"?", "{1,3}", "{0,2}", "{2,3}"};
            out += counts[pg_below(rng, 4)];
            gen_byte_item(rng, out);
        } else if (r < 62) { /* alternatives with shared beginnings */
            static const char *const alts[] = {"(?:a|ab)",  "(ab|abc|b)", "(?:a*|b)",  "(?:\\d+|\\d+\\.\\d)",
                                               "(?:x|y|x)", "(?:|a)",     "(?:ab|a.)", "(?:.*a|b)",
                                               "(a|\\w+b)", "(?:b|a+)"};
            out += alts[pg_below(rng, 10)];
        } else if (r < 70) { /* loops over runs */
            static const char *const loops[] = {"(?:a*|b*)*", "(?:a|b?)*", "(?:a+|b)+", "(a*)*"};
            out += loops[pg_below(rng, 4)];
        } else if (r < 80) { /* anchors and boundaries */
            static const char *const anchors[] = {"a\\bb", "a\\b ", "\\B.",   "$a",
                                                  "a^",    "a$",    "\\b\\w", " \\Ba"};
            out += anchors[pg_below(rng, 8)];
        } else {
            pg_options small = *opt;
            small.invalid_percent = 0;
            small.flags_percent = 0;
            small.anchor_percent = 0;
            out += pg_pattern(rng, &small);
        }
        if (pg_chance(rng, 10)) out += '|';
    }
    return out;
}
