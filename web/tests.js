/*
 * The list of test strings, each with what it expects of the pattern:
 *   matches    there is a match
 *   no-match   there is none
 *   full       the first match spans the whole string
 *   group      group N of the first match holds `expected`
 *   replace    replacing every match with `replacement` gives `expected`
 * The worker judges them (worker.js, tested()); this module keeps the list,
 * draws it with each verdict, and reads and writes its JSON form (the
 * export file, the browser's storage and the permalink use the same).
 */
import { displayText, escapeHtml } from './markup.js';

export const KINDS = ['matches', 'no-match', 'full', 'group', 'replace'];
const FILE_TAG = 'kelvaron-regex-tests';

/* A test as the JSON form keeps it, or null when `value` is not one. */
export function checkedTest(value) {
    if (value === null || typeof value !== 'object' || typeof value.text !== 'string') return null;
    if (!KINDS.includes(value.kind)) return null;
    const test = { text: value.text, kind: value.kind };
    if (value.kind === 'group') {
        if (!Number.isInteger(value.group) || value.group < 1 || value.group > 16) return null;
        test.group = value.group;
    }
    if (value.kind === 'replace') {
        if (typeof value.replacement !== 'string') return null;
        test.replacement = value.replacement;
    }
    if (value.kind === 'group' || value.kind === 'replace') {
        if (typeof value.expected !== 'string') return null;
        test.expected = value.expected;
    }
    return test;
}

/* The tests of a list read from JSON, or null when any is not a test. */
export function checkedTests(list) {
    if (!Array.isArray(list)) return null;
    const tests = list.map(checkedTest);
    return tests.includes(null) ? null : tests;
}

/* The export file's text. */
export function exportText(tests, pattern) {
    return JSON.stringify({ [FILE_TAG]: 1, pattern, tests }, null, 2) + '\n';
}

/* The tests of an export file's text (or of a bare list); throws with a
 * message a person can act on. */
export function importText(text) {
    let value;
    try {
        value = JSON.parse(text);
    } catch (error) {
        throw new Error(`not JSON: ${error.message}`);
    }
    const list = Array.isArray(value) ? value : value && value[FILE_TAG] === 1 ? value.tests : null;
    if (list === undefined || list === null) throw new Error(`not a tests file (no "${FILE_TAG}": 1 and tests)`);
    const tests = checkedTests(list);
    if (tests === null) throw new Error('a test in it is not of the form {text, kind, ...}');
    return { tests, pattern: typeof value.pattern === 'string' ? value.pattern : null };
}

function expectation(test) {
    switch (test.kind) {
    case 'matches': return 'matches';
    case 'no-match': return 'does not match';
    case 'full': return 'matches in full';
    case 'group': return `group ${test.group} holds \u201c${displayText(test.expected, 60)}\u201d`;
    case 'replace': return `with \u201c${displayText(test.replacement, 40)}\u201d gives \u201c${displayText(test.expected, 60)}\u201d`;
    default: return test.kind;
    }
}

/* Draws the list: each item has data-testid="test" and data-state pass,
 * fail or pending; onRemove(i) removes test i. */
export function renderTests(list, tests, results, onRemove) {
    list.innerHTML = '';
    tests.forEach((test, i) => {
        const result = results ? results[i] : undefined;
        const state = result === undefined ? 'pending' : result.pass ? 'pass' : 'fail';
        const item = document.createElement('li');
        item.className = `test ${state}`;
        item.dataset.testid = 'test';
        item.dataset.state = state;
        item.innerHTML =
            `<span class="verdict" aria-label="${state === 'pass' ? 'passes' : state === 'fail' ? 'fails' : 'not run yet'}">` +
            `${state === 'pass' ? '\u2714' : state === 'fail' ? '\u2718' : '\u2026'}</span>` +
            `<code class="test-text">${escapeHtml(displayText(test.text, 120)) || '<em>(empty)</em>'}</code> ` +
            `<span class="expect">${escapeHtml(expectation(test))}</span>` +
            (state === 'fail' && result.detail ? `<span class="detail">: ${escapeHtml(result.detail)}</span>` : '');
        const remove = document.createElement('button');
        remove.type = 'button';
        remove.className = 'remove';
        remove.textContent = 'Remove';
        remove.setAttribute('aria-label', `Remove the test of ${displayText(test.text, 40)}`);
        remove.addEventListener('click', () => onRemove(i));
        item.appendChild(remove);
        list.appendChild(item);
    });
}
