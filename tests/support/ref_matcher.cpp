/*
 * Reference matcher for the tests: a direct recursive reading of the
 * matching rules, kept simple on purpose so that it can be checked by eye
 * and used as the oracle of the differential test (unit_engine_diff.cpp).
 * Speed and stack use do not matter here; exact agreement on results,
 * spans, captures, refusals and steps spent does.
 */
#include "ref_matcher.h"

#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <pthread.h>
#endif

/* ---- budget ---------------------------------------------------------------
 * With a budget, a step is granted while budget is left; the first refusal
 * sets hit, and from then on every step of the call is refused without
 * touching the budget. Without one, every step is granted and counted, up
 * to the give-up mark. */
int64_t ref_budget_for(uint64_t n, uint64_t nodes) {
    /* in 128 bits, so that nothing can overflow before the cut */
    unsigned __int128 b = (unsigned __int128)(8 + nodes) * n + 1000000u;
    return b > 2147483647u ? 2147483647 : (int64_t)b;
}

uint64_t ref_count_nodes(const rx_node *tree) {
    if (!tree) return 0;
    return 1 + ref_count_nodes(tree->left) + ref_count_nodes(tree->right) + ref_count_nodes(tree->child);
}

void ref_budget_init(ref_budget *b, int64_t steps) {
    memset(b, 0, sizeof *b);
    b->steps_left = steps;
    b->limited = 1;
}

void ref_budget_none(ref_budget *b, int64_t give_up) {
    memset(b, 0, sizeof *b);
    b->give_up = give_up;
}

static int spend_step(ref_state *st) {
    ref_budget *b = st->budget;
    if (b->hit) return -1;
    if (!b->limited) {
        if (b->spent >= b->give_up) {
            b->gave_up = 1;
            b->hit = 1;
            return -1;
        }
        b->spent++;
        return 0;
    }
    if (b->steps_left > 0) {
        b->steps_left--;
        b->spent++;
        return 0;
    }
    b->hit = 1;
    return -1;
}

/* ---- capture record and undo log ------------------------------------------ */

void ref_state_init(ref_state *st, ref_budget *budget) {
    memset(st, 0, sizeof *st);
    st->budget = budget;
}

void ref_state_free(ref_state *st) {
    free(st->log);
    st->log = NULL;
    st->log_n = 0;
    st->log_cap = 0;
}

/* Clears the record and forgets every recording: the start of an attempt. */
static void caps_reset(ref_state *st) {
    memset(&st->caps, 0, sizeof st->caps);
    st->log_n = 0;
}

/* Takes back every recording made after the log held mark entries, newest
 * first, giving each group what it held before that recording. */
static void caps_undo_to(ref_state *st, size_t mark) {
    while (st->log_n > mark) {
        st->log_n--;
        const ref_undo *u = &st->log[st->log_n];
        st->caps.start[u->group] = u->old_start;
        st->caps.end[u->group] = u->old_end;
        st->caps.set[u->group] = u->old_set;
    }
}

/* Records group g as [p, e) and logs what it held before. The log grows as
 * needed; if it cannot, the failure is remembered and reported by the
 * search (it never happens in practice). */
static void caps_record(ref_state *st, int32_t g, uint64_t p, uint64_t e) {
    if (g < 1 || g > RX_MAX_GROUPS) return;
    if (st->log_n == st->log_cap) {
        size_t cap = st->log_cap ? st->log_cap * 2 : 64;
        ref_undo *grown = (ref_undo *)realloc(st->log, cap * sizeof *grown);
        if (!grown) {
            st->log_failed = 1;
            return;
        }
        st->log = grown;
        st->log_cap = cap;
    }
    ref_undo *u = &st->log[st->log_n++];
    if (st->log_n > st->max_log) st->max_log = st->log_n;
    u->group = g;
    u->old_set = st->caps.set[g];
    u->old_start = st->caps.start[g];
    u->old_end = st->caps.end[g];
    st->caps.start[g] = p;
    st->caps.end[g] = e;
    st->caps.set[g] = 1;
}

/* ---- leaves --------------------------------------------------------------- */

static int is_word_byte(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

static unsigned char fold(unsigned char b) { return (b >= 'A' && b <= 'Z') ? (unsigned char)(b + 32) : b; }

static int class_has(const rx_node *node, unsigned char b) { return (node->bits[b >> 3] >> (b & 7)) & 1; }

/* A byte is inside a class when its bit is set or, with the case flag, when
 * the letter of the other case has its bit set. */
static int class_inside(const rx_node *node, unsigned char b) {
    if (class_has(node, b)) return 1;
    if (node->flags & RX_FLAG_I) {
        if (b >= 'a' && b <= 'z') return class_has(node, (unsigned char)(b - 32));
        if (b >= 'A' && b <= 'Z') return class_has(node, (unsigned char)(b + 32));
    }
    return 0;
}

/* ---- repetition ------------------------------------------------------------
 * k iterations have matched already. Greedy: take iterations while they
 * match and consume, drop an iteration that consumed nothing or whose step
 * was refused, and end after the last one kept. Lazy: exactly min. Below
 * the minimum an iteration that fails makes the repetition fail, while one
 * that matches without consuming completes it where it stands, keeping its
 * captures (every further required iteration would match the same empty
 * string there) - unless min exceeds max, which never matches. */
static int match_quant(ref_state *st, const rx_node *node, const char *text, uint64_t n, uint64_t p,
                       uint64_t *out_end, int32_t k) {
    size_t mark = st->log_n;
    if (spend_step(st) != 0) return 0;
    if (node->max >= 0 && k > node->max) return 0;
    uint64_t e = 0;
    if (k >= node->min) {
        if (node->lazy || (node->max >= 0 && k >= node->max)) {
            *out_end = p;
            return 1;
        }
        int ok = spend_step(st) == 0 && ref_match_node(st, node->child, text, n, p, &e);
        if (!ok || e == p) {
            caps_undo_to(st, mark);
            *out_end = p;
            return 1;
        }
        int r = match_quant(st, node, text, n, e, out_end, k + 1);
        if (r) return 1;
        caps_undo_to(st, mark);
        *out_end = p;
        return 1;
    }
    if (node->max >= 0 && k >= node->max) return 0;
    int ok = spend_step(st) == 0 && ref_match_node(st, node->child, text, n, p, &e);
    if (!ok) {
        caps_undo_to(st, mark);
        return 0;
    }
    if (e == p) {
        if (node->max >= 0 && node->min > node->max) {
            caps_undo_to(st, mark);
            return 0;
        }
        *out_end = p;
        return 1;
    }
    int r = match_quant(st, node, text, n, e, out_end, k + 1);
    if (r) return 1;
    caps_undo_to(st, mark);
    return 0;
}

/* ---- one node --------------------------------------------------------------
 * 1 with *out_end set when the node matches at p, 0 otherwise (out_end then
 * untouched). Leaves spend no step; a sequence, an alternation and a group
 * spend one before each operand they match. */
int ref_match_node(ref_state *st, const rx_node *node, const char *text, uint64_t n, uint64_t p,
                   uint64_t *out_end) {
    const unsigned char *t = (const unsigned char *)text;
    switch (node->kind) {
    case RX_CHAR: {
        if (p >= n) return 0;
        unsigned char b = t[p], c = node->ch;
        if (node->flags & RX_FLAG_I) {
            b = fold(b);
            c = fold(c);
        }
        if (b != c) return 0;
        *out_end = p + 1;
        return 1;
    }
    case RX_ANY:
        if (p >= n) return 0;
        if (t[p] == '\n' && !(node->flags & RX_FLAG_S)) return 0;
        *out_end = p + 1;
        return 1;
    case RX_CLASS: {
        if (p >= n) return 0;
        int inside = class_inside(node, t[p]);
        if (inside == (node->negate != 0)) return 0;
        *out_end = p + 1;
        return 1;
    }
    case RX_ANCHOR: {
        int multi = (node->flags & RX_FLAG_M) != 0;
        int ok;
        if (node->anchor == 1)
            ok = p == 0 || (multi && t[p - 1] == '\n');
        else if (node->anchor == 2)
            ok = p == n || (multi && t[p] == '\n');
        else
            ok = 0;
        if (!ok) return 0;
        *out_end = p;
        return 1;
    }
    case RX_WORDB: {
        int before = p > 0 && is_word_byte(t[p - 1]);
        int after = p < n && is_word_byte(t[p]);
        int boundary = before != after;
        if (node->not_boundary ? boundary : !boundary) return 0;
        *out_end = p;
        return 1;
    }
    case RX_CONCAT: {
        size_t mark = st->log_n;
        uint64_t m = 0, e = 0;
        if (spend_step(st) == 0 && ref_match_node(st, node->left, text, n, p, &m) && spend_step(st) == 0 &&
            ref_match_node(st, node->right, text, n, m, &e)) {
            *out_end = e;
            return 1;
        }
        caps_undo_to(st, mark);
        return 0;
    }
    case RX_ALT: {
        size_t mark = st->log_n;
        uint64_t e = 0;
        if (spend_step(st) == 0 && ref_match_node(st, node->left, text, n, p, &e)) {
            *out_end = e;
            return 1;
        }
        caps_undo_to(st, mark);
        if (spend_step(st) == 0 && ref_match_node(st, node->right, text, n, p, &e)) {
            *out_end = e;
            return 1;
        }
        caps_undo_to(st, mark);
        return 0;
    }
    case RX_REPEAT: return match_quant(st, node, text, n, p, out_end, 0);
    case RX_GROUP: {
        size_t mark = st->log_n;
        uint64_t e = 0;
        if (spend_step(st) != 0 || !ref_match_node(st, node->child, text, n, p, &e)) {
            caps_undo_to(st, mark);
            return 0;
        }
        caps_record(st, node->group, p, e);
        *out_end = e;
        return 1;
    }
    default: return 0;
    }
}

/* ---- anchored patterns -----------------------------------------------------
 * Reads the raw pattern: the first byte must be "^", and every "|" outside
 * parentheses and brackets must be followed by "^". Escapes and bracket
 * classes are stepped over by the parser's own rules (no escapes inside
 * brackets; a "]" right after "[" or "[^" is a member). */
int ref_is_anchored(const char *pattern) {
    if (pattern[0] != '^') return 0;
    int depth = 0;
    const char *s = pattern;
    while (*s) {
        char c = *s;
        if (c == '\\') {
            s += s[1] ? 2 : 1;
        } else if (c == '[') {
            s++;
            if (*s == '^') s++;
            if (*s == ']') s++;
            while (*s && *s != ']') s++;
            if (*s) s++;
        } else if (c == '(') {
            depth++;
            s++;
        } else if (c == ')') {
            if (depth > 0) depth--;
            s++;
        } else if (c == '|' && depth == 0) {
            if (s[1] != '^') return 0;
            s++;
        } else {
            s++;
        }
    }
    return 1;
}

/* ---- search ----------------------------------------------------------------
 * Each start position costs one step before its attempt. An attempt that
 * matches counts only when no step of the call was refused; otherwise, like
 * an attempt that fails after a refusal, it ends the search with -1. A call
 * whose budget was already refused fails at once. */
int ref_find(const rx_node *tree, const char *pattern, const char *text, uint64_t n, uint64_t start,
             ref_budget *budget, ref_result *out) {
    ref_state st;
    ref_state_init(&st, budget);
    memset(out, 0, sizeof *out);
    int result = 0;
    uint64_t e = 0;
    out->anchored = ref_is_anchored(pattern);
    caps_reset(&st);
    if (budget->hit) {
        result = -1;
    } else if (out->anchored) {
        if (start == 0 && spend_step(&st) == 0 && ref_match_node(&st, tree, text, n, 0, &e)) {
            result = budget->hit ? -1 : 1;
            if (result == 1) {
                out->start = 0;
                out->end = e;
            }
        } else {
            result = budget->hit ? -1 : 0;
        }
    } else {
        for (uint64_t p = start; p <= n; p++) {
            caps_reset(&st);
            if (spend_step(&st) == 0 && ref_match_node(&st, tree, text, n, p, &e)) {
                result = budget->hit ? -1 : 1;
                if (result == 1) {
                    out->start = p;
                    out->end = e;
                }
                break;
            }
            if (budget->hit) {
                result = -1;
                break;
            }
        }
    }
    if (budget->gave_up) result = -3;
    if (st.log_failed) result = -2;
    out->result = result;
    out->caps = st.caps;
    out->steps_left = budget->steps_left;
    out->spent = budget->spent;
    out->budget_hit = budget->hit;
    ref_state_free(&st);
    return result;
}

int ref_find_pattern(const char *pattern, const char *text, uint64_t n, uint64_t start, int limited,
                     ref_result *out, int *parsed) {
    char err[RX_SEARCH_ERR_SIZE];
    rx_node *tree = parse_pattern(pattern, err, sizeof err);
    memset(out, 0, sizeof *out);
    if (!tree) {
        *parsed = 0;
        out->result = -1;
        return -1;
    }
    *parsed = 1;
    ref_budget budget;
    if (limited)
        ref_budget_init(&budget, ref_budget_for(n, ref_count_nodes(tree)));
    else
        ref_budget_none(&budget, (int64_t)1 << 40);
    int r = ref_find(tree, pattern, text, n, start, &budget, out);
    node_free(tree);
    return r;
}

/* ---- a thread with a large stack ------------------------------------------ */

typedef struct big_stack_call {
    void (*fn)(void *);
    void *arg;
} big_stack_call;

#if defined(_WIN32)
static DWORD WINAPI big_stack_entry(LPVOID p) {
    big_stack_call *call = (big_stack_call *)p;
    call->fn(call->arg);
    return 0;
}

int ref_run_on_big_stack(void (*fn)(void *), void *arg, size_t stack_bytes) {
    big_stack_call call = {fn, arg};
    HANDLE h =
        CreateThread(NULL, stack_bytes, big_stack_entry, &call, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (!h) return -1;
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    return 0;
}
#else
static void *big_stack_entry(void *p) {
    big_stack_call *call = (big_stack_call *)p;
    call->fn(call->arg);
    return NULL;
}

int ref_run_on_big_stack(void (*fn)(void *), void *arg, size_t stack_bytes) {
    big_stack_call call = {fn, arg};
    pthread_attr_t attr;
    pthread_t th;
    if (pthread_attr_init(&attr) != 0) return -1;
    if (pthread_attr_setstacksize(&attr, stack_bytes) != 0) {
        pthread_attr_destroy(&attr);
        return -1;
    }
    int rc = pthread_create(&th, &attr, big_stack_entry, &call);
    pthread_attr_destroy(&attr);
    if (rc != 0) return -1;
    pthread_join(th, NULL);
    return 0;
}
#endif
