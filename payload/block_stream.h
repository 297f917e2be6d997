// Decoding one block as a stream: its data is read from the source in
// bounded slices (or used where it lies, for a source in memory) and
// inflated, each slice of content is handed to the caller and added to the
// block's SHA-256, and the signature is checked when the block ends. Memory
// is the same for a block of 1 KB or 1 GB. File blocks are written out this
// way; DecodeBlock decodes every block through it into one buffer.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "base/status.h"
#include "payload/block.h"
#include "payload/block_locations.h"
#include "payload/hash_worker.h"
#include "payload/payload_source.h"
#include "payload/verify_signature.h"

enum : uint32_t {
  BLOCK_READ_SLICE = 65536,      // block data read from the source per read, at most
  BLOCK_CONTENT_SLICE = 262144,  // content handed out per ReadBlockSlice, at most
};

// One block being decoded. Its z_stream and its hashing worker point into
// the structure itself: an open stream must stay where it was opened.
struct BlockStream {
  const PayloadSource* source;
  BlockPlace place;
  const BlockLocations* at;        // where outcomes are reported: those of the block's kind
  uint32_t consumed;   // bytes of the block's data read from the source so far
  uint32_t produced;   // bytes of content handed out so far
  uint8_t* buffer;     // owned (LocalAlloc): the read slices, then the content slices
  uint8_t* input;      // in buffer: where the own file's data is read to (null for memory)
  uint32_t inputSize;  // the size of one read slice
  uint8_t* output;     // in buffer: where content is inflated to for ReadBlockSlice, or null
  z_stream inflater;   // initialised while inflating
  bool inflating;      // inflater holds zlib state
  bool ended;          // the block ended and verified; nothing more to read
  ContentDigest digest;
  // Adds the slices ReadBlockSlice hands out to digest on a second thread,
  // for a signed block opened with OpenBlockStream. The slices are then
  // HASH_SLICES buffers used in turn (content slices when inflating, read
  // slices when the own file's data is the content), so that the worker
  // hashes one while the next is read, inflated and written.
  HashWorker hasher;
};

// Opens *stream (zeroed or closed) on the block at place in source, to be
// read with ReadBlockSlice: inflated when the source is compressed, verified
// with source->key when it is signed. It allocates one buffer: read slices
// when the source is the own file (BLOCK_READ_SLICE of data to inflate, or
// BLOCK_CONTENT_SLICE of data that is the content; no more than the block's
// data) and content slices (BLOCK_CONTENT_SLICE) when the source is
// compressed; a source in memory is read where it lies, and its uncompressed
// content handed out from there. A signed block is hashed by a worker thread
// started here (see BlockStream::hasher): HASH_SLICES content slices, or
// read slices of content, instead of one. {0, 0} when open; on failure
// nothing is left allocated or running. File blocks: a signed block without
// data {1392, 662}, no memory for the buffer or no thread LE/8 at 707, no
// SHA-256 {8, 736}, zlib that cannot start {13, 691}; the manifest block
// reports at 541, 596 and 551 instead.
Status OpenBlockStream(BlockStream* stream, const PayloadSource* source, const BlockPlace& place);

// Opens *stream as OpenBlockStream does, to be read with ReadBlockContent
// into the caller's memory: it allocates only the read slice of the own
// file, and no memory for it is LE/8 at 541/681 (manifest/file). Its content
// is hashed on the calling thread.
Status OpenBlockDecoding(BlockStream* stream, const PayloadSource* source,
                         const BlockPlace& place);

// Decodes the next slice of content of a stream opened with
// OpenBlockStream: *slice and *sliceSize (at most BLOCK_CONTENT_SLICE,
// possibly 0) stay valid until the next call or CloseBlockStream. *ended is
// true once the whole block has been decoded and its signature verified; the
// slice handed out with it is the last. Statuses for file blocks (the
// manifest block's are those of FindBlock): {0, 687} (inflated) or {0, 702}
// (copied); a bad or unended stream, memory running out inside zlib, or
// content reaching 4 GiB {13, 691}; the block's data or signature cannot be
// read {30, 683}; bad signature {1392, 732}; key unusable {0x80090003, 739};
// no SHA-256 {8, 736}. The signature is checked once the worker has hashed
// the last slice; the worker has then ended. After a failure, or once ended,
// the stream hands out nothing more and only needs closing.
Status ReadBlockSlice(BlockStream* stream, const uint8_t** slice, uint32_t* sliceSize,
                      bool* ended);

// As ReadBlockSlice, for a stream opened with either function: decodes up
// to room bytes of the next content into out[0..room) and
// sets *size to their number.
Status ReadBlockContent(BlockStream* stream, uint8_t* out, uint32_t room, uint32_t* size,
                        bool* ended);

// The share of the block's data used so far, 0 to 1 (1 for a block without
// data).
double BlockStreamProgress(const BlockStream* stream);

// Checks the signature of the block at place against digest, the SHA-256 of
// content found elsewhere (a file already on disk, say): Verified when it is
// the block's verified content. DigestFailed here means the signature could
// not be read from the source; KeyUnusable and Mismatch as usual.
SignatureCheck VerifyBlockDigest(const PayloadSource* source, const BlockPlace& place,
                                 const uint8_t digest[CONTENT_DIGEST_SIZE]);

// Stops the stream's hashing worker (waiting for it), releases what the
// stream holds and zeroes it; safe on a zeroed or closed stream and when
// called twice.
void CloseBlockStream(BlockStream* stream);
