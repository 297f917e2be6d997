#include "launcher/own_image.h"

#include "platform/platform.h"

Status ReadOwnImage(const WCHAR* path, uint8_t** image, uint32_t* imageSize) {
  *image = nullptr;
  *imageSize = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return MakeStatus(GetLastError, ERROR_OPEN_FAILED, LOC_IMAGE_OPEN);

  Status status{0, LOC_IMAGE_READ};
  // A size of 0xFFFFFFFF is also a valid low part; only the last error tells.
  SetLastError(0);
  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE && GetLastError() != 0) {
    status = Status{ERROR_SEEK_ON_DEVICE, LOC_IMAGE_SIZE};
  } else {
    auto* buffer = static_cast<uint8_t*>(LocalAlloc(LPTR, size));
    if (!buffer) {
      status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_IMAGE_NO_MEMORY);
    } else {
      DWORD read = 0;
      if (!ReadFile(file, buffer, size, &read, nullptr) || read != size) {
        status = Status{ERROR_READ_FAULT, LOC_IMAGE_READ};
        LocalFree(buffer);
      } else {
        *image = buffer;
        *imageSize = size;
      }
    }
  }
  CloseHandle(file);
  return status;
}
