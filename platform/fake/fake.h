// The fake platform: a scripted, in-memory Windows for the unit tests.
//
// Every call of platform.h works on one fake::World. A test resets it, sets up
// files, strings, faults and answers, runs the logic, and then reads back what
// the logic did: files written, message boxes shown, last error left behind.
//
// Paths compare without regard to ASCII case and use backslashes, as on
// Windows; "." and ".." in them are resolved and a path rooted without a drive
// letter means the current drive, as on Windows. A folder must exist before a
// file can be created in it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake_com.h"
#include "platform/fake/fake_crypt.h"
#include "platform/fake/fake_process.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_shell.h"
#include "platform/fake/fake_ui.h"
#include "platform/platform.h"

namespace fake {

// The ANSI code page the fake acts as, for CP_ACP conversions, CharNextA and
// _mbsicmp: UTF-8 (the default), a single-byte page (units above 0xFF become
// the default character) or a double-byte page whose lead bytes are those of
// code page 932, so that a trail byte may be 0x5C, a backslash.
enum class CodePage { Utf8, SingleByte, DoubleByte };

// A file's content is shared by every name linked to it (AddHardLink): a
// write or a truncation through one name shows through all of them.
struct Node {
  bool directory = false;
  std::shared_ptr<std::vector<uint8_t>> data = std::make_shared<std::vector<uint8_t>>();
};

// Anything a HANDLE can stand for. CloseHandle destroys it; a handle that is
// not live fails with ERROR_INVALID_HANDLE.
struct HandleObject {
  virtual ~HandleObject() = default;
};

// Registers a new live handle owned by the world.
HANDLE AddHandle(std::unique_ptr<HandleObject> object);
// The live object behind a handle, or null.
HandleObject* FindHandle(HANDLE handle);

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
};

struct World {
  // Thread state.
  DWORD lastError = 0;

  // Memory: LocalAlloc, GlobalAlloc and growing LocalReAlloc calls are counted
  // from 1; the calls whose numbers are in failAllocations fail with
  // ERROR_NOT_ENOUGH_MEMORY as last error. Shrinking never fails.
  uint32_t allocationCalls = 0;
  std::set<uint32_t> failAllocations;
  uint32_t liveAllocations = 0;  // allocations not yet freed

  // Process and system.
  std::u16string commandLine;
  // The own file's path as the system holds it, in UTF-8. GetModuleFileNameW
  // gives it whole; GetModuleFileNameA gives it in the ANSI code page, where a
  // character the page cannot hold becomes '?' or its best fit. Its file is
  // stored under NameOnDisk(Utf16(*modulePath)).
  std::optional<std::string> modulePath = std::string("C:\\Users\\Ann\\Downloads\\setup.exe");
  LCID userLcid = 1033;
  DWORD versionMajor = 10;
  DWORD versionMinor = 0;
  CodePage codePage = CodePage::Utf8;
  bool dllSearchRestricted = false;
  uint32_t callsBeforeDllSearchRestricted = 0;  // platform calls made before the restriction
  int comInitialized = 0;                       // CoInitialize minus CoUninitialize
  bool commonControlsInitialized = false;
  std::set<std::string> loadedLibraries;   // names passed to LoadLibraryA / LoadLibraryExA
  std::map<std::string, FARPROC> procedures;  // what GetProcAddress finds, by name
  std::set<std::string> missingLibraries;  // LoadLibrary of these fails

  // Resources and texts.
  std::map<UINT, std::string> strings;          // LoadStringA
  std::map<DWORD, std::string> systemMessages;  // FormatMessageA, by code
  DWORD lastFormatMessageFlags = 0;

  // Message boxes: what was shown, and the answers to give in order (when
  // none is left, the first button: IDOK or IDRETRY).
  std::vector<MessageBoxCall> messageBoxes;
  std::deque<int> messageBoxAnswers;

  // File system: full path (upper-cased) -> node, plus the path as created.
  std::map<std::string, Node> nodes;
  std::map<std::string, std::string> displayNames;
  std::string windowsDirectory = "C:\\Windows";
  std::string systemDirectory = "C:\\Windows\\system32";
  std::string currentDirectory = "C:\\Users\\Ann\\Downloads";
  std::map<std::string, std::string> environment;  // for ExpandEnvironmentStringsA
  // Faults.
  std::set<std::string> unwritableFolders;  // creating files or folders in these fails
  std::set<std::string> unreadableFiles;    // ReadFile on these fails
  std::set<std::string> shortReadFiles;     // ReadFile on these returns half
  std::set<std::string> sizeFailFiles;      // GetFileSize fails
  std::optional<uint64_t> diskSpace;        // bytes WriteFile may still write in all
  std::map<HANDLE, std::unique_ptr<HandleObject>> handles;

  ComState com;
  CryptState crypt;
  ProcessState process;
  RegistryState registry;
  ShellState shell;
  UiState ui;
};

World& W();
void Reset();

// The size a live LocalAlloc/LocalReAlloc block was given.
SIZE_T AllocationSize(const void* memory);

// Counts a platform call for the DLL-search check: every call made before
// RestrictDllSearchToSystem32 is counted.
void NoteCall();

// Length in bytes of the ANSI character at text in the fake's code page, as
// CharNextA steps (0 at the terminator).
size_t AnsiCharLength(const char* text);

// File-system helpers for tests.
// The key of a path in nodes: ASCII letters upper-cased, "/" read as "\".
// A path on a drive ("C:\...") or rooted on the current directory's drive
// ("\...") is resolved as Windows resolves full paths: repeated separators
// collapse, "." goes, ".." takes the component before it (never the root),
// and the last component loses its trailing dots and spaces. Paths are split
// by character, so a trail byte 0x5C of the double-byte page is no separator.
std::string Key(const std::string& path);
void AddFolder(const std::string& path);  // creates every level
void AddFile(const std::string& path, const std::vector<uint8_t>& data);
// Gives the file at existing a second name, link, as a hard link does: both
// names reach the same content; deleting one name leaves the other.
void AddHardLink(const std::string& existing, const std::string& link);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
std::vector<uint8_t> FileData(const std::string& path);
std::string ParentOf(const std::string& path);

// The fake file system keeps every name as the ANSI calls spell it. A UTF-16
// path names the file stored under its ANSI spelling when that spelling
// converts back to the same path, and otherwise the file stored under its
// UTF-8 spelling: a name that no ANSI call can reach, as on Windows a name
// the ANSI code page cannot hold. The wide calls (CreateFileW, CreateProcessW)
// find files through this; tests use it to put a file under such a name.
std::string NameOnDisk(const std::u16string& path);

// UTF-8 <-> UTF-16 for building command lines in tests.
std::u16string Utf16(const std::string& utf8);
std::string Utf8(const std::u16string& utf16);

}  // namespace fake
