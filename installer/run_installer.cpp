#include "installer/run_installer.h"

#include <cstdio>
#include <cstring>

#include "extraction/extraction_folder.h"
#include "launcher/error_text.h"

namespace {

// Writes one part of the command line, prefix and value, the value between
// double quotes when it holds a space; a tab does not count, and no argument
// can hold a double quote (the command-line splitter drops them all), so
// nothing is escaped. With room 0 it only measures. Returns the length.
size_t PutPart(char* out, size_t room, const char* prefix, const char* value) {
  const char* quote = strchr(value, ' ') ? "\"" : "";
  int n = snprintf(out, room, "%s%s%s%s", prefix, quote, value, quote);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// Converts argv[1..] to the ANSI code page into one LocalAlloc block of
// zero-terminated strings, in order (null when there are none).
Status ConvertArguments(WCHAR** argv, int argc, char** block) {
  *block = nullptr;
  size_t room = 0;
  for (int i = 1; i < argc; i++) {
    int n = WideCharToMultiByte(CP_ACP, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_INSTALLER_ARGUMENTS);
    room += static_cast<size_t>(n);
  }
  if (room == 0) return Status{0, LOC_INSTALLER_ARGUMENTS};
  char* out = static_cast<char*>(LocalAlloc(LMEM_FIXED, room));
  if (!out) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_INSTALLER_ARGUMENTS);
  size_t used = 0;
  for (int i = 1; i < argc; i++) {
    int n = WideCharToMultiByte(CP_ACP, 0, argv[i], -1, out + used, static_cast<int>(room - used),
                                nullptr, nullptr);
    if (n <= 0) {
      Status status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_INSTALLER_ARGUMENTS);
      LocalFree(out);
      return status;
    }
    used += static_cast<size_t>(n);
  }
  *block = out;
  return Status{0, LOC_INSTALLER_ARGUMENTS};
}

}  // namespace

bool FindInstaller(char* installerPath) {
  char folder[INSTALLER_PATH_SIZE];
  UINT n = GetSystemDirectoryA(folder, sizeof folder);
  int length = n > 0 && n < sizeof folder
                   ? snprintf(installerPath, INSTALLER_PATH_SIZE, "%s\\msiexec.exe", folder)
                   : -1;
  if (length > 0 && length < static_cast<int>(INSTALLER_PATH_SIZE) && PathExists(installerPath))
    return true;
  installerPath[0] = 0;
  return false;
}

Status BuildInstallerCommandLine(const char* installerPath, const char* packagePath, WCHAR** argv,
                                 int argc, char** commandLine) {
  *commandLine = nullptr;
  char* arguments = nullptr;
  Status status = ConvertArguments(argv, argc, &arguments);
  if (status.code != 0) return status;

  // Measure every part, then write them into a buffer of exactly that size.
  size_t length = PutPart(nullptr, 0, "", installerPath) + PutPart(nullptr, 0, " /i ", packagePath);
  const char* argument = arguments;
  for (int i = 1; i < argc; i++, argument += strlen(argument) + 1)
    length += PutPart(nullptr, 0, " ", argument);

  if (length + 1 > COMMAND_LINE_LIMIT) {
    LocalFree(arguments);
    return Status{ERROR_FILENAME_EXCED_RANGE, LOC_INSTALLER_COMMAND_LINE_TOO_LONG};
  }
  char* line = static_cast<char*>(LocalAlloc(LMEM_FIXED, length + 1));
  if (!line) {
    status =
        MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_INSTALLER_COMMAND_LINE_NO_MEMORY);
    LocalFree(arguments);
    return status;
  }
  size_t used = PutPart(line, length + 1, "", installerPath);
  used += PutPart(line + used, length + 1 - used, " /i ", packagePath);
  argument = arguments;
  for (int i = 1; i < argc; i++, argument += strlen(argument) + 1)
    used += PutPart(line + used, length + 1 - used, " ", argument);
  LocalFree(arguments);
  *commandLine = line;
  return Status{0, LOC_INSTALLER_COMMAND_LINE_NO_MEMORY};
}

Status RunInstaller(const ExtractJob* job, const char* installerPath, WCHAR** argv, int argc,
                    int showCmd, uint32_t* installerExitCode, char* messageText, bool* noMessage) {
  char* commandLine = nullptr;
  Status status =
      BuildInstallerCommandLine(installerPath, job->items[0].path, argv, argc, &commandLine);
  if (status.code != 0) return status;

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCmd);
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  if (!CreateProcessA(installerPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
