/* Fuzz target of rx_validate: the input up to its first NUL byte is the
 * pattern. The answer is never null (no allocation fails here) and is
 * exactly {"ok":true} or {"ok":false,"error":"<non-empty message>"}; a
 * rejected pattern is no failure, so the error text stays empty. */
#include "fuzz_support.h"

using namespace krx_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string pattern = split(data, size, 1)[0];
    Result r = take(rx_validate(pattern.c_str()));
    check(!r.null, "rx_validate answered null", r.text);
    if (r.text == "{\"ok\":true}") return 0;
    Doc d(r.text);
    std::vector<yyjson_val *> f = members(d.root(), {"ok", "error"}, r.text);
    check(yyjson_is_false(f[0]) && yyjson_is_str(f[1]) && yyjson_get_len(f[1]) > 0, "rejection shape",
          r.text);
    /* The second compile check exists to agree with the first; a pattern
     * only one of them rejects is a fault of the library. */
    check(str_of(f[1]).rfind("NFA reject", 0) != 0, "the two compile checks disagree", r.text);
    return 0;
}
