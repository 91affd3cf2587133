/*
 * TypeScript declarations of kelvaron-regex (lib/index.js and lib/module.js).
 */

/** A pattern, text, replacement or examples list: a string (passed as UTF-8, a lone surrogate as U+FFFD) or bytes. */
export type Input = string | Uint8Array;

/* ---- the exact layer: the library's five functions under their C names ---- */

/** `{"ok":true}` or `{"ok":false,"error":"..."}`; null only when memory ran out. Bytes when the pattern is a Uint8Array. */
export function rx_validate(pattern: string | null | undefined): string | null;
export function rx_validate(pattern: Uint8Array): Uint8Array | null;

/** `{"matches":[...]}`, or null with the reason in rx_last_error(). Bytes when an argument is a Uint8Array. */
export function rx_test(pattern: string | null | undefined, text: string | null | undefined): string | null;
export function rx_test(pattern: Input | null | undefined, text: Input | null | undefined): string | Uint8Array | null;

/** `{"result":"...","count":N}`, or null with the reason in rx_last_error(). Bytes when an argument is a Uint8Array. */
export function rx_replace_preview(
    pattern: string | null | undefined,
    text: string | null | undefined,
    replacement: string | null | undefined,
): string | null;
export function rx_replace_preview(
    pattern: Input | null | undefined,
    text: Input | null | undefined,
    replacement: Input | null | undefined,
): string | Uint8Array | null;

/** `{"pattern":"...","verbose":"..."}`, or null with the reason in rx_last_error(). */
export function rx_generate(examplesJson: string | null | undefined): string | null;
export function rx_generate(examplesJson: Uint8Array): Uint8Array | null;

/** Why the last call failed; "" when it succeeded. */
export function rx_last_error(): string;

/* ---- the typed layer ---- */

/** A call the library refused; `reason` is its rx_last_error() text. */
export class KelvaronRegexError extends Error {
    readonly reason: string;
    constructor(reason: string);
}

/** An invalid pattern. */
export class PatternError extends KelvaronRegexError {
    /** The parser's message alone, such as "unclosed group". */
    readonly parserMessage: string;
    /** The byte of the pattern where parsing failed; null while the module cannot tell. */
    readonly offset: number | null;
    constructor(reason: string, offset?: number | null);
}

/** "backtracking limit reached", or a text above the library's limit of 10,485,760 bytes. */
export class LimitError extends KelvaronRegexError {}

/** "out of memory" or "out of memory for JSON buffer". */
export class OutOfMemoryError extends KelvaronRegexError {}

/** A span of the text: a match or a capture group. */
export interface Span<T extends Input = Input> {
    /** Byte offset of the start in the text's UTF-8 form (or in the bytes). */
    start: number;
    /** Byte offset of the end, exclusive. */
    end: number;
    /** UTF-16 offset of the start in a string text; null inside a character, or for a Uint8Array text. */
    utf16Start: number | null;
    /** UTF-16 offset of the end in a string text; null inside a character, or for a Uint8Array text. */
    utf16End: number | null;
    /** What matched: read as UTF-8 for a string text (a cut character as U+FFFD), the bytes for a Uint8Array text. */
    text: T;
}

/** A capture group (1 to 16) that took part in a match. */
export interface Group<T extends Input = Input> extends Span<T> {
    index: number;
}

export interface Match<T extends Input = Input> extends Span<T> {
    /** The groups that took part, in increasing number. */
    groups: Group<T>[];
}

export interface Replacement<T extends Input = Input> {
    text: T;
    count: number;
}

export interface Generated {
    pattern: string;
    verbose: string;
}

export interface Steps {
    /** The call's step budget: (8 + pattern nodes) per text byte plus 1,000,000, at most 2,147,483,647. */
    budget: number;
    /** The steps the call spent of it. */
    spent: number;
}

/** null when the pattern is acceptable, else the parser's message. */
export function validate(pattern: Input): string | null;

/** Every match of the pattern in the text, left to right. */
export function searchAll(pattern: Input, text: string): Match<string>[];
export function searchAll(pattern: Input, text: Uint8Array): Match<Uint8Array>[];

/** Every match replaced by the replacement, taken literally. */
export function replace(pattern: Input, text: string, replacement: Input): Replacement<string>;
export function replace(pattern: Input, text: Uint8Array, replacement: Input): Replacement<Uint8Array>;

/** An anchored pattern that matches every example (1 to 64 strings). */
export function generate(examples: string[]): Generated;

/** The steps the last searchAll or replace spent of its budget; null when it did not get to search. */
export function lastSteps(): Steps | null;

/** Which entries of the pattern analysis this module has. */
export const features: Readonly<{ lint: boolean; explain: boolean }>;

/** The analysis's findings about the pattern, as its lint entry answers them (features.lint). */
export function lint(pattern: Input): unknown;

/** The analysis's explanation of the pattern, as its explain entry answers it (features.explain). */
export function explain(pattern: Input): unknown;

/** The size of the module's memory in bytes; it grows as calls need it and never shrinks. */
export function moduleMemory(): number;
