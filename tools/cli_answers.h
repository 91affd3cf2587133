/* Reading the library's JSON answers back, for the human views and the exit
 * statuses. The answers are read with yyjson; match texts are bytes of the
 * subject text, so invalid UTF-8 inside strings is accepted and kept. */
#ifndef KRX_CLI_ANSWERS_H
#define KRX_CLI_ANSWERS_H

#include <string>
#include <vector>

namespace cli {

struct GroupInfo {
    long long index = 0, start = 0, end = 0;
    std::string text;
};

struct MatchInfo {
    long long start = 0, end = 0;
    std::string text;
    std::vector<GroupInfo> groups;
};

/* Each returns false when the answer does not have the expected shape. */
bool read_test_answer(const char *answer, std::vector<MatchInfo> &matches);
bool read_validate_answer(const char *answer, bool *ok, std::string *error);
bool read_replace_answer(const char *answer, std::string *result, long long *count);
bool read_generate_answer(const char *answer, std::string *pattern, std::string *verbose);

} /* namespace cli */

#endif
