/*
 * fixture_browse.exe: a GUI program for proving the probe's folder-browser
 * handling. It shows the shell folder browser the way an installer would:
 * no owner, no root, flags 0, a title, and a callback that selects START
 * once the browser is ready.
 *
 *   fixture_browse.exe TITLE START OUTFILE
 *
 * On OK it writes the chosen folder's path (no line feed) to OUTFILE and
 * exits with 0; on Cancel it exits with 1223; when OUTFILE cannot be written
 * or the choice has no path it exits with 1.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>
#include <string.h>

static int CALLBACK on_browser_event(HWND window, UINT message, LPARAM param, LPARAM data)
{
    (void)param;
    if (message == BFFM_INITIALIZED)
        SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show)
{
    (void)instance;
    (void)previous;
    (void)cmdLine;
    (void)show;
    if (__argc != 4)
        return 87;
    BROWSEINFOA info;
    memset(&info, 0, sizeof(info));
    info.lpszTitle = __argv[1];
    info.lpfn = on_browser_event;
    info.lParam = (LPARAM)__argv[2];
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (!item)
        return 1223;
    char path[MAX_PATH];
    BOOL ok = SHGetPathFromIDListA(item, path);
    CoTaskMemFree(item);
    if (!ok)
        return 1;
    HANDLE file = CreateFileA(__argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    ok = WriteFile(file, path, (DWORD)strlen(path), &written, NULL);
    CloseHandle(file);
    return ok ? 0 : 1;
}
