/*
 * fixture_msiexec.exe: a stand-in for msiexec.exe that plays, before it
 * reads its package, another process of the user trying to change what it
 * is given, then records what it got.
 *
 *   msiexec.exe /i PACKAGE [ARGS...]
 *
 * Put in place of C:\windows\system32\msiexec.exe, with
 * WINEDLLOVERRIDES=msiexec.exe=n so that Wine runs it. Environment:
 *   STANDIN_HOSTILE  "replace": tries to write into PACKAGE, to delete it and
 *                    make a new one, and to rename it and make a new one;
 *                    "move": tries to rename PACKAGE's folder; empty: nothing
 *   STANDIN_EXIT     its exit code (default 0)
 * Writes C:\standin\log.txt, one line per attempt ("replace write refused
 * 32", "move folder done", ...) and per file it read, and a copy of every
 * file of PACKAGE's folder, read as msiexec reads a package (read access,
 * shared for reading only), into C:\standin\.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static FILE *g_log;

static void note(const char *what, BOOL done)
{
    if (done)
        fprintf(g_log, "%s done\n", what);
    else
        fprintf(g_log, "%s refused %lu\n", what, (unsigned long)GetLastError());
    fflush(g_log);
}

static BOOL write_new(const WCHAR *path)
{
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD n = 0;
    WriteFile(h, "EVIL", 4, &n, NULL);
    CloseHandle(h);
    return TRUE;
}

static void replace(const WCHAR *package)
{
    HANDLE h = CreateFileW(package, GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD n = 0;
        WriteFile(h, "EVIL", 4, &n, NULL);
        SetEndOfFile(h);
        CloseHandle(h);
    }
    note("replace write", h != INVALID_HANDLE_VALUE);

    BOOL deleted = DeleteFileW(package);
    note("replace delete", deleted);
    if (deleted)
        write_new(package);

    WCHAR aside[MAX_PATH + 8];
    _snwprintf(aside, MAX_PATH + 8, L"%ls.old", package);
    aside[MAX_PATH + 7] = 0;
    BOOL moved = MoveFileExW(package, aside, 0);
    note("replace rename", moved);
    if (moved)
        write_new(package);
}

static void copy_out(const WCHAR *folder, const WCHAR *name)
{
    WCHAR from[MAX_PATH * 2], to[MAX_PATH * 2];
    _snwprintf(from, MAX_PATH * 2, L"%ls\\%ls", folder, name);
    _snwprintf(to, MAX_PATH * 2, L"C:\\standin\\%ls", name);
    HANDLE in = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    char utf8[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, NULL, NULL);
    char what[MAX_PATH * 3 + 8];
    snprintf(what, sizeof what, "read %s", utf8);
    if (in == INVALID_HANDLE_VALUE) {
        note(what, FALSE);
        return;
    }
    HANDLE out = CreateFileW(to, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    static char buffer[65536];
    DWORD n = 0;
    while (out != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &n, NULL) && n) {
        DWORD w = 0;
        WriteFile(out, buffer, n, &w, NULL);
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    CloseHandle(in);
    note(what, TRUE);
}

int main(void)
{
    CreateDirectoryW(L"C:\\standin", NULL);
    g_log = _wfopen(L"C:\\standin\\log.txt", L"ab");
    if (!g_log)
        return 1620;
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const WCHAR *package = NULL;
    for (int i = 1; argv && i + 1 < argc; i++)
        if (_wcsicmp(argv[i], L"/i") == 0)
            package = argv[i + 1];
    if (!package) {
        fprintf(g_log, "no package\n");
        return 1639;
    }
    WCHAR folder[MAX_PATH * 2];
    _snwprintf(folder, MAX_PATH * 2, L"%ls", package);
    folder[MAX_PATH * 2 - 1] = 0;
    WCHAR *slash = wcsrchr(folder, L'\\');
    if (slash)
        *slash = 0;

    const char *hostile = getenv("STANDIN_HOSTILE");
    if (hostile && strcmp(hostile, "replace") == 0)
        replace(package);
    if (hostile && strcmp(hostile, "move") == 0) {
        WCHAR aside[MAX_PATH * 2 + 8];
        _snwprintf(aside, MAX_PATH * 2 + 8, L"%ls.moved", folder);
        note("move folder", MoveFileExW(folder, aside, 0));
    }

    WCHAR pattern[MAX_PATH * 2 + 4];
    _snwprintf(pattern, MAX_PATH * 2 + 4, L"%ls\\*", folder);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                copy_out(folder, found.cFileName);
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    fclose(g_log);
    const char *code = getenv("STANDIN_EXIT");
    return code ? atoi(code) : 0;
}
