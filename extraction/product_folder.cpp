#include "extraction/product_folder.h"

#include <cstring>

#include "base/text_format.h"
#include "extraction/output_file.h"

namespace {

// Full control for SYSTEM and Administrators, Administrators the owner, and
// protected: no entry is inherited from the folder the user chose. Folders
// pass both entries on to what is made in them.
const char kFolderDescriptor[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const char kFileDescriptor[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

PSECURITY_DESCRIPTOR MakeDescriptor(const char* text) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return nullptr;
  return descriptor;
}

// Opens dir as a folder with access (and attribute reading) shared by share,
// never through a link, and fills info. Null, nothing left open, when it
// cannot be opened, is not a folder, is a reparse point, or its final path is
// not dir (a link the system follows silently).
HANDLE OpenFolder(const char* dir, DWORD access, DWORD share, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle =
      CreateFileA(dir, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (!GetFileInformationByHandle(handle, info) ||
      !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !HandleIsAt(handle, dir)) {
    // Not ours to remove either: what stands there may be the link.
    CloseHandle(handle);
    return nullptr;
  }
  return handle;
}

}  // namespace

bool RunsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation;
  memset(&elevation, 0, sizeof elevation);
  DWORD size = 0;
  bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                  elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

bool MakeProtectedDescriptors(ProtectedDescriptors* descriptors) {
  descriptors->folder = nullptr;
  descriptors->file = nullptr;
  if (!RunsElevated()) return true;
  descriptors->folder = MakeDescriptor(kFolderDescriptor);
  descriptors->file = MakeDescriptor(kFileDescriptor);
  if (descriptors->folder && descriptors->file) return true;
  FreeProtectedDescriptors(descriptors);
  return false;
}

void FreeProtectedDescriptors(ProtectedDescriptors* descriptors) {
  if (descriptors->folder) LocalFree(descriptors->folder);
  if (descriptors->file) LocalFree(descriptors->file);
  descriptors->folder = nullptr;
  descriptors->file = nullptr;
}

bool PinProductFolder(const char* dir, PSECURITY_DESCRIPTOR descriptor, ProductFolder* folder) {
  folder->handle = nullptr;
  folder->created = false;
  SECURITY_ATTRIBUTES security;
  memset(&security, 0, sizeof security);
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = descriptor;
  // Made here or found: never "if missing, create", which a name made in
  // between could turn into the use of a folder that is not ours.
  bool created = CreateDirectoryA(dir, descriptor ? &security : nullptr) != FALSE;
  // Listing access takes part in sharing (an open for attributes alone would
  // not keep anyone from renaming the folder).
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE handle = OpenFolder(dir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, &info);
  if (!handle) return false;
  folder->handle = handle;
  folder->created = created;
  FormatText(folder->path, sizeof folder->path, "%s", dir);
  folder->volume = info.dwVolumeSerialNumber;
  folder->indexHigh = info.nFileIndexHigh;
  folder->indexLow = info.nFileIndexLow;
  return true;
}

void ReleaseProductFolder(ProductFolder* folder, bool remove) {
  if (!folder->handle) return;
  CloseHandle(folder->handle);
  if (remove && folder->created) {
    // Below the Windows folder only administrators can write, and below a
    // chosen one the folder's descriptor keeps the user out; should its name
    // lead anywhere else now, the identity differs and nothing is deleted.
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE handle = OpenFolder(folder->path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, &info);
    if (handle) {
      if (info.dwVolumeSerialNumber == folder->volume && info.nFileIndexHigh == folder->indexHigh &&
          info.nFileIndexLow == folder->indexLow)
        MarkForDeletion(handle);
      CloseHandle(handle);
    }
  }
  memset(folder, 0, sizeof *folder);
}
