#include "launcher/own_image.h"

#include "base/holders.h"
#include "platform/platform.h"

Status OpenOwnImage(const WCHAR* path, HANDLE* file, uint32_t* size) {
  *file = nullptr;
  *size = 0;
  HandlePtr opened(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (opened.get() == INVALID_HANDLE_VALUE)
    return MakeStatus(GetLastError, ERROR_OPEN_FAILED, LOC_IMAGE_OPEN);

  // A low part of 0xFFFFFFFF is also a valid size; only the last error tells.
  SetLastError(0);
  DWORD high = 0;
  const DWORD low = GetFileSize(opened.get(), &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != 0) || high != 0)
    return Status{ERROR_SEEK_ON_DEVICE, LOC_IMAGE_SIZE};
  *file = opened.release();
  *size = low;
  return Status{0, LOC_IMAGE_OPEN};
}
