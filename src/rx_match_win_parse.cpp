/*
 * The engine's parser: one left-to-right pass over the bytes of a pattern
 * that builds the tree of rx_node records, node_free, and the compile check.
 *
 * Sequences and alternations are built in loops; nested groups are kept on
 * an explicit frame stack (a few frames on the machine stack, more on the
 * heap), so neither parsing nor freeing a tree recurses, whatever the
 * pattern's length or nesting. Each node is a zero-filled block of its own.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"

/* Why a parse failed; parse_message turns each into its text. */
enum {
    PE_NONE,       /* no error yet */
    PE_MEMORY,     /* a node could not be allocated: "parse error" */
    PE_UNEXPECTED, /* a quantifier where an item must begin */
    PE_UNCLOSED_GROUP,
    PE_UNCLOSED_CLASS,
    PE_TRAILING, /* a ")" that closes no group */
    PE_COUNT_TOO_LARGE
};

/* The cursor of one parse. */
typedef struct rx_parser {
    const char *pos;       /* next unread byte */
    const char *end;       /* the terminating NUL */
    int32_t error;         /* PE_*: the first error */
    char error_byte;       /* the byte PE_UNEXPECTED and PE_TRAILING name */
    int32_t ngroups;       /* capturing groups opened so far */
    uint32_t flags;        /* from the leading flag group */
    uint64_t nodes;        /* nodes made; all of them end up in the tree */
    uint64_t chains;       /* sequence nodes that extend a chain of plain bytes */
    uint64_t joins;        /* sequence and alternation nodes */
    const char *start;     /* the pattern's first byte */
    const char *error_at;  /* where the first error was found */
    rx_parse_notes *notes; /* null, or where facts are noted */
    rx_arena *arena;       /* null, or where the nodes are made (the tree is
                              then released with the arena, never node_free) */
} rx_parser;

/* A byte offset in the pattern, as spans hold it. */
static uint32_t offset_of(const rx_parser *p, const char *at) {
    uint64_t off = static_cast<uint64_t>(at - p->start);
    return off > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(off);
}

static void set_span(const rx_parser *p, rx_node *node, const char *from, const char *to) {
    node->span_start = offset_of(p, from);
    node->span_end = offset_of(p, to);
}

/* Notes a fact when facts are asked for; -1 (the parse then fails as out
 * of memory) when the list cannot grow. */
static int note_fact(rx_parser *p, int32_t kind, const char *from, const char *to, uint8_t byte) {
    rx_parse_notes *n = p->notes;
    if (n == nullptr) return 0;
    if (n->count == n->room) {
        uint32_t room = n->room == 0 ? 16 : n->room * 2;
        if (room <= n->room) return -1;
        rx_parse_fact *grown = static_cast<rx_parse_fact *>(rx_realloc(n->facts, room * sizeof *grown));
        if (grown == nullptr) return -1;
        n->facts = grown;
        n->room = room;
    }
    rx_parse_fact *f = &n->facts[n->count++];
    f->kind = kind;
    f->start = offset_of(p, from);
    f->end = offset_of(p, to);
    f->byte = byte;
    return 0;
}

/* Records the first error and where it was found. */
static void fail_at(rx_parser *p, int32_t error, const char *at) {
    p->error = error;
    p->error_at = at;
}

static rx_node *new_node(rx_parser *p, int32_t kind) {
    rx_node *node = static_cast<rx_node *>(p->arena != nullptr ? rx_arena_alloc(p->arena, sizeof(rx_node))
                                                               : rx_calloc(1, sizeof(rx_node)));
    if (node != nullptr) {
        node->kind = kind;
        p->nodes++;
        if (kind == RX_CONCAT || kind == RX_ALT) p->joins++;
    }
    return node;
}

/*
 * Frees a whole tree without recursion and without allocating. A node uses
 * either left/right (sequence, alternation) or child (repetition, group),
 * never both, so its "first" operand is left or child and its second is
 * right. While the current node has a first operand, rotate it up: the
 * operand's right slot (unused, or its own second operand, which moves into
 * the vacated first slot) points back at the node. A node without a first
 * operand is freed and its right operand becomes current. Every node stays
 * reachable exactly once, and the walk ends when nothing is left.
 */
void node_free(rx_node *node) {
    while (node != nullptr) {
        rx_node **first = nullptr;
        if (node->left != nullptr)
            first = &node->left;
        else if (node->child != nullptr)
            first = &node->child;
        if (first != nullptr) {
            rx_node *up = *first;
            *first = up->right;
            up->right = node;
            node = up;
        } else {
            rx_node *next = node->right;
            free(node);
            node = next;
        }
    }
}

/* Gives up a node or subtree the parse made and will not use: freed, unless
 * it lives in the parse's arena. */
static void discard(rx_parser *p, rx_node *node) {
    if (p->arena == nullptr) node_free(node);
}

/* The empty sequence: a repetition {0,0} of the byte 0, with an empty span
 * where it stands. */
static rx_node *empty_sequence(rx_parser *p) {
    rx_node *rep = new_node(p, RX_REPEAT);
    if (rep == nullptr) return nullptr;
    rep->child = new_node(p, RX_CHAR);
    if (rep->child == nullptr) {
        discard(p, rep);
        return nullptr;
    }
    set_span(p, rep, p->pos, p->pos);
    set_span(p, rep->child, p->pos, p->pos);
    return rep;
}

static void set_member(uint8_t *bits, unsigned v) {
    bits[v >> 3] = static_cast<uint8_t>(bits[v >> 3] | (1u << (v & 7)));
}

/* Adds "0"-"9", "A"-"Z", "a"-"z" and "_" to a 32-byte set. */
static void fill_word(uint8_t *bits) {
    for (unsigned v = '0'; v <= '9'; v++) set_member(bits, v);
    for (unsigned v = 'A'; v <= 'Z'; v++) set_member(bits, v);
    for (unsigned v = 'a'; v <= 'z'; v++) set_member(bits, v);
    set_member(bits, '_');
}

/*
 * Bracket class at "[". Inside brackets nothing is special but a "^" in first
 * place, a "]" in first place (a member), a "]" later (the close) and "-"
 * between two bytes (a range; hi below lo adds nothing). A "-" that cannot
 * form a range, and the backslash, are ordinary members.
 */
static rx_node *parse_class(rx_parser *p) {
    const char *open = p->pos;
    const char *posix = nullptr; /* a "[:", "[=" or "[." member seen last */
    p->pos++;
    rx_node *node = new_node(p, RX_CLASS);
    if (node == nullptr) return nullptr;
    node->flags = p->flags & RX_FLAG_I;
    if (p->pos < p->end && *p->pos == '^') {
        node->negate = 1;
        p->pos++;
    }
    if (p->pos < p->end && *p->pos == ']') {
        set_member(node->bits, ']');
        p->pos++;
    }
    for (;;) {
        if (p->pos >= p->end) break;
        unsigned lo = static_cast<unsigned char>(*p->pos);
        p->pos++;
        if (lo == ']') {
            /* [:name:] closes the class at its "]": the bytes join the set */
            if (posix != nullptr && p->pos - posix >= 5 && p->pos[-2] == posix[1] &&
                note_fact(p, RX_FACT_CLASS_POSIX, posix, p->pos, 0) != 0) {
                discard(p, node);
                return nullptr;
            }
            return node;
        }
        if (lo == '\\' && note_fact(p, RX_FACT_CLASS_BACKSLASH, p->pos - 1, p->pos + (*p->pos == ']' ? 0 : 1),
                                    *p->pos == ']' ? 0 : static_cast<uint8_t>(*p->pos)) != 0) {
            discard(p, node);
            return nullptr;
        }
        if (lo == '[' && (*p->pos == ':' || *p->pos == '=' || *p->pos == '.')) posix = p->pos - 1;
        if (p->pos >= p->end) break;
        if (*p->pos == '-' && p->pos + 1 < p->end && p->pos[1] != ']') {
            unsigned hi = static_cast<unsigned char>(p->pos[1]);
            for (unsigned v = lo; v <= hi; v++) set_member(node->bits, v);
            p->pos += 2;
        } else {
            set_member(node->bits, lo);
        }
    }
    fail_at(p, PE_UNCLOSED_CLASS, open);
    discard(p, node);
    return nullptr;
}

/* Escape at a backslash. A backslash at the very end is a literal backslash;
 * every byte other than d D s S w W b B stands for itself. */
static rx_node *parse_escape(rx_parser *p) {
    if (p->pos + 1 >= p->end) {
        p->pos++;
        rx_node *node = new_node(p, RX_CHAR);
        if (node == nullptr) return nullptr;
        node->ch = '\\';
        node->flags = p->flags & RX_FLAG_I;
        return node;
    }
    unsigned char e = static_cast<unsigned char>(p->pos[1]);
    p->pos += 2;
    rx_node *node;
    switch (e) {
    case 'd':
    case 'D':
    case 's':
    case 'S':
    case 'w':
    case 'W':
        node = new_node(p, RX_CLASS);
        if (node == nullptr) return nullptr;
        if (e == 'd' || e == 'D') {
            for (unsigned v = '0'; v <= '9'; v++) set_member(node->bits, v);
        } else if (e == 's' || e == 'S') {
            static const unsigned char space[] = {' ', 9, 10, 13, 12, 11};
            for (unsigned char v : space) set_member(node->bits, v);
        } else {
            fill_word(node->bits);
        }
        node->negate = (e == 'D' || e == 'S' || e == 'W') ? 1 : 0;
        return node;
    case 'b':
    case 'B':
        node = new_node(p, RX_WORDB);
        if (node == nullptr) return nullptr;
        node->not_boundary = e == 'B' ? 1 : 0;
        return node;
    default:
        node = new_node(p, RX_CHAR);
        if (node == nullptr) return nullptr;
        node->ch = e;
        node->flags = p->flags & RX_FLAG_I;
        /* a letter or digit that other dialects give a meaning */
        if (((e | 32u) >= 'a' && (e | 32u) <= 'z') || (e >= '0' && e <= '9')) {
            if (note_fact(p, RX_FACT_ESCAPE, p->pos - 2, p->pos, e) != 0) {
                discard(p, node);
                return nullptr;
            }
        }
        return node;
    }
}

static int is_digit(char c) { return c >= '0' && c <= '9'; }

/* Reads the digits at *q into *value, saturating just above the largest
 * count so that no amount of digits overflows. */
static void read_count(const char **q, int64_t *value) {
    int64_t v = 0;
    while (is_digit(**q)) {
        v = v * 10 + (**q - '0');
        if (v > RX_COUNT_MAX) v = static_cast<int64_t>(RX_COUNT_MAX) + 1;
        (*q)++;
    }
    *value = v;
}

/* 1 when a quantifier begins at q: "*", "+", "?" or a counted form that
 * completes ({n}, {n,}, {n,m}), as apply_quant reads them. */
static int quantifier_at(const rx_parser *p, const char *q) {
    if (q >= p->end) return 0;
    if (*q == '*' || *q == '+' || *q == '?') return 1;
    if (*q != '{' || !is_digit(q[1])) return 0;
    q += 1;
    while (is_digit(*q)) q++;
    if (*q == '}') return 1;
    if (*q != ',') return 0;
    q++;
    if (*q == '}') return 1;
    if (!is_digit(*q)) return 0;
    while (is_digit(*q)) q++;
    return *q == '}';
}

/*
 * Reads at most one quantifier after an atom. A counted form must complete
 * ({n}, {n,}, {n,m}); otherwise nothing is consumed and the "{" is read later
 * as a literal byte. A completed count above 2147483647 refuses the pattern.
 * Returns the atom, or a repetition over it, or null with the atom freed.
 */
static rx_node *apply_quant(rx_parser *p, rx_node *atom, const char *atom_start) {
    if (p->pos >= p->end) return atom;
    int64_t min, max;
    const char *q = p->pos + 1;
    switch (*p->pos) {
    case '*':
        min = 0;
        max = -1;
        break;
    case '+':
        min = 1;
        max = -1;
        break;
    case '?':
        min = 0;
        max = 1;
        break;
    case '{':
        if (!is_digit(*q)) return atom;
        read_count(&q, &min);
        if (*q == '}') {
            max = min;
            q++;
        } else if (*q == ',') {
            q++;
            if (*q == '}') {
                max = -1;
                q++;
            } else if (is_digit(*q)) {
                read_count(&q, &max);
                if (*q != '}') return atom;
                q++;
            } else {
                return atom;
            }
        } else {
            return atom;
        }
        if (min > RX_COUNT_MAX || max > RX_COUNT_MAX) {
            fail_at(p, PE_COUNT_TOO_LARGE, p->pos);
            discard(p, atom);
            return nullptr;
        }
        break;
    default: return atom;
    }
    rx_node *rep = new_node(p, RX_REPEAT);
    if (rep == nullptr) {
        discard(p, atom);
        return nullptr;
    }
    rep->min = static_cast<int32_t>(min);
    rep->max = static_cast<int32_t>(max);
    rep->child = atom;
    p->pos = q;
    if (p->pos < p->end && *p->pos == '?') {
        rep->lazy = 1;
        p->pos++;
    }
    set_span(p, rep, atom_start, p->pos);
    return rep;
}

/*
 * In an arena (a tree for the engine), a chain of plain bytes is one node: a
 * sequence node with lit_len bytes at lit and their case flag in flags, and
 * no operands, standing for the chain of lit_len byte nodes and lit_len - 1
 * sequence nodes the tree would hold, which the parse counts all the same
 * (the budget is sized by them). Its bytes grow in blocks of the arena,
 * doubling from 16. Extends *seq, a byte node or such a chain, by the byte
 * c that ends at to; 0, or -1 when memory ran out.
 */
static int extend_chain(rx_parser *p, rx_node **seq, uint8_t c, const char *to) {
    rx_node *chain = *seq;
    if (chain->kind == RX_CHAR) {
        chain = static_cast<rx_node *>(rx_arena_alloc(p->arena, sizeof(rx_node)));
        uint8_t *bytes = static_cast<uint8_t *>(rx_arena_alloc(p->arena, 16));
        if (chain == nullptr || bytes == nullptr) return -1;
        chain->kind = RX_CONCAT;
        chain->flags = p->flags & RX_FLAG_I;
        chain->span_start = (*seq)->span_start;
        bytes[0] = (*seq)->ch;
        chain->lit = bytes;
        chain->lit_len = 1;
        *seq = chain;
    } else if (chain->lit_len >= 16 && (chain->lit_len & (chain->lit_len - 1)) == 0) {
        uint8_t *bytes =
            static_cast<uint8_t *>(rx_arena_alloc(p->arena, 2 * static_cast<size_t>(chain->lit_len)));
        if (bytes == nullptr) return -1;
        memcpy(bytes, chain->lit, static_cast<size_t>(chain->lit_len));
        chain->lit = bytes;
    }
    const_cast<uint8_t *>(chain->lit)[chain->lit_len++] = c;
    chain->span_end = offset_of(p, to);
    p->nodes += 2; /* the byte node and the sequence node it stands for */
    p->chains++;
    return 0;
}

/* Whether *seq, the sequence so far, is a chain a byte may extend. */
static int chain_extends(const rx_parser *p, const rx_node *seq) {
    return p->arena != nullptr && seq != nullptr && seq->lit_len < RX_COUNT_MAX &&
           (seq->kind == RX_CHAR || (seq->kind == RX_CONCAT && seq->left == nullptr && seq->lit != nullptr));
}

/* Joins item to the end of a sequence; 0, or -1 with the item freed. */
static int append_item(rx_parser *p, rx_node **seq, rx_node *item) {
    if (*seq == nullptr) {
        *seq = item;
        return 0;
    }
    if (item->kind == RX_CHAR && chain_extends(p, *seq)) {
        p->nodes--; /* the item itself is counted as part of the chain */
        return extend_chain(p, seq, item->ch, p->start + item->span_end);
    }
    rx_node *cat = new_node(p, RX_CONCAT);
    if (cat == nullptr) {
        discard(p, item);
        return -1;
    }
    cat->left = *seq;
    cat->right = item;
    cat->span_start = cat->left->span_start;
    cat->span_end = item->span_end;
    /* a plain byte after a plain byte or a chain of them extends the chain */
    if (item->kind == RX_CHAR && (cat->left->kind == RX_CHAR || cat->left->lit_len >= 2) &&
        cat->left->lit_len < RX_COUNT_MAX) {
        cat->lit_len = cat->left->kind == RX_CHAR ? 2 : cat->left->lit_len + 1;
        p->chains++;
    }
    *seq = cat;
    return 0;
}

/* Why parse_concat stopped. */
enum { STOP_END, STOP_BAR, STOP_CLOSE, STOP_OPEN, STOP_ERR };

/*
 * Reads the items of one sequence into *seq (items lean left) until the
 * sequence ends: at the end of the pattern, at a "|" or ")" (not consumed),
 * or at a "(" (consumed with its "?:", the group's number in *group: 0 for a
 * non-capturing group), which parse_alt handles. STOP_ERR on a failure, with
 * the error in the parser record (none when an allocation failed).
 */
static int parse_concat(rx_parser *p, rx_node **seq, int32_t *group) {
    for (;;) {
        if (p->pos >= p->end) return STOP_END;
        char c = *p->pos;
        const char *item_start = p->pos;
        rx_node *item;
        int quantifiable = 1;
        switch (c) {
        case '|': return STOP_BAR;
        case ')': return STOP_CLOSE;
        case '(':
            p->pos++;
            if (p->pos + 1 < p->end && p->pos[0] == '?' && p->pos[1] == ':') {
                p->pos += 2;
                *group = 0;
            } else {
                if (p->ngroups < RX_COUNT_MAX) p->ngroups++;
                *group = p->ngroups;
                if (p->ngroups == RX_MAX_GROUPS + 1 &&
                    note_fact(p, RX_FACT_GROUP_17, item_start, item_start + 1, 0) != 0)
                    return STOP_ERR;
            }
            return STOP_OPEN;
        case '[': item = parse_class(p); break;
        case '\\': item = parse_escape(p); break;
        case '.':
            p->pos++;
            item = new_node(p, RX_ANY);
            if (item != nullptr) item->flags = p->flags & RX_FLAG_S;
            break;
        case '^':
        case '$':
            p->pos++;
            quantifiable = 0;
            item = new_node(p, RX_ANCHOR);
            if (item != nullptr) {
                item->anchor = c == '^' ? 1 : 2;
                item->flags = p->flags & RX_FLAG_M;
            }
            break;
        case '*':
        case '+':
        case '?':
            fail_at(p, PE_UNEXPECTED, p->pos);
            p->error_byte = c;
            return STOP_ERR;
        default:
            p->pos++;
            if (chain_extends(p, *seq) && !quantifier_at(p, p->pos)) {
                if (extend_chain(p, seq, static_cast<uint8_t>(c), p->pos) != 0) return STOP_ERR;
                continue;
            }
            item = new_node(p, RX_CHAR);
            if (item != nullptr) {
                item->ch = static_cast<uint8_t>(c);
                item->flags = p->flags & RX_FLAG_I;
            }
            break;
        }
        if (item == nullptr) return STOP_ERR;
        set_span(p, item, item_start, p->pos);
        if (quantifiable) {
            item = apply_quant(p, item, item_start);
            if (item == nullptr) return STOP_ERR;
        }
        if (append_item(p, seq, item) != 0) return STOP_ERR;
    }
}

/*
 * In an arena, an alternation is one node with its alternatives in a list
 * (flat, flat_len), standing for the k - 1 alternation nodes of k
 * alternatives, which the parse counts all the same. The list grows in
 * blocks of the arena, doubling from 4. listed_alternation makes the node of
 * the first two alternatives; list_alternative adds one more. Null or -1
 * when memory ran out.
 */
static rx_node *listed_alternation(rx_parser *p, rx_node *first, rx_node *second) {
    rx_node *alt = new_node(p, RX_ALT);
    rx_node **ops = static_cast<rx_node **>(rx_arena_alloc(p->arena, 4 * sizeof(rx_node *)));
    if (alt == nullptr || ops == nullptr) return nullptr;
    ops[0] = first;
    ops[1] = second;
    alt->flat = ops;
    alt->flat_len = 2;
    alt->span_start = first->span_start;
    alt->span_end = second->span_end;
    return alt;
}

static int list_alternative(rx_parser *p, rx_node *alt, rx_node *next) {
    if (alt->flat_len >= RX_COUNT_MAX) return -1;
    if (alt->flat_len >= 4 && (alt->flat_len & (alt->flat_len - 1)) == 0) {
        const size_t size = static_cast<size_t>(alt->flat_len) * sizeof(rx_node *);
        rx_node **ops = static_cast<rx_node **>(rx_arena_alloc(p->arena, 2 * size));
        if (ops == nullptr) return -1;
        memcpy(ops, alt->flat, size);
        alt->flat = ops;
    }
    alt->flat[alt->flat_len++] = next;
    alt->span_end = next->span_end;
    p->nodes++; /* the alternation node it stands for */
    return 0;
}

/* One open level of the alternation: the top level or an open group. */
typedef struct parse_frame {
    rx_node *alt;     /* alternatives complete so far, or null */
    int listed;       /* 1: alt is this level's alternation node with its
                         alternatives in a list (in an arena) */
    rx_node *seq;     /* the sequence being read, or null */
    int32_t group;    /* group number; 0 non-capturing; -1 the top level */
    const char *open; /* the group's "(" */
} parse_frame;

#define RX_PARSE_LOCAL_FRAMES 32

/* The frame's sequence has ended: folds it into the frame's alternation (a
 * list in an arena parse, a left-leaning RX_ALT chain otherwise). The frame
 * owns what it held whatever the result. */
static int fold_alternative(rx_parser *p, parse_frame *f) {
    rx_node *seq = f->seq;
    f->seq = nullptr;
    if (seq == nullptr) {
        seq = empty_sequence(p);
        if (seq == nullptr) return -1;
    }
    if (f->alt == nullptr) {
        f->alt = seq;
    } else if (f->listed) {
        if (list_alternative(p, f->alt, seq) != 0) return -1;
    } else if (p->arena != nullptr) {
        rx_node *alt = listed_alternation(p, f->alt, seq);
        if (alt == nullptr) return -1;
        f->alt = alt;
        f->listed = 1;
    } else {
        rx_node *alt = new_node(p, RX_ALT);
        if (alt == nullptr) {
            discard(p, seq);
            return -1;
        }
        alt->left = f->alt;
        alt->right = seq;
        alt->span_start = alt->left->span_start;
        alt->span_end = seq->span_end;
        f->alt = alt;
    }
    return 0;
}

/* The ")" of the frame's group is behind the cursor: takes the frame's
 * alternation out as the group's item, quantifier applied; null when out of
 * memory (nothing is left owned). */
static rx_node *close_group(rx_parser *p, parse_frame *f) {
    rx_node *inside = f->alt;
    f->alt = nullptr;
    if (f->group >= 1 && f->group <= RX_MAX_GROUPS) {
        rx_node *node = new_node(p, RX_GROUP);
        if (node == nullptr) {
            discard(p, inside);
            return nullptr;
        }
        node->group = f->group;
        node->child = inside;
        set_span(p, node, f->open, p->pos);
        inside = node;
    } else {
        set_span(p, inside, f->open, p->pos); /* a group of no node: its inside, parentheses included */
    }
    return apply_quant(p, inside, f->open);
}

/*
 * Parses an alternation, groups included, without recursion: each "(" pushes
 * a frame and each ")" pops one and turns the group's alternation into an
 * item of the enclosing sequence. Alternatives lean left. Stops at the end
 * of the pattern or at a ")" that closes no group (left for the caller).
 * *bars_caret is 1 when every top-level "|" is followed by "^".
 */
static rx_node *parse_alt(rx_parser *p, int *bars_caret) {
    parse_frame local[RX_PARSE_LOCAL_FRAMES];
    parse_frame *frames = local;
    size_t cap = RX_PARSE_LOCAL_FRAMES, top = 0;
    frames[0].alt = nullptr;
    frames[0].listed = 0;
    frames[0].seq = nullptr;
    frames[0].group = -1;
    frames[0].open = p->pos;
    *bars_caret = 1;
    rx_node *root = nullptr;

    for (;;) {
        int32_t group = 0;
        int stop = parse_concat(p, &frames[top].seq, &group);
        if (stop == STOP_ERR) goto fail;
        if (stop == STOP_OPEN) {
            if (top + 1 == cap) {
                parse_frame *grown;
                if (frames == local) {
                    grown = static_cast<parse_frame *>(rx_malloc(2 * cap * sizeof *grown));
                    if (grown != nullptr) memcpy(grown, local, sizeof local);
                } else {
                    grown = static_cast<parse_frame *>(rx_realloc(frames, 2 * cap * sizeof *grown));
                }
                if (grown == nullptr) goto fail;
                frames = grown;
                cap *= 2;
            }
            top++;
            frames[top].alt = nullptr;
            frames[top].listed = 0;
            frames[top].seq = nullptr;
            frames[top].group = group;
            /* the "(" is behind the cursor, and "?:" too for a group of no number */
            frames[top].open = p->pos - (group == 0 ? 3 : 1);
            continue;
        }

        if (fold_alternative(p, &frames[top]) != 0) goto fail;

        if (stop == STOP_BAR) {
            p->pos++;
            if (top == 0 && *p->pos != '^') *bars_caret = 0;
            continue;
        }
        if (top == 0) {
            root = frames[0].alt;
            frames[0].alt = nullptr;
            break;
        }
        if (stop == STOP_END) {
            fail_at(p, PE_UNCLOSED_GROUP, frames[top].open);
            goto fail;
        }

        /* ")" closes the group of this frame. */
        p->pos++;
        rx_node *inside = close_group(p, &frames[top]);
        top--;
        if (inside == nullptr) goto fail;
        if (append_item(p, &frames[top].seq, inside) != 0) goto fail;
    }
    if (frames != local) free(frames);
    return root;

fail:
    for (size_t i = 0; i <= top; i++) {
        discard(p, frames[i].alt);
        discard(p, frames[i].seq);
    }
    if (frames != local) free(frames);
    return nullptr;
}

/* The one place where a parse error becomes its text: written into the
 * caller's buffer, cut as snprintf cuts, when there is a buffer at all. An
 * error that is none of the others is an allocation failure. */
static void parse_message(int32_t error, char byte, char *err, uint64_t err_size) {
    if (err == nullptr || err_size == 0) return;
    size_t size = err_size > 0x7fffffffu ? 0x7fffffffu : static_cast<size_t>(err_size);
    switch (error) {
    case PE_UNEXPECTED: snprintf(err, size, "unexpected '%c'", byte); break;
    case PE_UNCLOSED_GROUP: snprintf(err, size, "unclosed group"); break;
    case PE_UNCLOSED_CLASS: snprintf(err, size, "unclosed character class"); break;
    case PE_TRAILING: snprintf(err, size, "trailing junk at '%c'", byte); break;
    case PE_COUNT_TOO_LARGE: snprintf(err, size, "repetition count too large"); break;
    default: snprintf(err, size, "parse error"); break;
    }
}

void rx_parse_out_of_memory(char *err, uint64_t err_size) { parse_message(PE_MEMORY, 0, err, err_size); }

/*
 * What a parse that failed at a "?" or "+" stopped at, when it is a
 * construct of another dialect: a "(?" group this syntax does not know (a
 * flag group counts only at the very start), or a possessive quantifier.
 * Sets the trap and its bytes in the notes.
 */
static void classify_trap(const rx_parser *p, rx_parse_notes *notes) {
    const char *at = p->error_at;
    if (p->error != PE_UNEXPECTED || at == nullptr || at == p->start) return;
    const char *open = at - 1;
    int32_t trap = RX_TRAP_NONE;
    const char *end = at + 1;
    if (*at == '+' && (at[-1] == '*' || at[-1] == '+' || at[-1] == '?' || at[-1] == '}')) {
        trap = RX_TRAP_POSSESSIVE;
    } else if (*at == '?' && *open == '(') {
        const char *q = at + 1;
        int only_ims = 1, letters = 0;
        while ((*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z') || *q == '-') {
            if (*q != 'i' && *q != 'm' && *q != 's') only_ims = 0;
            letters++;
            q++;
        }
        if (letters > 0 && *q == ')') {
            trap = only_ims ? RX_TRAP_LATE_FLAGS : RX_TRAP_OTHER_FLAGS;
            end = q + 1;
        } else if (letters > 0 && *q == ':') {
            trap = RX_TRAP_SCOPED_FLAGS;
            end = q + 1;
        } else if (letters == 0 && (*q == '=' || *q == '!' || (*q == '<' && (q[1] == '=' || q[1] == '!')))) {
            trap = RX_TRAP_LOOKAROUND;
            end = q + (*q == '<' ? 2 : 1);
        } else if (letters == 0 && (*q == '<' || *q == '\'')) {
            trap = RX_TRAP_NAMED_GROUP;
            end = q + 1;
        } else if (q == at + 2 && at[1] == 'P' && *q == '<') {
            trap = RX_TRAP_NAMED_GROUP;
            end = q + 1;
        } else if (letters == 0 && *q == '>') {
            trap = RX_TRAP_ATOMIC;
            end = q + 1;
        } else if (letters == 0 && *q == '#') {
            trap = RX_TRAP_COMMENT;
            end = q + 1;
        }
        /* a named group's name, a comment: up to the ">" or ")" that ends it */
        if (trap == RX_TRAP_NAMED_GROUP || trap == RX_TRAP_COMMENT) {
            const char stop = trap == RX_TRAP_COMMENT ? ')' : (*q == '\'' ? '\'' : '>');
            const char *r = end;
            while (r < p->end && *r != stop && r - end < 64) r++;
            if (r < p->end && *r == stop) end = r + 1;
        }
    }
    if (trap == RX_TRAP_NONE) return;
    notes->trap = trap;
    notes->trap_start = offset_of(p, trap == RX_TRAP_POSSESSIVE ? at : open);
    notes->trap_end = offset_of(p, end);
}

rx_node *rx_parse_tree_in(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info,
                          rx_parse_notes *notes, rx_arena *arena) {
    rx_parser p;
    p.arena = arena;
    p.pos = pattern;
    p.end = pattern + strlen(pattern);
    p.error = PE_NONE;
    p.error_byte = 0;
    p.ngroups = 0;
    p.flags = 0;
    p.nodes = 0;
    p.chains = 0;
    p.joins = 0;
    p.start = pattern;
    p.error_at = nullptr;
    p.notes = notes;
    p.pos += rx_parse_leading_flags(pattern, &p.flags);

    int bars_caret = 0;
    rx_node *root = parse_alt(&p, &bars_caret);
    if (root == nullptr && p.error == PE_NONE) fail_at(&p, PE_MEMORY, p.pos);
    if (root != nullptr && p.pos != p.end) {
        fail_at(&p, PE_TRAILING, p.pos);
        p.error_byte = *p.pos;
        discard(&p, root);
        root = nullptr;
    }
    if (info != nullptr) {
        info->out_of_memory = p.error == PE_MEMORY;
        info->error_offset = root == nullptr ? offset_of(&p, p.error_at) : 0;
    }
    if (root == nullptr) {
        if (notes != nullptr) classify_trap(&p, notes);
        parse_message(p.error, p.error_byte, err, err_size);
        return nullptr;
    }
    if (info != nullptr) {
        info->anchored = pattern[0] == '^' && bars_caret;
        info->nodes = p.nodes;
        info->chains = p.chains;
        info->joins = p.joins;
        info->groups = p.ngroups < RX_MAX_GROUPS ? p.ngroups : RX_MAX_GROUPS;
    }
    return root;
}

rx_node *rx_parse_tree_noted(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info,
                             rx_parse_notes *notes) {
    return rx_parse_tree_in(pattern, err, err_size, info, notes, nullptr);
}

rx_node *rx_parse_tree(const char *pattern, char *err, uint64_t err_size, rx_parse_info *info) {
    return rx_parse_tree_in(pattern, err, err_size, info, nullptr, nullptr);
}

rx_node *parse_pattern(const char *pattern, char *err, uint64_t err_size) {
    if (pattern == nullptr) return nullptr;
    return rx_parse_tree(pattern, err, err_size, nullptr);
}

/* ---- compile check ---------------------------------------------------------- */

/* The tree is made in an arena of its own and released with it. */
static int compile_check(const char *pattern, char *err, uint64_t err_size) {
    rx_parse_info info;
    rx_arena arena = {nullptr, rx_parse_arena_size(pattern)};
    rx_node *root = rx_parse_tree_in(pattern, err, err_size, &info, nullptr, &arena);
    rx_arena_release(&arena);
    if (root == nullptr) return info.out_of_memory ? RX_OUT_OF_MEMORY : -1;
    if (err != nullptr && err_size != 0) err[0] = '\0';
    return 0;
}

size_t rx_parse_arena_size(const char *pattern) {
    /* about two nodes per byte of an ordinary pattern; a chunk of 256 KiB at
     * most to begin with, later ones doubling as a longer pattern needs */
    const size_t len = strlen(pattern), most = (static_cast<size_t>(256) << 10) / sizeof(rx_node);
    return (len < most / 2 ? 2 * len + 4 : most) * sizeof(rx_node);
}

int rx_engine_compile_ok(const char *pattern, char *err, uint64_t err_size) {
    return compile_check(pattern, err, err_size);
}

int rx_nfa_compile_ok(const char *pattern, char *err, uint64_t err_size) {
    return compile_check(pattern, err, err_size);
}
