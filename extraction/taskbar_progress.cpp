#include "extraction/taskbar_progress.h"

TaskbarProgress* TaskbarProgress_Create() { return nullptr; }
void TaskbarProgress_Destroy(TaskbarProgress*) {}
void TaskbarProgress_SetWindow(TaskbarProgress*, HWND) {}
void TaskbarProgress_SetState(TaskbarProgress*, bool) {}
void TaskbarProgress_SetTotal(TaskbarProgress*, uint64_t) {}
void TaskbarProgress_SetCompleted(TaskbarProgress*, uint64_t) {}
