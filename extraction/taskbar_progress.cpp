#include "extraction/taskbar_progress.h"

namespace {

// {56FDF344-FD6D-11D0-958A-006097C9A090}
const GUID kClsidTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0,
                                {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
// {EA1AFB91-9E28-4B86-90E9-9E9F8A5EEFAF}
const GUID kIidTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86,
                               {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

void PassValue(TaskbarProgress* progress) {
  if (progress && progress->taskbar)
    progress->taskbar->SetProgressValue(progress->window, progress->completed, progress->total);
}

}  // namespace

TaskbarProgress* TaskbarProgress_Create() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return nullptr;
  bool windows7 = version.dwMajorVersion > 6 ||
                  (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1);
  if (!windows7) return nullptr;

  bool comInitialized = SUCCEEDED(CoInitialize(nullptr));
  auto* progress = static_cast<TaskbarProgress*>(LocalAlloc(LPTR, sizeof(TaskbarProgress)));
  if (!progress) {
    if (comInitialized) CoUninitialize();
    return nullptr;
  }
  progress->comInitialized = comInitialized;
  void* taskbar = nullptr;
  HRESULT result = CoCreateInstance(kClsidTaskbarList, nullptr,
                                    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER |
                                        CLSCTX_LOCAL_SERVER,
                                    kIidTaskbarList3, &taskbar);
  progress->taskbar = SUCCEEDED(result) ? static_cast<ITaskbarList3*>(taskbar) : nullptr;
  return progress;
}

void TaskbarProgress_Destroy(TaskbarProgress* progress) {
  if (!progress) return;
  if (progress->taskbar) progress->taskbar->Release();
  bool comInitialized = progress->comInitialized;
  LocalFree(progress);
  if (comInitialized) CoUninitialize();
}

void TaskbarProgress_SetWindow(TaskbarProgress* progress, HWND window) {
  if (progress) progress->window = window;
}

void TaskbarProgress_SetState(TaskbarProgress* progress, bool on) {
  if (progress && progress->taskbar)
    progress->taskbar->SetProgressState(progress->window, on ? TBPF_NORMAL : TBPF_NOPROGRESS);
}

void TaskbarProgress_SetTotal(TaskbarProgress* progress, uint64_t total) {
  if (!progress) return;
  progress->total = total;
  PassValue(progress);
}

void TaskbarProgress_SetCompleted(TaskbarProgress* progress, uint64_t completed) {
  if (!progress) return;
  progress->completed = completed;
  PassValue(progress);
}
