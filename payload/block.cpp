#include "payload/block.h"

#include <cstring>

#include "base/holders.h"
#include "payload/block_format.h"
#include "payload/block_locations.h"
#include "payload/block_stream.h"
#include "payload/source_read.h"

namespace {

// The GUID whose stored form (block_format.h) is bytes.
constexpr GUID StoredGuid(const uint8_t (&bytes)[16]) {
  GUID guid{};
  guid.Data1 = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
               static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  guid.Data2 = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  guid.Data3 = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
  for (int i = 0; i < 8; i++) guid.Data4[i] = bytes[8 + i];
  return guid;
}

}  // namespace

const GUID MANIFEST_BLOCK_KIND = StoredGuid(MANIFEST_BLOCK_KIND_BYTES);
const GUID FILE_BLOCK_KIND = StoredGuid(FILE_BLOCK_KIND_BYTES);

namespace {

// The smallest buffer inflated content is decoded into at first.
const uint32_t DECODE_FIRST_CAPACITY = 4096;

bool SameKind(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         memcmp(a.Data4, b.Data4, 8) == 0;
}

struct Search {
  bool manifest;
  uint32_t id;
  bool found;
  BlockPlace place;
};

int MatchBlock(const BlockPlace* block, void* context) {
  auto* search = static_cast<Search*>(context);
  if (block->manifest != search->manifest || block->id != search->id) return 1;
  search->found = true;
  search->place = *block;
  return 0;
}

}  // namespace

Status ForEachBlock(const PayloadSource* source, BlockCallback callback, void* context) {
  uint32_t pos = source->size;
  for (;;) {
    if (pos < BLOCK_TRAILER_SIZE) return Status{0, 0};
    pos -= BLOCK_TRAILER_SIZE;
    uint8_t stored[BLOCK_TRAILER_SIZE];
    if (!ReadSourceBytes(source, pos, stored, sizeof stored))
      return Status{ERROR_READ_FAULT, LOC_TRAILER_READ};
    const BlockTrailer t = ReadBlockTrailer(stored);
    BlockPlace place = {false, t.id, 0, t.dataSize, t.signatureSize};

    if (IsBlockKind(t.kind, MANIFEST_BLOCK_KIND_BYTES)) {
      // The manifest block is the first of the chain: the walk ends here.
      if (pos < t.signatureSize) return Status{0, 0};
      const uint32_t sigPos = pos - t.signatureSize;
      if (sigPos < t.dataSize) return Status{0, 0};
      place.manifest = true;
      place.dataPos = sigPos - t.dataSize;
      callback(&place, context);
      return Status{0, 0};
    }
    if (!IsBlockKind(t.kind, FILE_BLOCK_KIND_BYTES)) return Status{0, 0};

    // A file block whose sizes do not fit in front of its trailer is not a
    // block: the bytes in front are tried as a trailer instead.
    if (pos < t.signatureSize) continue;
    pos -= t.signatureSize;
    if (pos < t.dataSize) continue;
    pos -= t.dataSize;
    place.dataPos = pos;
    if (!callback(&place, context)) return Status{0, 0};
  }
}

Status DecodeBlock(const PayloadSource* source, const BlockPlace& place, uint8_t** content,
                   uint32_t* contentSize) {
  *content = nullptr;
  *contentSize = 0;
  const BlockLocations& at = LocationsOf(place);
  const bool compressed = (source->flags & SOURCE_COMPRESSED) != 0;
  BlockStream stream;
  Status status = OpenBlockDecoding(&stream, source, place);
  if (status.code != 0) return status;

  // The content is decoded straight into one buffer. A copy has the size of
  // the data; inflated content has no size known in advance, so the buffer
  // starts at a few times the data and doubles whenever it is full:
  // reallocation copies at most about as many bytes as the content holds, in
  // a number of allocations logarithmic in its size.
  uint64_t initial = compressed ? uint64_t{place.dataSize} * 4 : place.dataSize;
  if (compressed && initial < DECODE_FIRST_CAPACITY) initial = DECODE_FIRST_CAPACITY;
  uint32_t capacity = initial > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(initial);
  LocalPtr<uint8_t> buffer(
      static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, capacity ? capacity : 1)));
  if (!buffer) {
    CloseBlockStream(&stream);
    if (compressed) return Status{ERROR_INVALID_DATA, at.inflateFailed};
    return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, at.copyNoMemory);
  }
  uint32_t size = 0;
  bool ended = false;
  while (!ended) {
    if (compressed && size == capacity) {
      // Only inflated content can outgrow its buffer. Memory running out
      // inside decompression is a decoding failure, as zlib's own is; so is
      // content that would reach 4 GiB.
      uint32_t grown = capacity > UINT32_MAX / 2 ? UINT32_MAX : capacity * 2;
      auto* moved = grown > capacity ? static_cast<uint8_t*>(
                                           LocalReAlloc(buffer.get(), grown, LMEM_MOVEABLE))
                                     : nullptr;
      if (!moved) {
        status = Status{ERROR_INVALID_DATA, at.inflateFailed};
        break;
      }
      buffer.release();
      buffer.reset(moved);
      capacity = grown;
    }
    uint32_t n = 0;
    status = ReadBlockContent(&stream, buffer.get() + size, capacity - size, &n, &ended);
    if (status.code != 0) break;
    size += n;
  }
  CloseBlockStream(&stream);
  if (status.code != 0) return status;
  // The manifest stays in memory for the whole run: what the doubling left
  // unused is given back. If the system cannot shrink the block, the larger
  // one serves as well.
  if (capacity > size) {
    auto* trimmed =
        static_cast<uint8_t*>(LocalReAlloc(buffer.get(), size ? size : 1, LMEM_MOVEABLE));
    if (trimmed) {
      buffer.release();
      buffer.reset(trimmed);
    }
  }
  *content = buffer.release();
  *contentSize = size;
  return status;
}

Status FindBlockPlace(const PayloadSource* source, const GUID& kind, uint32_t id,
                      BlockPlace* place) {
  // A search for any other kind walks back to the manifest block and finds
  // nothing, as the manifest block ends every search.
  Search search = {SameKind(kind, MANIFEST_BLOCK_KIND), id, false, {}};
  if (search.manifest || SameKind(kind, FILE_BLOCK_KIND)) {
    const Status walked = ForEachBlock(source, MatchBlock, &search);
    if (walked.code != 0) return walked;
  }
  if (!search.found) return Status{ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND};
  *place = search.place;
  return Status{0, 0};
}

Status FindBlock(const PayloadSource* source, const GUID& kind, uint32_t id, uint8_t** content,
                 uint32_t* contentSize) {
  *content = nullptr;
  *contentSize = 0;
  BlockPlace place = {};
  Status status = FindBlockPlace(source, kind, id, &place);
  if (status.code != 0) return status;
  return DecodeBlock(source, place, content, contentSize);
}
