#include "extraction/progress_dialog.h"

#include <cstring>

#include "extraction/chunk_writer.h"
#include "extraction/taskbar_progress.h"
#include "base/error_text.h"
#include "resources/resource.h"

namespace {

const int kProgressBarId = 100;
const UINT_PTR kTimerId = 1;
// Posted to the window to go on writing at once (see GoOn).
const UINT kGoOnMessage = WM_APP + 1;
// The writer runs for about this long per timer message: long enough that
// the pauses between messages cost little, short enough that the window
// repaints, moves and shows progress many times a second.
const DWORD kSliceMilliseconds = 25;
// Before the window first shows, the writer may run this long, so that a
// payload found bad at once never flashes a window.
const DWORD kFirstSliceMilliseconds = 100;
// A window that would flash for a few milliseconds stays up this long, so
// that the user sees what happened. Only the window waits; the files are
// written by then.
const DWORD kShownAtLeastMilliseconds = 250;
const DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME |
                           DS_SETFONT;
const WORD kFontPoints = 10;

static_assert(sizeof(DLGTEMPLATE) == 18, "DLGTEMPLATE is packed to 18 bytes");

// Converts text from the ANSI code page into out (TEMPLATE_TEXT_ROOM units)
// and terminates it. A text that does not fit is cut after the last whole
// character that does (never inside a multibyte character or a surrogate
// pair). Returns the units written before the terminator.
int ToTemplateText(const char* text, WCHAR* out) {
  const int room = TEMPLATE_TEXT_ROOM;
  if (!text) text = "";
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, out, room);
  if (units > 0) return units - 1;

  const char* end = text;
  for (const char* p = text; *p;) {
    const char* next = CharNextA(p);
    int needed = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(next - text), nullptr, 0);
    if (needed <= 0 || needed > room - 1) break;
    end = next;
    p = next;
  }
  units = 0;
  if (end > text) {
    units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(end - text), out, room - 1);
    if (units < 0) units = 0;
  }
  out[units] = 0;
  return units;
}

uint8_t* PutWord(uint8_t* p, WORD value) {
  memcpy(p, &value, sizeof value);
  return p + sizeof value;
}

uint8_t* PutText(uint8_t* p, const WCHAR* text, int units) {
  memcpy(p, text, (static_cast<size_t>(units) + 1) * sizeof(WCHAR));
  return p + (static_cast<size_t>(units) + 1) * sizeof(WCHAR);
}

// Asks Retry or Cancel about text in a question box owned by the window and
// captioned with its title; true for Retry.
bool AskRetry(HWND window, const char* text) {
  char caption[256];
  caption[0] = 0;
  if (GetWindowTextA(window, caption, sizeof caption) <= 0) caption[0] = 0;
  return MessageBoxA(window, text, caption, MB_ICONQUESTION | MB_RETRYCANCEL) == IDRETRY;
}

// Starts the timer that drives the writer, by default with no delay (the
// system raises it to its minimum). While it cannot be started the user is
// asked to retry; Cancel ends the dialog with 2.
void StartTimer(HWND window, ProgressWindow* progress, UINT delay = 0) {
  for (;;) {
    progress->timerId = SetTimer(window, kTimerId, delay, nullptr);
    if (progress->timerId) return;
    char text[1024];
    FormatErrorText(GetLastError(), text, sizeof text, nullptr);
    if (!AskRetry(window, text)) {
      EndDialog(window, PROGRESS_CANCELLED);
      return;
    }
  }
}

// Every file is written and verified: the dialog ends with 1 once the
// window has been up for kShownAtLeastMilliseconds (a timer waits out the
// rest; if none can be had it ends at once).
void Finish(HWND window, ProgressWindow* progress, bool visible) {
  progress->written = true;
  const DWORD shown = visible ? GetTickCount() - progress->shownAt : 0;
  if (shown < kShownAtLeastMilliseconds &&
      (progress->timerId =
           SetTimer(window, kTimerId, kShownAtLeastMilliseconds - shown, nullptr)) != 0)
    return;
  EndDialog(window, PROGRESS_WRITTEN);
}

// Goes on writing after a stretch: at once, by a message posted to the window,
// when nothing waits in the queue; otherwise by the timer, which the system
// delivers only after the input and painting that wait, so that the window
// answers the user between stretches.
void GoOn(HWND window, ProgressWindow* progress) {
  if (HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)) == 0 &&
      PostMessageA(window, kGoOnMessage, 0, 0))
    return;
  StartTimer(window, progress);
}

// Runs the writer for about budget milliseconds (at least one step), shows
// where it got, and acts on where it stopped: more to do goes on (before the
// window shows always by the timer, since the system shows a dialog once its
// queue is empty), a block that failed ends the dialog with 4, a failed write
// asks Retry or Cancel (once the window is visible: before, the timer's step
// tries the write again first).
void Advance(HWND window, ProgressWindow* progress, DWORD budget, bool visible) {
  ExtractJob* job = progress->job;
  int32_t percent = 0;
  const DWORD start = GetTickCount();
  uint32_t result;
  do {
    result = WriteNextChunk(job, &progress->writer, &percent);
  } while (result == ERROR_MORE_DATA && GetTickCount() - start < budget);
  HWND bar = GetDlgItem(window, kProgressBarId);
  SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  UpdateWindow(bar);  // painted now, not left waiting in the queue
  TaskbarProgress_SetCompleted(progress->taskbar, static_cast<uint64_t>(percent));

  if (result == 0) {
    Finish(window, progress, visible);
    return;
  }
  if (result == ERROR_FILE_CORRUPT) {
    EndDialog(window, PROGRESS_BAD_BLOCK);
    return;
  }
  if (result == ERROR_MORE_DATA && visible) {
    GoOn(window, progress);
    return;
  }
  if (result == ERROR_MORE_DATA || !visible) {
    StartTimer(window, progress);
    return;
  }
  const char* path = job->current >= 0 && job->current < job->count
                         ? job->items[job->current].path
                         : nullptr;
  char text[1024];
  FormatErrorText(result, text, sizeof text, path);
  if (AskRetry(window, text))
    StartTimer(window, progress);  // the writer goes on with the rest of the same slice
  else
    EndDialog(window, PROGRESS_CANCELLED);
}

void OnInitDialog(HWND window, ProgressWindow* progress) {
  // A successful store may return 0 (the previous value) and leaves the last
  // error alone; only a cleared last error tells the two apart.
  SetLastError(0);
  if (SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(progress)) == 0 &&
      GetLastError() != 0) {
    EndDialog(window, PROGRESS_NO_JOB);
    return;
  }

  HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  RECT bounds = {5, 14, 170, 12};  // left, top, width, height in dialog units
  MapDialogRect(window, &bounds);
  HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, bounds.left,
                             bounds.top, bounds.right, bounds.bottom, window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)),
                             progress->instance, nullptr);
  SendMessageA(bar, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);

  HANDLE bigIcon = LoadImageA(progress->instance, MAKEINTRESOURCEA(IDI_LAUNCHER), IMAGE_ICON,
                              32, 32, LR_DEFAULTCOLOR);
  HANDLE smallIcon = LoadImageA(progress->instance, MAKEINTRESOURCEA(IDI_LAUNCHER), IMAGE_ICON,
                                16, 16, LR_DEFAULTCOLOR);
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

  SendMessageA(bar, PBM_SETRANGE, 0, static_cast<LPARAM>(100) << 16);  // 0 to 100
  SendMessageA(bar, PBM_SETPOS, 0, 0);

  TaskbarProgress_SetWindow(progress->taskbar, window);
  TaskbarProgress_SetState(progress->taskbar, true);
  TaskbarProgress_SetTotal(progress->taskbar, 100);
  TaskbarProgress_SetCompleted(progress->taskbar, 0);

  Advance(window, progress, kFirstSliceMilliseconds, false);
  progress->shownAt = GetTickCount();
}

// One stretch of writing per timer or go-on message; the timer is stopped
// while it runs, so that no stretch overlaps another (the question boxes run
// a message loop), and only one of the two is ever pending.
void OnStep(HWND window, ProgressWindow* progress, bool byTimer) {
  if (byTimer) KillTimer(window, progress->timerId);
  if (progress->written)
    EndDialog(window, PROGRESS_WRITTEN);
  else
    Advance(window, progress, kSliceMilliseconds, true);
}

}  // namespace

void* BuildProgressTemplate(const char* className, const char* title, const char* fontName,
                            uint32_t* size) {
  WCHAR classText[TEMPLATE_TEXT_ROOM], titleText[TEMPLATE_TEXT_ROOM], fontText[TEMPLATE_TEXT_ROOM];
  int classUnits = ToTemplateText(className, classText);
  int titleUnits = ToTemplateText(title, titleText);
  int fontUnits = ToTemplateText(fontName, fontText);

  // Header, menu, three terminators and the point size: 28 bytes.
  uint32_t bytes = sizeof(DLGTEMPLATE) + 5 * sizeof(WORD) +
                   static_cast<uint32_t>(classUnits + titleUnits + fontUnits) * sizeof(WCHAR);
  bytes = (bytes + 3) & ~3u;
  auto* base = static_cast<uint8_t*>(GlobalAlloc(GPTR, bytes));
  if (!base) return nullptr;

  DLGTEMPLATE header;
  memset(&header, 0, sizeof header);
  header.style = kDialogStyle;
  header.cx = 180;
  header.cy = 40;
  memcpy(base, &header, sizeof header);
  uint8_t* p = base + sizeof header;
  p = PutWord(p, 0);  // no menu
  p = PutText(p, classText, classUnits);
  p = PutText(p, titleText, titleUnits);
  p = PutWord(p, kFontPoints);
  PutText(p, fontText, fontUnits);
  *size = bytes;
  return base;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      break;
    }
    case WM_INITDIALOG:
      if (lParam) OnInitDialog(window, reinterpret_cast<ProgressWindow*>(lParam));
      break;
    case WM_TIMER:
    case kGoOnMessage: {
      auto* progress =
          reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (progress) OnStep(window, progress, message == WM_TIMER);
      break;
    }
    default:
      break;
  }
  return 0;
}

int RunProgressDialog(ExtractJob* job, HINSTANCE instance, TaskbarProgress* taskbar,
                      const char* className, const char* title, const char* fontName) {
  WNDCLASSA windowClass;
  memset(&windowClass, 0, sizeof windowClass);
  windowClass.style = CS_DBLCLKS | CS_NOCLOSE | CS_SAVEBITS;
  windowClass.lpfnWndProc = DefDlgProcA;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);

  uint32_t size = 0;
  void* dialogTemplate = BuildProgressTemplate(className, title, fontName, &size);
  if (!dialogTemplate) return PROGRESS_NO_WINDOW;
  ProgressWindow progress = {};
  progress.job = job;
  progress.instance = instance;
  progress.taskbar = taskbar;
  INT_PTR result =
      DialogBoxIndirectParamA(instance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), nullptr,
                              ProgressDialogProc, reinterpret_cast<LPARAM>(&progress));
  // However the window ended, the block being written is given up here.
  CloseChunkWriter(&progress.writer);
  GlobalFree(dialogTemplate);
  return static_cast<int>(result);
}
