/*
 * Shared facilities: the allocation seam, the process-wide error slot, the
 * per-thread result text, the growable text buffer rx_buf and the reader of
 * a pattern's leading flag group. Every other source of the library builds
 * on these; none of them writes the error slot except the error functions
 * and the two result-text functions.
 */
#include "rx_common.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kelvaron_regex.h"
#include "rx_platform.h"

/* ---- allocation seam ------------------------------------------------------ */

#if defined(RX_ALLOC_SEAM)
/* Allocation number that fails (0: none), whether every later one fails
 * too, and allocations counted since the seam was last armed, all for the
 * calling thread only. */
static RX_THREAD_LOCAL long t_fail_at;
static RX_THREAD_LOCAL int t_fail_rest;
static RX_THREAD_LOCAL long t_alloc_count;

void rx_alloc_fail_at(long k) {
    t_fail_at = k;
    t_fail_rest = 0;
    t_alloc_count = 0;
}

void rx_alloc_fail_from(long k) {
    t_fail_at = k;
    t_fail_rest = 1;
    t_alloc_count = 0;
}

long rx_alloc_count(void) { return t_alloc_count; }

/* 1 when the allocation about to be made must fail. */
static int seam_refuses(void) {
    t_alloc_count++;
    if (t_fail_at <= 0) return 0;
    return t_fail_rest ? t_alloc_count >= t_fail_at : t_alloc_count == t_fail_at;
}
#else
static inline int seam_refuses(void) { return 0; }
#endif

void *rx_malloc(size_t size) {
    if (seam_refuses()) return nullptr;
    return malloc(size);
}

void *rx_calloc(size_t count, size_t size) {
    if (seam_refuses()) return nullptr;
    return calloc(count, size);
}

void *rx_realloc(void *block, size_t size) {
    if (seam_refuses()) return nullptr;
    return realloc(block, size);
}

char *rx_strdup(const char *s) {
    size_t n = strlen(s) + 1;
    char *copy = static_cast<char *>(rx_malloc(n));
    if (copy != nullptr) memcpy(copy, s, n);
    return copy;
}

void rx_free(void *block) { free(block); }

/* ---- error slot -------------------------------------------------------------
 * One text for the whole process. Messages are formatted on the caller's
 * stack first and copied in under a lock, so concurrent writers never
 * interleave their bytes. */

static char g_err[RX_ERR_SIZE];

void rx_set_error(const char *format, ...) {
    char message[RX_ERR_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) message[0] = '\0';
    rx_error_lock();
    memcpy(g_err, message, strlen(message) + 1);
    rx_error_unlock();
}

void rx_clear_error(void) {
    rx_error_lock();
    g_err[0] = '\0';
    rx_error_unlock();
}

extern "C" RX_API const char *rx_last_error(void) { return g_err; }

/* ---- per-thread result text ------------------------------------------------ */

#define JSON_FIRST_CAP 8192u
#define JSON_DOUBLING_LIMIT 1073741824u /* 1 GiB */
#define PRINTF_SCRATCH 4096

/* The calling thread's last answer (null until its first) and its size. */
static RX_THREAD_LOCAL char *g_json;
static RX_THREAD_LOCAL uint64_t g_json_cap;

/* The block that the last handed-over answer replaced, kept so that the
 * next answer can be built in memory already in use instead of fresh
 * pages; null when there is none or a call is building in it. Blocks above
 * JSON_SPARE_LIMIT are released rather than kept. */
static RX_THREAD_LOCAL char *g_json_spare;
static RX_THREAD_LOCAL uint64_t g_json_spare_cap;
#define JSON_SPARE_LIMIT 67108864u /* 64 MiB */

static void release_thread_json(void) {
    free(g_json);
    g_json = nullptr;
    g_json_cap = 0;
    free(g_json_spare);
    g_json_spare = nullptr;
    g_json_spare_cap = 0;
}

/* Keeps a block no longer needed as the spare, or releases it. */
static void keep_spare(char *block, uint64_t capacity) {
    if (block == nullptr) return;
    if (g_json_spare != nullptr || capacity > JSON_SPARE_LIMIT) {
        free(block);
        return;
    }
    g_json_spare = block;
    g_json_spare_cap = capacity;
    rx_thread_cleanup_arm(release_thread_json);
}

void rx_tls_take_spare(char **data, uint64_t *length, uint64_t *capacity) {
    *data = g_json_spare;
    *length = 0;
    *capacity = g_json_spare != nullptr ? g_json_spare_cap : 0;
    if (*data != nullptr) (*data)[0] = '\0';
    g_json_spare = nullptr;
    g_json_spare_cap = 0;
}

uint64_t rx_tls_json_capacity(void) { return g_json_cap; }

/* Capacity for an answer of need bytes (terminator included) when the
 * present block is too small: 8192 first, then doubling from the present
 * capacity (or 8192) until it fits; past 1 GiB of doubling, exactly need. */
static uint64_t json_capacity_for(uint64_t cap, uint64_t need) {
    if (cap == 0 && need <= JSON_FIRST_CAP) return JSON_FIRST_CAP;
    uint64_t v = cap != 0 ? cap : JSON_FIRST_CAP;
    while (v <= JSON_DOUBLING_LIMIT) {
        v *= 2;
        if (v >= need) return v;
    }
    return need;
}

const char *rx_tls_put_json(const char *text, uint64_t len) {
    if (text == nullptr) {
        rx_set_error("null JSON");
        return nullptr;
    }
    uint64_t need = len + 1;
    if (g_json_cap < need) {
        uint64_t cap = json_capacity_for(g_json_cap, need);
        if (cap > SIZE_MAX) {
            rx_set_error("out of memory for JSON buffer");
            return nullptr;
        }
        char *block = static_cast<char *>(rx_realloc(g_json, static_cast<size_t>(cap)));
        if (block == nullptr) {
            rx_set_error("out of memory for JSON buffer");
            return nullptr;
        }
        g_json = block;
        g_json_cap = cap;
        /* The block outlives the call: release it when the thread ends. */
        rx_thread_cleanup_arm(release_thread_json);
    }
    memcpy(g_json, text, static_cast<size_t>(len));
    g_json[len] = '\0';
    return g_json;
}

/* The block takes the place of the thread's buffer when the growth rule
 * asks for a new capacity, or when it already has the present capacity (a
 * large answer of the same size class as the last one is then not copied);
 * otherwise its text is copied into the present buffer. The block left
 * over is kept as the spare. */
const char *rx_tls_adopt_json(char *data, uint64_t len, uint64_t capacity) {
    uint64_t need = len + 1;
    if (g_json_cap >= need && capacity != g_json_cap) {
        const char *answer = rx_tls_put_json(data, len);
        keep_spare(data, capacity);
        return answer;
    }
    uint64_t cap = g_json_cap >= need ? g_json_cap : json_capacity_for(g_json_cap, need);
    if (cap != capacity) {
        char *block =
            cap <= SIZE_MAX ? static_cast<char *>(rx_realloc(data, static_cast<size_t>(cap))) : nullptr;
        if (block == nullptr) {
            free(data);
            rx_set_error("out of memory for JSON buffer");
            return nullptr;
        }
        data = block;
    }
    keep_spare(g_json, g_json_cap);
    g_json = data;
    g_json_cap = cap;
    g_json[len] = '\0';
    rx_thread_cleanup_arm(release_thread_json);
    return g_json;
}

const char *rx_tls_printf_json(const char *format, ...) {
    size_t size = PRINTF_SCRATCH;
    for (;;) {
        char *scratch = static_cast<char *>(rx_malloc(size));
        if (scratch == nullptr) {
            rx_set_error("out of memory");
            return nullptr;
        }
        va_list args;
        va_start(args, format);
        int n = vsnprintf(scratch, size, format, args);
        va_end(args);
        if (n < 0) {
            free(scratch);
            rx_set_error("vsnprintf failed");
            return nullptr;
        }
        if (static_cast<size_t>(n) < size) {
            const char *result = rx_tls_put_json(scratch, static_cast<uint64_t>(n));
            free(scratch);
            return result;
        }
        free(scratch);
        size = static_cast<size_t>(n) + 1;
    }
}

/* ---- rx_buf ------------------------------------------------------------------ */

/* The capacity doubles (64 to start) until it is above length + count; -1
 * leaves the buffer as it was. */
int rx_buf_reserve_grow(char **data, uint64_t *length, uint64_t *capacity, uint64_t count) {
    uint64_t cap = *capacity != 0 ? *capacity * 2 : 64;
    while (cap <= *length + count) cap *= 2;
    if (cap > SIZE_MAX) return -1;
    char *block = static_cast<char *>(rx_realloc(*data, static_cast<size_t>(cap)));
    if (block == nullptr) return -1;
    block[*length] = '\0'; /* a first block has no text yet */
    *data = block;
    *capacity = cap;
    return 0;
}

/* Appends as rx_buf_putc would byte by byte (the same capacities, and on a
 * failed growth the same bytes left appended), but copies whole stretches
 * between growths. */
int rx_buf_putn_grow(char **data, uint64_t *length, uint64_t *capacity, const char *bytes, uint64_t count) {
    while (count > 0) {
        if (!(*length + 1 < *capacity) && rx_buf_reserve_grow(data, length, capacity, 1) != 0) return -1;
        uint64_t room = *capacity - 1 - *length;
        uint64_t take = room < count ? room : count;
        memcpy(*data + *length, bytes, static_cast<size_t>(take));
        *length += take;
        (*data)[*length] = '\0';
        bytes += take;
        count -= take;
    }
    return 0;
}

/* Writes v (below 10,000) as exactly count digits (1 to 4) at out. */
static void small_digits(char *out, uint32_t v, uint64_t count) {
    static const char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    switch (count) {
    case 4:
        memcpy(out, pairs + 2 * (v / 100), 2);
        memcpy(out + 2, pairs + 2 * (v % 100), 2);
        break;
    case 3:
        out[0] = static_cast<char>('0' + v / 100);
        memcpy(out + 1, pairs + 2 * (v % 100), 2);
        break;
    case 2: memcpy(out, pairs + 2 * v, 2); break;
    default: out[0] = static_cast<char>('0' + v); break;
    }
}

/* The digits are counted first by comparisons, which do not wait on each
 * other (so a caller writing numbers one after another knows where the
 * next goes early), and then written four at a time from the right. */
uint64_t rx_format_int(char *out, int32_t value) {
    /* The magnitude in unsigned arithmetic, where INT32_MIN has one too. */
    uint32_t rest = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char *at = out;
    if (value < 0) *at++ = '-';
    uint64_t digits = 1 + (rest >= 10u) + (rest >= 100u) + (rest >= 1000u) + (rest >= 10000u) +
                      (rest >= 100000u) + (rest >= 1000000u) + (rest >= 10000000u) + (rest >= 100000000u) +
                      (rest >= 1000000000u);
    uint64_t size = static_cast<uint64_t>(at - out) + digits;
    char *end = at + digits;
    while (digits > 4) {
        small_digits(end - 4, rest % 10000, 4);
        rest /= 10000;
        end -= 4;
        digits -= 4;
    }
    small_digits(at, rest, digits);
    return size;
}

int rx_buf_put_int(char **data, uint64_t *length, uint64_t *capacity, int32_t value) {
    if (*length + 11 < *capacity) { /* room for any number: write it in place */
        *length += rx_format_int(*data + *length, value);
        (*data)[*length] = '\0';
        return 0;
    }
    char digits[11];
    return rx_buf_putn_grow(data, length, capacity, digits, rx_format_int(digits, value));
}

int rx_buf_printf(char **data, uint64_t *length, uint64_t *capacity, const char *format, ...) {
    char area[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(area, sizeof area, format, args);
    va_end(args);
    if (n < 0) return -1;
    if (static_cast<size_t>(n) < sizeof area) return rx_buf_puts(data, length, capacity, area);
    char *block = static_cast<char *>(rx_malloc(static_cast<size_t>(n) + 1));
    if (block == nullptr) return -1;
    va_start(args, format);
    vsnprintf(block, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    int result = rx_buf_puts(data, length, capacity, block);
    free(block);
    return result;
}

void rx_buf_free(char *data) { free(data); }

/* ---- leading flag group -----------------------------------------------------
 * "(?" then one or more of the letters i, m, s (repeats allowed), then ")".
 * Any other letter from "j" to "r" spoils the group; "(?:" and "(?" at the
 * end are no flag group. A spoiled group is read as ordinary pattern text. */
uint64_t rx_parse_leading_flags(const char *pattern, uint32_t *flags) {
    if (flags != nullptr) *flags = 0;
    if (pattern == nullptr || pattern[0] != '(' || pattern[1] != '?') return 0;
    if (pattern[2] == ':' || pattern[2] == '\0') return 0;
    uint32_t found = 0;
    uint64_t i = 2;
    while (pattern[i] >= 'i' && pattern[i] <= 's') {
        switch (pattern[i]) {
        case 'i': found |= RX_FLAG_I; break;
        case 'm': found |= RX_FLAG_M; break;
        case 's': found |= RX_FLAG_S; break;
        default: return 0;
        }
        i++;
    }
    if (i == 2 || pattern[i] != ')') return 0;
    if (flags != nullptr) *flags = found;
    return i + 1;
}

/* ---- arena ---------------------------------------------------------------- */

struct rx_arena_chunk {
    rx_arena_chunk *next; /* the chunk made before this one */
    size_t size;          /* bytes of room after the header */
    size_t used;          /* bytes handed out */
};

#define ARENA_ALIGN 16u
#define ARENA_HEADER ((sizeof(rx_arena_chunk) + ARENA_ALIGN - 1) / ARENA_ALIGN * ARENA_ALIGN)
#define ARENA_DEFAULT 4096u
#define ARENA_KEEP (static_cast<size_t>(64) << 20) /* the largest chunk a thread keeps */

/* The largest chunk released on this thread, kept zero-filled for the next
 * arena: fresh memory is costly to touch, and one call after another on a
 * thread prepares patterns of like sizes. */
static RX_THREAD_LOCAL rx_arena_chunk *g_spare_chunk;

static void release_spare_chunk(void) {
    free(g_spare_chunk);
    g_spare_chunk = nullptr;
}

/* A zero-filled chunk of at least room bytes after its header. */
static rx_arena_chunk *arena_chunk(size_t room) {
    rx_arena_chunk *c = g_spare_chunk;
    if (c != nullptr && c->size >= room) {
        g_spare_chunk = nullptr;
        return c;
    }
    if (room > SIZE_MAX - ARENA_HEADER) return nullptr;
    c = static_cast<rx_arena_chunk *>(rx_calloc(1, ARENA_HEADER + room));
    if (c != nullptr) c->size = room;
    return c;
}

void *rx_arena_alloc(rx_arena *arena, size_t size) {
    size = (size + ARENA_ALIGN - 1) / ARENA_ALIGN * ARENA_ALIGN;
    rx_arena_chunk *c = arena->chunk;
    if (c == nullptr || c->size - c->used < size) {
        size_t room = c != nullptr ? 2 * c->size : (arena->first > 0 ? arena->first : ARENA_DEFAULT);
        if (room < size) room = size;
        rx_arena_chunk *grown = arena_chunk(room);
        if (grown == nullptr) return nullptr;
        grown->next = c;
        arena->chunk = c = grown;
    }
    void *block = reinterpret_cast<char *>(c) + ARENA_HEADER + c->used;
    c->used += size;
    return block;
}

/* The largest chunk goes back to the thread, cleared, unless it is too big
 * to keep; the others are freed. */
void rx_arena_release(rx_arena *arena) {
    while (arena->chunk != nullptr) {
        rx_arena_chunk *c = arena->chunk;
        arena->chunk = c->next;
        if (c->size <= ARENA_KEEP && (g_spare_chunk == nullptr || g_spare_chunk->size < c->size)) {
            memset(reinterpret_cast<char *>(c) + ARENA_HEADER, 0, c->used);
            c->used = 0;
            c->next = nullptr;
            free(g_spare_chunk);
            g_spare_chunk = c;
            rx_thread_cleanup_arm(release_spare_chunk);
        } else {
            free(c);
        }
    }
}
