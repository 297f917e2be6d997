#include "extraction/extraction_folder.h"

#include <cstring>

#include "base/text_format.h"
#include "extraction/file_content.h"
#include "extraction/output_file.h"
#include "platform/platform.h"

namespace {

const char kUserShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

typedef BOOL(WINAPI* SpecialFolderPathFn)(HWND owner, LPSTR path, int csidl, BOOL create);

// Appends a backslash and name to dir (size bytes). False, with dir as it
// was, when the result would not fit: a cut path could name another folder.
bool AppendComponent(char* dir, uint32_t size, const char* name) {
  size_t length = strlen(dir);
  int n = FormatText(dir + length, size - length, "\\%s", name);
  if (n < 0 || static_cast<size_t>(n) >= size - length) {
    dir[length] = 0;
    return false;
  }
  return true;
}

void CreateIfMissing(const char* path) {
  if (!PathExists(path)) CreateDirectoryA(path, nullptr);
}

// Removes every trailing backslash, character by character (see CreateLevels).
void StripTrailingBackslashes(char* path) {
  char* end = path;
  for (char* p = path; *p; p = CharNextA(p))
    if (*p != '\\') end = CharNextA(p);
  *end = 0;
}

// The "Personal" user shell folder as stored (environment variables not yet
// expanded); empty when it cannot be read or does not fit with its terminator.
void ReadPersonalFolder(char* folder, uint32_t size) {
  folder[0] = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return;
  DWORD bytes = size;
  LSTATUS result =
      RegQueryValueExA(key, "Personal", nullptr, nullptr, reinterpret_cast<LPBYTE>(folder), &bytes);
  if (result != ERROR_SUCCESS || bytes == 0)
    folder[0] = 0;
  else if (bytes < size)
    folder[bytes] = 0;
  else if (folder[size - 1] != 0)
    folder[0] = 0;
  RegCloseKey(key);
}

// Path of every item in dir, each created new for writing unless its file
// there holds the item's verified content already; such a file is kept and
// held from before the comparison on, so that the bytes compared are the
// bytes the installer reads. False at the first file that cannot be created
// or replaced (its handle and path stay empty) or whose path would not fit
// its buffer: a path is never cut, so that the user can choose a shorter
// folder. descriptor (may be null) is given to every file created.
bool OpenOutputFiles(ExtractJob* job, const char* dir, PSECURITY_DESCRIPTOR descriptor) {
  for (int32_t i = 0; i < job->count; i++) {
    ExtractItem* item = &job->items[i];
    int n = FormatText(item->path, sizeof item->path, "%s\\%s", dir, item->name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof item->path) {
      item->path[0] = 0;
      return false;
    }
    // The installer gets only bytes that verified: a file left by an earlier
    // run that failed, or put there by someone else, is used only when it is
    // the same; any other is replaced and so becomes this attempt's own.
    HANDLE found = OpenHeldFile(item->path, item);
    if (found != INVALID_HANDLE_VALUE) {
      if (FileHoldsBlockContent(found, &job->sources->items[item->sourceIndex], item->place)) {
        item->handle = found;
        item->held = true;
        item->kept = true;
        continue;
      }
      CloseHandle(found);
      item->identified = false;
    }
    // Replaced by removing the name and making a new file, never by writing
    // into the one found: that name may be a hard or symbolic link to a file
    // outside this folder. When the name cannot be removed (read-only, held
    // open, a folder), the new file cannot be made either.
    DeleteFileA(item->path);
    if (!CreateOutputFile(item, descriptor)) {
      // Not this run's file: the roll-back must not delete what is there.
      item->path[0] = 0;
      return false;
    }
  }
  return true;
}

// Preselects the start folder, when there is one.
int CALLBACK SelectStartFolder(HWND window, UINT message, LPARAM, LPARAM startFolder) {
  if (message == BFFM_INITIALIZED && *reinterpret_cast<const char*>(startFolder))
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, startFolder);
  return 0;
}

// Shows the folder browser titled title, starting in the default folder,
// until the user picks a folder that has a file-system path (stored in dir
// without trailing backslashes) or cancels (false).
bool AskForFolder(const char* title, char* dir) {
  char startFolder[EXTRACT_DIR_SIZE];
  GetDefaultBrowseFolder(startFolder, sizeof startFolder);

  LPMALLOC allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator))) allocator = nullptr;
  char displayName[MAX_PATH];
  BROWSEINFOA info;
  memset(&info, 0, sizeof info);
  info.pszDisplayName = displayName;
  info.lpszTitle = title;
  info.lpfn = SelectStartFolder;
  info.lParam = reinterpret_cast<LPARAM>(startFolder);

  bool chosen = false;
  for (;;) {
    PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&info);
    if (!list) break;
    char path[MAX_PATH];
    path[0] = 0;
    BOOL hasPath = SHGetPathFromIDListA(list, path);
    if (allocator) allocator->Free(list);
    if (!hasPath) continue;  // a virtual item: no folder to write into
    StripTrailingBackslashes(path);
    if (!path[0]) continue;
    FormatText(dir, EXTRACT_DIR_SIZE, "%s", path);
    chosen = true;
    break;
  }
  if (allocator) allocator->Release();
  return chosen;
}

}  // namespace

void RollBackExtraction(ExtractJob* job, ProductFolder* folder) {
  for (int32_t i = 0; i < job->count; i++) {
    ExtractItem* item = &job->items[i];
    if (item->kept)
      ReleaseItemFile(item);
    else
      DeleteItemFile(item);
    item->kept = false;
    item->identified = false;
    item->written = 0;
    memset(item->path, 0, sizeof item->path);
  }
  ReleaseProductFolder(folder, true);
}

void RemoveUnfinishedFiles(ExtractJob* job) {
  for (int32_t i = 0; i < job->count; i++) {
    ExtractItem* item = &job->items[i];
    if (!item->handle || item->held) continue;
    DeleteItemFile(item);
    memset(item->path, 0, sizeof item->path);
  }
}

bool PathExists(const char* path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

void GetDefaultBrowseFolder(char* path, uint32_t size) {
  if (size == 0) return;
  path[0] = 0;
  char folder[EXTRACT_DIR_SIZE];
  folder[0] = 0;

  HMODULE shell = GetModuleHandleA("Shell32.dll");
  if (!shell) shell = LoadLibraryA("Shell32.dll");
  SetErrorMode(SEM_NOOPENFILEERRORBOX);
  if (shell) {
    auto lookUp = reinterpret_cast<SpecialFolderPathFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell, "SHGetSpecialFolderPathA")));
    // Never created: an elevated process must not make folders where the
    // user's settings point.
    if (!lookUp || !lookUp(nullptr, folder, CSIDL_PERSONAL, FALSE)) folder[0] = 0;
  }
  if (!folder[0]) ReadPersonalFolder(folder, sizeof folder);
  if (!folder[0]) {
    DWORD n = GetCurrentDirectoryA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder) folder[0] = 0;
  }

  DWORD n = ExpandEnvironmentStringsA(folder, path, size);
  if (n == 0 || n > size) {
    path[0] = 0;
    return;
  }
  if (path[0] && !PathExists(path)) path[0] = 0;
}

Status PrepareExtractionFolder(const PackageMatch* match, ExtractJob* job, const char* browseTitle,
                               char* extractDir, ProductFolder* folder) {
  extractDir[0] = 0;
  folder->handle = nullptr;
  folder->created = false;
  char windowsDir[EXTRACT_DIR_SIZE];
  UINT n = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
  if (n > 0 && n < sizeof windowsDir) {
    FormatText(extractDir, EXTRACT_DIR_SIZE, "%s", windowsDir);
    if (AppendComponent(extractDir, EXTRACT_DIR_SIZE, "Installer"))
      CreateIfMissing(extractDir);
    else
      extractDir[0] = 0;
  }

  // Below <Windows>\Installer only administrators can write; below a folder
  // the user chose, what this run creates gets descriptors of its own.
  ProtectedDescriptors descriptors = {nullptr, nullptr};
  bool chosen = false;
  Status status{0, 0};
  for (;;) {
    if (AppendComponent(extractDir, EXTRACT_DIR_SIZE, match->productCode) &&
        (!chosen || MakeProtectedDescriptors(&descriptors))) {
      if (PinProductFolder(extractDir, descriptors.folder, folder) &&
          OpenOutputFiles(job, extractDir, descriptors.file))
        break;
      RollBackExtraction(job, folder);
    }
    FreeProtectedDescriptors(&descriptors);
    if (!AskForFolder(browseTitle, extractDir)) {
      status = Status{ERROR_CANCELLED, LOC_BROWSE_CANCELLED};
      break;
    }
    chosen = true;
  }
  FreeProtectedDescriptors(&descriptors);
  return status;
}
