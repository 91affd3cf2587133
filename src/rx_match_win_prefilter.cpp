/*
 * The engine's prefilters: which start positions a search may rule out
 * without an attempt, for one step each, and how it finds the next one it
 * must try. The first that a pattern's shape allows decides:
 *   - the literal (in one case) every match begins with: its least common
 *     byte found with memchr, the rest compared;
 *   - the lead, the bytes of fixed-width first items position by position:
 *     its two least common positions searched together;
 *   - a run every match begins with and the byte that must follow it;
 *   - the bytes that may begin a match (and, after an alternation of
 *     literals, the bytes that may come second), or a guard anchor or word
 *     boundary in front of them, analysed once attempts start failing.
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

/*
 * Hopeless start positions. When every way into the tree first
 * passes (through sequences, groups, alternations and repetitions with a
 * minimum of at least one) a byte-consuming leaf, an attempt at a position
 * whose byte no such leaf accepts, or at the end of the text, cannot match.
 * Such positions are ruled out without an attempt, for one step each (an
 * attempt would have cost at least that: the search's own step).
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

/* Adds the first bytes of node to acc; 0 when node may begin otherwise (or
 * the walk gets too big). */
static int first_set(const rx_node *node, uint8_t *acc, int level, int *visits) {
    for (;;) {
        if (++*visits > RX_FIRST_VISITS) return 0;
        switch (node->kind) {
        case RX_CONCAT: node = node->left; continue;
        case RX_GROUP: node = node->child; continue;
        case RX_CHAR:
        case RX_ANY:
        case RX_CLASS: {
            uint8_t set[32] = {};
            leaf_set(node, set);
            for (unsigned b = 0; b < 256; b++)
                if (in_bits(set, static_cast<uint8_t>(b))) acc[b] = 1;
            return 1;
        }
        case RX_ALT:
            if (level >= RX_FIRST_LEVELS) return 0;
            if (!first_set(node->left, acc, level + 1, visits)) return 0;
            node = node->right;
            continue;
        case RX_REPEAT:
            if (node->min < 1) return 0;
            if (node->max == 0) return 1; /* min above max: never matches */
            node = node->child;
            continue;
        default: return 0;
        }
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
            const int fold = (op->right->flags & RX_FLAG_I) != 0;
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
    /* A guard at the bottom of the left spine of sequences and groups. */
    const rx_node *node = root;
    while ((node->kind == RX_CONCAT || node->kind == RX_GROUP) && visits < RX_FIRST_VISITS) {
        visits++;
        if (node->kind == RX_GROUP) {
            node = node->child;
            continue;
        }
        if (node->left->kind == RX_ANCHOR || node->left->kind == RX_WORDB) {
            if (!first_set(node->right, fb->accept, 0, &visits)) return 0;
            fb->guard = node->left;
            break;
        }
        node = node->left;
    }
    if (fb->guard == nullptr) {
        visits = 0;
        if (!first_set(root, fb->accept, 0, &visits)) return 0;
    }
    int count = 0;
    fb->few = 0;
    for (int b = 0; b < 256; b++) {
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

/* Its least common byte (at index rare) is looked up among the occurrences
 * noted while the text was measured, and found with memchr beyond them. */
uint64_t rx_prefilter_next_literal(const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    const rx_node *lit = prog->prefix;
    const uint64_t m = static_cast<uint64_t>(lit->lit_len), rare = prog->prefix_rare;
    if (n < m || p > n - m) return n + 1;
    if (p + rare < prog->seen_until) {
        const uint32_t *begin = prog->seen, *end = prog->seen + prog->seen_count;
        for (const uint32_t *o = std::lower_bound(begin, end, p + rare); o < end; o++) {
            const uint64_t q = *o - rare;
            if (q > n - m) return n + 1;
            if (memcmp(t + q, lit->lit, static_cast<size_t>(m)) == 0) return q;
        }
        /* no start whose rare byte lies below seen_until is left */
        if (prog->seen_until >= n) return n + 1;
        p = prog->seen_until - rare;
        if (p > n - m) return n + 1;
    }
    const void *hit =
        rx_find_bytes(t + p, static_cast<size_t>(n - p), lit->lit, static_cast<size_t>(m), rare);
    return hit != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) : n + 1;
}

/* 1 when an alternative of alt (each a byte leaf or a literal chain) takes
 * the bytes at q: from the first whose first byte takes t[q] on. */
static int alternative_at(const rx_node *alt, const uint8_t *t, uint64_t n, uint64_t q) {
    if (q >= n) return 0;
    for (int32_t i = alt->pick[t[q]]; i >= 0 && i < alt->flat_len; i++) {
        const rx_node *op = alt->flat[i];
        uint64_t e;
        int32_t matched;
        if (op->kind != RX_CONCAT) {
            if (leaf_match(op, t, n, q, &e)) return 1;
        } else if (n - q >= static_cast<uint64_t>(op->lit_len) &&
                   same_bytes(t + q, op->lit, op->lit_len, (op->right->flags & RX_FLAG_I) != 0, &matched)) {
            return 1;
        }
    }
    return 0;
}

/* The alternatives are compared only where the first and second bytes
 * allow, and only for an alternation of a few (a long one would cost more
 * at each such position than it saves). */
#define RX_ALTERNATIVES_COMPARED 16

uint64_t rx_prefilter_next_alternative(const rx_first_bytes *fb, const rx_node *root, const uint8_t *t,
                                       uint64_t n, uint64_t p) {
    const rx_node *alt = unwrap(root, 1);
    if (fb->second == nullptr || alt->kind != RX_ALT || alt->pick == nullptr ||
        alt->flat_len > RX_ALTERNATIVES_COMPARED)
        return rx_prefilter_next_bytes(fb, nullptr, t, n, p);
    for (uint64_t q = p;; q++) {
        q = rx_prefilter_next_bytes(fb, nullptr, t, n, q);
        if (q > n || alternative_at(alt, t, n, q)) return q;
    }
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

/* The measuring hops from one occurrence of the rare byte to the next and
 * stops at the terminator, so the text is read once for both its length and
 * the occurrences. Once no more can be noted (there are RX_SEEN_MAX, an
 * offset does not fit 32 bits, or memory ran out: only speed is lost) the
 * rest is only measured. */
uint64_t rx_prefilter_measure(rx_prog *prog, const char *text, uint64_t limit) {
    const char rare = static_cast<char>(prog->prefix->lit[prog->prefix_rare]);
    for (const char *p = text;;) {
        const char *q = rx_find_byte_or_end(p, rare);
        const uint64_t at = static_cast<uint64_t>(q - text);
        if (at > limit) return limit + 1;
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

/* The literal chain that begins the first item of the first item ... of
 * the compiled tree, through groups: every match begins with its bytes.
 * Null when there is none. */
const rx_node *rx_prefilter_literal(const rx_node *root) {
    const rx_node *first = unwrap(root, 1);
    return first->kind == RX_CONCAT && first->lit != nullptr ? first : nullptr;
}

/*
 * A sequence whose first item is a greedy unbounded repetition (minimum at
 * least 1) of a byte leaf X, followed by an item that begins with a byte
 * leaf Y. The repetition commits to the whole run of X bytes from the start
 * position, so an attempt can match only where Y takes the byte after that
 * run; every start inside one run of X ends its run at the same place.
 */
void rx_prefilter_run(rx_prog *prog) {
    const rx_node *seq = unwrap(prog->root, 0);
    if (seq->kind != RX_CONCAT || seq->lit != nullptr) return;
    const rx_node *rep = unwrap(seq->flat[0], 0);
    if (rep->kind != RX_REPEAT || rep->min < 1 || rep->max != -1 || rep->lazy || !is_byte_leaf(rep->child))
        return;
    const rx_node *next = unwrap(seq->flat[1], 1);
    while (next->kind == RX_CONCAT && next->lit != nullptr) next = next->left; /* a literal's first byte */
    if (!is_byte_leaf(next)) return;
    prog->run = rep->child;
    prog->run_next = next;
}

uint64_t rx_prefilter_next_run(const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    uint64_t q = p, e;
    const rx_node *next = prog->run_next;
    if (next->kind == RX_CHAR && !(next->flags & RX_FLAG_I)) {
        /* the next byte found with memchr: a start can only lie in the run
         * that ends right before it */
        while (q < n) {
            const void *hit = memchr(t + q, next->ch, static_cast<size_t>(n - q));
            if (hit == nullptr) {
                q = n;
                break;
            }
            uint64_t at = static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t), r = at;
            while (r > q && leaf_match(prog->run, t, n, r - 1, &e)) r--;
            if (r < at) {
                q = r;
                break;
            }
            q = at + 1;
        }
        return q >= n ? n + 1 : q;
    }
    while (q < n) {
        if (!leaf_match(prog->run, t, n, q, &e)) {
            q++;
            continue;
        }
        uint64_t r = q + 1;
        while (r < n && leaf_match(prog->run, t, n, r, &e)) r++;
        if (leaf_match(prog->run_next, t, n, r, &e)) break;
        q = r; /* every start in this run ends it at r */
    }
    return q >= n ? n + 1 : q; /* the run needs a byte */
}

/* Charges one step for each position from p on where the run cannot be
 * followed by its next byte, and returns the first where it can (n + 1 when
 * none is left; the flag set when the budget ran out on the way). */
uint64_t rx_prefilter_skip_run(mstate *ms, const rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t p) {
    return charge_hopeless(ms, n, p, rx_prefilter_next_run(prog, t, n, p));
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
        const int fold = (node->right->flags & RX_FLAG_I) != 0;
        for (int32_t i = 0; i < node->lit_len; i++) {
            if (lead->len == RX_LEAD_MAX) return 0;
            set_add_literal(lead->set[lead->len++], node->lit[i], fold);
        }
        return 1;
    }
    if (node->kind == RX_REPEAT && node->min >= 1 && is_byte_leaf(node->child)) {
        for (int32_t i = 0; i < node->min; i++)
            if (!lead_add(lead, node->child, depth + 1)) return 0;
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

/* How common each byte is in prose, logs and code, roughly: letters by
 * their frequency in English, capitals a little rarer, digits in between,
 * space and line feed the most common. */
struct byte_weights {
    int w[256];
};

static constexpr byte_weights make_weights() {
    byte_weights t{};
    const char common[] = "etaoinsrhldcumfpgwybvkxjqz"; /* most common first */
    for (int b = 0; b < 256; b++) t.w[b] = 3;
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

size_t rx_prefilter_rare_byte(const rx_node *lit) {
    size_t rare = 0;
    for (int32_t i = 1; i < lit->lit_len; i++)
        if (WEIGHTS.w[lit->lit[i]] < WEIGHTS.w[lit->lit[rare]]) rare = static_cast<size_t>(i);
    return rare;
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

/* The byte (and fold) a position of one byte or of one letter in either
 * case is searched by; -1 for a position of any other set. */
static int32_t single_byte(const uint8_t *set, int32_t *fold) {
    int count = 0, only = -1;
    for (unsigned b = 0; b < 256; b++)
        if (in_bits(set, static_cast<uint8_t>(b))) {
            count++;
            only = static_cast<int>(b);
        }
    *fold = 0;
    if (count == 1) return only;
    if (count == 2 && only >= 'a' && only <= 'z' && in_bits(set, static_cast<uint8_t>(only - 32))) {
        *fold = 1;
        return only;
    }
    return -1;
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
    int best = -1, next = -1;
    for (int32_t i = 0; i < lead->len; i++) {
        int w = set_weight(lead->set[i]);
        if (best < 0 || w < best) {
            best = w;
            lead->anchor = i;
        }
    }
    lead->anchor_byte = single_byte(lead->set[lead->anchor], &lead->fold);
    if (lead->anchor_byte < 0) return;
    for (int32_t i = 0; i < lead->len; i++) {
        int32_t fold, b = single_byte(lead->set[i], &fold);
        int w = set_weight(lead->set[i]);
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

/* A position q >= p where the lead holds also has q + len <= n. */
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
