#include "tools/stubpack/block_chain.h"

#include <algorithm>
#include <cstring>

#include "payload/little_endian.h"
#include "tools/stubpack/payload_writer.h"

using payload_writer::kFileKind;
using payload_writer::kManifestKind;
using payload_writer::kTrailerSize;

bool EndsWithTrailer(const uint8_t* region, uint32_t size) {
  if (size < kTrailerSize) return false;
  const uint8_t* kind = region + size - kTrailerSize;
  return memcmp(kind, kManifestKind, 16) == 0 || memcmp(kind, kFileKind, 16) == 0;
}

bool WalkBlockChain(const uint8_t* region, uint32_t size, std::vector<ChainBlock>* blocks,
                    uint32_t* chainStart) {
  blocks->clear();
  uint32_t pos = size;
  while (pos >= kTrailerSize) {
    pos -= kTrailerSize;
    const uint8_t* trailer = region + pos;
    ChainBlock block{};
    if (memcmp(trailer, kManifestKind, 16) == 0)
      block.manifest = true;
    else if (memcmp(trailer, kFileKind, 16) != 0)
      return false;
    block.id = GetU32(trailer + 16);
    block.signatureSize = GetU32(trailer + 20);
    block.dataSize = GetU32(trailer + 24);
    if (pos < block.signatureSize) return false;
    pos -= block.signatureSize;
    if (pos < block.dataSize) return false;
    pos -= block.dataSize;
    block.dataPos = pos;
    blocks->push_back(block);
    if (block.manifest) {
      std::reverse(blocks->begin(), blocks->end());
      *chainStart = pos;
      return true;
    }
  }
  return false;
}
