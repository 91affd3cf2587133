/*
 * Match enumeration: the walk of rx_walk.h over one text.
 */
#include "rx_walk.h"

void rx_walk_start(rx_walk *w, rx_prog *prog, const char *text, uint64_t n) {
    w->prog = prog;
    w->text = text;
    w->n = n;
    w->offset = 0;
    w->done = 0;
}

int rx_walk_next(rx_walk *w, uint64_t *s, uint64_t *e, rx_caps *caps) {
    if (w->done) return RX_NONE;
    int r = rx_engine_find_prog(w->prog, w->text, w->n, w->offset, s, e, caps);
    if (r != RX_FOUND) {
        w->done = 1;
        return r;
    }
    w->offset = *e == *s ? *e + 1 : *e;
    w->done = w->prog->anchored || w->offset > w->n;
    return RX_FOUND;
}
