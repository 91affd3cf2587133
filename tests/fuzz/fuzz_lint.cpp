/* Fuzz target of the analysis: the input is a pattern. The lint and the
 * explanation must answer JSON of their shapes; a pattern the lint says never
 * matches must find no match under the reference matcher on a few texts made
 * of its own bytes, and a part it says is dead must be removable without
 * changing a match on them. */
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "ref_matcher.h"
#include "rx_analysis.h"

using namespace krx_fuzz;

namespace {

/* The reference's matches without a budget; false when it gave up. */
bool spans(const std::string &pattern, const std::string &text, std::vector<Span> *out) {
    rx_node *tree = parse_pattern(pattern.c_str(), nullptr, 0);
    if (tree == nullptr) return false;
    ref_budget budget;
    ref_budget_none(&budget, 100000);
    bool ok = true;
    for (uint64_t at = 0; at <= text.size();) {
        ref_result r;
        const int found = ref_find(tree, pattern.c_str(), text.data(), text.size(), at, &budget, &r);
        if (found < 0) ok = false;
        if (found != 1) break;
        out->push_back(Span{r.start, r.end});
        at = r.end > r.start ? r.end : r.end + 1;
    }
    node_free(tree);
    return ok;
}

bool same(const std::vector<Span> &a, const std::vector<Span> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].start != b[i].start || a[i].end != b[i].end) return false;
    return true;
}

bool ends_with(const char *s, const char *tail) {
    const size_t n = std::strlen(s), k = std::strlen(tail);
    return n >= k && std::memcmp(s + n - k, tail, k) == 0;
}

struct Input {
    std::string pattern;
};

void judge(void *arg) {
    const std::string &pattern = static_cast<Input *>(arg)->pattern;
    rx_lint l;
    if (rx_analysis_lint(pattern.c_str(), &l) != 0) return;
    if (l.invalid) {
        rx_analysis_lint_free(&l);
        return;
    }
    std::vector<std::string> texts = {pattern, "", pattern + pattern};
    for (size_t i = 0; i + 1 < pattern.size() && texts.size() < 8; i += 3)
        texts.push_back(pattern.substr(i, 6));
    for (uint32_t i = 0; i < l.count; i++) {
        const rx_finding &f = l.findings[i];
        check(f.start <= f.end && f.end <= pattern.size(), "finding span out of the pattern", pattern);
        const bool never = std::strcmp(f.effect, "never-matches") == 0,
                   dead = std::strcmp(f.effect, "dead") == 0;
        std::string smaller = pattern;
        if (dead) {
            size_t s = f.start, e = f.end;
            /* an alternative goes with its bar; an optional part has none of its own
             * (its message ends so; the quoted part before it may say anything) */
            if (!ends_with(f.message, ": this optional part is never used")) {
                if (s > 0 && pattern[s - 1] == '|')
                    s--;
                else if (e < pattern.size() && pattern[e] == '|')
                    e++;
            }
            smaller = pattern.substr(0, s) + pattern.substr(e);
        }
        for (const std::string &t : texts) {
            std::vector<Span> a, b;
            if (never && spans(pattern, t, &a))
                check(a.empty(), "a never-matches pattern matched", pattern + " / " + t);
            if (dead && spans(pattern, t, &a) && spans(smaller, t, &b))
                check(same(a, b), "removing a dead part changed the matches", pattern + " / " + t);
        }
        for (int32_t k = 0; k < f.suggestion_count; k++)
            check(rx_validate(f.suggestions[k].pattern) != nullptr &&
                      std::strcmp(rx_validate(f.suggestions[k].pattern), "{\"ok\":true}") == 0,
                  "invalid suggestion", f.suggestions[k].pattern);
    }
    rx_analysis_lint_free(&l);
}

} /* namespace */

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in{split(data, size, 1)[0]};
    char *lint = rx_analysis_lint_json(in.pattern.c_str());
    char *tree = rx_analysis_explain_json(in.pattern.c_str());
    check(lint != nullptr && tree != nullptr, "analysis answered null", in.pattern);
    {
        Doc d(lint), e(tree);
        check(yyjson_is_obj(d.root()) && yyjson_is_obj(e.root()), "analysis answer is no object", lint);
    }
    std::free(lint);
    std::free(tree);
    check(ref_run_on_big_stack(judge, &in, 256u << 20) == 0, "no thread for the reference matcher");
    return 0;
}
