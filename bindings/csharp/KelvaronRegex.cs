using System;
using System.Runtime.InteropServices;

static class KelvaronRegex
{
    // kelvaron-regex.dll on Windows, libkelvaron-regex.so on Linux.
    const string Dll = "kelvaron-regex";

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_validate([MarshalAs(UnmanagedType.LPUTF8Str)] string pattern);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_test([MarshalAs(UnmanagedType.LPUTF8Str)] string pattern,
                                 [MarshalAs(UnmanagedType.LPUTF8Str)] string text);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_replace_preview([MarshalAs(UnmanagedType.LPUTF8Str)] string pattern,
                                            [MarshalAs(UnmanagedType.LPUTF8Str)] string text,
                                            [MarshalAs(UnmanagedType.LPUTF8Str)] string replacement);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_generate([MarshalAs(UnmanagedType.LPUTF8Str)] string examplesJson);

    [DllImport(Dll, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr rx_last_error();

    // Copies the answer at once; throws with the library's reason on NULL.
    static string Answer(IntPtr answer)
    {
        if (answer == IntPtr.Zero)
            throw new InvalidOperationException(Marshal.PtrToStringUTF8(rx_last_error()));
        return Marshal.PtrToStringUTF8(answer);
    }

    public static string Validate(string pattern) => Answer(rx_validate(pattern));
    public static string Test(string pattern, string text) => Answer(rx_test(pattern, text));
    public static string ReplacePreview(string pattern, string text, string replacement) =>
        Answer(rx_replace_preview(pattern, text, replacement));
    public static string Generate(string examplesJson) => Answer(rx_generate(examplesJson));
}
