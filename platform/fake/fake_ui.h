// Fake platform: the progress window, its dialog pump, timers, icons, the progress bar
// and the message boxes shown.
//
// Windows are handles to records that stay after the window is destroyed, so
// that a test can read what a window was given (text, font, icons, progress
// range and position) after the dialog has ended; calls on a destroyed window
// fail with ERROR_INVALID_WINDOW_HANDLE.
//
// DialogBoxIndirectParamA parses the template it is given, creates the dialog
// window (title from the template, a font of its own) and runs the real
// dialog procedure: WM_INITDIALOG with the parameter, one WM_PAINT, then the
// messages posted to it (first, as Windows takes posted messages before
// timers) or WM_TIMER for as long as the dialog has a timer set, until
// EndDialog. A dialog that waits without either would wait forever on
// Windows; the pump marks it stalled and returns 0 instead, as it does after
// pumpLimit messages.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

constexpr DWORD kErrorCannotFindWindowClass = 1407;
constexpr DWORD kErrorClassAlreadyExists = 1410;
constexpr DWORD kErrorResourceNameNotFound = 1814;

struct Window {
  std::string className;
  std::string text;
  DWORD style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HWND parent = nullptr;
  int id = 0;  // control id of a child
  HINSTANCE instance = nullptr;
  bool alive = true;
  LONG_PTR userData = 0;
  HFONT font = nullptr;
  LPARAM bigIcon = 0, smallIcon = 0;
  LPARAM range = 0x640000;  // PBM_SETRANGE lParam: low word minimum, high word maximum
  int position = 0;         // PBM_SETPOS
  std::string selection;    // BFFM_SETSELECTIONA with a path
  bool dialogEnded = false;  // EndDialog was called
  INT_PTR dialogResult = 0;
};

struct RegisteredClass {
  std::string name;
  UINT style = 0;
  WNDPROC windowProc = nullptr;
  int classExtra = 0;
  int windowExtra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  bool hasMenu = false;
};

struct SentMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

struct TimerCall {
  HWND window = nullptr;
  UINT_PTR id = 0;
  UINT elapse = 0;
  bool hasProc = false;
  UINT_PTR result = 0;
};

struct ImageLoad {
  HINSTANCE instance = nullptr;
  UINT_PTR name = 0;  // resource id (names other than ids are not loaded)
  UINT type = 0;
  int cx = 0, cy = 0;
  UINT flags = 0;
  HANDLE result = nullptr;
};

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
};

// One modal dialog run: what its template said and how it went.
struct DialogRun {
  bool parsed = false;  // the template was well formed
  DWORD style = 0;
  DWORD extendedStyle = 0;
  WORD controls = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string className;
  std::string title;
  WORD pointSize = 0;
  std::string fontName;
  HWND owner = nullptr;
  LPARAM param = 0;
  HWND window = nullptr;
  std::vector<UINT> delivered;  // messages passed to the dialog procedure
  bool stalled = false;
  INT_PTR result = 0;
};

// State of the simulated ui services; part of fake::World and reset with it.
struct UiState {
  std::map<HWND, Window> windows;
  uintptr_t nextHandle = 0x1000;
  std::vector<RegisteredClass> classes;
  std::vector<SentMessage> sent;     // every SendMessageA, in order
  std::vector<int> barPositions;     // every PBM_SETPOS, in order
  std::vector<TimerCall> timerCalls; // every SetTimer, in order
  std::map<std::pair<HWND, UINT_PTR>, UINT> timers;  // timers set now
  std::deque<SentMessage> posted;    // PostMessageA's messages not yet delivered
  uint32_t windowUpdates = 0;        // UpdateWindow calls
  uint32_t killTimerCalls = 0;
  uint32_t paintsBegun = 0, paintsEnded = 0;
  std::vector<ImageLoad> imageLoads;
  std::vector<DialogRun> dialogs;
  bool commonControlsInitialized = false;
  // Message boxes: what was shown, and the answers to give in order (when
  // none is left, the first button: IDOK or IDRETRY).
  std::vector<MessageBoxCall> messageBoxes;
  std::deque<int> messageBoxAnswers;

  // Script and faults.
  std::set<UINT_PTR> icons = {1};  // icon resources LoadImageA finds
  uint32_t failSetTimer = 0;       // the next that many SetTimer calls fail
  DWORD setTimerError = ERROR_NO_SYSTEM_RESOURCES;
  bool failUserData = false;       // SetWindowLongPtrA(GWLP_USERDATA) fails
  bool failDialog = false;         // DialogBoxIndirectParamA cannot create the window
  bool failCreateWindow = false;   // CreateWindowExA fails
  uint32_t pumpLimit = 100000;     // messages one dialog may take before it counts as stalled
  int baseUnitX = 7, baseUnitY = 16;  // dialog base units of every dialog's font (MapDialogRect)
  std::function<void(HWND dialog)> beforeMessage;  // runs before each WM_TIMER or posted message
  // What GetQueueStatus reports waiting (its high word): QS_INPUT, say, as
  // if the user were moving the mouse over the window.
  UINT waiting = 0;
  bool failPostMessage = false;    // PostMessageA fails
};

// What LoadCursorA(NULL, IDC_ARROW) gives.
extern const HCURSOR kArrowCursor;

// For the other parts of the fake: a new live window, and the record of a
// window (null when unknown; dead windows count only when allowDead).
HWND NewWindow(const std::string& className, HWND parent);
Window* LookUpWindow(HWND window, bool allowDead = false);
void DestroyFakeWindow(HWND window);

}  // namespace fake
