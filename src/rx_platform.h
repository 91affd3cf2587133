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
 *   - a search for a byte string in a block (the C library's memmem where
 *     there is one).
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
 * hay, or null. */
const void *rx_find_bytes(const void *hay, size_t n, const void *needle, size_t m);

#endif /* RX_PLATFORM_H */
