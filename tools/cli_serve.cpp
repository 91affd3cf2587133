/* kelvaron-regex serve: the pattern tester page on 127.0.0.1 only.
 *
 * The page is a folder of static files (web/ of the source tree, assembled
 * with the JavaScript package beside it by the build): <dir of the
 * executable>/web in the build tree, <prefix>/share/kelvaron-regex/web when
 * installed or unpacked from the Windows zip. The server lists that folder
 * once when it starts and answers only for the files it found: a request is
 * looked up by its exact path in that list and never turned into a file
 * name, so every other path, "/../" and its encodings included, is a 404.
 *
 * Every answer carries a Content-Security-Policy that allows nothing but
 * the page's own origin (and the compilation of WebAssembly, which Chromium
 * asks to be named in script-src). Requests whose Host is not this server's
 * own address are refused, so that a page of another site cannot reach it
 * through a name that it points at 127.0.0.1. */
#include "cli_serve.h"

#include <httplib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#if defined(_WIN32)
#  include <windows.h>
#  include <shellapi.h>
#else
#  include <csignal>
#  include <fcntl.h>
#  include <spawn.h>
#  include <unistd.h>
extern char **environ;
#endif

#include "cli_common.h"

namespace cli {

const char SERVE_HELP[] = "      Serves the pattern tester, a page that runs the library in the browser\n"
                          "      (as WebAssembly, so nothing is sent anywhere), on 127.0.0.1 only, and\n"
                          "      prints its address. --port N listens on port N (0: any free port; by\n"
                          "      default 5757, or any free port when that one is taken); --open also\n"
                          "      opens the page in the desktop's browser. It serves the page's files\n"
                          "      and nothing else, until it is stopped (Ctrl-C).\n";

namespace {

namespace fs = std::filesystem;

const char HOST[] = "127.0.0.1";
const int DEFAULT_PORT = 5757;
/* More files than a page has: a folder this large is not the page's. */
const size_t MAX_PAGE_FILES = 1000;

const char CSP[] = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; object-src 'none'; "
                   "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct ServeOptions {
    int port = -1; /* -1: the default port, falling back to any */
    bool open = false;
    bool help = false;
};

int serve_usage(const std::string &what) {
    error("%s", what.c_str());
    std::fprintf(stderr, "Try '%s serve --help'.\n", PROGRAM);
    return EXIT_ERROR;
}

/* A port number 0 to 65535, all digits; -1 otherwise. */
int parse_port(const char *s) {
    if (*s == '\0' || std::strlen(s) > 5 || std::strspn(s, "0123456789") != std::strlen(s)) return -1;
    const long value = std::strtol(s, nullptr, 10);
    return value <= 65535 ? static_cast<int>(value) : -1;
}

/* Returns -1 when the arguments are fine, otherwise the exit status of the
 * usage error reported. */
int parse_serve_args(const std::vector<const char *> &args, ServeOptions &opt) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string a = args[i];
        if (a == "--open") {
            opt.open = true;
        } else if (a == "-h" || a == "--help") {
            opt.help = true;
        } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
            const char *value = nullptr;
            if (a == "--port") {
                if (i + 1 == args.size()) return serve_usage("option --port needs a number");
                value = args[++i];
            } else {
                value = args[i] + 7;
            }
            opt.port = parse_port(value);
            if (opt.port < 0)
                return serve_usage(std::string("--port ") + value + ": not a port (0 to 65535)");
        } else {
            return serve_usage("serve takes --port N and --open, not '" + a + "'");
        }
    }
    return -1;
}

/* The folder of this program, or an empty path when it cannot be told. */
fs::path program_dir() {
#if defined(_WIN32)
    std::wstring name(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
    if (n == 0 || n >= name.size()) return {};
    name.resize(n);
    return fs::path(name).parent_path();
#else
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
#endif
}

/* The page's folder: the first of the places it is put that holds
 * index.html, or an empty path. */
fs::path find_page_dir() {
    const fs::path dir = program_dir();
    if (dir.empty()) return {};
    const fs::path places[] = {dir / "web", dir / ".." / "share" / "kelvaron-regex" / "web"};
    for (const fs::path &place : places) {
        std::error_code ec;
        if (fs::is_regular_file(place / "index.html", ec)) return fs::weakly_canonical(place, ec);
    }
    return {};
}

/* Every regular file under dir whose path has no part that begins with a
 * dot, by the URL path that names it ("/index.html", "/kelvaron-regex/x.js").
 * False when the folder cannot be read or holds too many files. */
bool list_page_files(const fs::path &dir, std::map<std::string, fs::path> &files) {
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().u8string();
        if (!name.empty() && name[0] == '.') {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(ec)) continue;
        const std::string url = "/" + fs::relative(it->path(), dir, ec).generic_u8string();
        if (ec) return false;
        files[url] = it->path();
        if (files.size() > MAX_PAGE_FILES) return false;
    }
    return !ec && files.count("/index.html") == 1;
}

const char *content_type(const std::string &url) {
    static const std::pair<const char *, const char *> TYPES[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".wasm", "application/wasm"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".txt", "text/plain; charset=utf-8"},
    };
    const size_t dot = url.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : url.substr(dot);
    for (const auto &t : TYPES) {
        if (ext == t.first) return t.second;
    }
    return "application/octet-stream";
}

bool read_file(const fs::path &path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    out = all.str();
    return !in.bad();
}

/* Linux: SO_REUSEADDR alone, so that a port in TIME_WAIT can be taken again
 * but a port another server holds cannot (cpp-httplib's default,
 * SO_REUSEPORT, would let two servers share it). Windows: exclusive use. */
void socket_options(socket_t sock) {
    int yes = 1;
#if defined(_WIN32)
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char *>(&yes), sizeof yes);
#else
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

/* Opens the URL in the desktop's browser, without waiting for it; false
 * when no opener could be started. */
bool open_in_browser(const std::string &url) {
#if defined(_WIN32)
    const std::wstring wide(url.begin(), url.end()); /* the URL is ASCII */
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
#else
#  if defined(__APPLE__)
    const char *opener = "open";
#  else
    const char *opener = "xdg-open";
#  endif
    std::signal(SIGCHLD, SIG_IGN); /* the opener is not waited for */
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>(opener), const_cast<char *>(url.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, opener, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
#endif
}

/* Answers GET and HEAD for the page's files; everything else is a 404 (or a
 * 403 for another Host). */
void route(httplib::Server &server, const std::map<std::string, fs::path> &files, int port) {
    const std::string hosts[] = {std::string(HOST) + ":" + std::to_string(port),
                                 "localhost:" + std::to_string(port)};
    server.set_pre_routing_handler([hosts](const httplib::Request &req, httplib::Response &res) {
        const std::string host = req.get_header_value("Host");
        if (host.empty() || host == hosts[0] || host == hosts[1])
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 403;
        res.set_content("this server answers only to " + hosts[0] + " and " + hosts[1] + "\n",
                        "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get(".*", [&files](const httplib::Request &req, httplib::Response &res) {
        const auto found = files.find(req.path == "/" ? std::string("/index.html") : req.path);
        std::string body;
        if (found == files.end()) {
            res.status = 404;
        } else if (!read_file(found->second, body)) {
            res.status = 500;
            res.set_content("cannot read the page's file\n", "text/plain; charset=utf-8");
        } else {
            res.set_content(body, content_type(found->first));
        }
    });
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.status == 404) res.set_content("not found\n", "text/plain; charset=utf-8");
    });
    server.set_default_headers({{"Content-Security-Policy", CSP},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Cross-Origin-Opener-Policy", "same-origin"},
                                {"Cache-Control", "no-cache"}});
}

} /* namespace */

int run_serve(const std::vector<const char *> &args) {
    ServeOptions opt;
    const int st = parse_serve_args(args, opt);
    if (st >= 0) return st;
    if (opt.help) {
        std::printf("Usage: %s serve [--port N] [--open]\n\n%s", PROGRAM, SERVE_HELP);
        return flush_stdout() ? EXIT_MATCH : EXIT_ERROR;
    }
    const fs::path dir = find_page_dir();
    std::map<std::string, fs::path> files;
    if (dir.empty() || !list_page_files(dir, files)) {
        error("the tester page is not here: web/index.html beside the program, or "
              "share/kelvaron-regex/web/ in its installation (build the page, or install it)");
        return EXIT_ERROR;
    }
    httplib::Server server;
    server.set_socket_options(socket_options);
    int port = opt.port < 0 ? DEFAULT_PORT : opt.port;
    bool bound = port == 0 ? (port = server.bind_to_any_port(HOST)) > 0 : server.bind_to_port(HOST, port);
    if (!bound && opt.port < 0) bound = (port = server.bind_to_any_port(HOST)) > 0;
    if (!bound) {
        error("cannot listen on %s:%d (is another server using that port? --port 0 takes any free one)", HOST,
              opt.port);
        return EXIT_ERROR;
    }
    route(server, files, port);
    const std::string url = "http://" + std::string(HOST) + ":" + std::to_string(port) + "/";
    std::printf("Serving the pattern tester at %s (Ctrl-C stops it)\n", url.c_str());
    if (!flush_stdout()) return EXIT_ERROR;
    if (opt.open && !open_in_browser(url)) error("could not open a browser; open %s yourself", url.c_str());
    if (!server.listen_after_bind()) {
        error("the server stopped: %s", std::strerror(errno));
        return EXIT_ERROR;
    }
    return EXIT_MATCH;
}

} /* namespace cli */
