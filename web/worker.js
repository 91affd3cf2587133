/*
 * The tester's worker: runs the library (the kelvaron-regex package, as
 * WebAssembly) off the page's thread, one job at a time.
 *
 * Messages in:
 *   {type: 'text', version, text}      the text to search from now on
 *   {type: 'run', id, pattern, textVersion, replacement, tests}
 *   {type: 'generate', id, examples}
 * Messages out, each with the job's id:
 *   {type: 'ready'} once the package is loaded, or {type: 'fatal', message}
 *   'start' (a job began), 'pattern' (error, findings, tree), 'searching'
 *   (its search begins), 'search'
 *   (matches packed in Int32Arrays, steps, failure), 'replace', 'tests',
 *   'done'; 'generated' for a generate job.
 *
 * A job runs in stages, and between them the worker lets the messages that
 * came meanwhile in: a newer run makes the rest of the older job moot, so
 * it stops there. A stage itself (one search) cannot be stopped; the page
 * replaces a worker that is busy too long with a stale stage (app.js).
 */
import { ByteMap } from './offsets.js';

/* The longest replacement result sent back, in UTF-16 units (the count and
 * the whole length are sent too). */
const REPLACE_SHOW_MAX = 200000;

let kr = null;
const waiting = [];
const texts = { version: -1, text: '', nul: -1, searched: '' };
let latestRun = -1;

self.onmessage = (event) => (kr === null ? waiting.push(event.data) : handle(event.data));

import('./kelvaron-regex/index.js').then(
    (module) => {
        kr = module;
        self.postMessage({ type: 'ready', features: { ...kr.features } });
        for (const message of waiting.splice(0)) handle(message);
    },
    (error) => self.postMessage({ type: 'fatal', message: String(error && error.message ? error.message : error) }),
);

function handle(message) {
    if (message.type === 'text') {
        texts.version = message.version;
        texts.text = message.text;
        /* The library reads a text up to its first NUL byte. */
        texts.nul = message.text.indexOf('\0');
        texts.searched = texts.nul < 0 ? message.text : message.text.slice(0, texts.nul);
    } else if (message.type === 'run') {
        latestRun = message.id;
        runJob(message);
    } else if (message.type === 'generate') {
        self.postMessage({ type: 'generated', id: message.id, ...generated(message.examples) });
    }
}

/* Lets the messages that arrived meanwhile be handled first. */
function pause() {
    return new Promise((resolve) => {
        const channel = new MessageChannel();
        channel.port1.onmessage = () => resolve();
        channel.port2.postMessage(0);
    });
}

/* A refused call as {kind, reason}: kind is limit, memory, pattern or other. */
function failureOf(error) {
    const reason = error && error.message ? error.message : String(error);
    if (error instanceof kr.LimitError) return { kind: 'limit', reason };
    if (error instanceof kr.OutOfMemoryError) return { kind: 'memory', reason };
    if (error instanceof kr.PatternError) return { kind: 'pattern', reason };
    return { kind: 'other', reason };
}

async function runJob(job) {
    const { id } = job;
    self.postMessage({ type: 'start', id });
    self.postMessage({ type: 'pattern', id, ...analysed(job.pattern) });
    await pause();
    if (latestRun !== id) return;
    if (job.textVersion === texts.version) {
        /* from here on the worker is busy with this search alone */
        self.postMessage({ type: 'searching', id });
        const started = performance.now();
        const found = searched(job.pattern, texts.searched);
        const ms = performance.now() - started;
        const buffers = found.packed ? [found.packed.spans.buffer, found.packed.groupStarts.buffer, found.packed.groups.buffer] : [];
        self.postMessage({ type: 'search', id, textVersion: texts.version, nul: texts.nul, ms, ...found }, buffers);
        await pause();
        if (latestRun !== id) return;
        if (job.replacement !== '') {
            self.postMessage({ type: 'replace', id, ...replaced(job.pattern, texts.searched, job.replacement) });
            await pause();
            if (latestRun !== id) return;
        }
    }
    self.postMessage({ type: 'tests', id, results: job.tests.map((t) => tested(job.pattern, t)) });
    self.postMessage({ type: 'done', id });
}

/* The pattern's error (message, offset, hint) or null, the lint's findings
 * and the explanation tree. */
function analysed(pattern) {
    if (pattern.includes('\0')) {
        return { error: { message: 'the pattern holds a NUL character', offset: null }, findings: [], tree: null };
    }
    if (!kr.features.lint) {
        const message = kr.validate(pattern);
        return { error: message === null ? null : { message, offset: null }, findings: [], tree: null };
    }
    const lint = kr.lint(pattern);
    if (lint.error) return { error: lint.error, findings: [], tree: null };
    const tree = kr.features.explain ? kr.explain(pattern).tree : null;
    return { error: null, findings: lint.findings, tree };
}

/*
 * Every match, packed for the page: spans holds four numbers per match
 * (byte start, byte end, UTF-16 start, UTF-16 end), groups five per group
 * (index, byte start and end, UTF-16 start and end), and the groups of match
 * k are groups[groupStarts[k] .. groupStarts[k + 1]) (in fives). A byte
 * offset inside a character is widened to the whole character in UTF-16.
 */
function searched(pattern, text) {
    let matches;
    try {
        matches = kr.searchAll(pattern, text);
    } catch (error) {
        return { count: 0, packed: null, steps: kr.lastSteps(), failure: failureOf(error) };
    }
    let map = null;
    const unit = (value, byte, roundUp) => {
        if (value !== null) return value;
        if (map === null) map = new ByteMap(text);
        return map.unitAt(byte, roundUp);
    };
    let groupCount = 0;
    for (const m of matches) groupCount += m.groups.length;
    const spans = new Int32Array(matches.length * 4);
    const groupStarts = new Int32Array(matches.length + 1);
    const groups = new Int32Array(groupCount * 5);
    let g = 0;
    matches.forEach((m, k) => {
        spans.set([m.start, m.end, unit(m.utf16Start, m.start, false), unit(m.utf16End, m.end, true)], k * 4);
        groupStarts[k] = g;
        for (const x of m.groups) {
            groups.set([x.index, x.start, x.end, unit(x.utf16Start, x.start, false), unit(x.utf16End, x.end, true)], g * 5);
            g++;
        }
    });
    groupStarts[matches.length] = g;
    return { count: matches.length, packed: { spans, groupStarts, groups }, steps: kr.lastSteps(), failure: null };
}

function replaced(pattern, text, replacement) {
    try {
        const result = kr.replace(pattern, text, replacement);
        return { text: result.text.slice(0, REPLACE_SHOW_MAX), length: result.text.length, count: result.count, failure: null };
    } catch (error) {
        return { text: '', length: 0, count: 0, failure: failureOf(error) };
    }
}

/* One test: {pass, detail}; detail says what was found when it fails. */
function tested(pattern, test) {
    try {
        if (test.kind === 'replace') {
            const got = kr.replace(pattern, test.text, test.replacement).text;
            return { pass: got === test.expected, detail: got === test.expected ? '' : `gives ${JSON.stringify(got)}` };
        }
        const matches = kr.searchAll(pattern, test.text);
        const first = matches[0];
        switch (test.kind) {
        case 'matches':
            return { pass: matches.length > 0, detail: matches.length > 0 ? '' : 'no match' };
        case 'no-match':
            return { pass: matches.length === 0, detail: matches.length === 0 ? '' : `matches ${JSON.stringify(first.text)} at byte ${first.start}` };
        case 'full': {
            const whole = first !== undefined && first.start === 0 && first.utf16End === test.text.length;
            if (whole) return { pass: true, detail: '' };
            return { pass: false, detail: first === undefined ? 'no match' : `matches only ${JSON.stringify(first.text)}, bytes ${first.start} to ${first.end}` };
        }
        case 'group': {
            if (first === undefined) return { pass: false, detail: 'no match' };
            const group = first.groups.find((x) => x.index === test.group);
            if (group === undefined) return { pass: false, detail: `group ${test.group} took no part in the first match` };
            return { pass: group.text === test.expected, detail: group.text === test.expected ? '' : `group ${test.group} holds ${JSON.stringify(group.text)}` };
        }
        default:
            return { pass: false, detail: `unknown expectation ${test.kind}` };
        }
    } catch (error) {
        return { pass: false, detail: failureOf(error).reason };
    }
}

function generated(examples) {
    try {
        const made = kr.generate(examples);
        return { pattern: made.pattern, verbose: made.verbose, failure: null };
    } catch (error) {
        return { pattern: null, verbose: null, failure: failureOf(error) };
    }
}
