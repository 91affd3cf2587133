/*
 * The text box with its matches highlighted, for texts of any size.
 *
 * The text is a plain <textarea> (lines are not wrapped, so line k always
 * sits k line-heights down); behind it a backdrop draws the same text,
 * transparent, with the matches as coloured marks. Only what can be seen is
 * drawn: the lines in view and a margin around them, and of a line longer
 * than LONG_LINE units only the columns in view. So the cost of a redraw is
 * that of a screenful, whatever the text's size or its number of matches:
 * a million matches are a million entries in typed arrays, never a million
 * elements.
 *
 * Every match drawn is one element with data-testid="match" and its byte
 * span in data-start and data-end (an empty match is an empty element the
 * style sheet draws as a thin bar). A match cut by the edge of a long line's
 * visible columns continues in elements of class "match" without the hook.
 */
import { markupText } from './markup.js';

const OVERSCAN_LINES = 30;
const LONG_LINE = 4000; /* longer lines are drawn by visible columns */
const OVERSCAN_COLUMNS = 400;

export class TextView {
    constructor(textarea, layer) {
        this.box = textarea;
        this.layer = layer;
        this.text = '';
        this.lineStarts = new Int32Array([0]);
        this.lineCount = 1;
        this.matches = null; /* {count, spans, groupStarts, groups} */
        this.visible = false; /* white space shown */
        this.lineHeight = 20;
        this.charWidth = 8;
        this.pending = false;
        this.size = [0, 0];
        this.box.addEventListener('scroll', () => this.schedule());
        new ResizeObserver(() => {
            this.measure();
            this.schedule();
        }).observe(this.box);
        this.measure();
    }

    /* The line height and the width of a character of the box's font. */
    measure() {
        const style = getComputedStyle(this.box);
        this.lineHeight = parseFloat(style.lineHeight) || 20;
        const probe = document.createElement('span');
        probe.textContent = '0'.repeat(100);
        probe.style.font = style.font;
        probe.style.position = 'absolute';
        probe.style.visibility = 'hidden';
        probe.style.whiteSpace = 'pre';
        document.body.appendChild(probe);
        this.charWidth = probe.getBoundingClientRect().width / 100 || 8;
        probe.remove();
    }

    /* A new text: its lines are found again and the old matches dropped. */
    setText(text) {
        this.text = text;
        const starts = [0];
        for (let i = text.indexOf('\n'); i !== -1; i = text.indexOf('\n', i + 1)) starts.push(i + 1);
        this.lineStarts = Int32Array.from(starts);
        this.lineCount = starts.length;
        this.matches = null;
        this.schedule();
    }

    /* New matches are drawn at once, in the frame being made, rather than
     * in the next one (no matches: whenever the next frame comes). */
    setMatches(matches) {
        this.matches = matches;
        if (matches === null) this.schedule();
        else this.render();
    }

    setVisibleSpace(on) {
        this.visible = on;
        this.schedule();
    }

    /* Draws on the next frame (once, however often it is asked). */
    schedule() {
        if (this.pending) return;
        this.pending = true;
        requestAnimationFrame(() => {
            this.pending = false;
            this.render();
        });
    }

    /* The line that holds UTF-16 offset u. */
    lineOf(u) {
        let lo = 0;
        let hi = this.lineCount - 1;
        while (lo < hi) {
            const mid = (lo + hi + 1) >> 1;
            if (this.lineStarts[mid] <= u) lo = mid;
            else hi = mid - 1;
        }
        return lo;
    }

    lineEnd(k) {
        return k + 1 < this.lineCount ? this.lineStarts[k + 1] - 1 : this.text.length;
    }

    /* The first match that ends at or after u (spans: four numbers a match,
     * the UTF-16 end fourth; matches never overlap, so the ends rise). */
    firstMatchFrom(u) {
        const { spans, count } = this.matches;
        let lo = 0;
        let hi = count;
        while (lo < hi) {
            const mid = (lo + hi) >> 1;
            if (spans[mid * 4 + 3] < u) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }

    /* The stretches of text to draw: [from, to) in UTF-16 units, and for a
     * stretch that starts inside a long line, the columns skipped before it. */
    pieces(first, last) {
        const out = [];
        let run = null;
        const left = Math.floor(this.box.scrollLeft / this.charWidth);
        const width = Math.ceil(this.box.clientWidth / this.charWidth);
        for (let k = first; k <= last; k++) {
            const start = this.lineStarts[k];
            const end = this.lineEnd(k);
            const next = k + 1 < this.lineCount ? end + 1 : end;
            if (end - start <= LONG_LINE) {
                if (run !== null && run.to === start) run.to = next;
                else out.push((run = { from: start, to: next, skip: 0 }));
                continue;
            }
            let a = Math.max(0, left - OVERSCAN_COLUMNS);
            let b = Math.min(end - start, left + width + OVERSCAN_COLUMNS);
            if (a > b) a = b;
            /* never cut a surrogate pair */
            if (a > 0 && isLowSurrogate(this.text.charCodeAt(start + a))) a--;
            if (b < end - start && isLowSurrogate(this.text.charCodeAt(start + b))) b++;
            out.push({ from: start + a, to: start + b, skip: a });
            out.push((run = { from: end, to: next, skip: 0 }));
        }
        return out;
    }

    /* The HTML of one stretch, with its marks. `hooked` holds the matches
     * whose element carries the test hook already. */
    pieceHtml(piece, hooked) {
        let html = piece.skip > 0 ? `<span class="gap" data-cols="${piece.skip}"></span>` : '';
        let at = piece.from;
        if (this.matches !== null && this.matches.count > 0) {
            const { spans, count } = this.matches;
            const atEnd = piece.to === this.text.length;
            for (let k = this.firstMatchFrom(piece.from); k < count; k++) {
                const s = spans[k * 4 + 2];
                const e = spans[k * 4 + 3];
                if (s > piece.to || (s === piece.to && (s !== e || !atEnd))) break;
                if (s === e ? s < piece.from : e <= piece.from) continue;
                const from = Math.max(s, piece.from);
                const to = Math.min(e, piece.to);
                if (from > at) html += markupText(this.text.slice(at, from), this.visible);
                let attributes = `class="match m${k & 1}${s === e ? ' empty' : ''}" data-k="${k}"`;
                if (!hooked.has(k)) {
                    hooked.add(k);
                    attributes += ` data-testid="match" data-start="${spans[k * 4]}" data-end="${spans[k * 4 + 1]}"`;
                }
                html += `<span ${attributes}>${markupText(this.text.slice(from, to), this.visible)}</span>`;
                at = to;
            }
        }
        if (piece.to > at) html += markupText(this.text.slice(at, piece.to), this.visible);
        return html;
    }

    render() {
        const box = this.box;
        const first = Math.max(0, Math.floor(box.scrollTop / this.lineHeight) - OVERSCAN_LINES);
        const last = Math.min(this.lineCount - 1, Math.ceil((box.scrollTop + box.clientHeight) / this.lineHeight) + OVERSCAN_LINES);
        const hooked = new Set();
        let html = '';
        for (const piece of this.pieces(first, last)) html += this.pieceHtml(piece, hooked);
        this.layer.innerHTML = html;
        for (const gap of this.layer.querySelectorAll('.gap')) gap.style.width = `${gap.dataset.cols}ch`;
        this.layer.style.transform = `translate(${-box.scrollLeft}px, ${first * this.lineHeight - box.scrollTop}px)`;
        /* the backdrop keeps off the box's scroll bars; set only when they
         * change, as a new size lays the editor out again */
        const size = [box.clientWidth, box.clientHeight];
        if (size[0] !== this.size[0] || size[1] !== this.size[1]) {
            this.size = size;
            this.layer.parentElement.style.width = `${size[0]}px`;
            this.layer.parentElement.style.height = `${size[1]}px`;
        }
    }

    /* The index of the match drawn under the point (x, y), or -1. */
    matchAt(x, y) {
        for (const element of document.elementsFromPoint(x, y)) {
            if (element.dataset && element.dataset.k !== undefined && this.layer.contains(element)) {
                return Number(element.dataset.k);
            }
        }
        return -1;
    }

    /* Selects match k in the box and scrolls it into view. */
    select(k) {
        const { spans } = this.matches;
        const s = spans[k * 4 + 2];
        const e = spans[k * 4 + 3];
        const line = this.lineOf(s);
        this.box.focus({ preventScroll: true });
        this.box.setSelectionRange(s, e);
        this.box.scrollTop = Math.max(0, line * this.lineHeight - this.box.clientHeight / 2);
        const column = s - this.lineStarts[line];
        const x = column * this.charWidth;
        if (x < this.box.scrollLeft || x > this.box.scrollLeft + this.box.clientWidth - 40) {
            this.box.scrollLeft = Math.max(0, x - this.box.clientWidth / 3);
        }
        this.schedule();
    }
}

function isLowSurrogate(c) {
    return c >= 0xdc00 && c <= 0xdfff;
}
