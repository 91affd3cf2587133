/*
 * The pattern box and what is said about the pattern: the backdrop behind
 * the box (the lint's findings as squiggles under their spans, the error's
 * byte, the bracket that pairs with the one at the caret, the part an
 * explanation node or a finding is pointed at), the error with its caret,
 * the list of findings with their suggestions, and the explanation tree.
 *
 * The library's spans are byte offsets into the pattern's UTF-8 form; they
 * are drawn in UTF-16 units through a ByteMap. Which brackets pair is read
 * from the explanation tree, that is from the library's own parser (a group
 * or a bracket set spans from its opening to its closing byte), never from
 * a second reading of the syntax here.
 */
import { markupText, escapeHtml, displayText } from './markup.js';
import { ByteMap } from './offsets.js';

export class PatternView {
    constructor(textarea, layer) {
        this.box = textarea;
        this.layer = layer;
        this.pattern = '';
        this.map = new ByteMap('');
        this.findings = [];
        this.error = null;
        this.pairs = []; /* [open, close] in UTF-16 units */
        this.pointed = null; /* [from, to) in UTF-16 units */
        this.visible = false;
        for (const type of ['input', 'keyup', 'click', 'select', 'focus']) {
            this.box.addEventListener(type, () => this.render());
        }
        this.box.addEventListener('input', () => this.fit());
    }

    /* The box grows with its lines, so its backdrop never has to scroll. */
    fit() {
        this.box.style.height = 'auto';
        this.box.style.height = `${this.box.scrollHeight + 2}px`;
    }

    /* What the worker said about `pattern` (byte offsets). */
    update(pattern, answer) {
        if (pattern !== this.pattern) {
            this.pattern = pattern;
            this.map = new ByteMap(pattern);
        }
        this.error = answer.error;
        this.findings = answer.findings;
        this.pairs = [];
        const walk = (node) => {
            if (node.kind === 'group' || node.kind === 'class' || node.kind === 'flags') {
                this.pairs.push([this.map.unitAt(node.start), this.map.unitAt(node.end) - 1]);
            }
            for (const child of node.children) walk(child);
        };
        if (answer.tree) walk(answer.tree);
        this.render();
    }

    setVisibleSpace(on) {
        this.visible = on;
        this.render();
    }

    /* Points at a byte span of the pattern (null: at nothing). */
    point(start, end) {
        this.pointed = start === null ? null : [this.map.unitAt(start), this.map.unitAt(end, true)];
        this.render();
    }

    /* The ranges to mark, [from, to, class] in UTF-16 units. */
    ranges() {
        const out = [];
        for (const f of this.findings) {
            out.push([this.map.unitAt(f.start), this.map.unitAt(f.end, true), `sq sq-${f.effect}`]);
        }
        if (this.error && this.error.offset !== null && this.error.offset !== undefined) {
            const at = this.map.unitAt(this.error.offset);
            out.push([at, Math.min(at + 1, this.pattern.length), 'err']);
        }
        const box = this.box;
        if (document.activeElement === box && box.selectionStart === box.selectionEnd) {
            const c = box.selectionStart;
            const pair = this.pairs.find(([o, e]) => o === c || o === c - 1 || e === c || e === c - 1);
            if (pair) for (const at of pair) out.push([at, at + 1, 'bracket']);
        }
        if (this.pointed) out.push([this.pointed[0], this.pointed[1], 'pointed']);
        return out;
    }

    render() {
        const text = this.box.value;
        if (text !== this.pattern) {
            /* typed since the last answer: the marks would be misplaced */
            this.layer.innerHTML = markupText(text, this.visible) + '\n';
            return;
        }
        const ranges = this.ranges().filter(([from, to]) => to >= from);
        const cuts = new Set([0, text.length]);
        for (const [from, to] of ranges) {
            cuts.add(from);
            cuts.add(to);
        }
        const points = [...cuts].sort((a, b) => a - b);
        let html = '';
        for (let i = 0; i + 1 < points.length; i++) {
            const [a, b] = [points[i], points[i + 1]];
            const classes = ranges.filter(([from, to]) => from <= a && to >= b && to > from).map((r) => r[2]);
            const piece = markupText(text.slice(a, b), this.visible);
            html += classes.length ? `<span class="${classes.join(' ')}">${piece}</span>` : piece;
        }
        const hasOffset = this.error && this.error.offset !== null && this.error.offset !== undefined;
        if (hasOffset && this.map.unitAt(this.error.offset) === text.length) html += '<span class="err err-end"></span>';
        this.layer.innerHTML = html + '\n';
    }
}

/* The error box: the message, the pattern's line with a caret under the
 * byte, the hint. data-offset is the byte offset. */
export function renderError(element, pattern, error) {
    element.hidden = error === null;
    if (error === null) {
        element.removeAttribute('data-offset');
        element.textContent = '';
        return;
    }
    if (error.offset === null || error.offset === undefined) {
        element.removeAttribute('data-offset');
        element.innerHTML = `<strong>Invalid pattern:</strong> ${escapeHtml(error.message)}`;
        return;
    }
    element.dataset.offset = String(error.offset);
    const map = new ByteMap(pattern);
    const at = map.unitAt(error.offset);
    const lineStart = pattern.lastIndexOf('\n', at - 1) + 1;
    const lineEnd = pattern.indexOf('\n', at) === -1 ? pattern.length : pattern.indexOf('\n', at);
    const line = pattern.slice(lineStart, lineEnd);
    const caretColumn = [...pattern.slice(lineStart, at)].length;
    element.innerHTML =
        `<strong>Invalid pattern:</strong> ${escapeHtml(error.message)} (byte ${error.offset})` +
        `<pre class="caret-line">${escapeHtml(displayText(line, 10000))}\n${' '.repeat(caretColumn)}^</pre>` +
        (error.hint ? `<p class="hint">${escapeHtml(error.hint)}</p>` : '');
}

const EFFECT_WORDS = {
    'never-matches': 'never matches',
    dead: 'never used',
    note: 'note',
    dialect: 'other dialects',
};

/* The list of findings: each with data-testid="finding", data-code and
 * data-effect, its message, the part of the pattern it is about, and a
 * button per suggestion. onApply(pattern) applies one; onPoint(start, end)
 * points at a finding's span (null, null: at nothing). */
export function renderFindings(list, pattern, findings, onApply, onPoint) {
    const map = new ByteMap(pattern);
    list.innerHTML = '';
    findings.forEach((f, i) => {
        const item = document.createElement('li');
        item.className = `finding effect-${f.effect}`;
        item.id = `finding-${i}`;
        item.dataset.testid = 'finding';
        item.dataset.code = f.code;
        item.dataset.effect = f.effect;
        item.dataset.start = String(f.start);
        item.dataset.end = String(f.end);
        item.tabIndex = 0;
        const part = pattern.slice(map.unitAt(f.start), map.unitAt(f.end, true));
        item.innerHTML =
            `<span class="effect">${escapeHtml(EFFECT_WORDS[f.effect] || f.effect)}</span> ` +
            `<code class="code">${escapeHtml(f.code)}</code> <code class="part">${escapeHtml(displayText(part, 80))}</code>` +
            `<p class="message">${escapeHtml(f.message)}</p>`;
        for (const s of f.suggestions || []) {
            const button = document.createElement('button');
            button.type = 'button';
            button.className = 'apply';
            button.dataset.pattern = s.pattern;
            button.innerHTML = `Use <code>${escapeHtml(displayText(s.pattern, 120))}</code> <span class="meaning">${escapeHtml(s.meaning)}</span>`;
            button.addEventListener('click', () => onApply(s.pattern));
            item.appendChild(button);
        }
        for (const [type, on] of [['mouseenter', true], ['focus', true], ['mouseleave', false], ['blur', false]]) {
            item.addEventListener(type, () => (on ? onPoint(f.start, f.end) : onPoint(null, null)));
        }
        list.appendChild(item);
    });
}

/* The explanation tree as nested lists; pointing at a node (hover or focus)
 * calls onPoint with its byte span. */
export function renderExplain(container, tree, onPoint) {
    container.innerHTML = '';
    if (tree === null) {
        container.innerHTML = '<p class="help">The explanation appears for a valid pattern.</p>';
        return;
    }
    const build = (node) => {
        const item = document.createElement('li');
        const label = document.createElement('span');
        label.className = 'node';
        label.tabIndex = 0;
        label.innerHTML = `<code>${escapeHtml(displayText(node.text, 120))}</code> <span class="kind">${escapeHtml(node.kind)}</span> ` +
            `<span class="description">${escapeHtml(node.description)}</span>`;
        for (const [type, on] of [['mouseenter', true], ['focus', true], ['mouseleave', false], ['blur', false]]) {
            label.addEventListener(type, (event) => {
                event.stopPropagation();
                if (on) onPoint(node.start, node.end);
                else onPoint(null, null);
            });
        }
        item.appendChild(label);
        if (node.children.length) {
            const list = document.createElement('ul');
            for (const child of node.children) list.appendChild(build(child));
            item.appendChild(list);
        }
        return item;
    };
    const root = document.createElement('ul');
    root.className = 'tree';
    root.appendChild(build(tree));
    container.appendChild(root);
}
