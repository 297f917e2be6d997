/*
 * meter.exe: starts one program, waits for it, and reports how long it ran
 * and how much memory it held, measured from inside Wine the way Windows
 * itself would report them.
 *
 *   meter.exe [--watch DIR] [--expect BYTES] [--mark FILE] [--timeout SECONDS]
 *             [--interval MS] -- PROGRAM [ARGS...]
 *
 * Output (one "NAME value" line each, after the program ended):
 *   EXIT <code>           the program's full 32-bit exit code
 *   TIMEOUT               the program was killed after --timeout (no EXIT)
 *   WALL_MS <ms>          from just before CreateProcess to the end of the
 *                         process, by QueryPerformanceCounter
 *   PEAK_WS <bytes>       the largest PeakWorkingSetSize read while it ran
 *                         (and once more after it ended, when the handle still
 *                         answers)
 *   FIRST_BYTE_MS <ms>    first poll at which a file in DIR was not empty
 *   WRITTEN_MS <ms>       first poll at which the files in DIR held BYTES in all
 *                         (without --expect: the last poll at which their
 *                         total size changed)
 *   WATCH_BYTES <bytes>   the total size of the files in DIR at the last poll
 *   HANDOFF_MS <ms>       the time stamp FILE holds (written by the msiexec
 *                         stand-in when it starts), on the same clock
 *   ERROR <reason>        the meter could not do its job (exit status 1)
 * Times that were not seen print as "-".
 *
 * QueryPerformanceCounter is one clock for every process of a Wine session
 * (and of a Windows machine), so a time stamp another process writes can be
 * set against this one's start. Polling DIR every --interval milliseconds
 * (default 10) gives the phases that resolution; the first poll happens right
 * after the program starts.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define CMDLINE_CHARS 32768

static LARGE_INTEGER g_freq;
static LONGLONG g_start;

static double ms_since_start(LONGLONG ticks)
{
    return (double)(ticks - g_start) * 1000.0 / (double)g_freq.QuadPart;
}

static LONGLONG now_ticks(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

/* Appends `arg` to `cmd` (CMDLINE_CHARS) quoted so that CommandLineToArgvW
 * and the C runtime give it back unchanged. Returns 0 when it does not fit. */
static int append_arg(WCHAR *cmd, size_t *len, const WCHAR *arg)
{
    WCHAR piece[CMDLINE_CHARS];
    size_t n = 0;
    int quote = arg[0] == 0 || wcspbrk(arg, L" \t\n\v\"") != NULL;
    if (*len > 0)
        piece[n++] = L' ';
    if (quote)
        piece[n++] = L'"';
    for (size_t i = 0;; i++) {
        size_t slashes = 0;
        while (arg[i] == L'\\') {
            slashes++;
            i++;
        }
        size_t copies = slashes;
        if (arg[i] == 0 && quote)
            copies = slashes * 2;
        else if (arg[i] == L'"')
            copies = slashes * 2 + 1;
        if (n + copies + 4 >= CMDLINE_CHARS)
            return 0;
        for (size_t k = 0; k < copies; k++)
            piece[n++] = L'\\';
        if (arg[i] == 0)
            break;
        piece[n++] = arg[i];
    }
    if (quote)
        piece[n++] = L'"';
    if (*len + n + 1 >= CMDLINE_CHARS)
        return 0;
    memcpy(cmd + *len, piece, n * sizeof(WCHAR));
    *len += n;
    cmd[*len] = 0;
    return 1;
}

/* The total size of the regular files directly in `dir`; 0 when it does not
 * exist (yet). */
static ULONGLONG folder_bytes(const WCHAR *dir)
{
    WCHAR pattern[MAX_PATH + 4];
    if (_snwprintf(pattern, MAX_PATH + 4, L"%ls\\*", dir) < 0)
        return 0;
    pattern[MAX_PATH + 3] = 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    ULONGLONG total = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            total += ((ULONGLONG)found.nFileSizeHigh << 32) | found.nFileSizeLow;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return total;
}

/* Reads the first line of `path`, a decimal QueryPerformanceCounter value.
 * Returns 0 when the file is missing or holds none. */
static LONGLONG read_mark(const WCHAR *path)
{
    FILE *f = _wfopen(path, L"rb");
    if (!f)
        return 0;
    long long value = 0;
    if (fscanf(f, "%lld", &value) != 1)
        value = 0;
    fclose(f);
    return value;
}

static void print_ms(const char *name, LONGLONG ticks)
{
    if (ticks)
        printf("%s %.1f\n", name, ms_since_start(ticks));
    else
        printf("%s -\n", name);
}

static SIZE_T peak_working_set(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS pmc;
    memset(&pmc, 0, sizeof pmc);
    pmc.cb = sizeof pmc;
    if (!K32GetProcessMemoryInfo(process, &pmc, sizeof pmc))
        return 0;
    return pmc.PeakWorkingSetSize;
}

int wmain(int argc, WCHAR **argv)
{
    const WCHAR *watch = NULL, *mark = NULL;
    ULONGLONG expect = 0;
    DWORD timeoutMs = 600000, intervalMs = 10;
    int first = 0;
    for (int i = 1; i < argc; i++) {
        if (wcscmp(argv[i], L"--") == 0) {
            first = i + 1;
            break;
        }
        if (i + 1 >= argc) {
            printf("ERROR option %ls needs a value\n", argv[i]);
            return 1;
        }
        if (wcscmp(argv[i], L"--watch") == 0)
            watch = argv[++i];
        else if (wcscmp(argv[i], L"--mark") == 0)
            mark = argv[++i];
        else if (wcscmp(argv[i], L"--expect") == 0)
            expect = _wcstoui64(argv[++i], NULL, 10);
        else if (wcscmp(argv[i], L"--timeout") == 0)
            timeoutMs = (DWORD)wcstoul(argv[++i], NULL, 10) * 1000;
        else if (wcscmp(argv[i], L"--interval") == 0)
            intervalMs = (DWORD)wcstoul(argv[++i], NULL, 10);
        else {
            printf("ERROR unknown option %ls\n", argv[i]);
            return 1;
        }
    }
    if (first == 0 || first >= argc) {
        printf("ERROR usage: meter.exe [options] -- PROGRAM [ARGS...]\n");
        return 1;
    }
    static WCHAR cmd[CMDLINE_CHARS];
    size_t len = 0;
    for (int i = first; i < argc; i++) {
        if (!append_arg(cmd, &len, argv[i])) {
            printf("ERROR command line too long\n");
            return 1;
        }
    }
    if (mark)
        DeleteFileW(mark);

    QueryPerformanceFrequency(&g_freq);
    STARTUPINFOW si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    g_start = now_ticks();
    if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        printf("ERROR cannot start %ls: error %lu\n", argv[first], GetLastError());
        return 1;
    }
    CloseHandle(pi.hThread);

    SIZE_T peak = 0;
    ULONGLONG lastBytes = 0;
    LONGLONG firstByte = 0, written = 0, end = 0;
    int timedOut = 0;
    for (;;) {
        SIZE_T p = peak_working_set(pi.hProcess);
        if (p > peak)
            peak = p;
        if (watch) {
            ULONGLONG bytes = folder_bytes(watch);
            LONGLONG t = now_ticks();
            if (bytes > 0 && !firstByte)
                firstByte = t;
            if (expect ? (bytes >= expect && !written) : bytes != lastBytes)
                written = t;
            lastBytes = bytes;
        }
        DWORD waited = WaitForSingleObject(pi.hProcess, intervalMs);
        if (waited == WAIT_OBJECT_0) {
            end = now_ticks();
            break;
        }
        if (waited != WAIT_TIMEOUT) {
            printf("ERROR waiting for the program: error %lu\n", GetLastError());
            TerminateProcess(pi.hProcess, 1);
            return 1;
        }
        if (ms_since_start(now_ticks()) > timeoutMs) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 10000);
            end = now_ticks();
            timedOut = 1;
            break;
        }
    }
    SIZE_T last = peak_working_set(pi.hProcess);
    if (last > peak)
        peak = last;
    DWORD code = 0;
    if (timedOut)
        printf("TIMEOUT\n");
    else if (GetExitCodeProcess(pi.hProcess, &code))
        printf("EXIT %lu\n", code);
    CloseHandle(pi.hProcess);
    printf("WALL_MS %.1f\n", ms_since_start(end));
    printf("PEAK_WS %llu\n", (unsigned long long)peak);
    if (watch) {
        /* A last look: files finished between the last poll and the end. */
        ULONGLONG bytes = folder_bytes(watch);
        if (expect && bytes >= expect && !written)
            written = end;
        print_ms("FIRST_BYTE_MS", firstByte);
        print_ms("WRITTEN_MS", written);
        printf("WATCH_BYTES %llu\n", bytes);
    }
    if (mark)
        print_ms("HANDOFF_MS", read_mark(mark));
    fflush(stdout);
    return timedOut ? 2 : 0;
}
