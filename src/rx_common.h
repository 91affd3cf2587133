/*
 * Shared facilities of the library (rx_common.cpp):
 *   - the allocation seam every heap block of the library goes through;
 *   - the process-wide error slot (rx_set_error, rx_clear_error);
 *   - the per-thread result text that exported functions answer from
 *     (rx_tls_put_json, rx_tls_printf_json);
 *   - rx_buf, a growable NUL-terminated byte buffer held as three variables;
 *   - rx_arena, blocks released all at once;
 *   - the reader of a pattern's leading flag group.
 * None of these throws; failures are reported by result.
 */
#ifndef RX_COMMON_H
#define RX_COMMON_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__GNUC__)
#  define RX_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#  define RX_PRINTF(f, a)
#endif

/* 1 where a word loaded from memory holds its bytes in text order from the
 * lowest up (little-endian) and the compiler's bit-scan builtins exist; the
 * JSON quoting then skips to the first byte to escape in a word at once. */
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#  define RX_WORDS_IN_TEXT_ORDER 1
#else
#  define RX_WORDS_IN_TEXT_ORDER 0
#endif

/* ---- allocation seam ----------------------------------------------------
 * Every block the library allocates comes from these and is released with
 * free (rx_free is free). In a build with RX_ALLOC_SEAM defined, a test can
 * make the k-th allocation from now on, counted on the calling thread, fail
 * (rx_alloc_fail_at), or the k-th and every later one (rx_alloc_fail_from). */
void *rx_malloc(size_t size);
void *rx_calloc(size_t count, size_t size);
void *rx_realloc(void *block, size_t size);
char *rx_strdup(const char *s);
void rx_free(void *block);

#if defined(RX_ALLOC_SEAM)
/* Fail the k-th allocation (k >= 1) made on this thread from now on, and
 * only that one; k = 0 disarms either mode. */
void rx_alloc_fail_at(long k);
/* Fail the k-th allocation (k >= 1) made on this thread from now on and
 * every one after it, as a process that has run out of memory for good
 * would see; k = 0 disarms either mode. */
void rx_alloc_fail_from(long k);
/* Number of allocations made on this thread since the last arm/disarm,
 * the refused ones included. */
long rx_alloc_count(void);
#endif

/* ---- error slot --------------------------------------------------------- */
#define RX_ERR_SIZE 512
/* Formats into the process-wide slot, cut to 511 bytes; replaces it whole. */
void rx_set_error(const char *format, ...) RX_PRINTF(1, 2);
void rx_clear_error(void);
/* rx_last_error (exported) is declared in the public header. */

/* ---- per-thread result text --------------------------------------------- */
/* Copies len bytes of text into the calling thread's result buffer and
 * returns it; null with "null JSON" or "out of memory for JSON buffer" in
 * the error slot, the previous answer intact. */
const char *rx_tls_put_json(const char *text, uint64_t len);
/* Makes the rx_buf block (data, len, capacity; data not null) the calling
 * thread's answer: the block takes the buffer's place (resized to the
 * capacity the growth rule gives, unless it has it already) or, when the
 * present buffer has that capacity and the block does not, the text is
 * copied into the buffer. So the buffer's capacities are those that
 * rx_tls_put_json gives. The block belongs to this function; the one of
 * the two left over is kept for rx_tls_take_spare. Null with "out of
 * memory for JSON buffer" when the block cannot be resized; the previous
 * answer is then intact. */
const char *rx_tls_adopt_json(char *data, uint64_t len, uint64_t capacity);
/* Starts an rx_buf (data, length, capacity) for an answer to be handed to
 * rx_tls_adopt_json: the block that the thread's last handed-over answer
 * replaced (up to 64 MiB), emptied, so that a thread answering often
 * writes into memory it already has; an empty buffer when there is none.
 * The block belongs to the caller from then on. */
void rx_tls_take_spare(char **data, uint64_t *length, uint64_t *capacity);
/* Formats, then stores as rx_tls_put_json does; null with "out of memory"
 * or "vsnprintf failed". */
const char *rx_tls_printf_json(const char *format, ...) RX_PRINTF(1, 2);
/* Capacity of the calling thread's result buffer (0 before its first
 * answer); for tests of the growth rule. */
uint64_t rx_tls_json_capacity(void);

/* ---- rx_buf ---------------------------------------------------------------
 * A buffer is three variables: data (null while empty), length, capacity.
 * Once data is non-null, data[length] is NUL and length + 1 <= capacity.
 * Capacity starts at 64 and doubles. All return 0, or -1 when memory ran
 * out (bytes appended before the failure stay, still terminated).
 * The appends that fit the block are written here, inline; the growth and
 * its byte-by-byte failure rule live in rx_buf_putn_grow. */
int rx_buf_putn_grow(char **data, uint64_t *length, uint64_t *capacity, const char *bytes, uint64_t count);

int rx_buf_reserve_grow(char **data, uint64_t *length, uint64_t *capacity, uint64_t count);

/* Makes room for count more bytes and the terminator, growing as appends
 * would (doubling from 64); the text stays as it was. A caller may then
 * write up to count bytes after the text itself, move length on and
 * terminate the text. */
static inline int rx_buf_reserve(char **data, uint64_t *length, uint64_t *capacity, uint64_t count) {
    if (*length + count < *capacity) return 0;
    return rx_buf_reserve_grow(data, length, capacity, count);
}

/* Appends count bytes from bytes (which may hold NUL bytes). */
static inline int rx_buf_putn(char **data, uint64_t *length, uint64_t *capacity, const char *bytes,
                              uint64_t count) {
    /* Room for the bytes and the terminator; an empty buffer has none. */
    if (*length + count < *capacity) {
        memcpy(*data + *length, bytes, static_cast<size_t>(count));
        *length += count;
        (*data)[*length] = '\0';
        return 0;
    }
    return rx_buf_putn_grow(data, length, capacity, bytes, count);
}

static inline int rx_buf_putc(char **data, uint64_t *length, uint64_t *capacity, int byte) {
    char c = static_cast<char>(byte);
    return rx_buf_putn(data, length, capacity, &c, 1);
}

static inline int rx_buf_puts(char **data, uint64_t *length, uint64_t *capacity, const char *string) {
    return rx_buf_putn(data, length, capacity, string, strlen(string));
}

/* Writes value in decimal at out, the bytes "%d" would print but no
 * terminator, and returns their number (at most 11, "-2147483648"). */
uint64_t rx_format_int(char *out, int32_t value);
/* Appends value in decimal, the bytes "%d" would print. */
int rx_buf_put_int(char **data, uint64_t *length, uint64_t *capacity, int32_t value);
int rx_buf_printf(char **data, uint64_t *length, uint64_t *capacity, const char *format, ...) RX_PRINTF(4, 5);
void rx_buf_free(char *data);

/* ---- arena ---------------------------------------------------------------
 * Zero-filled blocks carved in order from larger chunks and released all at
 * once: the nodes of a prepared pattern's tree and the tables made with it
 * live and die together, so a tree costs a few allocations, not one per
 * node. The first chunk holds about first bytes; each later one twice the
 * one before. An arena starts all zero. */
typedef struct rx_arena_chunk rx_arena_chunk;
typedef struct rx_arena {
    rx_arena_chunk *chunk; /* the chunk blocks come from, whose next is the one before */
    size_t first;          /* bytes the first chunk is made for (0: a default) */
} rx_arena;

/* A zero-filled block of size bytes aligned for any of the library's
 * records, or null when memory ran out. */
void *rx_arena_alloc(rx_arena *arena, size_t size);
/* Releases every block of the arena; it may be used again. */
void rx_arena_release(rx_arena *arena);

/* ---- pattern flags ---------------------------------------------------------
 * Set only by the leading flag group; one set of flags holds for the whole
 * pattern. */
#define RX_FLAG_I 1u /* ASCII letters compare without regard to case */
#define RX_FLAG_M 2u /* ^ and $ also match at line feeds */
#define RX_FLAG_S 4u /* . also matches a line feed */

/* ---- leading flag group ---------------------------------------------------
 * Length of the leading "(?ims)" style group of a pattern, 0 when there is
 * none; its flags (RX_FLAG_I/M/S) through flags when non-null (0 then). */
uint64_t rx_parse_leading_flags(const char *pattern, uint32_t *flags);

#endif /* RX_COMMON_H */
