/*
 * What the tester's browser tests and its latency benchmark share: the host
 * serving the page (`kelvaron-regex serve --port 0`), Debian's chromium
 * driven by playwright-core (never a downloaded browser), and the package
 * the page runs, loaded in Node as the oracle of exact answers.
 *
 * Environment: KRX_HOST the host program (default build/kelvaron-regex of
 * the repository), KRX_CHROMIUM the browser (default /usr/bin/chromium).
 */
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const REPO = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const HOST = process.env.KRX_HOST || join(REPO, 'build', 'kelvaron-regex');
const CHROMIUM = process.env.KRX_CHROMIUM || '/usr/bin/chromium';
/* Flags that let Debian's chromium run here as root, headless, without
 * reaching for the network. */
const CHROMIUM_FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

/* Starts the host's server on a free port: {url, port, stop()}. */
export async function startServer() {
    const child = spawn(HOST, ['serve', '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
    const url = await new Promise((resolve, reject) => {
        let out = '';
        child.stdout.on('data', (data) => {
            out += data;
            const found = /http:\/\/127\.0\.0\.1:\d+\//.exec(out);
            if (found) resolve(found[0]);
        });
        child.on('exit', (code) => reject(new Error(`kelvaron-regex serve exited with ${code}: ${out}`)));
    });
    return { url, port: Number(new URL(url).port), stop: () => child.kill() };
}

/* A browser with a fresh profile of its own: {context, close()}. */
export async function startBrowser() {
    const profile = mkdtempSync(join(tmpdir(), 'krx-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM,
        headless: true,
        args: CHROMIUM_FLAGS,
        viewport: { width: 1400, height: 1000 },
    });
    return {
        context,
        close: async () => {
            await context.close();
            rmSync(profile, { recursive: true, force: true });
        },
    };
}

/* Runs fn(page, browser) on a page of the tester at url, opened in a browser
 * of its own (nothing kept from another test) with its engine loaded. */
export async function withTester(url, fn) {
    const browser = await startBrowser();
    try {
        await fn(await openTester(browser.context, url), browser);
    } finally {
        await browser.close();
    }
}

/* A page of the tester, opened and with its engine loaded. */
export async function openTester(context, url) {
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    await page.goto(url);
    await page.waitForFunction(() => document.getElementById('engine-status').textContent.startsWith('engine ready'));
    page.errors = errors;
    return page;
}

/* The package the page runs, from the page's own folder, for exact answers. */
export async function oracle() {
    const folder = join(dirname(HOST), 'web', 'kelvaron-regex');
    return import(join(folder, 'index.js'));
}

/* The host's answer to a command, parsed. */
export function hostAnswer(...args) {
    let out;
    try {
        out = execFileSync(HOST, args, { encoding: 'utf8' });
    } catch (error) {
        out = error.stdout; /* exit status 1: no match, no findings */
    }
    return JSON.parse(out);
}

/* Waits until the page shows the answer of its latest search. */
export async function searched(page) {
    await page.waitForFunction(() => document.getElementById('search-state').dataset.state === 'done');
}
