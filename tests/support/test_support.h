// Small helpers shared by the test programs.
#ifndef KRX_TEST_SUPPORT_H
#define KRX_TEST_SUPPORT_H

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>

namespace krx_test {

// Runs fn on a new thread whose stack is exactly stack_bytes (1 MiB by
// default, the smallest stack a host thread is likely to give the library)
// and waits for it. Returns false when the thread could not be started.
bool run_on_stack(const std::function<void()> &fn, std::size_t stack_bytes = 1u << 20);

// True when the long mode of the generated tests is asked for (KRX_LONG=1).
inline bool long_mode() {
    const char *v = std::getenv("KRX_LONG");
    return v != nullptr && v[0] == '1';
}

}  // namespace krx_test

#endif
