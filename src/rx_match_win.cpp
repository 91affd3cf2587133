/*
 * The pattern engine: the parser that turns a pattern into a tree of rx_node
 * records, the compile check, the backtracking matcher and the search loop.
 *
 * Parser. One left-to-right pass over bytes. Sequences and alternations are
 * built in loops; nested groups are kept on an explicit frame stack (a few
 * frames on the machine stack, more on the heap), so neither parsing nor
 * freeing a tree recurses, whatever the pattern's length or nesting.
 *
 * Matcher. The matching rules are those of a recursive backtracking matcher
 * in which every node commits to the first end it reaches. They run here on
 * an explicit machine: match_node walks the tree with a work stack of frames
 * kept on the heap (one block per thread, grown on demand and reused), so the
 * machine stack stays small and bounded for any pattern and text. Steps are
 * spent exactly where the recursive rules spend them; several shortcuts
 * (leaf operands evaluated in place, repetitions of a single leaf run in a
 * loop, calls in tail position, skipping start positions whose first byte
 * cannot begin a match) change how fast the answer comes, never the answer,
 * the captures, or the number of steps spent.
 *
 * Per-thread state lives in plain thread-local variables (g_steps_left,
 * g_budget_hit, g_caps, g_caplog ...). A search loads them into a
 * record on its own stack, runs, and stores them back, so the hot loop does
 * not touch thread-local storage. The work stack and the capture undo log
 * are heap blocks reached through thread-local pointers and released when
 * the thread ends.
 */
#include "rx_match_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rx_platform.h"

/* ========================================================================== */
/* Parser                                                                      */
/* ========================================================================== */

#define RX_PARSE_ERR_SIZE 128
#define RX_COUNT_MAX 2147483647

/* The cursor of one parse. */
typedef struct rx_parser {
    const char *pos;              /* next unread byte */
    const char *end;              /* the terminating NUL */
    char err[RX_PARSE_ERR_SIZE];  /* first error; empty for an allocation failure */
    int32_t ngroups;              /* capturing groups opened so far */
    uint32_t flags;               /* from the leading flag group */
    uint64_t nodes;               /* nodes made; all of them end up in the tree */
    uint64_t chains;              /* sequence nodes that extend a chain of plain bytes */
} rx_parser;

static rx_node *new_node(rx_parser *p, int32_t kind) {
    rx_node *node = static_cast<rx_node *>(rx_calloc(1, sizeof(rx_node)));
    if (node != nullptr) {
        node->kind = kind;
        p->nodes++;
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

/* The empty sequence: a repetition {0,0} of the byte 0. */
static rx_node *empty_sequence(rx_parser *p) {
    rx_node *rep = new_node(p, RX_REPEAT);
    if (rep == nullptr) return nullptr;
    rep->child = new_node(p, RX_CHAR);
    if (rep->child == nullptr) {
        free(rep);
        return nullptr;
    }
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
        if (lo == ']') return node;
        if (p->pos >= p->end) break;
        if (*p->pos == '-' && p->pos + 1 < p->end && p->pos[1] != ']') {
            unsigned hi = static_cast<unsigned char>(p->pos[1]);
            for (unsigned v = lo; v <= hi; v++) set_member(node->bits, v);
            p->pos += 2;
        } else {
            set_member(node->bits, lo);
        }
    }
    snprintf(p->err, sizeof p->err, "unclosed character class");
    free(node);
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
    case 'd': case 'D':
    case 's': case 'S':
    case 'w': case 'W':
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
    case 'b': case 'B':
        node = new_node(p, RX_WORDB);
        if (node == nullptr) return nullptr;
        node->not_boundary = e == 'B' ? 1 : 0;
        return node;
    default:
        node = new_node(p, RX_CHAR);
        if (node == nullptr) return nullptr;
        node->ch = e;
        node->flags = p->flags & RX_FLAG_I;
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

/*
 * Reads at most one quantifier after an atom. A counted form must complete
 * ({n}, {n,}, {n,m}); otherwise nothing is consumed and the "{" is read later
 * as a literal byte. A completed count above 2147483647 refuses the pattern.
 * Returns the atom, or a repetition over it, or null with the atom freed.
 */
static rx_node *apply_quant(rx_parser *p, rx_node *atom) {
    if (p->pos >= p->end) return atom;
    int64_t min, max;
    const char *q = p->pos + 1;
    switch (*p->pos) {
    case '*': min = 0; max = -1; break;
    case '+': min = 1; max = -1; break;
    case '?': min = 0; max = 1; break;
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
            snprintf(p->err, sizeof p->err, "repetition count too large");
            node_free(atom);
            return nullptr;
        }
        break;
    default:
        return atom;
    }
    rx_node *rep = new_node(p, RX_REPEAT);
    if (rep == nullptr) {
        node_free(atom);
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
    return rep;
}

/* Joins item to the end of a sequence; 0, or -1 with the item freed. */
static int append_item(rx_parser *p, rx_node **seq, rx_node *item) {
    if (*seq == nullptr) {
        *seq = item;
        return 0;
    }
    rx_node *cat = new_node(p, RX_CONCAT);
    if (cat == nullptr) {
        node_free(item);
        return -1;
    }
    cat->left = *seq;
    cat->right = item;
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
 * the message in err (empty when an allocation failed).
 */
static int parse_concat(rx_parser *p, rx_node **seq, int32_t *group) {
    for (;;) {
        if (p->pos >= p->end) return STOP_END;
        char c = *p->pos;
        rx_node *item;
        int quantifiable = 1;
        switch (c) {
        case '|':
            return STOP_BAR;
        case ')':
            return STOP_CLOSE;
        case '(':
            p->pos++;
            if (p->pos + 1 < p->end && p->pos[0] == '?' && p->pos[1] == ':') {
                p->pos += 2;
                *group = 0;
            } else {
                if (p->ngroups < RX_COUNT_MAX) p->ngroups++;
                *group = p->ngroups;
            }
            return STOP_OPEN;
        case '[':
            item = parse_class(p);
            break;
        case '\\':
            item = parse_escape(p);
            break;
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
            snprintf(p->err, sizeof p->err, "unexpected '%c'", c);
            return STOP_ERR;
        default:
            p->pos++;
            item = new_node(p, RX_CHAR);
            if (item != nullptr) {
                item->ch = static_cast<uint8_t>(c);
                item->flags = p->flags & RX_FLAG_I;
            }
            break;
        }
        if (item == nullptr) return STOP_ERR;
        if (quantifiable) {
            item = apply_quant(p, item);
            if (item == nullptr) return STOP_ERR;
        }
        if (append_item(p, seq, item) != 0) return STOP_ERR;
    }
}

/* One open level of the alternation: the top level or an open group. */
typedef struct parse_frame {
    rx_node *alt;    /* alternatives complete so far, or null */
    rx_node *seq;    /* the sequence being read, or null */
    int32_t group;   /* group number; 0 non-capturing; -1 the top level */
} parse_frame;

#define RX_PARSE_LOCAL_FRAMES 32

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
    frames[0].seq = nullptr;
    frames[0].group = -1;
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
            frames[top].seq = nullptr;
            frames[top].group = group;
            continue;
        }

        /* The sequence ends: fold it into the alternation of its level. */
        rx_node *seq = frames[top].seq;
        frames[top].seq = nullptr;
        if (seq == nullptr) {
            seq = empty_sequence(p);
            if (seq == nullptr) goto fail;
        }
        if (frames[top].alt != nullptr) {
            rx_node *alt = new_node(p, RX_ALT);
            if (alt == nullptr) {
                node_free(seq);
                goto fail;
            }
            alt->left = frames[top].alt;
            alt->right = seq;
            frames[top].alt = alt;
        } else {
            frames[top].alt = seq;
        }

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
            snprintf(p->err, sizeof p->err, "unclosed group");
            goto fail;
        }

        /* ")" closes the group of this frame. */
        p->pos++;
        rx_node *inside = frames[top].alt;
        int32_t number = frames[top].group;
        frames[top].alt = nullptr;
        top--;
        if (number >= 1 && number <= RX_MAX_GROUPS) {
            rx_node *node = new_node(p, RX_GROUP);
            if (node == nullptr) {
                node_free(inside);
                goto fail;
            }
            node->group = number;
            node->child = inside;
            inside = node;
        }
        inside = apply_quant(p, inside);
        if (inside == nullptr) goto fail;
        if (append_item(p, &frames[top].seq, inside) != 0) goto fail;
    }
    if (frames != local) free(frames);
    return root;

fail:
    for (size_t i = 0; i <= top; i++) {
        node_free(frames[i].alt);
        node_free(frames[i].seq);
    }
    if (frames != local) free(frames);
    return nullptr;
}

/* Writes a message into a caller's buffer, cut as snprintf cuts, when there
 * is a buffer at all. */
static void put_message(char *err, uint64_t err_size, const char *format, int byte) {
    if (err == nullptr || err_size == 0) return;
    size_t size = err_size > 0x7fffffffu ? 0x7fffffffu : static_cast<size_t>(err_size);
    snprintf(err, size, format, byte);
}

/* What a parse tells besides the tree. */
typedef struct parse_info {
    int anchored;     /* only offset 0 can ever match: the pattern's first byte
                         is "^" and so is the first byte of every other
                         top-level alternative */
    uint64_t nodes;   /* rx_node records in the tree */
    uint64_t chains;  /* sequence nodes of literal chains */
    int out_of_memory; /* the parse failed for want of memory */
} parse_info;

/* parse_pattern, also filling *info when it is given. */
static rx_node *parse_tree(const char *pattern, char *err, uint64_t err_size, parse_info *info) {
    rx_parser p;
    p.pos = pattern;
    p.end = pattern + strlen(pattern);
    p.err[0] = '\0';
    p.ngroups = 0;
    p.flags = 0;
    p.nodes = 0;
    p.chains = 0;
    p.pos += rx_parse_leading_flags(pattern, &p.flags);

    int bars_caret = 0;
    rx_node *root = parse_alt(&p, &bars_caret);
    if (info != nullptr) info->out_of_memory = root == nullptr && p.err[0] == '\0';
    if (root == nullptr) {
        if (err != nullptr && err_size != 0) {
            size_t size = err_size > 0x7fffffffu ? 0x7fffffffu : static_cast<size_t>(err_size);
            snprintf(err, size, "%s", p.err[0] != '\0' ? p.err : "parse error");
        }
        return nullptr;
    }
    if (p.pos != p.end) {
        put_message(err, err_size, "trailing junk at '%c'", *p.pos);
        node_free(root);
        return nullptr;
    }
    if (info != nullptr) {
        info->anchored = pattern[0] == '^' && bars_caret;
        info->nodes = p.nodes;
        info->chains = p.chains;
    }
    return root;
}

rx_node *parse_pattern(const char *pattern, char *err, uint64_t err_size) {
    if (pattern == nullptr) return nullptr;
    return parse_tree(pattern, err, err_size, nullptr);
}

/* ---- compile check ---------------------------------------------------------- */

static int compile_check(const char *pattern, char *err, uint64_t err_size) {
    rx_node *root = parse_pattern(pattern, err, err_size);
    if (root == nullptr) return -1;
    node_free(root);
    if (err != nullptr && err_size != 0) err[0] = '\0';
    return 0;
}

int rx_engine_compile_ok(const char *pattern, char *err, uint64_t err_size) {
    return compile_check(pattern, err, err_size);
}

int rx_nfa_compile_ok(const char *pattern, char *err, uint64_t err_size) {
    return compile_check(pattern, err, err_size);
}

/* ========================================================================== */
/* Matcher                                                                     */
/* ========================================================================== */

/* One entry of the capture undo log: a group's recording before it was
 * overwritten, so that taking the recording back restores it whole. */
typedef struct cap_undo {
    uint64_t start;
    uint64_t end;
    int32_t group;
    uint8_t set;
} cap_undo;

/* What a frame of the work stack waits for. */
enum {
    F_SEQ,           /* item k of a sequence */
    F_ALTS,          /* alternative k of an alternation */
    F_GROUP,         /* a capturing group's inside */
    F_QUANT_CHILD,   /* iteration k of a repetition: the operand */
    F_QUANT_NEXT     /* iteration k done: the repetition from iteration k + 1 */
};

/* A pending node of the machine: what the recursive rules keep in a call's
 * frame. For a repetition, one frame per iteration in progress. */
typedef struct mframe {
    const rx_node *node;
    uint64_t pos;    /* where the node (or the iteration) started */
    int32_t mark;    /* undo log length when it started */
    int32_t k;       /* repetition: iterations matched before this one;
                        sequence, alternation: the operand under way */
    int32_t tag;     /* F_* */
} mframe;

/* Per-thread state. Plain values and pointers (no thread-local arrays): the
 * undo log and the work stack are heap blocks. */
static RX_THREAD_LOCAL int32_t g_steps_left;  /* steps the search may still spend */
static RX_THREAD_LOCAL int32_t g_budget_hit;  /* a step was refused in this search */
static RX_THREAD_LOCAL int32_t g_out_of_memory;  /* the work stack or log could not grow */
static RX_THREAD_LOCAL rx_caps *g_caps;       /* active capture record, or null */
static RX_THREAD_LOCAL cap_undo *g_caplog;    /* undo log (heap) */
static RX_THREAD_LOCAL int32_t g_caplog_n;    /* entries in use */
static RX_THREAD_LOCAL int32_t g_caplog_cap;  /* entries allocated */
static RX_THREAD_LOCAL mframe *g_work;        /* work stack (heap) */
static RX_THREAD_LOCAL size_t g_work_cap;     /* frames allocated */

/* Blocks bigger than these are released after the search that grew them, so
 * one huge pattern does not pin memory for the thread's whole life. */
#define RX_WORK_KEEP ((size_t)1 << 16)
#define RX_CAPLOG_KEEP (1 << 16)

static void engine_thread_cleanup(void) {
    free(g_work);
    g_work = nullptr;
    g_work_cap = 0;
    free(g_caplog);
    g_caplog = nullptr;
    g_caplog_cap = 0;
    g_caplog_n = 0;
}

/* The matcher's state during one search, loaded from the thread-local
 * variables at its start and stored back at its end. */
typedef struct mstate {
    int32_t steps;
    int32_t hit;
    int32_t oom;
    rx_caps *caps;
    int32_t caps_clean;  /* the record is all zero whenever the log is empty */
    cap_undo *log;
    int32_t logn;
    int32_t logcap;
    mframe *work;
    size_t workcap;
} mstate;

/*
 * Spends one step: refused (-1) once any step was refused in this call, or
 * when the budget is used up; the first refusal sets the flag for good.
 */
static inline int rx_spend_step(mstate *ms) {
    if (ms->hit) return -1;
    if (ms->steps > 0) {
        ms->steps--;
        return 0;
    }
    ms->hit = 1;
    return -1;
}

/* Takes back the recordings made since the log held mark entries, newest
 * first, giving each group its earlier start, end and set-flag. */
static inline void caps_undo_to(mstate *ms, int32_t mark) {
    if (ms->caps == nullptr) return;
    if (mark < 0) mark = 0;
    while (ms->logn > mark) {
        const cap_undo *u = &ms->log[--ms->logn];
        ms->caps->start[u->group] = u->start;
        ms->caps->end[u->group] = u->end;
        ms->caps->set[u->group] = u->set;
    }
}

/* Clears the active record and empties the log; nothing without a record.
 * Every write to the record is logged and taken back exactly, so once the
 * record was cleared in this search an empty log means it is still clear. */
static inline void caps_reset(mstate *ms) {
    if (ms->caps == nullptr) return;
    if (ms->caps_clean && ms->logn == 0) return;
    memset(ms->caps, 0, sizeof *ms->caps);
    ms->logn = 0;
    ms->caps_clean = 1;
}

static int grow_log(mstate *ms) {
    if (ms->logcap > 0x3fffffff) return -1;
    int32_t cap = ms->logcap > 0 ? ms->logcap * 2 : 64;
    cap_undo *grown = static_cast<cap_undo *>(rx_realloc(ms->log, static_cast<size_t>(cap) * sizeof *grown));
    if (grown == nullptr) return -1;
    ms->log = grown;
    ms->logcap = cap;
    g_caplog = grown;
    g_caplog_cap = cap;
    rx_thread_cleanup_arm(engine_thread_cleanup);
    return 0;
}

/* Records group g as the span [p, e), logging what it held before. -1 when
 * the log cannot grow. */
static int record_group(mstate *ms, int32_t g, uint64_t p, uint64_t e) {
    if (ms->caps == nullptr || g < 1 || g > RX_MAX_GROUPS) return 0;
    if (ms->logn == ms->logcap && grow_log(ms) != 0) return -1;
    cap_undo *u = &ms->log[ms->logn++];
    u->group = g;
    u->start = ms->caps->start[g];
    u->end = ms->caps->end[g];
    u->set = ms->caps->set[g];
    ms->caps->start[g] = p;
    ms->caps->end[g] = e;
    ms->caps->set[g] = 1;
    return 0;
}

static mframe *grow_work(mstate *ms) {
    size_t cap = ms->workcap > 0 ? ms->workcap * 2 : 256;
    if (cap > SIZE_MAX / sizeof(mframe)) return nullptr;
    mframe *grown = static_cast<mframe *>(rx_realloc(ms->work, cap * sizeof *grown));
    if (grown == nullptr) return nullptr;
    ms->work = grown;
    ms->workcap = cap;
    g_work = grown;
    g_work_cap = cap;
    rx_thread_cleanup_arm(engine_thread_cleanup);
    return grown;
}

static inline int is_word_byte(uint8_t b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

static inline int in_bits(const uint8_t *bits, uint8_t b) { return (bits[b >> 3] >> (b & 7)) & 1; }

static inline int is_leaf(const rx_node *node) {
    return node->kind != RX_CONCAT && node->kind != RX_ALT && node->kind != RX_REPEAT &&
           node->kind != RX_GROUP;
}

/* A leaf at p: 1 with the end in *e, or 0. Bytes, anchors and boundaries;
 * any unknown kind fails. */
static inline int leaf_match(const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p, uint64_t *e) {
    switch (node->kind) {
    case RX_CHAR: {
        if (p >= n) return 0;
        uint8_t b = t[p], c = node->ch;
        if (node->flags & RX_FLAG_I) {
            if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
            if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
        }
        if (b != c) return 0;
        *e = p + 1;
        return 1;
    }
    case RX_ANY:
        if (p >= n) return 0;
        if (t[p] == '\n' && !(node->flags & RX_FLAG_S)) return 0;
        *e = p + 1;
        return 1;
    case RX_CLASS: {
        if (p >= n) return 0;
        uint8_t b = t[p];
        int inside = in_bits(node->bits, b);
        if (!inside && (node->flags & RX_FLAG_I)) {
            if (b >= 'a' && b <= 'z')
                inside = in_bits(node->bits, static_cast<uint8_t>(b - 32));
            else if (b >= 'A' && b <= 'Z')
                inside = in_bits(node->bits, static_cast<uint8_t>(b + 32));
        }
        if (inside == (node->negate != 0)) return 0;
        *e = p + 1;
        return 1;
    }
    case RX_ANCHOR: {
        int ok;
        if (node->anchor == 1)
            ok = p == 0 || ((node->flags & RX_FLAG_M) && t[p - 1] == '\n');
        else if (node->anchor == 2)
            ok = p == n || ((node->flags & RX_FLAG_M) && t[p] == '\n');
        else
            ok = 0;
        if (!ok) return 0;
        *e = p;
        return 1;
    }
    case RX_WORDB: {
        int before = p > 0 && is_word_byte(t[p - 1]);
        int after = p < n && is_word_byte(t[p]);
        if ((before != after) == (node->not_boundary != 0)) return 0;
        *e = p;
        return 1;
    }
    default:
        return 0;
    }
}

static inline uint8_t fold_byte(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

/* 1 when the m bytes at s equal lit, letters folded when fold is set. */
static int same_bytes(const uint8_t *s, const uint8_t *lit, int32_t m, int fold, int32_t *matched) {
    int32_t j = 0;
    if (!fold) {
        if (memcmp(s, lit, static_cast<size_t>(m)) == 0) {
            *matched = m;
            return 1;
        }
        while (s[j] == lit[j]) j++;
    } else {
        while (j < m && fold_byte(s[j]) == fold_byte(lit[j])) j++;
    }
    *matched = j;
    return j == m;
}

/*
 * A literal chain of m bytes at p, charged what the sequence rules charge:
 * each of its m - 1 sequence nodes spends a step before its first operand,
 * and one more before its second once the first matched. So a match costs
 * 2(m - 1) steps, and a mismatch at the j-th byte (counted from 1)
 * (m - 1) + (j - 1). Where fewer steps are left than that, the rules would
 * have refused one on the way: the chain fails with the flag set.
 */
static int literal_match(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                         uint64_t *e) {
    const int32_t m = node->lit_len;
    const int fold = (node->right->flags & RX_FLAG_I) != 0;
    uint64_t room = n - p;
    int32_t avail = room < static_cast<uint64_t>(m) ? static_cast<int32_t>(room) : m;
    int32_t matched = 0;
    int ok = avail == m ? same_bytes(t + p, node->lit, m, fold, &matched)
                        : (same_bytes(t + p, node->lit, avail, fold, &matched), 0);
    int64_t cost = ok ? 2 * static_cast<int64_t>(m - 1) : static_cast<int64_t>(m - 1) + matched;
    if (ms->hit || ms->steps < cost) {
        ms->steps = 0;
        ms->hit = 1;
        return 0;
    }
    ms->steps -= static_cast<int32_t>(cost);
    if (ok) *e = p + static_cast<uint64_t>(m);
    return ok;
}

/* Length of the run of bytes from p on, at most most of them, that a
 * byte-consuming leaf accepts one after another. */
static int64_t leaf_run(const rx_node *leaf, const uint8_t *t, uint64_t n, uint64_t p, int64_t most) {
    const uint8_t *s = t + p;
    int64_t run = 0;
    switch (leaf->kind) {
    case RX_CHAR:
        if (!(leaf->flags & RX_FLAG_I) || !((leaf->ch | 32) >= 'a' && (leaf->ch | 32) <= 'z')) {
            while (run < most && s[run] == leaf->ch) run++;
        } else {
            const uint8_t c = static_cast<uint8_t>(leaf->ch | 32);
            while (run < most && (s[run] | 32) == c) run++;
        }
        return run;
    case RX_ANY:
        if (leaf->flags & RX_FLAG_S) return most;
        {
            const void *nl = memchr(s, '\n', static_cast<size_t>(most));
            return nl != nullptr ? static_cast<const uint8_t *>(nl) - s : most;
        }
    default: {
        uint64_t next;
        while (run < most && leaf_match(leaf, t, n, p + static_cast<uint64_t>(run), &next)) run++;
        return run;
    }
    }
}

/*
 * A whole repetition of a single leaf at p (the rules of match_quant unrolled:
 * a leaf records nothing and needs no frame). Each iteration k spends one step
 * on entering the repetition and, unless the repetition ends there, one more
 * before trying the leaf. When the chain ends in a failure, the deepest
 * iteration at or above the minimum turns it into a match ending where that
 * iteration began; below the minimum the failure stands. Below the minimum an
 * iteration that consumes nothing (an anchor or boundary) completes the
 * repetition there, unless the minimum exceeds the maximum.
 */
static int quant_leaf(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                      uint64_t *out) {
    const rx_node *leaf = node->child;
    const int32_t min = node->min, max = node->max;
    int32_t k = 0;
    uint64_t prev = p, e = p;
    int r;
    /*
     * Iterations that nothing can interrupt are taken in one go: while the
     * leaf keeps matching a byte, at least two steps are left per iteration
     * and the bounds allow another, each iteration just spends its two steps.
     */
    if (!ms->hit && (leaf->kind == RX_CHAR || leaf->kind == RX_ANY || leaf->kind == RX_CLASS)) {
        int64_t most = ms->steps / 2;
        if (max >= 0 && max < most) most = max;
        if (node->lazy && min < most) most = min;
        if (static_cast<int64_t>(n - p) < most) most = static_cast<int64_t>(n - p);
        int64_t run = most > 0 ? leaf_run(leaf, t, n, p, most) : 0;
        if (run > 0) {
            ms->steps -= static_cast<int32_t>(2 * run);
            k = static_cast<int32_t>(run);
            prev = p + static_cast<uint64_t>(run) - 1;
            p += static_cast<uint64_t>(run);
        }
    }
    for (;;) {
        if (rx_spend_step(ms) != 0) {
            r = 0;
            break;
        }
        if (max >= 0 && k > max) {
            r = 0;
            break;
        }
        uint64_t next;
        if (k >= min) {
            if (node->lazy || (max >= 0 && k >= max)) {
                r = 1;
                e = p;
                break;
            }
            if (rx_spend_step(ms) != 0 || !leaf_match(leaf, t, n, p, &next) || next == p) {
                r = 1;
                e = p;
                break;
            }
        } else {
            if ((max >= 0 && k >= max) || rx_spend_step(ms) != 0 || !leaf_match(leaf, t, n, p, &next)) {
                r = 0;
                break;
            }
            if (next == p) {
                r = !(max >= 0 && min > max);
                e = p;
                break;
            }
        }
        prev = p;
        p = next;
        k++;
    }
    if (!r && k > 0 && k - 1 >= min) {
        r = 1;
        e = prev;
    }
    if (r) *out = e;
    return r;
}

/* Charges c steps at once, the steps a chain of c sequence or alternation
 * nodes spends on the way down to its first operand: -1 (with the flag set,
 * as a refused step leaves it) when fewer are left. */
static inline int charge_steps(mstate *ms, int64_t c) {
    if (ms->hit) return -1;
    if (ms->steps < c) {
        ms->steps = 0;
        ms->hit = 1;
        return -1;
    }
    ms->steps -= static_cast<int32_t>(c);
    return 0;
}

/* Leaves, literal chains and repetitions of a single leaf match without
 * frames or captures. */
static inline int is_simple(const rx_node *node) {
    return is_leaf(node) || (node->kind == RX_REPEAT && is_leaf(node->child)) ||
           (node->kind == RX_CONCAT && node->lit != nullptr);
}

static inline int simple_match(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                               uint64_t *e) {
    if (node->kind == RX_REPEAT) return quant_leaf(ms, node, t, n, p, e);
    if (node->kind == RX_CONCAT) return literal_match(ms, node, t, n, p, e);
    return leaf_match(node, t, n, p, e);
}

/*
 * Matches node at p: 1 with the end in *out, 0 when it does not match, -1
 * when the work stack or the undo log could not grow (the search is then
 * abandoned). This is the recursive matcher run on an explicit stack:
 *
 *   sequence     mark; step, first operand; step, second operand from its
 *                end; on any failure take back to mark and fail;
 *   alternation  mark; step, first operand; else take back, step, second;
 *   group        mark; step, inside; on success record the group;
 *   repetition   match_quant below, one frame per iteration in progress.
 *
 * A refused step counts as a failure of the node that needed it. Frames are
 * skipped where the recursive call would be the node's last act (a second
 * operand with nothing to take back, an alternation's second operand, a
 * group when no record is active).
 */
static int match_node(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                      uint64_t *out) {
    mframe *stack = ms->work;
    size_t cap = ms->workcap, sp = 0;
    int ok = 0;
    uint64_t e = p;
    int32_t k = 0;     /* repetition: iterations matched */
    int32_t i = 0;     /* sequence, alternation: the operand under way */
    int32_t mark = 0;  /* sequence, alternation: undo log length at entry */

#define RX_PUSH(NODE, POS, MARK, K, TAG)                        \
    do {                                                        \
        if (sp == cap) {                                        \
            stack = grow_work(ms);                              \
            if (stack == nullptr) goto out_of_memory;           \
            cap = ms->workcap;                                  \
        }                                                       \
        stack[sp].node = (NODE);                                \
        stack[sp].pos = (POS);                                  \
        stack[sp].mark = (MARK);                                \
        stack[sp].k = (K);                                      \
        stack[sp].tag = (TAG);                                  \
        sp++;                                                   \
    } while (0)

descend:
    switch (node->kind) {
    case RX_CONCAT:
        if (node->lit != nullptr) {
            ok = literal_match(ms, node, t, n, p, &e);
            goto ret;
        }
        if (charge_steps(ms, node->flat_len - 1) != 0) {
            ok = 0;
            goto ret;
        }
        i = 0;
        mark = ms->logn;
        goto seq_item;
    case RX_ALT:
        if (charge_steps(ms, node->flat_len - 1) != 0) {
            ok = 0;
            goto ret;
        }
        if (node->pick != nullptr) {
            /* the first alternative that takes the byte, after a step for
             * each one before it; all of them fail at the end of the text */
            i = p < n ? node->pick[t[p]] : -1;
            ok = charge_steps(ms, i >= 0 ? i : node->flat_len - 1) == 0 && i >= 0;
            e = p + 1;
            goto ret;
        }
        i = 0;
        mark = ms->logn;
        goto alt_item;
    case RX_GROUP: {
        if (rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        if (ms->caps == nullptr || node->group < 1 || node->group > RX_MAX_GROUPS) {
            node = node->child;
            goto descend;
        }
        RX_PUSH(node, p, ms->logn, 0, F_GROUP);
        node = node->child;
        goto descend;
    }
    case RX_REPEAT:
        if (is_leaf(node->child)) {
            ok = quant_leaf(ms, node, t, n, p, &e);
            goto ret;
        }
        k = 0;
        goto quant_enter;
    default:
        ok = leaf_match(node, t, n, p, &e);
        goto ret;
    }

    /*
     * Sequence (node) from item i on, at p, recordings since mark: a step
     * before each item after the first; simple items in place, others in a
     * frame (none for the last when nothing needs taking back).
     */
seq_item:
    for (;;) {
        const rx_node *item = node->flat[i];
        if (i > 0 && rx_spend_step(ms) != 0) {
            caps_undo_to(ms, mark);
            ok = 0;
            goto ret;
        }
        if (!is_simple(item)) break;
        uint64_t m;
        if (!simple_match(ms, item, t, n, p, &m)) {
            caps_undo_to(ms, mark);
            ok = 0;
            goto ret;
        }
        p = m;
        if (++i == node->flat_len) {
            ok = 1;
            e = p;
            goto ret;
        }
    }
    if (i + 1 < node->flat_len || (ms->caps != nullptr && ms->logn != mark))
        RX_PUSH(node, p, mark, i, F_SEQ);
    node = node->flat[i];
    goto descend;

    /*
     * Alternation (node) from alternative i on, at p: a step before each
     * alternative after the first; the first that matches answers.
     */
alt_item:
    for (;;) {
        const rx_node *alt = node->flat[i];
        if (i > 0 && rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        if (!is_simple(alt)) break;
        uint64_t m;
        if (simple_match(ms, alt, t, n, p, &m)) {
            ok = 1;
            e = m;
            goto ret;
        }
        if (++i == node->flat_len) {
            ok = 0;
            goto ret;
        }
    }
    if (i + 1 < node->flat_len) RX_PUSH(node, p, mark, i, F_ALTS);
    node = node->flat[i];
    goto descend;

    /*
     * match_quant(node, p, k): k iterations are matched already.
     *   step on entry; fail above the maximum;
     *   at or above the minimum: lazy or at the maximum ends here; otherwise
     *     step, try an iteration; an iteration that fails or consumes nothing
     *     ends the repetition here (its recordings taken back); else continue
     *     with iteration k + 1, and if that fails end here;
     *   below the minimum: at the maximum fail; otherwise step, try an
     *     iteration; failure fails; an iteration that consumes nothing
     *     completes the repetition here, keeping its recordings (unless the
     *     minimum exceeds the maximum); else continue with k + 1.
     *
     * Iteration k + 1 at or above the minimum can fail only when its entry
     * step is refused, and after a refusal the search fails whatever the
     * repetition answers. So from the minimum on an iteration that matched
     * keeps no frame: the next one runs in its place, and a repetition over
     * a whole text holds one frame, not one per iteration.
     */
quant_enter: {
        int32_t at_entry = ms->logn;
        if (rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        if (node->max >= 0 && k > node->max) {
            ok = 0;
            goto ret;
        }
        if (k >= node->min) {
            if (node->lazy || (node->max >= 0 && k >= node->max)) {
                ok = 1;
                e = p;
                goto ret;
            }
        } else if (node->max >= 0 && k >= node->max) {
            ok = 0;
            goto ret;
        }
        if (rx_spend_step(ms) != 0) {
            ok = k >= node->min;
            e = p;
            goto ret;
        }
        RX_PUSH(node, p, at_entry, k, F_QUANT_CHILD);
        node = node->child;
        goto descend;
    }

ret:
    while (sp > 0) {
        mframe *f = &stack[sp - 1];
        switch (f->tag) {
        case F_SEQ:
            if (!ok) {
                caps_undo_to(ms, f->mark);
                sp--;
                continue;
            }
            node = f->node;
            i = f->k + 1;
            mark = f->mark;
            p = e;
            sp--;
            if (i == node->flat_len) continue;
            goto seq_item;
        case F_ALTS:
            sp--;
            if (ok) continue;
            caps_undo_to(ms, f->mark);
            node = f->node;
            i = f->k + 1;
            mark = f->mark;
            p = f->pos;
            goto alt_item;
        case F_GROUP:
            if (ok) {
                if (record_group(ms, f->node->group, f->pos, e) != 0) goto out_of_memory;
            } else {
                caps_undo_to(ms, f->mark);
            }
            sp--;
            continue;
        case F_QUANT_CHILD: {
            const rx_node *q = f->node;
            uint64_t at = f->pos;
            if (f->k >= q->min) {
                if (!ok || e == at) {
                    caps_undo_to(ms, f->mark);
                    ok = 1;
                    e = at;
                    sp--;
                    continue;
                }
                sp--; /* from the minimum on: the next iteration in its place */
            } else {
                if (!ok) {
                    caps_undo_to(ms, f->mark);
                    sp--;
                    continue;
                }
                if (e == at) {
                    if (q->max >= 0 && q->min > q->max) {
                        caps_undo_to(ms, f->mark);
                        ok = 0;
                    }
                    sp--;
                    continue;
                }
                f->tag = F_QUANT_NEXT;
            }
            node = q;
            p = e;
            k = f->k + 1;
            goto quant_enter;
        }
        default: /* F_QUANT_NEXT */
            if (!ok) {
                caps_undo_to(ms, f->mark);
                if (f->k >= f->node->min) {
                    ok = 1;
                    e = f->pos;
                }
            }
            sp--;
            continue;
        }
    }
#undef RX_PUSH
    if (ok) *out = e;
    return ok;

out_of_memory:
    ms->oom = 1;
    return -1;
}

/* ========================================================================== */
/* Search                                                                      */
/* ========================================================================== */

/*
 * Skipping hopeless start positions. When every way into the tree first
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
        case RX_CONCAT:
            node = node->left;
            continue;
        case RX_GROUP:
            node = node->child;
            continue;
        case RX_CHAR:
        case RX_ANY:
        case RX_CLASS:
            for (unsigned b = 0; b < 256; b++) {
                uint8_t byte = static_cast<uint8_t>(b);
                uint64_t e;
                if (leaf_match(node, &byte, 1, 0, &e)) acc[b] = 1;
            }
            return 1;
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
        default:
            return 0;
        }
    }
}

static int analyse_first(const rx_node *root, rx_first_bytes *fb) {
    memset(fb->accept, 0, sizeof fb->accept);
    fb->guard = nullptr;
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
    fb->single = -1;
    for (int b = 0; b < 256; b++) {
        if (fb->accept[b]) {
            count++;
            fb->single = b;
        }
    }
    if (count != 1) fb->single = -1;
    return count < 256 || fb->guard != nullptr;
}

/* First position at or after p (below n) whose byte may begin a match; n
 * when there is none. */
static uint64_t next_candidate(const rx_first_bytes *fb, const uint8_t *t, uint64_t n, uint64_t p) {
    if (fb->single >= 0) {
        const void *hit = memchr(t + p, fb->single, static_cast<size_t>(n - p));
        return hit != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) : n;
    }
    while (p < n && !fb->accept[t[p]]) p++;
    return p;
}

/* First position q at or after p where the bytes of the literal chain lit
 * begin (letters folded under the case flag), or n + 1 when there is none. */
static uint64_t next_literal(const rx_node *lit, const uint8_t *t, uint64_t n, uint64_t p) {
    const uint64_t m = static_cast<uint64_t>(lit->lit_len);
    if (n < m || p > n - m) return n + 1;
    if (!(lit->right->flags & RX_FLAG_I)) {
        const void *hit = rx_find_bytes(t + p, static_cast<size_t>(n - p), lit->lit, static_cast<size_t>(m));
        return hit != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(hit) - t) : n + 1;
    }
    /* both cases of the first byte, each found with memchr */
    const uint8_t lower = fold_byte(lit->lit[0]);
    const uint8_t upper = lower >= 'a' && lower <= 'z' ? static_cast<uint8_t>(lower - 32) : lower;
    const uint64_t last = n - m;
    uint64_t next_lower = p, next_upper = upper == lower ? n + 1 : p;
    for (;;) {
        if (next_lower <= last && t[next_lower] != lower) {
            const void *h = memchr(t + next_lower, lower, static_cast<size_t>(last - next_lower + 1));
            next_lower = h != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(h) - t) : n + 1;
        }
        if (next_upper <= last && t[next_upper] != upper) {
            const void *h = memchr(t + next_upper, upper, static_cast<size_t>(last - next_upper + 1));
            next_upper = h != nullptr ? static_cast<uint64_t>(static_cast<const uint8_t *>(h) - t) : n + 1;
        }
        uint64_t q = next_lower < next_upper ? next_lower : next_upper;
        if (q > last) return n + 1;
        int32_t matched;
        if (same_bytes(t + q, lit->lit, lit->lit_len, 1, &matched)) return q;
        if (q == next_lower) next_lower++;
        if (q == next_upper) next_upper++;
    }
}

/* Charges one step for each position from p on where the required literal
 * does not begin, and returns the first where it does (n + 1 when none is
 * left). When the budget runs out on the way, sets the flag as a refused
 * step would and returns n + 1. */
static uint64_t skip_to_literal(mstate *ms, const rx_node *lit, const uint8_t *t, uint64_t n, uint64_t p) {
    uint64_t q = next_literal(lit, t, n, p);
    uint64_t hopeless = q - p;
    if (hopeless > static_cast<uint64_t>(ms->steps)) {
        ms->steps = 0;
        ms->hit = 1;
        return n + 1;
    }
    ms->steps -= static_cast<int32_t>(hopeless);
    return q;
}

/* 1 when an attempt at p must really be made (the guard holds there and the
 * byte may begin the rest). */
static int guard_admits(const rx_first_bytes *fb, const uint8_t *t, uint64_t n, uint64_t p) {
    uint64_t e;
    return p < n && fb->accept[t[p]] && leaf_match(fb->guard, t, n, p, &e);
}

/*
 * Rules out the hopeless positions from p on, one step each, and returns the
 * first position that must really be tried (n + 1 when none is left). When
 * the budget runs out on the way, sets the flag as a refused step would and
 * returns n + 1.
 */
static uint64_t skip_hopeless(mstate *ms, const rx_first_bytes *fb, const uint8_t *t, uint64_t n, uint64_t p) {
    uint64_t q;
    if (fb->guard == nullptr) {
        q = next_candidate(fb, t, n, p);
        if (q == n) q = n + 1; /* the end of the text never begins a match here */
    } else {
        q = p;
        while (q <= n && !guard_admits(fb, t, n, q)) q = q < n ? next_candidate(fb, t, n, q + 1) : n + 1;
    }
    uint64_t hopeless = q - p;
    if (hopeless > static_cast<uint64_t>(ms->steps)) {
        ms->steps = 0;
        ms->hit = 1;
        return n + 1;
    }
    ms->steps -= static_cast<int32_t>(hopeless);
    return q;
}

int32_t rx_engine_budget(uint64_t n, uint64_t nodes) {
    const uint64_t room = RX_STEPS_MAX - RX_STEPS_BASE;
    uint64_t per_byte = RX_STEPS_PER_BYTE + nodes;
    if (nodes > room || (n != 0 && per_byte > room / n)) return RX_STEPS_MAX;
    return static_cast<int32_t>(per_byte * n + RX_STEPS_BASE);
}

/* Loads the thread's matcher blocks and the call's budget into ms. */
static void load_state(mstate *ms, const rx_prog *prog, rx_caps *caps) {
    ms->steps = prog->steps_left;
    ms->hit = prog->budget_hit;
    ms->oom = 0;
    ms->caps = caps;
    ms->caps_clean = 0;
    ms->log = g_caplog;
    ms->logn = g_caplog_n;
    ms->logcap = g_caplog_cap;
    ms->work = g_work;
    ms->workcap = g_work_cap;
}

/* Stores what a search leaves behind: the budget into the prog and the
 * thread's last-search state, and releases blocks one search grew huge so
 * that a single big pattern does not pin memory for the thread's life. */
static void store_state(const mstate *ms, rx_prog *prog) {
    prog->steps_left = ms->steps;
    prog->budget_hit = ms->hit;
    g_steps_left = ms->steps;
    g_budget_hit = ms->hit;
    g_out_of_memory = ms->oom;
    g_caplog_n = ms->logn;
    if (g_work_cap > RX_WORK_KEEP) {
        free(g_work);
        g_work = nullptr;
        g_work_cap = 0;
    }
    if (g_caplog_cap > RX_CAPLOG_KEEP) {
        free(g_caplog);
        g_caplog = nullptr;
        g_caplog_cap = 0;
        g_caplog_n = 0;
    }
}

/*
 * Tries the start positions from start on: 1 with the first match's span, 0
 * when there is none, -1 when a step was refused (or memory ran out). The
 * analysis of hopeless positions is made only once a couple of attempts have
 * failed, so that searches that match at once do not pay for it, and the
 * prog keeps it for its later searches.
 */
static int scan_positions(mstate *ms, rx_prog *prog, const uint8_t *t, uint64_t n, uint64_t start,
                          uint64_t *found, uint64_t *end) {
    int skip = prog->first_state > 0, failures = 0;
    uint64_t p = start;
    while (p <= n) {
        if (prog->prefix != nullptr) {
            p = skip_to_literal(ms, prog->prefix, t, n, p);
            if (ms->hit) return -1;
            if (p > n) break;
        } else if (skip) {
            p = skip_hopeless(ms, &prog->first, t, n, p);
            if (ms->hit) return -1;
            if (p > n) break;
        }
        caps_reset(ms);
        if (rx_spend_step(ms) == 0) {
            int m = match_node(ms, prog->root, t, n, p, end);
            if (m < 0) return -1;
            if (m > 0) {
                *found = p;
                return ms->hit ? -1 : 1;
            }
        }
        if (ms->hit) return -1;
        if (!skip && prog->prefix == nullptr && ++failures == 2 && n - p >= 8) {
            if (prog->first_state == 0) prog->first_state = analyse_first(prog->root, &prog->first) ? 1 : -1;
            skip = prog->first_state > 0;
        }
        p++;
    }
    return 0;
}

/*
 * One search of a prepared pattern, drawing on the prog's budget: 1 with the
 * match's span, 0 none, -1 when a step was refused in this call (or memory
 * ran out). A match found while some step of the call was refused is no
 * match: the search fails instead. With the prog anchored only offset 0 is
 * tried. The active record is installed for the call and the previous one
 * put back on every way out.
 */
static int run_search(rx_prog *prog, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                      uint64_t *out_end, rx_caps *caps) {
    const uint8_t *t = reinterpret_cast<const uint8_t *>(text);
    if (!prog->armed) rx_engine_arm(prog, n);
    mstate ms;
    load_state(&ms, prog, caps);
    rx_caps *saved = g_caps;
    g_caps = caps;
    caps_reset(&ms);

    int result = 0;
    uint64_t end = 0, found = 0;
    if (ms.hit) {
        result = -1;
    } else if (prog->anchored) {
        if (start == 0 && rx_spend_step(&ms) == 0) {
            int m = match_node(&ms, prog->root, t, n, 0, &end);
            if (m < 0)
                result = -1;
            else if (m > 0)
                result = ms.hit ? -1 : 1;
        }
        if (result == 0 && ms.hit) result = -1;
    } else {
        result = scan_positions(&ms, prog, t, n, start, &found, &end);
    }
    g_caps = saved;
    store_state(&ms, prog);
    if (ms.oom) result = RX_OUT_OF_MEMORY;
    if (result == 1) {
        *out_start = found;
        *out_end = end;
    }
    return result;
}

/* Parse, arm a budget of its own, search, free. The error buffer receives
 * the parser's message, or the reason of a failed search. */
static int nfa_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                    uint64_t *out_end, rx_caps *caps, char *err) {
    rx_prog prog;
    if (rx_engine_prepare(pattern, &prog, err, RX_SEARCH_ERR_SIZE) != 0) return -1;
    int r = run_search(&prog, text, n, start, out_start, out_end, caps);
    rx_engine_release(&prog);
    if (r < 0) snprintf(err, RX_SEARCH_ERR_SIZE, "%s", rx_engine_last_error());
    return r;
}

int rx_engine_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                   uint64_t *out_end) {
    char err[RX_SEARCH_ERR_SIZE];
    return nfa_find(pattern, text, n, start, out_start, out_end, nullptr, err);
}

int rx_engine_find_caps(const char *pattern, const char *text, uint64_t n, uint64_t start,
                        uint64_t *out_start, uint64_t *out_end, rx_caps *caps) {
    char err[RX_SEARCH_ERR_SIZE];
    return nfa_find(pattern, text, n, start, out_start, out_end, caps, err);
}

int rx_nfa_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                uint64_t *out_end) {
    char err[RX_SEARCH_ERR_SIZE];
    return nfa_find(pattern, text, n, start, out_start, out_end, nullptr, err);
}

int rx_nfa_find_caps(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                     uint64_t *out_end, rx_caps *caps) {
    char err[RX_SEARCH_ERR_SIZE];
    return nfa_find(pattern, text, n, start, out_start, out_end, caps, err);
}

const char *rx_engine_last_error(void) {
    if (g_out_of_memory) return "out of memory";
    if (g_budget_hit) return "backtracking limit reached";
    return "match engine error";
}

/* A growable stack of nodes for the walks below; 0, or -1 when memory ran
 * out. */
typedef struct node_stack {
    rx_node **items;
    size_t top;
    size_t cap;
} node_stack;

static int node_stack_push(node_stack *st, rx_node *node) {
    if (st->top == st->cap) {
        size_t cap = st->cap > 0 ? st->cap * 2 : 64;
        rx_node **grown = static_cast<rx_node **>(rx_realloc(st->items, cap * sizeof *grown));
        if (grown == nullptr) return -1;
        st->items = grown;
        st->cap = cap;
    }
    st->items[st->top++] = node;
    return 0;
}

/* Number of operands of the chain of nodes of node's kind down its left
 * spine; a literal chain on the spine of a sequence is one operand. */
static int32_t chain_length(const rx_node *node) {
    int32_t k = 1;
    const int32_t kind = node->kind;
    while (node->kind == kind && !(kind == RX_CONCAT && node->lit_len >= 2) && k < RX_COUNT_MAX) {
        k++;
        node = node->left;
    }
    return k;
}

static int is_byte_leaf(const rx_node *node) {
    return node->kind == RX_CHAR || node->kind == RX_ANY || node->kind == RX_CLASS;
}

static int all_byte_leaves(const rx_node *alt) {
    for (int32_t i = 0; i < alt->flat_len; i++)
        if (!is_byte_leaf(alt->flat[i])) return 0;
    return 1;
}

/* The byte tables of the alternations in the list, in one block. 0, or -1
 * when memory ran out. */
static int fill_picks(rx_prog *prog, const node_stack *alts) {
    prog->picks = static_cast<int32_t *>(rx_malloc(alts->top * 256 * sizeof(int32_t)));
    if (prog->picks == nullptr) return -1;
    for (size_t a = 0; a < alts->top; a++) {
        rx_node *alt = alts->items[a];
        int32_t *table = prog->picks + a * 256;
        for (unsigned b = 0; b < 256; b++) {
            const uint8_t byte = static_cast<uint8_t>(b);
            table[b] = -1;
            for (int32_t i = 0; i < alt->flat_len && table[b] < 0; i++) {
                uint64_t e;
                if (leaf_match(alt->flat[i], &byte, 1, 0, &e)) table[b] = i;
            }
        }
        alt->pick = table;
    }
    return 0;
}

/*
 * The compiled form of the tree: the bytes of every literal chain and the
 * operand list of every chain of sequences and of alternations, in two
 * blocks owned by the prog (a tree of `nodes` records has at most that many
 * of either). The walk visits only the tops of chains and keeps its pending
 * nodes on a heap stack, so it does not recurse however deep the tree is.
 * 0, or -1 when memory ran out.
 */
static int compile_tree(rx_prog *prog, uint64_t nodes) {
    prog->lits = static_cast<uint8_t *>(rx_malloc(static_cast<size_t>(nodes)));
    prog->flats = static_cast<rx_node **>(rx_malloc(static_cast<size_t>(nodes) * sizeof(rx_node *)));
    node_stack st = {nullptr, 0, 0};
    if (prog->lits == nullptr || prog->flats == nullptr || node_stack_push(&st, prog->root) != 0) {
        free(st.items);
        return -1;
    }
    size_t lits_used = 0, flats_used = 0;
    int failed = 0;
    node_stack picked = {nullptr, 0, 0}; /* alternations that get a byte table */
    while (st.top > 0 && !failed) {
        rx_node *node = st.items[--st.top];
        if (node->kind == RX_CONCAT && node->lit_len >= 2) {
            /* the chain's bytes, last first, down its left spine */
            uint8_t *bytes = prog->lits + lits_used;
            const rx_node *at = node;
            for (int32_t i = node->lit_len - 1; i > 0; i--, at = at->left) bytes[i] = at->right->ch;
            bytes[0] = at->ch;
            node->lit = bytes;
            lits_used += static_cast<size_t>(node->lit_len);
        } else if (node->kind == RX_CONCAT || node->kind == RX_ALT) {
            int32_t k = chain_length(node);
            rx_node **ops = prog->flats + flats_used;
            rx_node *at = node;
            for (int32_t i = k - 1; i > 0; i--, at = at->left) ops[i] = at->right;
            ops[0] = at;
            node->flat = ops;
            node->flat_len = k;
            flats_used += static_cast<size_t>(k);
            if (node->kind == RX_ALT && all_byte_leaves(node) && node_stack_push(&picked, node) != 0) failed = 1;
            for (int32_t i = k - 1; i >= 0 && !failed; i--) failed = node_stack_push(&st, ops[i]) != 0;
        } else if (node->child != nullptr) {
            failed = node_stack_push(&st, node->child) != 0;
        }
    }
    free(st.items);
    if (!failed && picked.top > 0) failed = fill_picks(prog, &picked);
    free(picked.items);
    return failed ? -1 : 0;
}

/* The literal chain that begins the first item of the first item ... of
 * the compiled tree, through groups: every match begins with its bytes.
 * Null when there is none. */
static const rx_node *literal_prefix(const rx_node *node) {
    for (int hops = 0; hops < 4096; hops++) {
        if (node->kind == RX_CONCAT && node->lit != nullptr) return node;
        if (node->kind == RX_CONCAT)
            node = node->flat[0];
        else if (node->kind == RX_GROUP)
            node = node->child;
        else
            return nullptr;
    }
    return nullptr;
}

int rx_engine_prepare(const char *pattern, rx_prog *prog, char *err, uint64_t err_size) {
    if (prog == nullptr) return -1;
    memset(prog, 0, sizeof *prog);
    if (pattern == nullptr) return -1;
    parse_info info;
    prog->root = parse_tree(pattern, err, err_size, &info);
    if (prog->root == nullptr) return info.out_of_memory ? RX_OUT_OF_MEMORY : -1;
    prog->anchored = info.anchored;
    prog->nodes = info.nodes;
    if (compile_tree(prog, info.nodes) != 0) {
        rx_engine_release(prog);
        put_message(err, err_size, "parse error", 0);
        return RX_OUT_OF_MEMORY;
    }
    prog->prefix = literal_prefix(prog->root);
    return 0;
}

void rx_engine_arm(rx_prog *prog, uint64_t n) {
    prog->steps_left = rx_engine_budget(n, prog->nodes);
    prog->budget_hit = 0;
    prog->armed = 1;
}

void rx_engine_release(rx_prog *prog) {
    if (prog == nullptr) return;
    node_free(prog->root);
    prog->root = nullptr;
    free(prog->lits);
    prog->lits = nullptr;
    free(prog->flats);
    prog->flats = nullptr;
    free(prog->picks);
    prog->picks = nullptr;
    prog->prefix = nullptr;
}

int rx_engine_find_prog(rx_prog *prog, const char *text, uint64_t n, uint64_t start,
                        uint64_t *out_start, uint64_t *out_end, rx_caps *caps) {
    if (prog == nullptr || prog->root == nullptr) return -1;
    return run_search(prog, text, n, start, out_start, out_end, caps);
}

int32_t rx_engine_steps_left(void) { return g_steps_left; }
