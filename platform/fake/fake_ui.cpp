// Fake platform: windows, the modal dialog pump, timers, icons and the
// progress bar.
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {

const HCURSOR kArrowCursor = reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x7F00));

static void* NextHandle() {
  uintptr_t value = W().ui.nextHandle;
  W().ui.nextHandle += 4;
  return reinterpret_cast<void*>(value);
}

HWND NewWindow(const std::string& className, HWND parent) {
  HWND window = static_cast<HWND>(NextHandle());
  Window& record = W().ui.windows[window];
  record.className = className;
  record.parent = parent;
  return window;
}

Window* LookUpWindow(HWND window, bool allowDead) {
  auto it = W().ui.windows.find(window);
  if (it == W().ui.windows.end() || (!it->second.alive && !allowDead)) return nullptr;
  return &it->second;
}

void DestroyFakeWindow(HWND window) {
  Window* record = LookUpWindow(window);
  if (!record) return;
  record->alive = false;
  for (auto it = W().ui.timers.begin(); it != W().ui.timers.end();)
    it = it->first.first == window ? W().ui.timers.erase(it) : std::next(it);
  std::vector<HWND> children;
  for (auto& entry : W().ui.windows)
    if (entry.second.alive && entry.second.parent == window) children.push_back(entry.first);
  for (HWND child : children) DestroyFakeWindow(child);
}

}  // namespace fake

using fake::NoteCall;
using fake::W;

namespace {

const char kProgressClass[] = "msctls_progress32";

fake::Window* Live(HWND window) {
  fake::Window* record = fake::LookUpWindow(window);
  if (!record) W().lastError = ERROR_INVALID_WINDOW_HANDLE;
  return record;
}

bool SameName(const std::string& a, const std::string& b) { return fake::Key(a) == fake::Key(b); }

const fake::RegisteredClass* FindClass(const std::string& name) {
  for (const fake::RegisteredClass& c : W().ui.classes)
    if (SameName(c.name, name)) return &c;
  return nullptr;
}

// Reads a dialog template as Windows does; the reads stop at the terminators,
// so a template without them runs off its memory (which AddressSanitizer
// reports).
struct TemplateReader {
  const uint8_t* p;

  WORD Word() {
    WORD value;
    memcpy(&value, p, sizeof value);
    p += sizeof value;
    return value;
  }
  std::string Text() {
    std::u16string units;
    for (WORD unit = Word(); unit; unit = Word()) units.push_back(static_cast<char16_t>(unit));
    return fake::Utf8(units);
  }
  // A menu or class field: none, an ordinal, or a name.
  std::string NameOrOrdinal() {
    WORD first;
    memcpy(&first, p, sizeof first);
    if (first == 0) {
      p += 2;
      return "";
    }
    if (first == 0xFFFF) {
      p += 2;
      return "#" + std::to_string(Word());
    }
    return Text();
  }
};

void ParseTemplate(const DLGTEMPLATE* dialogTemplate, fake::DialogRun& run) {
  DLGTEMPLATE header;
  memcpy(&header, dialogTemplate, sizeof header);
  run.style = header.style;
  run.extendedStyle = header.dwExtendedStyle;
  run.controls = header.cdit;
  run.x = header.x;
  run.y = header.y;
  run.cx = header.cx;
  run.cy = header.cy;
  TemplateReader reader{reinterpret_cast<const uint8_t*>(dialogTemplate) + sizeof header};
  reader.NameOrOrdinal();  // menu
  run.className = reader.NameOrOrdinal();
  run.title = reader.Text();
  if (run.style & DS_SETFONT) {
    run.pointSize = reader.Word();
    run.fontName = reader.Text();
  }
  run.parsed = true;
}

bool DialogEnded(HWND dialog) {
  fake::Window* record = fake::LookUpWindow(dialog, true);
  return !record || record->dialogEnded;
}

// The first timer set on the window, if any.
bool NextTimer(HWND window, UINT_PTR* id) {
  for (auto& entry : W().ui.timers) {
    if (entry.first.first == window) {
      *id = entry.first.second;
      return true;
    }
  }
  return false;
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  NoteCall();
  if (!windowClass || !windowClass->lpszClassName) {
    W().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (FindClass(windowClass->lpszClassName)) {
    W().lastError = fake::kErrorClassAlreadyExists;
    return 0;
  }
  fake::RegisteredClass c;
  c.name = windowClass->lpszClassName;
  c.style = windowClass->style;
  c.windowProc = windowClass->lpfnWndProc;
  c.classExtra = windowClass->cbClsExtra;
  c.windowExtra = windowClass->cbWndExtra;
  c.instance = windowClass->hInstance;
  c.icon = windowClass->hIcon;
  c.cursor = windowClass->hCursor;
  c.background = windowClass->hbrBackground;
  c.hasMenu = windowClass->lpszMenuName != nullptr;
  W().ui.classes.push_back(c);
  return static_cast<ATOM>(0xC000 + W().ui.classes.size());
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  NoteCall();
  if (instance || name != IDC_ARROW) {
    W().lastError = fake::kErrorResourceNameNotFound;
    return nullptr;
  }
  return fake::kArrowCursor;
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  NoteCall();
  fake::ImageLoad load;
  load.instance = instance;
  load.name = reinterpret_cast<UINT_PTR>(name);
  load.type = type;
  load.cx = cx;
  load.cy = cy;
  load.flags = flags;
  // Only resource ids are known; a pointer to a name is never one of them.
  if (type == IMAGE_ICON && load.name <= 0xFFFF && W().ui.icons.count(load.name))
    load.result = fake::NextHandle();
  else
    W().lastError = fake::kErrorResourceNameNotFound;
  W().ui.imageLoads.push_back(load);
  return load.result;
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam) {
  NoteCall();
  fake::DialogRun run;
  run.owner = owner;
  run.param = initParam;
  if (!dialogTemplate || !dialogProc || reinterpret_cast<uintptr_t>(dialogTemplate) % 4 != 0) {
    W().lastError = ERROR_INVALID_PARAMETER;
    W().ui.dialogs.push_back(run);
    return -1;
  }
  ParseTemplate(dialogTemplate, run);
  if ((owner && !Live(owner)) || W().ui.failDialog) {
    if (W().ui.failDialog) W().lastError = ERROR_NOT_ENOUGH_MEMORY;
    W().ui.dialogs.push_back(run);
    return -1;
  }
  if (!run.className.empty() && run.className[0] != '#' && !FindClass(run.className)) {
    W().lastError = fake::kErrorCannotFindWindowClass;
    W().ui.dialogs.push_back(run);
    return -1;
  }

  HWND dialog = fake::NewWindow(run.className.empty() ? "#32770" : run.className, owner);
  fake::Window& record = W().ui.windows[dialog];
  record.text = run.title;
  record.style = run.style;
  record.instance = instance;
  record.font = static_cast<HFONT>(fake::NextHandle());
  run.window = dialog;
  size_t index = W().ui.dialogs.size();
  W().ui.dialogs.push_back(run);

  uint32_t delivered = 0;
  auto deliver = [&](UINT message, WPARAM wParam, LPARAM lParam) {
    W().ui.dialogs[index].delivered.push_back(message);
    delivered++;
    dialogProc(dialog, message, wParam, lParam);
  };
  deliver(WM_INITDIALOG, 0, initParam);
  if (!DialogEnded(dialog)) deliver(WM_PAINT, 0, 0);
  bool stalled = false;
  while (!DialogEnded(dialog)) {
    UINT_PTR id = 0;
    auto posted = W().ui.posted.begin();
    while (posted != W().ui.posted.end() && posted->window != dialog) ++posted;
    const bool hasPosted = posted != W().ui.posted.end();
    if (delivered >= W().ui.pumpLimit || (!hasPosted && !NextTimer(dialog, &id))) {
      stalled = true;
      break;
    }
    if (W().ui.beforeMessage) W().ui.beforeMessage(dialog);
    if (hasPosted) {
      fake::SentMessage message = *posted;
      W().ui.posted.erase(posted);
      deliver(message.message, message.wParam, message.lParam);
    } else {
      deliver(WM_TIMER, id, 0);
    }
  }

  fake::Window* ended = fake::LookUpWindow(dialog, true);
  INT_PTR result = stalled ? 0 : ended->dialogResult;
  fake::DestroyFakeWindow(dialog);
  W().ui.dialogs[index].stalled = stalled;
  W().ui.dialogs[index].result = result;
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  NoteCall();
  fake::Window* record = Live(dialog);
  if (!record) return FALSE;
  record->dialogEnded = true;
  record->dialogResult = result;
  return TRUE;
}

LRESULT DefDlgProcA(HWND, UINT, WPARAM, LPARAM) {
  NoteCall();
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  NoteCall();
  fake::Window* record = Live(window);
  if (!record) return 0;
  if (index != GWLP_USERDATA) {
    W().lastError = 1413;  // ERROR_INVALID_INDEX
    return 0;
  }
  if (W().ui.failUserData) {
    W().lastError = ERROR_ACCESS_DENIED;
    return 0;
  }
  // As on Windows, success returns the previous value and leaves the last
  // error as it was.
  LONG_PTR previous = record->userData;
  record->userData = value;
  return previous;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  NoteCall();
  fake::Window* record = Live(window);
  if (!record) return 0;
  if (index != GWLP_USERDATA) {
    W().lastError = 1413;  // ERROR_INVALID_INDEX
    return 0;
  }
  return record->userData;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  NoteCall();
  W().ui.sent.push_back({window, message, wParam, lParam});
  fake::Window* record = Live(window);
  if (!record) return 0;
  bool bar = record->className == kProgressClass;
  switch (message) {
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(record->font);
    case WM_SETFONT:
      record->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case WM_SETICON: {
      LPARAM& slot = wParam == ICON_BIG ? record->bigIcon : record->smallIcon;
      LPARAM previous = slot;
      slot = lParam;
      return previous;
    }
    case PBM_SETRANGE:
      if (bar) {
        LPARAM previous = record->range;
        record->range = lParam;
        return previous;
      }
      return 0;
    case PBM_SETPOS:
      if (bar) {
        int previous = record->position;
        record->position = static_cast<int>(wParam);
        W().ui.barPositions.push_back(record->position);
        return previous;
      }
      return 0;
    case BFFM_SETSELECTIONA:
      if (wParam && lParam) record->selection = reinterpret_cast<const char*>(lParam);
      return 0;
    default:
      return 0;
  }
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID) {
  NoteCall();
  if (W().ui.failCreateWindow) {
    W().lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  if (parent && !Live(parent)) return nullptr;
  if ((style & WS_CHILD) && !parent) {
    W().lastError = 1406;  // ERROR_TLW_WITH_WSCHILD
    return nullptr;
  }
  std::string name = className ? className : "";
  // The progress bar class exists once the common controls are initialised.
  bool known = FindClass(name) || (SameName(name, kProgressClass) &&
                                   W().ui.commonControlsInitialized);
  if (!known) {
    W().lastError = fake::kErrorCannotFindWindowClass;
    return nullptr;
  }
  HWND window = fake::NewWindow(SameName(name, kProgressClass) ? kProgressClass : name, parent);
  fake::Window& record = W().ui.windows[window];
  record.text = windowName ? windowName : "";
  record.style = style;
  record.x = x;
  record.y = y;
  record.width = width;
  record.height = height;
  record.instance = instance;
  if (style & WS_CHILD) record.id = static_cast<int>(reinterpret_cast<intptr_t>(menu));
  return window;
}

namespace fake {

// number * numerator / denominator as the system's MulDiv gives it: computed
// in 64 bits and rounded to the nearest integer, halves away from zero; -1
// when denominator is 0 or the result does not fit in an int.
static int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  const int64_t half = divisor / 2;
  const int64_t result = (product >= 0 ? product + half : product - half) / divisor;
  if (result > INT32_MAX || result < INT32_MIN) return -1;
  return static_cast<int>(result);
}

}  // namespace fake

// Windows maps dialog units with MulDiv, so a coordinate rounds to the
// nearest pixel instead of down.
BOOL MapDialogRect(HWND dialog, LPRECT rect) {
  NoteCall();
  if (!Live(dialog)) return FALSE;
  const int x = W().ui.baseUnitX, y = W().ui.baseUnitY;
  rect->left = fake::MulDiv(rect->left, x, 4);
  rect->right = fake::MulDiv(rect->right, x, 4);
  rect->top = fake::MulDiv(rect->top, y, 8);
  rect->bottom = fake::MulDiv(rect->bottom, y, 8);
  return TRUE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  NoteCall();
  if (!fake::LookUpWindow(window)) {
    W().lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  if (W().ui.failPostMessage) {
    W().lastError = ERROR_NOT_ENOUGH_QUOTA;
    return FALSE;
  }
  W().ui.posted.push_back({window, message, wParam, lParam});
  return TRUE;
}

DWORD GetQueueStatus(UINT flags) {
  NoteCall();
  const UINT waiting = W().ui.waiting & flags;
  return static_cast<DWORD>(waiting) << 16 | waiting;
}

BOOL UpdateWindow(HWND window) {
  NoteCall();
  if (!fake::LookUpWindow(window)) return FALSE;
  W().ui.windowUpdates++;
  return TRUE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
  NoteCall();
  fake::TimerCall call{window, id, elapse, timerProc != nullptr, 0};
  if (window && !Live(window)) {
    // last error set by Live
  } else if (W().ui.failSetTimer > 0) {
    W().ui.failSetTimer--;
    W().lastError = W().ui.setTimerError;
  } else {
    W().ui.timers[{window, id}] = elapse;
    call.result = id;
  }
  W().ui.timerCalls.push_back(call);
  return call.result;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  NoteCall();
  W().ui.killTimerCalls++;
  if (!W().ui.timers.erase({window, id})) {
    W().lastError = 1402;  // ERROR_INVALID_TIMER_ID... as near as the fake gets
    return FALSE;
  }
  return TRUE;
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  NoteCall();
  if (!Live(window)) return nullptr;
  memset(paint, 0, sizeof *paint);
  paint->hdc = static_cast<HDC>(fake::NextHandle());
  W().ui.paintsBegun++;
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT*) {
  NoteCall();
  if (!Live(window)) return FALSE;
  W().ui.paintsEnded++;
  return TRUE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
  NoteCall();
  if (size > 0) buffer[0] = 0;
  fake::Window* record = Live(window);
  if (!record || size <= 0) return 0;
  size_t n = record->text.size();
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  memcpy(buffer, record->text.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

HWND GetDlgItem(HWND dialog, int id) {
  NoteCall();
  if (!Live(dialog)) return nullptr;
  for (auto& entry : W().ui.windows)
    if (entry.second.alive && entry.second.parent == dialog && entry.second.id == id &&
        (entry.second.style & WS_CHILD))
      return entry.first;
  W().lastError = 1421;  // ERROR_CONTROL_ID_NOT_FOUND
  return nullptr;
}
