/* Shared pieces of the fuzz targets: cutting an input into argument strings,
 * reading an answer with yyjson, and the checks a host relies on. A check
 * that fails prints what it saw and aborts, which libFuzzer reports as a
 * crash and keeps the input of. */
#ifndef KRX_FUZZ_SUPPORT_H
#define KRX_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <yyjson.h>

#include "kelvaron_regex.h"

namespace krx_fuzz {

[[noreturn]] inline void fail(const char *what, const std::string &detail) {
    fprintf(stderr, "fuzz check failed: %s\n%.600s\n", what, detail.c_str());
    abort();
}

inline void check(bool ok, const char *what, const std::string &detail = "") {
    if (!ok) fail(what, detail);
}

/* The input cut at NUL bytes into at most `parts` strings; a missing part is
 * empty, and the last one ends at its next NUL (a C string could not carry
 * more). */
inline std::vector<std::string> split(const uint8_t *data, size_t size, size_t parts) {
    std::vector<std::string> out(parts);
    const char *p = reinterpret_cast<const char *>(data);
    const char *end = p + size;
    for (size_t i = 0; i < parts && p < end; i++) {
        const char *nul = static_cast<const char *>(memchr(p, '\0', static_cast<size_t>(end - p)));
        const char *stop = nul != nullptr ? nul : end;
        out[i].assign(p, stop);
        p = nul != nullptr ? nul + 1 : end;
    }
    return out;
}

/* A parsed answer. Answers carry the bytes of the text unchanged, which need
 * not be UTF-8, so invalid UTF-8 inside strings is accepted; everything else
 * must be standard JSON. */
struct Doc {
    yyjson_doc *doc = nullptr;
    explicit Doc(const std::string &json) {
        yyjson_read_err err;
        doc = yyjson_read_opts(const_cast<char *>(json.data()), json.size(),
                               YYJSON_READ_ALLOW_INVALID_UNICODE, nullptr, &err);
        check(doc != nullptr, "answer is not JSON", json);
    }
    ~Doc() { yyjson_doc_free(doc); }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
};

inline std::string str_of(yyjson_val *v) { return std::string(yyjson_get_str(v), yyjson_get_len(v)); }

/* The members of an object, which must have exactly these keys in this
 * order; `where` names the object in a failure. */
inline std::vector<yyjson_val *> members(yyjson_val *obj, const std::vector<const char *> &keys,
                                         const std::string &where) {
    check(yyjson_is_obj(obj) && yyjson_obj_size(obj) == keys.size(), "wrong object shape", where);
    std::vector<yyjson_val *> out;
    yyjson_obj_iter iter = yyjson_obj_iter_with(obj);
    for (const char *key : keys) {
        yyjson_val *k = yyjson_obj_iter_next(&iter);
        check(k != nullptr && str_of(k) == key, "wrong key order", where);
        out.push_back(yyjson_obj_iter_get_val(k));
    }
    return out;
}

/* A non-negative integer no greater than limit. */
inline uint64_t offset_of(yyjson_val *v, uint64_t limit, const std::string &where) {
    check(yyjson_is_uint(v) && yyjson_get_uint(v) <= limit, "offset out of range", where);
    return yyjson_get_uint(v);
}

/* A copy of the answer, or the error text after a null answer; the error
 * text must be empty after a success and non-empty after a failure. */
struct Result {
    bool null = false;
    std::string text;
};

inline Result take(const char *answer) {
    Result r;
    r.null = answer == nullptr;
    r.text = r.null ? rx_last_error() : answer;
    if (r.null)
        check(!r.text.empty(), "null answer without an error text");
    else
        check(rx_last_error()[0] == '\0', "error text after a success", rx_last_error());
    return r;
}

/* The messages rx_test and rx_replace_preview may fail with on non-null
 * arguments. */
inline bool is_match_failure(const std::string &m) {
    if (m.rfind("invalid pattern: ", 0) == 0) return m.size() > 17;
    return m == "text exceeds 10485760 bytes" || m == "backtracking limit reached" || m == "out of memory" ||
           m == "out of memory for JSON buffer";
}

/* "example N<rest>" with N an index below 64 written without leading zeros. */
inline bool is_example_message(const std::string &m, const char *rest) {
    const std::string head = "example ";
    if (m.rfind(head, 0) != 0) return false;
    size_t i = head.size();
    unsigned long n = 0;
    while (i < m.size() && i < head.size() + 3 && m[i] >= '0' && m[i] <= '9')
        n = n * 10 + static_cast<unsigned long>(m[i++] - '0');
    const size_t digits = i - head.size();
    if (digits == 0 || n >= 64 || (digits > 1 && m[head.size()] == '0')) return false;
    return m.compare(i, std::string::npos, rest) == 0;
}

inline bool is_generate_failure(const std::string &m) {
    return m == "invalid JSON" || m == "examples_json must be a JSON array of strings" ||
           m == "empty examples array" || m == "too many examples (max 64)" ||
           is_example_message(m, " is not a string") || is_example_message(m, " contains a NUL byte") ||
           is_example_message(m, " exceeds 4096 bytes") || m == "out of memory" ||
           m == "out of memory for JSON buffer";
}

/* One match of an rx_test answer. */
struct Span {
    uint64_t start, end;
};

/* Checks an rx_test answer against the text it was made for and returns its
 * spans: offsets inside the text, matches left to right without overlap
 * (after an empty match the next starts further on), match and group texts
 * equal to the bytes they name, groups 1..16 in increasing order. */
inline std::vector<Span> check_matches(const std::string &answer, const std::string &text) {
    Doc d(answer);
    yyjson_val *list = members(d.root(), {"matches"}, answer)[0];
    check(yyjson_is_arr(list), "matches is not an array", answer);
    const uint64_t n = text.size();
    std::vector<Span> spans;
    yyjson_arr_iter iter = yyjson_arr_iter_with(list);
    while (yyjson_val *m = yyjson_arr_iter_next(&iter)) {
        std::vector<yyjson_val *> f = members(m, {"start", "end", "text", "groups"}, answer);
        Span s{offset_of(f[0], n, answer), offset_of(f[1], n, answer)};
        check(s.start <= s.end, "match ends before it starts", answer);
        if (!spans.empty()) {
            const Span &p = spans.back();
            check(s.start >= p.end + (p.start == p.end ? 1 : 0), "matches overlap or go back", answer);
        }
        check(yyjson_is_str(f[2]) && str_of(f[2]) == text.substr(s.start, s.end - s.start),
              "match text differs from the text's bytes", answer);
        check(yyjson_is_arr(f[3]), "groups is not an array", answer);
        uint64_t last = 0;
        yyjson_arr_iter giter = yyjson_arr_iter_with(f[3]);
        while (yyjson_val *g = yyjson_arr_iter_next(&giter)) {
            std::vector<yyjson_val *> gf = members(g, {"index", "start", "end", "text"}, answer);
            uint64_t index = offset_of(gf[0], 16, answer);
            check(index > last, "group numbers not increasing from 1", answer);
            last = index;
            uint64_t gs = offset_of(gf[1], n, answer), ge = offset_of(gf[2], n, answer);
            std::string expected = ge >= gs ? text.substr(gs, ge - gs) : std::string();
            check(yyjson_is_str(gf[3]) && str_of(gf[3]) == expected, "group text differs", answer);
        }
        spans.push_back(s);
    }
    return spans;
}

/* Checks an rx_generate answer and that, through rx_test, its pattern
 * matches each example in full and only there. */
inline void check_generated(const std::string &answer, const std::vector<std::string> &examples) {
    Doc d(answer);
    std::vector<yyjson_val *> f = members(d.root(), {"pattern", "verbose"}, answer);
    check(yyjson_is_str(f[0]) && yyjson_is_str(f[1]), "pattern or verbose is not a string", answer);
    const std::string pattern = str_of(f[0]), verbose = str_of(f[1]);
    check(pattern.size() >= 2 && pattern.front() == '^' && pattern.back() == '$', "pattern not anchored",
          answer);
    check(verbose.rfind("(?x)\n^\n", 0) == 0 && verbose.size() >= 9 &&
              verbose.compare(verbose.size() - 2, 2, "\n$") == 0,
          "verbose layout", answer);
    for (const std::string &example : examples) {
        Result r = take(rx_test(pattern.c_str(), example.c_str()));
        check(!r.null, "rx_test fails on a generated pattern", pattern + " / " + example + " / " + r.text);
        std::vector<Span> spans = check_matches(r.text, example);
        check(spans.size() == 1 && spans[0].start == 0 && spans[0].end == example.size(),
              "generated pattern does not match an example in full", pattern + " / " + example);
    }
}

} /* namespace krx_fuzz */

#endif /* KRX_FUZZ_SUPPORT_H */
