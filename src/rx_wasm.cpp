/*
 * The WebAssembly module's entries beyond the five exports, for the JS
 * package of js/. Each takes NUL-terminated strings and answers a JSON text
 * in a heap block of its own, which the caller releases with free (the
 * module exports malloc and free); null when memory ran out.
 *
 * The entries are this file's RX_WASM_ENTRY lines: js/CMakeLists.txt reads
 * their names from here for the module's export list, and the package looks
 * them up by those names: the steps of a call, and the pattern analysis
 * (src/rx_analysis.h), which the package's lint and explain call.
 */
#include <string.h>

#include "kelvaron_regex_internal.h"
#include "rx_analysis.h"
#include "rx_common.h"
#include "rx_match_win.h"

/* An entry of the module, exported under the name given (one per line, as
 * js/CMakeLists.txt reads them). */
#define RX_WASM_ENTRY(name) extern "C" __attribute__((export_name(name), used))

/*
 * {"budget":B,"spent":S}: the step budget of the latest rx_test or
 * rx_replace_preview call, which must have been of this pattern and text and
 * must have reached its search (it answered, or failed with "backtracking
 * limit reached"), and the steps that call spent of it. The budget follows
 * from the pattern's size and the text's length; what is left of it is what
 * the call's last search left. A pattern that does not parse ran no search:
 * {"budget":0,"spent":0}.
 */
RX_WASM_ENTRY("rx_steps_json") char *wasm_steps(const char *pattern, const char *text) {
    int32_t budget = 0, spent = 0;
    if (pattern != nullptr && text != nullptr) {
        rx_prog prog;
        char err[RX_SEARCH_ERR_SIZE];
        int prepared = rx_engine_prepare(pattern, &prog, err, sizeof err);
        if (prepared == RX_OUT_OF_MEMORY) return nullptr;
        if (prepared == 0) {
            budget = rx_engine_budget(strnlen(text, RX_TEXT_LIMIT + 1), prog.nodes);
            spent = budget - rx_engine_steps_left();
            rx_engine_release(&prog);
        }
    }
    char *data = nullptr;
    uint64_t length = 0, capacity = 0;
    if (rx_buf_printf(&data, &length, &capacity, "{\"budget\":%d,\"spent\":%d}", budget, spent) != 0) {
        rx_buf_free(data);
        return nullptr;
    }
    return data;
}

/* The lint's findings, or the error of an invalid pattern, as
 * rx_analysis_lint_json answers them. */
RX_WASM_ENTRY("rx_lint_json") char *wasm_lint(const char *pattern) {
    return pattern != nullptr ? rx_analysis_lint_json(pattern) : nullptr;
}

/* The explanation tree, or the error of an invalid pattern, as
 * rx_analysis_explain_json answers it. */
RX_WASM_ENTRY("rx_explain_json") char *wasm_explain(const char *pattern) {
    return pattern != nullptr ? rx_analysis_explain_json(pattern) : nullptr;
}
