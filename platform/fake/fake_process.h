// Fake platform: processes: the scripted msiexec.exe.
//
// CreateProcessW starts a program only when its application path names an
// existing file of the fake file system (found through NameOnDisk). The only
// program the fake can run is one whose file name is "msiexec.exe" (in any
// folder): a scripted installer that records how it was started and runs to
// its end during the first wait on its process handle. Until then
// GetExitCodeProcess reads STILL_ACTIVE. Any other existing file fails to
// start with ERROR_BAD_EXE_FORMAT.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// One CreateProcessW call, whether it started a process or not.
struct ProcessLaunch {
  std::string application;         // in UTF-8; "" when the call passed none
  std::u16string wideCommandLine;  // exactly as passed
  std::string commandLine;         // the same in UTF-8, for readable checks
  bool processSecurity = false;    // a SECURITY_ATTRIBUTES was passed
  bool threadSecurity = false;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  bool environment = false;       // an environment block was passed
  bool currentDirectory = false;  // a current directory was passed
  DWORD startupSize = 0;          // STARTUPINFOW.cb
  DWORD startupFlags = 0;
  WORD showWindow = 0;
  bool started = false;
};

// What the scripted installer does.
struct InstallerScript {
  DWORD startError = 0;  // nonzero: CreateProcessW fails with this last error
  DWORD exitCode = 0;
  // Not empty: the installation registers this product code as Windows
  // Installer does, with a non-empty "UninstallString" in the key
  // HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<code> of the
  // 64-bit view.
  std::string registersProduct;
  bool exitCodeUnreadable = false;  // GetExitCodeProcess fails (ERROR_ACCESS_DENIED)
  // Called while the installer runs, to look at the world as it sees it.
  std::function<void(const ProcessLaunch&)> onRun;
};

// State of the simulated process services; part of fake::World and reset with it.
struct ProcessState {
  InstallerScript installer;
  std::vector<ProcessLaunch> launches;
  uint32_t installerRuns = 0;  // installers that ran to their end
};

}  // namespace fake
