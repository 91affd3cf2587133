/*
 * Platform layer: release of per-thread heap blocks at thread end, the lock
 * around the error slot, and (on Windows) the DLL entry point.
 *
 * Per-thread state itself is plain RX_THREAD_LOCAL values and pointers; the
 * heap blocks they point to (the thread's answer buffer, the matcher's work
 * stack) are released by cleanup functions that their modules register
 * here. On POSIX systems a thread-specific key with a destructor calls them
 * when the thread exits; on Windows a TLS callback of the module does (see
 * below for why not DllMain). The main thread's blocks stay reachable until
 * the process ends.
 */
#include "rx_platform.h"

#include <atomic>
#include <string.h>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

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
            if (g_cleanups[i].compare_exchange_strong(expected, fn, std::memory_order_acq_rel)) return 0;
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

/*
 * Windows. With mingw-w64, thread_local variables are emulated: each
 * thread's copies live in a heap array hung off a winpthreads key, and
 * winpthreads frees that array from its own TLS callback when the thread
 * ends. The loader calls a module's TLS callbacks before its entry point,
 * so by the time DllMain sees DLL_THREAD_DETACH every per-thread variable
 * reads as zero again (and reading one allocates a fresh copy that nobody
 * frees). The release therefore runs from a TLS callback of our own, placed
 * in section .CRT$XLE: the linker orders the callbacks by section name and
 * winpthreads' callback sits in .CRT$XLF, so ours runs first, while the
 * thread's variables still hold their blocks.
 *
 * A native TLS slot marks the threads that armed a release, so threads that
 * never called the library are not touched at all (no emulated copy is
 * created for them). Nothing is released when the module is unloaded or the
 * process ends: at process exit other threads have been killed, possibly
 * inside the heap, and a TLS callback cannot tell that exit from an unload.
 * The unloading thread's blocks (and those of threads still running then)
 * stay allocated, as the answer of a thread always may.
 */

/* TLS slot whose value is non-null on threads that armed a release;
 * TLS_OUT_OF_INDEXES until the first arm. */
static std::atomic<DWORD> g_armed_slot{TLS_OUT_OF_INDEXES};

/* The slot, allocated on first use; TLS_OUT_OF_INDEXES when none is left.
 * Two threads racing here both allocate, and the loser frees its own. */
static DWORD armed_slot(void) {
    DWORD slot = g_armed_slot.load(std::memory_order_acquire);
    if (slot != TLS_OUT_OF_INDEXES) return slot;
    DWORD fresh = TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES) return TLS_OUT_OF_INDEXES;
    DWORD expected = TLS_OUT_OF_INDEXES;
    if (g_armed_slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) return fresh;
    TlsFree(fresh);
    return expected;
}

/* The TLS functions reset the thread's last-error code; a host that reads
 * GetLastError after its own calls must not see ours, so it is kept. */
int rx_thread_cleanup_arm(rx_thread_cleanup_fn fn) {
    if (register_cleanup(fn) != 0) return -1;
    DWORD saved_error = GetLastError();
    int result = 0;
    DWORD slot = armed_slot();
    if (slot == TLS_OUT_OF_INDEXES) {
        result = -1;
    } else if (TlsGetValue(slot) == nullptr) {
        /* Any non-null value will do: the slot's own address. */
        if (!TlsSetValue(slot, &g_armed_slot)) result = -1;
    }
    SetLastError(saved_error);
    return result;
}

/* Runs for every module event; acts only when an armed thread ends. The
 * slot is freed when the module goes away, so that loading and unloading
 * the DLL again and again does not use up the process's TLS slots. */
static void NTAPI thread_end_callback(PVOID module, DWORD reason, PVOID reserved) {
    (void)module;
    (void)reserved;
    DWORD slot = g_armed_slot.load(std::memory_order_acquire);
    if (slot == TLS_OUT_OF_INDEXES) return;
    if (reason == DLL_THREAD_DETACH && TlsGetValue(slot) != nullptr) {
        run_cleanups();
        TlsSetValue(slot, nullptr);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_armed_slot.store(TLS_OUT_OF_INDEXES, std::memory_order_release);
        TlsFree(slot);
    }
}

/* The callback's entry in the image's TLS callback array (see above for
 * why .CRT$XLE). "used" keeps the otherwise unreferenced entry. */
extern "C" __attribute__((section(".CRT$XLE"), used)) const PIMAGE_TLS_CALLBACK rx_thread_end_callback_entry =
    thread_end_callback;

/* The entry point does no work for any reason. */
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

void rx_error_unlock(void) { g_error_lock.clear(std::memory_order_release); }

/* The C library's memmem where there is one; elsewhere memchr and memcmp. */
static const void *find_bytes_slow(const unsigned char *h, size_t n, const unsigned char *k, size_t m) {
#if defined(__GLIBC__)
    return memmem(h, n, k, m);
#else
    while (n >= m) {
        const void *first = memchr(h, k[0], n - m + 1);
        if (first == nullptr) return nullptr;
        size_t skipped = static_cast<size_t>(static_cast<const unsigned char *>(first) - h);
        h += skipped;
        n -= skipped;
        if (memcmp(h, k, m) == 0) return h;
        h++;
        n--;
    }
    return nullptr;
#endif
}

/*
 * memchr finds the needle's byte at index at (the caller's choice: its least
 * common), memcmp checks the rest. When the candidates come too thick (a
 * needle of common bytes, or a text of repeats) the rest of the hay goes to
 * find_bytes_slow, whose time is linear.
 */
const void *rx_find_bytes(const void *hay, size_t n, const void *needle, size_t m, size_t at) {
    const unsigned char *h = static_cast<const unsigned char *>(hay);
    const unsigned char *k = static_cast<const unsigned char *>(needle);
    if (m == 0 || n < m) return m == 0 ? hay : nullptr;
    size_t pos = 0, tried = 0; /* pos: first start not yet ruled out */
    while (pos <= n - m) {
        const void *hit = memchr(h + pos + at, k[at], n - m - pos + 1);
        if (hit == nullptr) return nullptr;
        size_t start = static_cast<size_t>(static_cast<const unsigned char *>(hit) - h) - at;
        if (memcmp(h + start, k, m) == 0) return h + start;
        pos = start + 1;
        if (++tried > 64 && tried * 16 > pos) return find_bytes_slow(h + pos, n - pos, k, m);
    }
    return nullptr;
}

/* glibc's strchrnul reads the text once, and so does the WebAssembly
 * build's own scan (rx_platform_wasm.cpp); elsewhere strchr, and strlen when
 * the byte is not there. */
const char *rx_find_byte_or_end(const char *text, char c) {
#if defined(__GLIBC__)
    return strchrnul(text, c);
#elif defined(__wasm_simd128__)
    return rx_wasm_find_byte_or_end(text, c);
#else
    const char *q = strchr(text, c);
    return q != nullptr ? q : text + strlen(text);
#endif
}

/* Sixteen bytes at a time where SSE2 is there: setting the 0x20 bit makes
 * both cases of a letter equal to the lower one. */
const void *rx_find_byte_folded(const void *hay, size_t n, unsigned char lower) {
    const unsigned char *h = static_cast<const unsigned char *>(hay);
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(lower));
    const __m128i bit = _mm_set1_epi8(0x20);
    for (; i + 16 <= n; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(block, bit), want));
        if (mask != 0) return h + i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < n; i++)
        if ((h[i] | 0x20) == lower) return h + i;
    return nullptr;
}

static inline int byte_is(unsigned char c, rx_byte_at at) { return at.fold ? (c | 0x20) == at.b : c == at.b; }

size_t rx_find_pair(const unsigned char *t, size_t count, rx_byte_at one, rx_byte_at two) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i want1 = _mm_set1_epi8(static_cast<char>(one.b));
    const __m128i want2 = _mm_set1_epi8(static_cast<char>(two.b));
    const __m128i bit1 = _mm_set1_epi8(one.fold ? 0x20 : 0), bit2 = _mm_set1_epi8(two.fold ? 0x20 : 0);
    for (; i + 16 <= count; i += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i + one.offset));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i + two.offset));
        int mask = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, bit1), want1),
                                                   _mm_cmpeq_epi8(_mm_or_si128(b, bit2), want2)));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < count; i++)
        if (byte_is(t[i + one.offset], one) && byte_is(t[i + two.offset], two)) return i;
    return count;
}

#if defined(__SSE2__)
/* The lanes of block that hold one of the count bytes in want. */
static inline __m128i any_of(__m128i block, const __m128i *want, int count) {
    __m128i hits = _mm_cmpeq_epi8(block, want[0]);
    for (int k = 1; k < count; k++) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, want[k]));
    return hits;
}
#endif

static inline int one_of(unsigned char c, const unsigned char *bytes, int count) {
    for (int k = 0; k < count; k++)
        if (c == bytes[k]) return 1;
    return 0;
}

size_t rx_find_any_of(const unsigned char *t, size_t n, const unsigned char *bytes, int count,
                      const unsigned char *bytes2, int count2) {
    size_t i = 0;
#if defined(__SSE2__)
    __m128i want[8], want2[8];
    for (int k = 0; k < count; k++) want[k] = _mm_set1_epi8(static_cast<char>(bytes[k]));
    for (int k = 0; k < count2; k++) want2[k] = _mm_set1_epi8(static_cast<char>(bytes2[k]));
    for (; i + 16 <= n; i += 16) {
        __m128i hits = any_of(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i)), want, count);
        if (count2 > 0) {
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i + 1));
            hits = _mm_and_si128(hits, any_of(next, want2, count2));
        }
        int mask = _mm_movemask_epi8(hits);
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < n; i++)
        if (one_of(t[i], bytes, count) && (count2 == 0 || one_of(t[i + 1], bytes2, count2))) return i;
    return n;
}
