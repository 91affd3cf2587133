/*
 * The analysis of a pattern (rx_analysis.cpp): a lint that tells, before any
 * search, where a pattern can never match, which parts of it are never
 * used, where it matches something else than it seems to say and where it
 * means something else in other dialects; and an explanation of the pattern
 * as a tree of its parts in plain words.
 *
 * It reasons on the parse tree under this engine's rule: every node commits
 * to the first end it finds. Its claims are sound: it says that something
 * can never match only where it provably cannot (it over-approximates with
 * the bytes a part can begin and end with, the bytes around it, and whether
 * it can match empty), and it says nothing where it cannot tell.
 *
 * Internal to the library: not exported by the shared library or the DLL.
 * Hosts (the command-line host, the WebAssembly module) call it. Blocks are
 * from the library's allocator; the caller releases them as each entry says.
 */
#ifndef RX_ANALYSIS_H
#define RX_ANALYSIS_H

#include <stdint.h>

/* A replacement for the pattern and what it means. */
typedef struct rx_suggestion {
    char *pattern; /* heap: a whole pattern, valid */
    char *meaning; /* heap */
} rx_suggestion;

#define RX_SUGGESTIONS_MAX 2

/* One finding: code and effect are static texts; the rest is the finding's. */
typedef struct rx_finding {
    const char *code;   /* kebab-case reason: "swallowed-follower", ... */
    const char *effect; /* "never-matches", "dead", "note" or "dialect" */
    uint32_t start;     /* the span of the pattern the finding marks */
    uint32_t end;
    char *message; /* heap: plain words */
    rx_suggestion suggestions[RX_SUGGESTIONS_MAX];
    int32_t suggestion_count;
} rx_finding;

typedef struct rx_lint {
    int invalid;           /* 1: the pattern does not parse (no findings) */
    char error[128];       /* then the parser's message ... */
    uint64_t error_offset; /* ... the byte where it was found ... */
    char *hint;            /* ... and, heap or null, a hint when the error is
                              a construct of another dialect ... */
    uint32_t hint_start;   /* ... which begins at this byte */
    rx_finding *findings;  /* heap: in the order of their spans */
    uint32_t count;
    uint32_t room;
} rx_lint;

/* Lints a pattern (not null) into *out: 0, or RX_OUT_OF_MEMORY with
 * nothing left allocated. An invalid pattern is an answer (out->invalid).
 * Release with rx_analysis_lint_free. */
int rx_analysis_lint(const char *pattern, rx_lint *out);
void rx_analysis_lint_free(rx_lint *lint);

/* One node of an explanation: children are the next child_count entries of
 * the tree that have this node as parent, in order. */
typedef struct rx_explain_node {
    const char *kind;    /* "pattern", "flags", "sequence", "alternation",
                            "literal", "any", "class", "repeat", "group",
                            "anchor", "boundary", "empty" */
    uint32_t start, end; /* span */
    char *description;   /* heap */
    int32_t parent;      /* index of the parent, -1 for the root */
    int32_t depth;
} rx_explain_node;

/* Deeper parts than this are summed up in one node. */
#define RX_EXPLAIN_DEPTH_MAX 64

typedef struct rx_explain {
    int invalid; /* as in rx_lint */
    char error[128];
    uint64_t error_offset;
    rx_explain_node *nodes; /* heap: in pre-order, the root first */
    uint32_t count;
    uint32_t room;
} rx_explain;

int rx_analysis_explain(const char *pattern, rx_explain *out);
void rx_analysis_explain_free(rx_explain *explain);

/* String in, JSON out, for hosts that speak JSON (the JavaScript module):
 *   lint:    {"findings":[{"code":"...","effect":"...","start":S,"end":E,
 *             "message":"...","suggestions":[{"pattern":"...","meaning":"..."}]}]}
 *            ("suggestions" absent where there is none)
 *   explain: {"tree":{"kind":"...","start":S,"end":E,"text":"...",
 *             "description":"...","children":[...]}}
 *   either, for an invalid pattern: {"error":{"message":"...","offset":N}}
 *            (with "hint":"..." after the offset where one applies)
 * A heap block the caller frees; null when memory ran out (or the pattern
 * is null). */
char *rx_analysis_lint_json(const char *pattern);
char *rx_analysis_explain_json(const char *pattern);

#endif /* RX_ANALYSIS_H */
