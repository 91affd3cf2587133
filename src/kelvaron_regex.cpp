/*
 * The exported functions and the layer right behind them: JSON quoting,
 * the validation decision, match enumeration, replacement and the reading
 * of example lists for pattern generation.
 *
 * Every export follows one frame: clear the error slot, test the arguments
 * for null in declaration order, check that the pattern compiles, do the
 * work, build the whole JSON answer in an rx_buf of its own, and hand that
 * block to the calling thread's result buffer. rx_test and
 * rx_replace_preview check the pattern with the one parse their
 * enumeration makes, and write their answers while the matches are found.
 * A failing call stores nothing, so the thread's previous answer survives
 * it.
 */
#include "kelvaron_regex.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <yyjson.h>

#include "kelvaron_regex_internal.h"
#include "rx_common.h"
#include "rx_infer.h"
#include "rx_match_win.h"
#include "rx_walk.h"

#define MSG_SIZE 256 /* message areas of the compile checks */
#define MAX_EXAMPLES 64
#define MAX_EXAMPLE_BYTES 4096

/* ---- JSON quoting ---------------------------------------------------------- */

/* Non-zero when some byte of the eight in word needs an escape: one below
 * 0x20, a '"' or a '\'. (A byte from 0x80 up never counts as below 0x20.) */
static inline uint64_t needs_escape(uint64_t word) {
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    uint64_t quote = word ^ (ones * '"'), backslash = word ^ (ones * '\\');
    uint64_t below = (word - ones * 0x20) & ~word;
    uint64_t zero_q = (quote - ones) & ~quote, zero_b = (backslash - ones) & ~backslash;
    return (below | zero_q | zero_b) & highs;
}

/* The escape of a byte that needs one, into out (6 bytes); its length. */
static uint64_t escape_byte(unsigned char c, char *out) {
    static const char hex[] = "0123456789abcdef";
    out[0] = '\\';
    switch (c) {
    case '"': out[1] = '"'; return 2;
    case '\\': out[1] = '\\'; return 2;
    case '\n': out[1] = 'n'; return 2;
    case '\r': out[1] = 'r'; return 2;
    case '\t': out[1] = 't'; return 2;
    default:
        out[1] = 'u';
        out[2] = '0';
        out[3] = '0';
        out[4] = hex[c >> 4];
        out[5] = hex[c & 15];
        return 6;
    }
}

/* The number of leading bytes (in text order) of a word loaded from
 * memory that come before the first one needs_escape flagged. The lowest
 * flag is always a true one; the higher ones may be false, so only the
 * first counts. Where the byte order is not known to be little-endian the
 * answer is 0, which sends the caller through its byte-by-byte path. */
static inline uint64_t bytes_before_flag(uint64_t flagged) {
#if RX_WORDS_IN_TEXT_ORDER
    return static_cast<uint64_t>(__builtin_ctzll(flagged)) / 8;
#else
    (void)flagged;
    return 0;
#endif
}

/* Writes the escaped form of n bytes at out, which has room for 6 * n
 * bytes, and returns the end. Bytes that pass are found and copied eight
 * at a time; a copy may write past the plain bytes, which the next write
 * covers. */
static char *escape_into(char *out, const char *in, uint64_t n) {
    uint64_t i = 0;
    while (i < n) {
        if (n - i >= 8) { /* then out + 8 stays within the room */
            uint64_t word;
            memcpy(&word, in + i, sizeof word);
            uint64_t flagged = needs_escape(word);
            uint64_t plain = flagged == 0 ? 8 : bytes_before_flag(flagged);
            memcpy(out, in + i, sizeof word);
            out += plain;
            i += plain;
            if (plain == 8) continue;
        }
        unsigned char c = static_cast<unsigned char>(in[i++]);
        if (c < 0x20 || c == '"' || c == '\\')
            out += escape_byte(c, out);
        else
            *out++ = static_cast<char>(c);
    }
    return out;
}

#define ESCAPE_CHUNK 4096 /* bytes escaped per reservation of six times as many */

/* Appends count bytes as the inside of a JSON string: '"' and '\' get a
 * backslash, LF CR TAB become \n \r \t, every other byte below 0x20 becomes
 * \u00xx in lower-case hex (never a short form such as \b or \f), and every
 * other byte, 0x7F and 0x80..0xFF included, passes unchanged. This is the
 * library's one JSON quoting routine. */
int json_append_escaped(char **data, uint64_t *length, uint64_t *capacity, const char *bytes,
                        uint64_t count) {
    while (count > 0) {
        uint64_t take = count < ESCAPE_CHUNK ? count : ESCAPE_CHUNK;
        if (rx_buf_reserve(data, length, capacity, 6 * take) != 0) return -1;
        char *start = *data + *length;
        *length += static_cast<uint64_t>(escape_into(start, bytes, take) - start);
        (*data)[*length] = '\0';
        bytes += take;
        count -= take;
    }
    return 0;
}

/* Appends the bytes quoted as a JSON string literal. */
int json_append_quoted(char **data, uint64_t *length, uint64_t *capacity, const char *bytes, uint64_t count) {
    if (rx_buf_putc(data, length, capacity, '"') != 0) return -1;
    if (json_append_escaped(data, length, capacity, bytes, count) != 0) return -1;
    return rx_buf_putc(data, length, capacity, '"');
}

/* A NUL-terminated string (null counts as "") quoted as a JSON string
 * literal in a new heap block; null when memory ran out. */
static char *json_escape_str(const char *string) {
    char *data = nullptr;
    uint64_t length = 0, capacity = 0;
    const char *s = string != nullptr ? string : "";
    if (json_append_quoted(&data, &length, &capacity, s, strlen(s)) != 0) {
        rx_buf_free(data);
        return nullptr;
    }
    return data;
}

/* Ends an export that built its answer in an rx_buf: when building went
 * well (built is 0) the block becomes the thread's answer, otherwise "out
 * of memory" is reported and the block released. */
static const char *finish_answer(int built, char *data, uint64_t length, uint64_t capacity) {
    if (built == 0) return rx_tls_adopt_json(data, length, capacity);
    rx_set_error("out of memory");
    rx_buf_free(data);
    return nullptr;
}

/* Ends an export whose search failed after part of the answer was written:
 * the reason is in the error slot already; the part is dropped. */
static const char *drop_answer(char *data) {
    rx_buf_free(data);
    return nullptr;
}

/* 1 with the message in the error slot when the argument is null. The
 * exports test their arguments in declaration order, so the first null one
 * names the failure. */
static int missing(const char *argument, const char *message) {
    if (argument != nullptr) return 0;
    rx_set_error("%s", message);
    return 1;
}

/* ---- validation --------------------------------------------------------------- */

int rx_validate_pattern(const char *pattern, char *msg, uint64_t msg_size) {
    int writable = msg != nullptr && msg_size != 0;
    if (pattern == nullptr) {
        if (writable) snprintf(msg, static_cast<size_t>(msg_size), "null pattern");
        return -1;
    }
    /* A parser message has at most 127 bytes, so "%.127s" never cuts one. */
    char first[MSG_SIZE];
    char second[MSG_SIZE];
    /* Both checks always run, in this order. */
    int engine_ok = rx_engine_compile_ok(pattern, first, sizeof first);
    int nfa_ok = rx_nfa_compile_ok(pattern, second, sizeof second);
    if (engine_ok != 0) {
        if (writable) snprintf(msg, static_cast<size_t>(msg_size), "%.127s", first);
        return -1;
    }
    if (nfa_ok != 0) {
        if (writable) snprintf(msg, static_cast<size_t>(msg_size), "NFA reject (engine ok): %.127s", second);
        return -1;
    }
    if (writable) msg[0] = '\0';
    return 0;
}

extern "C" RX_API const char *rx_validate(const char *pattern) {
    rx_clear_error();
    if (pattern == nullptr) {
        rx_set_error("null pattern");
        return rx_tls_printf_json("{\"ok\":false,\"error\":\"null pattern\"}");
    }
    char msg[MSG_SIZE];
    if (rx_validate_pattern(pattern, msg, sizeof msg) == 0) return rx_tls_printf_json("{\"ok\":true}");
    char *quoted = json_escape_str(msg);
    if (quoted == nullptr) {
        rx_set_error("%s", msg);
        return rx_tls_printf_json("{\"ok\":false,\"error\":\"validate failed\"}");
    }
    const char *answer = rx_tls_printf_json("{\"ok\":false,\"error\":%s}", quoted);
    free(quoted);
    return answer;
}

/* ---- match enumeration --------------------------------------------------------- */

/* One walk over the matches of a pattern in a NUL-terminated text (the
 * enumeration itself is rx_walk's). The pattern is parsed once; measuring
 * the text arms the one budget that the searches of the walk share. Every
 * export that walks records the pattern's groups, whether or not its answer
 * shows them: the engine's notes of where parts end serve less while a
 * record is active, and the exports must spend the same on the same pattern
 * and text, and fail where the others fail. */
typedef struct match_walk {
    rx_prog prog;
    rx_walk walk;
    rx_caps caps; /* the groups of the last match; each search clears it */
    uint64_t n;
} match_walk;

/* The walk's capture record, or null when the pattern has no group. */
static rx_caps *walk_caps(match_walk *w) { return w->prog.groups > 0 ? &w->caps : nullptr; }

/* 0, or -1 with the reason in the error slot and nothing to release. This
 * parse is also the compile check of the exports that enumerate, so it
 * comes before the text's length is judged. */
static int walk_begin(match_walk *w, const char *pattern, const char *text) {
    char err[RX_SEARCH_ERR_SIZE];
    int prepared = rx_engine_prepare(pattern, &w->prog, err, sizeof err);
    if (prepared != 0) {
        if (prepared == RX_OUT_OF_MEMORY)
            rx_set_error("out of memory");
        else
            rx_set_error("invalid pattern: %s", err);
        return -1;
    }
    w->n = rx_engine_measure(&w->prog, text, RX_TEXT_LIMIT);
    if (w->n > RX_TEXT_LIMIT) {
        rx_engine_release(&w->prog);
        rx_set_error("text exceeds %d bytes", RX_TEXT_LIMIT);
        return -1;
    }
    rx_walk_start(&w->walk, &w->prog, text, w->n);
    return 0;
}

/* The next match: 1 with its span (and its groups in walk_caps), 0 when
 * there is none, -1 with the engine's reason in the error slot. */
static int walk_next(match_walk *w, uint64_t *s, uint64_t *e) {
    int r = rx_walk_next(&w->walk, s, e, walk_caps(w));
    if (r < 0) {
        rx_set_error("%s", rx_engine_status_message(r));
        return -1;
    }
    return r;
}

static void walk_end(match_walk *w) { rx_engine_release(&w->prog); }

/* ---- match report ------------------------------------------------------------------ */

/* 1 when no group holds a recording. */
static int no_groups_set(const rx_caps *caps) {
    uint64_t low, high;
    memcpy(&low, caps->set + 1, sizeof low);
    memcpy(&high, caps->set + 1 + sizeof low, sizeof high);
    return (low | high) == 0;
}

/* Writes the bytes of a string literal at out and returns the end. */
template <size_t N>
static inline char *put_piece(char *out, const char (&piece)[N]) {
    memcpy(out, piece, N - 1);
    return out + (N - 1);
}

#define HEAD_ROOM 72 /* the most append_head writes: 1 + 9 + 11 + 9 + 11 + 7 + 11 + 9 */

/* Appends the opening of a match object (index 0) or of a group object up
 * to the opening quote of its text, after a "," unless it is the first of
 * its array. The pieces are written in one reservation, through a cursor
 * of its own; the numbers by hand rather than with printf, as a report may
 * hold a great many of them. */
static int append_head(char **d, uint64_t *len, uint64_t *cap, int first, int32_t index, int32_t start,
                       int32_t end) {
    if (rx_buf_reserve(d, len, cap, HEAD_ROOM) != 0) return -1;
    char *out = *d + *len;
    if (!first) *out++ = ',';
    if (index > 0) {
        out = put_piece(out, "{\"index\":");
        out += rx_format_int(out, index);
        out = put_piece(out, ",\"start\":");
    } else {
        out = put_piece(out, "{\"start\":");
    }
    out += rx_format_int(out, start);
    out = put_piece(out, ",\"end\":");
    out += rx_format_int(out, end);
    out = put_piece(out, ",\"text\":\"");
    *out = '\0';
    *len = static_cast<uint64_t>(out - *d);
    return 0;
}

/* Appends one match object, after a "," unless it is the first, with the
 * groups whose set-flag is non-zero, in increasing number. A group whose
 * end lies before its start shows the empty text with both offsets as
 * recorded. */
static int append_match(char **d, uint64_t *len, uint64_t *cap, const char *text, uint64_t start,
                        uint64_t end, const rx_caps *caps, int first) {
    if (append_head(d, len, cap, first, 0, static_cast<int32_t>(start), static_cast<int32_t>(end)) != 0 ||
        json_append_escaped(d, len, cap, text + start, end - start) != 0 ||
        rx_buf_puts(d, len, cap, "\",\"groups\":[") != 0)
        return -1;
    if (caps != nullptr && !no_groups_set(caps)) {
        int listed = 0;
        for (int j = 1; j <= RX_MAX_GROUPS; j++) {
            if (!caps->set[j]) continue;
            uint64_t gs = caps->start[j], ge = caps->end[j];
            if (append_head(d, len, cap, !listed, j, static_cast<int32_t>(gs), static_cast<int32_t>(ge)) !=
                    0 ||
                json_append_escaped(d, len, cap, text + gs, ge >= gs ? ge - gs : 0) != 0 ||
                rx_buf_puts(d, len, cap, "\"}") != 0)
                return -1;
            listed = 1;
        }
    }
    return rx_buf_puts(d, len, cap, "]}");
}

/* Each match is written as it is found, straight from its span and the
 * working capture record, into a block of the call's own; the block becomes
 * the thread's answer only when the whole walk succeeded, so a failure
 * part way (the budget, memory) leaves the previous answer as it was. */
extern "C" RX_API const char *rx_test(const char *pattern, const char *text) {
    rx_clear_error();
    if (missing(pattern, "null pattern") || missing(text, "null text")) return nullptr;
    match_walk walk;
    if (walk_begin(&walk, pattern, text) != 0) return nullptr;

    char *data;
    uint64_t length, capacity;
    rx_tls_take_spare(&data, &length, &capacity);
    uint64_t s = 0, e = 0;
    int first = 1;
    int found = 0, r = rx_buf_puts(&data, &length, &capacity, "{\"matches\":[");
    while (r == 0 && (found = walk_next(&walk, &s, &e)) > 0) {
        r = append_match(&data, &length, &capacity, text, s, e, walk_caps(&walk), first);
        first = 0;
    }
    if (r == 0 && found == 0) r = rx_buf_puts(&data, &length, &capacity, "]}");
    walk_end(&walk);
    if (found < 0) return drop_answer(data);
    return finish_answer(r, data, length, capacity);
}

/* ---- replacement ---------------------------------------------------------------------- */

/* The answer is written while the matches are found: the text between
 * matches and the replacement go through the quoting as they come, so
 * there is no unquoted copy of the result. The replacement is literal:
 * a "$" or a "\" in it is an ordinary byte. */
extern "C" RX_API const char *rx_replace_preview(const char *pattern, const char *text,
                                                 const char *replacement) {
    rx_clear_error();
    if (missing(pattern, "null pattern") || missing(text, "null text") ||
        missing(replacement, "null replacement"))
        return nullptr;
    match_walk walk;
    if (walk_begin(&walk, pattern, text) != 0) return nullptr;

    uint64_t rlen = strlen(replacement);
    char *data;
    uint64_t length, capacity;
    rx_tls_take_spare(&data, &length, &capacity);
    uint64_t copied = 0; /* the text before this offset is in the answer */
    uint64_t s = 0, e = 0;
    int32_t count = 0;
    int found = 0, r = rx_buf_puts(&data, &length, &capacity, "{\"result\":\"");
    while (r == 0 && (found = walk_next(&walk, &s, &e)) > 0) {
        r = json_append_escaped(&data, &length, &capacity, text + copied, s - copied);
        if (r == 0) r = json_append_escaped(&data, &length, &capacity, replacement, rlen);
        copied = e;
        count++;
    }
    if (r == 0 && found == 0) {
        r = json_append_escaped(&data, &length, &capacity, text + copied, walk.n - copied);
        if (r == 0) r = rx_buf_puts(&data, &length, &capacity, "\",\"count\":");
        if (r == 0) r = rx_buf_put_int(&data, &length, &capacity, count);
        if (r == 0) r = rx_buf_putc(&data, &length, &capacity, '}');
    }
    walk_end(&walk);
    if (found < 0) return drop_answer(data);
    return finish_answer(r, data, length, capacity);
}

/* ---- pattern generation ------------------------------------------------------------------ */

/* yyjson allocates through the library's seam, so its failures are
 * reported as "out of memory" like every other. */
static void *json_alloc(void *ctx, size_t size) {
    (void)ctx;
    return rx_malloc(size);
}
static void *json_realloc(void *ctx, void *block, size_t old_size, size_t size) {
    (void)ctx;
    (void)old_size;
    return rx_realloc(block, size);
}
static void json_release(void *ctx, void *block) {
    (void)ctx;
    free(block);
}

static void free_examples(char **examples, int count) {
    for (int i = 0; i < count; i++) free(examples[i]);
}

/* Reads the examples array into heap copies. 0 with *count set, or -1 with
 * the reason in the error slot and nothing left allocated. Elements are
 * checked in order, so the first offending one decides the message. */
static int read_examples(const char *json, char **examples, int *count) {
    const yyjson_alc alc = {json_alloc, json_realloc, json_release, nullptr};
    yyjson_read_err read_err;
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(json), strlen(json), 0, &alc, &read_err);
    if (doc == nullptr) {
        if (read_err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION)
            rx_set_error("out of memory");
        else
            rx_set_error("invalid JSON");
        return -1;
    }
    int made = 0;
    yyjson_val *root = yyjson_doc_get_root(doc);
    size_t size; /* no initialisers: the jumps to fail pass these */
    yyjson_arr_iter iter;
    yyjson_val *elem;
    if (root == nullptr || !yyjson_is_arr(root)) {
        rx_set_error("examples_json must be a JSON array of strings");
        goto fail;
    }
    size = yyjson_arr_size(root);
    if (size < 1) {
        rx_set_error("empty examples array");
        goto fail;
    }
    if (size > MAX_EXAMPLES) {
        rx_set_error("too many examples (max %d)", MAX_EXAMPLES);
        goto fail;
    }
    iter = yyjson_arr_iter_with(root);
    while ((elem = yyjson_arr_iter_next(&iter)) != nullptr) {
        if (!yyjson_is_str(elem)) {
            rx_set_error("example %d is not a string", made);
            goto fail;
        }
        size_t len = yyjson_get_len(elem);
        const char *bytes = yyjson_get_str(elem);
        /* The inference reads examples as NUL-terminated texts, so an
         * example holding a NUL byte could not be matched as given. */
        if (memchr(bytes, '\0', len) != nullptr) {
            rx_set_error("example %d contains a NUL byte", made);
            goto fail;
        }
        if (len > MAX_EXAMPLE_BYTES) {
            rx_set_error("example %d exceeds %d bytes", made, MAX_EXAMPLE_BYTES);
            goto fail;
        }
        char *copy = static_cast<char *>(rx_malloc(len + 1));
        if (copy == nullptr) {
            rx_set_error("out of memory");
            goto fail;
        }
        memcpy(copy, bytes, len);
        copy[len] = '\0';
        examples[made++] = copy;
    }
    yyjson_doc_free(doc);
    *count = made;
    return 0;

fail:
    free_examples(examples, made);
    yyjson_doc_free(doc);
    return -1;
}

extern "C" RX_API const char *rx_generate(const char *examples_json) {
    rx_clear_error();
    if (examples_json == nullptr) {
        rx_set_error("null examples_json");
        return nullptr;
    }
    char *examples[MAX_EXAMPLES] = {};
    int count = 0;
    if (read_examples(examples_json, examples, &count) != 0) return nullptr;

    char *compact = nullptr, *verbose = nullptr;
    int r = rx_infer_pattern(examples, count, &compact, &verbose);
    free_examples(examples, count);
    if (r != 0) return nullptr;

    char msg[MSG_SIZE];
    int compiled = rx_engine_compile_ok(compact, msg, sizeof msg);
    if (compiled != 0) {
        if (compiled == RX_OUT_OF_MEMORY)
            rx_set_error("out of memory");
        else
            rx_set_error("synthesized pattern rejected by matcher: %s (pat=%s)", msg, compact);
        free(compact);
        free(verbose);
        return nullptr;
    }
    char *data = nullptr;
    uint64_t length = 0, capacity = 0;
    r = rx_buf_puts(&data, &length, &capacity, "{\"pattern\":");
    if (r == 0) r = json_append_quoted(&data, &length, &capacity, compact, strlen(compact));
    if (r == 0) r = rx_buf_puts(&data, &length, &capacity, ",\"verbose\":");
    if (r == 0) r = json_append_quoted(&data, &length, &capacity, verbose, strlen(verbose));
    if (r == 0) r = rx_buf_putc(&data, &length, &capacity, '}');
    free(compact);
    free(verbose);
    return finish_answer(r, data, length, capacity);
}
