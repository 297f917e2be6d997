// The block chain at the end of a payload source, read backwards from its
// trailers (payload/block_format.h): one manifest block, then file blocks.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/payload_source.h"
#include "platform/platform.h"

// The block kinds of block_format.h as GUIDs, the form FindBlock is asked for.
extern const GUID MANIFEST_BLOCK_KIND;  // MANIFEST_BLOCK_KIND_BYTES
extern const GUID FILE_BLOCK_KIND;      // FILE_BLOCK_KIND_BYTES

// Where one block of a chain lies in its region.
struct BlockPlace {
  bool manifest;           // the manifest kind; otherwise the file kind
  uint32_t id;             // block id from the trailer
  uint32_t dataPos;        // offset of the data
  uint32_t dataSize;       // its size
  uint32_t signatureSize;  // size of the signature, which follows the data
};

// Called for each block the walk meets; returning 0 ends the walk.
typedef int (*BlockCallback)(const BlockPlace* block, void* context);

// Walks the trailers back from the end of source's region the way FindBlock
// searches and hands every block it meets to callback, the last block of the
// region first: file trailers whose sizes do not fit in front of them are
// stepped over, the walk ends at the manifest block (delivered last, when its
// sizes fit), at a trailer of neither kind, or at the start of the region.
// Each trailer is read with one 28-byte ReadSourceBytes; nothing else is read
// and nothing is allocated. Returns {0, 0} when the walk ended, or {30, 512}
// when a trailer could not be read from the own file: the walk ends there,
// after the blocks behind it were delivered.
Status ForEachBlock(const PayloadSource* source, BlockCallback callback, void* context);

// Decodes a block that ForEachBlock delivered for source's region, as
// FindBlock does once it has found it: the same statuses (those of FindBlock
// except not found and the trailer read) and the same promises about
// *content and *contentSize. A block of a region in memory is decoded in
// place; a block of the own file is first read whole, data and signature,
// into a buffer of their size: no memory for it LE/8 at 541/681, the read
// failed {30, 543/683} (manifest/file).
Status DecodeBlock(const PayloadSource* source, const BlockPlace& place, uint8_t** content,
                   uint32_t* contentSize);

// Finds where the block of this kind and id lies in source, walking as
// FindBlock does, without decoding it: {0, 0} with *place filled, not found
// {1168, 509}, or the walk's failure to read a trailer {30, 512}.
Status FindBlockPlace(const PayloadSource* source, const GUID& kind, uint32_t id,
                      BlockPlace* place);

// Finds the block of this kind and id by walking the trailers back from the
// end of the source (ForEachBlock), decodes it (inflates it when the source is
// compressed, verifies its signature with source->key when it is signed; a
// signed source without key blob counts as an unusable key) and returns the
// content in a new LocalAlloc buffer (*content, freed by the caller). File
// blocks are stepped over; the manifest block ends every search. Statuses: found {0, 547/687}
// (inflated) or {0, 562/702} (copied); not found {1168, 509}; a trailer that
// cannot be read {30, 512}; the block's own read (DecodeBlock); bad stream
// {13, 551/691}; no memory for a copy LE/8 at 566/706; key unusable
// {0x80090003, 599/739}; no SHA-256 from the system {8, 596/736}; bad signature
// {1392, 592/732} (manifest/file); a file block without data in a signed
// source {1392, 662}. On failure *content is null, *contentSize 0, and nothing
// is left allocated.
Status FindBlock(const PayloadSource* source, const GUID& kind, uint32_t id, uint8_t** content,
                 uint32_t* contentSize);
