/*
 * kelvaron-regex for JavaScript, second half: the typed layer over the exact
 * layer of lib/module.js, which it re-exports.
 *
 *   validate(pattern)                      null, or the parser's message
 *   searchAll(pattern, text)               every match: byte offsets, UTF-16
 *                                          offsets into a string text, text
 *   replace(pattern, text, replacement)    {text, count}
 *   generate(examples)                     {pattern, verbose}
 *   lint(pattern), explain(pattern)        the analysis, where the module
 *                                          has it (features says)
 *   lastSteps()                            the steps of the last searchAll or
 *                                          replace against its budget
 *
 * A refused call throws with the library's reason: PatternError,
 * LimitError, OutOfMemoryError, or their base KelvaronRegexError. Strings
 * are passed as UTF-8 (a lone surrogate as U+FFFD); an argument holding a
 * NUL character is refused with a TypeError, as the library would read only
 * up to it.
 */
import { internal, rx_last_error } from './module.js';

export { rx_validate, rx_test, rx_replace_preview, rx_generate, rx_last_error } from './module.js';

const INVALID_PATTERN = 'invalid pattern: ';

/** A call the library refused; `reason` is its rx_last_error() text. */
export class KelvaronRegexError extends Error {
    constructor(reason) {
        super(reason);
        this.name = 'KelvaronRegexError';
        this.reason = reason;
    }
}

/** An invalid pattern. `parserMessage` is the parser's message alone;
 * `offset` the byte of the pattern where it failed, null while the module
 * cannot tell. */
export class PatternError extends KelvaronRegexError {
    constructor(reason, offset = null) {
        super(reason);
        this.name = 'PatternError';
        this.parserMessage = reason.startsWith(INVALID_PATTERN) ? reason.slice(INVALID_PATTERN.length) : reason;
        this.offset = offset;
    }
}

/** "backtracking limit reached", or a text above the library's limit. */
export class LimitError extends KelvaronRegexError {
    constructor(reason) {
        super(reason);
        this.name = 'LimitError';
    }
}

/** "out of memory" or "out of memory for JSON buffer". */
export class OutOfMemoryError extends KelvaronRegexError {
    constructor(reason) {
        super(reason);
        this.name = 'OutOfMemoryError';
    }
}

/* The error of a refused call, from its reason. */
function errorFor(reason) {
    if (reason.startsWith(INVALID_PATTERN)) return new PatternError(reason);
    if (reason === 'backtracking limit reached' || reason.startsWith('text exceeds ')) return new LimitError(reason);
    if (reason.startsWith('out of memory')) return new OutOfMemoryError(reason);
    return new KelvaronRegexError(reason);
}

/* The argument itself, or a TypeError when it is of no accepted type or
 * holds a NUL character. */
function arg(value, what) {
    if (typeof value === 'string') {
        if (value.includes('\0')) throw new TypeError(`kelvaron-regex: ${what} holds a NUL character`);
    } else if (value instanceof Uint8Array) {
        if (value.includes(0)) throw new TypeError(`kelvaron-regex: ${what} holds a NUL byte`);
    } else {
        throw new TypeError(`kelvaron-regex: ${what} must be a string or a Uint8Array`);
    }
    return value;
}

let steps = null;

/* Calls an export for the typed layer: its answer parsed, or the error
 * thrown. withSteps: keep the call's steps for lastSteps(). */
function answer(name, args, textAt, as, withSteps) {
    const after = withSteps ? (addresses, answered) => (steps = internal.stepsOf(addresses, answered)) : undefined;
    if (withSteps) steps = null;
    const text = internal.call(name, args, textAt, as, after);
    if (text === null) throw errorFor(rx_last_error());
    return JSON.parse(text);
}

/**
 * Where each byte offset of a string's UTF-8 form (as TextEncoder writes it)
 * falls in the string's UTF-16 units. Offsets are asked in any order; the
 * cursor walks from the last one, so offsets close together cost little.
 */
class Utf16Cursor {
    constructor(string) {
        this.s = string;
        this.unit = 0;
        this.byte = 0;
    }

    /* UTF-8 bytes and UTF-16 units of the character starting at unit i. A
     * lone surrogate is written as U+FFFD: three bytes. */
    forward(i) {
        const c = this.s.charCodeAt(i);
        if (c < 0x80) return [1, 1];
        if (c < 0x800) return [2, 1];
        if (c >= 0xd800 && c <= 0xdbff) {
            const d = this.s.charCodeAt(i + 1);
            if (d >= 0xdc00 && d <= 0xdfff) return [4, 2];
        }
        return [3, 1];
    }

    /* The same for the character ending at unit i. */
    backward(i) {
        const c = this.s.charCodeAt(i - 1);
        if (c >= 0xdc00 && c <= 0xdfff && i >= 2) {
            const h = this.s.charCodeAt(i - 2);
            if (h >= 0xd800 && h <= 0xdbff) return [4, 2];
        }
        return this.forward(i - 1);
    }

    /** The UTF-16 offset of byte offset b, or null when b falls inside a character. */
    at(b) {
        while (this.byte < b) {
            const [bytes, units] = this.forward(this.unit);
            if (this.byte + bytes > b) return null;
            this.byte += bytes;
            this.unit += units;
        }
        while (this.byte > b) {
            const [bytes, units] = this.backward(this.unit);
            if (this.byte - bytes < b) return null;
            this.byte -= bytes;
            this.unit -= units;
        }
        return this.unit;
    }
}

/** null when the pattern is acceptable, else the parser's message. */
export function validate(pattern) {
    const verdict = answer('rx_validate', [arg(pattern, 'pattern')], -1, 'string', false);
    return verdict.ok ? null : verdict.error;
}

/**
 * Every match of the pattern in the text, left to right: {start, end,
 * utf16Start, utf16End, text, groups}, each group {index, start, end,
 * utf16Start, utf16End, text}. start and end are byte offsets into the
 * text's UTF-8 form; utf16Start and utf16End offsets into a string text (for
 * String.prototype.slice or a textarea's selection), null where the byte
 * offset falls inside a character and for a Uint8Array text. text is what
 * matched: for a string text, the bytes read as UTF-8 (the bytes of a cut
 * character as U+FFFD); for a Uint8Array text, a copy of those bytes.
 */
export function searchAll(pattern, text) {
    arg(pattern, 'pattern');
    arg(text, 'text');
    const { matches } = answer('rx_test', [pattern, text], 1, 'string', true);
    /* The answer's objects get the offsets added (and, for bytes, their
     * texts replaced) rather than being copied: an answer may hold millions. */
    let complete;
    if (text instanceof Uint8Array) {
        complete = (item) => {
            item.utf16Start = null;
            item.utf16End = null;
            item.text = text.slice(item.start, item.end);
        };
    } else if (internal.asciiText(text)) {
        complete = (item) => {
            item.utf16Start = item.start;
            item.utf16End = item.end;
        };
    } else {
        const cursor = new Utf16Cursor(text);
        complete = (item) => {
            item.utf16Start = cursor.at(item.start);
            item.utf16End = cursor.at(item.end);
        };
    }
    for (const m of matches) {
        complete(m);
        for (const g of m.groups) complete(g);
    }
    return matches;
}

/** Every match replaced by the replacement, taken literally: {text, count};
 * text is a string for a string text, a Uint8Array for a Uint8Array text. */
export function replace(pattern, text, replacement) {
    arg(pattern, 'pattern');
    arg(text, 'text');
    arg(replacement, 'replacement');
    const bytes = text instanceof Uint8Array;
    const result = answer('rx_replace_preview', [pattern, text, replacement], 1, bytes ? 'binary' : 'string', true);
    if (!bytes) return { text: result.result, count: result.count };
    const out = new Uint8Array(result.result.length);
    for (let i = 0; i < out.length; i++) out[i] = result.result.charCodeAt(i);
    return { text: out, count: result.count };
}

/* The string with each lone surrogate replaced by U+FFFD, as TextEncoder
 * writes it. */
function wellFormed(string) {
    return string.replace(/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g, '\ufffd');
}

/** An anchored pattern that matches every example (1 to 64 strings): {pattern, verbose}. */
export function generate(examples) {
    if (!Array.isArray(examples)) throw new TypeError('kelvaron-regex: examples must be an array of strings');
    const items = examples.map((example, k) => {
        if (typeof example !== 'string') throw new TypeError(`kelvaron-regex: example ${k} must be a string`);
        return wellFormed(example);
    });
    const made = answer('rx_generate', [JSON.stringify(items)], -1, 'string', false);
    return { pattern: made.pattern, verbose: made.verbose };
}

/** The steps the last searchAll or replace spent of its budget: {spent,
 * budget}; null when it did not get to search (an invalid pattern, a text
 * over the limit) or no call was made yet. */
export function lastSteps() {
    return steps;
}

/** Which entries of the pattern analysis this module has. */
export const features = Object.freeze({
    lint: internal.has('rx_lint_json'),
    explain: internal.has('rx_explain_json'),
});

/* The answer of an analysis entry, parsed. */
function analysis(entry, what, pattern) {
    if (!features[what]) throw new KelvaronRegexError(`this module has no ${what} entry (${entry})`);
    arg(pattern, 'pattern');
    const text = internal.call(entry, [pattern], -1, 'heap');
    if (text === null) throw new OutOfMemoryError('out of memory');
    return JSON.parse(text);
}

/** The analysis's findings about the pattern, as its lint entry answers them. */
export function lint(pattern) {
    return analysis('rx_lint_json', 'lint', pattern);
}

/** The analysis's explanation of the pattern, as its explain entry answers it. */
export function explain(pattern) {
    return analysis('rx_explain_json', 'explain', pattern);
}

/** The size of the module's memory in bytes; it grows as calls need it and never shrinks. */
export function moduleMemory() {
    return internal.memoryBytes();
}
