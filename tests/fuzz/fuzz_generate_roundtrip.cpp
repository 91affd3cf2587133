/* Fuzz target of rx_generate on valid example lists: the input, cut at NUL
 * bytes into up to 64 pieces, becomes a JSON array of strings (each at most
 * 4096 bytes once decoded; bytes that are not UTF-8 are written as \u00XX,
 * so that example holds that character's UTF-8 form). rx_generate must
 * answer, and through rx_test its pattern must match every example in full. */
#include "fuzz_support.h"

using namespace krx_fuzz;

/* Length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), 0 when
 * the bytes there are not one (overlong forms and surrogates are not). */
static size_t utf8_length(const std::string &s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    const unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
    unsigned char lo = 0x80, hi = 0xBF;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
    if (c1 < lo || c1 > hi) return 0;
    for (size_t k = 2; k < len; k++)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return len;
}

/* Appends piece to json as a string literal and its decoded bytes to
 * example, stopping before the example would pass 4096 bytes. */
static void add_example(const std::string &piece, std::string *json, std::string *example) {
    static const char HEX[] = "0123456789abcdef";
    *json += '"';
    for (size_t i = 0; i < piece.size();) {
        const unsigned char c = static_cast<unsigned char>(piece[i]);
        size_t len = utf8_length(piece, i);
        std::string decoded = piece.substr(i, len);
        if (len == 0) {
            decoded += static_cast<char>(0xC0 | (c >> 6));
            decoded += static_cast<char>(0x80 | (c & 0x3F));
        }
        if (example->size() + decoded.size() > 4096) break;
        if (len == 0 || c < 0x20) {
            *json += "\\u00";
            *json += HEX[c >> 4];
            *json += HEX[c & 15];
        } else {
            if (c == '"' || c == '\\') *json += '\\';
            *json += decoded;
        }
        *example += decoded;
        i += len != 0 ? len : 1;
    }
    *json += '"';
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> pieces = split(data, size, 64);
    size_t used = 1; /* the pieces the input reached: its NUL bytes plus one */
    for (size_t i = 0; i < size && used < 64; i++) used += data[i] == 0;
    pieces.resize(used);
    std::string json = "[";
    std::vector<std::string> examples(pieces.size());
    for (size_t i = 0; i < pieces.size(); i++) {
        if (i > 0) json += ',';
        add_example(pieces[i], &json, &examples[i]);
    }
    json += ']';
    Result r = take(rx_generate(json.c_str()));
    check(!r.null, "rx_generate refuses a valid example list", json + " / " + r.text);
    check_generated(r.text, examples);
    return 0;
}
