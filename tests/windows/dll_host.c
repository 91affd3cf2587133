/*
 * A plain C host of kelvaron-regex.dll, written the way a Windows program
 * uses the library: it loads the DLL at run time with LoadLibrary, finds
 * each of the five exports by its undecorated name with GetProcAddress and
 * calls them through function pointers. It checks, in order:
 *   1. each export answers a first call exactly, and the library's own
 *      internal functions are not exported;
 *   2. a failing call returns NULL, names its reason in rx_last_error and
 *      leaves the thread's previous answer intact;
 *   3. answers on two threads stay apart: a thread's answer survives the
 *      other thread's calls, taking turns and running at the same time;
 *   4. a thread's answer buffer is released when the thread ends: many
 *      short-lived threads with a large answer each do not pile up heap;
 *   5. the DLL unloads cleanly after threads used it, even while a thread
 *      that used it is still running (it ends after the unload), and it can
 *      be loaded and used again, many times over.
 *
 *   dll_host [path-to-dll]     (default: kelvaron-regex.dll beside the host)
 *
 * Prints one line per check and exits 0 when every check passed.
 */
#define __USE_MINGW_ANSI_STDIO 1
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <malloc.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef const char *(*validate_fn)(const char *pattern);
typedef const char *(*test_fn)(const char *pattern, const char *text);
typedef const char *(*replace_fn)(const char *pattern, const char *text, const char *replacement);
typedef const char *(*generate_fn)(const char *examples_json);
typedef const char *(*last_error_fn)(void);

struct api {
    HMODULE module;
    validate_fn validate;
    test_fn test;
    replace_fn replace;
    generate_fn generate;
    last_error_fn last_error;
};

static const char *g_dll_path = "kelvaron-regex.dll";
static int g_passed;
static int g_failed;

static void check(int ok, const char *format, ...) {
    va_list args;
    va_start(args, format);
    printf("%s ", ok ? "pass:" : "FAIL:");
    vprintf(format, args);
    printf("\n");
    va_end(args);
    fflush(stdout);
    if (ok)
        g_passed++;
    else
        g_failed++;
}

/* Passes when got is the text want; shows both otherwise. */
static void check_answer(const char *what, const char *got, const char *want) {
    int ok = got != NULL && strcmp(got, want) == 0;
    check(ok, "%s", what);
    if (!ok) {
        printf("  expected: %s\n  got:      %s\n", want, got != NULL ? got : "(NULL)");
        fflush(stdout);
    }
}

/* GetProcAddress through the one function-pointer type that converts to
 * every other without a warning. */
typedef void (*any_fn)(void);
static any_fn find_export(HMODULE module, const char *name) {
    return (any_fn)(void (*)(void))GetProcAddress(module, name);
}

/* Loads the DLL and finds the five exports; 0, or -1 (reported) when the
 * DLL or one of the names is missing. */
static int load_api(struct api *api) {
    memset(api, 0, sizeof *api);
    api->module = LoadLibraryA(g_dll_path);
    if (api->module == NULL) {
        check(0, "LoadLibrary(%s) failed with error %lu", g_dll_path, (unsigned long)GetLastError());
        return -1;
    }
    api->validate = (validate_fn)find_export(api->module, "rx_validate");
    api->test = (test_fn)find_export(api->module, "rx_test");
    api->replace = (replace_fn)find_export(api->module, "rx_replace_preview");
    api->generate = (generate_fn)find_export(api->module, "rx_generate");
    api->last_error = (last_error_fn)find_export(api->module, "rx_last_error");
    if (api->validate == NULL || api->test == NULL || api->replace == NULL || api->generate == NULL ||
        api->last_error == NULL) {
        check(0,
              "GetProcAddress found rx_validate %d, rx_test %d, rx_replace_preview %d, "
              "rx_generate %d, rx_last_error %d",
              api->validate != NULL, api->test != NULL, api->replace != NULL, api->generate != NULL,
              api->last_error != NULL);
        FreeLibrary(api->module);
        api->module = NULL;
        return -1;
    }
    return 0;
}

/* Bytes in use in the C runtime's heap, which the DLL shares with this
 * host (both use msvcrt.dll). */
static size_t heap_in_use(void) {
    _HEAPINFO info;
    size_t used = 0;
    info._pentry = NULL;
    while (_heapwalk(&info) == _HEAPOK) {
        if (info._useflag == _USEDENTRY) used += info._size;
    }
    return used;
}

/* ---- 1 and 2: first calls and a failure ---------------------------------- */

static const char GENERATE_WANT[] = "{\"pattern\":\"^\\\\d{4}-\\\\d{2}-\\\\d{2}$\","
                                    "\"verbose\":\"(?x)\\n^\\n  \\\\d{4}-\\\\d{2}-\\\\d{2}\\n$\"}";

static void check_first_calls(const struct api *api) {
    check_answer("rx_validate(\"a+b\")", api->validate("a+b"), "{\"ok\":true}");
    check_answer("rx_test(\"a(b|c)\", \"ab ac\")", api->test("a(b|c)", "ab ac"),
                 "{\"matches\":[{\"start\":0,\"end\":2,\"text\":\"ab\",\"groups\":["
                 "{\"index\":1,\"start\":1,\"end\":2,\"text\":\"b\"}]},"
                 "{\"start\":3,\"end\":5,\"text\":\"ac\",\"groups\":["
                 "{\"index\":1,\"start\":4,\"end\":5,\"text\":\"c\"}]}]}");
    check_answer("rx_replace_preview(\"a\", \"banana\", \"o\")", api->replace("a", "banana", "o"),
                 "{\"result\":\"bonono\",\"count\":3}");
    const char *generated = api->generate("[\"2023-12-01\",\"2024-01-15\"]");
    check_answer("rx_generate([\"2023-12-01\",\"2024-01-15\"])", generated, GENERATE_WANT);
    check_answer("rx_last_error() after successful calls", api->last_error(), "");

    const char *failed = api->test(NULL, "x");
    check(failed == NULL, "rx_test(NULL, \"x\") returns NULL");
    check_answer("rx_last_error() after rx_test(NULL, ...)", api->last_error(), "null pattern");
    check_answer("the answer before the failure is intact", generated, GENERATE_WANT);
    const char *generate_failed = api->generate("[]");
    check(generate_failed == NULL, "rx_generate(\"[]\") returns NULL");
    check_answer("rx_last_error() after rx_generate(\"[]\")", api->last_error(), "empty examples array");
}

static void check_hidden_names(const struct api *api) {
    static const char *const internal[] = {
        "rx_set_error",      "rx_clear_error",        "rx_tls_put_json",
        "rx_buf_puts",       "rx_engine_compile_ok",  "rx_infer_pattern",
        "rx_escape_literal", "rx_thread_cleanup_arm", "DllMain",
        "yyjson_read_opts",
    };
    int found = 0;
    for (size_t i = 0; i < sizeof internal / sizeof internal[0]; i++) {
        if (find_export(api->module, internal[i]) != NULL) {
            printf("  exported although internal: %s\n", internal[i]);
            found++;
        }
    }
    check(found == 0, "no internal function is exported");
}

/* ---- 3: two threads --------------------------------------------------------- */

/* The call each thread makes in a round, and the answer it must get:
 * rx_replace_preview of x\d+ in pad bytes of y followed by x and a number,
 * with a replacement that names the thread and the round. Pads of up to
 * 12000 bytes make the answers outgrow the first 8192-byte buffer, so the
 * buffers grow (and move) on the way. */
#define PAD_MAX 12000
static const char THREAD_PATTERN[] = "x\\d+";

struct thread_call {
    char text[PAD_MAX + 32];
    char replacement[32];
    char want[PAD_MAX + 64];
};

static void make_thread_call(struct thread_call *call, int id, int round) {
    int pad = (round % 5) * 3000;
    memset(call->text, 'y', (size_t)pad);
    sprintf(call->text + pad, "x%d", round * 7 + 1);
    sprintf(call->replacement, "T%dR%d", id, round);
    memcpy(call->want, "{\"result\":\"", 11);
    memset(call->want + 11, 'y', (size_t)pad);
    sprintf(call->want + 11 + pad, "%s\",\"count\":1}", call->replacement);
}

static const char *do_thread_call(const struct api *api, const struct thread_call *call) {
    return api->replace(THREAD_PATTERN, call->text, call->replacement);
}

#define TURNS 40

struct turn_taker {
    const struct api *api;
    HANDLE my_turn;
    HANDLE other_turn;
    int id;
    int failures;
    struct thread_call call;
};

/* Takes TURNS turns with the other thread; in each it first checks that its
 * previous answer survived the other thread's call, then makes a new one.
 * A last turn only checks. */
static DWORD WINAPI take_turns(LPVOID arg) {
    struct turn_taker *self = (struct turn_taker *)arg;
    const char *previous = NULL;
    for (int turn = 0; turn <= TURNS; turn++) {
        WaitForSingleObject(self->my_turn, INFINITE);
        if (previous != NULL && strcmp(previous, self->call.want) != 0) {
            if (self->failures++ == 0)
                printf("  thread %d: answer of turn %d changed by the other thread\n", self->id, turn - 1);
        }
        if (turn < TURNS) {
            make_thread_call(&self->call, self->id, turn);
            previous = do_thread_call(self->api, &self->call);
            if (previous == NULL || strcmp(previous, self->call.want) != 0) {
                if (self->failures++ == 0)
                    printf("  thread %d: wrong answer in turn %d: %s\n", self->id, turn,
                           previous != NULL ? previous : "(NULL)");
                previous = NULL;
            }
        }
        SetEvent(self->other_turn);
    }
    return 0;
}

#define RACE_CALLS 1500

/* Calls as fast as it can while the other thread does the same, checking
 * every answer right after it came back. */
static DWORD WINAPI race(LPVOID arg) {
    struct turn_taker *self = (struct turn_taker *)arg;
    for (int call = 0; call < RACE_CALLS; call++) {
        make_thread_call(&self->call, self->id, call);
        const char *answer = do_thread_call(self->api, &self->call);
        if (answer == NULL || strcmp(answer, self->call.want) != 0) {
            if (self->failures++ == 0) printf("  thread %d: wrong answer in call %d\n", self->id, call);
        }
    }
    return 0;
}

/* Runs fn on two threads with two turn_taker records; the sum of their
 * failures, or -1 when a thread could not be started. */
static int run_pair(const struct api *api, LPTHREAD_START_ROUTINE fn) {
    static struct turn_taker pair[2];
    HANDLE turn_a = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE turn_b = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE threads[2] = {NULL, NULL};
    int result = -1;
    if (turn_a == NULL || turn_b == NULL) goto done;
    for (int i = 0; i < 2; i++) {
        memset(&pair[i], 0, sizeof pair[i]);
        pair[i].api = api;
        pair[i].id = i + 1;
        pair[i].my_turn = i == 0 ? turn_a : turn_b;
        pair[i].other_turn = i == 0 ? turn_b : turn_a;
    }
    for (int i = 0; i < 2; i++) {
        threads[i] = CreateThread(NULL, 0, fn, &pair[i], 0, NULL);
        if (threads[i] == NULL) goto done;
    }
    SetEvent(turn_a);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    result = pair[0].failures + pair[1].failures;
done:
    for (int i = 0; i < 2; i++) {
        if (threads[i] != NULL) {
            if (result < 0) WaitForSingleObject(threads[i], INFINITE);
            CloseHandle(threads[i]);
        }
    }
    if (turn_a != NULL) CloseHandle(turn_a);
    if (turn_b != NULL) CloseHandle(turn_b);
    return result;
}

static void check_threads(const struct api *api) {
    int failures = run_pair(api, take_turns);
    check(failures == 0, "two threads taking turns keep their answers apart (%d failures)", failures);
    failures = run_pair(api, race);
    check(failures == 0, "two threads calling at once keep their answers apart (%d failures)", failures);
}

/* ---- 4: release at thread end ------------------------------------------------- */

#define BIG_TEXT 100000
#define BIG_THREADS 200

struct big_call {
    const struct api *api;
    const char *text;
    int ok;
};

/* One rx_replace_preview whose answer needs a 131072-byte buffer. */
static DWORD WINAPI big_answer(LPVOID arg) {
    struct big_call *call = (struct big_call *)arg;
    const char *answer = call->api->replace("z", call->text, "q");
    /* {"result":" (11 bytes), the text, then ","count":0} (12 bytes). */
    call->ok = answer != NULL && strlen(answer) == 11 + BIG_TEXT + 12 &&
               strncmp(answer, "{\"result\":\"aaaa", 15) == 0 &&
               strcmp(answer + 11 + BIG_TEXT, "\",\"count\":0}") == 0;
    return 0;
}

static void check_release_at_thread_end(const struct api *api) {
    char *text = (char *)malloc(BIG_TEXT + 1);
    if (text == NULL) {
        check(0, "memory for the large text");
        return;
    }
    memset(text, 'a', BIG_TEXT);
    text[BIG_TEXT] = '\0';
    struct big_call call = {api, text, 0};
    /* One thread first, so that whatever the DLL sets up once is there
     * before the measurement starts. */
    HANDLE thread = CreateThread(NULL, 0, big_answer, &call, 0, NULL);
    if (thread != NULL) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    size_t before = heap_in_use();
    int wrong = 0;
    int started = 0;
    for (int i = 0; i < BIG_THREADS; i++) {
        call.ok = 0;
        thread = CreateThread(NULL, 0, big_answer, &call, 0, NULL);
        if (thread == NULL) break;
        started++;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (!call.ok) wrong++;
    }
    size_t after = heap_in_use();
    free(text);
    check(started == BIG_THREADS && wrong == 0, "%d threads each got a %d-byte answer (%d started, %d wrong)",
          BIG_THREADS, 11 + BIG_TEXT + 12, started, wrong);
    /* Kept, they would hold BIG_THREADS * 131072 bytes (25 MiB). */
    size_t growth = after > before ? after - before : 0;
    check(growth < 2u * 1024u * 1024u,
          "answer buffers are released when their threads end (heap grew by %zu bytes)", growth);
}

/* ---- 5: unloading ------------------------------------------------------------- */

struct lingering {
    const struct api *api;
    HANDLE ready;
    HANDLE go;
    int ok;
};

/* Uses the DLL, then waits until the host has unloaded it, and ends. */
static DWORD WINAPI linger(LPVOID arg) {
    struct lingering *self = (struct lingering *)arg;
    const char *answer = self->api->validate("(a)(b)");
    self->ok = answer != NULL && strcmp(answer, "{\"ok\":true}") == 0;
    SetEvent(self->ready);
    WaitForSingleObject(self->go, INFINITE);
    return 0;
}

/* One load-use-unload cycle with a thread that outlives the DLL; 0 when
 * every step went as it should. */
static int unload_cycle(int verbose) {
    struct api api;
    if (load_api(&api) != 0) return -1;
    int bad = 0;
    const char *answer = api.validate("x+");
    if (answer == NULL || strcmp(answer, "{\"ok\":true}") != 0) bad++;
    struct lingering lingering = {&api, CreateEventA(NULL, TRUE, FALSE, NULL),
                                  CreateEventA(NULL, TRUE, FALSE, NULL), 0};
    HANDLE thread = NULL;
    if (lingering.ready != NULL && lingering.go != NULL)
        thread = CreateThread(NULL, 0, linger, &lingering, 0, NULL);
    if (thread == NULL) {
        bad++;
    } else {
        WaitForSingleObject(lingering.ready, INFINITE);
        if (!lingering.ok) bad++;
    }
    /* A finished thread that used the DLL, before the unload. */
    if (run_pair(&api, take_turns) != 0) bad++;
    if (!FreeLibrary(api.module)) bad++;
    int still_loaded = GetModuleHandleA("kelvaron-regex.dll") != NULL;
    if (still_loaded) bad++;
    if (thread != NULL) {
        SetEvent(lingering.go);
        DWORD code = 1;
        WaitForSingleObject(thread, INFINITE);
        if (!GetExitCodeThread(thread, &code) || code != 0) bad++;
        CloseHandle(thread);
    }
    if (lingering.ready != NULL) CloseHandle(lingering.ready);
    if (lingering.go != NULL) CloseHandle(lingering.go);
    if (verbose) {
        check(bad == 0, "unload after threads used the DLL, one still running (%s)",
              still_loaded ? "still loaded" : "unloaded");
    }
    return bad == 0 ? 0 : -1;
}

static void check_unload_and_reload(void) {
    if (unload_cycle(1) != 0) return;
    int failed_cycles = 0;
    for (int i = 0; i < 30; i++) {
        if (unload_cycle(0) != 0) failed_cycles++;
    }
    check(failed_cycles == 0, "30 more load, use, unload cycles (%d failed)", failed_cycles);

    struct api api;
    if (load_api(&api) != 0) return;
    check_answer("after reloading, rx_last_error() is empty", api.last_error(), "");
    check_answer("after reloading, rx_replace_preview answers", api.replace("b+", "abba", "-"),
                 "{\"result\":\"a-a\",\"count\":1}");
    check(FreeLibrary(api.module) != 0, "final FreeLibrary");
}

int main(int argc, char **argv) {
    if (argc > 1) g_dll_path = argv[1];
    struct api api;
    if (load_api(&api) != 0) return 1;
    check(1, "loaded %s and found the five exports", g_dll_path);
    check_first_calls(&api);
    check_hidden_names(&api);
    check_threads(&api);
    check_release_at_thread_end(&api);
    if (!FreeLibrary(api.module)) check(0, "FreeLibrary");
    check_unload_and_reload();
    printf("dll_host: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
