/*
 * probe.exe: runs a Windows program under test, reports its windows and its
 * full 32-bit exit code, and answers its message boxes and folder browser.
 *
 *   probe.exe [options] -- PROGRAM [ARGS...]
 *
 * Output (UTF-8, one line each, flushed as written):
 *   WINDOW class=<class> title=<title>     every new visible top-level window
 *   BOX caption=<caption>                  a message box: its caption,
 *   BOX text=<text>                        its text (line breaks as \n),
 *   BOX buttons=<Name,Name...>             its buttons in dialog order,
 *   BOX pressed=<Name>                     and the button the probe pressed
 *   BROWSER title=<text>                   a folder browser and its title text
 *   BROWSER selected=<path>|cancelled      what the probe did with it
 *   READY <class>                          a --pause-on window is on screen
 *   EXIT <code>                            the program ended with this code
 *   TIMEOUT                                the program was killed (--timeout)
 *   ERROR <reason>                         the probe could not do its job
 *
 * Options:
 *   --answer NAME        button pressed in every message box (OK, CANCEL,
 *                        RETRY, YES, NO, ABORT, IGNORE, TRYAGAIN, CONTINUE);
 *                        default: the box's default button
 *   --answers A,B,...    buttons for the first, second, ... box; boxes after
 *                        the list get --answer or the default button
 *   --browse PATH        select PATH in a folder browser and press OK; given
 *                        again, the second browser gets the second PATH, and
 *                        so on; browsers after the list get the last one
 *   --browse-cancel      press Cancel in a folder browser (in those after the
 *                        --browse paths, when there are any)
 *   --timeout SECONDS    kill the program after this long (default 120)
 *   --pause-on CLASS=MS  wait MS milliseconds after each new window of CLASS
 *                        is on screen, after printing READY <class>; the
 *                        program is held still meanwhile (its threads are
 *                        suspended), so that the window stays as it is
 *                        however fast the program would otherwise go on
 *   --raw                put ARGS into the command line as they are, joined
 *                        by single spaces, instead of quoting each one
 *
 * Without --raw each argument is quoted the way CommandLineToArgvW splits
 * (quotes around blanks, backslashes doubled before a quote), so programs
 * using the C runtime's splitting get ARGS back unchanged.
 *
 * Windows of every process started by PROGRAM are watched too (through a job
 * object) when the system allows it. Probe exit codes: 0 the program ended,
 * 1 usage or start failure, 2 timeout, 3 a box lacked the wanted button or
 * the browser would not select the --browse folder (the program is killed).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#define POLL_MS 50
#define SETTLE_MS 100
#define MAX_ANSWERS 32
#define MAX_PAUSES 8
#define MAX_BROWSE 8
#define MAX_SEEN 1024
#define MAX_PIDS 64
#define TEXT_CHARS 4096
#define CMDLINE_CHARS 32768

#ifndef BFFM_SETSELECTIONA
#define BFFM_SETSELECTIONA (WM_USER + 102)
#endif

typedef struct {
    char name[256];
    DWORD ms;
} Pause;

typedef struct {
    int answers[MAX_ANSWERS]; /* button ids, in box order */
    int answerCount;
    int answerAll; /* 0: the box's default button */
    const WCHAR *browsePath;
    const WCHAR *browsePaths[MAX_BROWSE];
    int browseCount;
    int browsersSeen;
    int browseCancel;
    DWORD timeoutMs;
    Pause pauses[MAX_PAUSES];
    int pauseCount;
    int raw;
} Options;

typedef struct {
    int id;
    const char *name;
} ButtonName;

static const ButtonName kButtons[] = {
    {IDOK, "OK"},         {IDCANCEL, "Cancel"},     {IDABORT, "Abort"},
    {IDRETRY, "Retry"},   {IDIGNORE, "Ignore"},     {IDYES, "Yes"},
    {IDNO, "No"},         {IDHELP, "Help"},         {10, "TryAgain"},
    {11, "Continue"},
};

static Options g_opt;
static HANDLE g_job;
static DWORD g_childPid;
static HWND g_seen[MAX_SEEN];
static int g_seenCount;
static int g_boxesAnswered;

/* Writes one formatted line (UTF-8) plus a line feed to stdout, unbuffered,
 * so a reader of a file or pipe sees it at once. Long lines are cut. */
static void out(const char *fmt, ...)
{
    char line[3 * TEXT_CHARS + 64];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof(line) - 1, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if ((size_t)n > sizeof(line) - 2)
        n = (int)sizeof(line) - 2;
    line[n++] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)n, &written, NULL);
}

/* Converts `text` to UTF-8 in `dst` (always terminated, cut to fit), writing
 * CR LF, CR and LF as the two characters \n so every report stays one line. */
static void to_utf8(const WCHAR *text, char *dst, int size)
{
    WCHAR flat[TEXT_CHARS];
    int j = 0;
    for (int i = 0; text[i] != 0 && j < TEXT_CHARS - 2; i++) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            if (text[i] == L'\r' && text[i + 1] == L'\n')
                i++;
            flat[j++] = L'\\';
            flat[j++] = L'n';
        } else {
            flat[j++] = text[i];
        }
    }
    flat[j] = 0;
    if (WideCharToMultiByte(CP_UTF8, 0, flat, -1, dst, size, NULL, NULL) == 0) {
        /* Too long for dst: convert fewer characters until it fits. */
        dst[0] = 0;
        for (int len = j; len > 0; len /= 2) {
            int n = WideCharToMultiByte(CP_UTF8, 0, flat, len, dst, size - 1, NULL, NULL);
            if (n > 0) {
                dst[n] = 0;
                break;
            }
        }
    }
}

/* Reads a window's text, also from windows of other processes, into `dst`
 * (TEXT_CHARS characters). A program under test that is busy (a loaded
 * machine may not schedule it for seconds) cannot answer WM_GETTEXT; the text
 * the system keeps for the window is read instead, and an empty answer is
 * asked again for a while, since every window the tests look at has a text.
 * Empty when the window never answers. */
static void window_text(HWND hwnd, WCHAR *dst)
{
    for (int attempt = 0; attempt < 5; attempt++) {
        DWORD_PTR result = 0;
        dst[0] = 0;
        if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, TEXT_CHARS, (LPARAM)dst, SMTO_ABORTIFHUNG, 2000,
                                 &result) || !dst[0])
            InternalGetWindowText(hwnd, dst, TEXT_CHARS);
        dst[TEXT_CHARS - 1] = 0;
        if (dst[0] || !IsWindow(hwnd))
            return;
        Sleep(300);
    }
}

/* Returns the button id for an answer name (any case), 0 when unknown. */
static int button_id(const char *name)
{
    for (size_t i = 0; i < sizeof(kButtons) / sizeof(kButtons[0]); i++)
        if (_stricmp(name, kButtons[i].name) == 0)
            return kButtons[i].id;
    return 0;
}

/* Returns the display name of a button id, NULL for ids no box uses. */
static const char *button_name(int id)
{
    for (size_t i = 0; i < sizeof(kButtons) / sizeof(kButtons[0]); i++)
        if (kButtons[i].id == id)
            return kButtons[i].name;
    return NULL;
}

/* True when `pid` is the child or (when a job is in use) one of its
 * descendants. */
static int watched_pid(DWORD pid)
{
    if (pid == g_childPid)
        return 1;
    if (!g_job)
        return 0;
    /* The list's id array is declared with one element; reading past it
     * through that declaration lets the optimiser assume a single id, so
     * the ids are read from a plain array laid over the same bytes. */
    ULONG_PTR buffer[MAX_PIDS + 2];
    memset(buffer, 0, sizeof(buffer));
    JOBOBJECT_BASIC_PROCESS_ID_LIST *list = (JOBOBJECT_BASIC_PROCESS_ID_LIST *)buffer;
    if (!QueryInformationJobObject(g_job, JobObjectBasicProcessIdList, list, sizeof(buffer), NULL))
        return 0;
    const ULONG_PTR *ids = buffer + offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList) /
                                        sizeof(ULONG_PTR);
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList && i < MAX_PIDS; i++)
        if (ids[i] == pid)
            return 1;
    return 0;
}

typedef struct {
    HWND found[MAX_SEEN];
    int count;
} WindowList;

static BOOL CALLBACK collect_top(HWND hwnd, LPARAM param)
{
    WindowList *list = (WindowList *)param;
    DWORD pid = 0;
    if (!IsWindowVisible(hwnd))
        return TRUE;
    GetWindowThreadProcessId(hwnd, &pid);
    if (!watched_pid(pid))
        return TRUE;
    for (int i = 0; i < g_seenCount; i++)
        if (g_seen[i] == hwnd)
            return TRUE;
    if (list->count < MAX_SEEN)
        list->found[list->count++] = hwnd;
    return TRUE;
}

/* What a dialog holds, as far as telling boxes and browsers apart needs. */
typedef struct {
    HWND text;       /* the message text static, if any */
    HWND firstText;  /* first non-empty static that is not an icon */
    HWND tree;       /* a SysTreeView32, if any */
    HWND buttons[16];
    int buttonIds[16];
    int buttonCount;
} DialogParts;

static BOOL CALLBACK collect_child(HWND hwnd, LPARAM param)
{
    DialogParts *parts = (DialogParts *)param;
    WCHAR cls[64];
    if (!GetClassNameW(hwnd, cls, 64))
        return TRUE;
    int id = GetDlgCtrlID(hwnd);
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    if (_wcsicmp(cls, L"SysTreeView32") == 0) {
        parts->tree = hwnd;
    } else if (_wcsicmp(cls, L"Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON)
            return TRUE;
        if ((id & 0xFFFF) == 0xFFFF)
            parts->text = hwnd;
        if (!parts->firstText && GetWindowTextLengthW(hwnd) > 0)
            parts->firstText = hwnd;
    } else if (_wcsicmp(cls, L"Button") == 0) {
        LONG type = style & BS_TYPEMASK;
        if ((type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) && (style & WS_VISIBLE) &&
            button_name(id) && parts->buttonCount < 16) {
            parts->buttons[parts->buttonCount] = hwnd;
            parts->buttonIds[parts->buttonCount++] = id;
        }
    }
    return TRUE;
}

/* Presses button `id` of dialog `dlg` the way a click would reach it. */
static void press(HWND dlg, int id)
{
    HWND button = GetDlgItem(dlg, id);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
}

/* Returns the id of the button that Enter would press: the one drawn as the
 * default push button, else the dialog's default id when the box has such a
 * button, else the first button. */
static int default_button(HWND dlg, const DialogParts *parts)
{
    for (int i = 0; i < parts->buttonCount; i++)
        if ((GetWindowLongW(parts->buttons[i], GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return parts->buttonIds[i];
    DWORD_PTR def = 0;
    if (SendMessageTimeoutW(dlg, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &def) &&
        HIWORD(def) == DC_HASDEFID)
        for (int i = 0; i < parts->buttonCount; i++)
            if (parts->buttonIds[i] == (int)LOWORD(def))
                return parts->buttonIds[i];
    return parts->buttonIds[0];
}

/* Reports a message box and presses the wanted button. Returns 0, or 3 when
 * the box has no such button (the caller then stops the program). */
static int handle_box(HWND dlg, DialogParts *parts)
{
    WCHAR wide[TEXT_CHARS];
    char text[3 * TEXT_CHARS];

    window_text(dlg, wide);
    to_utf8(wide, text, sizeof(text));
    out("BOX caption=%s", text);
    window_text(parts->text ? parts->text : parts->firstText, wide);
    to_utf8(wide, text, sizeof(text));
    out("BOX text=%s", text);

    char names[256];
    int used = 0;
    names[0] = 0;
    for (int i = 0; i < parts->buttonCount; i++) {
        int n = snprintf(names + used, sizeof(names) - (size_t)used, "%s%s", i ? "," : "",
                         button_name(parts->buttonIds[i]));
        if (n < 0 || (size_t)n >= sizeof(names) - (size_t)used)
            break;
        used += n;
    }
    out("BOX buttons=%s", names);

    int want = 0;
    if (g_boxesAnswered < g_opt.answerCount)
        want = g_opt.answers[g_boxesAnswered];
    else if (g_opt.answerAll)
        want = g_opt.answerAll;
    g_boxesAnswered++;
    if (want == 0)
        want = default_button(dlg, parts);
    for (int i = 0; i < parts->buttonCount; i++) {
        if (parts->buttonIds[i] == want) {
            out("BOX pressed=%s", button_name(want));
            press(dlg, want);
            return 0;
        }
    }
    out("ERROR the box has no %s button", button_name(want) ? button_name(want) : "such");
    return 3;
}

/* Reads the text of the tree's selected item into `dst` (MAX_PATH
 * characters) through `remote`, a block in the tree's process large enough
 * for a TVITEMW and the text. Returns 0 when there is no selection or the
 * process memory cannot be used. */
static int selected_item_text(HANDLE process, HWND tree, char *remote, WCHAR *dst)
{
    DWORD_PTR item = 0;
    dst[0] = 0;
    if (!SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 2000, &item) ||
        !item)
        return 0;
    TVITEMW tv;
    memset(&tv, 0, sizeof(tv));
    tv.mask = TVIF_TEXT;
    tv.hItem = (HTREEITEM)item;
    tv.pszText = (WCHAR *)(remote + sizeof(TVITEMW));
    tv.cchTextMax = MAX_PATH;
    DWORD_PTR ok = 0;
    if (!WriteProcessMemory(process, remote, &tv, sizeof(tv), NULL) ||
        !SendMessageTimeoutW(tree, TVM_GETITEMW, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, 2000, &ok) ||
        !ok || !ReadProcessMemory(process, remote + sizeof(TVITEMW), dst, MAX_PATH * sizeof(WCHAR), NULL))
        return 0;
    dst[MAX_PATH - 1] = 0;
    return 1;
}

/* Returns the last component of a folder path (trailing backslashes
 * ignored) in `dst` (MAX_PATH characters); empty for a drive root. */
static void last_component(const WCHAR *path, WCHAR *dst)
{
    size_t end = wcslen(path);
    while (end > 0 && path[end - 1] == L'\\')
        end--;
    size_t begin = end;
    while (begin > 0 && path[begin - 1] != L'\\')
        begin--;
    size_t n = end - begin;
    if (n >= MAX_PATH || (n > 0 && path[end - 1] == L':'))
        n = 0;
    memcpy(dst, path + begin, n * sizeof(WCHAR));
    dst[n] = 0;
}

/* Lists every folder along `path` once. The shell's item ids hold a
 * folder's last access time, and the browser finds the folder to select by
 * comparing ids made at different moments; on Linux (relatime) the first
 * listing after a folder changed moves its access time, so a folder listed
 * between those moments is not found. Listing the folders before the
 * program starts settles their access times. */
static void settle_access_times(const WCHAR *path)
{
    WCHAR pattern[MAX_PATH + 2];
    size_t len = wcslen(path);
    for (size_t end = 3; end <= len; end++) {
        if (end < len && path[end] != L'\\')
            continue;
        if (end + 3 > MAX_PATH)
            break;
        memcpy(pattern, path, end * sizeof(WCHAR));
        pattern[end] = 0;
        if (pattern[end - 1] != L'\\')
            wcscat(pattern, L"\\");
        wcscat(pattern, L"*");
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW(pattern, &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        while (FindNextFileW(find, &found)) {
        }
        FindClose(find);
    }
}

/* Selects the --browse path in a folder browser and presses OK, or presses
 * Cancel for --browse-cancel (and when no path was given). The path string
 * is placed in the browser's process, since a pointer means nothing across
 * processes. The request is repeated a few times until the selected item
 * carries the folder's name (see settle_access_times). Returns 0, or 3 when the folder could not
 * be selected (the caller then stops the program). */
static int handle_browser(HWND dlg, DialogParts *parts)
{
    WCHAR wide[TEXT_CHARS];
    char text[3 * TEXT_CHARS];

    wide[0] = 0;
    if (parts->firstText)
        window_text(parts->firstText, wide);
    to_utf8(wide, text, sizeof(text));
    out("BROWSER title=%s", text);

    g_opt.browsePath = NULL;
    if (g_opt.browsersSeen < g_opt.browseCount)
        g_opt.browsePath = g_opt.browsePaths[g_opt.browsersSeen];
    else if (!g_opt.browseCancel && g_opt.browseCount > 0)
        g_opt.browsePath = g_opt.browsePaths[g_opt.browseCount - 1];
    g_opt.browsersSeen++;
    if (!g_opt.browsePath) {
        out("BROWSER cancelled");
        press(dlg, IDCANCEL);
        return 0;
    }

    char path[MAX_PATH * 2];
    int len = WideCharToMultiByte(CP_ACP, 0, g_opt.browsePath, -1, path, sizeof(path), NULL, NULL);
    SIZE_T block = (SIZE_T)len + sizeof(TVITEMW) + MAX_PATH * sizeof(WCHAR);
    DWORD pid = 0;
    GetWindowThreadProcessId(dlg, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char *remote = NULL;
    if (len > 0 && process)
        remote = VirtualAllocEx(process, NULL, block, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    char *remotePath = remote ? remote + sizeof(TVITEMW) + MAX_PATH * sizeof(WCHAR) : NULL;
    if (!remote || !WriteProcessMemory(process, remotePath, path, (SIZE_T)len, NULL)) {
        out("ERROR cannot place the browse path in the browser's process (error %lu)",
            (unsigned long)GetLastError());
        if (remote)
            VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        if (process)
            CloseHandle(process);
        return 3;
    }

    WCHAR want[MAX_PATH], got[MAX_PATH];
    last_component(g_opt.browsePath, want);
    int selected = 0;
    for (int attempt = 0; attempt < 5 && !selected; attempt++) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(dlg, BFFM_SETSELECTIONA, TRUE, (LPARAM)remotePath, SMTO_ABORTIFHUNG,
                            5000, &result);
        selected = want[0] == 0 ||
                   (selected_item_text(process, parts->tree, remote, got) && _wcsicmp(got, want) == 0);
        if (!selected)
            Sleep(100);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    to_utf8(g_opt.browsePath, text, sizeof(text));
    if (!selected) {
        out("ERROR the browser does not select %s", text);
        return 3;
    }
    out("BROWSER selected=%s", text);
    press(dlg, IDOK);
    return 0;
}

/* Suspends (hold) or resumes every thread of process pid. */
static void hold_process(DWORD pid, BOOL hold)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid)
            continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        if (hold)
            SuspendThread(thread);
        else
            ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

/* Handles one newly visible top-level window. Returns the probe's exit code
 * when the run must stop, 0 otherwise. */
static int handle_window(HWND hwnd)
{
    WCHAR cls[256], title[TEXT_CHARS];
    char clsText[768], titleText[3 * TEXT_CHARS];

    if (!GetClassNameW(hwnd, cls, 256))
        return 0; /* gone already */
    window_text(hwnd, title);
    to_utf8(cls, clsText, sizeof(clsText));
    to_utf8(title, titleText, sizeof(titleText));
    out("WINDOW class=%s title=%s", clsText, titleText);

    for (int i = 0; i < g_opt.pauseCount; i++) {
        if (strcmp(g_opt.pauses[i].name, clsText) == 0) {
            UpdateWindow(hwnd);
            Sleep(200); /* let the display catch up with the paint */
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            hold_process(owner, TRUE);
            out("READY %s", clsText);
            Sleep(g_opt.pauses[i].ms);
            hold_process(owner, FALSE);
        }
    }

    if (wcscmp(cls, L"#32770") != 0)
        return 0;
    Sleep(SETTLE_MS); /* a dialog may still be finishing its initialisation */
    DialogParts parts;
    memset(&parts, 0, sizeof(parts));
    EnumChildWindows(hwnd, collect_child, (LPARAM)&parts);
    if (parts.tree)
        return handle_browser(hwnd, &parts);
    if ((parts.text || parts.firstText) && parts.buttonCount > 0)
        return handle_box(hwnd, &parts);
    return 0;
}

/* Reports every top-level window that became visible since the last scan.
 * Returns the probe's exit code when the run must stop, 0 otherwise. */
static int scan_windows(void)
{
    /* Forget windows that are gone, since their handles may come back. */
    int kept = 0;
    for (int i = 0; i < g_seenCount; i++)
        if (IsWindow(g_seen[i]))
            g_seen[kept++] = g_seen[i];
    g_seenCount = kept;

    WindowList list;
    list.count = 0;
    EnumWindows(collect_top, (LPARAM)&list);
    for (int i = 0; i < list.count; i++) {
        if (g_seenCount < MAX_SEEN)
            g_seen[g_seenCount++] = list.found[i];
        int rc = handle_window(list.found[i]);
        if (rc)
            return rc;
    }
    return 0;
}

/* Appends `arg` to the command line in `cmd` (CMDLINE_CHARS) so that the
 * usual argument splitting gives it back unchanged: quoted when it is empty
 * or holds blanks or quotes, with backslashes doubled before a quote.
 * Returns 0 when the command line would be too long. */
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

/* Parses the probe's options; returns the index of the program argument,
 * or 0 after printing the reason when the options are wrong. */
static int parse_options(int argc, WCHAR **argv)
{
    g_opt.timeoutMs = 120000;
    for (int i = 1; i < argc; i++) {
        char value[512];
        const WCHAR *opt = argv[i];
        if (wcscmp(opt, L"--") == 0)
            return i + 1 < argc ? i + 1 : 0;
        if (wcscmp(opt, L"--browse-cancel") == 0) {
            g_opt.browseCancel = 1;
            continue;
        }
        if (wcscmp(opt, L"--raw") == 0) {
            g_opt.raw = 1;
            continue;
        }
        char name[64];
        to_utf8(opt, name, sizeof(name));
        if (i + 1 >= argc) {
            out("ERROR unknown option or missing value: %s", name);
            return 0;
        }
        const WCHAR *arg = argv[++i];
        to_utf8(arg, value, sizeof(value));
        if (wcscmp(opt, L"--answer") == 0) {
            g_opt.answerAll = button_id(value);
            if (!g_opt.answerAll) {
                out("ERROR unknown button %s", value);
                return 0;
            }
        } else if (wcscmp(opt, L"--answers") == 0) {
            char *save = NULL;
            for (char *name = strtok_s(value, ",", &save); name; name = strtok_s(NULL, ",", &save)) {
                int id = button_id(name);
                if (!id || g_opt.answerCount >= MAX_ANSWERS) {
                    out("ERROR unknown button %s or too many answers", name);
                    return 0;
                }
                g_opt.answers[g_opt.answerCount++] = id;
            }
        } else if (wcscmp(opt, L"--browse") == 0) {
            if (g_opt.browseCount >= MAX_BROWSE) {
                out("ERROR too many --browse paths");
                return 0;
            }
            g_opt.browsePaths[g_opt.browseCount++] = arg;
        } else if (wcscmp(opt, L"--timeout") == 0) {
            g_opt.timeoutMs = (DWORD)wcstoul(arg, NULL, 10) * 1000u;
        } else if (wcscmp(opt, L"--pause-on") == 0) {
            char *eq = strrchr(value, '=');
            if (!eq || g_opt.pauseCount >= MAX_PAUSES) {
                out("ERROR --pause-on wants CLASS=MS");
                return 0;
            }
            *eq = 0;
            Pause *p = &g_opt.pauses[g_opt.pauseCount++];
            snprintf(p->name, sizeof(p->name), "%s", value);
            p->ms = (DWORD)strtoul(eq + 1, NULL, 10);
        } else {
            out("ERROR unknown option %s", name);
            return 0;
        }
    }
    return 0;
}

int wmain(int argc, WCHAR **argv)
{
    int first = parse_options(argc, argv);
    if (first == 0) {
        out("ERROR usage: probe.exe [options] -- PROGRAM [ARGS...]");
        return 1;
    }

    static WCHAR cmd[CMDLINE_CHARS];
    size_t len = 0;
    cmd[0] = 0;
    for (int i = first; i < argc; i++) {
        int fits;
        if (g_opt.raw && i > first) {
            size_t n = wcslen(argv[i]);
            fits = len + n + 2 < CMDLINE_CHARS;
            if (fits) {
                cmd[len++] = L' ';
                memcpy(cmd + len, argv[i], (n + 1) * sizeof(WCHAR));
                len += n;
            }
        } else {
            fits = append_arg(cmd, &len, argv[i]);
        }
        if (!fits) {
            out("ERROR command line too long");
            return 1;
        }
    }

    for (int i = 0; i < g_opt.browseCount; i++)
        settle_access_times(g_opt.browsePaths[i]);

    /* The job lets the probe see windows of the program's own children and
     * take the whole tree down on a timeout or when the probe itself ends. */
    g_job = CreateJobObjectW(NULL, NULL);
    if (g_job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        memset(&limits, 0, sizeof(limits));
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits,
                                sizeof(limits));
    }

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi)) {
        char text[3 * TEXT_CHARS];
        DWORD err = GetLastError();
        to_utf8(cmd, text, sizeof(text));
        out("ERROR cannot start %s (error %lu)", text, (unsigned long)err);
        return 1;
    }
    g_childPid = pi.dwProcessId;
    if (g_job && !AssignProcessToJobObject(g_job, pi.hProcess)) {
        CloseHandle(g_job);
        g_job = NULL;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);

    ULONGLONG start = GetTickCount64();
    int rc = 0;
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, POLL_MS) == WAIT_OBJECT_0)
            break;
        rc = scan_windows();
        if (rc == 0 && GetTickCount64() - start >= g_opt.timeoutMs) {
            out("TIMEOUT");
            rc = 2;
        }
        if (rc) {
            if (g_job)
                TerminateJobObject(g_job, 1);
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
            return rc;
        }
    }

    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    out("EXIT %lu", (unsigned long)code);
    CloseHandle(pi.hProcess);
    return 0;
}
