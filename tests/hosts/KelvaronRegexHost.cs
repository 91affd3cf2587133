// A C# host of the library: runs bindings/csharp/KelvaronRegex.cs (the
// wrapper the README shows) against the shared library and compares every
// answer with the one wanted. Exit status 0 when all agree, 1 otherwise.
using System;
using System.Threading;

static class KelvaronRegexHost
{
    static int failures = 0;

    static void Check(string name, Func<string> call, string want)
    {
        string got;
        try { got = call(); }
        catch (InvalidOperationException e) { got = "error: " + e.Message; }
        if (got != want)
        {
            Interlocked.Increment(ref failures);
            Console.Error.WriteLine("FAIL: " + name + "\n  got:    " + got + "\n  wanted: " + want);
        }
    }

    static int Main()
    {
        Check("validate", () => KelvaronRegex.Validate("a(b|c)+"), "{\"ok\":true}");
        Check("validate rejects", () => KelvaronRegex.Validate("(a"),
              "{\"ok\":false,\"error\":\"unclosed group\"}");
        Check("test", () => KelvaronRegex.Test("a(b|c)", "ab"),
              "{\"matches\":[{\"start\":0,\"end\":2,\"text\":\"ab\",\"groups\":[{\"index\":1,\"start\":1,\"end\":2,\"text\":\"b\"}]}]}");
        // UTF-8 both ways: "é" is two bytes, so "b" starts at byte 2.
        Check("test UTF-8", () => KelvaronRegex.Test("é(b)", "xéb"),
              "{\"matches\":[{\"start\":1,\"end\":4,\"text\":\"éb\",\"groups\":[{\"index\":1,\"start\":3,\"end\":4,\"text\":\"b\"}]}]}");
        Check("replace", () => KelvaronRegex.ReplacePreview("a", "banana", "o"),
              "{\"result\":\"bonono\",\"count\":3}");
        Check("generate", () => KelvaronRegex.Generate("[\"2023-12-01\",\"2024-01-15\"]"),
              "{\"pattern\":\"^\\\\d{4}-\\\\d{2}-\\\\d{2}$\",\"verbose\":\"(?x)\\n^\\n  \\\\d{4}-\\\\d{2}-\\\\d{2}\\n$\"}");
        Check("invalid pattern throws with the reason", () => KelvaronRegex.Test("(a", "a"),
              "error: invalid pattern: unclosed group");
        Check("budget throws with the reason", () => KelvaronRegex.Test("(?:a|b){0,5000}c", new string('a', 1500)),
              "error: backtracking limit reached");
        Check("generate throws with the reason", () => KelvaronRegex.Generate("[]"),
              "error: empty examples array");

        // Answers on different threads never disturb each other.
        var threads = new Thread[4];
        for (int t = 0; t < threads.Length; t++)
        {
            string letter = ((char)('a' + t)).ToString();
            threads[t] = new Thread(() =>
            {
                for (int i = 0; i < 500; i++)
                    Check("thread " + letter, () => KelvaronRegex.ReplacePreview(letter, letter + "x", "y"),
                          "{\"result\":\"yx\",\"count\":1}");
            });
            threads[t].Start();
        }
        foreach (var thread in threads) thread.Join();

        Console.WriteLine(failures == 0 ? "csharp host: all answers as wanted" : "csharp host: " + failures + " failures");
        return failures == 0 ? 0 : 1;
    }
}
