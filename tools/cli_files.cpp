/* The files grep searches (see cli_files.h), chosen as GNU grep chooses:
 *   - an operand names a file, followed if it is a symbolic link, or a
 *     folder, which only -r and -R search (without them it is an error);
 *   - -r walks a folder's entries in the order the folder lists them,
 *     depth first, and skips the symbolic links it finds there (-R follows
 *     them, and warns of a folder it is already inside); of what it finds
 *     it searches only regular files;
 *   - --include and --exclude judge the files: of those that match a
 *     file's name, the last one given decides; when none matches, the file
 *     is skipped if the first one given is an --include. An operand's name
 *     matches when it or a part of it that follows a "/" does; a file found
 *     in a folder matches by its own name, without the folder's.
 *     --exclude-dir judges folders the same way;
 *   - a folder's files are named by the folder's name as given (its final
 *     slashes made one) and theirs; with no operand, by theirs alone. */
#include "cli_files.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>

#if defined(_WIN32)
/* No symbolic links to tell apart, and no inode numbers to follow. */
#  define krx_lstat stat
#  define KRX_HAS_LINKS 0
#else
#  define krx_lstat lstat
#  define KRX_HAS_LINKS 1
#endif

namespace cli {

namespace {

/* The end of the set that begins at glob (just past '['), or null when the
 * '[' opens no set (then it is a byte of its own). */
const char *set_end(const char *glob) {
    const char *p = glob;
    if (*p == '!' || *p == '^') ++p;
    if (*p == ']') ++p;
    while (*p != '\0' && *p != ']') ++p;
    return *p == ']' ? p : nullptr;
}

/* 1 when byte c is in the set [glob, end). */
bool in_set(const char *glob, const char *end, unsigned char c) {
    const bool negated = *glob == '!' || *glob == '^';
    const char *p = negated ? glob + 1 : glob;
    bool in = false;
    for (bool first = true; p < end; first = false) {
        unsigned char lo = static_cast<unsigned char>(*p++);
        if (lo == ']' && !first) break;
        unsigned char hi = lo;
        if (p + 1 < end && *p == '-') {
            hi = static_cast<unsigned char>(p[1]);
            p += 2;
        }
        if (c >= lo && c <= hi) in = true;
    }
    return in != negated;
}

/* The part of a name after its last slash. */
const char *base_name(const std::string &name) {
    const size_t slash = name.find_last_of('/');
    return slash == std::string::npos ? name.c_str() : name.c_str() + slash + 1;
}

/* 1 when the name or a part of it that follows a slash matches glob. */
bool suffix_matches(const std::string &glob, const std::string &name) {
    if (glob_match(glob.c_str(), name.c_str())) return true;
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
        if (name[slash + 1] != '/' && glob_match(glob.c_str(), name.c_str() + slash + 1)) return true;
    return false;
}

/* A name without its final slashes (one kept for a name of slashes only). */
std::string folder_name(const std::string &name) {
    size_t end = name.size();
    while (end > 1 && name[end - 1] == '/') --end;
    return name.substr(0, end);
}

std::string join(const std::string &folder, const char *entry) {
    if (folder.empty()) return entry;
    return folder.back() == '/' ? folder + entry : folder + "/" + entry;
}

struct Walk {
    Walk(const GrepOptions &o, const std::function<bool(const InputFile &)> &s, bool *f)
        : opt(o), search(s), failed(f) {}

    const GrepOptions &opt;
    const std::function<bool(const InputFile &)> &search;
    bool *failed;
    bool stopped = false;
#if KRX_HAS_LINKS
    std::vector<std::pair<dev_t, ino_t>> folders; /* the folders being walked, for -R's loops */
#endif

    void report(const std::string &name, int err) {
        *failed = true;
        if (!opt.no_messages) error("%s: %s", name.c_str(), std::strerror(err));
    }

    /* The file rules' verdict on a name (operand: by its suffixes). */
    bool file_wanted(const std::string &name, bool operand) const {
        const std::vector<GlobRule> &rules = opt.file_rules;
        if (rules.empty()) return true;
        bool wanted = !rules.front().include;
        for (const GlobRule &r : rules) {
            const bool hit =
                operand ? suffix_matches(r.glob, name) : glob_match(r.glob.c_str(), base_name(name));
            if (hit) wanted = r.include;
        }
        return wanted;
    }

    bool folder_wanted(const std::string &name, bool operand) const {
        for (const std::string &g : opt.exclude_dirs) {
            const bool hit =
                operand ? suffix_matches(g, folder_name(name)) : glob_match(g.c_str(), base_name(name));
            if (hit) return false;
        }
        return true;
    }

    void hand_over(const std::string &path, const std::string &name, bool inside) {
        if (!search(InputFile{path, name, inside})) stopped = true;
    }

    void walk_folder(const std::string &path, const struct stat &st);
    void operand(const std::string &path, bool implicit);
};

void Walk::walk_folder(const std::string &path, const struct stat &st) {
#if KRX_HAS_LINKS
    for (const auto &f : folders) {
        if (f.first == st.st_dev && f.second == st.st_ino) {
            if (!opt.no_messages) error("warning: %s: recursive directory loop", path.c_str());
            return;
        }
    }
    folders.emplace_back(st.st_dev, st.st_ino);
#else
    (void)st;
#endif
    DIR *dir = opendir(path.empty() ? "." : path.c_str());
    if (dir == nullptr) {
        report(path, errno);
    } else {
        std::vector<std::string> entries; /* read first: the walk below opens more */
        while (struct dirent *d = readdir(dir)) {
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
                entries.emplace_back(d->d_name);
        }
        closedir(dir);
        for (size_t k = 0; k < entries.size() && !stopped; ++k) {
            const std::string child = join(path, entries[k].c_str());
            struct stat cs;
            const int r = opt.recursive == 2 ? stat(child.c_str(), &cs) : krx_lstat(child.c_str(), &cs);
            if (r != 0) {
                report(child, errno);
            } else if (S_ISDIR(cs.st_mode)) {
                if (folder_wanted(child, false)) walk_folder(child, cs);
            } else if (S_ISREG(cs.st_mode) && file_wanted(child, false)) {
                hand_over(child, child, true);
            }
        }
    }
#if KRX_HAS_LINKS
    folders.pop_back();
#endif
}

/* implicit: the working folder that -r searches when there is no operand,
 * whose files are named without it. */
void Walk::operand(const std::string &path, bool implicit) {
    if (path == "-") {
        hand_over(path, opt.label, false);
        return;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        report(path, errno);
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (file_wanted(path, true)) hand_over(path, path, false);
        return;
    }
    if (opt.recursive == 0) {
        report(path, EISDIR);
        return;
    }
    if (!implicit && !folder_wanted(path, true)) return;
    walk_folder(implicit ? std::string() : folder_name(path), st);
}

} /* namespace */

bool glob_match(const char *glob, const char *name) {
    /* the last '*' seen and where the name stood then, for backtracking */
    const char *star = nullptr, *resume = nullptr;
    while (*name != '\0') {
        const char *end = nullptr;
        if (*glob == '*') {
            star = ++glob;
            resume = name;
            continue;
        }
        if (*glob == '?') {
            ++glob;
            ++name;
            continue;
        }
        if (*glob == '[' && (end = set_end(glob + 1)) != nullptr) {
            if (in_set(glob + 1, end, static_cast<unsigned char>(*name))) {
                glob = end + 1;
                ++name;
                continue;
            }
        } else {
            const char want = *glob == '\\' && glob[1] != '\0' ? glob[1] : *glob;
            if (*glob != '\0' && want == *name) {
                glob += *glob == '\\' && glob[1] != '\0' ? 2 : 1;
                ++name;
                continue;
            }
        }
        if (star == nullptr) return false;
        glob = star;
        name = ++resume;
    }
    while (*glob == '*') ++glob;
    return *glob == '\0';
}

void walk_inputs(const GrepOptions &opt, const std::function<bool(const InputFile &)> &search, bool *failed) {
    Walk w(opt, search, failed);
    if (opt.files.empty()) {
        w.operand(opt.recursive != 0 ? "." : "-", opt.recursive != 0);
        return;
    }
    for (size_t k = 0; k < opt.files.size() && !w.stopped; ++k) w.operand(opt.files[k], false);
}

} /* namespace cli */
