/* kelvaron-regex for C#: the five exports through P/Invoke, typed results
 * (Match, Group, Replacement, Generated) and KelvaronRegexException with the
 * library's reason. The error text is one for the whole process, so every
 * call and its reading of that text happen under one lock. */
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Runtime.InteropServices;
using System.Text;

/* A call the library refused; Reason is its text ("invalid pattern: ...",
 * "backtracking limit reached", ...). */
public sealed class KelvaronRegexException : Exception
{
    public string Reason { get; private set; }
    public KelvaronRegexException(string reason) : base(reason) { Reason = reason; }
}

/* A span of the text: byte offsets into its UTF-8 form (what the library
 * answers), UTF-16 offsets into the string (an offset inside a character
 * widens the span to the whole character), and the text of the bytes. */
public class Span
{
    public int Start { get; private set; }
    public int End { get; private set; }
    public int Utf16Start { get; private set; }
    public int Utf16End { get; private set; }
    public string Text { get; private set; }
    internal Span(int start, int end, KelvaronRegex.Subject subject)
    {
        Start = start;
        End = end;
        Utf16Start = subject.Utf16(start, false);
        Utf16End = subject.Utf16(end, true);
        Text = Encoding.UTF8.GetString(subject.Bytes, start, end - start);
    }
}

/* A capture group (1 to 16) that took part in a match. */
public sealed class Group : Span
{
    public int Index { get; private set; }
    internal Group(int index, int start, int end, KelvaronRegex.Subject s) : base(start, end, s) { Index = index; }
}

public sealed class Match : Span
{
    public IReadOnlyList<Group> Groups { get; private set; }
    internal Match(int start, int end, List<Group> groups, KelvaronRegex.Subject s) : base(start, end, s)
    {
        Groups = groups;
    }
    /* The group with this number, or null when it took no part. */
    public Group Group(int index) { foreach (var g in Groups) if (g.Index == index) return g; return null; }
}

public sealed class Replacement
{
    public string Result { get; private set; }
    public int Count { get; private set; }
    internal Replacement(string result, int count) { Result = result; Count = count; }
}

/* A pattern made from examples: compact, and its verbose (?x) layout. */
public sealed class Generated
{
    public string Pattern { get; private set; }
    public string Verbose { get; private set; }
    internal Generated(string pattern, string verbose) { Pattern = pattern; Verbose = verbose; }
}

public static class KelvaronRegex
{
    /* kelvaron-regex.dll on Windows, libkelvaron-regex.so on Linux. Arguments
     * are NUL-terminated UTF-8 bytes; answers are read at once, as IntPtr (a
     * string return would make the marshaller free the library's buffer). */
    const string Dll = "kelvaron-regex";

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_validate(byte[] pattern);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_test(byte[] pattern, byte[] text);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_replace_preview(byte[] pattern, byte[] text, byte[] replacement);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_generate(byte[] examplesJson);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_last_error();

    static readonly object Gate = new object();

    /* null when the pattern is acceptable, else the parser's message. */
    public static string Validate(string pattern)
    {
        var answer = (Dictionary<string, object>)Call(() => rx_validate(Arg(pattern)));
        return (bool)answer["ok"] ? null : (string)answer["error"];
    }

    /* Every match, left to right. */
    public static IReadOnlyList<Match> Test(string pattern, string text)
    {
        var subject = new Subject(text);
        var answer = (Dictionary<string, object>)Call(() => rx_test(Arg(pattern), subject.Argument));
        var matches = new List<Match>();
        foreach (Dictionary<string, object> m in (List<object>)answer["matches"])
        {
            var groups = new List<Group>();
            foreach (Dictionary<string, object> g in (List<object>)m["groups"])
                groups.Add(new Group(Int(g["index"]), Int(g["start"]), Int(g["end"]), subject));
            matches.Add(new Match(Int(m["start"]), Int(m["end"]), groups, subject));
        }
        return matches;
    }

    /* Every match replaced by the replacement, taken literally. */
    public static Replacement ReplacePreview(string pattern, string text, string replacement)
    {
        var answer = (Dictionary<string, object>)Call(() => rx_replace_preview(Arg(pattern), Arg(text), Arg(replacement)));
        return new Replacement((string)answer["result"], Int(answer["count"]));
    }

    /* An anchored pattern that matches every example (1 to 64 of them). */
    public static Generated Generate(IEnumerable<string> examples)
    {
        var json = new StringBuilder("[");
        foreach (var example in examples)
        {
            if (json.Length > 1) json.Append(',');
            Quote(json, example);
        }
        var answer = (Dictionary<string, object>)Call(() => rx_generate(Arg(json.Append(']').ToString())));
        return new Generated((string)answer["pattern"], (string)answer["verbose"]);
    }

    /* The one lock: the call and the reading of the error text after it. The
     * answer belongs to this thread until its next call, so it is read after. */
    static object Call(Func<IntPtr> call)
    {
        IntPtr answer;
        string reason = null;
        lock (Gate)
        {
            answer = call();
            if (answer == IntPtr.Zero) reason = Utf8(rx_last_error());
        }
        if (reason != null) throw new KelvaronRegexException(reason);
        int at = 0;
        return new JsonReader(Utf8(answer)).Value(ref at);
    }

    /* Copies a NUL-terminated answer. Bytes that are not UTF-8 (a match may
     * cut a character) become U+FFFD; Mono's Marshal.PtrToStringUTF8 would
     * throw an ExecutionEngineException on them. */
    static string Utf8(IntPtr text)
    {
        int length = 0;
        while (Marshal.ReadByte(text, length) != 0) length++;
        var bytes = new byte[length];
        Marshal.Copy(text, bytes, 0, length);
        return Encoding.UTF8.GetString(bytes);
    }

    static byte[] Arg(string text)
    {
        if (text == null) throw new ArgumentNullException("text");
        var bytes = Encoding.UTF8.GetBytes(text);
        Array.Resize(ref bytes, bytes.Length + 1);
        return bytes;
    }

    static int Int(object number) { return checked((int)(long)number); }

    static void Quote(StringBuilder json, string text)
    {
        json.Append('"');
        foreach (char c in text)
        {
            if (c == '"' || c == '\\') json.Append('\\').Append(c);
            else if (c < ' ') json.Append("\\u").Append(((int)c).ToString("x4", CultureInfo.InvariantCulture));
            else json.Append(c);
        }
        json.Append('"');
    }

    /* The UTF-8 bytes of a text as the library sees them, and the UTF-16
     * offset of each of their byte offsets (none kept for ASCII text). */
    internal sealed class Subject
    {
        public readonly byte[] Bytes, Argument;
        readonly int[] charStart, charEnd;
        public Subject(string text)
        {
            Argument = Arg(text);
            Bytes = new byte[Argument.Length - 1];
            Array.Copy(Argument, Bytes, Bytes.Length);
            if (Bytes.Length == text.Length) return;
            charStart = new int[Bytes.Length + 1];
            charEnd = new int[Bytes.Length + 1];
            int b = 0;
            for (int u = 0; u < text.Length;)
            {
                /* The bytes and UTF-16 units of one character, as Encoding.UTF8
                 * counts them (a lone surrogate becomes the 3 bytes of U+FFFD). */
                int units = char.IsHighSurrogate(text[u]) && u + 1 < text.Length && char.IsLowSurrogate(text[u + 1]) ? 2 : 1;
                int size = units == 2 ? 4 : text[u] < 0x80 ? 1 : text[u] < 0x800 ? 2 : 3;
                for (int k = 0; k < size; k++)
                {
                    charStart[b + k] = u;
                    charEnd[b + k] = k == 0 ? u : u + units;
                }
                b += size;
                u += units;
            }
            charStart[b] = charEnd[b] = text.Length;
        }
        /* The UTF-16 offset of a byte offset; inside a character, that
         * character's start (for a start) or end (for an end). */
        public int Utf16(int offset, bool end)
        {
            if (charStart == null) return offset;
            return end ? charEnd[offset] : charStart[offset];
        }
    }

    /* Reads the library's answers: objects, arrays, strings, integers, true, false, null. */
    sealed class JsonReader
    {
        readonly string s;
        public JsonReader(string text) { s = text; }
        public object Value(ref int at)
        {
            char c = s[at];
            if (c == '{')
            {
                var obj = new Dictionary<string, object>();
                for (at++; s[at] != '}'; at += s[at] == ',' ? 1 : 0)
                {
                    var key = (string)Value(ref at);
                    at++; /* ':' */
                    obj[key] = Value(ref at);
                }
                at++;
                return obj;
            }
            if (c == '[')
            {
                var list = new List<object>();
                for (at++; s[at] != ']'; at += s[at] == ',' ? 1 : 0) list.Add(Value(ref at));
                at++;
                return list;
            }
            if (c == '"') return String(ref at);
            int start = at;
            while (at < s.Length && "-0123456789truefalsn".IndexOf(s[at]) >= 0) at++;
            string word = s.Substring(start, at - start);
            if (word == "true" || word == "false") return word == "true";
            if (word == "null") return null;
            return long.Parse(word, CultureInfo.InvariantCulture);
        }
        string String(ref int at)
        {
            var text = new StringBuilder();
            for (at++; s[at] != '"'; at++)
            {
                if (s[at] != '\\') { text.Append(s[at]); continue; }
                char e = s[++at];
                if (e == 'u') { text.Append((char)Convert.ToInt32(s.Substring(at + 1, 4), 16)); at += 4; }
                else text.Append(e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e);
            }
            at++;
            return text.ToString();
        }
    }
}
