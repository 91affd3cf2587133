/* Fuzz target of rx_replace_preview: the input is "pattern NUL text NUL
 * replacement". The answer is {"result":"...","count":N}, and it must say
 * what rx_test says of the same pattern and text: the same failure, or N
 * equal to the number of matches and the result equal to the text with each
 * match's bytes replaced. */
#include "fuzz_support.h"

using namespace krx_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<std::string> args = split(data, size, 3);
    const std::string &pattern = args[0], &text = args[1], &replacement = args[2];
    Result r = take(rx_replace_preview(pattern.c_str(), text.c_str(), replacement.c_str()));
    Result t = take(rx_test(pattern.c_str(), text.c_str()));
    if (r.null) {
        check(is_match_failure(r.text), "undocumented rx_replace_preview message", r.text);
        check(t.null && t.text == r.text, "rx_test and rx_replace_preview disagree", r.text + " / " + t.text);
        return 0;
    }
    check(!t.null, "rx_test fails where rx_replace_preview answers", t.text);
    std::vector<Span> spans = check_matches(t.text, text);
    std::string expected;
    uint64_t copied = 0;
    for (const Span &s : spans) {
        expected += text.substr(copied, s.start - copied) + replacement;
        copied = s.end;
    }
    expected += text.substr(copied);

    Doc d(r.text);
    std::vector<yyjson_val *> f = members(d.root(), {"result", "count"}, r.text);
    check(yyjson_is_str(f[0]) && str_of(f[0]) == expected, "replaced text differs", r.text);
    check(yyjson_is_uint(f[1]) && yyjson_get_uint(f[1]) == spans.size(), "count differs", r.text);
    return 0;
}
