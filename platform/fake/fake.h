// The fake platform: a scripted, in-memory Windows for the unit tests.
//
// Every call of platform.h works on one fake::World. A test resets it, sets up
// files, strings, faults and answers, runs the logic, and then reads back what
// the logic did: files written, message boxes shown, last error left behind.
// The world holds one state per area (memory, system, texts, files, faults,
// com, crypt, bcrypt, processes, registry, shell, ui), each reset with it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/fake/fake_bcrypt.h"
#include "platform/fake/fake_com.h"
#include "platform/fake/fake_crypt.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_process.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_shell.h"
#include "platform/fake/fake_threads.h"
#include "platform/fake/fake_ui.h"
#include "platform/platform.h"

namespace fake {

// The ANSI code page the fake acts as, for CP_ACP conversions, CharNextA and
// _mbsicmp: UTF-8 (the default), a single-byte page (units above 0xFF become
// the default character) or a double-byte page whose lead bytes are those of
// code page 932, so that a trail byte may be 0x5C, a backslash.
enum class CodePage { Utf8, SingleByte, DoubleByte };

// Anything a HANDLE can stand for. CloseHandle destroys it; a handle that is
// not live fails with ERROR_INVALID_HANDLE.
struct HandleObject {
  virtual ~HandleObject() = default;
};

// Waits for a thread made by CreateThread; false when object is not one.
bool WaitForCreatedThread(HandleObject* object);

// Registers a new live handle owned by the world.
HANDLE AddHandle(std::unique_ptr<HandleObject> object);
// The live object behind a handle, or null.
HandleObject* FindHandle(HANDLE handle);

// Memory: LocalAlloc, GlobalAlloc and growing LocalReAlloc calls are counted
// from 1; the calls whose numbers are in failAllocations fail with
// ERROR_NOT_ENOUGH_MEMORY as last error. Shrinking never fails.
struct MemoryState {
  uint32_t allocationCalls = 0;
  std::set<uint32_t> failAllocations;
  uint32_t liveAllocations = 0;  // allocations not yet freed
  uint64_t liveBytes = 0;        // bytes of those allocations
  uint64_t peakLiveBytes = 0;    // the most liveBytes has been
};

// The own process and the system it runs on.
struct SystemState {
  std::u16string commandLine;
  // The own file's path as the system holds it, in UTF-8. GetModuleFileNameW
  // gives it whole; GetModuleFileNameA gives it in the ANSI code page, where a
  // character the page cannot hold becomes '?' or its best fit. Its file is
  // stored under NameOnDisk(Utf16(*modulePath)).
  std::optional<std::string> modulePath = std::string("C:\\Users\\Ann\\Downloads\\setup.exe");
  LCID userLcid = 1033;
  // GetTickCount returns tickCount and then advances it by tickStep: a clock
  // that moves only as the program asks it the time.
  DWORD tickCount = 0;
  DWORD tickStep = 0;
  DWORD versionMajor = 10;
  DWORD versionMinor = 0;
  CodePage codePage = CodePage::Utf8;
  std::map<std::string, std::string> environment;  // for ExpandEnvironmentStringsA
  bool dllSearchRestricted = false;
  uint32_t callsBeforeDllSearchRestricted = 0;  // platform calls made before the restriction
  std::set<std::string> loadedLibraries;   // names passed to LoadLibraryA / LoadLibraryExA
  std::map<std::string, FARPROC> procedures;  // what GetProcAddress finds, by name
  std::set<std::string> missingLibraries;  // LoadLibrary of these fails
  bool elevated = true;  // the process token's TokenElevation
};

// Resources and texts.
struct TextState {
  std::map<UINT, std::string> strings;          // LoadStringA
  std::map<DWORD, std::string> systemMessages;  // FormatMessageA, by code
  DWORD lastFormatMessageFlags = 0;
};

struct World {
  // Thread state.
  DWORD lastError = 0;
  // Kernel objects of every area: open files, find handles, registry keys,
  // processes.
  std::map<HANDLE, std::unique_ptr<HandleObject>> handles;

  MemoryState memory;
  SystemState system;
  TextState texts;
  FileState files;
  FaultState faults;
  ComState com;
  CryptState crypt;
  BcryptState bcrypt;
  ProcessState process;
  ThreadState threads;
  RegistryState registry;
  ShellState shell;
  UiState ui;
};

World& W();
void Reset();

// The size a live LocalAlloc/LocalReAlloc block was given.
SIZE_T AllocationSize(const void* memory);

// Counts a platform call for the DLL-search check: every call made before
// RestrictDllSearchToSystem32 is counted (on the test's own thread; a
// created thread can only run after the restriction anyway).
void NoteCall();

// Length in bytes of the ANSI character at text in the fake's code page, as
// CharNextA steps (0 at the terminator).
size_t AnsiCharLength(const char* text);

// UTF-8 <-> UTF-16 for building command lines in tests.
std::u16string Utf16(const std::string& utf8);
std::string Utf8(const std::u16string& utf16);

}  // namespace fake
