#include "payload/block.h"

#include <zlib.h>

#include <cstring>

#include "base/holders.h"
#include "payload/block_format.h"
#include "payload/inflate_block.h"
#include "payload/source_read.h"
#include "payload/verify_signature.h"

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

// Where each outcome of decoding is reported, per block kind.
struct Locations {
  uint32_t readNoMemory, readFailed, inflated, inflateFailed, copied, copyNoMemory, badSignature,
      badKey, noDigest;
};
const Locations kManifestLocations = {
    LOC_MANIFEST_READ_NO_MEMORY, LOC_MANIFEST_READ,          LOC_MANIFEST_INFLATED,
    LOC_MANIFEST_INFLATE_FAILED, LOC_MANIFEST_COPIED,        LOC_MANIFEST_COPY_NO_MEMORY,
    LOC_MANIFEST_BAD_SIGNATURE,  LOC_MANIFEST_BAD_KEY,       LOC_MANIFEST_NO_DIGEST};
const Locations kFileLocations = {
    LOC_FILE_READ_NO_MEMORY, LOC_FILE_READ,          LOC_FILE_INFLATED,
    LOC_FILE_INFLATE_FAILED, LOC_FILE_COPIED,        LOC_FILE_COPY_NO_MEMORY,
    LOC_FILE_BAD_SIGNATURE,  LOC_FILE_BAD_KEY,       LOC_FILE_NO_DIGEST};

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
  const bool fileKind = !place.manifest;
  const uint32_t dataPos = place.dataPos, dataSize = place.dataSize;
  const uint32_t signatureSize = place.signatureSize;
  const Locations& at = fileKind ? kFileLocations : kManifestLocations;
  const bool isSigned = (source->flags & SOURCE_SIGNED) != 0;
  // A block without data carries nothing a signature could cover. The payload
  // lies outside what Authenticode protects, so such a block could be
  // appended by anyone: in a signed source it is refused, never returned raw.
  if (fileKind && isSigned && dataSize == 0) return Status{ERROR_FILE_CORRUPT, LOC_FILE_RAW};

  // A region in memory is decoded in place. From the own file, the block's
  // data and signature, which lie side by side, are read in one piece: this
  // serves the manifest block, which is small, and tools.
  const uint8_t* data = nullptr;
  LocalPtr<uint8_t> stored;
  if (!source->file) {
    data = source->data + dataPos;
  } else {
    const uint64_t total = uint64_t{dataSize} + signatureSize;
    if (total > source->size) return Status{ERROR_READ_FAULT, at.readFailed};
    stored.reset(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, total ? total : 1)));
    if (!stored) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, at.readNoMemory);
    if (!ReadSourceBytes(source, dataPos, stored.get(), static_cast<uint32_t>(total)))
      return Status{ERROR_READ_FAULT, at.readFailed};
    data = stored.get();
  }
  const uint8_t* signature = data + dataSize;

  LocalPtr<uint8_t> buffer;
  uint32_t size = 0;
  Status status;
  if (source->flags & SOURCE_COMPRESSED) {
    uint8_t* inflated = nullptr;
    if (InflateBlock(&inflated, &size, data, dataSize) != Z_OK)
      return Status{ERROR_INVALID_DATA, at.inflateFailed};
    buffer.reset(inflated);
    status = Status{0, at.inflated};
  } else {
    buffer.reset(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, dataSize)));
    if (!buffer) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, at.copyNoMemory);
    memcpy(buffer.get(), data, dataSize);
    size = dataSize;
    status = Status{0, at.copied};
  }

  if (isSigned) {
    SignatureCheck check =
        VerifyBlockSignature(source->key, buffer.get(), size, signature, signatureSize);
    if (check == SignatureCheck::KeyUnusable)
      return Status{static_cast<uint32_t>(NTE_BAD_KEY), at.badKey};
    // A digest the system could not compute says nothing about the block: it
    // is reported as the lack of memory it comes from, not as a bad signature.
    if (check == SignatureCheck::DigestFailed) return Status{ERROR_NOT_ENOUGH_MEMORY, at.noDigest};
    if (check != SignatureCheck::Verified) return Status{ERROR_FILE_CORRUPT, at.badSignature};
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
