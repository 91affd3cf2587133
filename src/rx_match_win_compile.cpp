/*
 * The engine's compiled form of a parse tree, made once by rx_engine_prepare:
 * the bytes of every literal chain, the operand list of every chain of
 * sequences and of alternations, the byte tables of alternations of single
 * bytes, and the tries of long alternations of literals (see the fields at
 * the end of rx_node).
 */
#include <stdlib.h>
#include <string.h>

#include "rx_match_win.h"
#include "rx_match_win_internal.h"

/* A stack of nodes for the walk below: a few on the machine stack, more on
 * the heap. */
#define RX_WALK_LOCAL 64
typedef struct node_stack {
    rx_node **items;
    size_t top;
    size_t cap;
    rx_node *local[RX_WALK_LOCAL];
} node_stack;

static void node_stack_init(node_stack *st) {
    st->items = st->local;
    st->top = 0;
    st->cap = RX_WALK_LOCAL;
}

static void node_stack_free(node_stack *st) {
    if (st->items != st->local) free(st->items);
}

/* 0, or -1 when the stack cannot grow. */
static int node_stack_push(node_stack *st, rx_node *node) {
    if (st->top == st->cap) {
        size_t cap = st->cap * 2;
        const size_t size = cap * sizeof(rx_node *);
        rx_node **grown =
            static_cast<rx_node **>(st->items == st->local ? rx_malloc(size) : rx_realloc(st->items, size));
        if (grown == nullptr) return -1;
        if (st->items == st->local) memcpy(grown, st->local, sizeof st->local);
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

/* A byte leaf, or a literal chain: its first byte decides whether it can
 * match, and a failure at that byte costs a fixed number of steps. */
static int picks_by_first_byte(const rx_node *op) {
    return is_byte_leaf(op) || (op->kind == RX_CONCAT && op->lit_len >= 2);
}

static int all_pick_by_first_byte(const rx_node *alt) {
    for (int32_t i = 0; i < alt->flat_len; i++)
        if (!picks_by_first_byte(alt->flat[i])) return 0;
    return 1;
}

/* The bytes op's first byte can be, added to a 32-byte set. */
static void first_bytes_of(const rx_node *op, uint8_t *set) {
    if (is_byte_leaf(op)) {
        leaf_set(op, set);
        return;
    }
    set_add_literal(set, op->lit[0], (op->right->flags & RX_FLAG_I) != 0);
}

/* What op spends failing at its first byte: nothing for a byte, each
 * sequence node's first step for a literal chain. */
static int64_t first_byte_failure(const rx_node *op) { return is_byte_leaf(op) ? 0 : op->lit_len - 1; }

/* The byte tables of the alternations in the list, in one block: for each,
 * 256 indices, then its flat_len + 1 costs. 0, or -1 when memory ran out. */
static int fill_picks(rx_prog *prog, const node_stack *alts) {
    size_t size = 0;
    for (size_t a = 0; a < alts->top; a++)
        size += 256 * sizeof(int32_t) + (static_cast<size_t>(alts->items[a]->flat_len) + 1) * sizeof(int64_t);
    prog->picks = rx_malloc(size);
    if (prog->picks == nullptr) return -1;
    char *at = static_cast<char *>(prog->picks);
    for (size_t a = 0; a < alts->top; a++) {
        rx_node *alt = alts->items[a];
        const int32_t k = alt->flat_len;
        int32_t *table = reinterpret_cast<int32_t *>(at);
        int64_t *cost = reinterpret_cast<int64_t *>(at + 256 * sizeof(int32_t));
        at += 256 * sizeof(int32_t) + (static_cast<size_t>(k) + 1) * sizeof(int64_t);
        /* from the last alternative to the first, so that the first that
         * takes a byte is the one left in its entry */
        for (unsigned b = 0; b < 256; b++) table[b] = -1;
        for (int32_t i = k - 1; i >= 0; i--) {
            uint8_t set[32] = {};
            first_bytes_of(alt->flat[i], set);
            for (unsigned w = 0; w < 32; w++) {
                if (set[w] == 0) continue; /* a literal's first byte sets one or two */
                for (unsigned bit = 0; bit < 8; bit++)
                    if ((set[w] >> bit) & 1) table[8 * w + bit] = i;
            }
        }
        /* a step before each alternative after the first, and each failed
         * one's own charge */
        int64_t sum = 0;
        for (int32_t i = 0; i < k; i++) {
            cost[i] = sum + i;
            sum += first_byte_failure(alt->flat[i]);
        }
        cost[k] = sum + (k - 1);
        alt->pick = table;
        alt->pick_cost = cost;
    }
    return 0;
}

/* The trie of each alternation of more than RX_TRIE_FROM literals (where
 * one can be had). */
static void fill_tries(rx_prog *prog, const node_stack *alts) {
    for (size_t a = 0; a < alts->top; a++) {
        rx_node *alt = alts->items[a];
        if (alt->flat_len > RX_TRIE_FROM) alt->litset = rx_literals_build(prog, alt);
    }
}

/*
 * The compiled form of the tree: the bytes of every literal chain and the
 * operand list of every chain of sequences and of alternations, in one
 * block owned by the prog. A chain of k operands has k - 1 sequence or
 * alternation nodes and a literal chain of m bytes m - 1 sequence nodes, so
 * twice the parse's counts bound both lists. The walk visits only the tops
 * of chains and keeps its pending nodes on its own stack, so it does not
 * recurse however deep the tree is. 0, or -1 when memory ran out.
 */
int rx_compile_tree(rx_prog *prog, const rx_parse_info *info) {
    const size_t nflats = static_cast<size_t>(2 * info->joins), nlits = static_cast<size_t>(2 * info->chains);
    if (nflats > 0) {
        prog->flats = static_cast<rx_node **>(rx_malloc(nflats * sizeof(rx_node *) + nlits));
        if (prog->flats == nullptr) return -1;
        prog->lits = reinterpret_cast<uint8_t *>(prog->flats + nflats);
    }
    node_stack st, picked; /* picked: alternations that get a byte table */
    node_stack_init(&st);
    node_stack_init(&picked);
    node_stack_push(&st, prog->root);
    size_t lits_used = 0, flats_used = 0;
    int failed = 0;
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
            if (node->kind == RX_ALT && all_pick_by_first_byte(node) && node_stack_push(&picked, node) != 0)
                failed = 1;
            for (int32_t i = k - 1; i >= 0 && !failed; i--) failed = node_stack_push(&st, ops[i]) != 0;
        } else if (node->child != nullptr) {
            failed = node_stack_push(&st, node->child) != 0;
        }
    }
    node_stack_free(&st);
    if (!failed && picked.top > 0) failed = fill_picks(prog, &picked);
    if (!failed) fill_tries(prog, &picked);
    node_stack_free(&picked);
    return failed ? -1 : 0;
}
