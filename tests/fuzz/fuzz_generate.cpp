/* Fuzz target of rx_generate on raw bytes: the input up to its first NUL
 * byte is examples_json. A null answer must carry a documented message; a
 * non-null one must have the documented shape, and when the input is an
 * array of strings, its pattern must match every example in full. */
#include "fuzz_support.h"

using namespace krx_fuzz;

/* The strings of a JSON array of strings, read as strictly as the library
 * reads them; false for anything else. */
static bool read_examples(const std::string &json, std::vector<std::string> *out) {
    yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
    if (doc == nullptr) return false;
    yyjson_val *root = yyjson_doc_get_root(doc);
    bool ok = yyjson_is_arr(root);
    yyjson_arr_iter iter = yyjson_arr_iter_with(root);
    while (ok) {
        yyjson_val *v = yyjson_arr_iter_next(&iter);
        if (v == nullptr) break;
        ok = yyjson_is_str(v);
        if (ok) out->push_back(str_of(v));
    }
    yyjson_doc_free(doc);
    return ok;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string json = split(data, size, 1)[0];
    Result r = take(rx_generate(json.c_str()));
    if (r.null) {
        check(is_generate_failure(r.text), "undocumented rx_generate message", r.text);
        return 0;
    }
    std::vector<std::string> examples;
    check(read_examples(json, &examples), "rx_generate answers for what is no array of strings", json);
    check_generated(r.text, examples);
    return 0;
}
