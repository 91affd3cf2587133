/*
 * Platform layer: the few things that differ between the Linux shared
 * library and the Windows DLL. Everything else in the library is plain
 * portable C++ and goes through this header for:
 *   - RX_THREAD_LOCAL, the storage class of per-thread state. Per-thread
 *     variables are kept trivially constructible and destructible (plain
 *     values and pointers), which every toolchain handles, emulated TLS
 *     included;
 *   - release of a thread's heap blocks when the thread ends;
 *   - the lock that serialises writes to the process-wide error slot;
 *   - searches for a byte string, and for a letter in either case, in a
 *     block (SSE2 where the target has it), and for a byte in a
 *     NUL-terminated text.
 * The DLL entry point lives in rx_platform.cpp and does nothing but
 * report success.
 */
#ifndef RX_PLATFORM_H
#define RX_PLATFORM_H

#include <stddef.h>

#define RX_THREAD_LOCAL thread_local

/*
 * A function that releases the calling thread's heap blocks. Each module
 * that hangs heap blocks off per-thread variables registers one with
 * rx_thread_cleanup_arm every time it allocates such a block (cheap after
 * the first call on a thread); the layer calls every registered function
 * once when the thread ends. At most RX_MAX_THREAD_CLEANUPS functions exist.
 * Returns 0, or -1 when the release cannot be arranged (the block then
 * simply lives as long as the process, as the thread's answer always may).
 */
typedef void (*rx_thread_cleanup_fn)(void);
#define RX_MAX_THREAD_CLEANUPS 4
int rx_thread_cleanup_arm(rx_thread_cleanup_fn fn);

/* A spin lock with static initialisation (no constructor, no allocation),
 * held only while a short message is formatted into the error slot. */
void rx_error_lock(void);
void rx_error_unlock(void);

/* The first occurrence of the m bytes of needle (m >= 1) in the n bytes of
 * hay, or null; at (below m) is the index of the needle's byte that memchr
 * looks for, best its least common. */
const void *rx_find_bytes(const void *hay, size_t n, const void *needle, size_t m, size_t at);

/* The first byte c at or after text, or its terminating NUL. */
const char *rx_find_byte_or_end(const char *text, char c);
#if defined(__wasm_simd128__)
/* Its WebAssembly body (rx_platform_wasm.cpp). */
const char *rx_wasm_find_byte_or_end(const char *text, char c);
#endif

/* The first byte of the n at hay that is the lower-case letter lower or its
 * capital, or null. */
const void *rx_find_byte_folded(const void *hay, size_t n, unsigned char lower);

/* One byte to look for at an offset: b itself, or with fold set either case
 * of the lower-case letter b. */
typedef struct rx_byte_at {
    size_t offset;
    unsigned char b;
    int fold;
} rx_byte_at;

/* The first i below count where both bytes are found at i + their offsets,
 * or count. The caller guarantees the bytes up to count - 1 + the larger
 * offset can be read. */
size_t rx_find_pair(const unsigned char *t, size_t count, rx_byte_at one, rx_byte_at two);

/* The first i below n where t[i] is one of the count bytes (1 to 8), or n;
 * with a second set (count2 of 1 to 8, else 0), also t[i + 1] one of its
 * bytes (the caller guarantees t[n] can be read). */
size_t rx_find_any_of(const unsigned char *t, size_t n, const unsigned char *bytes, int count,
                      const unsigned char *bytes2, int count2);

#endif /* RX_PLATFORM_H */
