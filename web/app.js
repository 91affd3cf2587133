/*
 * The tester page: wires the boxes to the worker (engine.js) and draws its
 * answers. The pattern is checked, linted and explained on every keystroke,
 * the text searched, the replacement previewed and the tests judged; the
 * work is kept in the browser's storage and can be shared as a permalink.
 */
import { Engine } from './engine.js';
import { displayText, escapeHtml } from './markup.js';
import { PatternView, renderError, renderExplain, renderFindings } from './patternview.js';
import { permalink, stateFromFragment, storedState, storeState, PERMALINK_TEXT_MAX, STORED_TEXT_MAX } from './share.js';
import { exportText, importText, renderTests } from './tests.js';
import { TextView } from './textview.js';

/* A text longer than this is read from its box only once typing pauses. */
const BIG_TEXT = 1 << 20;
const BIG_TEXT_PAUSE_MS = 150;
const TABLE_ROWS = 100;
const FLAG_ORDER = 'ims';
const LEADING_FLAGS = /^\(\?([ims]+)\)/;

const $ = (id) => document.getElementById(id);
const patternBox = $('pattern');
const textBox = $('text');
const replacementBox = $('replacement');
const patternView = new PatternView(patternBox, $('pattern-layer'));
const textView = new TextView(textBox, $('text-layer'));

const page = {
    tests: [],
    results: null,
    findings: [],
    groupCount: 0,
    matches: null,
    tablePage: 0,
    generated: null,
    pattern: null, /* the pattern of the latest job */
    said: '', /* what the last pattern answer drew */
    textTimer: 0,
    textDirty: true, /* the text box changed since its value was last taken */
    saveTimer: 0,
};

const engine = new Engine(answered, engineState);

/* ---- running ------------------------------------------------------------------ */

function currentState() {
    return {
        pattern: patternBox.value,
        text: engine.text,
        replacement: replacementBox.value,
        tests: page.tests,
        examples: $('examples').value,
        counterExamples: $('counter-examples').value,
    };
}

/* Runs the pattern on the text now (live typing, Enter, Ctrl+Enter). */
function run(forced = false) {
    if (!forced && !$('live').checked) return;
    flushText();
    page.pattern = patternBox.value;
    $('search-state').textContent = 'searching\u2026';
    $('search-state').dataset.state = 'busy';
    engine.run({ pattern: patternBox.value, replacement: replacementBox.value, tests: page.tests });
    scheduleSave();
}

/* The text box changed: a small text is taken at once, a big one when
 * typing pauses (reading a big box's value on every key would slow the
 * echo); the marks go until the new answer is in. */
function textEdited() {
    clearTimeout(page.textTimer);
    page.textDirty = true;
    textView.setMatches(null);
    if (engine.text.length <= BIG_TEXT) {
        flushText();
        run();
    } else {
        page.textTimer = setTimeout(() => {
            flushText();
            run();
        }, BIG_TEXT_PAUSE_MS);
    }
}

/* Takes the text box's value when it changed (reading a big box's value
 * copies it, so a keystroke in the pattern does not). */
function flushText() {
    clearTimeout(page.textTimer);
    if (!page.textDirty) return;
    page.textDirty = false;
    const text = textBox.value;
    if (text === engine.text) return;
    engine.setText(text);
    textView.setText(text);
}

function engineState(state, detail) {
    const status = $('engine-status');
    if (state === 'ready') {
        status.textContent = 'engine ready';
        if (!detail.lint) status.textContent += ' (this module has no lint)';
        run(true);
    } else if (state === 'fatal') {
        const fatal = $('fatal');
        fatal.hidden = false;
        fatal.textContent = `The engine could not be loaded: ${detail}. The page needs the kelvaron-regex package beside it ` +
            '(kelvaron-regex/index.js and kelvaron-regex.wasm): build it with scripts/build-wasm.sh and build the host again.';
        status.textContent = 'no engine';
    } else if (state === 'idle' && detail === 'cancelled') {
        $('search-state').textContent = 'cancelled';
        $('search-state').dataset.state = 'cancelled';
    } else if (state === 'replaced') {
        /* how many searches were cut short this way, for people and tests */
        status.dataset.restarts = String(Number(status.dataset.restarts || 0) + 1);
        if (detail) {
            /* the worker itself failed: its job is over */
            showNotice(`The search stopped: ${escapeHtml(detail)}.`);
            $('search-state').textContent = 'stopped';
            $('search-state').dataset.state = 'done';
        }
    }
}

/* ---- answers -------------------------------------------------------------------- */

function answered(message) {
    switch (message.type) {
    case 'pattern': return showPattern(message);
    case 'search': return showSearch(message);
    case 'replace': return showReplace(message);
    case 'tests':
        page.results = message.results;
        return drawTests();
    case 'searching':
        $('search-state').dataset.state = 'searching';
        return undefined;
    case 'done':
        $('search-state').dataset.state = 'done';
        if ($('search-state').textContent === 'searching\u2026') $('search-state').textContent = '';
        return undefined;
    case 'generated': return showGenerated(message);
    default: return undefined;
    }
}

function showPattern(message) {
    const pattern = page.pattern;
    patternView.update(pattern, message);
    /* the same pattern as last time (a text or test changed): nothing to redraw */
    const said = JSON.stringify([pattern, message.error, message.findings, message.tree]);
    if (said === page.said) return;
    page.said = said;
    renderError($('error'), pattern, message.error);
    page.findings = message.findings;
    renderFindings($('findings'), pattern, message.findings, applySuggestion, (s, e) => patternView.point(s, e));
    renderExplain($('explain'), message.tree, (s, e) => patternView.point(s, e));
    page.groupCount = message.tree ? countGroups(message.tree) : 0;
    if (message.error) {
        page.matches = null;
        textView.setMatches(null);
        showCount(0, null);
        drawTable();
        $('replace-result').textContent = '';
        $('replace-count').textContent = '';
    }
}

/* Capturing groups: group nodes written "(" but not "(?". */
function countGroups(node) {
    let n = node.kind === 'group' && node.text.startsWith('(') && !node.text.startsWith('(?') ? 1 : 0;
    for (const child of node.children) n += countGroups(child);
    return Math.min(n, 16);
}

function showSearch(message) {
    if (message.textVersion !== engine.textVersion) return;
    $('notice').hidden = true;
    const matches = message.packed ? { count: message.count, ...message.packed } : null;
    page.matches = matches;
    page.tablePage = 0;
    textView.setMatches(matches);
    showCount(message.count, message.steps, message.failure);
    drawTable();
    if (message.failure && message.failure.kind !== 'pattern') showFailure(message.failure, message.steps);
    else if (message.nul >= 0) {
        showNotice(`The text holds a NUL character at position ${message.nul}: the library reads a text only up to its ` +
            'first NUL byte, so the search stops there.');
    }
    const summary = document.querySelector('.summary');
    summary.dataset.job = String(message.id);
    $('search-state').textContent = `${message.ms < 1 ? '<1' : Math.round(message.ms)} ms`;
}

function showCount(count, steps, failure = null) {
    $('match-count').textContent = String(count);
    $('match-word').textContent = count === 1 ? 'match' : 'matches';
    const element = $('steps');
    const meter = $('steps-meter');
    if (!steps) {
        element.textContent = '';
        element.removeAttribute('data-spent');
        element.removeAttribute('data-budget');
        meter.value = 0;
        return;
    }
    element.dataset.spent = String(steps.spent);
    element.dataset.budget = String(steps.budget);
    const out = failure && failure.kind === 'limit';
    element.textContent = `${out ? 'all ' : ''}${steps.spent.toLocaleString('en')} of ${steps.budget.toLocaleString('en')} steps`;
    element.classList.toggle('exhausted', out);
    meter.value = steps.budget > 0 ? steps.spent / steps.budget : 0;
}

function showNotice(html) {
    const notice = $('notice');
    notice.hidden = false;
    notice.innerHTML = html;
}

/* A refused search, in plain words; a budget that ran out points at the
 * lint's advisory when there is one. */
function showFailure(failure, steps) {
    if (failure.kind === 'limit' && failure.reason === 'backtracking limit reached') {
        const budget = steps ? steps.budget.toLocaleString('en') : 'its';
        let html = `<strong>The search ran out of steps</strong> before it finished, so no matches are shown. ` +
            `Each search may take ${budget} steps (the budget grows with the text and the pattern); this one needed more, ` +
            'which happens when a part of the pattern is tried again and again over a long run of the text.';
        const advisory = page.findings.findIndex((f) => f.code === 'retried-run');
        if (advisory >= 0) {
            html += ` The lint says why: \u201c${escapeHtml(page.findings[advisory].message)}\u201d ` +
                `<button type="button" class="link" data-finding="${advisory}">Show the finding</button>`;
        } else {
            html += ' Anchor the pattern with ^, begin it with what must be there, or bound its repetitions.';
        }
        showNotice(html);
        const button = document.querySelector('#notice [data-finding]');
        if (button) button.addEventListener('click', () => $(`finding-${button.dataset.finding}`).focus());
    } else if (failure.kind === 'limit') {
        showNotice(`<strong>The text is too long:</strong> ${escapeHtml(failure.reason)} (the library searches at most 10,485,760 bytes).`);
    } else if (failure.kind === 'memory') {
        showNotice(`<strong>The library ran out of memory</strong> for this search (${escapeHtml(failure.reason)}).`);
    } else {
        showNotice(`<strong>The search was refused:</strong> ${escapeHtml(failure.reason)}`);
    }
}

function showReplace(message) {
    const result = $('replace-result');
    if (message.failure) {
        result.textContent = '';
        $('replace-count').textContent = message.failure.kind === 'pattern' ? '' : `refused: ${message.failure.reason}`;
        return;
    }
    result.textContent = message.text;
    const more = message.length > message.text.length
        ? ` (the first ${message.text.length.toLocaleString('en')} of ${message.length.toLocaleString('en')} characters)` : '';
    $('replace-count').textContent = `${message.count} ${message.count === 1 ? 'replacement' : 'replacements'}${more}`;
}

/* ---- the match table and the tooltip ---------------------------------------------- */

function matchText(k) {
    const { spans } = page.matches;
    return engine.text.slice(spans[k * 4 + 2], spans[k * 4 + 3]);
}

/* The groups of match k: {index: [byteStart, byteEnd, text]}. */
function groupsOf(k) {
    const { groupStarts, groups } = page.matches;
    const out = {};
    for (let g = groupStarts[k]; g < groupStarts[k + 1]; g++) {
        const at = g * 5;
        out[groups[at]] = [groups[at + 1], groups[at + 2], engine.text.slice(groups[at + 3], groups[at + 4])];
    }
    return out;
}

function drawTable() {
    const table = $('match-table');
    const count = page.matches ? page.matches.count : 0;
    let columns = page.groupCount;
    const first = page.tablePage * TABLE_ROWS;
    const last = Math.min(count, first + TABLE_ROWS);
    const rows = [];
    for (let k = first; k < last; k++) {
        const groups = groupsOf(k);
        columns = Math.max(columns, ...Object.keys(groups).map(Number));
        rows.push([k, groups]);
    }
    let head = '<tr><th scope="col">#</th><th scope="col">Bytes</th><th scope="col">Text</th>';
    for (let g = 1; g <= columns; g++) head += `<th scope="col">${g}</th>`;
    table.tHead.innerHTML = head + '</tr>';
    const { spans } = page.matches || { spans: [] };
    table.tBodies[0].innerHTML = rows.map(([k, groups]) => {
        let cells = `<td>${k + 1}</td><td>${spans[k * 4]}\u2013${spans[k * 4 + 1]}</td><td><code>${escapeHtml(displayText(matchText(k), 80))}</code></td>`;
        for (let g = 1; g <= columns; g++) {
            cells += groups[g] ? `<td><code title="bytes ${groups[g][0]}\u2013${groups[g][1]}">${escapeHtml(displayText(groups[g][2], 60))}</code></td>`
                : '<td class="none" title="took no part">\u2014</td>';
        }
        return `<tr data-k="${k}" tabindex="0">${cells}</tr>`;
    }).join('');
    $('page-info').textContent = count === 0 ? 'no matches' : `rows ${first + 1}\u2013${last} of ${count.toLocaleString('en')}`;
    $('page-prev').disabled = first === 0;
    $('page-next').disabled = last >= count;
}

function showTooltip(k, x, y) {
    const tooltip = $('tooltip');
    if (k < 0) {
        tooltip.hidden = true;
        return;
    }
    const { spans } = page.matches;
    let html = `<strong>Match ${k + 1}</strong>, bytes ${spans[k * 4]}\u2013${spans[k * 4 + 1]}: <code>${escapeHtml(displayText(matchText(k), 80))}</code>`;
    const groups = groupsOf(k);
    for (const index of Object.keys(groups)) {
        const [s, e, text] = groups[index];
        html += `<br>group ${index}, bytes ${s}\u2013${e}: <code>${escapeHtml(displayText(text, 80))}</code>`;
    }
    if (Object.keys(groups).length === 0 && page.groupCount > 0) html += '<br>no group took part';
    tooltip.innerHTML = html;
    tooltip.hidden = false;
    tooltip.style.left = `${x + 12 + window.scrollX}px`;
    tooltip.style.top = `${y + 16 + window.scrollY}px`;
}

/* ---- tests, generation, flags, suggestions ------------------------------------------ */

function drawTests() {
    renderTests($('tests'), page.tests, page.results, (i) => {
        page.tests.splice(i, 1);
        page.results = null;
        drawTests();
        run(true);
    });
    const results = page.results || [];
    const passed = results.filter((r) => r.pass).length;
    $('tests-summary').textContent = page.tests.length === 0 ? ''
        : page.results && page.results.length === page.tests.length ? `${passed} of ${page.tests.length} pass` : '';
}

function addTests(tests) {
    for (const test of tests) {
        if (!page.tests.some((t) => JSON.stringify(t) === JSON.stringify(test))) page.tests.push(test);
    }
    page.results = null;
    drawTests();
    run(true);
}

function lines(text) {
    return text.split('\n').filter((line) => line !== '');
}

function showGenerated(message) {
    $('generate-error').hidden = message.failure === null;
    $('generated').hidden = message.failure !== null;
    $('use-generated').disabled = message.failure !== null;
    if (message.failure) {
        $('generate-error').textContent = `No pattern: ${message.failure.reason}`;
        page.generated = null;
        return;
    }
    page.generated = message.pattern;
    $('generated-pattern').textContent = message.pattern;
    $('generated-verbose').textContent = message.verbose;
}

function setPattern(pattern) {
    patternBox.value = pattern;
    patternView.fit();
    syncFlags();
    run(true);
}

function applySuggestion(pattern) {
    setPattern(pattern);
    patternBox.focus();
}

function syncFlags() {
    const found = LEADING_FLAGS.exec(patternBox.value);
    for (const button of document.querySelectorAll('.flag')) {
        button.setAttribute('aria-pressed', String(found !== null && found[1].includes(button.dataset.flag)));
    }
}

/* Adds or removes a flag in the leading flag group, which is the only place
 * flags may stand. */
function toggleFlag(flag) {
    const pattern = patternBox.value;
    const found = LEADING_FLAGS.exec(pattern);
    const letters = new Set(found ? found[1] : '');
    if (letters.has(flag)) letters.delete(flag);
    else letters.add(flag);
    const group = [...FLAG_ORDER].filter((c) => letters.has(c)).join('');
    setPattern((group ? `(?${group})` : '') + pattern.slice(found ? found[0].length : 0));
}

/* ---- keeping and sharing --------------------------------------------------------------- */

function scheduleSave() {
    clearTimeout(page.saveTimer);
    page.saveTimer = setTimeout(() => {
        const state = currentState();
        const kept = storeState(state);
        $('tests-note').textContent = !kept ? 'The browser did not let the page keep your work (its storage is full or off).'
            : state.text.length > STORED_TEXT_MAX ? 'Your work is kept in this browser, but the text is too long to keep.' : '';
    }, 400);
}

function applyState(state) {
    patternBox.value = state.pattern;
    textBox.value = state.text;
    replacementBox.value = state.replacement;
    $('examples').value = state.examples;
    $('counter-examples').value = state.counterExamples;
    page.tests = state.tests;
    page.results = null;
    page.textDirty = true;
    patternView.fit();
    syncFlags();
    drawTests();
    flushText();
}

async function sharePermalink() {
    const note = $('share-note');
    const { url, textLeftOut } = await permalink(currentState());
    history.replaceState(null, '', url);
    let copied = true;
    try {
        await navigator.clipboard.writeText(url);
    } catch {
        copied = false;
    }
    note.textContent = (copied ? 'Permalink copied.' : 'The permalink is in the address bar.') +
        (textLeftOut ? ` The text is longer than ${PERMALINK_TEXT_MAX.toLocaleString('en')} characters and is not in it.` : '');
}

async function loadFragment() {
    try {
        const state = await stateFromFragment();
        if (state !== null) {
            applyState(state);
            return true;
        }
    } catch (error) {
        showNotice(`This permalink cannot be read (${escapeHtml(error.message)}).`);
    }
    return false;
}

/* ---- events ------------------------------------------------------------------------------ */

patternBox.addEventListener('input', () => {
    syncFlags();
    run();
});
patternBox.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && !event.shiftKey && !event.ctrlKey && !event.metaKey) {
        event.preventDefault();
        run(true);
    }
});
textBox.addEventListener('input', textEdited);
replacementBox.addEventListener('input', () => run());
$('live').addEventListener('change', () => run());
$('run').addEventListener('click', () => run(true));
$('show-ws').addEventListener('change', (event) => {
    textView.setVisibleSpace(event.target.checked);
    patternView.setVisibleSpace(event.target.checked);
});
for (const button of document.querySelectorAll('.flag')) button.addEventListener('click', () => toggleFlag(button.dataset.flag));

let hoverFrame = 0;
textBox.addEventListener('mousemove', (event) => {
    cancelAnimationFrame(hoverFrame);
    hoverFrame = requestAnimationFrame(() => showTooltip(page.matches ? textView.matchAt(event.clientX, event.clientY) : -1, event.clientX, event.clientY));
});
textBox.addEventListener('mouseleave', () => showTooltip(-1));

const table = $('match-table');
const pickRow = (event) => {
    const row = event.target.closest('tr[data-k]');
    if (row && page.matches) textView.select(Number(row.dataset.k));
};
table.addEventListener('click', pickRow);
table.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        pickRow(event);
    }
});
$('page-prev').addEventListener('click', () => {
    page.tablePage = Math.max(0, page.tablePage - 1);
    drawTable();
});
$('page-next').addEventListener('click', () => {
    page.tablePage++;
    drawTable();
});

$('load-file').addEventListener('click', () => $('file-input').click());
$('file-input').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (!file) return;
    textBox.value = await file.text();
    event.target.value = '';
    page.textDirty = true;
    flushText();
    run(true);
});

const testKind = $('test-kind');
testKind.addEventListener('change', () => {
    $('test-extra').hidden = testKind.value !== 'group';
    $('test-replacement-box').hidden = testKind.value !== 'replace';
    $('test-expected-box').hidden = testKind.value !== 'group' && testKind.value !== 'replace';
    if (testKind.value === 'replace' && $('test-replacement').value === '') $('test-replacement').value = replacementBox.value;
});
$('test-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const test = { text: $('test-input').value, kind: testKind.value };
    if (test.kind === 'group') test.group = Math.min(16, Math.max(1, Number($('test-group').value) || 1));
    if (test.kind === 'replace') test.replacement = $('test-replacement').value;
    if (test.kind === 'group' || test.kind === 'replace') test.expected = $('test-expected').value;
    addTests([test]);
    $('test-input').value = '';
    $('test-input').focus();
});
$('test-input').addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && !event.shiftKey) {
        event.preventDefault();
        $('test-form').requestSubmit();
    }
});
$('tests-export').addEventListener('click', () => {
    const blob = new Blob([exportText(page.tests, patternBox.value)], { type: 'application/json' });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = 'kelvaron-regex-tests.json';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
});
$('tests-import').addEventListener('click', () => $('tests-file').click());
$('tests-file').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    event.target.value = '';
    if (!file) return;
    try {
        const { tests, pattern } = importText(await file.text());
        page.tests = tests;
        if (pattern !== null && patternBox.value === '') setPattern(pattern);
        $('tests-note').textContent = `Imported ${tests.length} ${tests.length === 1 ? 'test' : 'tests'} from ${file.name}.`;
        page.results = null;
        drawTests();
        run(true);
    } catch (error) {
        $('tests-note').textContent = `${file.name} was not imported: ${error.message}.`;
    }
});

$('generate').addEventListener('click', () => {
    const examples = lines($('examples').value);
    if (examples.length === 0) {
        $('generate-error').hidden = false;
        $('generate-error').textContent = 'Type at least one example, one per line.';
        return;
    }
    engine.generate(examples);
});
$('use-generated').addEventListener('click', () => {
    if (page.generated === null) return;
    setPattern(page.generated);
    addTests([
        ...lines($('examples').value).map((text) => ({ text, kind: 'full' })),
        ...lines($('counter-examples').value).map((text) => ({ text, kind: 'no-match' })),
    ]);
});
for (const id of ['examples', 'counter-examples']) $(id).addEventListener('input', scheduleSave);

$('permalink').addEventListener('click', sharePermalink);
$('reset').addEventListener('click', () => {
    if (!confirm('Clear the pattern, the text, the tests and the examples?')) return;
    applyState({ pattern: '', text: '', replacement: '', tests: [], examples: '', counterExamples: '' });
    history.replaceState(null, '', location.pathname);
    run(true);
});
window.addEventListener('hashchange', async () => {
    if (await loadFragment()) run(true);
});

document.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
        event.preventDefault();
        if (document.activeElement === $('examples') || document.activeElement === $('counter-examples')) $('generate').click();
        else run(true);
    } else if (event.key === 'Escape') {
        if (engine.cancel()) event.preventDefault();
        $('tooltip').hidden = true;
    }
});

/* ---- start --------------------------------------------------------------------------------- */

(async () => {
    if (!(await loadFragment())) {
        const stored = storedState();
        if (stored !== null) applyState(stored);
    }
    flushText();
    if (engine.features !== null) run(true);
})();
