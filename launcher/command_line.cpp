#include "launcher/command_line.h"

#include <cstdint>

WCHAR** SplitCommandLine(const WCHAR* commandLine, int* argc) {
  *argc = 0;
  size_t n = 0;
  while (commandLine[n]) n++;
  // Pointers are 8 bytes on both 64-bit targets; at most one argument per two
  // characters, plus the terminating null pointer.
  size_t pointerRoom = 8 * ((n + 2) / 2) + 8;
  size_t charRoom = 2 * (n + 2);
  auto* block = static_cast<uint8_t*>(LocalAlloc(LPTR, pointerRoom + charRoom));
  if (!block) return nullptr;

  auto** argv = reinterpret_cast<WCHAR**>(block);
  auto* out = reinterpret_cast<WCHAR*>(block + pointerRoom);
  int count = 0;
  bool inQuotes = false, inArg = false, atStart = true;
  for (const WCHAR* p = commandLine; *p; p++) {
    WCHAR c = *p;
    if (inQuotes) {
      if (c == '"')
        inQuotes = false;
      else
        *out++ = c;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (inArg) *out++ = 0;
      inArg = false;
      atStart = true;
    } else if (c == '"') {
      inArg = true;
      if (atStart) {
        argv[count++] = out;
        atStart = false;
      }
      inQuotes = true;
    } else {
      if (atStart) argv[count++] = out;
      *out++ = c;
      inArg = true;
      atStart = false;
    }
  }
  *out = 0;
  argv[count] = nullptr;
  *argc = count;
  return argv;
}

namespace {

// The module file name from get (the A or W call) in a LocalAlloc buffer that
// starts at MAX_PATH characters and grows until the whole name fits; null
// when the call or an allocation fails.
template <typename Char, typename Get>
Char* GrowModulePath(Get get) {
  DWORD room = MAX_PATH;
  for (;;) {
    auto* path = static_cast<Char*>(LocalAlloc(LPTR, (room + 1) * sizeof(Char)));
    if (!path) return nullptr;
    DWORD length = get(path, room);
    if (length == 0) {
      LocalFree(path);
      return nullptr;
    }
    if (length < room) return path;
    LocalFree(path);
    room += 64;
  }
}

}  // namespace

char* GetModulePath() {
  return GrowModulePath<char>(
      [](char* path, DWORD room) { return GetModuleFileNameA(nullptr, path, room); });
}

WCHAR* GetModulePathW() {
  return GrowModulePath<WCHAR>(
      [](WCHAR* path, DWORD room) { return GetModuleFileNameW(nullptr, path, room); });
}
