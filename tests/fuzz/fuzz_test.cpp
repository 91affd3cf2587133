/* Fuzz target of rx_test: the input is "pattern NUL text". A non-null
 * answer must be a well-formed match report of that text (see
 * check_matches); a null one must carry a documented message. rx_validate
 * must agree on the pattern: rx_test fails with "invalid pattern: M" exactly
 * when rx_validate answers {"ok":false,"error":"M"}. */
#include "fuzz_support.h"

using namespace krx_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<std::string> args = split(data, size, 2);
    const std::string &pattern = args[0], &text = args[1];
    Result r = take(rx_test(pattern.c_str(), text.c_str()));
    if (r.null)
        check(is_match_failure(r.text), "undocumented rx_test message", r.text);
    else
        check_matches(r.text, text);

    Result v = take(rx_validate(pattern.c_str()));
    check(!v.null, "rx_validate answered null", v.text);
    const std::string invalid = "invalid pattern: ";
    if (r.null && r.text.rfind(invalid, 0) == 0) {
        Doc d(v.text);
        std::vector<yyjson_val *> f = members(d.root(), {"ok", "error"}, v.text);
        check(yyjson_is_str(f[1]) && str_of(f[1]) == r.text.substr(invalid.size()),
              "rx_validate and rx_test give different reasons", v.text + " / " + r.text);
    } else {
        check(v.text == "{\"ok\":true}", "rx_validate rejects a pattern rx_test accepts", v.text);
    }
    return 0;
}
