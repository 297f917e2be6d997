// Fake platform: files and folders, the folders the system names, and the
// faults a test can plant in them.
//
// Paths compare without regard to ASCII case and use backslashes, as on
// Windows; "." and ".." in them are resolved and a path rooted without a drive
// letter means the current drive, as on Windows. A folder must exist before a
// file can be created in it. Handles keep Windows' share modes and delete
// disposition; a folder may be a link (AddLink) that paths are resolved
// through, and a file or folder remembers the security descriptor it was
// created with.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// A file's content is shared by every name linked to it (AddHardLink): a
// write or a truncation through one name shows through all of them.
struct Node {
  bool directory = false;
  std::shared_ptr<std::vector<uint8_t>> data = std::make_shared<std::vector<uint8_t>>();
  uint64_t id = 0;           // the file index; hard links share it
  std::string linkTarget;    // not empty: a link to this folder
  // A link the system shows as a reparse point (a junction or symbolic link on
  // Windows): FILE_FLAG_OPEN_REPARSE_POINT opens the link itself. Otherwise it
  // is followed by every call and never seen, as Wine does with a Unix
  // symbolic link; only the final path of a handle tells.
  bool reparsePoint = false;
  // The SDDL of the descriptor passed when it was created ("" for none); the
  // fake's ConvertStringSecurityDescriptorToSecurityDescriptorA makes
  // descriptors that are their SDDL text.
  std::string descriptor;
  bool deletePending = false;  // removed when its last handle closes
};

// State of the simulated file system; part of fake::World and reset with it.
struct FileState {
  // Full path (upper-cased, see Key) -> node, plus the path as created.
  std::map<std::string, Node> nodes;
  std::map<std::string, std::string> displayNames;
  std::string windowsDirectory = "C:\\Windows";
  std::string systemDirectory = "C:\\Windows\\system32";
  std::string currentDirectory = "C:\\Users\\Ann\\Downloads";
  uint64_t nextId = 1;
  bool volumeKeepsAcls = true;  // FILE_PERSISTENT_ACLS of the one volume (false: FAT, exFAT)
};

// Faults of the file system; part of fake::World and reset with it. The other
// services keep their faults beside their state (UiState::failDialog,
// CryptState::failOpen, BcryptState::failOpen, MemoryState::failAllocations, ...).
struct FaultState {
  std::set<std::string> unwritableFolders;  // creating files or folders in these fails
  std::set<std::string> unreadableFiles;    // ReadFile on these fails
  std::set<std::string> shortReadFiles;     // ReadFile on these returns half
  std::set<std::string> sizeFailFiles;      // GetFileSize fails
  std::set<std::string> over4GiBFiles;      // GetFileSize adds 4 GiB (a high part of 1)
  // ReadFile on these fails (ERROR_READ_FAULT) when it would read the byte at
  // this offset: a bad sector; the rest of the file still reads.
  std::map<std::string, uint64_t> unreadableByte;
  std::optional<uint64_t> diskSpace;        // bytes WriteFile may still write in all
  // What another process does the moment the last handle to a file or folder
  // closes, given its path as created: it runs once (cleared before it is
  // called), with nothing of the closed handle left to keep it out.
  std::function<void(const std::string& path)> afterLastClose;
};

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
// Makes link a link to the folder target (see Node::reparsePoint).
void AddLink(const std::string& link, const std::string& target, bool reparsePoint);
// The key of path with its last component not followed when it is a link,
// as FindFirstFile, DeleteFile, RemoveDirectory and an open of a reparse
// point see it.
std::string KeyOfName(const std::string& path);
// What another process of the user does: renames the file or folder from to
// to (MoveFileEx without flags); open handles follow what they name. Returns
// 0, or the error Windows gives: ERROR_SHARING_VIOLATION while a handle to it
// does not share deletion, ERROR_ALREADY_EXISTS when to exists,
// ERROR_FILE_NOT_FOUND. ignoreSharing lets a test move it all the same, to
// show what the logic does should a move ever get past its handles.
DWORD Rename(const std::string& from, const std::string& to, bool ignoreSharing = false);
// The SDDL the file or folder at path was created with ("" for none).
std::string DescriptorOf(const std::string& path);
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

}  // namespace fake
