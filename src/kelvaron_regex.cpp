/*
 * The exported functions and the layer right behind them: JSON quoting,
 * the validation decision, match enumeration, replacement and the reading
 * of example lists for pattern generation.
 *
 * Every export follows one frame: clear the error slot, test the arguments
 * for null in declaration order, check that the pattern compiles, do the
 * work, build the whole JSON answer in an rx_buf, and copy it into the
 * calling thread's result buffer. rx_test and rx_replace_preview check the
 * pattern with the one parse their enumeration makes. A failing call stores nothing, so the
 * thread's previous answer survives it.
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

#define MSG_SIZE 256            /* message areas of the compile checks */
#define MAX_EXAMPLES 64
#define MAX_EXAMPLE_BYTES 4096

/* ---- JSON quoting ---------------------------------------------------------- */

/* Appends count bytes as the inside of a JSON string: '"' and '\' get a
 * backslash, LF CR TAB become \n \r \t, every other byte below 0x20 becomes
 * \u00xx in lower-case hex (never a short form such as \b or \f), and every
 * other byte, 0x7F and 0x80..0xFF included, passes unchanged. */
static int json_append_escaped(char **data, uint64_t *length, uint64_t *capacity,
                               const char *bytes, uint64_t count) {
    uint64_t plain = 0; /* start of the pending run of unescaped bytes */
    for (uint64_t i = 0; i < count; i++) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        if (rx_buf_putn(data, length, capacity, bytes + plain, i - plain) != 0) return -1;
        plain = i + 1;
        int r;
        switch (c) {
        case '"': r = rx_buf_puts(data, length, capacity, "\\\""); break;
        case '\\': r = rx_buf_puts(data, length, capacity, "\\\\"); break;
        case '\n': r = rx_buf_puts(data, length, capacity, "\\n"); break;
        case '\r': r = rx_buf_puts(data, length, capacity, "\\r"); break;
        case '\t': r = rx_buf_puts(data, length, capacity, "\\t"); break;
        default: r = rx_buf_printf(data, length, capacity, "\\u%04x", c); break;
        }
        if (r != 0) return -1;
    }
    return rx_buf_putn(data, length, capacity, bytes + plain, count - plain);
}

/* Appends the bytes quoted as a JSON string literal. */
static int json_append_quoted(char **data, uint64_t *length, uint64_t *capacity,
                              const char *bytes, uint64_t count) {
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
 * well (built is 0) the answer is stored as the thread's answer, otherwise
 * "out of memory" is reported; either way the buffer is released. */
static const char *finish_answer(int built, char *data, uint64_t length) {
    const char *answer = nullptr;
    if (built == 0)
        answer = rx_tls_put_json(data, length);
    else
        rx_set_error("out of memory");
    rx_buf_free(data);
    return answer;
}

/* 1 with the message in the error slot when the argument is null. The
 * exports test their arguments in declaration order, so the first null one
 * names the failure. */
static int missing(const char *argument, const char *message) {
    if (argument != nullptr) return 0;
    rx_set_error("%s", message);
    return 1;
}

/* The parser's message when a node could not be allocated. */
static int is_allocation_failure(const char *parser_message) {
    return strcmp(parser_message, "parse error") == 0;
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
        if (writable)
            snprintf(msg, static_cast<size_t>(msg_size), "NFA reject (engine ok): %.127s", second);
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
    if (rx_validate_pattern(pattern, msg, sizeof msg) == 0)
        return rx_tls_printf_json("{\"ok\":true}");
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

/* The arrays being collected; all grow together. */
typedef struct match_lists {
    int32_t *starts;
    int32_t *ends;
    char **texts;   /* null when no copies are wanted */
    rx_caps *caps;  /* null when no capture records are wanted */
    int32_t count;
    int32_t capacity;
} match_lists;

static void match_lists_free(match_lists *m) {
    if (m->texts != nullptr)
        for (int32_t i = 0; i < m->count; i++) free(m->texts[i]);
    free(m->starts);
    free(m->ends);
    free(m->texts);
    free(m->caps);
}

/* Grows every wanted array to twice its capacity (8 at first). An array
 * already resized keeps its new block even when a later one fails. */
static int match_lists_grow(match_lists *m, int want_texts, int want_caps) {
    int32_t cap = m->capacity == 0 ? 8 : m->capacity * 2;
    size_t n = static_cast<size_t>(cap);
    void *p = rx_realloc(m->starts, n * sizeof *m->starts);
    if (p == nullptr) return -1;
    m->starts = static_cast<int32_t *>(p);
    p = rx_realloc(m->ends, n * sizeof *m->ends);
    if (p == nullptr) return -1;
    m->ends = static_cast<int32_t *>(p);
    if (want_texts) {
        p = rx_realloc(m->texts, n * sizeof *m->texts);
        if (p == nullptr) return -1;
        m->texts = static_cast<char **>(p);
    }
    if (want_caps) {
        p = rx_realloc(m->caps, n * sizeof *m->caps);
        if (p == nullptr) return -1;
        m->caps = static_cast<rx_caps *>(p);
    }
    m->capacity = cap;
    return 0;
}

int rx_match_all_caps(const char *pattern, const char *text, int32_t **starts,
                      int32_t **ends, char ***texts, int32_t *count,
                      rx_caps **caps) {
    *starts = nullptr;
    *ends = nullptr;
    if (texts != nullptr) *texts = nullptr;
    *count = 0;
    if (caps != nullptr) *caps = nullptr;
    if (pattern == nullptr || text == nullptr) return -1;

    /* This parse is also the compile check of the exports that enumerate,
     * so it comes before the text's length is judged. */
    rx_prog prog;
    char err[RX_SEARCH_ERR_SIZE];
    if (rx_engine_prepare(pattern, &prog, err, sizeof err) != 0) {
        if (is_allocation_failure(err))
            rx_set_error("out of memory");
        else
            rx_set_error("invalid pattern: %s", err);
        return -1;
    }
    uint64_t n = strlen(text);
    if (n > RX_TEXT_LIMIT) {
        rx_engine_release(&prog);
        rx_set_error("text exceeds %d bytes", RX_TEXT_LIMIT);
        return -1;
    }

    match_lists m = {};
    rx_caps work;
    uint64_t offset = 0;
    int failed = 0;
    for (;;) {
        /* Each search clears the record before its first attempt. */
        uint64_t s = 0, e = 0;
        int r = rx_engine_find_prog(&prog, text, n, offset, &s, &e,
                                    caps != nullptr ? &work : nullptr);
        if (r < 0) {
            rx_set_error("%s", rx_engine_last_error());
            failed = 1;
            break;
        }
        if (r == 0) break;
        if (m.count == m.capacity &&
            match_lists_grow(&m, texts != nullptr, caps != nullptr) != 0) {
            rx_set_error("out of memory");
            failed = 1;
            break;
        }
        if (texts != nullptr) {
            char *copy = static_cast<char *>(rx_malloc(static_cast<size_t>(e - s) + 1));
            if (copy == nullptr) {
                rx_set_error("out of memory");
                failed = 1;
                break;
            }
            memcpy(copy, text + s, static_cast<size_t>(e - s));
            copy[e - s] = '\0';
            m.texts[m.count] = copy;
        }
        m.starts[m.count] = static_cast<int32_t>(s);
        m.ends[m.count] = static_cast<int32_t>(e);
        if (caps != nullptr) m.caps[m.count] = work;
        m.count++;
        /* A pattern that can match only at offset 0 has no further match. */
        if (prog.anchored) break;
        offset = e == s ? e + 1 : e;
        if (offset > n) break;
    }
    rx_engine_release(&prog);

    if (failed) {
        match_lists_free(&m);
        return -1;
    }
    *starts = m.starts;
    *ends = m.ends;
    if (texts != nullptr) *texts = m.texts;
    *count = m.count;
    if (caps != nullptr) *caps = m.caps;
    return 0;
}

int rx_match_all(const char *pattern, const char *text, int32_t **starts,
                 int32_t **ends, char ***texts, int32_t *count) {
    return rx_match_all_caps(pattern, text, starts, ends, texts, count, nullptr);
}

/* ---- match report ------------------------------------------------------------------ */

/* Appends the JSON piece label and then value in decimal. */
static int put_field(char **d, uint64_t *len, uint64_t *cap, const char *label, int32_t value) {
    if (rx_buf_puts(d, len, cap, label) != 0) return -1;
    return rx_buf_put_int(d, len, cap, value);
}

/* Appends one match object with its listed groups (set-flag non-zero, in
 * increasing number). A group whose end lies before its start shows the
 * empty text with both offsets as recorded. The numbers are written by
 * hand rather than with printf: a report may hold a great many of them. */
static int append_match(char **d, uint64_t *len, uint64_t *cap, const char *text,
                        int32_t start, int32_t end, const rx_caps *caps) {
    if (put_field(d, len, cap, "{\"start\":", start) != 0 ||
        put_field(d, len, cap, ",\"end\":", end) != 0 ||
        rx_buf_puts(d, len, cap, ",\"text\":") != 0 ||
        json_append_quoted(d, len, cap, text + start, static_cast<uint64_t>(end - start)) != 0 ||
        rx_buf_puts(d, len, cap, ",\"groups\":[") != 0)
        return -1;
    int listed = 0;
    for (int j = 1; j <= RX_MAX_GROUPS; j++) {
        if (!caps->set[j]) continue;
        uint64_t gs = caps->start[j], ge = caps->end[j];
        if (put_field(d, len, cap, listed ? ",{\"index\":" : "{\"index\":", j) != 0 ||
            put_field(d, len, cap, ",\"start\":", static_cast<int32_t>(gs)) != 0 ||
            put_field(d, len, cap, ",\"end\":", static_cast<int32_t>(ge)) != 0 ||
            rx_buf_puts(d, len, cap, ",\"text\":") != 0 ||
            json_append_quoted(d, len, cap, text + gs, ge >= gs ? ge - gs : 0) != 0 ||
            rx_buf_putc(d, len, cap, '}') != 0)
            return -1;
        listed = 1;
    }
    return rx_buf_puts(d, len, cap, "]}");
}

extern "C" RX_API const char *rx_test(const char *pattern, const char *text) {
    rx_clear_error();
    if (missing(pattern, "null pattern") || missing(text, "null text")) return nullptr;
    int32_t *starts, *ends, count;
    rx_caps *caps;
    if (rx_match_all_caps(pattern, text, &starts, &ends, nullptr, &count, &caps) != 0)
        return nullptr;

    char *data = nullptr;
    uint64_t length = 0, capacity = 0;
    int r = rx_buf_puts(&data, &length, &capacity, "{\"matches\":[");
    for (int32_t i = 0; r == 0 && i < count; i++) {
        if (i > 0) r = rx_buf_putc(&data, &length, &capacity, ',');
        if (r == 0) r = append_match(&data, &length, &capacity, text, starts[i], ends[i], &caps[i]);
    }
    if (r == 0) r = rx_buf_puts(&data, &length, &capacity, "]}");
    free(starts);
    free(ends);
    free(caps);
    return finish_answer(r, data, length);
}

/* ---- replacement ---------------------------------------------------------------------- */

int rx_replace_all(const char *pattern, const char *text, const char *replacement,
                   char **out_result, int32_t *out_count) {
    *out_result = nullptr;
    *out_count = 0;
    int32_t *starts, *ends, count;
    if (rx_match_all_caps(pattern, text, &starts, &ends, nullptr, &count, nullptr) != 0)
        return -1;
    if (replacement == nullptr) replacement = "";

    uint64_t n = strlen(text);
    uint64_t rlen = strlen(replacement);
    char *data = nullptr;
    uint64_t length = 0, capacity = 0;
    uint64_t copied = 0; /* the text before this offset is in the output */
    int r = 0;
    for (int32_t i = 0; r == 0 && i < count; i++) {
        uint64_t s = static_cast<uint64_t>(starts[i]);
        r = rx_buf_putn(&data, &length, &capacity, text + copied, s - copied);
        if (r == 0) r = rx_buf_putn(&data, &length, &capacity, replacement, rlen);
        copied = static_cast<uint64_t>(ends[i]);
    }
    if (r == 0) r = rx_buf_putn(&data, &length, &capacity, text + copied, n - copied);
    if (r == 0 && data == nullptr) {
        data = rx_strdup("");
        if (data == nullptr) r = -1;
    }
    free(starts);
    free(ends);
    if (r != 0) {
        rx_buf_free(data);
        rx_set_error("out of memory");
        return -1;
    }
    *out_result = data;
    *out_count = count;
    return 0;
}

extern "C" RX_API const char *rx_replace_preview(const char *pattern, const char *text,
                                                 const char *replacement) {
    rx_clear_error();
    if (missing(pattern, "null pattern") || missing(text, "null text") ||
        missing(replacement, "null replacement"))
        return nullptr;
    char *result;
    int32_t count;
    if (rx_replace_all(pattern, text, replacement, &result, &count) != 0) return nullptr;

    char *data = nullptr;
    uint64_t length = 0, capacity = 0;
    int r = rx_buf_puts(&data, &length, &capacity, "{\"result\":");
    if (r == 0) r = json_append_quoted(&data, &length, &capacity, result, strlen(result));
    if (r == 0) r = rx_buf_printf(&data, &length, &capacity, ",\"count\":%d}", count);
    free(result);
    return finish_answer(r, data, length);
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
    if (rx_engine_compile_ok(compact, msg, sizeof msg) != 0) {
        if (is_allocation_failure(msg))
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
    return finish_answer(r, data, length);
}
