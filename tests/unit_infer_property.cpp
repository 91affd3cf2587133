/* Property test of pattern inference over generated example lists.
 *
 * Each list holds 1 to 64 examples of at most 4096 bytes, drawn from digits,
 * letters, white space of every kind, punctuation with all 14 operator bytes
 * and "#", UTF-8 characters of two to four bytes, empty strings, repeats and
 * single-byte runs of thousands of bytes. Lists come in
 * flavours that steer them towards each shape: free mixes, one token
 * template filled with varying runs, a shared prefix and suffix around
 * varying middles, and runs of one byte.
 *
 * For every list:
 *   - the compact pattern begins with "^", ends with "$", passes the compile
 *     check and matches every example from its first byte to its last;
 *   - the verbose form begins with "(?x)\n^\n  " and ends with "\n$", and
 *     read the way a "(?x)" reader does (unescaped white space dropped,
 *     a backslash before white space or "#" dropped) it gives back the
 *     compact pattern byte for byte;
 *   - both forms are valid UTF-8, as every example is;
 *   - the same examples shuffled and repeated give the same two forms.
 * A quick set runs by default; KRX_LONG=1 runs 100,000 lists. */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pattern_gen.h"
#include "rx_infer.h"
#include "rx_match_win.h"
#include "test_support.h"

namespace {

const size_t MAX_EXAMPLE = 4096;
const size_t PARSE_ONCE_ABOVE = 4096;

const char OPERATORS[] = "$()*+.?[\\]^{|}";
const char PUNCTUATION[] = "$()*+.?[\\]^{|}#-,:;/@!%&=<>~`'\"";
const char SPACES[] = " \t\n\v\f\r";
const char LETTERS[] = "abcxyzABCXYZ_";
const char *const CHARS[] = {
    "\xC3\xA9",         "\xC3\xA8",         "\xC3\xBC",     "\xC2\xA3", /* two bytes */
    "\xE2\x82\xAC",     "\xE4\xB8\xAD",     "\xE2\x84\xAC",             /* three bytes */
    "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x81",                             /* four bytes */
};

char pick(pg_rng *rng, const char *from) {
    return from[pg_below(rng, static_cast<uint32_t>(std::strlen(from)))];
}

/* Appends piece when it fits within the example limit. */
void append(std::string &out, const std::string &piece) {
    if (out.size() + piece.size() <= MAX_EXAMPLE) out += piece;
}

enum Kind { DIGITS, kLetters_, SPACE, PUNCT, CHAR, LONG_RUN, KINDS };

std::string segment(pg_rng *rng, int kind) {
    std::string s;
    switch (kind) {
    case DIGITS:
        for (uint32_t n = 1 + pg_below(rng, 5); n > 0; n--) s += static_cast<char>('0' + pg_below(rng, 10));
        break;
    case kLetters_:
        for (uint32_t n = 1 + pg_below(rng, 5); n > 0; n--) s += pick(rng, LETTERS);
        break;
    case SPACE:
        for (uint32_t n = 1 + pg_below(rng, 3); n > 0; n--) s += pick(rng, SPACES);
        break;
    case PUNCT: s += pick(rng, PUNCTUATION); break;
    case CHAR: s += CHARS[pg_below(rng, sizeof CHARS / sizeof CHARS[0])]; break;
    default: {
        char b = pick(rng, "a1 .#|");
        s.assign(2049 + pg_below(rng, 1200), b);
        break;
    }
    }
    return s;
}

std::string free_example(pg_rng *rng) {
    std::string e;
    if (pg_chance(rng, 8)) return e;
    for (uint32_t n = pg_below(rng, 8); n > 0; n--) {
        int kind = static_cast<int>(pg_below(rng, KINDS - 1));
        if (pg_chance(rng, 1)) kind = LONG_RUN;
        append(e, segment(rng, kind));
    }
    return e;
}

/* A template of token kinds; each example fills it with runs of its own
 * lengths and texts (sometimes all examples share a run), keeping the other
 * bytes fixed, so that the lists often share one shape. */
struct Template {
    std::vector<int> kinds;
    std::vector<std::string> fixed; /* per position: the other byte, or a shared run */
};

Template make_template(pg_rng *rng) {
    Template t;
    int prev = -1;
    for (uint32_t n = 1 + pg_below(rng, 7); n > 0; n--) {
        int kind = static_cast<int>(pg_below(rng, 5));
        if (kind == prev && kind != PUNCT && kind != CHAR) kind = PUNCT;
        prev = kind;
        t.kinds.push_back(kind);
        std::string fixed;
        if (kind == PUNCT || kind == CHAR || pg_chance(rng, 30)) fixed = segment(rng, kind);
        t.fixed.push_back(fixed);
    }
    return t;
}

std::string template_example(pg_rng *rng, const Template &t) {
    std::string e;
    for (size_t i = 0; i < t.kinds.size(); i++) {
        if (!t.fixed[i].empty() && !pg_chance(rng, 5))
            append(e, t.fixed[i]);
        else if (pg_chance(rng, 2))
            append(e, segment(rng, LONG_RUN));
        else
            append(e, segment(rng, t.kinds[i]));
    }
    return e;
}

std::string affix_example(pg_rng *rng, const std::string &prefix, const std::string &suffix) {
    std::string e = prefix;
    for (uint32_t n = pg_below(rng, 4); n > 0; n--)
        append(e, segment(rng, static_cast<int>(pg_below(rng, KINDS - 1))));
    append(e, suffix);
    return e;
}

std::string run_example(pg_rng *rng, char b) {
    uint32_t len = pg_chance(rng, 15) ? 2000 + pg_below(rng, 2097) : 1 + pg_below(rng, 12);
    return std::string(len, b);
}

std::vector<std::string> make_list(pg_rng *rng) {
    uint32_t r = pg_below(rng, 100);
    uint32_t count = r < 80 ? 1 + pg_below(rng, 6) : r < 95 ? 1 + pg_below(rng, 20) : 1 + pg_below(rng, 64);
    int flavour = static_cast<int>(pg_below(rng, 4));
    Template t = make_template(rng);
    std::string prefix, suffix;
    for (uint32_t n = pg_below(rng, 3); n > 0; n--)
        prefix += segment(rng, static_cast<int>(pg_below(rng, KINDS - 1)));
    for (uint32_t n = pg_below(rng, 3); n > 0; n--)
        suffix += segment(rng, static_cast<int>(pg_below(rng, KINDS - 1)));
    char run_byte = pg_chance(rng, 50) ? pick(rng, OPERATORS) : pick(rng, "a7 #\t-");

    std::vector<std::string> list;
    for (uint32_t i = 0; i < count; i++) {
        if (!list.empty() && pg_chance(rng, 10)) {
            list.push_back(list[pg_below(rng, static_cast<uint32_t>(list.size()))]);
            continue;
        }
        if (pg_chance(rng, 3)) {
            list.push_back("");
            continue;
        }
        switch (flavour) {
        case 0: list.push_back(free_example(rng)); break;
        case 1: list.push_back(template_example(rng, t)); break;
        case 2: list.push_back(affix_example(rng, prefix, suffix)); break;
        default: list.push_back(run_example(rng, run_byte)); break;
        }
    }
    return list;
}

bool valid_utf8(const std::string &s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        size_t len;
        uint32_t cp;
        if (b < 0x80) {
            i++;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07;
        } else
            return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; k++) {
            unsigned char c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool is_space(char c) { return c != '\0' && std::strchr(SPACES, c) != nullptr; }

/* The verbose text read as a "(?x)" reader reads it, back to compact form.
 * Answers false when the text holds a bare "#" (a comment to such a reader)
 * or ends in a lone backslash. */
bool read_back(const std::string &verbose, std::string *compact) {
    const std::string head = "(?x)\n";
    if (verbose.compare(0, head.size(), head) != 0) return false;
    std::string out;
    for (size_t i = head.size(); i < verbose.size(); i++) {
        char c = verbose[i];
        if (c == '\\') {
            if (i + 1 >= verbose.size()) return false;
            char d = verbose[++i];
            if (!is_space(d) && d != '#') out += '\\';
            out += d;
        } else if (c == '#') {
            return false;
        } else if (!is_space(c)) {
            out += c;
        }
    }
    *compact = out;
    return true;
}

struct Answer {
    int rc = -2;
    std::string pattern, verbose;
};

Answer infer(const std::vector<std::string> &examples) {
    std::vector<const char *> ptrs;
    for (const std::string &e : examples) ptrs.push_back(e.c_str());
    char *p = nullptr, *v = nullptr;
    Answer a;
    a.rc = rx_infer_pattern(ptrs.data(), static_cast<int>(ptrs.size()), &p, &v);
    if (a.rc == 0) {
        a.pattern = p;
        a.verbose = v;
        std::free(p);
        std::free(v);
    }
    return a;
}

std::string describe(uint64_t seed, const std::vector<std::string> &list) {
    std::string out = "seed " + std::to_string(seed) + ", examples:";
    for (const std::string &e : list) {
        std::string q = pg_quote(e);
        if (q.size() > 200) q = q.substr(0, 200) + "...(" + std::to_string(e.size()) + " bytes)";
        out += " " + q;
    }
    return out;
}

/* Checks one list; returns false after the first broken property. */
bool check_list(uint64_t seed, pg_rng *rng, const std::vector<std::string> &list) {
    Answer a = infer(list);
    const std::string what = describe(seed, list);
    EXPECT_EQ(a.rc, 0) << what;
    if (a.rc != 0) return false;

    bool ok = true;
    const std::string &pat = a.pattern;
    EXPECT_TRUE(pat.size() >= 2 && pat.front() == '^' && pat.back() == '$') << pat << "\n" << what;
    char err[256] = "";
    EXPECT_EQ(rx_engine_compile_ok(pat.c_str(), err, sizeof err), 0) << err << "\n" << pat << "\n" << what;

    /* Every search goes through rx_engine_find_caps while the pattern is
     * small; a long pattern (a whole-example alternation of long examples)
     * is parsed once and searched with rx_engine_find_prog, which searches
     * exactly as rx_engine_find_caps does (once armed for the example) but
     * skips parsing it 64 times. */
    rx_prog prog;
    bool parsed_once = pat.size() > PARSE_ONCE_ABOVE;
    if (parsed_once) {
        EXPECT_EQ(rx_engine_prepare(pat.c_str(), &prog, err, sizeof err), 0) << err;
        if (::testing::Test::HasFailure()) return false;
    }
    for (size_t i = 0; i < list.size(); i++) {
        const std::string &e = list[i];
        uint64_t s = 77, en = 77;
        rx_caps caps;
        if (parsed_once) rx_engine_arm(&prog, e.size()); /* a search of its own */
        int rc = parsed_once && i > 0
                     ? rx_engine_find_prog(&prog, e.c_str(), e.size(), 0, &s, &en, &caps)
                     : rx_engine_find_caps(pat.c_str(), e.c_str(), e.size(), 0, &s, &en, &caps);
        if (rc != 1 || s != 0 || en != e.size()) {
            ADD_FAILURE() << "pattern " << pg_quote(pat).substr(0, 300) << " misses "
                          << pg_quote(e).substr(0, 300) << " (rc " << rc << ", " << s << ".." << en << ")\n"
                          << what;
            ok = false;
            break;
        }
    }
    if (parsed_once) rx_engine_release(&prog);

    const std::string head = "(?x)\n^\n  ", tail = "\n$";
    const std::string &v = a.verbose;
    EXPECT_TRUE(v.size() >= head.size() + tail.size() && v.compare(0, head.size(), head) == 0 &&
                v.compare(v.size() - tail.size(), tail.size(), tail) == 0)
        << pg_quote(v).substr(0, 300) << "\n"
        << what;
    std::string back;
    EXPECT_TRUE(read_back(v, &back)) << pg_quote(v).substr(0, 300) << "\n" << what;
    EXPECT_EQ(back, pat) << what;

    bool utf8 = true;
    for (const std::string &e : list) utf8 = utf8 && valid_utf8(e);
    EXPECT_TRUE(utf8) << "generator made invalid UTF-8: " << what;
    EXPECT_TRUE(valid_utf8(pat)) << pg_quote(pat).substr(0, 300) << "\n" << what;
    EXPECT_TRUE(valid_utf8(v)) << what;

    if (pg_chance(rng, 15)) {
        std::vector<std::string> other = list;
        for (size_t i = other.size(); i > 1; i--)
            std::swap(other[i - 1], other[pg_below(rng, static_cast<uint32_t>(i))]);
        if (other.size() < 64) other.push_back(other[pg_below(rng, static_cast<uint32_t>(other.size()))]);
        Answer b = infer(other);
        EXPECT_EQ(b.rc, 0) << what;
        EXPECT_EQ(b.pattern, a.pattern) << what;
        EXPECT_EQ(b.verbose, a.verbose) << what;
    }
    return ok && !::testing::Test::HasFailure();
}

void run_property(uint64_t first_seed, int lists) {
    int failures = 0;
    for (int i = 0; i < lists && failures < 5; i++) {
        uint64_t seed = first_seed + static_cast<uint64_t>(i);
        pg_rng rng;
        pg_seed(&rng, seed);
        std::vector<std::string> list = make_list(&rng);
        if (!check_list(seed, &rng, list)) failures++;
    }
}

TEST(InferProperty, GeneratedListsAreMatchedInFull) {
    run_property(0x6b72785f696e6665ull, krx_test::long_mode() ? 100000 : 1500);
}

/* Lists of 64 examples near the size limit, every time. */
TEST(InferProperty, FullSizeLists) {
    int lists = krx_test::long_mode() ? 400 : 2;
    for (int i = 0; i < lists; i++) {
        uint64_t seed = 0x5a5a0000ull + static_cast<uint64_t>(i);
        pg_rng rng;
        pg_seed(&rng, seed);
        std::vector<std::string> list;
        Template t = make_template(&rng);
        for (int j = 0; j < 64; j++) {
            std::string e = i % 2 == 0 ? template_example(&rng, t) : free_example(&rng);
            while (e.size() < 3000) append(e, segment(&rng, static_cast<int>(pg_below(&rng, KINDS))));
            list.push_back(e);
        }
        if (!check_list(seed, &rng, list)) break;
    }
}

} /* namespace */
