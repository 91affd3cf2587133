/*
 * Literal sets: the alternatives of an alternation whose alternatives are
 * all literal chains or single literal bytes (a few keywords, or a
 * dictionary of words joined by "|"), compiled once per prog into
 *   - a trie of their bytes, which tells in one walk which alternative the
 *     matcher's rules pick at a position: the first in order that matches
 *     (the lowest index among those that match, never the longest);
 *   - a search for the next position where any of them occurs: nibble masks
 *     compared sixteen positions at a time (the "Teddy" filter, SSSE3) for a
 *     few dozen literals, an Aho-Corasick automaton for more, built on the
 *     first search over a text long enough to pay for it, and the bytes that
 *     begin a literal, each candidate walked in the trie, where neither fits.
 * With the case-insensitive flag every letter is kept and compared in lower
 * case.
 */
#include <stdlib.h>
#include <string.h>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#  include <tmmintrin.h>
#  define RX_HAVE_TEDDY 1
#else
#  define RX_HAVE_TEDDY 0
#endif

#define RX_TEDDY_MAX 64             /* literals a Teddy filter takes at most */
#define RX_DFA_MAX_CELLS (1u << 22) /* entries of an automaton at most (16 MiB) */
#define RX_DFA_OUT 0x80000000u      /* an automaton entry's flag: a literal ends */
#define RX_SORT_SMALL 16            /* ranges sorted by insertion below this */

static inline uint8_t key_of(const rx_litset *set, uint8_t b) { return set->fold ? fold_byte(b) : b; }

/* ---- building ------------------------------------------------------------------ */

/* An alternative's bytes, its length and its case rule; null when it is no
 * literal chain or literal byte. */
static const uint8_t *alt_bytes(const rx_node *op, int32_t *len, int *fold) {
    if (op->kind == RX_CHAR) {
        *len = 1;
        *fold = (op->flags & RX_FLAG_I) != 0;
        return &op->ch;
    }
    if (op->kind == RX_CONCAT && op->lit != nullptr) {
        *len = op->lit_len;
        *fold = lit_fold(op);
        return op->lit;
    }
    return nullptr;
}

static void free_set(rx_litset *set) {
    free(set->len); /* the block of every per-alternative and per-node array */
    free(set->dfa);
    free(set->longest);
    free(set);
}

void rx_literals_free(rx_prog *prog) {
    while (prog->litsets != nullptr) {
        rx_litset *next = prog->litsets->next;
        free_set(prog->litsets);
        prog->litsets = next;
    }
    prog->lead_set = nullptr;
}

/* What the breadth-first build keeps per node and per alternative. */
typedef struct trie_work {
    const uint8_t **bytes; /* per alternative */
    int32_t *order;        /* alternatives, sorted range by range */
    int32_t *spare;        /* room for one range while it is sorted */
    uint32_t *lo, *hi;     /* per node: its alternatives, order[lo .. hi) */
    uint32_t *depth;       /* per node: the length of its prefix */
} trie_work;

/* Where alternative i sorts at depth d: before every byte when it ends
 * there (-1), else by its byte. */
static inline int rank_at(const rx_litset *set, const trie_work *w, int32_t i, uint32_t d) {
    return static_cast<uint32_t>(set->len[i]) == d ? -1 : key_of(set, w->bytes[i][d]);
}

/* Sorts order[lo .. hi) by rank at depth d: by insertion when short, else by
 * counting (257 ranks). */
static void sort_range(const rx_litset *set, trie_work *w, uint32_t lo, uint32_t hi, uint32_t d) {
    int32_t *o = w->order;
    if (hi - lo < RX_SORT_SMALL) {
        for (uint32_t a = lo + 1; a < hi; a++) {
            int32_t x = o[a];
            int r = rank_at(set, w, x, d);
            uint32_t b = a;
            while (b > lo && rank_at(set, w, o[b - 1], d) > r) {
                o[b] = o[b - 1];
                b--;
            }
            o[b] = x;
        }
        return;
    }
    uint32_t at[258] = {};
    for (uint32_t a = lo; a < hi; a++) at[rank_at(set, w, o[a], d) + 2]++;
    for (int r = 1; r < 258; r++) at[r] += at[r - 1];
    for (uint32_t a = lo; a < hi; a++) w->spare[at[rank_at(set, w, o[a], d) + 1]++] = o[a];
    memcpy(o + lo, w->spare, (hi - lo) * sizeof *o);
}

/*
 * The trie, breadth first: a node stands for the alternatives order[lo, hi)
 * that share its prefix of depth bytes; sorting them by their next byte
 * gives its children as contiguous runs, numbered after every node made so
 * far, so that each node's children are contiguous and ordered, and every
 * alternative is moved once per byte (the range sort is a radix sort).
 */
static void build_trie(rx_litset *set, trie_work *w) {
    const uint32_t k = static_cast<uint32_t>(set->count);
    for (uint32_t i = 0; i < k; i++) w->order[i] = static_cast<int32_t>(i);
    uint32_t nodes = 1;
    w->lo[0] = 0;
    w->hi[0] = k;
    w->depth[0] = 0;
    for (uint32_t v = 0; v < nodes; v++) {
        const uint32_t lo = w->lo[v], hi = w->hi[v], d = w->depth[v];
        sort_range(set, w, lo, hi, d);
        int32_t win = RX_NO_ALT;
        uint32_t r = lo;
        for (; r < hi && static_cast<uint32_t>(set->len[w->order[r]]) == d; r++)
            if (w->order[r] < win) win = w->order[r];
        set->win[v] = win;
        set->first_child[v] = nodes;
        uint16_t count = 0;
        while (r < hi) {
            const uint8_t key = key_of(set, w->bytes[w->order[r]][d]);
            uint32_t q = r + 1;
            while (q < hi && key_of(set, w->bytes[w->order[q]][d]) == key) q++;
            set->label[nodes] = key;
            w->lo[nodes] = r;
            w->hi[nodes] = q;
            w->depth[nodes] = d + 1;
            nodes++;
            count++;
            r = q;
        }
        set->children[v] = count;
    }
    set->nodes = nodes;
    for (uint32_t v = nodes; v-- > 0;) {
        int32_t best = set->win[v];
        for (uint32_t c = set->first_child[v]; c < set->first_child[v] + set->children[v]; c++)
            if (set->best[c] < best) best = set->best[c];
        set->best[v] = best;
    }
    memset(set->root, 0, sizeof set->root);
    for (uint32_t c = set->first_child[0]; c < set->first_child[0] + set->children[0]; c++) {
        set->root[set->label[c]] = c;
        if (set->fold && set->label[c] >= 'a' && set->label[c] <= 'z') set->root[set->label[c] - 32] = c;
    }
}

/* The classes of the automaton: one per byte of the trie's edges (a letter
 * in either case one, with fold), and class 0 for every other byte. */
static void make_classes(rx_litset *set) {
    uint8_t used[256] = {};
    for (uint32_t v = 1; v < set->nodes; v++) used[set->label[v]] = 1;
    set->classes = 1;
    memset(set->byte_class, 0, sizeof set->byte_class);
    for (unsigned b = 0; b < 256; b++)
        if (used[b]) set->byte_class[b] = static_cast<uint16_t>(set->classes++);
    if (set->fold)
        for (unsigned b = 'A'; b <= 'Z'; b++) set->byte_class[b] = set->byte_class[b + 32];
}

/* The nibble masks of the first teddy_len bytes: literal order[r] (in sorted
 * order, so that similar literals share a bucket) in bucket 8r / count. */
static void make_teddy(rx_litset *set, const trie_work *w) {
    set->teddy_len = set->min_len < 3 ? set->min_len : 3;
    memset(set->teddy_lo, 0, sizeof set->teddy_lo);
    memset(set->teddy_hi, 0, sizeof set->teddy_hi);
    for (int32_t r = 0; r < set->count; r++) {
        const int32_t i = w->order[r];
        const uint8_t bit = static_cast<uint8_t>(1u << (8 * r / set->count));
        for (int32_t at = 0; at < set->teddy_len; at++) {
            const uint8_t key = key_of(set, w->bytes[i][at]);
            const int both = set->fold && key >= 'a' && key <= 'z';
            for (int v = 0; v <= both; v++) {
                const uint8_t u = static_cast<uint8_t>(v ? key - 32 : key);
                set->teddy_lo[at][u & 15] |= bit;
                set->teddy_hi[at][u >> 4] |= bit;
            }
        }
    }
}

static int teddy_supported(void) {
#if RX_HAVE_TEDDY
    return __builtin_cpu_supports("ssse3");
#else
    return 0;
#endif
}

/* Rounds a block's size up so that the next array in it is aligned. */
static size_t aligned(size_t size) { return (size + 7) & ~static_cast<size_t>(7); }

/* The set's arrays, for count alternatives and at most cap nodes, in one
 * block (which len begins); 0, or -1 when it cannot be had. */
static int alloc_arrays(rx_litset *set, uint32_t cap) {
    const size_t k = static_cast<size_t>(set->count);
    const size_t sizes[] = {aligned(k * sizeof *set->len),
                            aligned((k + 1) * sizeof *set->before),
                            aligned(cap * sizeof *set->first_child),
                            aligned(cap * sizeof *set->win),
                            aligned(cap * sizeof *set->best),
                            aligned(cap * sizeof *set->children),
                            aligned(cap)};
    size_t total = 0;
    for (size_t size : sizes) total += size;
    char *at = static_cast<char *>(rx_malloc(total));
    if (at == nullptr) return -1;
    set->len = reinterpret_cast<int32_t *>(at);
    set->before = reinterpret_cast<int64_t *>(at += sizes[0]);
    set->first_child = reinterpret_cast<uint32_t *>(at += sizes[1]);
    set->win = reinterpret_cast<int32_t *>(at += sizes[2]);
    set->best = reinterpret_cast<int32_t *>(at += sizes[3]);
    set->children = reinterpret_cast<uint16_t *>(at += sizes[4]);
    set->label = reinterpret_cast<uint8_t *>(at + sizes[5]);
    return 0;
}

/* The work record's arrays in one block (which bytes begins). */
static int alloc_work(trie_work *w, size_t k, uint32_t cap) {
    const size_t sizes[] = {aligned(k * sizeof *w->bytes), aligned(k * sizeof *w->order),
                            aligned(k * sizeof *w->spare), 3 * static_cast<size_t>(cap) * sizeof *w->lo};
    char *at = static_cast<char *>(rx_malloc(sizes[0] + sizes[1] + sizes[2] + sizes[3]));
    if (at == nullptr) return -1;
    w->bytes = reinterpret_cast<const uint8_t **>(at);
    w->order = reinterpret_cast<int32_t *>(at += sizes[0]);
    w->spare = reinterpret_cast<int32_t *>(at += sizes[1]);
    w->lo = reinterpret_cast<uint32_t *>(at + sizes[2]);
    w->hi = w->lo + cap;
    w->depth = w->lo + 2 * static_cast<size_t>(cap);
    return 0;
}

static void free_work(trie_work *w) { free(w->bytes); }

/* Reads the alternatives into the set and the work record; -1 when one is
 * no literal or their case rules differ. */
static int read_alternatives(rx_litset *set, trie_work *w, const rx_node *alt) {
    int64_t sum = 0;
    set->min_len = RX_COUNT_MAX;
    set->max_len = 0;
    for (int32_t i = 0; i < set->count; i++) {
        int32_t len;
        int fold;
        w->bytes[i] = alt_bytes(alt->flat[i], &len, &fold);
        if (w->bytes[i] == nullptr || (i > 0 && fold != set->fold)) return -1;
        set->fold = fold;
        set->len[i] = len;
        set->before[i] = sum;
        sum += len - 1;
        if (len < set->min_len) set->min_len = len;
        if (len > set->max_len) set->max_len = len;
    }
    set->before[set->count] = sum;
    return 0;
}

/* The total bytes of the alternatives, or -1 when one is no literal or the
 * trie would not fit its 32-bit numbering. */
static int64_t total_bytes(const rx_node *alt) {
    int64_t total = 0;
    for (int32_t i = 0; i < alt->flat_len; i++) {
        int32_t len;
        int fold;
        if (alt_bytes(alt->flat[i], &len, &fold) == nullptr) return -1;
        total += len;
    }
    return total < static_cast<int64_t>(UINT32_MAX / 4) ? total : -1;
}

rx_litset *rx_literals_build(rx_prog *prog, const rx_node *alt) {
    if (alt->kind != RX_ALT || alt->flat_len < 2) return nullptr;
    const int64_t total = total_bytes(alt);
    if (total < 0) return nullptr;
    rx_litset *set = static_cast<rx_litset *>(rx_calloc(1, sizeof *set));
    if (set == nullptr) return nullptr;
    set->count = alt->flat_len;
    const uint32_t cap = static_cast<uint32_t>(total) + 1; /* a node per distinct prefix */
    trie_work w = {};
    int failed = alloc_arrays(set, cap) != 0 || alloc_work(&w, static_cast<size_t>(set->count), cap) != 0 ||
                 read_alternatives(set, &w, alt) != 0;
    if (!failed) {
        build_trie(set, &w);
        make_classes(set);
        if (set->count <= RX_TEDDY_MAX && teddy_supported()) {
            make_teddy(set, &w);
            set->scan = RX_SCAN_TEDDY;
        } else {
            set->scan = static_cast<uint64_t>(set->nodes) * set->classes <= RX_DFA_MAX_CELLS
                            ? RX_SCAN_DFA_UNBUILT
                            : RX_SCAN_FIRST;
        }
    }
    free_work(&w);
    if (failed) {
        free_set(set);
        return nullptr;
    }
    set->next = prog->litsets;
    prog->litsets = set;
    return set;
}

/* ---- the trie ---------------------------------------------------------------------- */

/* The child of node v (not the root) by the byte key, or 0. */
static inline uint32_t child_of(const rx_litset *set, uint32_t v, uint8_t key) {
    const uint32_t first = set->first_child[v], m = set->children[v];
    const uint8_t *lab = set->label + first;
    if (m <= 8) {
        for (uint32_t i = 0; i < m; i++)
            if (lab[i] == key) return first + i;
        return 0;
    }
    uint32_t lo = 0, hi = m;
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        if (lab[mid] < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < m && lab[lo] == key ? first + lo : 0;
}

/* The lowest alternative that matches at p, or RX_NO_ALT, with the trie
 * edges followed in *walked. The walk stops as soon as no lower alternative
 * ends further down. */
static int32_t trie_first(const rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *walked) {
    int32_t found = RX_NO_ALT;
    uint64_t d = 0;
    uint32_t v = p < n ? set->root[t[p]] : 0;
    while (v != 0) {
        d++;
        if (set->win[v] < found) found = set->win[v];
        if (set->best[v] >= found || p + d >= n) break;
        v = child_of(set, v, key_of(set, t[p + d]));
    }
    *walked = d;
    return found;
}

/* 1 when some alternative matches at q. */
static int trie_any(const rx_litset *set, const uint8_t *t, uint64_t n, uint64_t q) {
    uint64_t d = 1;
    for (uint32_t v = q < n ? set->root[t[q]] : 0; v != 0; d++) {
        if (set->win[v] != RX_NO_ALT) return 1;
        if (q + d >= n) return 0;
        v = child_of(set, v, key_of(set, t[q + d]));
    }
    return 0;
}

/*
 * The alternation at p. Its answer is the rules' own: the first alternative
 * in order that matches. Its charge is the work done, min(W, R), which is
 * never more than the rules charge:
 *   - the rules charge, for a chain of k alternatives whose i-th (from 0)
 *     matches, k - 1 steps down the chain, one before each of the i later
 *     alternatives tried, each failed literal's len - 1 steps plus one per
 *     byte it matched before failing, and the winner's 2(len - 1); for no
 *     match, k - 1 more instead of the winner. R is that without the bytes
 *     the failed literals matched, so R is at most the rules' charge;
 *   - W is the trie edges walked plus the winner's 2(len - 1): for a
 *     dictionary a few steps where the rules charge thousands.
 */
int rx_literals_match(mstate *ms, const rx_node *alt, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *e) {
    const rx_litset *set = alt->litset;
    uint64_t walked = 0;
    const int32_t i = trie_first(set, t, n, p, &walked);
    const int64_t k = set->count;
    int64_t rules, work;
    if (i != RX_NO_ALT) {
        const int64_t chain = 2 * static_cast<int64_t>(set->len[i] - 1);
        rules = (k - 1) + i + set->before[i] + chain;
        work = static_cast<int64_t>(walked) + chain;
    } else {
        rules = 2 * (k - 1) + set->before[k];
        work = static_cast<int64_t>(walked);
    }
    if (charge_steps(ms, work < rules ? work : rules) != 0 || i == RX_NO_ALT) return 0;
    *e = p + static_cast<uint64_t>(set->len[i]);
    return 1;
}

/* ---- the search ------------------------------------------------------------------- */

/* Candidates by their first byte, each walked. */
static uint64_t first_next(const rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p) {
    for (uint64_t q = p; q < n; q++)
        if (set->root[t[q]] != 0 && trie_any(set, t, n, q)) return q;
    return n + 1;
}

/*
 * The automaton: states are the trie's nodes, breadth first, so that a
 * node's failure state (the longest proper suffix of its prefix that is in
 * the trie) comes before it and its row can start as a copy of that state's.
 * 0, or -1 when memory ran out.
 */
static int build_dfa(rx_litset *set) {
    const uint32_t classes = set->classes, nodes = set->nodes;
    set->dfa = static_cast<uint32_t *>(rx_malloc(static_cast<size_t>(nodes) * classes * sizeof *set->dfa));
    set->longest = static_cast<uint32_t *>(rx_malloc(nodes * sizeof *set->longest));
    uint32_t *fail = static_cast<uint32_t *>(rx_malloc(2 * static_cast<size_t>(nodes) * sizeof *fail));
    if (set->dfa == nullptr || set->longest == nullptr || fail == nullptr) {
        free(fail);
        free(set->dfa);
        free(set->longest);
        set->dfa = nullptr;
        set->longest = nullptr;
        return -1;
    }
    uint32_t *depth = fail + nodes;
    fail[0] = 0;
    depth[0] = 0;
    set->longest[0] = 0;
    for (uint32_t v = 0; v < nodes; v++) {
        uint32_t *row = set->dfa + static_cast<size_t>(v) * classes;
        if (v == 0)
            memset(row, 0, classes * sizeof *row);
        else
            memcpy(row, set->dfa + static_cast<size_t>(fail[v]) * classes, classes * sizeof *row);
        for (uint32_t c = set->first_child[v]; c < set->first_child[v] + set->children[v]; c++) {
            const uint32_t cls = set->byte_class[set->label[c]];
            depth[c] = depth[v] + 1;
            fail[c] =
                v == 0 ? 0 : (set->dfa[static_cast<size_t>(fail[v]) * classes + cls] & ~RX_DFA_OUT) / classes;
            set->longest[c] = set->win[c] != RX_NO_ALT ? depth[c] : set->longest[fail[c]];
            row[cls] = c * classes | (set->longest[c] != 0 ? RX_DFA_OUT : 0);
        }
    }
    free(fail);
    return 0;
}

/*
 * The first start of an occurrence, by the automaton. Every occurrence that
 * ends at j is a suffix of the state's prefix there, the longest of them
 * begins at j + 1 - longest; one that begins before the best start so far,
 * at best - 1 or earlier, ends at best + max_len - 2 or earlier, so the scan
 * goes on to there.
 */
static uint64_t dfa_next(const rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p) {
    const uint32_t *dfa = set->dfa, classes = set->classes;
    const uint16_t *cls = set->byte_class;
    uint32_t row = 0, x = 0;
    uint64_t j = p;
    for (; j < n; j++) {
        x = dfa[row + cls[t[j]]];
        row = x & ~RX_DFA_OUT;
        if (x & RX_DFA_OUT) break;
    }
    if (j >= n) return n + 1;
    uint64_t best = j + 1 - set->longest[row / classes];
    for (j++; j < n && j + 2 <= best + static_cast<uint64_t>(set->max_len); j++) {
        x = dfa[row + cls[t[j]]];
        row = x & ~RX_DFA_OUT;
        if ((x & RX_DFA_OUT) && j + 1 - set->longest[row / classes] < best)
            best = j + 1 - set->longest[row / classes];
    }
    return best;
}

#if RX_HAVE_TEDDY
/* The buckets whose masks admit the 16 positions at s as starts. */
__attribute__((target("ssse3"))) static inline __m128i teddy_block(const __m128i *lo, const __m128i *hi,
                                                                   int len, const uint8_t *s) {
    const __m128i nib = _mm_set1_epi8(0x0F);
    __m128i res = _mm_set1_epi8(-1);
    for (int at = 0; at < len; at++) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + at));
        const __m128i l = _mm_shuffle_epi8(lo[at], _mm_and_si128(x, nib));
        const __m128i h = _mm_shuffle_epi8(hi[at], _mm_and_si128(_mm_srli_epi16(x, 4), nib));
        res = _mm_and_si128(res, _mm_and_si128(l, h));
    }
    return res;
}

/* Sixteen starts at a time; each admitted one is walked in the trie. The
 * last starts, whose bytes the masks would read past n, go byte by byte. */
__attribute__((target("ssse3"))) static uint64_t teddy_next(const rx_litset *set, const uint8_t *t,
                                                            uint64_t n, uint64_t p) {
    const int len = set->teddy_len;
    __m128i lo[3], hi[3];
    for (int at = 0; at < len; at++) {
        lo[at] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(set->teddy_lo[at]));
        hi[at] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(set->teddy_hi[at]));
    }
    const __m128i zero = _mm_setzero_si128();
    uint64_t i = p;
    for (; i + 15 + static_cast<uint64_t>(len) <= n; i += 16) {
        const __m128i res = teddy_block(lo, hi, len, t + i);
        unsigned mask = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(res, zero))) & 0xFFFFu;
        for (; mask != 0; mask &= mask - 1) {
            const uint64_t q = i + static_cast<uint64_t>(__builtin_ctz(mask));
            if (trie_any(set, t, n, q)) return q;
        }
    }
    return first_next(set, t, n, i);
}
#endif

uint64_t rx_literals_next(rx_litset *set, const uint8_t *t, uint64_t n, uint64_t p) {
    if (p >= n) return n + 1;
#if RX_HAVE_TEDDY
    if (set->scan == RX_SCAN_TEDDY) return teddy_next(set, t, n, p);
#endif
    /* the automaton pays once the text is about half as long as its table */
    if (set->scan == RX_SCAN_DFA_UNBUILT && n - p >= static_cast<uint64_t>(set->nodes) * set->classes / 2)
        set->scan = build_dfa(set) == 0 ? RX_SCAN_DFA : RX_SCAN_FIRST;
    if (set->scan == RX_SCAN_DFA) return dfa_next(set, t, n, p);
    return first_next(set, t, n, p);
}
