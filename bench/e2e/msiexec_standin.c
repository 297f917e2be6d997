/*
 * A stand-in for the system's msiexec.exe in a benchmark's Wine prefix: it
 * installs nothing and exits 0 at once, so that what is measured is the
 * program that hands over to msiexec, not the Windows Installer.
 *
 * On start it writes two lines to C:\bench\handoff.txt: its
 * QueryPerformanceCounter value (the clock meter.exe measures with, the same
 * for every process of the session) and its own command line, so the
 * benchmark can time the hand-off and check that every program under test
 * passed msiexec the same arguments.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR cmdLine, int show)
{
    (void)instance;
    (void)previous;
    (void)cmdLine;
    (void)show;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    FILE *f = _wfopen(L"C:\\bench\\handoff.txt", L"wb");
    if (f) {
        fprintf(f, "%lld\n%ls\n", (long long)now.QuadPart, GetCommandLineW());
        fclose(f);
    }
    return 0;
}
