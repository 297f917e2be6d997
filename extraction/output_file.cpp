#include "extraction/output_file.h"

#include <cstring>

namespace {

// Records the identity of the file behind handle in item; false when it
// cannot be read.
bool RecordIdentity(HANDLE handle, ExtractItem* item) {
  BY_HANDLE_FILE_INFORMATION info;
  item->identified = false;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  item->fileVolume = info.dwVolumeSerialNumber;
  item->fileIndexHigh = info.nFileIndexHigh;
  item->fileIndexLow = info.nFileIndexLow;
  item->identified = true;
  return true;
}

// True when handle leads to the file recorded in item.
bool IsRecordedFile(HANDLE handle, const ExtractItem* item) {
  BY_HANDLE_FILE_INFORMATION info;
  return item->identified && GetFileInformationByHandle(handle, &info) &&
         info.dwVolumeSerialNumber == item->fileVolume &&
         info.nFileIndexHigh == item->fileIndexHigh && info.nFileIndexLow == item->fileIndexLow &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

}  // namespace

void MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

bool HandleIsAt(HANDLE handle, const char* path) {
  char final[1100];
  DWORD n = GetFinalPathNameByHandleA(handle, final, sizeof final, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof final) return false;
  const char* at = final;
  if (strncmp(at, "\\\\?\\UNC\\", 8) == 0) {
    // \\?\UNC\server\share -> \\server\share
    at += 6;
    final[6] = '\\';
  } else if (strncmp(at, "\\\\?\\", 4) == 0) {
    at += 4;
  }
  return _mbsicmp(reinterpret_cast<const unsigned char*>(at),
                  reinterpret_cast<const unsigned char*>(path)) == 0;
}

bool CreateOutputFile(ExtractItem* item, PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES security;
  memset(&security, 0, sizeof security);
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = descriptor;
  HANDLE file =
      CreateFileA(item->path, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                  descriptor ? &security : nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  item->handle = nullptr;
  item->held = false;
  if (file == INVALID_HANDLE_VALUE) return false;
  if (!RecordIdentity(file, item)) {
    DWORD error = GetLastError();
    MarkForDeletion(file);
    CloseHandle(file);
    SetLastError(error);
    return false;
  }
  item->handle = file;
  return true;
}

HANDLE OpenHeldFile(const char* path, ExtractItem* item) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      !HandleIsAt(file, path) || !RecordIdentity(file, item)) {
    CloseHandle(file);
    SetLastError(ERROR_FILE_INVALID);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

Status HoldWrittenFile(ExtractItem* item) {
  if (item->handle) CloseHandle(item->handle);
  item->handle = nullptr;
  item->held = false;
  HANDLE file = CreateFileA(item->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return MakeStatus(GetLastError, ERROR_SHARING_VIOLATION, LOC_OUTPUT_HOLD);
  if (!IsRecordedFile(file, item) || !HandleIsAt(file, item->path)) {
    CloseHandle(file);
    return Status{ERROR_FILE_INVALID, LOC_OUTPUT_HOLD};
  }
  item->handle = file;
  item->held = true;
  return Status{0, 0};
}

void DeleteItemFile(ExtractItem* item) {
  if (item->handle && !item->held) {
    MarkForDeletion(item->handle);
  } else {
    if (item->handle) CloseHandle(item->handle);
    item->handle = nullptr;
    // The name is looked up again only to reach the file it must lead to; a
    // link cannot stand in for it (it is opened, not followed, and then
    // differs), and the folder is pinned.
    if (item->identified && item->path[0]) {
      HANDLE file = CreateFileA(item->path, DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        if (IsRecordedFile(file, item) && HandleIsAt(file, item->path)) MarkForDeletion(file);
        CloseHandle(file);
      }
    }
  }
  ReleaseItemFile(item);
  item->identified = false;
}

bool VolumeKeepsAcls(HANDLE handle) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_PERSISTENT_ACLS);
}

void ReleaseItemFile(ExtractItem* item) {
  if (item->handle) CloseHandle(item->handle);
  item->handle = nullptr;
  item->held = false;
}
