/* A tiny host of an installed kelvaron-regex: built once through the CMake
 * package and once through pkg-config by tests/install/install_test.sh.
 * Prints the header's version and exits 0 when the library answers as it
 * should, 1 otherwise. */
#include <kelvaron_regex.h>

#include <stdio.h>
#include <string.h>

#define KRX_STR2(x) #x
#define KRX_STR(x) KRX_STR2(x)

int main(void) {
    static const char want[] = "{\"matches\":[{\"start\":0,\"end\":2,\"text\":\"ab\",\"groups\":"
                               "[{\"index\":1,\"start\":1,\"end\":2,\"text\":\"b\"}]}]}";
    const char *parts = KRX_STR(KELVARON_REGEX_VERSION_MAJOR) "." KRX_STR(
        KELVARON_REGEX_VERSION_MINOR) "." KRX_STR(KELVARON_REGEX_VERSION_PATCH);
    const char *answer = rx_test("a(b|c)", "ab");
    if (strcmp(parts, KELVARON_REGEX_VERSION_STRING) != 0) {
        fprintf(stderr, "consumer: version macros disagree: %s vs %s\n", parts,
                KELVARON_REGEX_VERSION_STRING);
        return 1;
    }
    if (answer == NULL || strcmp(answer, want) != 0) {
        fprintf(stderr, "consumer: rx_test answered %s (error: %s)\n", answer != NULL ? answer : "NULL",
                rx_last_error());
        return 1;
    }
    printf("%s\n", KELVARON_REGEX_VERSION_STRING);
    return 0;
}
