/*
 * Byte offsets of a string's UTF-8 form (as TextEncoder writes it: a lone
 * surrogate as the three bytes of U+FFFD) against its UTF-16 offsets, which
 * the page's text boxes and String.prototype.slice use. The library answers
 * byte offsets; the page draws in UTF-16 units.
 *
 * A ByteMap keeps one checkpoint (unit, byte) every CHECKPOINT_UNITS units,
 * so each question walks at most that many units: cheap for the pattern and
 * for the few offsets of a text that fall inside a character.
 */

const CHECKPOINT_UNITS = 1024;

/* The UTF-8 bytes and UTF-16 units of the character that starts at unit i. */
function charAt(s, i) {
    const c = s.charCodeAt(i);
    if (c < 0x80) return [1, 1];
    if (c < 0x800) return [2, 1];
    if (c >= 0xd800 && c <= 0xdbff) {
        const d = s.charCodeAt(i + 1);
        if (d >= 0xdc00 && d <= 0xdfff) return [4, 2];
    }
    return [3, 1];
}

export class ByteMap {
    constructor(s) {
        this.s = s;
        const units = [0];
        const bytes = [0];
        let u = 0;
        let b = 0;
        let next = CHECKPOINT_UNITS;
        while (u < s.length) {
            const [nb, nu] = charAt(s, u);
            u += nu;
            b += nb;
            if (u >= next) {
                units.push(u);
                bytes.push(b);
                next = u + CHECKPOINT_UNITS;
            }
        }
        this.units = Int32Array.from(units);
        this.bytes = Int32Array.from(bytes);
        this.length = b; /* the byte length of the whole string */
    }

    /* The last checkpoint at or before `value` in `list`. */
    checkpoint(list, value) {
        let lo = 0;
        let hi = list.length - 1;
        while (lo < hi) {
            const mid = (lo + hi + 1) >> 1;
            if (list[mid] <= value) lo = mid;
            else hi = mid - 1;
        }
        return lo;
    }

    /* The UTF-16 offset of byte offset `byte`. A byte inside a character
     * gives that character's start, or with `roundUp` its end, so that a span
     * cut inside characters widens to whole ones. */
    unitAt(byte, roundUp = false) {
        if (byte >= this.length) return this.s.length;
        const k = this.checkpoint(this.bytes, byte);
        let u = this.units[k];
        let b = this.bytes[k];
        for (;;) {
            const [nb, nu] = charAt(this.s, u);
            if (b + nb > byte) return b === byte || !roundUp ? u : u + nu;
            b += nb;
            u += nu;
        }
    }

    /* The byte offset of UTF-16 offset `unit` (inside a surrogate pair: of the
     * pair's start). */
    byteAt(unit) {
        if (unit >= this.s.length) return this.length;
        const k = this.checkpoint(this.units, unit);
        let u = this.units[k];
        let b = this.bytes[k];
        for (;;) {
            const [nb, nu] = charAt(this.s, u);
            if (u + nu > unit) return b;
            b += nb;
            u += nu;
        }
    }
}
