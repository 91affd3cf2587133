/*
 * Literal escaping: turns a run of example bytes into pattern text that
 * matches exactly those bytes. The pattern inference (rx_infer.cpp) passes
 * every piece of example text it writes into a pattern through here.
 *
 * Only the 14 operator bytes  $ ( ) * + . ? [ \ ] ^ { | }  get a backslash
 * in front; every other byte, control bytes and bytes from 0x80 up
 * included, is copied unchanged. A backslash is never put before a letter,
 * so the result can never spell a class shorthand such as \d or \b.
 */
#include "rx_escape.h"

#include <stdlib.h>

#include "rx_common.h"

/* 1 for the bytes the pattern syntax reads as operators. */
static int is_operator_byte(unsigned char b) {
    switch (b) {
    case '$':
    case '(':
    case ')':
    case '*':
    case '+':
    case '.':
    case '?':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '{':
    case '|':
    case '}': return 1;
    default: return 0;
    }
}

/* The count alone bounds the range: a NUL byte inside it is copied like any
 * other byte. On failure nothing is written to the outputs and no block is
 * left behind. */
int rx_escape_literal(const char *source, uint64_t count, char **out_text, uint64_t *out_length) {
    if (count == 0) {
        /* The empty text still comes back as a block of its own. */
        char *empty = static_cast<char *>(rx_calloc(1, 1));
        if (empty == nullptr) return -1;
        *out_text = empty;
        if (out_length != nullptr) *out_length = 0;
        return 0;
    }

    char *data = nullptr;
    uint64_t length = 0;
    uint64_t capacity = 0;
    for (uint64_t i = 0; i < count; i++) {
        unsigned char b = static_cast<unsigned char>(source[i]);
        if (is_operator_byte(b) && rx_buf_putc(&data, &length, &capacity, '\\') != 0) {
            free(data);
            return -1;
        }
        if (rx_buf_putc(&data, &length, &capacity, b) != 0) {
            free(data);
            return -1;
        }
    }
    *out_text = data;
    if (out_length != nullptr) *out_length = length;
    return 0;
}
