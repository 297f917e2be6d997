#include "payload/block_stream.h"

#include <cstring>

#include "payload/source_read.h"

namespace {

// zlib's state comes from LocalAlloc like every other buffer of the launcher.
voidpf ZlibAlloc(voidpf, uInt items, uInt size) {
  if (size && items > UINT32_MAX / size) return Z_NULL;
  return LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(items) * size);
}
void ZlibFree(voidpf, voidpf block) { LocalFree(block); }

bool IsCompressed(const BlockStream* stream) {
  return (stream->source->flags & SOURCE_COMPRESSED) != 0;
}
bool IsSigned(const BlockStream* stream) { return (stream->source->flags & SOURCE_SIGNED) != 0; }

// Opens the stream; the buffer holds the read slices for the own file and,
// when withOutput, the content slices to inflate into: one of each, or
// HASH_SLICES of those that are the content handed out when a worker hashes
// them. A failure to allocate the buffer or start the worker is reported at
// noMemory.
Status Open(BlockStream* stream, const PayloadSource* source, const BlockPlace& place,
            bool withOutput, uint32_t BlockLocations::*noMemory) {
  memset(stream, 0, sizeof *stream);
  stream->source = source;
  stream->place = place;
  stream->at = &LocationsOf(place);
  // A file block without data carries nothing a signature could cover. The
  // payload lies outside what Authenticode protects, so such a block could
  // be appended by anyone: in a signed source it is refused, never returned
  // raw.
  if (!place.manifest && IsSigned(stream) && place.dataSize == 0)
    return Status{ERROR_FILE_CORRUPT, LOC_FILE_RAW};

  const bool worker = withOutput && IsSigned(stream);
  const uint32_t slices = worker ? uint32_t{HASH_SLICES} : 1;
  // Data to inflate is read a small slice at a time; data that is the
  // content is read straight into the slice handed out. The slice need not
  // be larger than the block's data.
  uint32_t inputSlices = 0;
  if (source->file) {
    stream->inputSize = IsCompressed(stream) ? BLOCK_READ_SLICE : BLOCK_CONTENT_SLICE;
    if (stream->inputSize > place.dataSize) stream->inputSize = place.dataSize ? place.dataSize : 1;
    inputSlices = IsCompressed(stream) ? 1 : slices;
  }
  const uint32_t outputSlices = withOutput && IsCompressed(stream) ? slices : 0;
  const SIZE_T bytes = SIZE_T{stream->inputSize} * inputSlices +
                       SIZE_T{BLOCK_CONTENT_SLICE} * outputSlices;
  if (bytes > 0) {
    stream->buffer = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, bytes));
    if (!stream->buffer) {
      Status status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, stream->at->*noMemory);
      CloseBlockStream(stream);
      return status;
    }
    if (inputSlices) stream->input = stream->buffer;
    if (outputSlices) stream->output = stream->buffer + SIZE_T{stream->inputSize} * inputSlices;
  }
  if (IsSigned(stream) && !BeginContentDigest(&stream->digest)) {
    Status status{ERROR_NOT_ENOUGH_MEMORY, stream->at->noDigest};
    CloseBlockStream(stream);
    return status;
  }
  if (IsCompressed(stream)) {
    stream->inflater.zalloc = ZlibAlloc;
    stream->inflater.zfree = ZlibFree;
    if (inflateInit(&stream->inflater) != Z_OK) {
      Status status{ERROR_INVALID_DATA, stream->at->inflateFailed};
      CloseBlockStream(stream);
      return status;
    }
    stream->inflating = true;
  }
  // Started last, once the digest is begun: the worker's first call into
  // the system's CNG comes after the main thread's.
  if (worker && !StartHashWorker(&stream->hasher, &stream->digest)) {
    Status status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, stream->at->*noMemory);
    CloseBlockStream(stream);
    return status;
  }
  return Status{0, 0};
}

// The next piece of the block's data, at most most bytes: where it lies for
// a source in memory, read into the read slice at into (at most its size)
// for the own file. False when it cannot be read.
bool NextData(BlockStream* stream, uint8_t* into, uint32_t most, const uint8_t** data,
              uint32_t* size) {
  const PayloadSource* source = stream->source;
  const uint32_t pos = stream->place.dataPos + stream->consumed;
  uint32_t n = stream->place.dataSize - stream->consumed;
  if (n > most) n = most;
  if (source->file) {
    if (n > stream->inputSize) n = stream->inputSize;
    if (!ReadSourceBytes(source, pos, into, n)) return false;
    *data = into;
  } else {
    if (uint64_t{pos} + n > source->size) return false;
    *data = source->data + pos;
  }
  stream->consumed += n;
  *size = n;
  return true;
}

// Inflates up to room bytes of content into out; *size is their number.
Status InflateInto(BlockStream* stream, uint8_t* out, uint32_t room, uint32_t* size) {
  z_stream& z = stream->inflater;
  z.next_out = out;
  z.avail_out = room;
  int result = Z_OK;
  while (z.avail_out > 0) {
    if (z.avail_in == 0) {
      // All data used without reaching the end of the stream.
      if (stream->consumed == stream->place.dataSize)
        return Status{ERROR_INVALID_DATA, stream->at->inflateFailed};
      // Data in memory is handed over a read slice at a time too, so that
      // the progress (BlockStreamProgress) moves as evenly as from a file.
      const uint8_t* data = nullptr;
      uint32_t n = 0;
      if (!NextData(stream, stream->input, BLOCK_READ_SLICE, &data, &n))
        return Status{ERROR_READ_FAULT, stream->at->readFailed};
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = n;
    }
    result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) break;
    // Z_BUF_ERROR only says that no progress was possible, which cannot
    // happen with input and output room both available: any other result is
    // a bad stream, one that needs a dictionary, or zlib out of memory.
    if (result != Z_OK) return Status{ERROR_INVALID_DATA, stream->at->inflateFailed};
  }
  *size = room - z.avail_out;
  if (result == Z_STREAM_END) {
    // Bytes after the end of the stream are ignored.
    inflateEnd(&z);
    stream->inflating = false;
  }
  return Status{0, 0};
}

// size bytes of content at content were decoded: counts them, adds them to
// the digest (hands them to the worker when queued, else on this thread)
// and, after the last, checks the signature and ends the stream.
Status Deliver(BlockStream* stream, const uint8_t* content, uint32_t size, bool queued,
               bool* ended) {
  const BlockLocations& at = *stream->at;
  // Content sizes are 32-bit throughout: a block that would reach 4 GiB is
  // refused as a bad stream.
  if (size > UINT32_MAX - stream->produced) return Status{ERROR_INVALID_DATA, at.inflateFailed};
  stream->produced += size;
  if (IsSigned(stream)) {
    const bool added = queued ? QueueForHash(&stream->hasher, content, size)
                              : AddToContentDigest(&stream->digest, content, size);
    if (!added) return Status{ERROR_NOT_ENOUGH_MEMORY, at.noDigest};
  }

  const bool last = IsCompressed(stream) ? !stream->inflating
                                          : stream->consumed == stream->place.dataSize;
  if (last && IsSigned(stream)) {
    // The worker has taken every slice once it has hashed the last; it
    // ends before the digest is read.
    const bool hashed = !stream->hasher.thread || WaitForHashes(&stream->hasher);
    StopHashWorker(&stream->hasher);
    uint8_t digest[CONTENT_DIGEST_SIZE];
    if (!hashed || !FinishContentDigest(&stream->digest, digest))
      return Status{ERROR_NOT_ENOUGH_MEMORY, at.noDigest};
    SignatureCheck check = VerifyBlockDigest(stream->source, stream->place, digest);
    if (check == SignatureCheck::KeyUnusable)
      return Status{static_cast<uint32_t>(NTE_BAD_KEY), at.badKey};
    if (check == SignatureCheck::DigestFailed) return Status{ERROR_READ_FAULT, at.readFailed};
    if (check != SignatureCheck::Verified) return Status{ERROR_FILE_CORRUPT, at.badSignature};
  }
  stream->ended = last;
  *ended = last;
  return Status{0, IsCompressed(stream) ? at.inflated : at.copied};
}

bool CanRead(const BlockStream* stream) { return stream->source && !stream->ended; }

}  // namespace

SignatureCheck VerifyBlockDigest(const PayloadSource* source, const BlockPlace& place,
                                 const uint8_t digest[CONTENT_DIGEST_SIZE]) {
  // A real signature is 256 bytes; a longer one is read no further than that,
  // since it cannot verify anyway.
  uint8_t signature[257];
  uint32_t size = place.signatureSize < sizeof signature ? place.signatureSize : sizeof signature;
  if (!ReadSourceBytes(source, place.dataPos + place.dataSize, signature, size))
    return SignatureCheck::DigestFailed;
  if (place.signatureSize > size) return SignatureCheck::Mismatch;
  return VerifyDigestSignature(source->key, digest, signature, size);
}

Status OpenBlockStream(BlockStream* stream, const PayloadSource* source, const BlockPlace& place) {
  return Open(stream, source, place, true, &BlockLocations::streamNoMemory);
}

Status OpenBlockDecoding(BlockStream* stream, const PayloadSource* source,
                         const BlockPlace& place) {
  return Open(stream, source, place, false, &BlockLocations::readNoMemory);
}

Status ReadBlockSlice(BlockStream* stream, const uint8_t** slice, uint32_t* sliceSize,
                      bool* ended) {
  *slice = nullptr;
  *sliceSize = 0;
  *ended = false;
  if (!CanRead(stream) || (IsCompressed(stream) && !stream->output))
    return Status{ERROR_INVALID_DATA, stream->at ? stream->at->inflateFailed : LOC_FILE_INFLATE_FAILED};
  // With a worker, the slice to fill is the one it no longer reads.
  uint32_t slot = 0;
  if (stream->hasher.thread) {
    slot = NextHashSlot(&stream->hasher);
    if (slot == HASH_SLICES) return Status{ERROR_NOT_ENOUGH_MEMORY, stream->at->noDigest};
  }
  const uint8_t* content = nullptr;
  uint32_t size = 0;
  if (IsCompressed(stream)) {
    uint8_t* out = stream->output + SIZE_T{BLOCK_CONTENT_SLICE} * slot;
    Status status = InflateInto(stream, out, BLOCK_CONTENT_SLICE, &size);
    if (status.code != 0) return status;
    content = out;
  } else {
    // The content is the data itself, handed out where it lies or was read.
    uint8_t* into = stream->input ? stream->input + SIZE_T{stream->inputSize} * slot : nullptr;
    if (!NextData(stream, into, BLOCK_CONTENT_SLICE, &content, &size))
      return Status{ERROR_READ_FAULT, stream->at->readFailed};
  }
  Status status = Deliver(stream, content, size, stream->hasher.thread != nullptr, ended);
  if (status.code != 0) {
    *ended = false;
    return status;
  }
  *slice = content;
  *sliceSize = size;
  return status;
}

Status ReadBlockContent(BlockStream* stream, uint8_t* out, uint32_t room, uint32_t* size,
                        bool* ended) {
  *size = 0;
  *ended = false;
  if (!CanRead(stream))
    return Status{ERROR_INVALID_DATA, stream->at ? stream->at->inflateFailed : LOC_FILE_INFLATE_FAILED};
  // Content in the caller's memory is hashed here, after whatever a worker
  // still holds: the read slice is reused, and the digest keeps the order.
  if (stream->hasher.thread && !WaitForHashes(&stream->hasher))
    return Status{ERROR_NOT_ENOUGH_MEMORY, stream->at->noDigest};
  uint32_t n = 0;
  if (IsCompressed(stream)) {
    Status status = InflateInto(stream, out, room, &n);
    if (status.code != 0) return status;
  } else {
    const uint8_t* data = nullptr;
    if (!NextData(stream, stream->input, room, &data, &n))
      return Status{ERROR_READ_FAULT, stream->at->readFailed};
    memcpy(out, data, n);
  }
  Status status = Deliver(stream, out, n, false, ended);
  if (status.code != 0) {
    *ended = false;
    return status;
  }
  *size = n;
  return status;
}

double BlockStreamProgress(const BlockStream* stream) {
  if (stream->place.dataSize == 0) return 1.0;
  // What zlib has taken of the data, not what was read for it: a slice of
  // data that inflates a thousandfold is used over many content slices.
  uint32_t used = stream->consumed;
  if (stream->inflating) used -= stream->inflater.avail_in;
  return static_cast<double>(used) / static_cast<double>(stream->place.dataSize);
}

void CloseBlockStream(BlockStream* stream) {
  // The worker first: it may still read a slice and add to the digest.
  StopHashWorker(&stream->hasher);
  if (stream->inflating) inflateEnd(&stream->inflater);
  EndContentDigest(&stream->digest);
  LocalFree(stream->buffer);
  memset(stream, 0, sizeof *stream);
}
