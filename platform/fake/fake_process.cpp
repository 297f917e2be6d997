// Fake platform: process creation, waiting and exit codes, with the scripted
// installer as the one program that can run.
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {
namespace {

struct Process : HandleObject {
  size_t launch = 0;  // index into ProcessState::launches
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
};

struct Thread : HandleObject {};

// Process creation refuses a command line longer than this, in UTF-16 units
// with the terminating zero.
constexpr size_t kMaxCommandLine = 32767;

bool IsInstaller(const std::string& application) {
  size_t slash = application.rfind('\\');
  std::string name = Key(application.substr(slash == std::string::npos ? 0 : slash + 1));
  return name == "MSIEXEC.EXE";
}

// The installer runs to its end: the test's hook, then its registration.
void RunInstaller(Process& process) {
  const InstallerScript& script = W().process.installer;
  if (script.onRun) script.onRun(W().process.launches[process.launch]);
  if (!script.registersProduct.empty()) {
    SetRegistryString(
        HKEY_LOCAL_MACHINE,
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + script.registersProduct,
        "UninstallString", "MsiExec.exe /X" + script.registersProduct, REG_EXPAND_SZ,
        RegistryView::Bits64);
  }
  process.finished = true;
  process.exitCode = script.exitCode;
  W().process.installerRuns++;
}

}  // namespace
}  // namespace fake

using fake::NoteCall;
using fake::W;

BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                    LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                    LPPROCESS_INFORMATION info) {
  NoteCall();
  fake::ProcessLaunch launch;
  std::u16string applicationPath = application ? application : u"";
  launch.application = fake::Utf8(applicationPath);
  launch.wideCommandLine = commandLine ? commandLine : u"";
  launch.commandLine = fake::Utf8(launch.wideCommandLine);
  launch.processSecurity = processSecurity != nullptr;
  launch.threadSecurity = threadSecurity != nullptr;
  launch.inheritHandles = inheritHandles;
  launch.creationFlags = flags;
  launch.environment = environment != nullptr;
  launch.currentDirectory = currentDirectory != nullptr;
  if (startup) {
    launch.startupSize = startup->cb;
    launch.startupFlags = startup->dwFlags;
    launch.showWindow = startup->wShowWindow;
  }
  W().process.launches.push_back(launch);

  DWORD error = 0;
  const std::string file = fake::NameOnDisk(applicationPath);
  if (!application || !startup || !info) {
    error = ERROR_INVALID_PARAMETER;  // the fake needs the application named
  } else if (launch.wideCommandLine.size() + 1 > fake::kMaxCommandLine) {
    error = ERROR_FILENAME_EXCED_RANGE;
  } else if (!fake::Exists(file)) {
    error = ERROR_FILE_NOT_FOUND;
  } else if (fake::IsFolder(file)) {
    error = ERROR_ACCESS_DENIED;
  } else if (W().process.installer.startError) {
    error = W().process.installer.startError;
  } else if (!fake::IsInstaller(file)) {
    error = ERROR_BAD_EXE_FORMAT;
  }
  if (error) {
    W().lastError = error;
    return FALSE;
  }

  auto process = std::make_unique<fake::Process>();
  process->launch = W().process.launches.size() - 1;
  W().process.launches.back().started = true;
  info->hProcess = fake::AddHandle(std::move(process));
  info->hThread = fake::AddHandle(std::make_unique<fake::Thread>());
  info->dwProcessId = 1000 + static_cast<DWORD>(W().process.launches.size()) * 4;
  info->dwThreadId = info->dwProcessId + 1;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD) {
  NoteCall();
  fake::HandleObject* object = fake::FindHandle(handle);
  if (auto* process = dynamic_cast<fake::Process*>(object)) {
    if (!process->finished) fake::RunInstaller(*process);
    return WAIT_OBJECT_0;
  }
  if (dynamic_cast<fake::Thread*>(object)) return WAIT_OBJECT_0;
  if (fake::WaitForCreatedThread(object)) return WAIT_OBJECT_0;
  W().lastError = ERROR_INVALID_HANDLE;
  return WAIT_FAILED;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
  NoteCall();
  auto* process = dynamic_cast<fake::Process*>(fake::FindHandle(handle));
  if (!process || !exitCode) {
    W().lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (W().process.installer.exitCodeUnreadable) {
    W().lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  *exitCode = process->exitCode;
  return TRUE;
}
