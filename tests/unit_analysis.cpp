/* The lint and the explanation (src/rx_analysis.h): one table of each
 * check's examples, flagged and not flagged, with exact codes, effects and
 * spans; and the soundness property on generated patterns, judged by the
 * reference matcher (a pattern said never to match finds no match; a part
 * said dead can be taken out without changing any match), every suggestion
 * valid, and those that say "as other engines do" judged by PCRE2. */
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#if defined(KRX_HAVE_PCRE2)
#  define PCRE2_CODE_UNIT_WIDTH 8
#  include <pcre2.h>
#endif

#include "pattern_gen.h"
#include "ref_matcher.h"
#include "rx_analysis.h"
#include "rx_match_win.h"
#include "test_support.h"

namespace {

/* The findings as "code effect start-end" joined by "; ", or "error: M @N". */
std::string findings_of(const std::string &pattern) {
    rx_lint l;
    EXPECT_EQ(rx_analysis_lint(pattern.c_str(), &l), 0);
    std::string s;
    if (l.invalid) {
        s = std::string("error: ") + l.error + " @" + std::to_string(l.error_offset);
        if (l.hint != nullptr) s += " hint@" + std::to_string(l.hint_start);
    }
    for (uint32_t i = 0; i < l.count; i++) {
        const rx_finding &f = l.findings[i];
        if (!s.empty()) s += "; ";
        s += std::string(f.code) + " " + f.effect + " " + std::to_string(f.start) + "-" +
             std::to_string(f.end);
    }
    rx_analysis_lint_free(&l);
    return s;
}

struct LintCase {
    std::string pattern;
    std::string findings;
};

TEST(Lint, EachCheckFlagsItsExamplesAndNothingElse) {
    const std::string retried = "retried-run note 0-2";
    const LintCase cases[] = {
        /* a run swallows what follows it */
        {".*error", retried + "; swallowed-follower never-matches 0-3"},
        {"^.*error.*$", "swallowed-follower never-matches 1-4"},
        {"err.*or", "swallowed-follower never-matches 3-6"},
        {".+@.+\\.com", "swallowed-follower never-matches 0-3"},
        {"[a-z]+ing", "swallowed-follower never-matches 0-7"},
        {"\\w+error", "swallowed-follower never-matches 0-4"},
        {"(\\S+):amd64", "swallowed-follower never-matches 1-6"},
        {"\"(.*)\"", "swallowed-follower never-matches 2-6"},
        {"\\S+:", "swallowed-follower never-matches 0-4"},
        {"\\w+\\d", "swallowed-follower never-matches 0-5"},
        {"[a-z]*[a-z]", "retried-run note 0-6; swallowed-follower never-matches 0-11"},
        {"a*ab", retried + "; swallowed-follower never-matches 0-3"},
        {"x(?:.*y|z)", "swallowed-follower dead 4-7"},
        {"x|(?:ab)|(?:ab)", "shadowed-alternative dead 9-15"},
        {"x(?:.*y)?z", "swallowed-follower dead 1-9"},
        {"x(?:(?:.*y)?){2}z", "swallowed-follower dead 1-16"},
        {"(?:z|a*)a", "swallowed-follower dead 5-7"},
        /* not swallowed */
        {"[^x]*x", "retried-run note 0-5"},
        {"a*b", retried},
        {"\\w+\\s", ""},
        {".*\n", retried},
        {"(?s).+x", "swallowed-follower never-matches 4-7"},
        /* shadowed alternatives */
        {"install|installed", "shadowed-alternative dead 8-17"},
        {"status (half|half-installed) ", "shadowed-alternative dead 13-27"},
        {"a||b", "shadowed-alternative dead 3-4"},
        {"(a*|b)", "shadowed-alternative dead 4-5"},
        {"a|ab", "shadowed-alternative dead 2-4"},
        {"int|integer", "shadowed-alternative dead 4-11"},
        {"\\d+|\\d+\\.\\d+", "shadowed-alternative dead 4-12"},
        {"ab|ab", "shadowed-alternative dead 3-5"},
        {"ab|a", ""},
        {"a|b", ""},
        /* lazy, bounded, always empty, loops */
        {"<.*?>", "lazy-minimum note 1-4"},
        {"a*?", "lazy-minimum note 0-3"},
        {"a{2,5}?", "lazy-minimum note 0-7"},
        {"a{2}?", ""},
        {"\\d{1,3}\\d", "bounded-swallow note 0-7"},
        {"a?a", "bounded-swallow note 0-2"},
        {"a?b", ""},
        {"a*a*", "always-empty note 2-4"},
        {"\\w+(\\d*)", "always-empty note 3-8"},
        {"(?:x*|y*)*", "nullable-loop dead 6-8"},
        /* anchors and boundaries */
        {"$x", "impossible-anchor never-matches 0-2"},
        {"x^", "impossible-anchor never-matches 1-2"},
        {"(?m)$x", "impossible-anchor never-matches 4-6"},
        {"(?m)x^", "impossible-anchor never-matches 5-6"},
        {"(?m)$\n", ""},
        {"a\\bb", "impossible-anchor never-matches 1-4"},
        {" \\b ", "impossible-anchor never-matches 1-4"},
        {"a\\B ", "impossible-anchor never-matches 1-4"},
        {"a\\b ", ""},
        {"x|$y", "impossible-anchor dead 2-4"},
        {"a{3,2}", "reversed-count never-matches 0-6"},
        {"[z-a]", "empty-class never-matches 0-5"},
        /* other dialects */
        {"a\\n", "dialect-escape dialect 1-3"},
        {"\\A\\d+\\z", "dialect-escape dialect 0-2; dialect-escape dialect 5-7"},
        {"\\Qa.b\\E", "dialect-escape dialect 0-2; dialect-escape dialect 5-7"},
        {"(a)\\1", "dialect-escape dialect 3-5"},
        {"x[\\d]", "dialect-class-escape dialect 2-4"},
        {"[a\\]b]", "dialect-class-escape dialect 2-3"},
        {"[^[:digit:]x]", "dialect-posix-class dialect 2-11"},
        {"\\y\\.\\\\", ""},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)(p)(q)", "too-many-groups dialect 48-49"},
        /* invalid patterns: the parser's message and offset, a hint where another dialect is at work */
        {"(?<name>x)", "error: unexpected '?' @1 hint@0"},
        {"a(?i)b", "error: unexpected '?' @2 hint@1"},
        {"(?x)a", "error: unexpected '?' @1 hint@0"},
        {"(?i:a)", "error: unexpected '?' @1 hint@0"},
        {"a(?=b)", "error: unexpected '?' @2 hint@1"},
        {"a*+", "error: unexpected '+' @2 hint@2"},
        {"a(b", "error: unclosed group @1"},
        {"x[ab", "error: unclosed character class @1"},
        {"ab)", "error: trailing junk at ')' @2"},
        {"a{3000000000}", "error: repetition count too large @1"},
    };
    for (const LintCase &c : cases) EXPECT_EQ(findings_of(c.pattern), c.findings) << "pattern: " << c.pattern;
}

TEST(Lint, SuggestionsAndJson) {
    char *json = rx_analysis_lint_json(".*x");
    ASSERT_NE(json, nullptr);
    const std::string retried =
        "{\"code\":\"retried-run\",\"effect\":\"note\",\"start\":0,\"end\":2,\"message\":\"`.*` is tried "
        "again "
        "from every start position inside a run of the bytes it takes, and each try runs to the end of the "
        "run: "
        "a run of n such bytes costs about n * n / 2 tries of it, so a text with a run of more than about "
        "1000 "
        "bytes that does not match uses up the step budget (\\\"backtracking limit reached\\\")\"}";
    EXPECT_EQ(
        std::string(json),
        "{\"findings\":[" + retried +
            ",{\"code\":\"swallowed-follower\",\"effect\":\"never-matches\",\"start\":0,\"end\":3,"
            "\"message\":\"`.*` takes all it can and never gives a byte back, so `x` after it can never "
            "match: the pattern can never match\",\"suggestions\":[{\"pattern\":\"[^\\nx]*x\",\"meaning\":"
            "\"up to the first `x`\"},{\"pattern\":\"(?:[^\\nx]*x)+\",\"meaning\":\"up to the last `x`, as "
            "other engines do\"}]}]}");
    std::free(json);
    json = rx_analysis_lint_json("a(b");
    ASSERT_NE(json, nullptr);
    EXPECT_STREQ(json, "{\"error\":{\"message\":\"unclosed group\",\"offset\":1}}");
    std::free(json);
    EXPECT_EQ(rx_analysis_lint_json(nullptr), nullptr);
    json = rx_analysis_explain_json("(?s)[^a]|\\b");
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(std::string(json).substr(0, 62),
              "{\"tree\":{\"kind\":\"pattern\",\"start\":0,\"end\":11,\"text\":\"(?s)[^a]|");
    std::free(json);
}

/* The lint and explain sections of the table shared with the JS package's
 * tests (tests/cases/match_cases.json), which checks its module's entries
 * against these answers. */
TEST(Lint, JsonAnswersOfTheSharedTable) {
    yyjson_doc *doc = yyjson_read_file(KRX_CASES_DIR "/match_cases.json", 0, nullptr, nullptr);
    ASSERT_NE(doc, nullptr);
    for (const char *section : {"lint", "explain"}) {
        yyjson_val *list = yyjson_obj_get(yyjson_doc_get_root(doc), section);
        EXPECT_GT(yyjson_arr_size(list), 0u) << section;
        size_t index, count;
        yyjson_val *item;
        yyjson_arr_foreach(list, index, count, item) {
            const char *pattern = yyjson_get_str(yyjson_obj_get(item, "pattern"));
            char *json =
                section[0] == 'l' ? rx_analysis_lint_json(pattern) : rx_analysis_explain_json(pattern);
            ASSERT_NE(json, nullptr);
            EXPECT_STREQ(json, yyjson_get_str(yyjson_obj_get(item, "answer"))) << section << " " << pattern;
            std::free(json);
        }
    }
    yyjson_doc_free(doc);
}

/* ---- spans of the explanation, a long pattern on a small stack ---------------- */

TEST(Explain, KindsAndSpansInPreOrder) {
    rx_explain x;
    ASSERT_EQ(rx_analysis_explain("(?i)ab(c|d*?)+$", &x), 0);
    std::string got;
    for (uint32_t i = 0; i < x.count; i++) {
        const rx_explain_node &e = x.nodes[i];
        got += std::to_string(e.depth) + e.kind + std::to_string(e.start) + "-" + std::to_string(e.end) + " ";
    }
    EXPECT_EQ(got, "0pattern0-15 1flags0-4 1sequence4-15 2literal4-6 2repeat6-14 3group6-13 4alternation7-12 "
                   "5literal7-8 5repeat9-12 6literal9-10 2anchor14-15 ");
    rx_analysis_explain_free(&x);
}

TEST(Lint, HugeAndDeepPatternsOnSmallStack) {
    std::string deep = std::string(50000, '(') + "a" + std::string(50000, ')');
    std::string wide;
    for (int i = 0; i < 100000; i++) wide += "ab|";
    wide += "\\n";
    bool ok = true;
    ASSERT_TRUE(krx_test::run_on_stack([&] {
        for (const std::string *p : {&deep, &wide}) {
            char *l = rx_analysis_lint_json(p->c_str()), *e = rx_analysis_explain_json(p->c_str());
            ok = ok && l != nullptr && e != nullptr;
            std::free(l);
            std::free(e);
        }
    }));
    EXPECT_TRUE(ok);
}

/* ---- soundness on generated patterns ------------------------------------------ */

typedef std::vector<std::pair<uint64_t, uint64_t>> Spans;

/* Every match of the reference matcher without a budget; false when it gave up. */
bool ref_spans(const std::string &pattern, const std::string &text, Spans *out) {
    rx_node *tree = parse_pattern(pattern.c_str(), nullptr, 0);
    if (tree == nullptr) return false;
    ref_budget budget;
    ref_budget_none(&budget, 200000);
    out->clear();
    uint64_t at = 0;
    bool ok = true;
    while (at <= text.size()) {
        ref_result r;
        int found = ref_find(tree, pattern.c_str(), text.data(), text.size(), at, &budget, &r);
        if (found < 0) ok = false;
        if (found != 1) break;
        out->push_back({r.start, r.end});
        at = r.end > r.start ? r.end : r.end + 1;
    }
    node_free(tree);
    return ok;
}

/* Texts from the generator and from the pattern's own bytes. */
std::vector<std::string> texts_for(pg_rng *rng, const std::string &pattern) {
    std::vector<std::string> texts;
    for (int i = 0; i < 6; i++) texts.push_back(pg_text(rng, pattern, 14));
    for (int i = 0; i < 6; i++) {
        std::string t;
        size_t len = pg_below(rng, 12);
        for (size_t k = 0; k < len && !pattern.empty(); k++)
            t += pattern[pg_below(rng, (uint32_t)pattern.size())];
        texts.push_back(t);
    }
    texts.push_back(pattern);
    return texts;
}

/* The pattern without a dead part: an alternative goes with a bar beside it. */
std::string without(const std::string &p, const rx_finding &f) {
    const bool optional = std::strstr(f.message, "optional part") != nullptr;
    size_t s = f.start, e = f.end;
    if (!optional && s > 0 && p[s - 1] == '|')
        s--;
    else if (!optional && e < p.size() && p[e] == '|')
        e++;
    return p.substr(0, s) + p.substr(e);
}

#if defined(KRX_HAVE_PCRE2)
/* Patterns that PCRE2 reads as this engine does: no escapes of letters and
 * digits but the shorthands and boundaries, nothing escaped or nested inside
 * brackets, no quantified boundary, no count right after a count. */
bool pcre_reads_alike(const std::string &p) {
    bool in_class = false;
    for (size_t i = 0; i < p.size(); i++) {
        const char c = p[i];
        if (in_class) {
            if (c == '\\' || c == '[') return false;
            if (c == ']' && !(p[i - 1] == '[' || (p[i - 1] == '^' && p[i - 2] == '['))) in_class = false;
            continue;
        }
        if (c == '[') in_class = true;
        /* PCRE2 reads []-a] as a range from ] to a */
        if (c == '[' && (p.compare(i + 1, 2, "]-") == 0 || p.compare(i + 1, 3, "^]-") == 0)) return false;
        if (c == '}' && i + 1 < p.size() && p[i + 1] == '{') return false;
        if (c == '\\' && i + 1 < p.size()) {
            const char e = p[++i];
            const bool alnum = (e >= '0' && e <= '9') || ((e | 32) >= 'a' && (e | 32) <= 'z');
            if (alnum && std::strchr("dDsSwWbB", e) == nullptr) return false;
            if ((e == 'b' || e == 'B') && i + 1 < p.size() && std::strchr("*+?{", p[i + 1]) != nullptr)
                return false;
        }
    }
    return !in_class;
}

/* PCRE2's matches, enumerated as this library does (after an empty match the
 * next search starts one byte on); false when PCRE2 refuses or gives up. */
bool pcre_spans(const std::string &pattern, const std::string &text, Spans *out) {
    int err = 0;
    PCRE2_SIZE erroff = 0;
    pcre2_compile_context *cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_LF);
    pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(),
                                     PCRE2_DOLLAR_ENDONLY | PCRE2_ALT_CIRCUMFLEX, &err, &erroff, cc);
    pcre2_compile_context_free(cc);
    if (code == nullptr) return false;
    pcre2_match_data *md = pcre2_match_data_create_from_pattern(code, nullptr);
    out->clear();
    bool ok = true;
    size_t at = 0;
    while (at <= text.size()) {
        int rc =
            pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), at, 0, md, nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) break;
        if (rc < 0) {
            ok = false;
            break;
        }
        PCRE2_SIZE *v = pcre2_get_ovector_pointer(md);
        out->push_back({v[0], v[1]});
        at = v[1] > v[0] ? v[1] : v[1] + 1;
    }
    pcre2_match_data_free(md);
    pcre2_code_free(code);
    return ok;
}
#endif

struct Tally {
    long patterns = 0, never = 0, dead = 0, suggestions = 0, oracle = 0;
};

void check_pattern(pg_rng *rng, const std::string &pattern, Tally *tally) {
    rx_lint l;
    ASSERT_EQ(rx_analysis_lint(pattern.c_str(), &l), 0);
    if (l.invalid) {
        rx_analysis_lint_free(&l);
        return;
    }
    tally->patterns++;
    const std::vector<std::string> texts = texts_for(rng, pattern);
    for (uint32_t i = 0; i < l.count; i++) {
        const rx_finding &f = l.findings[i];
        const std::string where = "pattern " + pg_quote(pattern) + " finding " + f.code + " " + f.message;
        if (std::strcmp(f.effect, "never-matches") == 0) {
            tally->never++;
            for (const std::string &t : texts) {
                Spans s;
                if (ref_spans(pattern, t, &s)) {
                    EXPECT_TRUE(s.empty()) << where << " text " << pg_quote(t);
                }
            }
        } else if (std::strcmp(f.effect, "dead") == 0) {
            tally->dead++;
            const std::string smaller = without(pattern, f);
            for (const std::string &t : texts) {
                Spans a, b;
                if (ref_spans(pattern, t, &a) && ref_spans(smaller, t, &b)) {
                    EXPECT_EQ(a, b) << where << " without it " << pg_quote(smaller) << " text "
                                    << pg_quote(t);
                }
            }
        }
        for (int32_t k = 0; k < f.suggestion_count; k++) {
            const rx_suggestion &s = f.suggestions[k];
            tally->suggestions++;
            char err[256];
            EXPECT_EQ(rx_engine_compile_ok(s.pattern, err, sizeof err), 0)
                << where << " suggests " << s.pattern;
#if defined(KRX_HAVE_PCRE2)
            if (std::strstr(s.meaning, "as other engines do") == nullptr || !pcre_reads_alike(pattern))
                continue;
            tally->oracle++;
            for (const std::string &t : texts) {
                Spans ours, theirs;
                if (ref_spans(s.pattern, t, &ours) && pcre_spans(pattern, t, &theirs)) {
                    EXPECT_EQ(ours, theirs)
                        << where << " suggests " << pg_quote(s.pattern) << " text " << pg_quote(t);
                }
            }
#endif
        }
    }
    rx_analysis_lint_free(&l);
}

TEST(LintProperty, FindingsAreSoundOnGeneratedPatterns) {
    const long count = krx_test::long_mode() ? 100000 : 4000;
    Tally tally;
    struct Run {
        long count;
        Tally *tally;
    } run{count, &tally};
    ASSERT_EQ(ref_run_on_big_stack(
                  [](void *p) {
                      Run *r = static_cast<Run *>(p);
                      pg_rng rng;
                      pg_seed(&rng, 20261210);
                      pg_options opt;
                      pg_default_options(&opt);
                      for (long i = 0; i < r->count && !::testing::Test::HasFailure(); i++) {
                          std::string pattern =
                              i % 2 ? pg_shaped_pattern(&rng, &opt) : pg_pattern(&rng, &opt);
                          check_pattern(&rng, pattern, r->tally);
                      }
                  },
                  &run, 256u << 20),
              0);
    /* the generator reaches every kind of claim */
    EXPECT_GT(tally.never, count / 50);
    EXPECT_GT(tally.dead, count / 50);
    EXPECT_GT(tally.suggestions, count / 50);
#if defined(KRX_HAVE_PCRE2)
    EXPECT_GT(tally.oracle, count / 200);
#endif
    std::printf("%ld patterns: %ld never-matches, %ld dead, %ld suggestions (%ld judged by PCRE2)\n",
                tally.patterns, tally.never, tally.dead, tally.suggestions, tally.oracle);
}

} /* namespace */
