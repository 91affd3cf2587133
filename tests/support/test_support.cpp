// Small helpers shared by the test programs.
#include "test_support.h"

#include <pthread.h>

namespace krx_test {

static void *call_function(void *arg) {
    (*static_cast<const std::function<void()> *>(arg))();
    return nullptr;
}

bool run_on_stack(const std::function<void()> &fn, std::size_t stack_bytes) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    bool ok = pthread_attr_setstacksize(&attr, stack_bytes) == 0;
    pthread_t thread;
    ok = ok && pthread_create(&thread, &attr, call_function,
                              const_cast<std::function<void()> *>(&fn)) == 0;
    pthread_attr_destroy(&attr);
    if (ok) pthread_join(thread, nullptr);
    return ok;
}

}  // namespace krx_test
