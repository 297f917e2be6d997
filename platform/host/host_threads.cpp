// Host platform: threads on POSIX threads, for stubpack running the
// launcher's block decoding. A thread's HANDLE is its own small object; the
// host has no other kernel objects, so CloseHandle and WaitForSingleObject
// know only threads.
#include <cstdlib>

#include "platform/platform.h"

namespace {

struct HostThread {
  pthread_t thread;
  bool joined;
};

// What the new thread runs; its own, freed by it, so that the handle may be
// closed before the thread has even begun.
struct Start {
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

void* Run(void* context) {
  Start start = *static_cast<Start*>(context);
  free(context);
  start.routine(start.parameter);
  return nullptr;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId) {
  HostThread* t = static_cast<HostThread*>(calloc(1, sizeof(HostThread)));
  if (!t) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Start* run = static_cast<Start*>(malloc(sizeof(Start)));
  if (run) *run = Start{start, parameter};
  if (!run || pthread_create(&t->thread, nullptr, Run, run) != 0) {
    free(run);
    free(t);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = 0;
  return t;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD) {
  HostThread* t = static_cast<HostThread*>(handle);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (!t->joined) {
    pthread_join(t->thread, nullptr);
    t->joined = true;
  }
  return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
  HostThread* t = static_cast<HostThread*>(handle);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // A thread whose handle is closed runs on by itself, as on Windows.
  if (!t->joined) pthread_detach(t->thread);
  free(t);
  return TRUE;
}
