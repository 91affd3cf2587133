/* Parser and compile check: the trees of the tricky patterns (compared in a
 * printed form), every message with its byte, the leading flag group, the
 * count limit, very long and very deep patterns on a 1 MiB stack, and every
 * failed allocation of a parse. */
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"
#include "test_support.h"

namespace {

std::string byte_text(unsigned b) {
    if (b >= 0x21 && b <= 0x7e && b != '\\' && b != '\'') return std::string(1, static_cast<char>(b));
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", b);
    return buf;
}

/* Members of a class as ranges: a-c,x */
std::string class_text(const rx_node *n) {
    std::string s;
    for (unsigned v = 0; v < 256;) {
        if (!((n->bits[v >> 3] >> (v & 7)) & 1)) {
            v++;
            continue;
        }
        unsigned w = v;
        while (w + 1 < 256 && ((n->bits[(w + 1) >> 3] >> ((w + 1) & 7)) & 1)) w++;
        if (!s.empty()) s += ',';
        s += byte_text(v);
        if (w > v) s += "-" + byte_text(w);
        v = w + 1;
    }
    return s;
}

/* A printed form of a (small) tree, naming every field a kind uses:
 *   'x' 'x'/i  .  ./s  [members] [^members]/i  cat(L,R)  alt(L,R)
 *   rep{min,max}(C)  rep{min,max}?(C) (lazy)  ^ $ ^/m  \b \B  g3(C) */
std::string print(const rx_node *n) {
    if (n == nullptr) return "NULL";
    std::string s;
    switch (n->kind) {
    case RX_CHAR:
        s = "'" + byte_text(n->ch) + "'";
        if (n->flags & RX_FLAG_I) s += "/i";
        break;
    case RX_ANY: s = (n->flags & RX_FLAG_S) ? "./s" : "."; break;
    case RX_CLASS:
        s = std::string(n->negate ? "[^" : "[") + class_text(n) + "]";
        if (n->flags & RX_FLAG_I) s += "/i";
        break;
    case RX_CONCAT: return "cat(" + print(n->left) + "," + print(n->right) + ")";
    case RX_ALT: return "alt(" + print(n->left) + "," + print(n->right) + ")";
    case RX_REPEAT:
        return "rep{" + std::to_string(n->min) + "," + std::to_string(n->max) + "}" + (n->lazy ? "?" : "") +
               "(" + print(n->child) + ")";
    case RX_ANCHOR:
        s = n->anchor == 1 ? "^" : n->anchor == 2 ? "$" : "anchor?";
        if (n->flags & RX_FLAG_M) s += "/m";
        break;
    case RX_WORDB: return n->not_boundary ? "\\B" : "\\b";
    case RX_GROUP: return "g" + std::to_string(n->group) + "(" + print(n->child) + ")";
    default: return "kind" + std::to_string(n->kind);
    }
    return s;
}

bool bits_empty(const rx_node *n) {
    for (uint8_t b : n->bits)
        if (b != 0) return false;
    return true;
}

/* Every field a node's kind does not use is zero, flags hold only the one
 * bit that matters to the kind, and the operands that must be set are set. */
::testing::AssertionResult well_formed(const rx_node *n) {
    std::vector<const rx_node *> todo{n};
    while (!todo.empty()) {
        const rx_node *x = todo.back();
        todo.pop_back();
        if (x == nullptr) return ::testing::AssertionFailure() << "null operand";
        bool ok = true;
        bool uses_bits = x->kind == RX_CLASS;
        bool uses_lr = x->kind == RX_CONCAT || x->kind == RX_ALT;
        bool uses_child = x->kind == RX_REPEAT || x->kind == RX_GROUP;
        if (x->kind != RX_CHAR && x->ch != 0) ok = false;
        if (!uses_bits && (!bits_empty(x) || x->negate != 0)) ok = false;
        if (x->kind != RX_REPEAT && (x->min != 0 || x->max != 0 || x->lazy != 0)) ok = false;
        if (x->kind != RX_WORDB && x->not_boundary != 0) ok = false;
        if (x->kind != RX_ANCHOR && x->anchor != 0) ok = false;
        if (x->kind != RX_GROUP && x->group != 0) ok = false;
        uint32_t allowed = 0;
        if (x->kind == RX_CHAR || x->kind == RX_CLASS) allowed = RX_FLAG_I;
        if (x->kind == RX_ANCHOR) allowed = RX_FLAG_M;
        if (x->kind == RX_ANY) allowed = RX_FLAG_S;
        if ((x->flags & ~allowed) != 0) ok = false;
        if (uses_lr != (x->left != nullptr) || uses_lr != (x->right != nullptr)) ok = false;
        if (uses_child != (x->child != nullptr)) ok = false;
        if (!ok) return ::testing::AssertionFailure() << "bad fields in node " << print(x);
        if (uses_lr) {
            todo.push_back(x->left);
            todo.push_back(x->right);
        }
        if (uses_child) todo.push_back(x->child);
    }
    return ::testing::AssertionSuccess();
}

std::string tree_of(const std::string &pattern) {
    char err[128] = "untouched";
    rx_node *root = parse_pattern(pattern.c_str(), err, sizeof err);
    if (root == nullptr) return std::string("error: ") + err;
    EXPECT_TRUE(well_formed(root)) << pattern;
    EXPECT_STREQ(err, "untouched") << "a successful parse writes nothing";
    std::string s = print(root);
    node_free(root);
    return s;
}

const char *const E = "rep{0,0}('\\x00')"; /* the empty sequence */

struct TreeCase {
    std::string pattern;
    std::string tree;
};

TEST(ParserTrees, TrickyPatterns) {
    const std::string e = E;
    const TreeCase cases[] = {
        {"", e},
        {"(?i)", e},
        {"(?ims)", e},
        {"a", "'a'"},
        {"abcd", "cat(cat(cat('a','b'),'c'),'d')"},
        {"a|b|c", "alt(alt('a','b'),'c')"},
        {"a|", "alt('a'," + e + ")"},
        {"|a", "alt(" + e + ",'a')"},
        {"a||b", "alt(alt('a'," + e + "),'b')"},
        {"ab|cd", "alt(cat('a','b'),cat('c','d'))"},
        {"((a)(b))", "g1(cat(g2('a'),g3('b')))"},
        {"(a|b)c", "cat(g1(alt('a','b')),'c')"},
        {"(?:a)", "'a'"},
        {"(?:a|b)*", "rep{0,-1}(alt('a','b'))"},
        {"()", "g1(" + e + ")"},
        {"(?:)", e},
        {"(|)", "g1(alt(" + e + "," + e + "))"},
        {"(?:ab)+?", "rep{1,-1}?(cat('a','b'))"},
        {"(a)+", "rep{1,-1}(g1('a'))"},
        {"a*", "rep{0,-1}('a')"},
        {"a+", "rep{1,-1}('a')"},
        {"a?", "rep{0,1}('a')"},
        {"a*?", "rep{0,-1}?('a')"},
        {"a??", "rep{0,1}?('a')"},
        {"a{3}", "rep{3,3}('a')"},
        {"a{3,}", "rep{3,-1}('a')"},
        {"a{3,5}", "rep{3,5}('a')"},
        {"a{2,5}?", "rep{2,5}?('a')"},
        {"a{3,2}", "rep{3,2}('a')"},
        {"a{0}", "rep{0,0}('a')"},
        {"a{0,0}", "rep{0,0}('a')"},
        {"a{007}", "rep{7,7}('a')"},
        {"a{2147483647}", "rep{2147483647,2147483647}('a')"},
        {"a{1,2147483647}", "rep{1,2147483647}('a')"},
        {"a{,2}", "cat(cat(cat(cat('a','{'),','),'2'),'}')"},
        {"a{2", "cat(cat('a','{'),'2')"},
        {"a{2,", "cat(cat(cat('a','{'),'2'),',')"},
        {"a{", "cat('a','{')"},
        {"a{2,x}", "cat(cat(cat(cat(cat('a','{'),'2'),','),'x'),'}')"},
        {"a{ 2}", "cat(cat(cat(cat('a','{'),'\\x20'),'2'),'}')"},
        {"a{2}{3}", "cat(cat(cat(rep{2,2}('a'),'{'),'3'),'}')"},
        {"a{99999999999",
         "cat(cat(cat(cat(cat(cat(cat(cat(cat(cat(cat(cat('a','{'),'9'),'9'),'9'),'9'),'9'),'9'),"
         "'9'),'9'),'9'),'9'),'9')"},
        {"{}", "cat('{','}')"},
        {"]", "']'"},
        {"[]a]", "[],a]"},
        {"[^]a]", "[^],a]"},
        {"[a-]", "[-,a]"},
        {"[z-a]", "[]"},
        {"[\\d]", "[\\x5c,d]"},
        {"[]-a]", "[-,],a]"},
        {"[+--]", "[+--]"},
        {"[a-c-e]", "[-,a-c,e]"},
        {"[^^]", "[^^]"},
        {"[\\x80-\\xff]", "[0-\\x5c,f,x]"}, /* no escapes inside brackets */
        {"[\x80-\xff]", "[\\x80-\\xff]"},
        {"[a-]]", "cat([-,a],']')"},
        {"\\n", "'n'"},
        {"\\t", "'t'"},
        {"\\.", "'.'"},
        {"\\1", "'1'"},
        {"\\", "'\\x5c'"},
        {"a\\", "cat('a','\\x5c')"},
        {"\\\\", "'\\x5c'"},
        {"\\*+", "rep{1,-1}('*')"},
        {"\\d", "[0-9]"},
        {"\\D", "[^0-9]"},
        {"\\s", "[\\x09-\\x0d,\\x20]"},
        {"\\S", "[^\\x09-\\x0d,\\x20]"},
        {"\\w", "[0-9,A-Z,_,a-z]"},
        {"\\W", "[^0-9,A-Z,_,a-z]"},
        {"\\b", "\\b"},
        {"\\B", "\\B"},
        {"\\b*", "rep{0,-1}(\\b)"},
        {"\\B{2}", "rep{2,2}(\\B)"},
        {".", "."},
        {"^$", "cat(^,$)"},
        {"^a|b", "alt(cat(^,'a'),'b')"},
        {"a^b$c", "cat(cat(cat(cat('a',^),'b'),$),'c')"},
        {"(?i)a", "'a'/i"},
        {"(?i)[a-c]", "[a-c]/i"},
        {"(?i)\\d.^", "cat(cat([0-9],.),^)"},
        {"(?s).", "./s"},
        {"(?m)^$", "cat(^/m,$/m)"},
        {"(?ims)a.^[x]\\w", "cat(cat(cat(cat('a'/i,./s),^/m),[x]/i),[0-9,A-Z,_,a-z])"},
        {"(?sim)a", "'a'/i"},
        {"(?iiii)a", "'a'/i"},
        {"(?i)\\Q", "'Q'/i"},
        {"\xc3\xa9", "cat('\\xc3','\\xa9')"},
        {"(?:a)(?:b)", "cat('a','b')"},
        {"(?:(?:(?:a)))", "'a'"},
    };
    for (const TreeCase &c : cases) {
        EXPECT_EQ(tree_of(c.pattern), c.tree) << "pattern: " << c.pattern;
    }
}

TEST(ParserTrees, SeventeenGroups) {
    /* Groups are numbered by their opening parentheses; the 17th is parsed
     * and matched but leaves no node of its own. */
    std::string pattern, tree;
    for (int i = 0; i < 17; i++) pattern += std::string("(") + static_cast<char>('a' + i) + ")";
    std::string expect = "g1('a')";
    for (int i = 1; i < 16; i++)
        expect = "cat(" + expect + ",g" + std::to_string(i + 1) + "('" + static_cast<char>('a' + i) + "'))";
    expect = "cat(" + expect + ",'q')";
    EXPECT_EQ(tree_of(pattern), expect);

    /* Nesting counts too: ((((...)))) 18 deep gives groups 1..16 only. */
    std::string nested = std::string(18, '(') + "x" + std::string(18, ')');
    std::string t = "'x'";
    for (int g = 16; g >= 1; g--) t = "g" + std::to_string(g) + "(" + t + ")";
    EXPECT_EQ(tree_of(nested), t);
    /* (?:) does not take a number. */
    EXPECT_EQ(tree_of("(?:a)(b)"), "cat('a',g1('b'))");
}

struct ErrCase {
    std::string pattern;
    std::string message;
};

TEST(ParserErrors, EveryMessageWithItsByte) {
    const ErrCase cases[] = {
        {"(?)a", "unexpected '?'"},
        {"(?x)a", "unexpected '?'"},
        {"(?i-s)a", "unexpected '?'"},
        {"(?i:a)", "unexpected '?'"},
        {"(?imx)a", "unexpected '?'"},
        {"a(?i)", "unexpected '?'"},
        {"(?i)(?i)a", "unexpected '?'"},
        {"(?", "unexpected '?'"},
        {"a)", "trailing junk at ')'"},
        {")", "trailing junk at ')'"},
        {"(a))", "trailing junk at ')'"},
        {"a|)", "trailing junk at ')'"},
        {"(a", "unclosed group"},
        {"a(", "unclosed group"},
        {"((a)", "unclosed group"},
        {"(", "unclosed group"},
        {"(?:", "unclosed group"},
        {"(a|", "unclosed group"},
        {"[a", "unclosed character class"},
        {"[", "unclosed character class"},
        {"[]", "unclosed character class"},
        {"[^]", "unclosed character class"},
        {"[^", "unclosed character class"},
        {"[a-", "unclosed character class"},
        {"[a)", "unclosed character class"},
        {"([a)", "unclosed character class"},
        {"*a", "unexpected '*'"},
        {"+a", "unexpected '+'"},
        {"?a", "unexpected '?'"},
        {"a|*", "unexpected '*'"},
        {"(*)", "unexpected '*'"},
        {"(*", "unexpected '*'"},
        {"^*", "unexpected '*'"},
        {"$+", "unexpected '+'"},
        {"a**", "unexpected '*'"},
        {"a*??", "unexpected '?'"},
        {"a{2}*", "unexpected '*'"},
        {"a+*", "unexpected '*'"},
        {"(a)??+", "unexpected '+'"},
        {"a{2147483648}", "repetition count too large"},
        {"a{0,2147483648}", "repetition count too large"},
        {"a{2147483648,}", "repetition count too large"},
        {"a{99999999999999999999999999,1}", "repetition count too large"},
        {"(ab){4294967297}", "repetition count too large"},
        {"a{3000000000}|*", "repetition count too large"},
    };
    for (const ErrCase &c : cases) {
        EXPECT_EQ(tree_of(c.pattern), "error: " + c.message) << "pattern: " << c.pattern;
        char err[256];
        EXPECT_EQ(rx_engine_compile_ok(c.pattern.c_str(), err, sizeof err), -1) << c.pattern;
        EXPECT_EQ(std::string(err), c.message) << c.pattern;
        EXPECT_EQ(rx_nfa_compile_ok(c.pattern.c_str(), err, sizeof err), -1) << c.pattern;
        EXPECT_EQ(std::string(err), c.message) << c.pattern;
    }
}

/* The span of every node, in pre-order: kind letter and [start,end). */
std::string spans_of(const std::string &pattern) {
    rx_node *root = parse_pattern(pattern.c_str(), nullptr, 0);
    if (root == nullptr) return "error";
    std::string s;
    std::vector<const rx_node *> todo{root};
    while (!todo.empty()) {
        const rx_node *x = todo.back();
        todo.pop_back();
        s += std::string(1, " cdkSArabG"[x->kind]) + std::to_string(x->span_start) + "-" +
             std::to_string(x->span_end) + " ";
        if (x->right != nullptr) todo.push_back(x->right);
        if (x->left != nullptr) todo.push_back(x->left);
        if (x->child != nullptr) todo.push_back(x->child);
    }
    node_free(root);
    return s;
}

TEST(ParserSpans, EveryNodeKind) {
    /* c byte, d ".", k class, S sequence, A alternation, r repetition, a anchor, b boundary, G group */
    EXPECT_EQ(spans_of("ab"), "S0-2 c0-1 c1-2 ");
    EXPECT_EQ(spans_of("(?i)^.[a-c]\\d\\b$"),
              "S4-16 S4-15 S4-13 S4-11 S4-6 a4-5 d5-6 k6-11 k11-13 b13-15 a15-16 ");
    EXPECT_EQ(spans_of("a|(b)+?"), "A0-7 c0-1 r2-7 G2-5 c3-4 ");
    EXPECT_EQ(spans_of("(?:ab){2,3}x"), "S0-12 r0-11 S0-6 c3-4 c4-5 c11-12 ");
    EXPECT_EQ(spans_of("(?:)x"), "S0-5 r0-4 c3-3 c4-5 ");
    EXPECT_EQ(spans_of("a||"), "A0-3 A0-2 c0-1 r2-2 c2-2 r3-3 c3-3 ");
    EXPECT_EQ(spans_of("()"), "G0-2 r1-1 c1-1 ");
}

TEST(ParserErrors, OffsetOfEveryError) {
    const std::pair<const char *, uint64_t> cases[] = {
        {"ab*+", 3}, {"(?<n>x)", 1}, {"a(b(c)", 1}, {"x[ab", 1}, {"ab)c", 2}, {"a{2147483648}", 1}, {"*", 0},
    };
    for (const auto &c : cases) {
        rx_parse_info info;
        EXPECT_EQ(rx_parse_tree(c.first, nullptr, 0, &info), nullptr) << c.first;
        EXPECT_EQ(info.error_offset, c.second) << c.first;
    }
}

TEST(ParserErrors, OversizedCountThatDoesNotCompleteIsLiteral) {
    EXPECT_EQ(tree_of("a{2147483648"),
              "cat(cat(cat(cat(cat(cat(cat(cat(cat(cat(cat('a','{'),'2'),'1'),'4'),'7'),'4'),"
              "'8'),'3'),'6'),'4'),'8')");
    EXPECT_EQ(tree_of("a{2147483648,x}").substr(0, 4), "cat(");
}

TEST(CompileCheck, BuffersAndResults) {
    char err[256];
    std::memset(err, 'x', sizeof err);
    EXPECT_EQ(rx_engine_compile_ok("a(b)c", err, sizeof err), 0);
    EXPECT_EQ(err[0], '\0');
    std::memset(err, 'x', sizeof err);
    EXPECT_EQ(rx_nfa_compile_ok("", err, sizeof err), 0);
    EXPECT_EQ(err[0], '\0');

    /* Null buffer or size 0: nothing written, same answers. */
    EXPECT_EQ(rx_engine_compile_ok("a(", nullptr, 256), -1);
    EXPECT_EQ(rx_engine_compile_ok("a", nullptr, 256), 0);
    EXPECT_EQ(rx_nfa_compile_ok("a(", nullptr, 0), -1);
    std::memset(err, 'x', sizeof err);
    EXPECT_EQ(rx_engine_compile_ok("a(", err, 0), -1);
    EXPECT_EQ(err[0], 'x');
    EXPECT_EQ(rx_engine_compile_ok("a", err, 0), 0);
    EXPECT_EQ(err[0], 'x');

    /* Messages are cut as snprintf cuts. */
    std::memset(err, 'x', sizeof err);
    EXPECT_EQ(rx_engine_compile_ok("*", err, 5), -1);
    EXPECT_STREQ(err, "unex");
    EXPECT_EQ(err[5], 'x');
    EXPECT_EQ(rx_engine_compile_ok(")", err, 1), -1);
    EXPECT_STREQ(err, "");
    EXPECT_EQ(rx_engine_compile_ok(")", err, 17), -1);
    EXPECT_STREQ(err, "trailing junk at");

    /* parse_pattern with a null buffer still fails cleanly. */
    EXPECT_EQ(parse_pattern("[", nullptr, 0), nullptr);
    node_free(nullptr);
}

TEST(CompileCheck, EveryByteValueIsALiteral) {
    const std::string operators = "()[]\\.^$*+?|";
    for (unsigned b = 1; b < 256; b++) {
        if (operators.find(static_cast<char>(b)) != std::string::npos) continue;
        std::string p(1, static_cast<char>(b));
        EXPECT_EQ(tree_of(p), "'" + byte_text(b) + "'") << b;
    }
}

/* ---- long and deep patterns on a 1 MiB stack ------------------------------- */

TEST(ParserLimits, MillionByteLiteralOnSmallStack) {
    std::string pattern(1000000, 'a');
    for (size_t i = 0; i < pattern.size(); i++) pattern[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    bool parsed = false, matched = false;
    uint64_t s = 1, e = 1;
    ASSERT_TRUE(krx_test::run_on_stack([&] {
        rx_node *root = parse_pattern(pattern.c_str(), nullptr, 0);
        parsed = root != nullptr;
        node_free(root);
        std::string text = "xy" + pattern + "z";
        matched = rx_engine_find(pattern.c_str(), text.c_str(), text.size(), 0, &s, &e) == 1;
    }));
    EXPECT_TRUE(parsed);
    EXPECT_TRUE(matched);
    EXPECT_EQ(s, 2u);
    EXPECT_EQ(e, 1000002u);
}

TEST(ParserLimits, HundredThousandNestedGroupsOnSmallStack) {
    const size_t depth = 100000;
    struct Shape {
        std::string pattern;
        std::string text;
        int expect; /* search result */
        uint64_t end;
    };
    std::vector<Shape> shapes;
    /* ((((...a...)))) : only 16 group nodes, the rest stand inside directly. */
    shapes.push_back({std::string(depth, '(') + "a" + std::string(depth, ')'), "a", 1, 1});
    /* (?:(?:...)) : no group nodes at all. */
    {
        std::string p;
        for (size_t i = 0; i < depth; i++) p += "(?:";
        p += "b";
        p += std::string(depth, ')');
        shapes.push_back({p, "ab", 1, 2});
    }
    /* a(a(a(...))) : a tree 100,000 levels deep on the right. */
    {
        std::string p;
        for (size_t i = 0; i < depth; i++) p += "a(";
        p += std::string(depth, ')');
        shapes.push_back({p, std::string(depth, 'a'), 1, depth});
    }
    /* (a|(a|(...))) : a deep alternation. */
    {
        std::string p;
        for (size_t i = 0; i < depth; i++) p += "x|(";
        p += "y";
        p += std::string(depth, ')');
        shapes.push_back({p, "y", 1, 1});
    }
    /* Unclosed at the bottom: refused after reading everything. */
    shapes.push_back({std::string(depth, '('), "", -1, 0});

    for (const Shape &sh : shapes) {
        int parsed = -2, found = -2;
        uint64_t s = 0, e = 0;
        std::string msg;
        ASSERT_TRUE(krx_test::run_on_stack([&] {
            char err[256];
            parsed = rx_engine_compile_ok(sh.pattern.c_str(), err, sizeof err);
            msg = err;
            found = rx_engine_find(sh.pattern.c_str(), sh.text.c_str(), sh.text.size(), 0, &s, &e);
        }));
        if (sh.expect < 0) {
            EXPECT_EQ(parsed, -1);
            EXPECT_EQ(msg, "unclosed group");
            EXPECT_EQ(found, -1);
        } else {
            EXPECT_EQ(parsed, 0) << msg;
            EXPECT_EQ(found, sh.expect) << sh.pattern.substr(0, 20);
            if (found == 1) {
                EXPECT_EQ(e, sh.end);
            }
        }
    }
}

/* ---- allocation failures --------------------------------------------------- */

TEST(ParserAllocation, EveryFailedAllocationIsAParseError) {
    std::string nested;
    for (int i = 0; i < 70; i++) nested += i % 2 ? "(" : "(?:";
    nested += "a|b";
    for (int i = 0; i < 70; i++) nested += ")";
    const std::string patterns[] = {
        "",
        "a",
        "abc|d|",
        "(a)(b)|[a-z]+?\\d{2,5}",
        "(?i)^a.b$\\bc\\B\\w*",
        "(?:)()a{2}{3}",
        "\\",
        "x{2,}?[^]a-c]",
        nested,
        "(a|b)*c[", /* fails with a message once allocations succeed */
        "a**",
    };
    for (const std::string &pattern : patterns) {
        char clean[128];
        rx_node *reference = parse_pattern(pattern.c_str(), clean, sizeof clean);
        std::string want = reference != nullptr ? print(reference) : std::string("error: ") + clean;
        node_free(reference);
        bool done = false;
        for (long k = 1; k < 10000 && !done; k++) {
            char err[128] = "";
            rx_alloc_fail_at(k);
            rx_node *root = parse_pattern(pattern.c_str(), err, sizeof err);
            long made = rx_alloc_count();
            rx_alloc_fail_at(0);
            if (made < k) {
                /* No allocation failed: the parse must end as it does normally. */
                std::string got = root != nullptr ? print(root) : std::string("error: ") + err;
                EXPECT_EQ(got, want) << pattern;
                done = true;
            } else {
                EXPECT_EQ(root, nullptr) << pattern << " k=" << k;
                EXPECT_STREQ(err, "parse error") << pattern << " k=" << k;
            }
            node_free(root);
        }
        EXPECT_TRUE(done) << pattern;
        /* The compile check fails the same way, and says why by its result
         * (on a fresh thread, which keeps no memory of earlier parses). */
        char err[256];
        int r = 0;
        ASSERT_TRUE(krx_test::run_on_stack([&] {
            rx_alloc_fail_at(1);
            r = rx_engine_compile_ok(pattern.c_str(), err, sizeof err);
            rx_alloc_fail_at(0);
        }));
        EXPECT_EQ(r, RX_OUT_OF_MEMORY);
        EXPECT_STREQ(err, "parse error");
    }
}

} /* namespace */
