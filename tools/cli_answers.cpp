/* The library's answers read with yyjson (see cli_answers.h). */
#include "cli_answers.h"

#include <cstring>

#include <yyjson.h>

namespace cli {
namespace {

/* One parsed answer, released when it goes out of scope. */
struct Doc {
    yyjson_doc *doc;
    explicit Doc(const char *answer)
        : doc(yyjson_read(answer, std::strlen(answer), YYJSON_READ_ALLOW_INVALID_UNICODE)) {}
    ~Doc() { yyjson_doc_free(doc); }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;
    yyjson_val *root() const {
        yyjson_val *r = doc != nullptr ? yyjson_doc_get_root(doc) : nullptr;
        return yyjson_is_obj(r) ? r : nullptr;
    }
};

bool get_string(yyjson_val *obj, const char *key, std::string *out) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (!yyjson_is_str(v)) return false;
    out->assign(yyjson_get_str(v), yyjson_get_len(v));
    return true;
}

/* Offsets, counts and group numbers are integers of zero and up. */
bool get_count(yyjson_val *obj, const char *key, long long *out) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (!yyjson_is_uint(v)) return false;
    *out = static_cast<long long>(yyjson_get_uint(v));
    return *out >= 0;
}

bool read_span(yyjson_val *obj, long long *start, long long *end) {
    return yyjson_is_obj(obj) && get_count(obj, "start", start) && get_count(obj, "end", end);
}

bool read_matches(const char *answer, std::vector<MatchInfo> &matches) {
    Doc d(answer);
    yyjson_val *list = d.root() != nullptr ? yyjson_obj_get(d.root(), "matches") : nullptr;
    if (!yyjson_is_arr(list)) return false;
    size_t i, n;
    yyjson_val *mv;
    yyjson_arr_foreach(list, i, n, mv) {
        MatchInfo m;
        yyjson_val *groups = yyjson_obj_get(mv, "groups");
        if (!read_span(mv, &m.start, &m.end) || !get_string(mv, "text", &m.text) || !yyjson_is_arr(groups))
            return false;
        size_t j, k;
        yyjson_val *gv;
        yyjson_arr_foreach(groups, j, k, gv) {
            GroupInfo g;
            if (!read_span(gv, &g.start, &g.end) || !get_count(gv, "index", &g.index) ||
                !get_string(gv, "text", &g.text)) {
                return false;
            }
            m.groups.push_back(std::move(g));
        }
        matches.push_back(std::move(m));
    }
    return true;
}

} /* namespace */

bool read_test_answer(const char *answer, std::vector<MatchInfo> &matches) {
    return read_matches(answer, matches);
}

bool read_validate_answer(const char *answer, bool *ok, std::string *error) {
    Doc d(answer);
    if (d.root() == nullptr) return false;
    yyjson_val *v = yyjson_obj_get(d.root(), "ok");
    if (!yyjson_is_bool(v)) return false;
    *ok = yyjson_get_bool(v);
    return *ok || get_string(d.root(), "error", error);
}

bool read_replace_answer(const char *answer, std::string *result, long long *count) {
    Doc d(answer);
    return d.root() != nullptr && get_string(d.root(), "result", result) &&
           get_count(d.root(), "count", count);
}

bool read_generate_answer(const char *answer, std::string *pattern, std::string *verbose) {
    Doc d(answer);
    return d.root() != nullptr && get_string(d.root(), "pattern", pattern) &&
           get_string(d.root(), "verbose", verbose);
}

} /* namespace cli */
