#include "tools/stubpack/release_launcher.h"

#include "tools/stubpack/file_io.h"

#ifdef _WIN32
#include "platform/platform.h"
#else
#include <unistd.h>
#endif

#ifndef STUBPACK_RELEASE_LAUNCHER
#error "the build names the release launcher's place (STUBPACK_RELEASE_LAUNCHER)"
#endif

namespace {

// The stubpack program's own file, empty when unknown.
std::string OwnProgram() {
  char path[4096];
#ifdef _WIN32
  // stubpack.exe's ANSI code page is UTF-8, as for every other path it takes.
  DWORD size = GetModuleFileNameA(nullptr, path, sizeof path);
  if (size == 0 || size >= sizeof path) return std::string();
#else
  ssize_t size = readlink("/proc/self/exe", path, sizeof path);
  if (size <= 0 || static_cast<size_t>(size) >= sizeof path) return std::string();
#endif
  return std::string(path, static_cast<size_t>(size));
}

}  // namespace

std::string ReleaseLauncherPath() {
  std::string program = OwnProgram();
  if (program.empty()) return program;
  // "/usr/bin" and "../share/..." make "/usr/share/...".
  std::string folder = FolderOf(program), relative = STUBPACK_RELEASE_LAUNCHER;
  while (relative.compare(0, 3, "../") == 0 && folder.find('/') != std::string::npos) {
    folder = FolderOf(folder);
    relative.erase(0, 3);
  }
  return folder + "/" + relative;
}
