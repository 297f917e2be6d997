#include "extraction/file_content.h"

#include "payload/block_stream.h"
#include "platform/platform.h"

bool FileHoldsBlockContent(HANDLE file, const PayloadSource* source, const BlockPlace& place) {
  if (!(source->flags & SOURCE_SIGNED)) return false;
  DWORD sizeHigh = 0;
  // A file of 4 GiB - 1 bytes reads as INVALID_FILE_SIZE too; no block's
  // content is that large, so it differs either way.
  const DWORD size = GetFileSize(file, &sizeHigh);
  bool same = sizeHigh == 0 && size != INVALID_FILE_SIZE;
  ContentDigest digest = {};
  if (same) same = BeginContentDigest(&digest);
  uint8_t slice[16384];
  for (uint32_t at = 0; same && at < size;) {
    DWORD wanted = size - at < sizeof slice ? size - at : static_cast<DWORD>(sizeof slice);
    DWORD got = 0;
    if (!ReadFile(file, slice, wanted, &got, nullptr) || got == 0 || got > wanted) {
      same = false;
    } else {
      same = AddToContentDigest(&digest, slice, got);
      at += got;
    }
  }
  uint8_t sum[CONTENT_DIGEST_SIZE];
  if (same) same = FinishContentDigest(&digest, sum);
  EndContentDigest(&digest);
  return same && VerifyBlockDigest(source, place, sum) == SignatureCheck::Verified;
}
