#include "platform/win32/system_library.h"

#include <cstring>

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const size_t n = strlen(name);
  if (n + 1 >= sizeof path - length) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[length] = '\\';
  memcpy(path + length + 1, name, n + 1);
  return LoadLibraryA(path);
}

FARPROC GetSystemProcedure(const char* library, const char* procedure) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? GetProcAddress(module, procedure) : nullptr;
}
