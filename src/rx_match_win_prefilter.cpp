/*
 * The engine's prefilters: which start positions a search may rule out
 * without an attempt, for one step each, and how it finds the next one it
 * must try. The first that a pattern's shape allows decides:
 *   - the literal (in one case) every match begins with: its least common
 *     byte found with memchr, the rest compared;
 *   - an alternation of literals every match begins with: the search of its
 *     literal set (rx_match_win_literals.cpp);
 *   - the lead, the bytes of fixed-width first items position by position:
 *     its two least common positions searched together;
 *   - a run every match begins with and the bytes one of which must follow
 *     it;
 *   - the bytes that may begin a match (and, after an alternation of
 *     literals, the bytes that may come second), or a guard anchor or word
 *     boundary in front of them.
 * Zero-width items in front (anchors, word boundaries) are looked through.
 * Besides, a literal every match contains ends the search where it no
 * longer occurs. Each finder is a pure function of the text ("the first
 * position at or after p that may begin a match"); the skip functions
 * charge one step for each position it rules out.
 */
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"
#include "rx_platform.h"

/* Charges one step for each of the positions p .. q - 1 ruled out and
 * returns q; when fewer steps are left, sets the flag as a refused step
 * would and returns n + 1. */
static uint64_t charge_hopeless(mstate *ms, uint64_t n, uint64_t p, uint64_t q) {
    return charge_steps(ms, static_cast<int64_t>(q - p)) == 0 ? q : n + 1;
}

/* How common each byte is in prose, logs and code, roughly: letters by
 * their frequency in English, capitals a little rarer, digits in between,
 * space and line feed the most common. Of the bytes from 0x80 up, those
 * that begin a UTF-8 sequence (0xC2 to 0xF4) are as common as letters, for
 * a text in one script begins most of its characters with one or two of
 * them, and the continuation bytes (0x80 to 0xBF), spread over 64 values,
 * are rarer. */
struct byte_weights {
    int w[256];
};

static constexpr byte_weights make_weights() {
    byte_weights t{};
    const char common[] = "etaoinsrhldcumfpgwybvkxjqz"; /* most common first */
    for (int b = 0; b < 256; b++) t.w[b] = 3;
    for (int b = 0x80; b <= 0xBF; b++) t.w[b] = 6;
    for (int b = 0xC2; b <= 0xF4; b++) t.w[b] = 30;
    for (int b = '0'; b <= '9'; b++) t.w[b] = 12;
    for (int i = 0; common[i] != '\0'; i++) {
        t.w[static_cast<unsigned char>(common[i])] = 30 - i;
        t.w[static_cast<unsigned char>(common[i] - 32)] = 28 - i;
    }
    t.w[static_cast<unsigned char>(' ')] = 40;
    t.w[static_cast<unsigned char>('\n')] = 40;
    return t;
}

static constexpr byte_weights WEIGHTS = make_weights();

size_t rx_prefilter_rare_of(const uint8_t *bytes, int32_t len) {
    size_t rare = 0;
    for (int32_t i = 1; i < len; i++)
        if (WEIGHTS.w[bytes[i]] < WEIGHTS.w[bytes[rare]]) rare = static_cast<size_t>(i);
    return rare;
}

/*
 * Hopeless start positions. When every match of the tree consumes a byte,
 * its first byte is one that a byte leaf the walk reaches first accepts:
 * through sequences (past the items that may match without consuming:
 * anchors, boundaries, repetitions that may take nothing), groups,
 * alternations and repetitions. An attempt at a position whose byte no such
 * leaf accepts, or at the end of the text, cannot match. Such positions are
 * ruled out without an attempt, for one step each (an attempt would have
 * cost at least that: the search's own step).
 *
 * One more shape is common enough to deserve it: a sequence that begins with
 * an anchor or a word boundary (the guard), as in \bword\b. A position is
 * then ruled out where the guard fails, or where it holds but the byte
 * cannot begin the rest.
 *
 * The analysis walks at most a few thousand nodes and gives up on anything
 * else.
 */
#define RX_FIRST_VISITS 4096
#define RX_FIRST_LEVELS 32

/* What first_of tells of a node. */
enum {
    FS_GIVE_UP,  /* the walk got too big or met a kind it does not know */
    FS_CONSUMES, /* every match of the node consumes first one of the bytes */
    FS_NULLABLE  /* it may also match without consuming (zero-width items,
                    repetitions that may take nothing) */
};

static int first_of(const rx_node *node, uint8_t *acc, int level, int *visits);

/* first_of the items from..flat_len - 1 of a sequence in a row: the bytes of
 * each item are added until one must consume. */
static int first_of_items(const rx_node *seq, int32_t from, uint8_t *acc, int level, int *visits) {
    for (int32_t i = from; i < seq->flat_len; i++) {
        const int r = first_of(seq->flat[i], acc, level, visits);
        if (r != FS_NULLABLE) return r;
    }
    return FS_NULLABLE;
}

/* Adds to acc (a 32-byte set) the bytes node may consume first. A node
 * that never matches (a minimum above its maximum) consumes nothing and
 * adds nothing. */
static int first_of(const rx_node *node, uint8_t *acc, int level, int *visits) {
    if (++*visits > RX_FIRST_VISITS || level > RX_FIRST_LEVELS) return FS_GIVE_UP;
    switch (node->kind) {
    case RX_CHAR:
    case RX_ANY:
    case RX_CLASS: leaf_set(node, acc); return FS_CONSUMES;
    case RX_ANCHOR:
    case RX_WORDB: return FS_NULLABLE;
    case RX_GROUP: return first_of(node->child, acc, level + 1, visits);
    case RX_CONCAT:
        if (node->lit != nullptr) {
            set_add_literal(acc, node->lit[0], lit_fold(node));
            return FS_CONSUMES;
        }
        return first_of_items(node, 0, acc, level + 1, visits);
    case RX_ALT: {
        int nullable = 0;
        for (int32_t i = 0; i < node->flat_len; i++) {
            const int r = first_of(node->flat[i], acc, level + 1, visits);
            if (r == FS_GIVE_UP) return r;
            nullable |= r == FS_NULLABLE;
        }
        return nullable ? FS_NULLABLE : FS_CONSUMES;
    }
    case RX_REPEAT: {
        if (node->max >= 0 && node->min > node->max) return FS_CONSUMES; /* never matches */
        if (node->max == 0) return FS_NULLABLE;                          /* the empty sequence */
        const int r = first_of(node->child, acc, level + 1, visits);
        return r == FS_GIVE_UP || node->min >= 1 ? r : FS_NULLABLE;
    }
    default: return FS_GIVE_UP;
    }
}

/* The node through groups, the first item of sequences included when
 * first_item is set. */
static const rx_node *unwrap(const rx_node *node, int first_item) {
    for (int hops = 0; hops < 4096; hops++) {
        if (node->kind == RX_GROUP)
            node = node->child;
        else if (first_item && node->kind == RX_CONCAT && node->lit == nullptr)
            node = node->flat[0];
        else
            return node;
    }
    return node;
}

/*
 * The second bytes of a match that begins with an alternation of literal
 * chains and single bytes (as apple|banana|cherry): for each first byte, the
 * bytes that may follow it. A single-byte alternative lets anything follow.
 * Null when the tree has no such shape or memory ran out (nothing is lost
 * but speed).
 */
static uint8_t *second_bytes(const rx_node *root) {
    const rx_node *alt = unwrap(root, 1);
    if (alt->kind != RX_ALT || alt->pick == nullptr) return nullptr;
    uint8_t *second = static_cast<uint8_t *>(rx_calloc(256, 32));
    if (second == nullptr) return nullptr;
    for (int32_t i = 0; i < alt->flat_len; i++) {
        const rx_node *op = alt->flat[i];
        uint8_t first[32] = {}, then[32]; /* its first bytes, and what may follow them */
        if (op->kind == RX_CONCAT) {
            const int fold = lit_fold(op);
            set_add_literal(first, op->lit[0], fold);
            memset(then, 0, sizeof then);
            set_add_literal(then, op->lit[1], fold);
        } else {
            leaf_set(op, first);
            memset(then, 0xFF, sizeof then);
        }
        for (unsigned b = 0; b < 256; b++)
            if (in_bits(first, static_cast<uint8_t>(b)))
                for (unsigned w = 0; w < 32; w++)
                    second[32 * b + w] = static_cast<uint8_t>(second[32 * b + w] | then[w]);
    }
    return second;
}

int rx_prefilter_analyse(const rx_node *root, rx_first_bytes *fb) {
    memset(fb->accept, 0, sizeof fb->accept);
    fb->guard = nullptr;
    fb->second = nullptr;
    int visits = 0;
    /* A guard: the zero-width first item of the sequence (through groups). */
    const rx_node *seq = unwrap(root, 0);
    int r;
    uint8_t bits[32] = {};
    if (seq->kind == RX_CONCAT && seq->lit == nullptr &&
        (seq->flat[0]->kind == RX_ANCHOR || seq->flat[0]->kind == RX_WORDB)) {
        fb->guard = seq->flat[0];
        r = first_of_items(seq, 1, bits, 0, &visits);
    } else {
        r = first_of(root, bits, 0, &visits);
    }
    if (r != FS_CONSUMES) return 0;
    int count = 0;
    fb->few = 0;
    for (int b = 0; b < 256; b++) {
        fb->accept[b] = static_cast<uint8_t>(in_bits(bits, static_cast<uint8_t>(b)));
        if (!fb->accept[b]) continue;
        if (count++ < 8) fb->few_bytes[fb->few++] = static_cast<uint8_t>(b);
    }
    if (count > 8) fb->few = 0;
    if (fb->guard == nullptr && count > 1) fb->second = second_bytes(root);
    fb->few2 = 0;
    if (fb->second != nullptr && fb->few > 0) {
        uint8_t any[32] = {}; /* the bytes that may come second after any first */
        for (int k = 0; k < fb->few; k++)
            for (int w = 0; w < 32; w++)
                any[w] = static_cast<uint8_t>(any[w] | fb->second[32 * fb->few_bytes[k] + w]);
        int count = 0;
        for (int b = 0; b < 256; b++)
            if ((any[b >> 3] >> (b & 7)) & 1) count++;
        if (count >= 1 && count <= 8)
            for (int b = 0; b < 256; b++)
                if ((any[b >> 3] >> (b & 7)) & 1) fb->few2_bytes[fb->few2++] = static_cast<uint8_t>(b);
    }
    return count < 256 || fb->guard != nullptr;
}

/* First position at or after p (below n) whose byte may begin a match; n
 * when there is none. */
static uint64_t next_candidate(const rx_first_bytes *fb, const uint8_t *t, uint64_t n, uint64_t p) {
    if (fb->few == 1) {
        const void *hit = memchr(t + p, fb->few_bytes[0], static_cast<size_t>(n - p));
        return hit != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) : n;
    }
    for (; p < n; p++) {
        if (fb->few > 0) {
            /* both bytes at once up to the byte before the last */
            const int pair = fb->few2 > 0 && p + 1 < n;
            size_t room = static_cast<size_t>(n - p - (pair ? 1 : 0));
            size_t at =
                rx_find_any_of(t + p, room, fb->few_bytes, fb->few, fb->few2_bytes, pair ? fb->few2 : 0);
            p += at;
            if (at == room) {
                if (p == n) return n;
                continue; /* the last byte: no second byte in view */
            }
        } else if (!fb->accept[t[p]]) {
            continue;
        }
        /* the last byte may be tried with no second byte in view */
        if (fb->second == nullptr || p + 1 == n) return p;
        const uint8_t b = t[p], c = t[p + 1];
        if ((fb->second[32 * b + (c >> 3)] >> (c & 7)) & 1) return p;
    }
    return n;
}

/* First position q at or after p where the prefix's bytes begin, or n + 1
 * when there is none. Its least common byte (at index rare) is looked up
 * among the occurrences noted while the text was measured, and found with
 * memchr beyond them. */
uint64_t rx_prefilter_next_literal(const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    const rx_literal *lit = &prog->prefix;
    const uint64_t m = static_cast<uint64_t>(lit->len), rare = lit->rare;
    if (n < m || p > n - m) return n + 1;
    if (p + rare < prog->seen_until) {
        const uint32_t *begin = prog->seen, *end = prog->seen + prog->seen_count;
        for (const uint32_t *o = std::lower_bound(begin, end, p + rare); o < end; o++) {
            const uint64_t q = *o - rare;
            if (q > n - m) return n + 1;
            if (memcmp(t + q, lit->bytes, static_cast<size_t>(m)) == 0) return q;
        }
        /* no start whose rare byte lies below seen_until is left */
        if (prog->seen_until >= n) return n + 1;
        p = prog->seen_until - rare;
        if (p > n - m) return n + 1;
    }
    if (lit->second >= 0) {
        /* the pair of bytes at their offsets, then the rest */
        const rx_byte_at one = {static_cast<size_t>(rare), lit->bytes[rare], 0};
        const rx_byte_at two = {static_cast<size_t>(lit->second), lit->bytes[lit->second], 0};
        while (p <= n - m) {
            const size_t count = static_cast<size_t>(n - m - p + 1);
            const size_t i = rx_find_pair(t + p, count, one, two);
            if (i == count) return n + 1;
            if (memcmp(t + p + i, lit->bytes, static_cast<size_t>(m)) == 0) return p + i;
            p += i + 1;
        }
        return n + 1;
    }
    const void *hit =
        rx_find_bytes(t + p, static_cast<size_t>(n - p), lit->bytes, static_cast<size_t>(m), rare);
    return hit != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) : n + 1;
}

/* Charges one step for each position from p on where the required literal
 * does not begin, and returns the first where it does (n + 1 when none is
 * left). When the budget runs out on the way, sets the flag as a refused
 * step would and returns n + 1. */
uint64_t rx_prefilter_skip_literal(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n,
                                   uint64_t p) {
    return charge_hopeless(ms, n, p, rx_prefilter_next_literal(prog, t, n, p));
}

/* Room for one more noted occurrence: 0, or -1 when the list is full
 * (RX_SEEN_MAX) or cannot grow. */
static int seen_grow(rx_prog *prog) {
    if (prog->seen_count < prog->seen_room) return 0;
    if (prog->seen_room >= RX_SEEN_MAX) return -1;
    uint32_t room = prog->seen_room == 0 ? 64 : 2 * prog->seen_room;
    void *block = rx_realloc(prog->seen, room * sizeof *prog->seen);
    if (block == nullptr) return -1;
    prog->seen = static_cast<uint32_t *>(block);
    prog->seen_room = room;
    return 0;
}

/*
 * How common the bytes from 0x80 up are depends on the script of the text:
 * in Russian the lead byte 0xD0 begins most characters and some of the
 * continuation bytes are rare, in Chinese the continuation bytes are spread
 * over all 64 values. So for a literal with such bytes the least common one
 * is chosen by the text's own first RX_SAMPLE bytes (ties by the table);
 * when even that one is common there (one byte in RX_COMMON or more: too
 * many to note while the text is measured), the
 * next least common is searched together with it, at its own offset.
 */
#define RX_SAMPLE 1024
#define RX_COMMON 300

/* The index of the least common byte of lit by count, other than skip (a
 * byte value, or -1). */
static size_t least_counted(const rx_literal *lit, const uint32_t *count, int skip) {
    size_t rare = SIZE_MAX;
    for (int32_t i = 0; i < lit->len; i++) {
        const uint8_t b = lit->bytes[i];
        if (b == skip) continue;
        if (rare == SIZE_MAX) {
            rare = static_cast<size_t>(i);
            continue;
        }
        const uint8_t r = lit->bytes[rare];
        if (count[b] < count[r] || (count[b] == count[r] && WEIGHTS.w[b] < WEIGHTS.w[r]))
            rare = static_cast<size_t>(i);
    }
    return rare;
}

static int has_high_bytes(const rx_literal *lit) {
    for (int32_t i = 0; i < lit->len; i++)
        if (lit->bytes[i] >= 0x80) return 1;
    return 0;
}

/* The byte counts of the text's first size bytes (at most); how many it
 * holds. */
static size_t sample_counts(const char *text, size_t size, uint32_t *count) {
    const size_t m = strnlen(text, size);
    for (size_t i = 0; i < m; i++) count[static_cast<uint8_t>(text[i])]++;
    return m;
}

/* The least common byte by the counts of a sample of m bytes, and when it
 * is common there too the least common other one, searched with it. */
static void choose_rare(rx_literal *lit, const uint32_t *count, size_t m) {
    lit->rare = least_counted(lit, count, -1);
    lit->second = -1;
    if (count[lit->bytes[lit->rare]] * RX_COMMON < m) return;
    const size_t second = least_counted(lit, count, lit->bytes[lit->rare]);
    if (second != SIZE_MAX) lit->second = static_cast<int32_t>(second);
}

static void rare_by_sample(rx_literal *lit, const char *text) {
    lit->second = -1;
    if (!has_high_bytes(lit)) return;
    uint32_t count[256] = {};
    choose_rare(lit, count, sample_counts(text, RX_SAMPLE, count));
}

/* The measuring hops from one occurrence of the rare byte to the next and
 * stops at the terminator, so the text is read once for both its length and
 * the occurrences. Once no more can be noted (there are RX_SEEN_MAX, an
 * offset does not fit 32 bits, or memory ran out: only speed is lost) the
 * rest is only measured. When they come too thick to pay for the hops (one
 * in RX_COMMON bytes or more, judged from RX_DENSE_FROM bytes on), none is
 * kept: the text is searched by the byte least common in its first
 * RX_DENSE_FROM bytes (with another where that one is common too). */
#define RX_DENSE_FROM 4096

uint64_t rx_prefilter_measure(rx_prog *prog, const char *text, uint64_t limit) {
    rare_by_sample(&prog->prefix, text);
    if (prog->prefix.second >= 0) return strnlen(text, static_cast<size_t>(limit + 1));
    const char rare = static_cast<char>(prog->prefix.bytes[prog->prefix.rare]);
    for (const char *p = text;;) {
        const char *q = rx_find_byte_or_end(p, rare);
        const uint64_t at = static_cast<uint64_t>(q - text);
        if (at > limit) return limit + 1;
        const int dense = at >= RX_DENSE_FROM && static_cast<uint64_t>(prog->seen_count) * RX_COMMON >= at;
        if (dense) {
            uint32_t count[256] = {};
            choose_rare(&prog->prefix, count, sample_counts(text, RX_DENSE_FROM, count));
            prog->seen_count = 0;
            return at + strnlen(q, static_cast<size_t>(limit + 1 - at));
        }
        if (*q == '\0' || at > UINT32_MAX || seen_grow(prog) != 0) {
            prog->seen_until = at;
            return *q == '\0' ? at : at + strnlen(q, static_cast<size_t>(limit + 1 - at));
        }
        prog->seen[prog->seen_count++] = static_cast<uint32_t>(at);
        p = q + 1;
    }
}

/* 1 when an attempt at p must really be made (the guard holds there and the
 * byte may begin the rest). */
static int guard_admits(const rx_first_bytes *fb, const rx_node *guard, const uint8_t *t, uint64_t n,
                        uint64_t p) {
    uint64_t e;
    return p < n && fb->accept[t[p]] && leaf_match(guard, t, n, p, &e);
}

/* The guard is given apart from the analysis, so that a caller may test a
 * variant of it (an anchor that also holds at line feeds). */
uint64_t rx_prefilter_next_bytes(const rx_first_bytes *fb, const rx_node *guard, const uint8_t *t, uint64_t n,
                                 uint64_t p) {
    if (guard == nullptr) {
        const uint64_t q = next_candidate(fb, t, n, p);
        return q == n ? n + 1 : q; /* the end of the text never begins a match here */
    }
    uint64_t q = p;
    while (q <= n && !guard_admits(fb, guard, t, n, q)) q = q < n ? next_candidate(fb, t, n, q + 1) : n + 1;
    return q;
}

/*
 * Rules out the hopeless positions from p on, one step each, and returns the
 * first position that must really be tried (n + 1 when none is left). When
 * the budget runs out on the way, sets the flag as a refused step would and
 * returns n + 1.
 */
uint64_t rx_prefilter_skip_bytes(mstate *ms, const rx_first_bytes *fb, const uint8_t *t, uint64_t n,
                                 uint64_t p) {
    return charge_hopeless(ms, n, p, rx_prefilter_next_bytes(fb, fb->guard, t, n, p));
}

/* The item every match of node begins with: through groups, and through
 * the zero-width items that begin a sequence (they consume nothing, so what
 * follows them begins where the match does). */
static const rx_node *first_item(const rx_node *node) {
    for (int hops = 0; hops < RX_FIRST_VISITS; hops++) {
        if (node->kind == RX_GROUP) {
            node = node->child;
        } else if (node->kind == RX_CONCAT && node->lit == nullptr) {
            int32_t i = 0;
            while (i + 1 < node->flat_len &&
                   (node->flat[i]->kind == RX_ANCHOR || node->flat[i]->kind == RX_WORDB))
                i++;
            node = node->flat[i];
        } else {
            return node;
        }
    }
    return node;
}

/* Appends c (of case rule fold) to the literal, when it has room and the
 * same rule; 0 when it cannot take it. */
static int literal_add(rx_literal *lit, uint8_t c, int fold) {
    if (lit->len == RX_LITERAL_MAX || (lit->len > 0 && lit->fold != fold)) return 0;
    lit->fold = fold;
    lit->bytes[lit->len++] = c;
    return 1;
}

/* Appends to lit the literal bytes every match of node begins with. 1 when
 * node is those bytes and nothing else (zero-width items aside), so that
 * the literal may go on with what follows it. */
static int literal_start(const rx_node *node, rx_literal *lit, int level, int *visits) {
    if (++*visits > RX_FIRST_VISITS || level > RX_FIRST_LEVELS) return 0;
    switch (node->kind) {
    case RX_ANCHOR:
    case RX_WORDB: return 1;
    case RX_CHAR: return literal_add(lit, node->ch, (node->flags & RX_FLAG_I) != 0);
    case RX_GROUP: return literal_start(node->child, lit, level + 1, visits);
    case RX_CONCAT:
        if (node->lit != nullptr) {
            for (int32_t i = 0; i < node->lit_len; i++)
                if (!literal_add(lit, node->lit[i], lit_fold(node))) return 0;
            return 1;
        }
        for (int32_t i = 0; i < node->flat_len; i++)
            if (!literal_start(node->flat[i], lit, level + 1, visits)) return 0;
        return 1;
    case RX_REPEAT:
        /* the first iteration begins with what the operand begins with */
        if (node->min >= 1 && (node->max < 0 || node->max >= node->min))
            return literal_start(node->child, lit, level + 1, visits) && node->min == 1 && node->max == 1;
        return 0;
    case RX_ALT: {
        /* the bytes all alternatives begin with */
        rx_literal first = *lit, other;
        int whole = literal_start(node->flat[0], &first, level + 1, visits);
        for (int32_t i = 1; i < node->flat_len && first.len > lit->len; i++) {
            other = *lit;
            whole &= literal_start(node->flat[i], &other, level + 1, visits);
            int32_t same = lit->len;
            while (same < first.len && same < other.len && first.bytes[same] == other.bytes[same] &&
                   first.fold == other.fold)
                same++;
            whole &= same == first.len && same == other.len;
            first.len = same;
        }
        *lit = first;
        return whole;
    }
    default: return 0;
    }
}

void rx_prefilter_literal(const rx_node *root, rx_literal *lit) {
    memset(lit, 0, sizeof *lit);
    lit->second = -1;
    int visits = 0;
    literal_start(root, lit, 0, &visits);
    if (lit->len > 0) lit->rare = rx_prefilter_rare_of(lit->bytes, lit->len);
}

/* The alternation of literals every match begins with, or null. */
rx_node *rx_prefilter_alternation(const rx_node *root) {
    const rx_node *first = first_item(root);
    return first->kind == RX_ALT ? const_cast<rx_node *>(first) : nullptr;
}

/* The byte (and fold) a position of one byte or of one letter in either
 * case is searched by; -1 for a position of any other set. */
static int32_t single_byte(const uint8_t *set, int32_t *fold) {
    int count = 0, only = -1;
    for (unsigned i = 0; i < 32 && count <= 2; i++) {
        if (set[i] == 0) continue;
        count += __builtin_popcount(set[i]);
        only = static_cast<int>(8 * i + 31 - static_cast<unsigned>(__builtin_clz(set[i])));
    }
    *fold = 0;
    if (count == 1) return only;
    if (count == 2 && only >= 'a' && only <= 'z' && in_bits(set, static_cast<uint8_t>(only - 32))) {
        *fold = 1;
        return only;
    }
    return -1;
}

/*
 * A sequence whose first item is a greedy unbounded repetition (minimum at
 * least 1) of a byte leaf X, followed by items that must begin by consuming
 * a byte (the bytes they may begin with are the follow set). The repetition
 * commits to the whole run of X bytes from the start position, so an attempt
 * can match only where the byte after that run is in the follow set; every
 * start inside one run of X ends its run at the same place.
 */
void rx_prefilter_run(rx_prog *prog) {
    const rx_node *seq = unwrap(prog->root, 0);
    if (seq->kind != RX_CONCAT || seq->lit != nullptr) return;
    const rx_node *rep = unwrap(seq->flat[0], 0);
    if (rep->kind != RX_REPEAT || rep->min < 1 || rep->max != -1 || rep->lazy || !is_byte_leaf(rep->child))
        return;
    int visits = 0;
    memset(prog->run_follow, 0, sizeof prog->run_follow);
    if (first_of_items(seq, 1, prog->run_follow, 0, &visits) != FS_CONSUMES) return;
    int32_t fold;
    prog->run_byte = single_byte(prog->run_follow, &fold);
    if (fold) prog->run_byte = -1;
    prog->run = rep->child;
}

/* The first position q at or after p (below n) where a run of the prog's
 * leaf begins that the follow set can follow, or n + 1. */
uint64_t rx_prefilter_next_run(const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    uint64_t q = p, e;
    if (prog->run_byte >= 0) {
        /* the one byte found with memchr: a start can only lie in the run
         * that ends right before it */
        while (q < n) {
            const void *hit = memchr(t + q, prog->run_byte, static_cast<size_t>(n - q));
            if (hit == nullptr) return n + 1;
            uint64_t at = static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t), r = at;
            while (r > q && leaf_match(prog->run, t, n, r - 1, &e)) r--;
            if (r < at) return r;
            q = at + 1;
        }
        return n + 1;
    }
    while (q < n) {
        if (!leaf_match(prog->run, t, n, q, &e)) {
            q++;
            continue;
        }
        uint64_t r = q + 1;
        while (r < n && leaf_match(prog->run, t, n, r, &e)) r++;
        if (r < n && in_bits(prog->run_follow, t[r])) return q;
        q = r; /* every start in this run ends it at r */
    }
    return n + 1; /* the run needs a byte */
}

/* Charges one step for each position from p on where the run cannot be
 * followed as it must, and returns the first where it can (n + 1 when none
 * is left; the flag set when the budget ran out on the way). */
uint64_t rx_prefilter_skip_run(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    return charge_hopeless(ms, n, p, rx_prefilter_next_run(prog, t, n, p));
}

/* ---- a literal every match contains ---------------------------------------------- */

#define RX_REQUIRED_VISITS 65536

/* Keeps the literal run in *best when it is longer. */
static void required_keep(const rx_literal *run, rx_literal *best) {
    if (run->len > best->len) *best = *run;
}

/* The longest literal that every match of node contains, kept in *best:
 * literal items next to one another in a sequence (zero-width ones between
 * them aside), inside a group, or inside a repetition that must iterate. */
static void required_in(const rx_node *node, rx_literal *best, int level, int *visits) {
    if (++*visits > RX_REQUIRED_VISITS || level > RX_FIRST_LEVELS) return;
    rx_literal run = {};
    switch (node->kind) {
    case RX_CHAR:
    case RX_CONCAT:
        if (node->kind == RX_CHAR || node->lit != nullptr) {
            literal_start(node, &run, level, visits);
            required_keep(&run, best);
            return;
        }
        for (int32_t i = 0; i < node->flat_len; i++) {
            const rx_node *item = node->flat[i];
            if (item->kind == RX_ANCHOR || item->kind == RX_WORDB) continue;
            if (item->kind == RX_CHAR || (item->kind == RX_CONCAT && item->lit != nullptr)) {
                rx_literal more = run;
                if (literal_start(item, &more, level, visits)) {
                    run = more;
                    continue;
                }
                /* full, or another case rule: this run ends, one begins */
                required_keep(&more, best);
                run.len = 0;
                literal_start(item, &run, level, visits);
                continue;
            }
            required_keep(&run, best);
            run.len = 0;
            required_in(item, best, level + 1, visits);
        }
        required_keep(&run, best);
        return;
    case RX_GROUP: required_in(node->child, best, level + 1, visits); return;
    case RX_REPEAT:
        if (node->min >= 1 && (node->max < 0 || node->max >= node->min))
            required_in(node->child, best, level + 1, visits);
        return;
    default: return;
    }
}

void rx_prefilter_required(rx_prog *prog) {
    rx_literal *req = &prog->required;
    memset(req, 0, sizeof *req);
    req->second = -1;
    int visits = 0;
    required_in(prog->root, req, 0, &visits);
    /* a single byte is too likely to be there to pay for its search, and a
     * literal no longer than the one every match begins with adds nothing
     * to what the first positions' filters see */
    if (req->len < 2 || req->len <= prog->prefix.len) req->len = 0;
    if (req->len > 0) req->rare = rx_prefilter_rare_of(req->bytes, req->len);
}

/* A byte of a folded literal as rx_find_pair looks for it. */
static rx_byte_at folded_at(const uint8_t *lit, size_t at) {
    const uint8_t b = fold_byte(lit[at]);
    rx_byte_at one = {at, b, b >= 'a' && b <= 'z'};
    return one;
}

/* The first occurrence at or after p (whole, before n) of the m bytes lit
 * (m >= 2), letters compared in either case, found by the pair of its least
 * common byte (at index rare) and another. */
static uint64_t find_folded(const uint8_t *t, uint64_t n, uint64_t p, const uint8_t *lit, uint64_t m,
                            uint64_t rare) {
    const size_t other = rare == 0 ? 1 : 0;
    const rx_byte_at one = folded_at(lit, static_cast<size_t>(rare)), two = folded_at(lit, other);
    int32_t matched;
    while (p + m <= n) {
        const size_t count = static_cast<size_t>(n - m - p + 1);
        const size_t i = rx_find_pair(t + p, count, one, two);
        if (i == count) return n + 1;
        if (same_bytes(t + p + i, lit, static_cast<int32_t>(m), 1, &matched)) return p + i;
        p += i + 1;
    }
    return n + 1;
}

uint64_t rx_prefilter_required_next(const rx_literal *req, const uint8_t *t, uint64_t n, uint64_t p) {
    const uint64_t m = static_cast<uint64_t>(req->len);
    if (n < m || p > n - m) return n + 1;
    if (req->fold) return find_folded(t, n, p, req->bytes, m, req->rare);
    const void *hit =
        rx_find_bytes(t + p, static_cast<size_t>(n - p), req->bytes, static_cast<size_t>(m), req->rare);
    return hit != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) : n + 1;
}

/* Ends the search at p (charging one step for each position left, n + 1
 * returned) when the required literal no longer occurs from p on; else p.
 * Where it was last found is kept as a hint, checked before it is used. */
uint64_t rx_prefilter_skip_required(mstate *ms, rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    rx_literal *req = &prog->required;
    int32_t matched;
    const uint64_t m = static_cast<uint64_t>(req->len);
    if (req->seen_in == t && req->seen_at >= p && req->seen_at + m <= n &&
        same_bytes(t + req->seen_at, req->bytes, req->len, req->fold, &matched))
        return p;
    const uint64_t at = rx_prefilter_required_next(req, t, n, p);
    if (at > n) return charge_hopeless(ms, n, p, n + 1);
    req->seen_in = t;
    req->seen_at = at;
    return p;
}

/* ---- the fixed-width lead ------------------------------------------------------ */

/* Appends the positions of node to the lead while their widths are fixed;
 * 1 when node was fixed-width to its end (the next item may follow). */
static int lead_add(rx_lead *lead, const rx_node *node, int depth) {
    node = unwrap(node, 0);
    if (lead->len == RX_LEAD_MAX || depth > 8) return 0;
    if (is_byte_leaf(node)) {
        leaf_set(node, lead->set[lead->len]);
        lead->len++;
        return 1;
    }
    if (node->kind == RX_CONCAT && node->lit != nullptr) {
        const int fold = lit_fold(node);
        for (int32_t i = 0; i < node->lit_len; i++) {
            if (lead->len == RX_LEAD_MAX) return 0;
            set_add_literal(lead->set[lead->len++], node->lit[i], fold);
        }
        return 1;
    }
    if (node->kind == RX_REPEAT && node->min >= 1 && is_byte_leaf(node->child)) {
        const int32_t at = lead->len;
        leaf_set(node->child, lead->set[at]);
        for (int32_t i = 1; i < node->min; i++) {
            if (at + i == RX_LEAD_MAX) {
                lead->len = RX_LEAD_MAX;
                return 0;
            }
            memcpy(lead->set[at + i], lead->set[at], sizeof lead->set[at]);
        }
        lead->len = at + node->min;
        return node->max == node->min || node->lazy; /* a lazy one takes its minimum */
    }
    if (node->kind == RX_CONCAT) {
        for (int32_t i = 0; i < node->flat_len; i++)
            if (!lead_add(lead, node->flat[i], depth + 1)) return 0;
        return 1;
    }
    /* an anchor or a boundary takes no byte: the lead goes on past it (the
     * attempt itself tests it) */
    return node->kind == RX_ANCHOR || node->kind == RX_WORDB;
}

/* The sum of the weights of a set's bytes, so that a single rare byte wins. */
static int set_weight(const uint8_t *set) {
    int weight = 0;
    for (unsigned i = 0; i < 32; i++) {
        if (set[i] == 0) continue;
        for (unsigned bit = 0; bit < 8; bit++)
            if ((set[i] >> bit) & 1) weight += WEIGHTS.w[8 * i + bit];
    }
    return weight;
}

void rx_prefilter_lead(rx_prog *prog) {
    rx_lead *lead = &prog->lead;
    memset(lead, 0, sizeof *lead);
    lead->second = -1;
    lead_add(lead, prog->root, 0);
    if (lead->len < 2) {
        lead->len = 0;
        return;
    }
    /* the least common position first, then the least common one of a
     * single byte besides it */
    int best = -1, next = -1, weight[RX_LEAD_MAX];
    for (int32_t i = 0; i < lead->len; i++) {
        const int same = i > 0 && memcmp(lead->set[i], lead->set[i - 1], sizeof lead->set[i]) == 0;
        const int w = weight[i] = same ? weight[i - 1] : set_weight(lead->set[i]);
        if (best < 0 || w < best) {
            best = w;
            lead->anchor = i;
        }
    }
    lead->anchor_byte = single_byte(lead->set[lead->anchor], &lead->fold);
    if (lead->anchor_byte < 0) return;
    for (int32_t i = 0; i < lead->len; i++) {
        int32_t fold, b = single_byte(lead->set[i], &fold);
        const int w = weight[i];
        if (i == lead->anchor || b < 0 || (next >= 0 && w >= next)) continue;
        next = w;
        lead->second = i;
        lead->second_byte = b;
        lead->second_fold = fold;
    }
}

/* 1 when the lead's positions all take their bytes at p (p + len <= n). */
static int lead_holds(const rx_lead *lead, const uint8_t *t, uint64_t p) {
    for (int32_t i = 0; i < lead->len; i++)
        if (!in_bits(lead->set[i], t[p + static_cast<uint64_t>(i)])) return 0;
    return 1;
}

/* The first position q >= p (q + len <= n) where the lead holds, or n + 1. */
uint64_t rx_prefilter_next_lead(const rx_lead *lead, const uint8_t *t, uint64_t n, uint64_t p) {
    const uint64_t len = static_cast<uint64_t>(lead->len), at = static_cast<uint64_t>(lead->anchor);
    if (n < len) return n + 1;
    const uint64_t last = n - len; /* the last start that leaves room */
    while (p <= last) {
        uint64_t q; /* the next start whose anchor position takes its byte */
        if (lead->second >= 0) {
            rx_byte_at one = {static_cast<size_t>(at), static_cast<unsigned char>(lead->anchor_byte),
                              lead->fold};
            rx_byte_at two = {static_cast<size_t>(lead->second),
                              static_cast<unsigned char>(lead->second_byte), lead->second_fold};
            size_t count = static_cast<size_t>(last - p + 1);
            size_t i = rx_find_pair(t + p, count, one, two);
            if (i == count) return n + 1;
            q = p + i;
        } else if (lead->anchor_byte >= 0) {
            const uint8_t *from = t + p + at;
            size_t room = static_cast<size_t>(last - p + 1);
            const uint8_t b = static_cast<uint8_t>(lead->anchor_byte);
            const void *hit = lead->fold ? rx_find_byte_folded(from, room, b) : memchr(from, b, room);
            if (hit == nullptr) return n + 1;
            q = static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) - at;
        } else {
            q = p;
            while (q <= last && !in_bits(lead->set[at], t[q + at])) q++;
            if (q > last) return n + 1;
        }
        if (lead_holds(lead, t, q)) return q;
        p = q + 1;
    }
    return n + 1;
}

/* Charges one step for each position from p on where the lead does not
 * hold, and returns the first where it does (n + 1 when none is left; the
 * flag set when the budget ran out on the way). */
uint64_t rx_prefilter_skip_lead(mstate *ms, const rx_lead *lead, const uint8_t *t, uint64_t n, uint64_t p) {
    return charge_hopeless(ms, n, p, rx_prefilter_next_lead(lead, t, n, p));
}

/* Charges one step for each position from p on where none of the set's
 * literals occurs, and returns the first where one does (n + 1 when none is
 * left; the flag set when the budget ran out on the way). */
uint64_t rx_prefilter_skip_literals(mstate *ms, rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p) {
    return charge_hopeless(ms, n, p, rx_literals_next(set, t, n, p));
}

/* ---- the first item's bytes, at once ------------------------------------------------
 * A cheap test before each attempt, made at prepare, for every text however
 * short: the bytes the pattern's first item can begin with, where that item
 * must take a byte (a byte leaf, a literal chain, a repetition of a byte leaf
 * with a minimum of at least one, an alternation with a byte table), through
 * groups. A position whose byte is none of them, and the end of the text,
 * cannot begin a match. */
void rx_prefilter_quick(rx_prog *prog) {
    const rx_node *node = prog->root;
    memset(prog->quick_first, 0, sizeof prog->quick_first);
    prog->quick = 0;
    for (int hops = 0; hops < 64; hops++) {
        if (node->kind == RX_GROUP) {
            node = node->child;
        } else if (node->kind == RX_CONCAT && node->lit == nullptr) {
            node = node->flat[0];
        } else {
            break;
        }
    }
    if (node->kind == RX_REPEAT && node->min >= 1 && (node->max < 0 || node->max >= node->min) &&
        is_byte_leaf(node->child))
        node = node->child;
    if (is_byte_leaf(node)) {
        leaf_set(node, prog->quick_first);
    } else if (node->kind == RX_CONCAT && node->lit != nullptr) {
        set_add_literal(prog->quick_first, node->lit[0], lit_fold(node));
    } else if (node->kind == RX_ALT && node->pick != nullptr) {
        for (unsigned b = 0; b < 256; b++)
            if (node->pick[b] >= 0) set_add(prog->quick_first, b);
    } else {
        return;
    }
    prog->quick = 1;
}
