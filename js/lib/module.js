/*
 * kelvaron-regex for JavaScript, first half: the loader of the library's
 * WebAssembly module (kelvaron-regex.wasm, beside this file) and the exact
 * layer, the five functions under their C names.
 *
 * Loading: Node reads the file (a file: URL), browsers and Web Workers
 * fetch it (an http(s): URL; bundlers that know `new URL(..., import.meta.url)`
 * ship it as an asset). The top-level await makes the module ready before
 * any importer runs. The module is single-threaded: one instance per JS
 * realm (page, worker, Node process), whose calls run one after another.
 *
 * Arguments: a JS string is passed as its UTF-8 bytes, as TextEncoder
 * writes them (a lone surrogate becomes U+FFFD, the three bytes EF BF BD);
 * a Uint8Array as its bytes; null or undefined as the C library's NULL. The
 * library reads up to the first NUL byte. Answers: the library's JSON text,
 * a string when every argument is a string (or null), the answer's bytes as
 * a Uint8Array when an argument is a Uint8Array (an answer holds the bytes of
 * the text, which need not be UTF-8); null when the call failed, with the
 * reason in rx_last_error().
 */

/* The longest text the library searches, in bytes. */
const TEXT_LIMIT = 10485760;

const encoder = new TextEncoder();
const decoder = new TextDecoder();

/* The module's bytes: read from the file in Node, fetched elsewhere. */
async function moduleBytes(url) {
    if (url.protocol === 'file:') {
        const { readFile } = await import('node:fs/promises');
        return readFile(url);
    }
    const response = await fetch(url);
    if (!response.ok) throw new Error(`kelvaron-regex: cannot load ${url} (HTTP ${response.status})`);
    return response.arrayBuffer();
}

const MODULE_URL = new URL('./kelvaron-regex.wasm', import.meta.url);
const { instance } = await WebAssembly.instantiate(await moduleBytes(MODULE_URL), {
    /* The views below notice a grown memory on their own. */
    env: { emscripten_notify_memory_growth() {} },
});
const wasm = instance.exports;
wasm._initialize();

/* A view of the module's memory; a grown memory has a new buffer, so the
 * view is made anew whenever the buffer changed. */
let heap = new Uint8Array(wasm.memory.buffer);
function memoryView() {
    if (heap.buffer !== wasm.memory.buffer) heap = new Uint8Array(wasm.memory.buffer);
    return heap;
}

/* A failure of this layer rather than of the library (its memory ran out
 * while arguments were copied in, or an answer is longer than the longest
 * string the JS engine can make); null when the last call had none. */
let layerError = null;

/*
 * Copies an argument into the module's memory as a NUL-terminated string and
 * returns its address (0 for null or undefined), or -1 when the module's
 * memory ran out. Only the first `limit` UTF-16 units or bytes are passed:
 * of a text, the library reads at most 10,485,761 bytes before it refuses
 * it, and any 10,485,761 units make at least that many bytes (a NUL before
 * them ends the text as it would end the whole).
 */
function put(value, what, limit) {
    if (value === null || value === undefined) return 0;
    if (typeof value === 'string') {
        const units = value.length > limit ? value.slice(0, limit) : value;
        const room = units.length * 3 + 1; /* UTF-8 takes at most 3 bytes per UTF-16 unit */
        const address = wasm.malloc(room) >>> 0;
        if (address === 0) return -1;
        const view = memoryView();
        const { written } = encoder.encodeInto(units, view.subarray(address, address + room - 1));
        view[address + written] = 0;
        return address;
    }
    if (value instanceof Uint8Array) {
        const bytes = value.length > limit ? value.subarray(0, limit) : value;
        const address = wasm.malloc(bytes.length + 1) >>> 0;
        if (address === 0) return -1;
        const view = memoryView();
        view.set(bytes, address);
        view[address + bytes.length] = 0;
        return address;
    }
    throw new TypeError(`kelvaron-regex: ${what} must be a string or a Uint8Array, not ${typeof value}`);
}

/* The bytes of the NUL-terminated string at address (a view, valid until
 * the next call). */
function cBytes(address) {
    const view = memoryView();
    return view.subarray(address, view.indexOf(0, address));
}

/* Each byte as the character of that code (0 to 255). */
function binaryString(bytes) {
    const CHUNK = 32768;
    let out = '';
    for (let i = 0; i < bytes.length; i += CHUNK) {
        out += String.fromCharCode.apply(null, bytes.subarray(i, i + CHUNK));
    }
    return out;
}

/*
 * The answer at address read as `as` says: 'string' (UTF-8, a sequence that
 * is not UTF-8 read as U+FFFD), 'bytes' (a copy), 'binary' (each byte one
 * character, so JSON.parse gives back the bytes of the strings inside) or
 * 'heap' (as 'string', from a heap block of an entry of src/rx_wasm.cpp,
 * which is released).
 * null, with the reason kept, when no JS string can be that long.
 */
function readAnswer(address, as) {
    const bytes = cBytes(address);
    if (as === 'bytes') return bytes.slice();
    if (as === 'heap') {
        const text = decoder.decode(bytes);
        wasm.free(address);
        return text;
    }
    try {
        return as === 'binary' ? binaryString(bytes) : decoder.decode(bytes);
    } catch (error) {
        /* Node says ERR_STRING_TOO_LONG, browsers throw a RangeError. */
        if (!(error instanceof RangeError) && error.code !== 'ERR_STRING_TOO_LONG') throw error;
        layerError = 'out of memory for JSON buffer';
        return null;
    }
}

/* The library's error text of the last call. */
function libraryError() {
    return decoder.decode(cBytes(wasm.rx_last_error() >>> 0));
}

/*
 * The UTF-8 form of the last string given as a text stays in the module's
 * memory (in a block of up to three bytes per UTF-16 unit), so that calls on
 * the same text with another pattern, one per keystroke in a search box, do
 * not encode and copy it again. A new text replaces it.
 */
let keptText = null;
let keptAddress = 0;
let keptAscii = false; /* every unit of it is below 0x80: one byte each */

/* The address of a string text, from the kept copy when it is that text. */
function putText(text, what) {
    if (text === keptText) return keptAddress;
    const address = put(text, what, TEXT_LIMIT + 1);
    if (address === -1) return -1;
    if (keptAddress !== 0) wasm.free(keptAddress);
    keptText = text;
    keptAddress = address;
    keptAscii = memoryView().indexOf(0, address) - address === text.length;
    return address;
}

/*
 * Calls the export `name` with the arguments (the one at index `textAt` is
 * the text, which the library limits), reads the answer as `as` says, and
 * hands the argument addresses to `after` before they are released.
 */
function call(name, args, textAt, as, after) {
    layerError = null;
    const addresses = [];
    const owned = [];
    try {
        for (let i = 0; i < args.length; i++) {
            const what = name + ' argument ' + (i + 1);
            const kept = i === textAt && typeof args[i] === 'string';
            const address = kept ? putText(args[i], what) : put(args[i], what, i === textAt ? TEXT_LIMIT + 1 : Infinity);
            if (address === -1) {
                layerError = 'out of memory';
                return null;
            }
            addresses.push(address);
            if (!kept && address !== 0) owned.push(address);
        }
        const answer = wasm[name](...addresses) >>> 0;
        const result = answer === 0 ? null : readAnswer(answer, as);
        if (after !== undefined) after(addresses, answer !== 0);
        return result;
    } finally {
        for (const address of owned) wasm.free(address);
    }
}

/* A string when every argument is a string or null, else bytes. */
function exact(name, args, textAt) {
    return call(name, args, textAt, args.some((a) => a instanceof Uint8Array) ? 'bytes' : 'string');
}

/** Is the pattern acceptable? `{"ok":true}` or `{"ok":false,"error":"..."}`. */
export function rx_validate(pattern) {
    return exact('rx_validate', [pattern], -1);
}

/** Every match of the pattern in the text: `{"matches":[...]}`, or null. */
export function rx_test(pattern, text) {
    return exact('rx_test', [pattern, text], 1);
}

/** Every match replaced by the replacement, taken literally: `{"result":"...","count":N}`, or null. */
export function rx_replace_preview(pattern, text, replacement) {
    return exact('rx_replace_preview', [pattern, text, replacement], 1);
}

/** A pattern made from a JSON array of examples: `{"pattern":"...","verbose":"..."}`, or null. */
export function rx_generate(examplesJson) {
    return exact('rx_generate', [examplesJson], -1);
}

/** Why the last call failed; "" when it succeeded. Never null. */
export function rx_last_error() {
    return layerError !== null ? layerError : libraryError();
}

/* ---- for the typed layer (lib/index.js) ------------------------------------- */

/* The steps the last rx_test or rx_replace_preview call spent, given the
 * addresses of its pattern and text (still in place): {budget, spent}, or
 * null when the call did not get to search. */
function stepsOf(addresses, answered) {
    if (!answered && libraryError() !== 'backtracking limit reached') return null;
    const answer = wasm.rx_steps_json(addresses[0], addresses[1]) >>> 0;
    if (answer === 0) return null;
    const steps = JSON.parse(decoder.decode(cBytes(answer)));
    wasm.free(answer);
    return steps;
}

export const internal = Object.freeze({
    call,
    stepsOf,
    /* Whether the string text of the last call is all ASCII (its byte
     * offsets are its UTF-16 offsets). */
    asciiText: (text) => text === keptText && keptAscii,
    /* Whether the module has the entry of src/rx_wasm.cpp of that name. */
    has: (name) => typeof wasm[name] === 'function',
    /* The size of the module's memory in bytes (it grows, never shrinks). */
    memoryBytes: () => wasm.memory.buffer.byteLength,
});
