#include "installer/run_installer.h"

#include <cstring>

#include "base/error_text.h"
#include "base/text_format.h"
#include "extraction/extraction_folder.h"

namespace {

// Writes one part of the command line, prefix and value, the value between
// double quotes when it holds a space; a tab does not count, and no argument
// can hold a double quote (the command-line splitter drops them all), so
// nothing is escaped. Writes only the first room units; with room 0 it only
// measures. Returns the length in UTF-16 units.
size_t PutPart(WCHAR* out, size_t room, const char* prefix, const WCHAR* value) {
  bool quote = false;
  for (const WCHAR* p = value; *p; p++) quote = quote || *p == ' ';
  size_t n = 0;
  auto put = [&](WCHAR c) {
    if (n < room) out[n] = c;
    n++;
  };
  for (const char* p = prefix; *p; p++) put(static_cast<WCHAR>(*p));
  if (quote) put('"');
  for (const WCHAR* p = value; *p; p++) put(*p);
  if (quote) put('"');
  return n;
}

}  // namespace

bool FindInstaller(char* installerPath) {
  char folder[INSTALLER_PATH_SIZE];
  UINT n = GetSystemDirectoryA(folder, sizeof folder);
  int length = n > 0 && n < sizeof folder
                   ? FormatText(installerPath, INSTALLER_PATH_SIZE, "%s\\msiexec.exe", folder)
                   : -1;
  if (length > 0 && length < static_cast<int>(INSTALLER_PATH_SIZE) && PathExists(installerPath))
    return true;
  installerPath[0] = 0;
  return false;
}

Status BuildInstallerCommandLine(const WCHAR* installerPath, const WCHAR* packagePath, WCHAR** argv,
                                 int argc, WCHAR** commandLine) {
  *commandLine = nullptr;
  // Measure every part, then write them into a buffer of exactly that size.
  size_t length = PutPart(nullptr, 0, "", installerPath) + PutPart(nullptr, 0, " /i ", packagePath);
  for (int i = 1; i < argc; i++) length += PutPart(nullptr, 0, " ", argv[i]);
  if (length + 1 > COMMAND_LINE_LIMIT)
    return Status{ERROR_FILENAME_EXCED_RANGE, LOC_INSTALLER_COMMAND_LINE_TOO_LONG};

  auto* line = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(WCHAR)));
  if (!line)
    return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_INSTALLER_COMMAND_LINE_NO_MEMORY);
  size_t used = PutPart(line, length + 1, "", installerPath);
  used += PutPart(line + used, length + 1 - used, " /i ", packagePath);
  for (int i = 1; i < argc; i++) used += PutPart(line + used, length + 1 - used, " ", argv[i]);
  line[used] = 0;
  *commandLine = line;
  return Status{0, LOC_INSTALLER_COMMAND_LINE_NO_MEMORY};
}

Status RunInstaller(const ExtractJob* job, const char* installerPath, WCHAR** argv, int argc,
                    int showCmd, uint32_t* installerExitCode, char* messageText, bool* noMessage) {
  // The two paths are ANSI; to UTF-16 they convert without loss, one unit at
  // most per byte, so these buffers always hold them.
  WCHAR installer[INSTALLER_PATH_SIZE];
  WCHAR package[sizeof job->items[0].path];
  if (!MultiByteToWideChar(CP_ACP, 0, installerPath, -1, installer, INSTALLER_PATH_SIZE) ||
      !MultiByteToWideChar(CP_ACP, 0, job->items[0].path, -1, package,
                           static_cast<int>(sizeof job->items[0].path)))
    return MakeStatus(GetLastError, ERROR_INVALID_PARAMETER, LOC_INSTALLER_PATHS);

  WCHAR* commandLine = nullptr;
  Status status = BuildInstallerCommandLine(installer, package, argv, argc, &commandLine);
  if (status.code != 0) return status;

  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCmd);
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  // The command line is the writable buffer that CreateProcessW requires.
  if (!CreateProcessW(installer, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    status = MakeStatus(GetLastError, ERROR_NO_PROC_SLOTS, LOC_INSTALLER_START);
    LocalFree(commandLine);
    FormatErrorText(status.code, messageText, MESSAGE_TEXT_SIZE, installerPath);
    return status;
  }
  LocalFree(commandLine);

  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) *installerExitCode = exitCode;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (*installerExitCode != 0) *noMessage = true;
  return Status{*installerExitCode, LOC_INSTALLER_EXIT};
}
