/*
 * Platform layer: release of per-thread heap blocks at thread end, the lock
 * around the error slot, and (on Windows) the DLL entry point.
 *
 * Per-thread state itself is plain RX_THREAD_LOCAL values and pointers; the
 * heap blocks they point to (the thread's answer buffer, the matcher's work
 * stack) are released by cleanup functions that their modules register
 * here. On POSIX systems a thread-specific key with a destructor calls them
 * when the thread exits. The main thread's blocks stay reachable until the
 * process ends.
 */
#include "rx_platform.h"

#include <atomic>

#if defined(_WIN32)
#  define WIN32_LEAN_AND_MEAN
#  include <windows.h>
#else
#  include <pthread.h>
#  include <sched.h>
#endif

/* Registered cleanup functions; a slot once filled is never emptied. */
static std::atomic<rx_thread_cleanup_fn> g_cleanups[RX_MAX_THREAD_CLEANUPS];

/* Adds fn to the registry unless it is there; -1 when the registry is full. */
static int register_cleanup(rx_thread_cleanup_fn fn) {
    for (int i = 0; i < RX_MAX_THREAD_CLEANUPS; i++) {
        rx_thread_cleanup_fn cur = g_cleanups[i].load(std::memory_order_acquire);
        if (cur == fn) return 0;
        if (cur == nullptr) {
            rx_thread_cleanup_fn expected = nullptr;
            if (g_cleanups[i].compare_exchange_strong(expected, fn,
                                                      std::memory_order_acq_rel))
                return 0;
            if (expected == fn) return 0;
        }
    }
    return -1;
}

/* Calls every registered cleanup function for the calling thread. */
static void run_cleanups(void) {
    for (int i = 0; i < RX_MAX_THREAD_CLEANUPS; i++) {
        rx_thread_cleanup_fn fn = g_cleanups[i].load(std::memory_order_acquire);
        if (fn != nullptr) fn();
    }
}

#if defined(_WIN32)

/* Windows: blocks live until the process ends; the entry point does no
 * work for any reason. */
int rx_thread_cleanup_arm(rx_thread_cleanup_fn fn) {
    return register_cleanup(fn);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

#else

static pthread_key_t g_cleanup_key;
static pthread_once_t g_cleanup_once = PTHREAD_ONCE_INIT;
static int g_cleanup_key_ok;

/* 1 once this thread's key value is set, so its destructor will run. */
static RX_THREAD_LOCAL int t_cleanup_armed;

static void thread_exit(void *value) {
    (void)value;
    run_cleanups();
    t_cleanup_armed = 0;
}

static void make_cleanup_key(void) {
    g_cleanup_key_ok = pthread_key_create(&g_cleanup_key, thread_exit) == 0;
}

int rx_thread_cleanup_arm(rx_thread_cleanup_fn fn) {
    if (register_cleanup(fn) != 0) return -1;
    if (t_cleanup_armed) return 0;
    pthread_once(&g_cleanup_once, make_cleanup_key);
    if (!g_cleanup_key_ok) return -1;
    /* Any non-null value makes the destructor run at thread exit. */
    if (pthread_setspecific(g_cleanup_key, &t_cleanup_armed) != 0) return -1;
    t_cleanup_armed = 1;
    return 0;
}

#endif

static std::atomic_flag g_error_lock = ATOMIC_FLAG_INIT;

void rx_error_lock(void) {
    while (g_error_lock.test_and_set(std::memory_order_acquire)) {
#if defined(_WIN32)
        SwitchToThread();
#else
        sched_yield();
#endif
    }
}

void rx_error_unlock(void) {
    g_error_lock.clear(std::memory_order_release);
}
