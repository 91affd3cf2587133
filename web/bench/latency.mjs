/*
 * The tester's latency, measured in Debian's chromium (a benchmark, not a
 * test: it prints figures and asserts nothing about time).
 *
 *   node web/bench/latency.mjs [--keys N] [--seed N]
 *
 * Needs what the browser tests need (scripts/install-deps.sh --web, a built
 * host with its page: build/kelvaron-regex, or KRX_HOST). Rows:
 *   highlights, 1 MiB   keystroke to updated highlights on 1 MiB of prose
 *                       whose patterns have a few thousand matches: from
 *                       the key event's time stamp to the frame after the
 *                       marks of that keystroke's search were drawn (target:
 *                       median under 50 ms);
 *   echo, 10 MiB        keystroke to the next frame, typing in the pattern
 *                       box and in the text box with 10 MiB loaded and a
 *                       million matches found (target: within 100 ms);
 *   scroll, 10 MiB      a scroll of the text box to the frame drawn.
 * Each row gives the median, the 90th percentile and the maximum in ms.
 */
import { openTester, startBrowser, startServer } from '../tests/support.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
    const at = args.indexOf(name);
    return at >= 0 ? Number(args[at + 1]) : fallback;
};
const KEYS = option('--keys', 40);
let seed = option('--seed', 7);

/* Deterministic prose: words of a fixed list in lines of about 72 characters. */
const WORDS = ('the of and a to in is was that for it with as his on be at by had not are but from or have an they which one you were ' +
    'her all she there would their we him been has when who will more no if out so said what up its about into than them can only other ' +
    'river stone water garden winter morning letters station harbour village mountain lantern quietly walking remembered carried ' +
    'beneath towards against through between window evening hundred thousand painter kitchen orchard silver copper bridge').split(' ');
function random() {
    seed = (seed * 1103515245 + 12345) & 0x7fffffff;
    return seed / 0x7fffffff;
}
function prose(bytes) {
    const lines = [];
    let size = 0;
    while (size < bytes) {
        let line = '';
        while (line.length < 72) {
            /* common words often, the long tail rarely */
            const word = WORDS[Math.floor(WORDS.length * random() ** 2.2)];
            line += (line ? ' ' : '') + word;
        }
        lines.push(line + '.');
        size += line.length + 2;
    }
    return lines.join('\n').slice(0, bytes);
}

function stats(values) {
    const sorted = [...values].sort((a, b) => a - b);
    const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
    return { median: at(0.5), p90: at(0.9), max: sorted[sorted.length - 1], n: sorted.length };
}

function row(name, values, extra = '') {
    const s = stats(values);
    console.log(`| ${name} | ${s.n} | ${s.median.toFixed(1)} | ${s.p90.toFixed(1)} | ${s.max.toFixed(1)} | ${extra} |`);
}

/* In the page: the time from the next key event in `selector` to the frame
 * after `ready()` holds, ready being "the latest search was drawn" or just
 * "the next frame". */
async function arm(page, selector, waitForSearch) {
    await page.evaluate(([selector, waitForSearch]) => {
        const box = document.querySelector(selector);
        const summary = document.querySelector('.summary');
        window.benchDone = new Promise((resolve) => {
            box.addEventListener('keydown', (event) => {
                const start = event.timeStamp;
                const job = summary.dataset.job;
                const painted = () => requestAnimationFrame(() => {
                    const channel = new MessageChannel();
                    channel.port1.onmessage = () => resolve(performance.now() - start);
                    channel.port2.postMessage(0);
                });
                if (!waitForSearch) return painted();
                const watch = new MutationObserver(() => {
                    if (summary.dataset.job === job) return;
                    watch.disconnect();
                    painted();
                });
                watch.observe(summary, { attributes: true, attributeFilter: ['data-job'] });
                return undefined;
            }, { once: true, capture: true });
        });
    }, [selector, waitForSearch]);
}

async function setText(page, text) {
    await page.evaluate((value) => {
        const box = document.querySelector('[data-testid=text]');
        box.value = value;
        box.dispatchEvent(new Event('input'));
    }, text);
}

async function settle(page) {
    await page.waitForFunction(() => document.getElementById('search-state').dataset.state === 'done', null, { timeout: 120000 });
}

/* Keystrokes that each change the matches: an "s" typed after a word and
 * taken back, over a few words that occur a few thousand times each. */
async function highlightsRow(page) {
    await setText(page, prose(1 << 20));
    const words = ['river', 'stone', 'water', 'garden', 'winter'];
    const times = [];
    const counts = new Set();
    for (let k = 0; k < KEYS; k++) {
        const word = words[k % words.length];
        await page.fill('[data-testid=pattern]', `\\b${word}`);
        await settle(page);
        for (const key of ['s', 'Backspace']) {
            await arm(page, '[data-testid=pattern]', true);
            await page.keyboard.press(key);
            times.push(await page.evaluate(() => window.benchDone));
            counts.add(Number(await page.textContent('[data-testid=match-count]')));
        }
    }
    const sorted = [...counts].sort((a, b) => a - b);
    row('highlights, 1 MiB', times, `${sorted[0]} to ${sorted[sorted.length - 1]} matches`);
}

async function echoRows(page) {
    const text = prose(10 << 20);
    await setText(page, text);
    await page.fill('[data-testid=pattern]', '\\w+');
    await settle(page);
    const matches = await page.textContent('[data-testid=match-count]');
    const echo = async (selector, keys) => {
        const times = [];
        await page.click(selector);
        for (const key of keys) {
            await arm(page, selector, false);
            await page.keyboard.press(key);
            times.push(await page.evaluate(() => window.benchDone));
            await page.waitForTimeout(30);
        }
        return times;
    };
    await page.focus('[data-testid=pattern]');
    await page.keyboard.press('End');
    const keys = Array.from({ length: KEYS }, (_, k) => (k % 2 === 0 ? 'x' : 'Backspace'));
    row('echo, 10 MiB, pattern box', await echo('[data-testid=pattern]', keys), `${matches} matches at the start; each key starts a search`);
    await page.evaluate(() => document.querySelector('[data-testid=text]').setSelectionRange(5000, 5000));
    row('echo, 10 MiB, text box', await echo('[data-testid=text]', keys), `${(text.length / 1048576).toFixed(0)} MiB in the box`);
    await page.fill('[data-testid=pattern]', '\\w+');
    await settle(page);
    const scrolls = [];
    for (let k = 0; k < KEYS; k++) {
        scrolls.push(await page.evaluate((k) => new Promise((resolve) => {
            const box = document.querySelector('[data-testid=text]');
            const start = performance.now();
            box.scrollTop = (k * 7919 % 100) / 100 * box.scrollHeight;
            requestAnimationFrame(() => requestAnimationFrame(() => resolve(performance.now() - start)));
        }), k));
    }
    row('scroll, 10 MiB', scrolls, `${await page.textContent('[data-testid=match-count]')} matches, marks redrawn`);
}

const server = await startServer();
const browser = await startBrowser();
try {
    const page = await openTester(browser.context, server.url);
    console.log('| row | keystrokes | median ms | p90 ms | max ms | |');
    console.log('|---|---:|---:|---:|---:|---|');
    await highlightsRow(page);
    await echoRows(page);
} finally {
    await browser.close();
    server.stop();
}
