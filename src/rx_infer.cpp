/*
 * Pattern inference: from a list of example texts, synthesise an anchored
 * pattern that matches every one of them, once as a compact one-line
 * pattern and once laid out over several lines behind "(?x)".
 *
 * The examples are sorted and repeats dropped, so only the set of distinct
 * examples matters. Then the first shape that fits is taken:
 *   1. empty:            the only example is "", giving ^$;
 *   2. single-byte run:  every example repeats one byte, giving ^b{lo,hi}$;
 *   3. aligned:          all examples cut into the same token shape (runs
 *                        of digits, letters, white space; single other
 *                        bytes); each position is written literally when
 *                        all examples agree there, else as a class with
 *                        the range of lengths seen;
 *   4. alternation:      common prefix, a group of the distinct middles,
 *                        common suffix.
 * The engine commits to the first alternative that matches and a search may
 * run out of budget, so the compact pattern is then run against
 * every example; if any is missed, the pattern is rebuilt as a plain
 * alternation of the whole examples, which always matches.
 *
 * The verbose layout is a byte scan of the compact pattern that tracks the
 * depth of parentheses; it keeps escaped bytes together and escapes the
 * white space and "#" it copies, so "(?x)" reading gives back the compact
 * pattern's meaning.
 */
#include "rx_infer.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "rx_common.h"
#include "rx_escape.h"
#include "rx_match_win.h"

/* ---- tokens ---------------------------------------------------------------- */

enum { TOK_DIGIT = 1, TOK_ALPHA = 2, TOK_SPACE = 3, TOK_OTHER = 4 };

/* The records below belong to this file alone. */
namespace {

/* One token of an example: a maximal run of digits, letters (the
 * underscore counts as a letter) or white space, or one other byte. */
typedef struct tok {
    int32_t kind;   /* TOK_DIGIT .. TOK_OTHER */
    uint8_t byte;   /* TOK_OTHER: the byte; 0 for runs */
    int32_t length; /* bytes covered: >= 1 for a run, 1 for TOK_OTHER */
    char *text;     /* run: NUL-terminated copy of its bytes; else null */
} tok;

/* Tokens of one example in order. All-zero means empty and owning nothing;
 * otherwise it owns items and every token's text. */
typedef struct tokseq {
    tok *items;
    int32_t count;
    int32_t capacity;
} tokseq;

/* One alternative of the alternation shape: the bytes of an example between
 * the common prefix and the common suffix. */
typedef struct middle {
    const char *bytes;
    uint64_t length;
} middle;

/* Builder state of one compact pattern. */
typedef struct patbuf {
    char *data;
    uint64_t length;
    uint64_t capacity;
} patbuf;

} /* namespace */

/* Kind of the token a byte belongs to, by value alone (no locale, no
 * decoding): these classes are exactly what \d, [A-Za-z_] and \s match. */
static int byte_kind(unsigned char b) {
    if (b >= '0' && b <= '9') return TOK_DIGIT;
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_') return TOK_ALPHA;
    if ((b >= 0x09 && b <= 0x0D) || b == ' ') return TOK_SPACE;
    return TOK_OTHER;
}

/* Appends a token. Room grows 0 -> 16 -> 32 -> ...; with a non-null source
 * and a positive length the token gets its own NUL-terminated copy of
 * length bytes from source. -1 when memory ran out: the sequence then
 * keeps the tokens it had (and any room just gained) and stays valid for
 * release. */
static int tokseq_push(tokseq *seq, int kind, int byte, uint32_t length, const char *source) {
    if (seq->count >= seq->capacity) {
        if (seq->capacity > INT32_MAX / 2) return -1;
        int32_t grown = seq->capacity == 0 ? 16 : seq->capacity * 2;
        tok *items = static_cast<tok *>(rx_realloc(seq->items, static_cast<size_t>(grown) * sizeof(tok)));
        if (items == nullptr) return -1;
        seq->items = items;
        seq->capacity = grown;
    }
    char *text = nullptr;
    if (source != nullptr && length > 0) {
        text = static_cast<char *>(rx_malloc(static_cast<size_t>(length) + 1));
        if (text == nullptr) return -1;
        memcpy(text, source, length);
        text[length] = '\0';
    }
    tok *slot = &seq->items[seq->count];
    slot->kind = kind;
    slot->byte = static_cast<uint8_t>(byte & 0xFF);
    slot->length = static_cast<int32_t>(length);
    slot->text = text;
    seq->count++;
    return 0;
}

/* Cuts one NUL-terminated example into seq, which must be empty. Stops at
 * the first failed append and answers -1; what was appended stays for the
 * caller to release. The empty example gives the empty sequence. */
static int tokenise(const char *example, tokseq *seq) {
    size_t n = strlen(example);
    size_t i = 0;
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(example[i]);
        int kind = byte_kind(b);
        if (kind == TOK_OTHER) {
            if (tokseq_push(seq, TOK_OTHER, b, 1, nullptr) != 0) return -1;
            i++;
            continue;
        }
        size_t j = i + 1;
        while (j < n && byte_kind(static_cast<unsigned char>(example[j])) == kind) j++;
        if (tokseq_push(seq, kind, 0, static_cast<uint32_t>(j - i), example + i) != 0) return -1;
        i = j;
    }
    return 0;
}

/* Frees every token text and the items array; leaves the sequence empty. */
static void tokseq_release(tokseq *seq) {
    for (int32_t i = 0; i < seq->count; i++) free(seq->items[i].text);
    free(seq->items);
    seq->items = nullptr;
    seq->count = 0;
    seq->capacity = 0;
}

/* 1 when all m sequences have the same shape: the same token count, at
 * least 1, the same kind at every position, and the same byte where the
 * kind is TOK_OTHER. Run lengths and texts do not matter. An empty
 * sequence has no shape, not even a shape shared with itself. */
static int same_shape(const tokseq *seqs, int m) {
    const tokseq *ref = &seqs[0];
    if (ref->count < 1) return 0;
    for (int j = 1; j < m; j++) {
        const tokseq *other = &seqs[j];
        if (other->count != ref->count) return 0;
        for (int32_t i = 0; i < ref->count; i++) {
            if (other->items[i].kind != ref->items[i].kind) return 0;
            if (ref->items[i].kind == TOK_OTHER && other->items[i].byte != ref->items[i].byte) return 0;
        }
    }
    return 1;
}

/* ---- pattern pieces -------------------------------------------------------- */

/* qsort comparator over an array of text pointers: strcmp order, which
 * compares bytes as unsigned values and puts a text before every longer
 * text that begins with it. */
static int cmp_str(const void *a, const void *b) {
    const char *x = *static_cast<const char *const *>(a);
    const char *y = *static_cast<const char *const *>(b);
    return strcmp(x, y);
}

/* Appends atom with the bounds min..max: the atom alone for 1..1, atom{n}
 * for equal bounds, atom{min,max} otherwise. */
static int emit_quant(char **data, uint64_t *length, uint64_t *capacity, const char *atom, int min, int max) {
    if (min == 1 && max == 1) return rx_buf_puts(data, length, capacity, atom);
    if (min == max) return rx_buf_printf(data, length, capacity, "%s{%d}", atom, min);
    return rx_buf_printf(data, length, capacity, "%s{%d,%d}", atom, min, max);
}

/* Appends count example bytes, escaped. An empty piece appends nothing. */
static int put_escaped(char **data, uint64_t *length, uint64_t *capacity, const char *source,
                       uint64_t count) {
    if (count == 0) return 0;
    char *escaped = nullptr;
    if (rx_escape_literal(source, count, &escaped, nullptr) != 0) return -1;
    int rc = rx_buf_puts(data, length, capacity, escaped);
    free(escaped);
    return rc;
}

/* Order of the alternatives. The engine takes the first alternative that
 * matches and never comes back to it, so a middle must come after every
 * middle that begins with it (the longer one is tried first); apart from
 * that the order is ascending by unsigned byte value. Equivalently: byte
 * order where the end of a text sorts after every byte. */
static int cmp_middle(const void *a, const void *b) {
    const middle *x = static_cast<const middle *>(a);
    const middle *y = static_cast<const middle *>(b);
    uint64_t common = x->length < y->length ? x->length : y->length;
    for (uint64_t i = 0; i < common; i++) {
        unsigned char bx = static_cast<unsigned char>(x->bytes[i]);
        unsigned char by = static_cast<unsigned char>(y->bytes[i]);
        if (bx != by) return bx < by ? -1 : 1;
    }
    if (x->length == y->length) return 0;
    return x->length > y->length ? -1 : 1;
}

static int is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

/* ^b{lo,hi}$ for examples that all repeat the byte ex[0][0]. The byte stays
 * literal even when it is a digit, letter or space. */
static int build_run(const char *const *ex, const uint64_t *lens, int m, patbuf *out) {
    uint64_t lo = lens[0];
    uint64_t hi = lens[0];
    for (int j = 1; j < m; j++) {
        if (lens[j] < lo) lo = lens[j];
        if (lens[j] > hi) hi = lens[j];
    }
    char *atom = nullptr;
    if (rx_escape_literal(ex[0], 1, &atom, nullptr) != 0) return -1;
    int rc = rx_buf_puts(&out->data, &out->length, &out->capacity, "^");
    if (rc == 0)
        rc = emit_quant(&out->data, &out->length, &out->capacity, atom, static_cast<int>(lo),
                        static_cast<int>(hi));
    if (rc == 0) rc = rx_buf_puts(&out->data, &out->length, &out->capacity, "$");
    free(atom);
    return rc;
}

/* Position by position over sequences of one shape: an other byte is
 * written escaped; a run on which every example agrees in length and bytes
 * is written literally; any other run becomes its class with the range of
 * lengths seen at that position, whatever the texts. */
static int build_aligned(const tokseq *seqs, int m, patbuf *out) {
    if (rx_buf_puts(&out->data, &out->length, &out->capacity, "^") != 0) return -1;
    for (int32_t i = 0; i < seqs[0].count; i++) {
        const tok *ref = &seqs[0].items[i];
        int rc;
        if (ref->kind == TOK_OTHER) {
            char b = static_cast<char>(ref->byte);
            rc = put_escaped(&out->data, &out->length, &out->capacity, &b, 1);
        } else {
            int lo = ref->length;
            int hi = ref->length;
            int agree = 1;
            for (int j = 1; j < m; j++) {
                const tok *t = &seqs[j].items[i];
                if (t->length < lo) lo = t->length;
                if (t->length > hi) hi = t->length;
                if (t->length != ref->length ||
                    memcmp(t->text, ref->text, static_cast<size_t>(ref->length)) != 0)
                    agree = 0;
            }
            if (agree) {
                rc = put_escaped(&out->data, &out->length, &out->capacity, ref->text,
                                 static_cast<uint64_t>(ref->length));
            } else {
                const char *atom = ref->kind == TOK_DIGIT   ? "\\d"
                                   : ref->kind == TOK_SPACE ? "\\s"
                                                            : "[A-Za-z_]";
                rc = emit_quant(&out->data, &out->length, &out->capacity, atom, lo, hi);
            }
        }
        if (rc != 0) return -1;
    }
    return rx_buf_puts(&out->data, &out->length, &out->capacity, "$");
}

/* Lengths of the common prefix and suffix of the alternation shape.
 * The prefix is the longest run of leading bytes all examples share, then
 * pulled back while it would end inside a UTF-8 character (the byte after
 * it, in any example long enough to have one, is a continuation byte). The
 * suffix is the longest shared tail, no longer than the shortest example,
 * then cut so that prefix and suffix never overlap in the shortest example
 * (the prefix keeps its length), then shortened while its first byte is a
 * continuation byte. */
static void affixes(const char *const *ex, const uint64_t *lens, int m, uint64_t *out_prefix,
                    uint64_t *out_suffix) {
    uint64_t shortest = lens[0];
    for (int j = 1; j < m; j++)
        if (lens[j] < shortest) shortest = lens[j];

    uint64_t p = 0;
    while (p < shortest) {
        int same = 1;
        for (int j = 1; j < m && same; j++)
            if (ex[j][p] != ex[0][p]) same = 0;
        if (!same) break;
        p++;
    }
    while (p > 0) {
        int inside = 0;
        for (int j = 0; j < m && !inside; j++)
            if (lens[j] > p && is_continuation(static_cast<unsigned char>(ex[j][p]))) inside = 1;
        if (!inside) break;
        p--;
    }

    uint64_t s = 0;
    while (s < shortest) {
        char last = ex[0][lens[0] - 1 - s];
        int same = 1;
        for (int j = 1; j < m && same; j++)
            if (ex[j][lens[j] - 1 - s] != last) same = 0;
        if (!same) break;
        s++;
    }
    if (p + s > shortest) s = shortest - p;
    while (s > 0 && is_continuation(static_cast<unsigned char>(ex[0][lens[0] - s]))) s--;

    *out_prefix = p;
    *out_suffix = s;
}

/* ^prefix(middle|middle|...)suffix$ with the middles in the order of
 * cmp_middle. The group is written even when prefix and suffix are empty. */
static int build_alternation(const char *const *ex, const uint64_t *lens, int m, uint64_t p, uint64_t s,
                             patbuf *out) {
    middle *mids = static_cast<middle *>(rx_malloc(static_cast<size_t>(m) * sizeof(middle)));
    if (mids == nullptr) return -1;
    for (int j = 0; j < m; j++) {
        mids[j].bytes = ex[j] + p;
        mids[j].length = lens[j] - s - p;
    }
    qsort(mids, static_cast<size_t>(m), sizeof(middle), cmp_middle);

    int rc = rx_buf_puts(&out->data, &out->length, &out->capacity, "^");
    if (rc == 0) rc = put_escaped(&out->data, &out->length, &out->capacity, ex[0], p);
    if (rc == 0) rc = rx_buf_puts(&out->data, &out->length, &out->capacity, "(");
    for (int j = 0; j < m && rc == 0; j++) {
        if (j > 0) rc = rx_buf_puts(&out->data, &out->length, &out->capacity, "|");
        if (rc == 0)
            rc = put_escaped(&out->data, &out->length, &out->capacity, mids[j].bytes, mids[j].length);
    }
    if (rc == 0) rc = rx_buf_puts(&out->data, &out->length, &out->capacity, ")");
    if (rc == 0) rc = put_escaped(&out->data, &out->length, &out->capacity, ex[0] + lens[0] - s, s);
    if (rc == 0) rc = rx_buf_puts(&out->data, &out->length, &out->capacity, "$");
    free(mids);
    return rc;
}

/* Runs the compact pattern against every distinct example: 1 when each is
 * matched from its first byte to its last, 0 when one is missed or its
 * search gives up at the engine's limits, -1 when memory ran out (the
 * pattern itself always parses, so a failed parse means just that). */
static int matches_all(const char *pattern, const char *const *ex, const uint64_t *lens, int m) {
    rx_prog prog;
    memset(&prog, 0, sizeof prog);
    if (rx_engine_prepare(pattern, &prog, nullptr, 0) != 0) return -1;
    int result = 1;
    for (int j = 0; j < m && result == 1; j++) {
        uint64_t start = 0;
        uint64_t end = 0;
        rx_engine_arm(&prog, lens[j]); /* each example's search has its own budget */
        int rc = rx_engine_find_prog(&prog, ex[j], lens[j], 0, &start, &end, nullptr);
        if (rc == RX_OUT_OF_MEMORY)
            result = -1;
        else if (rc != 1 || start != 0 || end != lens[j])
            result = 0;
    }
    rx_engine_release(&prog);
    return result;
}

/* ---- verbose layout -------------------------------------------------------- */

/* One step of the scan of layout_verbose: appends the layout of the unit at
 * *c (a byte, or a backslash and the byte after it) to out, leaves *c on the
 * unit's last byte and keeps *depth, the depth of parentheses, up to date. */
static int layout_unit(patbuf *out, const char **c, int *depth) {
    char **data = &out->data;
    uint64_t *length = &out->length;
    uint64_t *capacity = &out->capacity;
    unsigned char b = static_cast<unsigned char>(**c);
    int rc;
    switch (b) {
    case '\\':
        rc = rx_buf_putc(data, length, capacity, b);
        if (rc == 0 && (*c)[1] != '\0') {
            (*c)++;
            rc = rx_buf_putc(data, length, capacity, static_cast<unsigned char>(**c));
        }
        break;
    case '(':
        rc = rx_buf_putc(data, length, capacity, b);
        (*depth)++;
        break;
    case ')':
        rc = rx_buf_putc(data, length, capacity, b);
        if (*depth > 0) (*depth)--;
        break;
    case '^': rc = rx_buf_puts(data, length, capacity, "^\n  "); break;
    case '$':
        if (*depth == 0)
            rc = rx_buf_puts(data, length, capacity, "\n$");
        else
            rc = rx_buf_putc(data, length, capacity, b);
        break;
    case '|':
        if (*depth <= 1)
            rc = rx_buf_puts(data, length, capacity, "\n  |\n  ");
        else
            rc = rx_buf_putc(data, length, capacity, b);
        break;
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '#':
        rc = rx_buf_putc(data, length, capacity, '\\');
        if (rc == 0) rc = rx_buf_putc(data, length, capacity, b);
        break;
    default: rc = rx_buf_putc(data, length, capacity, b); break;
    }
    return rc;
}

/* Lays the compact pattern out as "(?x)", a line "^", the body indented by
 * two spaces with each separator of the top-level alternatives on a line
 * of its own, and a last line "$" without a line feed.
 * Rules of the scan, depth starting at 0:
 *   - a backslash and the byte after it are one literal unit, copied as
 *     they are; they never change the depth or break a line;
 *   - "(" raises the depth, ")" lowers it (never below 0);
 *   - "^" becomes "^\n  "; "$" at depth 0 becomes "\n$";
 *   - "|" at depth 0 or 1 becomes "\n  |\n  ";
 *   - white space and "#" get a backslash in front, since a "(?x)" reader
 *     would otherwise drop them or start a comment;
 *   - everything else is copied. */
static int layout_verbose(const char *compact, char **out) {
    patbuf verbose = {nullptr, 0, 0};
    int depth = 0;
    int rc = rx_buf_puts(&verbose.data, &verbose.length, &verbose.capacity, "(?x)\n");
    for (const char *c = compact; *c != '\0' && rc == 0; c++) rc = layout_unit(&verbose, &c, &depth);
    if (rc != 0) {
        free(verbose.data);
        return -1;
    }
    *out = verbose.data;
    return 0;
}

/* ---- synthesis ------------------------------------------------------------- */

/* 1 when no example is empty and every byte of every example is ex[0][0]. */
static int all_one_byte(const char *const *ex, const uint64_t *lens, int m) {
    if (lens[0] == 0) return 0;
    for (int j = 0; j < m; j++) {
        if (lens[j] == 0) return 0;
        for (uint64_t i = 0; i < lens[j]; i++)
            if (ex[j][i] != ex[0][0]) return 0;
    }
    return 1;
}

/* Builds the compact pattern for the distinct examples ex[0..m-1] (sorted)
 * into out, choosing the first shape that applies. */
static int build_compact(const char *const *ex, const uint64_t *lens, int m, patbuf *out) {
    if (m == 1 && lens[0] == 0) {
        out->data = rx_strdup("^$");
        if (out->data == nullptr) return -1;
        out->length = 2;
        out->capacity = 3;
        return 0;
    }

    if (all_one_byte(ex, lens, m)) return build_run(ex, lens, m, out);

    tokseq *seqs = static_cast<tokseq *>(rx_calloc(static_cast<size_t>(m), sizeof(tokseq)));
    if (seqs == nullptr) return -1;
    int rc = 0;
    for (int j = 0; j < m && rc == 0; j++) rc = tokenise(ex[j], &seqs[j]);
    if (rc == 0) {
        if (same_shape(seqs, m)) {
            rc = build_aligned(seqs, m, out);
        } else {
            uint64_t p = 0;
            uint64_t s = 0;
            affixes(ex, lens, m, &p, &s);
            rc = build_alternation(ex, lens, m, p, s, out);
        }
    }
    for (int j = 0; j < m; j++) tokseq_release(&seqs[j]);
    free(seqs);
    return rc;
}

/* The count (at least 1) example pointers, sorted in strcmp order and with
 * repeats dropped, in a new heap array (freed by the caller) whose first
 * *out_m entries are the distinct examples; null when memory ran out. */
static const char **distinct_examples(const char *const *examples, int count, int *out_m) {
    const char **ex = static_cast<const char **>(rx_malloc(static_cast<size_t>(count) * sizeof(char *)));
    if (ex == nullptr) return nullptr;
    memcpy(ex, examples, static_cast<size_t>(count) * sizeof(char *));
    qsort(ex, static_cast<size_t>(count), sizeof(char *), cmp_str);
    int m = 1;
    for (int j = 1; j < count; j++)
        if (strcmp(ex[j], ex[m - 1]) != 0) ex[m++] = ex[j];
    *out_m = m;
    return ex;
}

/* Builds the compact pattern into out (empty on entry) and runs it against
 * every example; one that misses an example is replaced by the plain
 * alternation of the whole examples. -1 when memory ran out, with any block
 * still in out for the caller to free. */
static int build_proved(const char *const *ex, const uint64_t *lens, int m, patbuf *out) {
    if (build_compact(ex, lens, m, out) != 0) return -1;
    int proved = matches_all(out->data, ex, lens, m);
    if (proved < 0) return -1;
    if (proved == 0) {
        /* Whole examples as alternatives, each after the ones it is a
         * beginning of: the first alternative that matches an example
         * is that example itself. */
        free(out->data);
        out->data = nullptr;
        out->length = 0;
        out->capacity = 0;
        return build_alternation(ex, lens, m, 0, 0, out);
    }
    return 0;
}

/* On failure every block of the call is released, neither output is
 * written, and the error slot says "no examples" or "out of memory". */
int rx_infer_pattern(const char *const *examples, int count, char **out_pattern, char **out_verbose) {
    if (count < 1) {
        rx_set_error("no examples");
        return -1;
    }

    int m = 0;
    const char **ex = distinct_examples(examples, count, &m);
    if (ex == nullptr) {
        rx_set_error("out of memory");
        return -1;
    }

    uint64_t *lens = static_cast<uint64_t *>(rx_malloc(static_cast<size_t>(m) * sizeof(uint64_t)));
    if (lens == nullptr) {
        free(ex);
        rx_set_error("out of memory");
        return -1;
    }
    for (int j = 0; j < m; j++) lens[j] = strlen(ex[j]);

    patbuf compact = {nullptr, 0, 0};
    int rc = build_proved(ex, lens, m, &compact);
    free(lens);
    free(ex);

    char *verbose = nullptr;
    if (rc == 0) rc = layout_verbose(compact.data, &verbose);
    if (rc != 0) {
        free(compact.data);
        rx_set_error("out of memory");
        return -1;
    }
    *out_pattern = compact.data;
    *out_verbose = verbose;
    return 0;
}
