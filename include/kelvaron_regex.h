/*
 * kelvaron-regex: a small regular-expression service behind a C interface.
 *
 * A host loads the library (kelvaron-regex.dll on Windows,
 * libkelvaron-regex.so elsewhere) and calls the five functions below.
 *
 * The contract every function shares
 * ----------------------------------
 * - Arguments are NUL-terminated byte strings. Text is handled as bytes:
 *   UTF-8 passes through unchanged and is neither decoded nor validated.
 *   Offsets in answers are byte offsets; a span's end is exclusive.
 * - Every answer is one NUL-terminated JSON text without white space.
 * - Ownership: the answer lives in a buffer that belongs to the calling
 *   thread. It stays valid until the next answer is stored on the same
 *   thread; copy it before your next call on that thread if you need it
 *   longer. Never free it.
 * - Errors: a failing call returns NULL and stores nothing, so the previous
 *   answer on the thread survives it. The reason is in rx_last_error(),
 *   a single text for the whole process (the latest failure on any thread).
 *   rx_validate is the exception: it answers with JSON for every input.
 * - Any function may be called from any thread; answers on different
 *   threads never disturb each other. The library starts no threads.
 * - Work is bounded: one call may spend (8 + N) matcher steps per text byte
 *   plus 1,000,000 (at most 2,147,483,647), N the number of nodes of the
 *   pattern's parse tree; all searches of the call share it. There is no
 *   limit on repetition. When the budget runs out the call fails with
 *   "backtracking limit reached" instead of hanging.
 *
 * The pattern language (bytes, not characters)
 * --------------------------------------------
 *   literal bytes, "." (not line feed), [set] [^set] with ranges a-z and no
 *   escapes inside brackets, \d \D \s \S \w \W, \b \B, any other escaped
 *   byte stands for itself (\n is the letter n), ^ and $ anchors,
 *   (group) captures (groups 1..16 are reported), (?:group) does not,
 *   alternation |, quantifiers * + ? {n} {n,} {n,m}, each optionally lazy
 *   with a trailing ?, and one leading flag group such as (?i), (?m), (?s)
 *   or (?ims) at the very start of the pattern.
 *   Every node commits to the first end it finds: a*ab finds nothing in
 *   "aab", and an alternation takes its first alternative that matches.
 */
#ifndef KELVARON_REGEX_H
#define KELVARON_REGEX_H

/* The library's version; the build checks that it is the project's version. */
#define KELVARON_REGEX_VERSION_MAJOR 0
#define KELVARON_REGEX_VERSION_MINOR 2
#define KELVARON_REGEX_VERSION_PATCH 0
#define KELVARON_REGEX_VERSION_STRING "0.2.0"

/* RX_API marks the five exported functions; everything else is hidden. */
#if defined(_WIN32)
#  if defined(KELVARON_REGEX_BUILD)
#    define RX_API __declspec(dllexport)
#  else
#    define RX_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define RX_API __attribute__((visibility("default")))
#else
#  define RX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Is the pattern acceptable?
 * Answers {"ok":true} or {"ok":false,"error":"<parser message>"}, for a
 * NULL pattern too ({"ok":false,"error":"null pattern"}, and the error text
 * then reads "null pattern"). A rejected pattern is not a failure: the error
 * text stays empty. Returns NULL only when the answer cannot be stored.
 */
RX_API const char *rx_validate(const char *pattern);

/*
 * Every match of the pattern in the text, left to right:
 * {"matches":[{"start":S,"end":E,"text":"...","groups":[
 *   {"index":N,"start":S,"end":E,"text":"..."}, ...]}, ...]}
 * Only groups 1..16 that took part in a match are listed. After an empty
 * match the search resumes one byte further on.
 * NULL on failure: "null pattern", "null text", "invalid pattern: <message>",
 * "text exceeds 10485760 bytes", "backtracking limit reached",
 * "out of memory", "out of memory for JSON buffer".
 */
RX_API const char *rx_test(const char *pattern, const char *text);

/*
 * Replaces every match with the replacement, taken literally (no group
 * references, no escapes): {"result":"...","count":N}.
 * NULL on failure, with the reasons of rx_test and "null replacement".
 */
RX_API const char *rx_replace_preview(const char *pattern, const char *text, const char *replacement);

/*
 * Synthesises an anchored pattern that matches every example of a JSON
 * array of 1 to 64 strings (each at most 4096 bytes, no NUL byte):
 * {"pattern":"^...$","verbose":"(?x)\n^\n  ...\n$"}.
 * NULL on failure: "null examples_json", "invalid JSON",
 * "examples_json must be a JSON array of strings", "empty examples array",
 * "too many examples (max 64)", "example N is not a string",
 * "example N contains a NUL byte", "example N exceeds 4096 bytes",
 * "out of memory", "out of memory for JSON buffer".
 */
RX_API const char *rx_generate(const char *examples_json);

/*
 * The text of the most recent failure, or "" when the last call succeeded.
 * Never NULL; it is not cleared by reading it. One text for the process:
 * every call on any thread clears or sets it. A multi-threaded host that
 * reads it must serialise its calls, holding one lock of its own over each
 * call and the read that follows, on every thread; otherwise it may read
 * another thread's text, or one half overwritten.
 */
RX_API const char *rx_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* KELVARON_REGEX_H */
