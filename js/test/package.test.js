/*
 * The npm package as a JS host uses it, imported by its name from a project
 * that installed the tarball: what the exact layer adds to the library's
 * answers (strings and bytes, NULL, NUL, lone surrogates, the text limit),
 * the typed layer (offsets, texts, errors, steps), the module's exports and
 * memory, and the TypeScript declarations.
 */
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { test } from 'node:test';

import * as kr from 'kelvaron-regex';

const LIMIT = 10485760;
const packageDir = dirname(createRequire(import.meta.url).resolve('kelvaron-regex/package.json'));
const bytes = (...values) => Uint8Array.from(values);

/* One match object of the library's answer. */
const m = (start, end, text, groups = '') =>
    `{"start":${start},"end":${end},"text":"${text}","groups":[${groups}]}`;
const matches = (...objs) => `{"matches":[${objs.join(',')}]}`;

test('the exact layer answers strings for strings and bytes for bytes', () => {
    assert.equal(kr.rx_test('a(b|c)', 'ab ac'), matches(m(0, 2, 'ab', '{"index":1,"start":1,"end":2,"text":"b"}'),
        m(3, 5, 'ac', '{"index":1,"start":4,"end":5,"text":"c"}')));
    /* "." takes one byte of é: the answer's texts are single bytes, which
     * only the Uint8Array answer holds as they are. */
    const answer = kr.rx_test(bytes(0x2e), bytes(0xc3, 0xa9));
    assert.ok(answer instanceof Uint8Array);
    assert.equal(Buffer.from(answer).toString('latin1'), matches(m(0, 1, '\xc3'), m(1, 2, '\xa9')));
    assert.equal(kr.rx_test('.', 'é'), matches(m(0, 1, '\ufffd'), m(1, 2, '\ufffd')));
    assert.deepEqual(kr.rx_replace_preview('a', bytes(0x61, 0xff), 'b'),
        bytes(...Buffer.from('{"result":"b\xff","count":1}', 'latin1')));
    assert.equal(kr.rx_generate('["id-7.txt","id-x-9.txt"]'),
        '{"pattern":"^id-(7|x-9)\\\\.txt$","verbose":"(?x)\\n^\\n  id-(7\\n  |\\n  x-9)\\\\.txt\\n$"}');
});

test('null arguments are the library\'s NULL; the text ends at a NUL character', () => {
    assert.equal(kr.rx_validate(null), '{"ok":false,"error":"null pattern"}');
    assert.equal(kr.rx_last_error(), 'null pattern');
    assert.equal(kr.rx_test('a', undefined), null);
    assert.equal(kr.rx_last_error(), 'null text');
    assert.equal(kr.rx_replace_preview('a', 'a', null), null);
    assert.equal(kr.rx_last_error(), 'null replacement');
    assert.equal(kr.rx_test('a', 'ba\0a'), matches(m(1, 2, 'a')));
    assert.equal(kr.rx_last_error(), '');
    assert.throws(() => kr.rx_test('a', 42), TypeError);
});

test('lone surrogates are passed as U+FFFD, as TextEncoder writes them', () => {
    assert.equal(kr.rx_test('\ufffd', 'a\ud800b\udc00'), matches(m(1, 4, '\ufffd'), m(5, 8, '\ufffd')));
    assert.equal(kr.rx_test('\ud800', '\ufffd'), matches(m(0, 3, '\ufffd')));
    assert.equal(kr.rx_test('\ufffd', '\ud83d\ude00'), matches()); /* a pair is its character */
    assert.deepEqual(kr.searchAll('b', '\udc00b').map((x) => [x.start, x.utf16Start]), [[3, 1]]);
    assert.deepEqual(kr.generate(['x\ud800']), kr.generate(['x\ufffd']));
});

test('texts over the limit are refused as the library refuses them, whatever their length', () => {
    assert.equal(kr.rx_test('b', 'a'.repeat(LIMIT)), matches());
    for (const text of ['a'.repeat(LIMIT + 1), 'a'.repeat(3 * LIMIT), '\u00e9'.repeat(LIMIT / 2 + 1)]) {
        assert.equal(kr.rx_test('b', text), null);
        assert.equal(kr.rx_last_error(), 'text exceeds 10485760 bytes');
    }
    /* The pattern is judged first; a NUL ends the text before the limit. */
    assert.equal(kr.rx_test('(', 'a'.repeat(LIMIT + 1)), null);
    assert.equal(kr.rx_last_error(), 'invalid pattern: unclosed group');
    assert.equal(kr.rx_test('a', 'aa\0' + 'a'.repeat(LIMIT + 5)), matches(m(0, 1, 'a'), m(1, 2, 'a')));
    assert.throws(() => kr.searchAll('a', 'a'.repeat(LIMIT + 1)), kr.LimitError);
});

test('an answer longer than the longest JS string fails as out of memory', () => {
    /* (?s). over 10 MiB answers about 577 MB, above V8's 2^29 - 24 units. */
    assert.equal(kr.rx_test('(?s).', 'a'.repeat(LIMIT)), null);
    assert.equal(kr.rx_last_error(), 'out of memory for JSON buffer');
});

test('searchAll gives byte offsets, UTF-16 offsets and the matched text', () => {
    const cases = [
        ['(\\w)b', 'éab😀ab', [
            { start: 2, end: 4, utf16Start: 1, utf16End: 3, text: 'ab',
                groups: [{ index: 1, start: 2, end: 3, utf16Start: 1, utf16End: 2, text: 'a' }] },
            { start: 8, end: 10, utf16Start: 5, utf16End: 7, text: 'ab',
                groups: [{ index: 1, start: 8, end: 9, utf16Start: 5, utf16End: 6, text: 'a' }] }]],
        /* The last byte of é (a pattern of bytes): the offset inside the
         * character has no UTF-16 offset. */
        [bytes(0xa9, 0x7c, 0x62), 'éb', [
            { start: 1, end: 2, utf16Start: null, utf16End: 1, text: '\ufffd', groups: [] },
            { start: 2, end: 3, utf16Start: 1, utf16End: 2, text: 'b', groups: [] }]],
        ['.', 'é', [
            { start: 0, end: 1, utf16Start: 0, utf16End: null, text: '\ufffd', groups: [] },
            { start: 1, end: 2, utf16Start: null, utf16End: 1, text: '\ufffd', groups: [] }]],
        /* Groups out of order in the text: group 2 before group 1. */
        ['(?:(a)|(😀))*', '😀a', [
            { start: 0, end: 5, utf16Start: 0, utf16End: 3, text: '😀a', groups: [
                { index: 1, start: 4, end: 5, utf16Start: 2, utf16End: 3, text: 'a' },
                { index: 2, start: 0, end: 4, utf16Start: 0, utf16End: 2, text: '😀' }] },
            { start: 5, end: 5, utf16Start: 3, utf16End: 3, text: '', groups: [] }]],
        ['z', 'abc', []],
    ];
    for (const [pattern, text, expected] of cases) assert.deepEqual(kr.searchAll(pattern, text), expected, pattern);
    assert.deepEqual(kr.searchAll('a.', bytes(0x61, 0xff, 0x61)), [
        { start: 0, end: 2, utf16Start: null, utf16End: null, text: bytes(0x61, 0xff), groups: [] }]);
});

test('replace, generate and validate answer as the library does', () => {
    assert.deepEqual(kr.replace('a', 'banana', 'o'), { text: 'bonono', count: 3 });
    assert.deepEqual(kr.replace(bytes(0xa9), 'é', '!'), { text: '\ufffd!', count: 1 });
    assert.deepEqual(kr.replace(bytes(0xa9), bytes(0xc3, 0xa9, 0x0a), '"'), { text: bytes(0xc3, 0x22, 0x0a), count: 1 });
    assert.deepEqual(kr.generate(['2023-12-01', '2024-01-15']),
        { pattern: '^\\d{4}-\\d{2}-\\d{2}$', verbose: '(?x)\n^\n  \\d{4}-\\d{2}-\\d{2}\n$' });
    assert.equal(kr.validate('a(b|c)+'), null);
    assert.equal(kr.validate('a)'), "trailing junk at ')'");
});

test('refused calls throw with the library\'s reason', () => {
    const refusals = [
        [() => kr.searchAll('a(', 'x'), kr.PatternError, 'invalid pattern: unclosed group'],
        [() => kr.replace('*', 'x', 'y'), kr.PatternError, "invalid pattern: unexpected '*'"],
        [() => kr.searchAll('(?:a|b){0,5000}c', 'a'.repeat(1500)), kr.LimitError, 'backtracking limit reached'],
        [() => kr.generate([]), kr.KelvaronRegexError, 'empty examples array'],
        [() => kr.generate(['a', 7]), TypeError, 'kelvaron-regex: example 1 must be a string'],
        [() => kr.searchAll('a', 'b\0'), TypeError, 'kelvaron-regex: text holds a NUL character'],
        [() => kr.validate(null), TypeError, 'kelvaron-regex: pattern must be a string or a Uint8Array'],
    ];
    for (const [call, type, reason] of refusals) {
        assert.throws(call, (error) => error instanceof type && error.message === reason, reason);
    }
    const error = (() => { try { kr.searchAll('[a', 'x'); } catch (e) { return e; } })();
    assert.ok(error instanceof kr.KelvaronRegexError && error instanceof Error);
    assert.deepEqual([error.name, error.reason, error.parserMessage, error.offset],
        ['PatternError', 'invalid pattern: unclosed character class', 'unclosed character class', null]);
});

test('lastSteps tells the steps of the last search against its budget', () => {
    kr.searchAll('a', 'banana');
    const steps = kr.lastSteps();
    assert.equal(steps.budget, (8 + 1) * 6 + 1000000);
    assert.ok(steps.spent > 0 && steps.spent < steps.budget, JSON.stringify(steps));
    /* a bounded repetition retried from every start runs out of its budget
     * over 1500 a's: 14 steps per byte plus 1,000,000. */
    assert.throws(() => kr.replace('(?:a|b){0,5000}c', 'a'.repeat(1500), 'x'), kr.LimitError);
    assert.deepEqual(kr.lastSteps(), { budget: 14 * 1500 + 1000000, spent: 14 * 1500 + 1000000 });
    assert.throws(() => kr.searchAll('(', 'a'), kr.PatternError);
    assert.equal(kr.lastSteps(), null);
});

test('100,000 calls leave the module\'s memory where it was', () => {
    const text = 'ann@example.com, bob@test.org; '.repeat(3);
    const round = (i) => {
        switch (i % 6) {
        case 0: return kr.rx_test('(\\w+)@(\\w+)', text);
        case 1: return kr.searchAll('(\\w+)@(\\w+)', text);
        case 2: return kr.replace('\\w+', text, '<>');
        case 3: return kr.rx_validate('a(b');
        case 4: return kr.rx_generate('["2023-12-01","2024-01-15"]');
        default: return kr.rx_test('a(', new TextEncoder().encode(text));
        }
    };
    for (let i = 0; i < 1200; i++) round(i);
    const before = kr.moduleMemory();
    for (let i = 0; i < 100000; i++) round(i);
    assert.equal(kr.moduleMemory(), before);
});

test('the module exports the five functions, its entries and nothing else', () => {
    const module = new WebAssembly.Module(readFileSync(join(packageDir, 'lib', 'kelvaron-regex.wasm')));
    const names = WebAssembly.Module.exports(module).map((e) => e.name).sort();
    const analysis = ['rx_explain_json', 'rx_lint_json'].filter((name) => names.includes(name));
    assert.deepEqual(names, ['_initialize', 'free', 'malloc', 'memory', 'rx_generate', 'rx_last_error',
        'rx_replace_preview', 'rx_steps_json', 'rx_test', 'rx_validate', ...analysis].sort());
    assert.deepEqual(WebAssembly.Module.imports(module).map((i) => `${i.module}.${i.name}`),
        ['env.emscripten_notify_memory_growth']);
});

test('the TypeScript declarations name every export and no other', () => {
    const declarations = readFileSync(join(packageDir, 'lib', 'index.d.ts'), 'utf8');
    const declared = new Set([...declarations.matchAll(/^export (?:function|class|const) (\w+)/gm)].map((x) => x[1]));
    assert.deepEqual([...declared].sort(), Object.keys(kr).sort());
});
