#include "platform/win32/system_library.h"

#include <cstdio>

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  int n = snprintf(path + length, sizeof path - length, "\\%s", name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path - length) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return LoadLibraryA(path);
}

FARPROC GetSystemProcedure(const char* library, const char* procedure) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? GetProcAddress(module, procedure) : nullptr;
}
