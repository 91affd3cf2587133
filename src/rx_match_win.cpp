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
 * g_depth, g_budget_hit, g_caps, g_caplog ...). A search loads them into a
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
} rx_parser;

static rx_node *new_node(int32_t kind) {
    rx_node *node = static_cast<rx_node *>(rx_calloc(1, sizeof(rx_node)));
    if (node != nullptr) node->kind = kind;
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
static rx_node *empty_sequence(void) {
    rx_node *rep = new_node(RX_REPEAT);
    if (rep == nullptr) return nullptr;
    rep->child = new_node(RX_CHAR);
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
    rx_node *node = new_node(RX_CLASS);
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
        rx_node *node = new_node(RX_CHAR);
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
        node = new_node(RX_CLASS);
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
        node = new_node(RX_WORDB);
        if (node == nullptr) return nullptr;
        node->not_boundary = e == 'B' ? 1 : 0;
        return node;
    default:
        node = new_node(RX_CHAR);
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
    rx_node *rep = new_node(RX_REPEAT);
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
static int append_item(rx_node **seq, rx_node *item) {
    if (*seq == nullptr) {
        *seq = item;
        return 0;
    }
    rx_node *cat = new_node(RX_CONCAT);
    if (cat == nullptr) {
        node_free(item);
        return -1;
    }
    cat->left = *seq;
    cat->right = item;
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
            item = new_node(RX_ANY);
            if (item != nullptr) item->flags = p->flags & RX_FLAG_S;
            break;
        case '^':
        case '$':
            p->pos++;
            quantifiable = 0;
            item = new_node(RX_ANCHOR);
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
            item = new_node(RX_CHAR);
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
        if (append_item(seq, item) != 0) return STOP_ERR;
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
            seq = empty_sequence();
            if (seq == nullptr) goto fail;
        }
        if (frames[top].alt != nullptr) {
            rx_node *alt = new_node(RX_ALT);
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
            rx_node *node = new_node(RX_GROUP);
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
        if (append_item(&frames[top].seq, inside) != 0) goto fail;
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

/* parse_pattern, also telling whether only offset 0 can ever match: the
 * pattern's first byte is "^" and so is the first byte of every other
 * top-level alternative. */
static rx_node *parse_tree(const char *pattern, char *err, uint64_t err_size, int *anchored) {
    rx_parser p;
    p.pos = pattern;
    p.end = pattern + strlen(pattern);
    p.err[0] = '\0';
    p.ngroups = 0;
    p.flags = 0;
    p.pos += rx_parse_leading_flags(pattern, &p.flags);

    int bars_caret = 0;
    rx_node *root = parse_alt(&p, &bars_caret);
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
    if (anchored != nullptr) *anchored = pattern[0] == '^' && bars_caret;
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
    F_CONCAT_LEFT,   /* a sequence's first operand */
    F_CONCAT_RIGHT,  /* its second operand, recordings to take back on failure */
    F_ALT_LEFT,      /* an alternation's first operand */
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
    int32_t k;       /* repetition: iterations matched before this one */
    int32_t tag;     /* F_* */
} mframe;

/* Per-thread state. Plain values and pointers (no thread-local arrays): the
 * undo log and the work stack are heap blocks. */
static RX_THREAD_LOCAL int32_t g_steps_left;  /* steps the search may still spend */
static RX_THREAD_LOCAL int32_t g_depth;       /* repetition iterations in progress */
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
    int32_t depth;
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
 * Spends one step: refused (-1) once any step was refused in this search,
 * when the budget is used up, or while more than RX_DEPTH_LIMIT repetition
 * iterations are in progress; the first refusal sets the flag for good.
 */
static inline int rx_spend_step(mstate *ms) {
    if (ms->hit) return -1;
    if (ms->steps > 0 && ms->depth <= RX_DEPTH_LIMIT) {
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

/*
 * A whole repetition of a single leaf at p (the rules of match_quant unrolled:
 * a leaf records nothing and needs no frame). Each iteration k spends one step
 * on entering the repetition and, unless the repetition ends there, one more
 * with the depth raised before trying the leaf. When the chain ends in a
 * failure, the deepest iteration at or above the minimum turns it into a match
 * ending where that iteration began; below the minimum the failure stands.
 * Below the minimum an iteration that consumes nothing (an anchor or boundary)
 * completes the repetition there, unless the minimum exceeds the maximum.
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
     * leaf keeps matching a byte, at least two steps are left per iteration,
     * the depth stays within the limit and the bounds allow another, each
     * iteration just spends its two steps and raises the depth by one.
     */
    if (!ms->hit && (leaf->kind == RX_CHAR || leaf->kind == RX_ANY || leaf->kind == RX_CLASS)) {
        int64_t most = ms->steps / 2;
        if (RX_DEPTH_LIMIT - ms->depth < most) most = RX_DEPTH_LIMIT - ms->depth;
        if (max >= 0 && max < most) most = max;
        if (node->lazy && min < most) most = min;
        if (static_cast<int64_t>(n - p) < most) most = static_cast<int64_t>(n - p);
        int64_t run = 0;
        uint64_t next;
        while (run < most && leaf_match(leaf, t, n, p + static_cast<uint64_t>(run), &next)) run++;
        if (run > 0) {
            ms->steps -= static_cast<int32_t>(2 * run);
            ms->depth += static_cast<int32_t>(run);
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
        if (k >= min) {
            if (node->lazy || (max >= 0 && k >= max)) {
                r = 1;
                e = p;
                break;
            }
            ms->depth++;
            uint64_t next;
            if (rx_spend_step(ms) != 0 || !leaf_match(leaf, t, n, p, &next) || next == p) {
                ms->depth--;
                r = 1;
                e = p;
                break;
            }
            prev = p;
            p = next;
        } else {
            if (max >= 0 && k >= max) {
                r = 0;
                break;
            }
            ms->depth++;
            uint64_t next;
            if (rx_spend_step(ms) != 0 || !leaf_match(leaf, t, n, p, &next)) {
                ms->depth--;
                r = 0;
                break;
            }
            if (next == p) {
                ms->depth--;
                r = !(max >= 0 && min > max);
                e = p;
                break;
            }
            prev = p;
            p = next;
        }
        k++;
    }
    /* Iterations 0 .. k-1 are still in progress: unwind them. */
    ms->depth -= k;
    if (!r && k > 0 && k - 1 >= min) {
        r = 1;
        e = prev;
    }
    if (r) *out = e;
    return r;
}

/* Leaves and repetitions of a single leaf match without frames or captures. */
static inline int is_simple(const rx_node *node) {
    return is_leaf(node) || (node->kind == RX_REPEAT && is_leaf(node->child));
}

static inline int simple_match(mstate *ms, const rx_node *node, const uint8_t *t, uint64_t n, uint64_t p,
                               uint64_t *e) {
    if (node->kind == RX_REPEAT) return quant_leaf(ms, node, t, n, p, e);
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
    int32_t k = 0;

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
    case RX_CONCAT: {
        if (rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        const rx_node *left = node->left;
        if (is_simple(left)) {
            /* Nothing recorded on the left, so the right is a tail call. */
            uint64_t m;
            if (!simple_match(ms, left, t, n, p, &m) || rx_spend_step(ms) != 0) {
                ok = 0;
                goto ret;
            }
            node = node->right;
            p = m;
            goto descend;
        }
        RX_PUSH(node, p, ms->logn, 0, F_CONCAT_LEFT);
        node = left;
        goto descend;
    }
    case RX_ALT: {
        if (rx_spend_step(ms) != 0) {
            ok = 0;
            goto ret;
        }
        const rx_node *left = node->left;
        if (is_simple(left)) {
            uint64_t m;
            if (simple_match(ms, left, t, n, p, &m)) {
                ok = 1;
                e = m;
                goto ret;
            }
            if (rx_spend_step(ms) != 0) {
                ok = 0;
                goto ret;
            }
            node = node->right;
            goto descend;
        }
        RX_PUSH(node, p, ms->logn, 0, F_ALT_LEFT);
        node = left;
        goto descend;
    }
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
     * match_quant(node, p, k): k iterations are matched already.
     *   step on entry; fail above the maximum;
     *   at or above the minimum: lazy or at the maximum ends here; otherwise
     *     raise the depth, step, try an iteration; an iteration that fails
     *     or consumes nothing ends the repetition here (its recordings taken
     *     back); else continue with iteration k + 1, and if that fails end
     *     here;
     *   below the minimum: at the maximum fail; otherwise raise the depth,
     *     step, try an iteration; failure fails; an iteration that consumes
     *     nothing completes the repetition here, keeping its recordings
     *     (unless the minimum exceeds the maximum); else continue with k + 1.
     */
quant_enter: {
        int32_t mark = ms->logn;
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
        ms->depth++;
        if (rx_spend_step(ms) != 0) {
            ms->depth--;
            ok = k >= node->min;
            e = p;
            goto ret;
        }
        RX_PUSH(node, p, mark, k, F_QUANT_CHILD);
        node = node->child;
        goto descend;
    }

ret:
    while (sp > 0) {
        mframe *f = &stack[sp - 1];
        switch (f->tag) {
        case F_CONCAT_LEFT:
            if (!ok || rx_spend_step(ms) != 0) {
                caps_undo_to(ms, f->mark);
                ok = 0;
                sp--;
                continue;
            }
            node = f->node->right;
            p = e;
            if (ms->caps == nullptr || ms->logn == f->mark)
                sp--;
            else
                f->tag = F_CONCAT_RIGHT;
            goto descend;
        case F_CONCAT_RIGHT:
            if (!ok) caps_undo_to(ms, f->mark);
            sp--;
            continue;
        case F_ALT_LEFT:
            if (ok) {
                sp--;
                continue;
            }
            caps_undo_to(ms, f->mark);
            sp--;
            if (rx_spend_step(ms) != 0) continue;
            node = f->node->right;
            p = f->pos;
            goto descend;
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
                    ms->depth--;
                    caps_undo_to(ms, f->mark);
                    ok = 1;
                    e = at;
                    sp--;
                    continue;
                }
            } else {
                if (!ok) {
                    ms->depth--;
                    caps_undo_to(ms, f->mark);
                    sp--;
                    continue;
                }
                if (e == at) {
                    ms->depth--;
                    if (q->max >= 0 && q->min > q->max) {
                        caps_undo_to(ms, f->mark);
                        ok = 0;
                    }
                    sp--;
                    continue;
                }
            }
            f->tag = F_QUANT_NEXT;
            node = q;
            p = e;
            k = f->k + 1;
            goto quant_enter;
        }
        default: /* F_QUANT_NEXT */
            ms->depth--;
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
 * whose byte no such leaf accepts, or at the end of the text, fails after a
 * fixed number of steps with nothing else changed. Such positions are then
 * charged that cost without being tried.
 *
 * One more shape is common enough to deserve it: a sequence that begins with
 * an anchor or a word boundary (the guard), as in \bword\b. An attempt then
 * fails with one cost where the guard fails, and with a larger one where the
 * guard holds but the byte cannot begin the rest.
 *
 * The analysis walks at most a few thousand nodes and gives up on anything
 * else. The budget runs out inside a skipped attempt exactly when fewer
 * steps are left than it costs; the search then fails as the attempt would.
 */
#define RX_FIRST_VISITS 4096
#define RX_FIRST_LEVELS 32

/* Adds the first bytes of node to acc and the steps its failure spends to
 * *cost; 0 when node may begin otherwise (or the walk gets too big). */
static int first_set(const rx_node *node, uint8_t *acc, int64_t *cost, int level, int *visits) {
    int64_t c = 0;
    for (;;) {
        if (++*visits > RX_FIRST_VISITS) return 0;
        switch (node->kind) {
        case RX_CONCAT:
            c++;
            node = node->left;
            continue;
        case RX_GROUP:
            c++;
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
            *cost += c;
            return 1;
        case RX_ALT: {
            if (level >= RX_FIRST_LEVELS) return 0;
            int64_t left = 0, right = 0;
            if (!first_set(node->left, acc, &left, level + 1, visits)) return 0;
            if (!first_set(node->right, acc, &right, level + 1, visits)) return 0;
            *cost += c + 1 + left + 1 + right;
            return 1;
        }
        case RX_REPEAT: {
            if (node->min < 1) return 0;
            if (node->max == 0) { /* below the minimum and at the maximum */
                *cost += c + 1;
                return 1;
            }
            if (level >= RX_FIRST_LEVELS) return 0;
            int64_t inner = 0;
            if (!first_set(node->child, acc, &inner, level + 1, visits)) return 0;
            *cost += c + 2 + inner;
            return 1;
        }
        default:
            return 0;
        }
    }
}

static int analyse_first(const rx_node *root, rx_first_bytes *fb) {
    memset(fb->accept, 0, sizeof fb->accept);
    fb->cost = 1;
    fb->guard = nullptr;
    fb->guard_cost = 0;
    int visits = 0;
    /* A guard at the bottom of the left spine of sequences and groups: the
     * spine's steps, the guard, then the sequence's step and its rest. */
    const rx_node *node = root;
    int64_t spine = 1;
    while ((node->kind == RX_CONCAT || node->kind == RX_GROUP) && visits < RX_FIRST_VISITS) {
        visits++;
        spine++;
        if (node->kind == RX_GROUP) {
            node = node->child;
            continue;
        }
        if (node->left->kind == RX_ANCHOR || node->left->kind == RX_WORDB) {
            int64_t rest = 0;
            if (!first_set(node->right, fb->accept, &rest, 0, &visits)) return 0;
            fb->guard = node->left;
            fb->cost = spine;
            fb->guard_cost = 1 + rest;
            break;
        }
        node = node->left;
    }
    if (fb->guard == nullptr) {
        visits = 0;
        if (!first_set(root, fb->accept, &fb->cost, 0, &visits)) return 0;
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

/*
 * Charges the hopeless attempts from p on and returns the first position that
 * must really be tried (n + 1 when none is left). When the budget runs out in
 * one of them, sets the flag as a refused step would and returns n + 1.
 */
static uint64_t skip_hopeless(mstate *ms, const rx_first_bytes *fb, const uint8_t *t, uint64_t n, uint64_t p) {
    if (fb->guard == nullptr) {
        uint64_t q = next_candidate(fb, t, n, p);
        if (q == n) q = n + 1; /* the end of the text never begins a match here */
        uint64_t hopeless = q - p;
        if (hopeless == 0) return p;
        uint64_t c = static_cast<uint64_t>(fb->cost);
        if (ms->steps <= 0 || hopeless > static_cast<uint64_t>(ms->steps) / c) {
            if (ms->steps > 0) ms->steps = 0;
            ms->hit = 1;
            return n + 1;
        }
        ms->steps -= static_cast<int32_t>(hopeless * c);
        return q;
    }
    for (; p <= n; p++) {
        uint64_t e;
        int64_t c = fb->cost;
        if (leaf_match(fb->guard, t, n, p, &e)) {
            if (p < n && fb->accept[t[p]]) return p;
            c += fb->guard_cost;
        }
        if (ms->steps < c) {
            if (ms->steps > 0) ms->steps = 0;
            ms->hit = 1;
            return n + 1;
        }
        ms->steps -= static_cast<int32_t>(c);
    }
    return p;
}

/* The budget of a search over n bytes: n * 8 + 1,000,000 in 32-bit
 * arithmetic, as a signed count. */
static int32_t budget_for(uint64_t n) {
    uint32_t b = static_cast<uint32_t>(n) * RX_STEPS_PER_BYTE + RX_STEPS_BASE;
    int64_t v = b;
    if (v > 0x7fffffff) v -= 0x100000000LL;
    return static_cast<int32_t>(v);
}

/*
 * One search of a parsed tree: 1 with the match's span, 0 none, -1 when the
 * budget or the depth ran out (or memory). A match found while some step of
 * the search was refused is no match: the search fails instead. With
 * anchored set only offset 0 is tried. prog, when given, keeps the analysis
 * of hopeless positions from one search of its tree to the next. The active
 * record is installed for the call and the previous one put back on every
 * way out.
 */
static int run_search(const rx_node *root, int anchored, rx_prog *prog, const char *text, uint64_t n,
                      uint64_t start, uint64_t *out_start, uint64_t *out_end, rx_caps *caps) {
    const uint8_t *t = reinterpret_cast<const uint8_t *>(text);
    mstate ms;
    ms.steps = budget_for(n);
    ms.depth = 0;
    ms.hit = 0;
    ms.oom = 0;
    ms.caps = caps;
    ms.caps_clean = 0;
    ms.log = g_caplog;
    ms.logn = g_caplog_n;
    ms.logcap = g_caplog_cap;
    ms.work = g_work;
    ms.workcap = g_work_cap;

    rx_caps *saved = g_caps;
    g_caps = caps;
    caps_reset(&ms);

    int result = 0;
    uint64_t end = 0, found = 0;
    if (anchored) {
        if (start == 0 && rx_spend_step(&ms) == 0) {
            int m = match_node(&ms, root, t, n, 0, &end);
            if (m < 0)
                result = -1;
            else if (m > 0)
                result = ms.hit ? -1 : 1;
            found = 0;
        }
        if (result == 0 && ms.hit) result = -1;
    } else {
        /* The analysis is made only once a couple of attempts have failed,
         * so that searches that match at once do not pay for it; a prog
         * keeps it for its later searches. Skipping charges exactly what the
         * skipped attempts would spend, so when it starts changes nothing
         * but the time taken. */
        rx_first_bytes local;
        const rx_first_bytes *fb = &local;
        int skip = 0, failures = 0;
        uint64_t p = start;
        while (p <= n) {
            if (skip) {
                caps_reset(&ms); /* what each skipped attempt leaves behind */
                p = skip_hopeless(&ms, fb, t, n, p);
                if (ms.hit) {
                    result = -1;
                    break;
                }
                if (p > n) break;
            }
            caps_reset(&ms);
            if (rx_spend_step(&ms) == 0) {
                int m = match_node(&ms, root, t, n, p, &end);
                if (m < 0) {
                    result = -1;
                    break;
                }
                if (m > 0) {
                    result = ms.hit ? -1 : 1;
                    found = p;
                    break;
                }
            }
            if (ms.hit) {
                result = -1;
                break;
            }
            if (++failures == 2 && n - p >= 8) {
                if (prog == nullptr) {
                    skip = analyse_first(root, &local);
                } else {
                    if (prog->first_state == 0)
                        prog->first_state = analyse_first(root, &prog->first) ? 1 : -1;
                    skip = prog->first_state > 0;
                    fb = &prog->first;
                }
            }
            p++;
        }
    }

    g_caps = saved;
    g_steps_left = ms.steps;
    g_depth = ms.depth;
    g_budget_hit = ms.hit;
    g_out_of_memory = ms.oom;
    g_caplog_n = ms.logn;
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
    if (result == 1) {
        *out_start = found;
        *out_end = end;
    }
    return result;
}

/* Parse, search, free. The error buffer receives the parser's message, or
 * the reason of a failed search. */
static int nfa_find(const char *pattern, const char *text, uint64_t n, uint64_t start, uint64_t *out_start,
                    uint64_t *out_end, rx_caps *caps, char *err) {
    int anchored = 0;
    rx_node *root = pattern != nullptr ? parse_tree(pattern, err, RX_SEARCH_ERR_SIZE, &anchored) : nullptr;
    if (root == nullptr) return -1;
    int r = run_search(root, anchored, nullptr, text, n, start, out_start, out_end, caps);
    node_free(root);
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

int rx_engine_prepare(const char *pattern, rx_prog *prog, char *err, uint64_t err_size) {
    if (prog == nullptr || pattern == nullptr) return -1;
    int anchored = 0;
    prog->root = parse_tree(pattern, err, err_size, &anchored);
    prog->anchored = prog->root != nullptr ? anchored : 0;
    prog->first_state = 0;
    return prog->root != nullptr ? 0 : -1;
}

void rx_engine_release(rx_prog *prog) {
    if (prog == nullptr) return;
    node_free(prog->root);
    prog->root = nullptr;
}

int rx_engine_find_prog(rx_prog *prog, const char *text, uint64_t n, uint64_t start,
                        uint64_t *out_start, uint64_t *out_end, rx_caps *caps) {
    if (prog == nullptr || prog->root == nullptr) return -1;
    return run_search(prog->root, prog->anchored, prog, text, n, start, out_start, out_end, caps);
}

int32_t rx_engine_steps_left(void) { return g_steps_left; }
