/*
 * fixture_msgbox.exe: a GUI program for proving the probe.
 *
 *   fixture_msgbox.exe CODE                    shows nothing, exits with CODE
 *   fixture_msgbox.exe --wait MS CODE          shows nothing, sleeps MS ms,
 *                                              then exits with CODE
 *   fixture_msgbox.exe CODE CAPTION TEXT       shows an error box with an OK
 *                                              button, then exits with CODE
 *   fixture_msgbox.exe --retry CAPTION TEXT    shows a Retry/Cancel box again
 *                                              while Retry is pressed (at most
 *                                              9 times); the exit code lists
 *                                              the answers as decimal digits
 *                                              (4 Retry, 2 Cancel: 442 for
 *                                              Retry, Retry, Cancel)
 *
 * CODE is decimal and may exceed 255, so a whole 32-bit exit code can be
 * told from its low byte.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdlib.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show)
{
    (void)instance;
    (void)previous;
    (void)cmdLine;
    (void)show;
    int argc = __argc;
    char **argv = __argv;
    if (argc == 4 && strcmp(argv[1], "--retry") == 0) {
        UINT code = 0;
        for (int i = 0; i < 9; i++) {
            int answer = MessageBoxA(NULL, argv[3], argv[2], MB_ICONQUESTION | MB_RETRYCANCEL);
            code = code * 10 + (UINT)answer;
            if (answer != IDRETRY)
                break;
        }
        return (int)code;
    }
    if (argc == 4 && strcmp(argv[1], "--wait") == 0) {
        Sleep((DWORD)strtoul(argv[2], NULL, 10));
        return (int)strtoul(argv[3], NULL, 10);
    }
    if (argc != 2 && argc != 4)
        return 87;
    UINT code = (UINT)strtoul(argv[1], NULL, 10);
    if (argc == 4)
        MessageBoxA(NULL, argv[3], argv[2], MB_ICONERROR | MB_OK);
    return (int)code;
}
