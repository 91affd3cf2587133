/* A C# host of the library: runs bindings/csharp/KelvaronRegex.cs (the
 * wrapper the README shows) against the shared library, compares every answer
 * with the one wanted, and checks from several threads at once that every
 * exception carries its own call's reason. Exit status 0 when all agree. */
using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;

static class KelvaronRegexHost
{
    static int failures = 0;

    static void Check(string name, Func<string> call, string want)
    {
        string got;
        try { got = call(); }
        catch (KelvaronRegexException e) { got = "error: " + e.Reason; }
        if (got != want)
        {
            Interlocked.Increment(ref failures);
            Console.Error.WriteLine("FAIL: " + name + "\n  got:    " + got + "\n  wanted: " + want);
        }
    }

    /* A match as "[start,end) utf16 [start,end) 'text' {groups}". */
    static string Show(Span s)
    {
        return "[" + s.Start + "," + s.End + ") utf16 [" + s.Utf16Start + "," + s.Utf16End + ") '" + s.Text + "'";
    }

    static string Show(IReadOnlyList<Match> matches)
    {
        return string.Join(" ", matches.Select(m =>
            Show(m) + (m.Groups.Count == 0 ? "" : " {" + string.Join(" ", m.Groups.Select(g => g.Index + ":" + Show(g))) + "}")));
    }

    static int Main()
    {
        Check("validate", () => KelvaronRegex.Validate("a(b|c)+") ?? "valid", "valid");
        Check("validate rejects", () => KelvaronRegex.Validate("(a"), "unclosed group");
        Check("test", () => Show(KelvaronRegex.Test("a(b|c)", "ab ac")),
              "[0,2) utf16 [0,2) 'ab' {1:[1,2) utf16 [1,2) 'b'} [3,5) utf16 [3,5) 'ac' {1:[4,5) utf16 [4,5) 'c'}");
        /* UTF-8 both ways: "é" is two bytes and one UTF-16 unit, "😀" four and two. */
        Check("test UTF-8", () => Show(KelvaronRegex.Test("é(b)", "xéb😀b")),
              "[1,4) utf16 [1,3) 'éb' {1:[3,4) utf16 [2,3) 'b'}");
        Check("offsets after a surrogate pair", () => Show(KelvaronRegex.Test("b", "😀b")), "[4,5) utf16 [2,3) 'b'");
        /* "." takes one byte: a span inside a character covers it whole in UTF-16. */
        Check("a match that cuts a character", () => Show(KelvaronRegex.Test(".", "é")),
              "[0,1) utf16 [0,1) '\uFFFD' [1,2) utf16 [0,1) '\uFFFD'");
        Check("group lookup", () => KelvaronRegex.Test("(a)|(b)", "b")[0].Group(2).Text + (KelvaronRegex.Test("(a)|(b)", "b")[0].Group(1) == null), "bTrue");
        Check("replace", () => { var r = KelvaronRegex.ReplacePreview("a", "banana", "o"); return r.Result + " " + r.Count; }, "bonono 3");
        Check("replace UTF-8", () => KelvaronRegex.ReplacePreview("é", "café \"x\"", "e\n").Result, "cafe\n \"x\"");
        Check("generate", () => { var g = KelvaronRegex.Generate(new[] { "2023-12-01", "2024-01-15" }); return g.Pattern + " " + g.Verbose; },
              "^\\d{4}-\\d{2}-\\d{2}$ (?x)\n^\n  \\d{4}-\\d{2}-\\d{2}\n$");
        Check("generate quotes", () => KelvaronRegex.Generate(new[] { "a\"b\\", "a\"b\\\t" }).Pattern, "^a\"b\\\\(\t|)$");
        Check("invalid pattern throws with the reason", () => Show(KelvaronRegex.Test("(a", "a")),
              "error: invalid pattern: unclosed group");
        Check("budget throws with the reason", () => Show(KelvaronRegex.Test("(?:a|b){0,5000}c", new string('a', 1500))),
              "error: backtracking limit reached");
        Check("generate throws with the reason", () => KelvaronRegex.Generate(new string[0]).Pattern, "error: empty examples array");

        /* Threads fail with different reasons at the same time, between
         * successful calls; every exception must carry its own call's reason. */
        var cases = new List<KeyValuePair<Func<string>, string>> {
            new KeyValuePair<Func<string>, string>(() => Show(KelvaronRegex.Test("(a", "a")), "error: invalid pattern: unclosed group"),
            new KeyValuePair<Func<string>, string>(() => Show(KelvaronRegex.Test("*", "a")), "error: invalid pattern: unexpected '*'"),
            new KeyValuePair<Func<string>, string>(() => Show(KelvaronRegex.Test("(?:a|b){0,5000}c", new string('a', 1500))), "error: backtracking limit reached"),
            new KeyValuePair<Func<string>, string>(() => KelvaronRegex.Generate(new string[0]).Pattern, "error: empty examples array"),
            new KeyValuePair<Func<string>, string>(() => KelvaronRegex.Generate(Enumerable.Repeat("a", 65)).Pattern, "error: too many examples (max 64)"),
            new KeyValuePair<Func<string>, string>(() => KelvaronRegex.ReplacePreview("b", "ab", "c").Result, "ac"),
        };
        int calls = 0;
        var threads = new List<Thread>();
        foreach (var c in cases)
            for (int copy = 0; copy < 2; copy++)
            {
                var call = c;
                var thread = new Thread(() =>
                {
                    for (int i = 0; i < 1000; i++)
                    {
                        Check("thread: " + call.Value, call.Key, call.Value);
                        Interlocked.Increment(ref calls);
                    }
                });
                threads.Add(thread);
                thread.Start();
            }
        foreach (var thread in threads) thread.Join();

        Console.WriteLine(failures == 0
            ? "csharp host: all answers as wanted (" + calls + " calls on " + threads.Count + " threads)"
            : "csharp host: " + failures + " failures");
        return failures == 0 ? 0 : 1;
    }
}
