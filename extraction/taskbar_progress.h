// Progress shown on the launcher's taskbar button (Windows 7 and later).
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct TaskbarProgress {
  ITaskbarList3* taskbar;  // null when COM could not give one
  HWND window;             // the window whose button shows progress
  uint64_t total;          // last total passed to the shell
  uint64_t completed;      // last completed value passed to the shell
  bool comInitialized;     // Create's CoInitialize succeeded; Destroy balances it
};

// A new object on Windows 7 and later (GetVersionExA), null before, or when
// the object cannot be allocated. Asks COM for the shell's taskbar list; when
// COM fails the object is still returned, without interface, and the
// operations below do nothing with it. Every operation accepts null.
TaskbarProgress* TaskbarProgress_Create();
// Releases the interface and frees the object.
void TaskbarProgress_Destroy(TaskbarProgress* progress);
// The window whose taskbar button shows the progress.
void TaskbarProgress_SetWindow(TaskbarProgress* progress, HWND window);
// Normal progress display when on, none when off.
void TaskbarProgress_SetState(TaskbarProgress* progress, bool on);
// Stores the value and passes completed and total to the shell.
void TaskbarProgress_SetTotal(TaskbarProgress* progress, uint64_t total);
void TaskbarProgress_SetCompleted(TaskbarProgress* progress, uint64_t completed);
