/* The exports under concurrency and on small stacks, through the public
 * header only.
 *
 * - Several threads call every export at once, each with inputs of its own,
 *   and check that every answer is exactly theirs.
 * - In lock-step rounds half of the threads hold an answer while the other
 *   half make calls: a held answer must not change, since each thread's
 *   answer lives in a buffer of that thread.
 * - On a thread with a 1 MiB stack: a 1,000,000-byte literal pattern, 100,000
 *   nested groups (accepted, or refused as nested too deeply), a repetition
 *   of nested groups up to the depth limit, and texts of 10 MiB. Nothing may
 *   crash. */
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kelvaron_regex.h"
#include "test_support.h"

namespace {

std::string or_null(const char *answer) {
    return answer == nullptr ? std::string("null: ") + rx_last_error() : std::string(answer);
}

/* Builders for answers whose texts need no JSON quoting. */
std::string match_obj(long start, long end, const std::string &text, const std::string &groups = "") {
    return "{\"start\":" + std::to_string(start) + ",\"end\":" + std::to_string(end) + ",\"text\":\"" + text +
           "\",\"groups\":[" + groups + "]}";
}

std::string group_obj(int index, long start, long end, const std::string &text) {
    return "{\"index\":" + std::to_string(index) + ",\"start\":" + std::to_string(start) +
           ",\"end\":" + std::to_string(end) + ",\"text\":\"" + text + "\"}";
}

std::string matches_of(const std::vector<std::string> &objs) {
    std::string out = "{\"matches\":[";
    for (size_t i = 0; i < objs.size(); ++i) out += (i > 0 ? "," : "") + objs[i];
    return out + "]}";
}

/* What one worker thread asks and the exact answers it must get back. */
struct Work {
    std::string valid_pattern, invalid_pattern, invalid_answer;
    std::string test_pattern, test_text, test_answer;
    std::string repl_pattern, repl_text, repl_with, repl_answer;
    std::string examples, generate_answer;
};

/* Examples with a known synthesised pattern, one per shape that the
 * answers below cover. */
struct GenerateCase {
    const char *examples;
    const char *answer;
};
const GenerateCase GENERATE[] = {
    {R"(["2023-12-01","2024-01-15"])",
     R"({"pattern":"^\\d{4}-\\d{2}-\\d{2}$","verbose":"(?x)\n^\n  \\d{4}-\\d{2}-\\d{2}\n$"})"},
    {R"(["cat","dog-1"])", R"({"pattern":"^(cat|dog-1)$","verbose":"(?x)\n^\n  (cat\n  |\n  dog-1)\n$"})"},
    {R"(["user_1","admin_22"])",
     R"({"pattern":"^[A-Za-z_]{5,6}\\d{1,2}$","verbose":"(?x)\n^\n  [A-Za-z_]{5,6}\\d{1,2}\n$"})"},
    {R"(["aa","a","aaa"])", R"({"pattern":"^a{1,3}$","verbose":"(?x)\n^\n  a{1,3}\n$"})"},
};

Work work_for(int id) {
    Work w;
    const std::string n = std::to_string(id);
    w.valid_pattern = "t" + n + "(\\d+)?";
    w.invalid_pattern = "(t" + n;
    w.invalid_answer = R"({"ok":false,"error":"unclosed group"})";

    /* "t<id>(\d+)" in "t<id>7 xx t<id> t<id>12": two matches with a group,
     * one without. */
    w.test_pattern = "t" + n + "(\\d+)?";
    const std::string tn = "t" + n;
    w.test_text = tn + "7 xx " + tn + " " + tn + "12";
    const long a = 0, b = static_cast<long>(tn.size() + 5), c = static_cast<long>(2 * tn.size() + 6);
    w.test_answer = matches_of({
        match_obj(a, a + tn.size() + 1, tn + "7", group_obj(1, a + tn.size(), a + tn.size() + 1, "7")),
        match_obj(b, b + tn.size(), tn),
        match_obj(c, c + tn.size() + 2, tn + "12", group_obj(1, c + tn.size(), c + tn.size() + 2, "12")),
    });

    w.repl_pattern = "[" + std::string(1, static_cast<char>('a' + id % 26)) + "]";
    w.repl_text = std::string(id % 5 + 1, static_cast<char>('a' + id % 26)) + "-" + n;
    w.repl_with = "<" + n + ">";
    std::string result;
    for (int i = 0; i < id % 5 + 1; ++i) result += w.repl_with;
    w.repl_answer = "{\"result\":\"" + result + "-" + n + "\",\"count\":" + std::to_string(id % 5 + 1) + "}";

    const GenerateCase &g = GENERATE[id % (sizeof GENERATE / sizeof GENERATE[0])];
    w.examples = g.examples;
    w.generate_answer = g.answer;
    return w;
}

/* One pass over every export, checking each answer as soon as it comes.
 * Failures are counted rather than asserted so that a thread never stops
 * half-way through a lock-step round. */
int run_all_exports(const Work &w) {
    int bad = 0;
    bad += or_null(rx_validate(w.valid_pattern.c_str())) != R"({"ok":true})";
    bad += or_null(rx_validate(w.invalid_pattern.c_str())) != w.invalid_answer;
    bad += or_null(rx_test(w.test_pattern.c_str(), w.test_text.c_str())) != w.test_answer;
    bad += or_null(rx_replace_preview(w.repl_pattern.c_str(), w.repl_text.c_str(), w.repl_with.c_str())) !=
           w.repl_answer;
    bad += or_null(rx_generate(w.examples.c_str())) != w.generate_answer;
    /* Failing calls: they return null; the error text is shared by all
     * threads, so only its presence is checked here. */
    bad += rx_test(nullptr, w.test_text.c_str()) != nullptr;
    bad += rx_replace_preview(w.invalid_pattern.c_str(), "x", "y") != nullptr;
    bad += rx_generate("[1]") != nullptr;
    bad += rx_last_error() == nullptr;
    return bad;
}

TEST(Threads, AnswersAreCheckedSingleThreadedFirst) {
    /* The expectations used by the concurrent tests hold on one thread. */
    for (int id = 0; id < 8; ++id) {
        const Work w = work_for(id);
        EXPECT_EQ(or_null(rx_validate(w.valid_pattern.c_str())), R"({"ok":true})");
        EXPECT_EQ(or_null(rx_validate(w.invalid_pattern.c_str())), w.invalid_answer);
        EXPECT_EQ(or_null(rx_test(w.test_pattern.c_str(), w.test_text.c_str())), w.test_answer);
        EXPECT_EQ(
            or_null(rx_replace_preview(w.repl_pattern.c_str(), w.repl_text.c_str(), w.repl_with.c_str())),
            w.repl_answer);
        EXPECT_EQ(or_null(rx_generate(w.examples.c_str())), w.generate_answer);
        EXPECT_EQ(rx_test(nullptr, "x"), nullptr);
        EXPECT_STREQ(rx_last_error(), "null pattern");
        EXPECT_EQ(rx_generate("[1]"), nullptr);
        EXPECT_STREQ(rx_last_error(), "example 0 is not a string");
    }
}

TEST(Threads, ConcurrentCallsGetTheirOwnAnswers) {
    KRX_SKIP_WITHOUT_THREADS();
    const int THREADS = 8;
    const int ROUNDS = krx_test::long_mode() ? 5000 : 200;
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < THREADS; ++id) {
        threads.emplace_back([id, ROUNDS, &bad] {
            const Work w = work_for(id);
            for (int r = 0; r < ROUNDS; ++r) bad += run_all_exports(w);
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
    /* Serial again: the error text is exact once the others are done. */
    EXPECT_EQ(rx_generate("[]"), nullptr);
    EXPECT_STREQ(rx_last_error(), "empty examples array");
}

TEST(Threads, HeldAnswerSurvivesOtherThreadsCalls) {
    KRX_SKIP_WITHOUT_THREADS();
    const int THREADS = 6;
    const int ROUNDS = krx_test::long_mode() ? 2000 : 100;
    pthread_barrier_t held, done;
    ASSERT_EQ(pthread_barrier_init(&held, nullptr, THREADS), 0);
    ASSERT_EQ(pthread_barrier_init(&done, nullptr, THREADS), 0);
    std::atomic<int> bad{0};
    std::atomic<int> changed{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < THREADS; ++id) {
        threads.emplace_back([&, id] {
            const Work w = work_for(id);
            for (int r = 0; r < ROUNDS; ++r) {
                const bool holder = (id + r) % 2 == 0;
                const char *kept = nullptr;
                if (holder) {
                    /* Alternate which export's answer is held. */
                    kept = r % 4 < 2 ? rx_test(w.test_pattern.c_str(), w.test_text.c_str())
                                     : rx_replace_preview(w.repl_pattern.c_str(), w.repl_text.c_str(),
                                                          w.repl_with.c_str());
                    bad += kept == nullptr;
                }
                pthread_barrier_wait(&held);
                if (!holder) bad += run_all_exports(w);
                pthread_barrier_wait(&done);
                if (holder && kept != nullptr) {
                    const std::string &expected = r % 4 < 2 ? w.test_answer : w.repl_answer;
                    changed += expected != kept;
                }
            }
        });
    }
    for (std::thread &t : threads) t.join();
    pthread_barrier_destroy(&held);
    pthread_barrier_destroy(&done);
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(changed.load(), 0);
}

/* --- 1 MiB stack ------------------------------------------------------------- */

const char NESTED_REFUSAL[] = "null: invalid pattern: groups nested too deeply";

TEST(SmallStack, MillionByteLiteralPattern) {
    ASSERT_TRUE(krx_test::run_on_stack([] {
        const std::string pattern(1000000, 'a');
        EXPECT_EQ(or_null(rx_validate(pattern.c_str())), R"({"ok":true})");
        const std::string text = "x" + pattern + "y";
        EXPECT_TRUE(krx_test::same_long_text(or_null(rx_test(pattern.c_str(), text.c_str())),
                                             matches_of({match_obj(1, 1000001, pattern)})));
        EXPECT_EQ(or_null(rx_replace_preview(pattern.c_str(), text.c_str(), "Z")),
                  R"({"result":"xZy","count":1})");
        /* One byte short of the pattern: no match anywhere (or the budget
         * runs out first); either way the host survives. */
        const std::string shorter = "x" + std::string(999999, 'a') + "y";
        const std::string answer = or_null(rx_test(pattern.c_str(), shorter.c_str()));
        EXPECT_TRUE(answer == R"({"matches":[]})" || answer == "null: backtracking limit reached") << answer;
    }));
}

TEST(SmallStack, HundredThousandNestedGroups) {
    ASSERT_TRUE(krx_test::run_on_stack([] {
        const int DEPTH = 100000;
        std::string capturing = std::string(DEPTH, '(') + "a" + std::string(DEPTH, ')');
        std::string groups;
        for (int g = 1; g <= 16; ++g) groups += (g > 1 ? "," : "") + group_obj(g, 1, 2, "a");
        const std::string validated = or_null(rx_validate(capturing.c_str()));
        const std::string tested = or_null(rx_test(capturing.c_str(), "bab"));
        const std::string replaced = or_null(rx_replace_preview(capturing.c_str(), "bab", "c"));
        if (validated == R"({"ok":true})") {
            EXPECT_EQ(tested, matches_of({match_obj(1, 2, "a", groups)}));
            EXPECT_EQ(replaced, R"({"result":"bcb","count":1})");
        } else {
            EXPECT_EQ(validated, R"({"ok":false,"error":"groups nested too deeply"})");
            EXPECT_EQ(tested, NESTED_REFUSAL);
            EXPECT_EQ(replaced, NESTED_REFUSAL);
        }

        std::string plain;
        for (int i = 0; i < DEPTH; ++i) plain += "(?:";
        plain += "a" + std::string(DEPTH, ')') + "+";
        const std::string plain_tested = or_null(rx_test(plain.c_str(), "baab"));
        EXPECT_TRUE(plain_tested == matches_of({match_obj(1, 3, "aa")}) || plain_tested == NESTED_REFUSAL)
            << plain_tested.substr(0, 200);

        /* Unclosed at the bottom: refused either way, never a crash. */
        std::string unclosed(DEPTH, '(');
        const std::string refused = or_null(rx_test(unclosed.c_str(), "a"));
        EXPECT_TRUE(refused == "null: invalid pattern: unclosed group" || refused == NESTED_REFUSAL)
            << refused;
    }));
}

TEST(SmallStack, NestedGroupsRepeatedOverLongTexts) {
    ASSERT_TRUE(krx_test::run_on_stack([] {
        const std::string a5000(5000, 'a');
        const std::string pattern = "(?:(?:(?:(a))))*";
        EXPECT_TRUE(
            krx_test::same_long_text(or_null(rx_test(pattern.c_str(), a5000.c_str())),
                                     matches_of({match_obj(0, 5000, a5000, group_obj(1, 4999, 5000, "a")),
                                                 match_obj(5000, 5000, "")})));
        /* Deeper nesting inside the repetition, with several groups. */
        const std::string deeper = "(?:((?:(?:(a)b)c)d))*";
        std::string text;
        for (int i = 0; i < 5000; ++i) text += "abcd";
        const long last = 4 * 4999;
        EXPECT_TRUE(krx_test::same_long_text(
            or_null(rx_test(deeper.c_str(), text.c_str())),
            matches_of(
                {match_obj(0, 4 * 5000, text,
                           group_obj(1, last, last + 4, "abcd") + "," + group_obj(2, last, last + 1, "a")),
                 match_obj(4 * 5000, 4 * 5000, "")})));
        /* Nested repetitions. */
        EXPECT_TRUE(
            krx_test::same_long_text(or_null(rx_test("(?:(?:a)*)*", a5000.c_str())),
                                     matches_of({match_obj(0, 5000, a5000), match_obj(5000, 5000, "")})));
    }));
}

TEST(SmallStack, TenMebibyteTexts) {
    ASSERT_TRUE(krx_test::run_on_stack([] {
        const int LIMIT = 10485760;
        std::string text(LIMIT, 'b');
        for (int i = 1; i <= 10; ++i) text[static_cast<size_t>(i) * 1048576 - 1] = 'c';
        std::vector<std::string> objs;
        for (long i = 1; i <= 10; ++i) objs.push_back(match_obj(i * 1048576 - 1, i * 1048576, "c"));
        EXPECT_EQ(or_null(rx_test("c", text.c_str())), matches_of(objs));
        const std::string replaced = or_null(rx_replace_preview("c", text.c_str(), ""));
        EXPECT_TRUE(krx_test::same_long_text(replaced, "{\"result\":\"" + std::string(LIMIT - 10, 'b') +
                                                           "\",\"count\":10}"));
        /* Repetitions over the whole text answer, and so does a repetition
         * of groups that every start meets again: work linear in the text. */
        EXPECT_TRUE(
            krx_test::same_long_text(or_null(rx_test("\\w*$", text.c_str())),
                                     matches_of({match_obj(0, LIMIT, text), match_obj(LIMIT, LIMIT, "")})));
        EXPECT_EQ(or_null(rx_test("(?:(b)|c)*x", text.c_str())), R"({"matches":[]})");
        std::string ab;
        for (int i = 0; i < LIMIT / 2; ++i) ab += "ab";
        EXPECT_TRUE(
            krx_test::same_long_text(or_null(rx_test("(?:ab)*", ab.c_str())),
                                     matches_of({match_obj(0, LIMIT, ab), match_obj(LIMIT, LIMIT, "")})));
        text += "b";
        EXPECT_EQ(or_null(rx_test("c", text.c_str())), "null: text exceeds 10485760 bytes");
    }));
}

} /* namespace */
