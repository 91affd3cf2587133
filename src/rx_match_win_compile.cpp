/*
 * The engine's compiled form of a parse tree, made once by rx_engine_prepare:
 * the bytes of every literal chain, the operand list of every chain of
 * sequences and of alternations, the byte tables of alternations of single
 * bytes, the tries of long alternations of literals, and the memo points of
 * the matcher (see the fields at the end of rx_node).
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
    set_add_literal(set, op->lit[0], lit_fold(op));
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

static int compile_memo(rx_prog *prog);

/* The trie of each alternation of more than RX_TRIE_FROM literals (where
 * one can be had). */
static void fill_tries(rx_prog *prog, const node_stack *alts) {
    for (size_t a = 0; a < alts->top; a++) {
        rx_node *alt = alts->items[a];
        if (alt->flat_len > RX_TRIE_FROM) alt->litset = rx_literals_build(prog, alt);
    }
}

/*
 * The compiled form of the tree: the operand list of every chain of
 * sequences (the parse gives chains of plain bytes their bytes, and
 * alternations their lists), in one block owned by the prog. A chain of k
 * operands has k - 1 sequence nodes, so twice the parse's count of joins
 * bounds the lists. The walk visits only the tops of chains and keeps its
 * pending nodes on its own stack, so it does not recurse however deep the
 * tree is. 0, or -1 when memory ran out.
 */
int rx_compile_tree(rx_prog *prog, const rx_parse_info *info) {
    const size_t nflats = static_cast<size_t>(2 * info->joins);
    if (nflats > 0) {
        prog->flats = static_cast<rx_node **>(rx_malloc(nflats * sizeof(rx_node *)));
        if (prog->flats == nullptr) return -1;
    }
    node_stack st, picked; /* picked: alternations that get a byte table */
    node_stack_init(&st);
    node_stack_init(&picked);
    node_stack_push(&st, prog->root);
    size_t flats_used = 0;
    int failed = 0;
    while (st.top > 0 && !failed) {
        rx_node *node = st.items[--st.top];
        if (node->kind == RX_CONCAT && node->lit_len >= 2) {
            /* a chain of plain bytes: the parse gave it its bytes */
        } else if (node->kind == RX_CONCAT || node->kind == RX_ALT) {
            if (node->flat == nullptr) { /* the parse gives an alternation its list */
                int32_t k = chain_length(node);
                rx_node **ops = prog->flats + flats_used;
                rx_node *at = node;
                for (int32_t i = k - 1; i > 0; i--, at = at->left) ops[i] = at->right;
                ops[0] = at;
                node->flat = ops;
                node->flat_len = k;
                flats_used += static_cast<size_t>(k);
            }
            rx_node **ops = node->flat;
            const int32_t k = node->flat_len;
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
    if (!failed) failed = compile_memo(prog) != 0;
    return failed ? -1 : 0;
}

/* ---- memo points ------------------------------------------------------------
 * Which parts the matcher may answer from a note of an earlier outcome at the
 * same position (see the matcher). A part is worth a note where several
 * start positions can reach it at one position: the rest of a sequence after
 * an item of varying width (after items of fixed width the position follows
 * from the sequence's own start), a repetition's operand, and a greedy
 * unbounded repetition's iterations from its minimum on; a repetition of a
 * byte leaf keeps the span of the last run it found instead. The facts the
 * choice needs, each node's width (-1 when it varies) and whether it records
 * a group, are worked out bottom up first and kept in the node's memo and
 * memo_child fields until the points are given out, top down. */

#define WIDTH_CAP (1 << 29) /* wider fixed widths count as varying */

/* Where a walk stands at a node: its operands not entered yet, or done. */
typedef struct walk_item {
    rx_node *node;
    int32_t done;
} walk_item;

typedef struct walk_stack {
    walk_item *items;
    size_t top;
    size_t cap;
} walk_stack;

static int walk_push(walk_stack *st, rx_node *node, int32_t done) {
    if (st->top == st->cap) {
        size_t cap = st->cap > 0 ? 2 * st->cap : 64;
        walk_item *grown = static_cast<walk_item *>(rx_realloc(st->items, cap * sizeof *grown));
        if (grown == nullptr) return -1;
        st->items = grown;
        st->cap = cap;
    }
    st->items[st->top].node = node;
    st->items[st->top].done = done;
    st->top++;
    return 0;
}

/* The operands a walk enters: a chain's list, a repetition's or group's
 * operand; none for leaves and literal chains. */
static int32_t operand_count(const rx_node *node) {
    if (node->kind == RX_CONCAT && node->lit != nullptr) return 0;
    if (node->kind == RX_CONCAT || node->kind == RX_ALT) return node->flat_len;
    return node->child != nullptr ? 1 : 0;
}

static rx_node *operand(const rx_node *node, int32_t i) {
    return node->kind == RX_CONCAT || node->kind == RX_ALT ? node->flat[i] : node->child;
}

static inline int32_t width_of(const rx_node *node) { return node->memo; }
static inline int32_t groups_of(const rx_node *node) { return node->memo_child; }

/* The width and group facts of node from those of its operands. */
static void node_facts(rx_node *node) {
    int64_t width = 0;
    int32_t groups = 0;
    const int32_t count = operand_count(node);
    if (node->kind == RX_CONCAT && node->lit != nullptr) {
        width = node->lit_len;
    } else if (is_byte_leaf(node)) {
        width = 1;
    } else if (node->kind == RX_CONCAT) {
        for (int32_t i = 0; i < count; i++) {
            groups |= groups_of(node->flat[i]);
            if (width >= 0) width = width_of(node->flat[i]) < 0 ? -1 : width + width_of(node->flat[i]);
        }
    } else if (node->kind == RX_ALT) {
        width = width_of(node->flat[0]);
        for (int32_t i = 0; i < count; i++) {
            groups |= groups_of(node->flat[i]);
            if (width_of(node->flat[i]) != width) width = -1;
        }
    } else if (node->kind == RX_REPEAT) {
        groups = groups_of(node->child);
        const int32_t w = width_of(node->child);
        width = node->max == 0
                    ? 0
                    : (w >= 0 && node->min == node->max ? static_cast<int64_t>(w) * node->min : -1);
    } else if (node->kind == RX_GROUP) {
        groups = node->group >= 1 && node->group <= RX_MAX_GROUPS ? 1 : groups_of(node->child);
        width = width_of(node->child);
    }
    node->memo = width > WIDTH_CAP ? -1 : static_cast<int32_t>(width);
    node->memo_child = groups;
}

/* Bottom up: the facts of every node the matcher enters. */
static int gather_facts(rx_node *root, walk_stack *st) {
    st->top = 0;
    if (walk_push(st, root, 0) != 0) return -1;
    while (st->top > 0) {
        walk_item it = st->items[--st->top];
        const int32_t count = operand_count(it.node);
        if (it.done || count == 0) {
            node_facts(it.node);
            continue;
        }
        if (walk_push(st, it.node, 1) != 0) return -1;
        for (int32_t i = 0; i < count; i++)
            if (walk_push(st, operand(it.node, i), 0) != 0) return -1;
    }
    return 0;
}

/* Whether item i of a sequence begins a memo point: after an item of
 * varying width, unless the rest is one simple item, which is matched
 * quicker than a note is looked up; in the pattern's own sequence always,
 * where a note of the rest failing after the first item rules out whole
 * stretches of start positions (see rx_match_known_failures). */
static int item_point(const rx_node *seq, int32_t i, int root) {
    return i >= 1 && width_of(seq->flat[i - 1]) < 0 &&
           (i + 1 < seq->flat_len || !is_simple_part(seq->flat[i]) || (root && i == 1));
}

/* Running counts of the points, runs, iteration runs and sequence item
 * slots given out. */
typedef struct point_counts {
    int32_t points;
    int32_t runs;
    int32_t loops;
    size_t items;
} point_counts;

/* The points of node, whose operands still hold their facts: only counted,
 * or (assign) given out, which replaces node's own facts. */
static void node_points(rx_prog *prog, rx_node *node, point_counts *c, int assign) {
    uint8_t *groups = prog->point_groups;
    if (assign) {
        node->memo = -1;
        node->memo_child = -1;
    }
    if (node->kind == RX_CONCAT && node->lit == nullptr) {
        int32_t found = 0;
        const int root = node == prog->root;
        for (int32_t i = 1; i < node->flat_len; i++) found += item_point(node, i, root);
        if (found == 0) return;
        int32_t *ids = assign ? prog->memo_items + c->items : nullptr;
        c->items += static_cast<size_t>(node->flat_len);
        int32_t later = 0; /* whether the items from i on record a group */
        for (int32_t i = node->flat_len - 1; i >= 0; i--) {
            later |= groups_of(node->flat[i]);
            const int32_t id = item_point(node, i, root) ? c->points++ : -1;
            if (!assign) continue;
            ids[i] = id;
            if (id >= 0) groups[id] = static_cast<uint8_t>(later);
        }
        if (assign) node->memo_items = ids;
        return;
    }
    if (node->kind != RX_REPEAT) return;
    const rx_node *child = node->child;
    if (is_byte_leaf(child)) {
        if (!node->lazy && (node->max < 0 || node->max > 16)) {
            if (assign) node->memo = c->runs;
            c->runs++;
        }
        return;
    }
    if (is_leaf_part(child)) return; /* a zero-width leaf: at most one empty iteration */
    const uint8_t g = static_cast<uint8_t>(groups_of(child));
    const int greedy_unbounded = node->max < 0 && !node->lazy;
    if (greedy_unbounded) {
        if (assign) {
            node->memo = c->loops;
            prog->memo.loops[c->loops].groups = g;
        }
        c->loops++;
    }
    /* the operand alone, where the iterations from the minimum on do not
     * already cover nearly all of them */
    if (!is_simple_part(child) && !(greedy_unbounded && node->min <= 1) && !(node->lazy && node->min == 0)) {
        if (assign) {
            node->memo_child = c->points;
            groups[c->points] = g;
        }
        c->points++;
    }
}

/* Top down over the nodes the matcher enters, each before its operands. */
static int give_points(rx_prog *prog, walk_stack *st, point_counts *c, int assign) {
    st->top = 0;
    if (walk_push(st, prog->root, 0) != 0) return -1;
    while (st->top > 0) {
        rx_node *node = st->items[--st->top].node;
        node_points(prog, node, c, assign);
        const int32_t count = operand_count(node);
        for (int32_t i = 0; i < count; i++)
            if (walk_push(st, operand(node, i), 0) != 0) return -1;
    }
    return 0;
}

/* The memo points of the compiled tree, and the blocks the memo needs: 0, or
 * -1 when memory ran out. */
static int compile_memo(rx_prog *prog) {
    walk_stack st = {nullptr, 0, 0};
    point_counts c = {0, 0, 0, 0};
    int failed = gather_facts(prog->root, &st) != 0 || give_points(prog, &st, &c, 0) != 0;
    if (!failed && (c.points > 0 || c.runs > 0 || c.loops > 0)) {
        /* one zero-filled block: the iteration runs, the runs, the
         * sequences' point lists, the points' group flags */
        const size_t loops = static_cast<size_t>(c.loops) * sizeof(rx_loop);
        const size_t runs = static_cast<size_t>(c.runs) * sizeof(rx_run);
        const size_t size = loops + runs + c.items * sizeof(int32_t) + static_cast<size_t>(c.points);
        prog->memo_block = rx_calloc(1, size);
        failed = prog->memo_block == nullptr;
        if (!failed) {
            char *at = static_cast<char *>(prog->memo_block);
            prog->memo.loops = reinterpret_cast<rx_loop *>(at);
            prog->memo.runs = reinterpret_cast<rx_run *>(at + loops);
            prog->memo_items = reinterpret_cast<int32_t *>(at + loops + runs);
            prog->point_groups = reinterpret_cast<uint8_t *>(prog->memo_items + c.items);
            prog->memo.loop_count = c.loops;
            prog->memo.run_count = c.runs;
            prog->memo.points = c.points;
            prog->memo.point_groups = prog->point_groups;
            for (int32_t i = 0; i < c.runs; i++) prog->memo.runs[i].lo = UINT64_MAX;
        }
    }
    point_counts given = {0, 0, 0, 0};
    if (!failed) failed = give_points(prog, &st, &given, 1) != 0;
    free(st.items);
    return failed ? -1 : 0;
}
