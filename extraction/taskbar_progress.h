// Progress shown on the launcher's taskbar button (Windows 7 and later).
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct TaskbarProgress {
  ITaskbarList3* taskbar;  // null when COM could not give one
  HWND window;             // the window whose button shows progress
  uint64_t total;          // last total passed to the shell
  uint64_t completed;      // last completed value passed to the shell
};

// A new object on Windows 7 and later, null before or when out of memory.
// Every operation below accepts null and then does nothing.
TaskbarProgress* TaskbarProgress_Create();
void TaskbarProgress_Destroy(TaskbarProgress* progress);
void TaskbarProgress_SetWindow(TaskbarProgress* progress, HWND window);
void TaskbarProgress_SetState(TaskbarProgress* progress, bool on);
void TaskbarProgress_SetTotal(TaskbarProgress* progress, uint64_t total);
void TaskbarProgress_SetCompleted(TaskbarProgress* progress, uint64_t completed);
