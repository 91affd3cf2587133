/*
 * Keeping the work: the permalink in the URL's fragment, and the browser's
 * own storage. Both hold the same state, {pattern, text, replacement,
 * tests, examples, counterExamples}; nothing is sent anywhere (a fragment
 * never reaches a server).
 *
 * A permalink is "#s=" and the state's JSON, compressed (deflate-raw) and
 * written in base64url. A text longer than PERMALINK_TEXT_MAX units is left
 * out of it, as is a text longer than STORED_TEXT_MAX units out of the
 * storage; the caller is told so.
 */
import { checkedTests } from './tests.js';

export const PERMALINK_TEXT_MAX = 65536;
export const STORED_TEXT_MAX = 1 << 20;
const STORAGE_KEY = 'kelvaron-regex-tester';
const TEXT_KEY = 'kelvaron-regex-tester-text';
const FRAGMENT = '#s=';

/* The state with every field of the right type (defaults for the rest), or
 * null when `value` is not a state at all. */
function checkedState(value) {
    if (value === null || typeof value !== 'object') return null;
    const string = (x) => (typeof x === 'string' ? x : '');
    const tests = value.tests === undefined ? [] : checkedTests(value.tests);
    if (tests === null) return null;
    return {
        pattern: string(value.pattern),
        text: string(value.text),
        replacement: string(value.replacement),
        tests,
        examples: string(value.examples),
        counterExamples: string(value.counterExamples),
    };
}

function toBase64Url(bytes) {
    let binary = '';
    for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
    const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

async function through(stream, bytes) {
    const piped = new Blob([bytes]).stream().pipeThrough(stream);
    return new Uint8Array(await new Response(piped).arrayBuffer());
}

/* The permalink of a state: {url, textLeftOut}. */
export async function permalink(state) {
    const textLeftOut = state.text.length > PERMALINK_TEXT_MAX;
    const kept = { ...state, text: textLeftOut ? '' : state.text };
    const packed = await through(new CompressionStream('deflate-raw'), new TextEncoder().encode(JSON.stringify(kept)));
    const url = new URL(location.href);
    url.hash = FRAGMENT.slice(1) + toBase64Url(packed);
    return { url: url.href, textLeftOut };
}

/* The state of the page's fragment: null when there is none; throws when
 * there is one that cannot be read. */
export async function stateFromFragment() {
    if (!location.hash.startsWith(FRAGMENT)) return null;
    const bytes = await through(new DecompressionStream('deflate-raw'), fromBase64Url(location.hash.slice(FRAGMENT.length)));
    const state = checkedState(JSON.parse(new TextDecoder().decode(bytes)));
    if (state === null) throw new Error('the permalink holds no tester state');
    return state;
}

/* The stored state, or null. The text is kept under a key of its own, so
 * that it is written only when it changed. */
export function storedState() {
    try {
        const text = localStorage.getItem(STORAGE_KEY);
        const state = text === null ? null : checkedState(JSON.parse(text));
        if (state !== null) state.text = localStorage.getItem(TEXT_KEY) || '';
        return state;
    } catch {
        return null;
    }
}

let storedText = null;

/* Stores the state; false when the storage refused it (full, or off). */
export function storeState(state) {
    const text = state.text.length > STORED_TEXT_MAX ? '' : state.text;
    try {
        localStorage.setItem(STORAGE_KEY, JSON.stringify({ ...state, text: '' }));
        if (text !== storedText) {
            localStorage.setItem(TEXT_KEY, text);
            storedText = text;
        }
        return true;
    } catch {
        return false;
    }
}
