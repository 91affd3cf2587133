/*
 * Platform layer, WebAssembly part (compiled only into the WebAssembly
 * build, with 128-bit SIMD): the byte scans the engine leans on, sixteen
 * bytes a lane compare and four compares a step.
 *
 * The C library of emscripten scans with four-byte words, a quarter of
 * what the native C libraries do with their vector code, so the module
 * brings its own memchr and strnlen. They replace the C library's: the
 * linker takes a definition from the module's objects before it looks in
 * the C library. rx_wasm_find_byte_or_end is rx_find_byte_or_end's body here.
 *
 * Reading past a string's end: a load from a 16-byte aligned address inside
 * the module's memory never leaves it (the memory's size is a multiple of
 * 64 KiB), so a scan for a NUL may read the whole aligned block that holds
 * a byte it must look at; the lanes before the text are masked off and the
 * scan stops at the first NUL or match. Scans of a known length read only
 * inside it.
 */
#include "rx_platform.h"

#if defined(__wasm_simd128__)
#  include <stdint.h>
#  include <string.h>
#  include <wasm_simd128.h>

/* The lanes of the 16 bytes at p that equal want, one bit each. */
static inline uint32_t lanes_equal(const unsigned char *p, v128_t want) {
    return wasm_i8x16_bitmask(wasm_i8x16_eq(wasm_v128_load(p), want));
}

extern "C" void *memchr(const void *s, int c, size_t n) {
    const unsigned char *p = static_cast<const unsigned char *>(s);
    const v128_t want = wasm_i8x16_splat(static_cast<int8_t>(c));
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        v128_t a = wasm_i8x16_eq(wasm_v128_load(p + i), want);
        v128_t b = wasm_i8x16_eq(wasm_v128_load(p + i + 16), want);
        v128_t d = wasm_i8x16_eq(wasm_v128_load(p + i + 32), want);
        v128_t e = wasm_i8x16_eq(wasm_v128_load(p + i + 48), want);
        if (wasm_v128_any_true(wasm_v128_or(wasm_v128_or(a, b), wasm_v128_or(d, e)))) break;
    }
    for (; i + 16 <= n; i += 16) {
        uint32_t mask = lanes_equal(p + i, want);
        if (mask != 0) return const_cast<unsigned char *>(p + i + __builtin_ctz(mask));
    }
    for (; i < n; i++)
        if (p[i] == static_cast<unsigned char>(c)) return const_cast<unsigned char *>(p + i);
    return nullptr;
}

extern "C" size_t strnlen(const char *s, size_t n) {
    const void *end = memchr(s, 0, n);
    return end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - s) : n;
}

/* The lanes of the aligned block at p that hold c or a NUL. */
static inline uint32_t lanes_byte_or_nul(const unsigned char *p, v128_t want) {
    v128_t v = wasm_v128_load(p);
    return wasm_i8x16_bitmask(wasm_v128_or(wasm_i8x16_eq(v, want), wasm_i8x16_eq(v, wasm_i8x16_splat(0))));
}

const char *rx_wasm_find_byte_or_end(const char *text, char c) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(text);
    const unsigned char *block = reinterpret_cast<const unsigned char *>(at & ~static_cast<uintptr_t>(15));
    const v128_t want = wasm_i8x16_splat(c);
    uint32_t mask = lanes_byte_or_nul(block, want) & (0xFFFFu << (at & 15));
    /* Sixteen bytes a step up to a 64-byte boundary, then 64. */
    while (mask == 0 && (reinterpret_cast<uintptr_t>(block) & 63) != 48) {
        block += 16;
        mask = lanes_byte_or_nul(block, want);
    }
    while (mask == 0) {
        block += 16;
        const v128_t zero = wasm_i8x16_splat(0);
        v128_t a = wasm_v128_load(block), b = wasm_v128_load(block + 16);
        v128_t d = wasm_v128_load(block + 32), e = wasm_v128_load(block + 48);
        v128_t hit = wasm_v128_or(wasm_v128_or(wasm_i8x16_eq(a, want), wasm_i8x16_eq(b, want)),
                                  wasm_v128_or(wasm_i8x16_eq(d, want), wasm_i8x16_eq(e, want)));
        /* A zero lane shows as the minimum of the four being zero. */
        v128_t low = wasm_u8x16_min(wasm_u8x16_min(a, b), wasm_u8x16_min(d, e));
        if (!wasm_v128_any_true(wasm_v128_or(hit, wasm_i8x16_eq(low, zero)))) {
            block += 48;
            continue;
        }
        for (int k = 0; k < 4 && mask == 0; k++, block += 16) mask = lanes_byte_or_nul(block, want);
        block -= 16;
    }
    return reinterpret_cast<const char *>(block) + __builtin_ctz(mask);
}

#endif
