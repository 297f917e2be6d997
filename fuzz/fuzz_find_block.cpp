// FindBlock on arbitrary regions. The first byte chooses the source flags
// (bits 0-1), the wanted kind (bit 2: file, else manifest) and, for a file,
// the id (999 + the bits above); the rest is the region, read in place from
// libFuzzer's exactly sized buffer.
#include <cstdlib>

#include "payload/block.h"
#include "platform/fake/fake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > UINT32_MAX) return 0;
  fake::Reset();
  const uint8_t mode = data[0];
  PayloadSource source = MemoryRegion(data + 1, static_cast<uint32_t>(size - 1));
  source.flags = mode & 3u;
  source.key = kCompiledVerificationKey;
  const bool file = (mode & 4) != 0;
  uint8_t* content = nullptr;
  uint32_t contentSize = 0;
  Status status = FindBlock(&source, file ? FILE_BLOCK_KIND : MANIFEST_BLOCK_KIND,
                            file ? 999u + (mode >> 3) : 0u, &content, &contentSize);
  // Its promises: content only on success, nothing else left allocated.
  if (status.code == 0) {
    if (!content) abort();
    LocalFree(content);
  } else if (content || contentSize) {
    abort();
  }
  if (fake::W().memory.liveAllocations != 0) abort();
  return 0;
}
