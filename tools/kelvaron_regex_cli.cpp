// kelvaron-regex: the command-line host of the library.
//
// It talks to the library exactly as any other host does, through the five
// functions of include/kelvaron_regex.h and nothing else. Each subcommand
// maps onto one export:
//
//   validate PATTERN                   rx_validate
//   test PATTERN [TEXT]                rx_test
//   replace PATTERN REPLACEMENT [TEXT] rx_replace_preview
//   generate EXAMPLE... | --json FILE  rx_generate
//
// By default the JSON answer is printed as it came back, followed by a
// newline. With --human the answer is read back (a small reader for the
// answer shapes lives below) and shown in a form meant for people.
//
// Exit status: 0 when the library answered, 1 when it answered NULL (the
// text of rx_last_error() then goes to standard error), 2 for usage errors
// and input that cannot be read.
#include "kelvaron_regex.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const int kExitOk = 0;
const int kExitNull = 1;
const int kExitUsage = 2;

const char kHelp[] =
    "Usage: kelvaron-regex [OPTIONS] COMMAND ARGUMENTS...\n"
    "\n"
    "A command-line host for the kelvaron-regex library. Each command calls one\n"
    "function of the library and prints its JSON answer on standard output,\n"
    "followed by a newline.\n"
    "\n"
    "Commands:\n"
    "  validate PATTERN\n"
    "      Is PATTERN acceptable? Prints {\"ok\":true} or\n"
    "      {\"ok\":false,\"error\":\"...\"}. A rejected pattern is an answer too, so\n"
    "      the exit status is 0 either way.\n"
    "  test PATTERN [TEXT]\n"
    "      Lists every match of PATTERN in TEXT, left to right, with the span and\n"
    "      text of each match and of each capture group (1 to 16) that took part:\n"
    "      {\"matches\":[{\"start\":S,\"end\":E,\"text\":\"...\",\"groups\":[\n"
    "        {\"index\":N,\"start\":S,\"end\":E,\"text\":\"...\"}]}]}\n"
    "  replace PATTERN REPLACEMENT [TEXT]\n"
    "      Replaces every match of PATTERN in TEXT with REPLACEMENT, taken\n"
    "      literally (no group references, no escapes):\n"
    "      {\"result\":\"...\",\"count\":N}\n"
    "  generate EXAMPLE...\n"
    "  generate --json FILE\n"
    "      Synthesises an anchored pattern that matches every example:\n"
    "      {\"pattern\":\"^...$\",\"verbose\":\"(?x)\\n^\\n  ...\\n$\"}\n"
    "      The EXAMPLE arguments are turned into a JSON array of strings; with\n"
    "      --json the array is read as it stands from FILE (- for standard\n"
    "      input). 1 to 64 examples of at most 4096 bytes each; they must be\n"
    "      valid UTF-8, as JSON text must be.\n"
    "\n"
    "Where the text comes from (test, replace):\n"
    "  the TEXT argument when it is given; otherwise the file named by --file;\n"
    "  otherwise standard input (also with --file -). Giving both TEXT and\n"
    "  --file is a usage error. A text read from a file or standard input is\n"
    "  taken whole, final line break included (echo adds one).\n"
    "\n"
    "Options (anywhere on the line; -- ends the options, so that a PATTERN or\n"
    "TEXT that begins with '-' can follow it):\n"
    "  -H, --human       show the answer for people instead of the JSON text:\n"
    "                      validate  \"ok\" or the reason the pattern is rejected\n"
    "                      test      the lines of the text that hold a match, with\n"
    "                                a marker line under each (^~~ marks a match,\n"
    "                                ^ its first byte; | marks an empty match just\n"
    "                                before the byte above it, or at the end of\n"
    "                                the line), then each match with its number,\n"
    "                                span and text and each group's number, span\n"
    "                                and text; spans are byte offsets [start,end).\n"
    "                                Lines without a match are left out (...).\n"
    "                                Bytes that do not print are shown as \\t \\n\n"
    "                                \\r or \\xHH, a backslash as \\\\; a line break\n"
    "                                shows as \\n when a match covers it\n"
    "                      replace   the resulting text, then the count\n"
    "                      generate  the compact pattern, an empty line, and the\n"
    "                                verbose form line by line\n"
    "  -f, --file FILE   read TEXT from FILE (- for standard input); also\n"
    "                    --file=FILE\n"
    "      --json FILE   generate: read the JSON array of examples from FILE\n"
    "                    (- for standard input); also --json=FILE\n"
    "  -h, --help        show this help and exit\n"
    "\n"
    "Bytes and limits:\n"
    "  Everything is handled as bytes; offsets are byte offsets. The library\n"
    "  takes NUL-terminated strings, so a text cannot hold a NUL byte: none can\n"
    "  come through an argument, and when a text or JSON input read from a file\n"
    "  or standard input holds one, the input ends at that byte (a note says so\n"
    "  on standard error). A text may hold at most 10485760 bytes.\n"
    "\n"
    "Exit status:\n"
    "  0  the library answered (the answer is on standard output)\n"
    "  1  the library refused (its reason, as rx_last_error() gives it, is on\n"
    "     standard error: \"invalid pattern: ...\", \"backtracking limit reached\",\n"
    "     \"text exceeds 10485760 bytes\", \"invalid JSON\", ...)\n"
    "  2  usage error, or an input file that cannot be read\n"
    "\n"
    "Examples:\n"
    "  kelvaron-regex validate 'a(b|c'\n"
    "  kelvaron-regex test 'a(b|c)' 'ab ac'\n"
    "  kelvaron-regex -H test '\\d+' --file notes.txt\n"
    "  echo banana | kelvaron-regex replace a o\n"
    "  kelvaron-regex generate 2023-12-01 2024-01-15\n"
    "  kelvaron-regex -- test '-?\\d+' 'x -12 y'\n";

// ---------------------------------------------------------------------------
// Command line

struct Options {
  bool human = false;
  bool help = false;
  const char *file = nullptr;  // --file FILE
  const char *json = nullptr;  // --json FILE
  std::vector<const char *> args;  // the command and its positional arguments
};

int usage_error(const char *fmt, const char *arg) {
  std::fputs("kelvaron-regex: ", stderr);
  std::fprintf(stderr, fmt, arg);
  std::fputs("\nTry 'kelvaron-regex --help'.\n", stderr);
  return kExitUsage;
}

// Stores the FILE of an option written "NAME=FILE" (long_name=FILE) or
// "NAME FILE" (the next argument, past which *i then moves). Returns -1 when
// taken, otherwise the exit status of the usage error reported.
int take_file_option(const char *a, const char *long_name, int argc, char **argv, int *i,
                     const char **slot) {
  const size_t n = std::strlen(long_name);
  const char *value = nullptr;
  if (std::strncmp(a, long_name, n) == 0 && a[n] == '=') {
    value = a + n + 1;
  } else if (*i + 1 < argc) {
    value = argv[++*i];
  } else {
    return usage_error("option %s needs a FILE", a);
  }
  if (*slot != nullptr) return usage_error("%s given twice", long_name);
  *slot = value;
  return -1;
}

// Reads the options wherever they stand; everything else, and everything
// after "--", is positional. A lone "-" is positional too. Returns -1 when
// the line is fine, otherwise the exit status of the usage error reported.
int parse_command_line(int argc, char **argv, Options &opt) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (options_done || a[0] != '-' || a[1] == '\0') {
      opt.args.push_back(a);
      continue;
    }
    if (std::strcmp(a, "--") == 0) {
      options_done = true;
    } else if (std::strcmp(a, "-H") == 0 || std::strcmp(a, "--human") == 0) {
      opt.human = true;
    } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      opt.help = true;
    } else if (std::strcmp(a, "-f") == 0 || std::strcmp(a, "--file") == 0 ||
               std::strncmp(a, "--file=", 7) == 0) {
      int status = take_file_option(a, "--file", argc, argv, &i, &opt.file);
      if (status >= 0) return status;
    } else if (std::strcmp(a, "--json") == 0 || std::strncmp(a, "--json=", 7) == 0) {
      int status = take_file_option(a, "--json", argc, argv, &i, &opt.json);
      if (status >= 0) return status;
    } else {
      return usage_error("unknown option '%s' (put -- before an argument that begins with '-')", a);
    }
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Input

// Reads a whole stream. Returns false on a read error.
bool read_stream(std::FILE *f, std::string &out) {
  char chunk[65536];
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, f);
    out.append(chunk, got);
    if (got < sizeof chunk) return std::ferror(f) == 0;
  }
}

// Reads FILE, or standard input when FILE is "-". The library takes
// NUL-terminated strings, so the input ends at its first NUL byte; that cut
// is announced on standard error rather than made silently. Returns false
// (after reporting) when the input cannot be read.
bool read_input(const char *path, const char *what, std::string &out) {
  bool from_stdin = std::strcmp(path, "-") == 0;
  std::FILE *f = from_stdin ? stdin : std::fopen(path, "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "kelvaron-regex: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  bool ok = read_stream(f, out);
  int saved_errno = errno;
  if (!from_stdin) std::fclose(f);
  if (!ok) {
    std::fprintf(stderr, "kelvaron-regex: cannot read %s: %s\n",
                 from_stdin ? "standard input" : path, std::strerror(saved_errno));
    return false;
  }
  size_t nul = out.find('\0');
  if (nul != std::string::npos) {
    std::fprintf(stderr,
                 "kelvaron-regex: note: the %s holds a NUL byte at offset %zu; "
                 "only the %zu bytes before it are used\n",
                 what, nul, nul);
    out.resize(nul);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Output helpers

// Write errors are not checked here; finish() looks at the stream's error
// flag once everything is written.
void write_bytes(const char *p, size_t n) { std::fwrite(p, 1, n, stdout); }

void write_str(const std::string &s) { write_bytes(s.data(), s.size()); }

// Length of the well-formed UTF-8 sequence that starts at s[i], or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a
// surrogate, a value above U+10FFFF or a cut-off sequence).
size_t utf8_sequence_length(const std::string &s, size_t i) {
  unsigned char b0 = static_cast<unsigned char>(s[i]);
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  unsigned char b1 = static_cast<unsigned char>(s[i + 1]);
  if (b1 < lo || b1 > hi) return 0;
  for (size_t k = 2; k < len; ++k) {
    unsigned char b = static_cast<unsigned char>(s[i + k]);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return len;
}

// How one byte is shown to people: printable ASCII as itself, the usual
// control bytes as \n \r \t, other control bytes and bytes that are not part
// of well-formed UTF-8 as \xHH, and a backslash doubled so that the escapes
// stay unambiguous.
void show_byte(unsigned char b, std::string &out) {
  static const char hex[] = "0123456789abcdef";
  switch (b) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    case '\\': out += "\\\\"; return;
    default: break;
  }
  if (b >= 0x20 && b < 0x7F) {
    out += static_cast<char>(b);
  } else {
    out += "\\x";
    out += hex[b >> 4];
    out += hex[b & 15];
  }
}

// A byte string in double quotes for the human view, with the escapes of
// show_byte, a double quote escaped, and well-formed UTF-8 passed through.
std::string quote_for_people(const std::string &s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b >= 0x80) {
      size_t len = utf8_sequence_length(s, i);
      if (len > 0) {
        out.append(s, i, len);
        i += len;
        continue;
      }
    }
    if (b == '"') {
      out += "\\\"";
    } else {
      show_byte(b, out);
    }
    ++i;
  }
  out += '"';
  return out;
}

// The examples as a JSON array of strings: quote and backslash escaped,
// control bytes as \n \r \t \b \f or \u00XX, every other byte (UTF-8
// included) as it stands.
std::string examples_to_json(const std::vector<const char *> &examples) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "[";
  for (size_t k = 0; k < examples.size(); ++k) {
    if (k > 0) out += ',';
    out += '"';
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(examples[k]); *p; ++p) {
      unsigned char b = *p;
      switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
          if (b < 0x20) {
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 15];
          } else {
            out += static_cast<char>(b);
          }
      }
    }
    out += '"';
  }
  out += ']';
  return out;
}

// ---------------------------------------------------------------------------
// Reading the answers back (human view only)
//
// A cursor over one JSON text with just what the answer shapes need:
// objects are read member by member, unknown members are skipped, strings
// are decoded to bytes. Any surprise sets ok to false and the reader stops.

struct JsonCursor {
  const char *p;
  bool ok = true;
  int depth = 0;

  explicit JsonCursor(const char *text) : p(text) {}

  void ws() {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
  }

  bool eat(char c) {
    ws();
    if (*p == c) {
      ++p;
      return true;
    }
    return false;
  }

  void expect(char c) {
    if (!eat(c)) ok = false;
  }

  static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  unsigned read_hex4() {
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      int h = hex_value(p[k]);
      if (h < 0) {
        ok = false;
        return 0;
      }
      v = v * 16 + static_cast<unsigned>(h);
    }
    p += 4;
    return v;
  }

  static void put_utf8(unsigned cp, std::string &out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // A string literal, decoded. Raw bytes (UTF-8 or not) are kept as they are.
  void string(std::string &out) {
    out.clear();
    if (!eat('"')) {
      ok = false;
      return;
    }
    while (ok) {
      char c = *p;
      if (c == '\0') {
        ok = false;
        return;
      }
      ++p;
      if (c == '"') return;
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = *p;
      if (e == '\0') {
        ok = false;
        return;
      }
      ++p;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = read_hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF && p[0] == '\\' && p[1] == 'u') {
            p += 2;
            unsigned lo = read_hex4();
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            } else {
              ok = false;
            }
          }
          if (ok) put_utf8(cp, out);
          break;
        }
        default: ok = false;
      }
    }
  }

  long long integer() {
    ws();
    bool neg = false;
    if (*p == '-') {
      neg = true;
      ++p;
    }
    if (*p < '0' || *p > '9') {
      ok = false;
      return 0;
    }
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
      if (v > 100000000000LL) {
        ok = false;
        return 0;
      }
      v = v * 10 + (*p - '0');
      ++p;
    }
    return neg ? -v : v;
  }

  void skip_value() {
    if (++depth > 64) {
      ok = false;
      return;
    }
    ws();
    std::string scratch;
    if (*p == '"') {
      string(scratch);
    } else if (*p == '{') {
      ++p;
      if (!eat('}')) {
        do {
          string(scratch);
          expect(':');
          if (ok) skip_value();
        } while (ok && eat(','));
        expect('}');
      }
    } else if (*p == '[') {
      ++p;
      if (!eat(']')) {
        do {
          skip_value();
        } while (ok && eat(','));
        expect(']');
      }
    } else if (std::strncmp(p, "true", 4) == 0) {
      p += 4;
    } else if (std::strncmp(p, "false", 5) == 0) {
      p += 5;
    } else if (std::strncmp(p, "null", 4) == 0) {
      p += 4;
    } else {
      integer();
      if (ok && *p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') ++p;
      }
    }
    --depth;
  }

  // Walks the members of an object, calling on_member(key) for each; the
  // callback reads the value (or skips it).
  template <typename F>
  void object(F on_member) {
    expect('{');
    if (!ok || eat('}')) return;
    std::string key;
    do {
      string(key);
      expect(':');
      if (!ok) return;
      on_member(key);
    } while (ok && eat(','));
    expect('}');
  }

  template <typename F>
  void array(F on_item) {
    expect('[');
    if (!ok || eat(']')) return;
    do {
      on_item();
    } while (ok && eat(','));
    expect(']');
  }

  bool at_end() {
    ws();
    return *p == '\0';
  }
};

struct GroupInfo {
  long long index = 0, start = 0, end = 0;
  std::string text;
};

struct MatchInfo {
  long long start = 0, end = 0;
  std::string text;
  std::vector<GroupInfo> groups;
};

bool read_test_answer(const char *answer, std::vector<MatchInfo> &matches) {
  JsonCursor c(answer);
  c.object([&](const std::string &key) {
    if (key != "matches") {
      c.skip_value();
      return;
    }
    c.array([&] {
      MatchInfo m;
      c.object([&](const std::string &mk) {
        if (mk == "start") {
          m.start = c.integer();
        } else if (mk == "end") {
          m.end = c.integer();
        } else if (mk == "text") {
          c.string(m.text);
        } else if (mk == "groups") {
          c.array([&] {
            GroupInfo g;
            c.object([&](const std::string &gk) {
              if (gk == "index") {
                g.index = c.integer();
              } else if (gk == "start") {
                g.start = c.integer();
              } else if (gk == "end") {
                g.end = c.integer();
              } else if (gk == "text") {
                c.string(g.text);
              } else {
                c.skip_value();
              }
            });
            m.groups.push_back(std::move(g));
          });
        } else {
          c.skip_value();
        }
      });
      matches.push_back(std::move(m));
    });
  });
  return c.ok && c.at_end();
}

// Reads the string members named in keys (other members are skipped) and
// the integer member int_key when it is given.
bool read_flat_answer(const char *answer, const std::vector<std::string> &keys,
                      std::vector<std::string> &values, const char *int_key,
                      long long *int_value) {
  JsonCursor c(answer);
  values.assign(keys.size(), std::string());
  c.object([&](const std::string &key) {
    for (size_t k = 0; k < keys.size(); ++k) {
      if (key == keys[k]) {
        c.string(values[k]);
        return;
      }
    }
    if (int_key != nullptr && key == int_key) {
      *int_value = c.integer();
      return;
    }
    c.skip_value();
  });
  return c.ok && c.at_end();
}

// ---------------------------------------------------------------------------
// Human views

// Shows the lines of the text that hold (part of) a match, each followed by
// a marker line: "^" under the first byte of a match and "~" under the rest
// of it, "|" for an empty match, under the byte it stands before (or just
// past the end of the line). A line break that a match covers is shown as
// \n at the end of its line so that the marker has a place. Runs of lines
// without a match are elided as "...".
//
// Bytes take the width of their shown form (show_byte); a well-formed UTF-8
// sequence is shown as itself with width 1, unless a match boundary falls
// inside it, in which case its bytes are shown one by one as \xHH so that the
// markers can point between them.
void show_text_with_markers(const std::string &text, const std::vector<MatchInfo> &matches) {
  const size_t n = text.size();
  // boundary[i]: some match starts or ends at offset i.
  std::vector<bool> boundary(n + 1, false);
  for (const MatchInfo &m : matches) {
    boundary[static_cast<size_t>(m.start)] = true;
    boundary[static_cast<size_t>(m.end)] = true;
  }

  size_t mi = 0;                 // first match not wholly before the line
  size_t line_no = 0;
  size_t last_shown = 0;         // number of the last line shown, 0 for none
  std::string shown, marks;
  std::vector<size_t> col;       // column of each byte of the line, plus one
  for (size_t ls = 0; ls <= n;) {
    ++line_no;
    size_t le = ls;
    while (le < n && text[le] != '\n') ++le;
    const bool has_break = le < n;
    const size_t next = has_break ? le + 1 : n + 1;

    // Skip the matches that end before this line (an empty match at ls
    // belongs to this line, a match ending at ls does not).
    while (mi < matches.size()) {
      const MatchInfo &m = matches[mi];
      size_t s = static_cast<size_t>(m.start), e = static_cast<size_t>(m.end);
      if (e < ls || (e == ls && s < e)) {
        ++mi;
      } else {
        break;
      }
    }
    bool touched = mi < matches.size() && static_cast<size_t>(matches[mi].start) <= le;
    if (!touched) {
      ls = next;
      continue;
    }

    bool break_covered = false;
    for (size_t j = mi; j < matches.size() && static_cast<size_t>(matches[j].start) <= le; ++j) {
      if (has_break && static_cast<size_t>(matches[j].start) <= le &&
          static_cast<size_t>(matches[j].end) > le) {
        break_covered = true;
      }
    }

    // Lay the line out: shown text and the column of every byte.
    shown.clear();
    col.assign(le - ls + 2, 0);
    size_t c = 0;
    for (size_t i = ls; i < le;) {
      col[i - ls] = c;
      unsigned char b = static_cast<unsigned char>(text[i]);
      size_t len = b >= 0x80 ? utf8_sequence_length(text, i) : 0;
      for (size_t k = 1; k < len; ++k) {
        if (boundary[i + k]) len = 0;
      }
      if (len > 0) {
        // One column for the whole sequence; its continuation bytes take
        // none (no marker can start or end on them).
        shown.append(text, i, len);
        for (size_t k = 1; k < len; ++k) col[i + k - ls] = c + 1;
        c += 1;
        i += len;
        continue;
      }
      size_t before = shown.size();
      show_byte(b, shown);
      c += shown.size() - before;
      ++i;
    }
    col[le - ls] = c;  // the line break, or the end of the text
    if (break_covered) {
      shown += "\\n";
      c += 2;
    }
    col[le - ls + 1] = c;

    marks.assign(col[le - ls + 1] + 1, ' ');
    for (size_t j = mi; j < matches.size() && static_cast<size_t>(matches[j].start) <= le; ++j) {
      size_t s = static_cast<size_t>(matches[j].start), e = static_cast<size_t>(matches[j].end);
      if (s == e) {
        marks[col[s - ls]] = '|';
        continue;
      }
      size_t from = s > ls ? s : ls;
      size_t to = e < le + 1 ? e : le + 1;  // bytes [from, to) of this line
      for (size_t b = from; b < to; ++b) {
        size_t c0 = col[b - ls], c1 = col[b - ls + 1];
        for (size_t c = c0; c < c1; ++c) marks[c] = (b == s && c == c0) ? '^' : '~';
      }
    }
    while (!marks.empty() && marks.back() == ' ') marks.pop_back();

    if (line_no > last_shown + 1) write_str("     ...\n");
    char gutter[32];
    std::snprintf(gutter, sizeof gutter, "%6zu  ", line_no);
    write_str(gutter);
    write_str(shown);
    write_str("\n        ");
    write_str(marks);
    write_str("\n");
    last_shown = line_no;
    ls = next;
  }
  // The empty line after a final line break is no line of its own unless a
  // match sits there.
  size_t lines = line_no;
  if (n > 0 && text[n - 1] == '\n' && last_shown != line_no) --lines;
  if (last_shown != 0 && last_shown < lines) write_str("     ...\n");
}

bool show_test(const char *answer, const std::string &text) {
  std::vector<MatchInfo> matches;
  if (!read_test_answer(answer, matches)) return false;
  // Spans must lie within the text, in order and without overlap, for the
  // marker view; anything else is shown as the raw answer instead.
  long long prev_end = 0;
  for (const MatchInfo &m : matches) {
    if (m.start < prev_end || m.end < m.start || m.end > static_cast<long long>(text.size())) {
      return false;
    }
    prev_end = m.end;
  }
  if (matches.empty()) {
    write_str("no match\n");
    return true;
  }
  show_text_with_markers(text, matches);
  char line[160];
  std::snprintf(line, sizeof line, "%zu match%s\n", matches.size(),
                matches.size() == 1 ? "" : "es");
  write_str(line);
  for (size_t k = 0; k < matches.size(); ++k) {
    const MatchInfo &m = matches[k];
    std::snprintf(line, sizeof line, "  #%zu [%lld,%lld) ", k + 1, m.start, m.end);
    write_str(line);
    write_str(quote_for_people(m.text));
    write_str("\n");
    for (const GroupInfo &g : m.groups) {
      std::snprintf(line, sizeof line, "      group %lld [%lld,%lld) ", g.index, g.start, g.end);
      write_str(line);
      write_str(quote_for_people(g.text));
      write_str("\n");
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Commands

// Prints the answer (or the library's reason for refusing) and gives the
// exit status. show_human returns false, before writing anything, when it
// cannot read the answer; the raw answer is printed then. Write errors are
// caught once, at the end, through the stream's error flag.
template <typename Show>
int finish(const char *answer, bool human, Show show_human) {
  if (answer == nullptr) {
    std::fprintf(stderr, "%s\n", rx_last_error());
    return kExitNull;
  }
  // Copy the answer: it lives in the library's per-thread buffer.
  std::string copy(answer);
  if (!human || !show_human(copy.c_str())) {
    if (human) std::fputs("kelvaron-regex: note: showing the answer as it came\n", stderr);
    write_str(copy);
    write_bytes("\n", 1);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kelvaron-regex: cannot write the answer: %s\n", std::strerror(errno));
    return kExitNull;
  }
  return kExitOk;
}

int cmd_validate(const Options &opt) {
  if (opt.args.size() != 2) return usage_error("%s", "validate takes exactly one PATTERN");
  if (opt.file != nullptr || opt.json != nullptr) {
    return usage_error("%s", "validate takes neither --file nor --json");
  }
  return finish(rx_validate(opt.args[1]), opt.human, [](const char *answer) {
    std::vector<std::string> values;
    JsonCursor probe(answer);
    bool is_ok = false;
    bool seen_ok = false;
    probe.object([&](const std::string &key) {
      if (key == "ok") {
        probe.ws();
        if (std::strncmp(probe.p, "true", 4) == 0) {
          is_ok = true;
          seen_ok = true;
          probe.p += 4;
        } else if (std::strncmp(probe.p, "false", 5) == 0) {
          seen_ok = true;
          probe.p += 5;
        } else {
          probe.ok = false;
        }
      } else {
        probe.skip_value();
      }
    });
    if (!probe.ok || !probe.at_end() || !seen_ok) return false;
    if (is_ok) {
      write_str("ok\n");
      return true;
    }
    if (!read_flat_answer(answer, {"error"}, values, nullptr, nullptr)) return false;
    write_str(values[0]);
    write_str("\n");
    return true;
  });
}

// The text of test and replace: the argument at position index when there is
// one, else --file, else standard input. Returns -1 when it was read,
// otherwise the exit status to leave with.
int take_text(const Options &opt, size_t index, std::string &text) {
  if (opt.json != nullptr) return usage_error("%s", "--json belongs to generate");
  if (opt.args.size() > index) {
    if (opt.file != nullptr) return usage_error("%s", "give the TEXT either as an argument or with --file");
    text = opt.args[index];
    return -1;
  }
  return read_input(opt.file != nullptr ? opt.file : "-", "text", text) ? -1 : kExitUsage;
}

int cmd_test(const Options &opt) {
  if (opt.args.size() < 2 || opt.args.size() > 3) {
    return usage_error("%s", "usage: test PATTERN [TEXT]");
  }
  std::string text;
  int st = take_text(opt, 2, text);
  if (st >= 0) return st;
  return finish(rx_test(opt.args[1], text.c_str()), opt.human,
                [&](const char *answer) { return show_test(answer, text); });
}

int cmd_replace(const Options &opt) {
  if (opt.args.size() < 3 || opt.args.size() > 4) {
    return usage_error("%s", "usage: replace PATTERN REPLACEMENT [TEXT]");
  }
  std::string text;
  int st = take_text(opt, 3, text);
  if (st >= 0) return st;
  return finish(rx_replace_preview(opt.args[1], text.c_str(), opt.args[2]), opt.human,
                [](const char *answer) {
                  std::vector<std::string> values;
                  long long count = -1;
                  if (!read_flat_answer(answer, {"result"}, values, "count", &count) || count < 0) {
                    return false;
                  }
                  const std::string &r = values[0];
                  write_str(r);
                  if (!r.empty() && r.back() != '\n') write_str("\n");
                  char line[64];
                  std::snprintf(line, sizeof line, "count: %lld\n", count);
                  write_str(line);
                  return true;
                });
}

int cmd_generate(const Options &opt) {
  if (opt.file != nullptr) return usage_error("%s", "generate reads examples with --json, not --file");
  std::string json;
  if (opt.json != nullptr) {
    if (opt.args.size() > 1) return usage_error("%s", "give the examples either as arguments or with --json");
    if (!read_input(opt.json, "JSON input", json)) return kExitUsage;
  } else {
    if (opt.args.size() < 2) return usage_error("%s", "generate needs at least one EXAMPLE (or --json FILE)");
    std::vector<const char *> examples(opt.args.begin() + 1, opt.args.end());
    json = examples_to_json(examples);
  }
  return finish(rx_generate(json.c_str()), opt.human, [](const char *answer) {
    std::vector<std::string> values;
    if (!read_flat_answer(answer, {"pattern", "verbose"}, values, nullptr, nullptr)) return false;
    write_str(values[0]);
    write_str("\n\n");
    write_str(values[1]);
    if (values[1].empty() || values[1].back() != '\n') write_str("\n");
    return true;
  });
}

}  // namespace

int main(int argc, char **argv) {
#if defined(_WIN32)
  // Texts and answers are bytes: no line-break translation on the way in or out.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  Options opt;
  int st = parse_command_line(argc, argv, opt);
  if (st >= 0) return st;
  if (opt.help) {
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitNull;
  }
  if (opt.args.empty()) return usage_error("%s", "no command given (validate, test, replace, generate)");
  const char *cmd = opt.args[0];
  if (std::strcmp(cmd, "validate") == 0) return cmd_validate(opt);
  if (std::strcmp(cmd, "test") == 0) return cmd_test(opt);
  if (std::strcmp(cmd, "replace") == 0) return cmd_replace(opt);
  if (std::strcmp(cmd, "generate") == 0) return cmd_generate(opt);
  return usage_error("unknown command '%s' (validate, test, replace, generate)", cmd);
}
