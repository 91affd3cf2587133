/* Small helpers shared by the test programs (header-only, so the public
 * tests, which link nothing but the shared library, can use them too). */
#ifndef KRX_TEST_SUPPORT_H
#define KRX_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>

/* KRX_NO_THREADS: a build in which no second thread can be started, the
 * single-threaded WebAssembly module. Tests that need a second thread skip
 * there with KRX_SKIP_WITHOUT_THREADS(), saying so. */
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
#  define KRX_NO_THREADS 1
#  define KRX_SKIP_WITHOUT_THREADS() \
    GTEST_SKIP() << "the WebAssembly module is single-threaded: no second thread"
#else
#  define KRX_NO_THREADS 0
#  define KRX_SKIP_WITHOUT_THREADS() (void)0
#endif

namespace krx_test {

inline void *call_function(void *arg) {
    (*static_cast<const std::function<void()> *>(arg))();
    return nullptr;
}

/* Runs fn on a new thread whose stack is exactly stack_bytes (1 MiB by
 * default, the smallest stack a host thread is likely to give the library)
 * and waits for it. Returns false when the thread could not be started.
 * Passing EXPECT/ASSERT checks may run on that thread, but no SCOPED_TRACE:
 * on Windows a thread that touches GoogleTest's per-thread state gets a
 * watcher thread, which can race the test program's exit and crash it
 * after every test has passed. */
inline bool run_on_stack(const std::function<void()> &fn, std::size_t stack_bytes = 1u << 20) {
#if KRX_NO_THREADS
    /* The one thread's stack is what the build gives it (1 MiB, as
     * cmake/wasm-build.cmake sets): fn runs there. */
    (void)stack_bytes;
    fn();
    return true;
#else
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    bool ok = pthread_attr_setstacksize(&attr, stack_bytes) == 0;
    pthread_t thread;
    ok = ok && pthread_create(&thread, &attr, call_function, const_cast<std::function<void()> *>(&fn)) == 0;
    pthread_attr_destroy(&attr);
    if (ok) pthread_join(thread, nullptr);
    return ok;
#endif
}

/* True when the long mode of the generated tests is asked for (KRX_LONG=1). */
inline bool long_mode() {
    const char *v = std::getenv("KRX_LONG");
    return v != nullptr && v[0] == '1';
}

/* Compares two long texts and, when they differ, describes where instead of
 * printing megabytes. */
inline ::testing::AssertionResult same_long_text(const std::string &actual, const std::string &expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    const size_t from = i < 40 ? 0 : i - 40;
    return ::testing::AssertionFailure()
           << "lengths " << actual.size() << " and " << expected.size() << " (expected); first difference at "
           << i << ": actual ..." << actual.substr(from, 120) << "... expected ..."
           << expected.substr(from, 120) << "...";
}

} /* namespace krx_test */

#endif
