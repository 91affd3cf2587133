/* The table of cases that the JS package's tests share
 * (tests/cases/match_cases.json), as a host sees it through the public
 * header: every rx_test, rx_replace_preview and rx_validate call of the table
 * answers exactly the table's answer, or fails with exactly its error text.
 * The table is read with yyjson; the WebAssembly build runs this program
 * too, so the module answers byte for byte as the native library does. */
#include <gtest/gtest.h>
#include <yyjson.h>

#include <string>
#include <vector>

#include "kelvaron_regex.h"

namespace {

const char CASES_FILE[] = KRX_CASES_DIR "/match_cases.json";

/* One call of the table and its outcome: the answer, or "null: " and the
 * error text. */
struct Case {
    std::string group;
    std::vector<std::string> args;
    std::string outcome;
};

/* A string of a case as bytes: its UTF-8 form, or with bytes set one byte
 * per character (U+0000 to U+00FF, which UTF-8 writes in one or two bytes). */
std::string case_bytes(yyjson_val *value, bool bytes) {
    std::string utf8(yyjson_get_str(value), yyjson_get_len(value));
    if (!bytes) return utf8;
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0 && i + 1 < utf8.size())
            out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        else
            out += static_cast<char>(c);
    }
    return out;
}

/* The cases of one section, their arguments in the order of names. */
std::vector<Case> read_cases(const char *section, const std::vector<const char *> &names) {
    std::vector<Case> cases;
    yyjson_read_err err;
    yyjson_doc *doc = yyjson_read_file(CASES_FILE, 0, nullptr, &err);
    if (doc == nullptr) {
        ADD_FAILURE() << "cannot read " << CASES_FILE << ": " << err.msg;
        return cases;
    }
    yyjson_val *list = yyjson_obj_get(yyjson_doc_get_root(doc), section);
    size_t index, count;
    yyjson_val *item;
    yyjson_arr_foreach(list, index, count, item) {
        Case c;
        const bool bytes = yyjson_is_true(yyjson_obj_get(item, "bytes"));
        c.group = yyjson_get_str(yyjson_obj_get(item, "group"));
        for (const char *name : names) c.args.push_back(case_bytes(yyjson_obj_get(item, name), bytes));
        yyjson_val *answer = yyjson_obj_get(item, "answer");
        c.outcome = yyjson_is_null(answer) ? "null: " + case_bytes(yyjson_obj_get(item, "error"), bytes)
                                           : case_bytes(answer, bytes);
        cases.push_back(c);
    }
    yyjson_doc_free(doc);
    EXPECT_FALSE(cases.empty()) << "no cases in the section " << section << " of " << CASES_FILE;
    return cases;
}

/* The outcome of a call: its answer, or "null: " and the error text. A
 * successful call must leave the error text empty; if it does not, the
 * outcome says so and cannot equal a table's answer. */
std::string outcome(const char *answer) {
    if (answer == nullptr) return std::string("null: ") + rx_last_error();
    std::string out(answer);
    if (rx_last_error()[0] != '\0') out += std::string(" [error text: ") + rx_last_error() + "]";
    return out;
}

TEST(Cases, RxTest) {
    for (const Case &c : read_cases("test", {"pattern", "text"}))
        EXPECT_EQ(outcome(rx_test(c.args[0].c_str(), c.args[1].c_str())), c.outcome)
            << c.group << ": pattern [" << c.args[0] << "] text [" << c.args[1] << "]";
}

TEST(Cases, RxReplacePreview) {
    for (const Case &c : read_cases("replace", {"pattern", "text", "replacement"}))
        EXPECT_EQ(outcome(rx_replace_preview(c.args[0].c_str(), c.args[1].c_str(), c.args[2].c_str())),
                  c.outcome)
            << c.group << ": pattern [" << c.args[0] << "] text [" << c.args[1] << "] replacement ["
            << c.args[2] << "]";
}

TEST(Cases, RxValidate) {
    /* A rejected pattern is an answer, not a failure: the error text stays
     * empty. */
    for (const Case &c : read_cases("validate", {"pattern"}))
        EXPECT_EQ(outcome(rx_validate(c.args[0].c_str())), c.outcome)
            << c.group << ": pattern [" << c.args[0] << "]";
}

} /* namespace */
