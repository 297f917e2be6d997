#include "extraction/file_content.h"

#include <cstring>

#include "platform/platform.h"

bool FileHoldsContent(const char* path, const uint8_t* data, uint32_t size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD sizeHigh = 0;
  // A file of 4 GiB - 1 bytes reads as INVALID_FILE_SIZE too; no content in
  // memory is that large, so it differs either way.
  bool same = GetFileSize(file, &sizeHigh) == size && sizeHigh == 0 && size != INVALID_FILE_SIZE;
  uint8_t slice[16384];
  for (uint32_t at = 0; same && at < size;) {
    DWORD wanted = size - at < sizeof slice ? size - at : static_cast<DWORD>(sizeof slice);
    DWORD got = 0;
    if (!ReadFile(file, slice, wanted, &got, nullptr) || got == 0 || got > wanted) {
      same = false;
    } else {
      same = memcmp(slice, data + at, got) == 0;
      at += got;
    }
  }
  CloseHandle(file);
  return same;
}
