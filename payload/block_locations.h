// Where each outcome of decoding a block is reported, per block kind: the
// manifest block and file blocks fail and succeed at locations of their own.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/block.h"

struct BlockLocations {
  uint32_t readNoMemory;    // LE/8: no memory for the slice the block's data is read into
  uint32_t readFailed;      // 30: the block's data or signature cannot be read
  uint32_t inflated;        // 0: decoded by inflating
  uint32_t inflateFailed;   // 13: a bad stream, or memory running out inside decompression
  uint32_t copied;          // 0: decoded as the data itself
  uint32_t copyNoMemory;    // LE/8: no memory for a copy of the whole content
  uint32_t streamNoMemory;  // LE/8: no memory for the buffers of a stream that hands out slices
  uint32_t badSignature;    // 1392
  uint32_t badKey;          // 0x80090003
  uint32_t noDigest;        // 8: the system cannot compute the SHA-256
};

inline constexpr BlockLocations kManifestLocations = {
    LOC_MANIFEST_READ_NO_MEMORY, LOC_MANIFEST_READ,          LOC_MANIFEST_INFLATED,
    LOC_MANIFEST_INFLATE_FAILED, LOC_MANIFEST_COPIED,        LOC_MANIFEST_COPY_NO_MEMORY,
    LOC_MANIFEST_READ_NO_MEMORY, LOC_MANIFEST_BAD_SIGNATURE, LOC_MANIFEST_BAD_KEY,
    LOC_MANIFEST_NO_DIGEST};
inline constexpr BlockLocations kFileLocations = {
    LOC_FILE_READ_NO_MEMORY,   LOC_FILE_READ,          LOC_FILE_INFLATED,
    LOC_FILE_INFLATE_FAILED,   LOC_FILE_COPIED,        LOC_FILE_COPY_NO_MEMORY,
    LOC_FILE_STREAM_NO_MEMORY, LOC_FILE_BAD_SIGNATURE, LOC_FILE_BAD_KEY,
    LOC_FILE_NO_DIGEST};

// The locations of place's kind.
inline const BlockLocations& LocationsOf(const BlockPlace& place) {
  return place.manifest ? kManifestLocations : kFileLocations;
}
