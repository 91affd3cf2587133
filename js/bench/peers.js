/*
 * rx_test in WebAssembly under Node against the native library, on the peers
 * benchmark's corpus and rows (bench/bench_peers.cpp), and searchAll against
 * V8's own RegExp on the rows where the two dialects find the same matches.
 * scripts/bench-wasm.sh builds both sides and runs this.
 *
 *   node js/bench/peers.js PACKAGE_DIR CORPUS NATIVE_TABLE [--reps=N]
 *
 * PACKAGE_DIR: the package folder (build-wasm/js/kelvaron-regex); CORPUS: the
 * bytes bench_peers --write-corpus wrote; NATIVE_TABLE: the output of
 * bench_peers on that file, whose rx_test table gives the rows (name,
 * pattern, matches) and the native times. Times are medians of N runs, in
 * milliseconds of CPU time (natively the calling thread's, here the Node
 * process's, its garbage collector's threads included), after two runs to
 * warm up; a ratio is the
 * WebAssembly time divided by the native one (the target: at most 2), or
 * searchAll's divided by RegExp's.
 */
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [packageDir, corpusPath, nativePath, ...options] = process.argv.slice(2);
const repsOption = options.find((o) => o.startsWith('--reps='));
const REPS = repsOption ? Math.max(1, Number(repsOption.slice(7))) : 9;
const kr = await import(pathToFileURL(join(packageDir, 'lib', 'index.js')).href);

const corpus = new Uint8Array(readFileSync(corpusPath));
const text = new TextDecoder().decode(corpus);

/*
 * The module on its own, as a C host inside WebAssembly would call it: the
 * pattern and the text copied into its memory once, the answer left there.
 * This is the engine against the native one; the package's calls add the
 * copies of the text in and of the answer out (a JS string or bytes).
 */
async function bareModule() {
    const bytes = readFileSync(join(packageDir, 'lib', 'kelvaron-regex.wasm'));
    const { instance } = await WebAssembly.instantiate(bytes, { env: { emscripten_notify_memory_growth() {} } });
    const w = instance.exports;
    w._initialize();
    const place = (data) => {
        const address = w.malloc(data.length + 1) >>> 0;
        const view = new Uint8Array(w.memory.buffer);
        view.set(data, address);
        view[address + data.length] = 0;
        return address;
    };
    const textAddress = place(corpus);
    return (pattern) => {
        const patternAddress = place(new TextEncoder().encode(pattern));
        return () => {
            const answer = w.rx_test(patternAddress, textAddress) >>> 0;
            if (answer === 0) throw new Error(`rx_test failed on ${pattern}`);
            return answer;
        };
    };
}
const bare = await bareModule();

/* The rows of bench_peers' rx_test table: | name | `pattern` | matches | ms | ... */
function nativeRows(output) {
    const rows = [];
    let inTable = false;
    for (const line of output.split('\n')) {
        if (line.startsWith('rx_test, medians')) inTable = true;
        else if (line.startsWith('rx_replace_preview')) inTable = false;
        const cells = line.split(/(?<!\\)\|/).map((c) => c.trim());
        if (!inTable || cells.length < 6 || !cells[2].startsWith('`')) continue;
        rows.push({
            name: cells[1],
            pattern: cells[2].slice(1, -1).replace(/\\\|/g, '|'),
            matches: Number(cells[3]),
            native: Number(cells[4]),
        });
    }
    return rows;
}

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
}

/* CPU time of the process so far, in milliseconds. */
function cpuMs() {
    const { user, system } = process.cpuUsage();
    return (user + system) / 1000;
}

/* The median time of fn in milliseconds, and its last result; two runs
 * first, so that V8 has compiled the module's hot functions with its
 * optimizing compiler. */
function time(fn) {
    let result = fn();
    fn();
    const times = [];
    for (let i = 0; i < REPS; i++) {
        const start = cpuMs();
        result = fn();
        times.push(cpuMs() - start);
    }
    return { ms: median(times), result };
}

/* V8's RegExp for a pattern of the rows: the leading flag group becomes flags. */
function v8RegExp(pattern) {
    const lead = /^\(\?([ims]+)\)/.exec(pattern);
    const flags = 'g' + (lead ? lead[1].replace('s', 's') : '');
    return new RegExp(lead ? pattern.slice(lead[0].length) : pattern, flags);
}

function v8SearchAll(re) {
    const out = [];
    for (const m of text.matchAll(re)) out.push({ index: m.index, end: m.index + m[0].length, text: m[0], groups: m.slice(1) });
    return out;
}

/* Do searchAll's matches and RegExp's agree (offsets, texts, groups)? */
function agree(ours, theirs) {
    if (ours.length !== theirs.length) return false;
    return ours.every((m, i) => {
        const t = theirs[i];
        return m.utf16Start === t.index && m.utf16End === t.end && m.text === t.text &&
            m.groups.length === t.groups.filter((g) => g !== undefined).length &&
            m.groups.every((g) => t.groups[g.index - 1] === g.text);
    });
}

const rows = nativeRows(readFileSync(nativePath, 'utf8'));
if (rows.length === 0) throw new Error(`no rx_test table in ${nativePath}`);
const fmt = (x) => x.toFixed(2);
const geo = (xs) => Math.exp(xs.reduce((s, x) => s + Math.log(x), 0) / xs.length);

console.log(`Corpus: ${corpus.length} bytes of ${corpusPath}; medians of ${REPS} runs, ms of CPU time\n`);
console.log('| row | pattern | matches | native rx_test | module rx_test | ratio | package rx_test, bytes | ratio | package rx_test, string | ratio |');
console.log('|---|---|---:|---:|---:|---:|---:|---:|---:|---:|');
const ratios = [[], [], []];
const searches = [];
const cell = (ms, row, k) => {
    ratios[k].push(ms / row.native);
    return `${fmt(ms)} | ${fmt(ms / row.native)}`;
};
for (const row of rows) {
    const module = time(bare(row.pattern));
    const bytes = time(() => kr.rx_test(row.pattern, corpus));
    const string = time(() => kr.rx_test(row.pattern, text));
    const count = JSON.parse(string.result).matches.length;
    if (count !== row.matches) throw new Error(`${row.name}: ${count} matches in WebAssembly, ${row.matches} native`);
    console.log(`| ${row.name} | \`${row.pattern.replace(/\|/g, '\\|')}\` | ${row.matches} | ${fmt(row.native)} | ` +
        `${cell(module.ms, row, 0)} | ${cell(bytes.ms, row, 1)} | ${cell(string.ms, row, 2)} |`);
    searches.push(row);
}
console.log(`\nGeometric means of the ratios: ${fmt(geo(ratios[0]))} (module), ${fmt(geo(ratios[1]))} (bytes), ` +
    `${fmt(geo(ratios[2]))} (string)\n`);

console.log('| row | pattern | matches | searchAll | V8 RegExp (matchAll) | ratio |');
console.log('|---|---|---:|---:|---:|---:|');
const v8ratios = [];
for (const row of searches) {
    const re = v8RegExp(row.pattern);
    const ours = time(() => kr.searchAll(row.pattern, text));
    const theirs = time(() => v8SearchAll(re));
    if (!agree(ours.result, theirs.result)) {
        console.log(`| ${row.name} | \`${row.pattern.replace(/\|/g, '\\|')}\` | ${row.matches} | ${fmt(ours.ms)} | dialects differ | - |`);
        continue;
    }
    v8ratios.push(ours.ms / theirs.ms);
    console.log(`| ${row.name} | \`${row.pattern.replace(/\|/g, '\\|')}\` | ${row.matches} | ${fmt(ours.ms)} | ` +
        `${fmt(theirs.ms)} | ${fmt(ours.ms / theirs.ms)} |`);
}
if (v8ratios.length > 0) console.log(`\nGeometric mean of the ratios: ${fmt(geo(v8ratios))}`);
