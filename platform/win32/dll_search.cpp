#include "platform/platform.h"

void RestrictDllSearchToSystem32() {
  // SetDefaultDllDirectories is missing on Windows Vista and on Windows 7
  // without its loader update, so it is looked up rather than imported.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (restrict && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // At least take the current directory out of the search.
  SetDllDirectoryA("");
}
