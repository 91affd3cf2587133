/*
 * The table of cases shared with the C++ public tests
 * (tests/cases/match_cases.json, public_cases.cpp), through the exact layer:
 * every call answers byte for byte the table's answer, which the native
 * library gives, or fails with exactly its error text. A UTF-8 case is
 * called with strings and with Uint8Arrays; a case of "bytes" with
 * Uint8Arrays only. The analysis sections (lint, explain: pattern and
 * answer) are checked where the module has those entries.
 */
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import * as kr from 'kelvaron-regex';

const table = JSON.parse(readFileSync(process.env.KRX_CASES_FILE, 'utf8'));
const encoder = new TextEncoder();

/* A string of a case as the bytes it stands for. */
function bytesOf(string, binary) {
    return binary ? Uint8Array.from(string, (c) => c.charCodeAt(0)) : encoder.encode(string);
}

/* The outcome of a call, as public_cases.cpp writes it: the answer, or
 * "null: " and the error text; the bytes for Uint8Array arguments. */
function outcome(answer, asBytes) {
    if (answer === null) return 'null: ' + kr.rx_last_error();
    assert.equal(kr.rx_last_error(), '', 'a call that answered leaves the error text empty');
    return asBytes ? Buffer.from(answer).toString('latin1') : answer;
}

function checkSection(name, fields, call) {
    const cases = table[name];
    assert.ok(cases.length > 0, `the section ${name} has cases`);
    for (const c of cases) {
        const expected = c.answer === null ? 'null: ' + c.error : c.answer;
        const where = `${c.group}: ${JSON.stringify(fields.map((f) => c[f]))}`;
        if (!c.bytes) assert.equal(outcome(call(...fields.map((f) => c[f])), false), expected, where);
        const args = fields.map((f) => bytesOf(c[f], c.bytes));
        const expectedBytes = c.answer === null ? expected : Buffer.from(bytesOf(expected, c.bytes)).toString('latin1');
        assert.equal(outcome(call(...args), c.answer !== null), expectedBytes, where + ' as bytes');
    }
}

test('rx_test answers every case of the table as the native library does', () => {
    checkSection('test', ['pattern', 'text'], kr.rx_test);
});

test('rx_replace_preview answers every case of the table', () => {
    checkSection('replace', ['pattern', 'text', 'replacement'], kr.rx_replace_preview);
});

test('rx_validate answers every case of the table', () => {
    checkSection('validate', ['pattern'], kr.rx_validate);
});

for (const what of ['lint', 'explain']) {
    test(`${what} answers every ${what} case of the table`, (t) => {
        if (!kr.features[what]) {
            t.skip(`this module has no ${what} entry (src/rx_wasm.cpp lists the module's entries)`);
            return;
        }
        const cases = table[what];
        assert.ok(Array.isArray(cases) && cases.length > 0, `tests/cases/match_cases.json needs a ${what} section`);
        for (const c of cases) assert.deepEqual(kr[what](c.pattern), JSON.parse(c.answer), c.pattern);
    });
}
