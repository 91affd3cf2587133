/*
 * Text made into the HTML of the editors' backdrops and of the page's
 * lists: escaped, and with white space and control characters made visible
 * when asked. The visible forms never change the text's layout, so a
 * backdrop stays aligned with the text box above it: a space, tab or line
 * feed keeps its own character and gets a mark drawn over it by the style
 * sheet; a character that draws nothing (a control character, a zero-width
 * one) keeps it too and gets a small label above.
 */

const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' };

/* Characters that draw nothing or look like a space: C0 and C1 controls
 * but tab and line feed, DEL, no-break and other spaces, zero-width and
 * direction marks, the byte order mark. */
const INVISIBLE = /[\x00-\x08\x0b-\x1f\x7f-\x9f\u00a0\u00ad\u2000-\u200f\u2028-\u202f\u205f-\u2064\ufeff]/;

export function escapeHtml(s) {
    return s.replace(/[&<>"]/g, (c) => ESCAPES[c]);
}

/* The label of an invisible character: its control picture, or U+XXXX. */
export function invisibleName(c) {
    const code = c.charCodeAt(0);
    if (code < 0x20) return String.fromCharCode(0x2400 + code);
    if (code === 0x7f) return '\u2421';
    return 'U+' + code.toString(16).toUpperCase().padStart(4, '0');
}

const VISIBLE_TOKEN = new RegExp(`[&<>" \\t\\n]|${INVISIBLE.source}`, 'g');

/* The HTML of s; with `visible`, white space and invisible characters are
 * wrapped in spans the style sheet marks. */
export function markupText(s, visible) {
    if (!visible) return escapeHtml(s);
    return s.replace(VISIBLE_TOKEN, (c) => {
        if (ESCAPES[c]) return ESCAPES[c];
        if (c === ' ') return '<span class="ws ws-space"> </span>';
        if (c === '\t') return '<span class="ws ws-tab">\t</span>';
        if (c === '\n') return '<span class="ws ws-nl">\n</span>';
        return `<span class="ws ws-ctl" data-c="${invisibleName(c)}">${c}</span>`;
    });
}

/* A short text for a list or a tooltip: invisible characters and white
 * space other than a plain space as visible symbols, cut after `max` units. */
export function displayText(s, max = 200) {
    const cut = s.length > max ? s.slice(0, max) : s;
    const shown = cut.replace(new RegExp(`[\\t\\n\\r]|${INVISIBLE.source}`, 'g'), (c) =>
        c === '\t' ? '\u2192' : c === '\n' ? '\u23ce' : c === '\r' ? '\u240d' : invisibleName(c));
    return shown + (s.length > max ? '\u2026' : '');
}
