/*
 * The tester page in a real browser (Debian's chromium, playwright-core),
 * served by `kelvaron-regex serve`. Each flow asserts exact values: the
 * host's own answers (test, lint, generate) and the package's (steps) are
 * the oracles. Screenshots of the main states go to KRX_SCREENSHOTS (the
 * build folder's web-screenshots/ when CTest runs this).
 */
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { request } from 'node:http';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { hostAnswer, oracle, searched, startServer, withTester } from './support.mjs';

const SHOTS = process.env.KRX_SCREENSHOTS || join(process.cwd(), 'web-screenshots');
mkdirSync(SHOTS, { recursive: true });

let server;
before(async () => {
    server = await startServer();
});
after(() => server.stop());

/* The byte spans of the matches drawn, in order. */
const drawnSpans = (page) =>
    page.$$eval('[data-testid=match]', (marks) => marks.map((m) => [Number(m.dataset.start), Number(m.dataset.end)]));

test('the highlighted matches are exactly the spans of rx_test, with their groups and steps', async () => {
    await withTester(server.url, async (page) => {
    const pattern = '(\\w+)@(\\w+)|x*';
    const text = 'mail ann@example or bob@test\ncafé é\n\tend';
    await page.fill('[data-testid=pattern]', pattern);
    await page.fill('[data-testid=text]', text);
    await searched(page);
    const expected = hostAnswer('test', pattern, text).matches;
    assert.deepEqual(await drawnSpans(page), expected.map((m) => [m.start, m.end]));
    assert.equal(await page.textContent('[data-testid=match-count]'), String(expected.length));
    const kr = await oracle();
    kr.searchAll(pattern, text);
    const steps = kr.lastSteps();
    const shown = await page.$eval('[data-testid=steps]', (e) => [Number(e.dataset.spent), Number(e.dataset.budget)]);
    assert.deepEqual(shown, [steps.spent, steps.budget]);
    /* hovering a match shows its groups */
    const box = await page.locator('[data-testid=match][data-start="5"]').boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.waitForSelector('#tooltip:not([hidden])');
    assert.equal(await page.textContent('#tooltip'),
        'Match 6, bytes 5\u201316: ann@examplegroup 1, bytes 5\u20138: anngroup 2, bytes 9\u201316: example');
    /* a flag toggle edits the leading flag group */
    await page.click('[data-testid=flag-i]');
    assert.equal(await page.inputValue('[data-testid=pattern]'), `(?i)${pattern}`);
    assert.equal(await page.getAttribute('[data-testid=flag-i]', 'aria-pressed'), 'true');
    await page.screenshot({ path: join(SHOTS, 'matches.png') });
    assert.deepEqual(page.errors, []);
    });
});

test('.* before error: the finding, its squiggle, and its suggestion applied with one click', async () => {
    await withTester(server.url, async (page) => {
    await page.fill('[data-testid=text]', 'an error here');
    await page.fill('[data-testid=pattern]', '.*error');
    await searched(page);
    const lint = hostAnswer('lint', '--json', '.*error').findings;
    const shown = await page.$$eval('[data-testid=finding]', (items) =>
        items.map((f) => [f.dataset.code, f.dataset.effect, Number(f.dataset.start), Number(f.dataset.end)]));
    assert.deepEqual(shown, lint.map((f) => [f.code, f.effect, f.start, f.end]));
    assert.deepEqual(shown.map((f) => f[0]), ['retried-run', 'swallowed-follower']);
    assert.equal((await page.$$eval('#pattern-layer .sq-never-matches', (s) => s.map((x) => x.textContent))).join(''), '.*e');
    assert.equal(await page.textContent('[data-testid=match-count]'), '0');
    await page.screenshot({ path: join(SHOTS, 'finding.png') });
    const suggestion = lint[1].suggestions[0].pattern;
    await page.click(`[data-testid=finding][data-code=swallowed-follower] button.apply`);
    assert.equal(await page.inputValue('[data-testid=pattern]'), suggestion);
    await searched(page);
    assert.deepEqual(await drawnSpans(page), hostAnswer('test', suggestion, 'an error here').matches.map((m) => [m.start, m.end]));
    /* an invalid pattern: the message and the caret's byte */
    await page.fill('[data-testid=pattern]', 'é(a');
    await page.waitForSelector('[data-testid=error]:not([hidden])');
    assert.equal(await page.getAttribute('[data-testid=error]', 'data-offset'), '2');
    assert.match(await page.textContent('[data-testid=error]'), /^Invalid pattern: unclosed group \(byte 2\)é\(a\n {1}\^$/);
    });
});

test('generate from examples, then the examples and a counter-example run as tests', async () => {
    await withTester(server.url, async (page) => {
    const examples = ['2023-12-01', '2024-01-15'];
    await page.fill('[data-testid=examples]', examples.join('\n'));
    await page.fill('#counter-examples', '2024-1-15\n2025-02-03');
    await page.click('[data-testid=generate]');
    const made = hostAnswer('generate', ...examples);
    await page.waitForSelector('#generated:not([hidden])');
    assert.equal(await page.textContent('[data-testid=generated-pattern]'), made.pattern);
    assert.equal(await page.textContent('#generated-verbose'), made.verbose);
    await page.click('#use-generated');
    assert.equal(await page.inputValue('[data-testid=pattern]'), made.pattern);
    await searched(page);
    const verdicts = () => page.$$eval('[data-testid=test]', (items) =>
        items.map((t) => [t.querySelector('.test-text').textContent, t.dataset.state]));
    /* the generator takes only examples: a counter-example it matches is red */
    const expected = [['2023-12-01', 'pass'], ['2024-01-15', 'pass'], ['2024-1-15', 'pass'], ['2025-02-03', 'fail']];
    assert.deepEqual(await verdicts(), expected);
    assert.equal(await page.textContent('#tests-summary'), '3 of 4 pass');
    await page.screenshot({ path: join(SHOTS, 'tests.png') });
    /* kept in the browser's storage */
    await page.waitForTimeout(600);
    await page.reload();
    await page.waitForFunction(() => document.getElementById('engine-status').textContent.startsWith('engine ready'));
    await searched(page);
    assert.deepEqual(await verdicts(), expected);
    });
});

test('a permalink brings the pattern, text, replacement and tests to a fresh browser', async () => {
    let link;
    await withTester(server.url, async (page) => {
        await page.fill('[data-testid=pattern]', 'a(n)?');
        await page.fill('[data-testid=text]', 'banana\nand');
        await page.fill('[data-testid=replacement]', 'o');
        await page.fill('#test-input', 'ban');
        await page.selectOption('#test-kind', 'group');
        await page.fill('#test-expected', 'n');
        await page.click('#test-form button[type=submit]');
        await page.click('#permalink');
        await page.waitForFunction(() => location.hash.startsWith('#s='));
        link = page.url();
    });
    await withTester(link, async (page) => {
        await searched(page);
        assert.equal(await page.inputValue('[data-testid=pattern]'), 'a(n)?');
        assert.equal(await page.inputValue('[data-testid=text]'), 'banana\nand');
        assert.equal(await page.inputValue('[data-testid=replacement]'), 'o');
        assert.equal(await page.textContent('[data-testid=replace-result]'), 'booo\nod');
        assert.equal(await page.textContent('#replace-count'), '4 replacements');
        assert.deepEqual(await page.$$eval('[data-testid=test]', (t) => t.map((x) => x.dataset.state)), ['pass']);
    });
});

test('a search that runs out of budget is explained, and a long one never holds up input', async () => {
    await withTester(server.url, async (page) => {
    const busting = '(?:a|b){0,5000}c';
    await page.fill('[data-testid=text]', 'a'.repeat(1500));
    await page.fill('[data-testid=pattern]', busting);
    await searched(page);
    const kr = await oracle();
    assert.throws(() => kr.searchAll(busting, 'a'.repeat(1500)), kr.LimitError);
    const { budget } = kr.lastSteps();
    assert.equal(await page.textContent('[data-testid=steps]'), `all ${budget.toLocaleString('en')} of ${budget.toLocaleString('en')} steps`);
    assert.match(await page.textContent('#notice'), /^The search ran out of steps before it finished, so no matches are shown\./);
    await page.screenshot({ path: join(SHOTS, 'budget.png') });
    /* 8 MiB: this search takes seconds; the page answers meanwhile, and the
     * next pattern replaces the worker that is still busy with it */
    const big = `${'a'.repeat(1023)}\n`.repeat(8192) + 'xyz';
    await page.fill('[data-testid=pattern]', 'zzz');
    await page.evaluate((text) => {
        const box = document.querySelector('[data-testid=text]');
        box.value = text;
        box.dispatchEvent(new Event('input'));
    }, big);
    await searched(page);
    await page.fill('[data-testid=pattern]', busting);
    await page.waitForFunction(() => document.getElementById('search-state').dataset.state === 'searching');
    await page.fill('[data-testid=pattern]', 'x');
    await page.type('[data-testid=pattern]', 'yz');
    assert.equal(await page.inputValue('[data-testid=pattern]'), 'xyz');
    await searched(page);
    assert.equal(await page.textContent('#match-table tbody tr'), `1${8 << 20}\u2013${(8 << 20) + 3}xyz`);
    /* 8192 lines down: drawn once the table's row brings it into view */
    assert.deepEqual(await drawnSpans(page), []);
    await page.click('#match-table tbody tr');
    await page.waitForSelector('[data-testid=match]');
    assert.deepEqual(await drawnSpans(page), [[8 << 20, (8 << 20) + 3]]);
    assert.ok(Number(await page.getAttribute('#engine-status', 'data-restarts')) >= 1, 'the busy worker was replaced');
    });
});

/* A raw request, with the path as written (no client tidies it). */
function get(port, path, host = `127.0.0.1:${port}`) {
    return new Promise((resolve, reject) => {
        const req = request({ host: '127.0.0.1', port, path, headers: { Host: host } }, (res) => {
            res.resume();
            res.on('end', () => resolve({ status: res.statusCode, type: res.headers['content-type'], csp: res.headers['content-security-policy'] }));
        });
        req.on('error', reject);
        req.end();
    });
}

test('the server serves the page and nothing outside it', async () => {
    const { port } = server;
    for (const path of ['/../CMakeLists.txt', '/%2e%2e/%2e%2e/etc/passwd', '/..%2fREADME.md', '/kelvaron-regex/../../CMakeLists.txt',
        '/tests/tester.test.mjs', '/index.html/', '/.hidden', '//etc/passwd']) {
        assert.equal((await get(port, path)).status, 404, path);
    }
    const index = await get(port, '/');
    assert.deepEqual([index.status, index.type], [200, 'text/html; charset=utf-8']);
    assert.equal(index.csp, "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; object-src 'none'; base-uri 'none'; " +
        "form-action 'none'; frame-ancestors 'none'");
    const wasm = await get(port, '/kelvaron-regex/kelvaron-regex.wasm');
    assert.deepEqual([wasm.status, wasm.type], [200, 'application/wasm']);
    assert.equal((await get(port, '/', `attacker.example:${port}`)).status, 403);
});
