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

// The block has been decoded whole: checks its signature (signed sources)
// and marks the stream ended.
Status FinishBlock(BlockStream* stream) {
  if (IsSigned(stream)) {
    uint8_t digest[CONTENT_DIGEST_SIZE];
    if (!FinishContentDigest(&stream->digest, digest))
      return Status{ERROR_NOT_ENOUGH_MEMORY, LOC_FILE_NO_DIGEST};
    SignatureCheck check = VerifyBlockDigest(stream->source, stream->place, digest);
    if (check == SignatureCheck::KeyUnusable)
      return Status{static_cast<uint32_t>(NTE_BAD_KEY), LOC_FILE_BAD_KEY};
    if (check == SignatureCheck::DigestFailed) return Status{ERROR_READ_FAULT, LOC_FILE_READ};
    if (check != SignatureCheck::Verified) return Status{ERROR_FILE_CORRUPT, LOC_FILE_BAD_SIGNATURE};
  }
  stream->ended = true;
  return Status{0, IsCompressed(stream) ? LOC_FILE_INFLATED : LOC_FILE_COPIED};
}

// Reads the next slice of the block's data into the input buffer and hands
// it to zlib; false when it cannot be read.
bool RefillInput(BlockStream* stream) {
  uint32_t n = stream->place.dataSize - stream->consumed;
  if (n > BLOCK_READ_SLICE) n = BLOCK_READ_SLICE;
  if (!ReadSourceBytes(stream->source, stream->place.dataPos + stream->consumed,
                       stream->buffers, n))
    return false;
  stream->consumed += n;
  stream->inflater.next_in = stream->buffers;
  stream->inflater.avail_in = n;
  return true;
}

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
  memset(stream, 0, sizeof *stream);
  stream->source = source;
  stream->place = place;
  // As DecodeBlock: a block without data carries nothing a signature could
  // cover, and anyone could have appended it.
  if ((source->flags & SOURCE_SIGNED) && place.dataSize == 0)
    return Status{ERROR_FILE_CORRUPT, LOC_FILE_RAW};

  stream->buffers =
      static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, BLOCK_READ_SLICE + BLOCK_CONTENT_SLICE));
  if (!stream->buffers) {
    Status status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_FILE_STREAM_NO_MEMORY);
    CloseBlockStream(stream);
    return status;
  }
  if (IsSigned(stream) && !BeginContentDigest(&stream->digest)) {
    CloseBlockStream(stream);
    return Status{ERROR_NOT_ENOUGH_MEMORY, LOC_FILE_NO_DIGEST};
  }
  if (IsCompressed(stream)) {
    stream->inflater.zalloc = ZlibAlloc;
    stream->inflater.zfree = ZlibFree;
    if (inflateInit(&stream->inflater) != Z_OK) {
      CloseBlockStream(stream);
      return Status{ERROR_INVALID_DATA, LOC_FILE_INFLATE_FAILED};
    }
    stream->inflating = true;
  }
  return Status{0, 0};
}

Status ReadBlockSlice(BlockStream* stream, const uint8_t** slice, uint32_t* sliceSize,
                      bool* ended) {
  *slice = nullptr;
  *sliceSize = 0;
  *ended = false;
  if (!stream->buffers || stream->ended) return Status{ERROR_INVALID_DATA, LOC_FILE_INFLATE_FAILED};
  uint8_t* out = stream->buffers + BLOCK_READ_SLICE;
  uint32_t size = 0;

  if (!IsCompressed(stream)) {
    // The content is the data itself, read straight into the output buffer.
    size = stream->place.dataSize - stream->consumed;
    if (size > BLOCK_CONTENT_SLICE) size = BLOCK_CONTENT_SLICE;
    if (!ReadSourceBytes(stream->source, stream->place.dataPos + stream->consumed, out, size))
      return Status{ERROR_READ_FAULT, LOC_FILE_READ};
    stream->consumed += size;
  } else {
    z_stream& z = stream->inflater;
    z.next_out = out;
    z.avail_out = BLOCK_CONTENT_SLICE;
    int result = Z_OK;
    while (z.avail_out > 0) {
      if (z.avail_in == 0) {
        // All data used without reaching the end of the stream.
        if (stream->consumed == stream->place.dataSize)
          return Status{ERROR_INVALID_DATA, LOC_FILE_INFLATE_FAILED};
        if (!RefillInput(stream)) return Status{ERROR_READ_FAULT, LOC_FILE_READ};
      }
      result = inflate(&z, Z_NO_FLUSH);
      if (result == Z_STREAM_END) break;
      // Z_BUF_ERROR only says that no progress was possible, which cannot
      // happen with input and output room both available: any other result
      // is a bad stream, one that needs a dictionary, or zlib out of memory.
      if (result != Z_OK) return Status{ERROR_INVALID_DATA, LOC_FILE_INFLATE_FAILED};
    }
    size = BLOCK_CONTENT_SLICE - z.avail_out;
    if (result == Z_STREAM_END) {
      // Bytes after the end of the stream are ignored.
      inflateEnd(&z);
      stream->inflating = false;
    }
  }

  // Content sizes are 32-bit throughout: a block that would reach 4 GiB is
  // refused as a bad stream, as DecodeBlock refuses it.
  if (size > UINT32_MAX - stream->produced) return Status{ERROR_INVALID_DATA, LOC_FILE_INFLATE_FAILED};
  stream->produced += size;
  if (IsSigned(stream) && !AddToContentDigest(&stream->digest, out, size))
    return Status{ERROR_NOT_ENOUGH_MEMORY, LOC_FILE_NO_DIGEST};

  const bool last = IsCompressed(stream) ? !stream->inflating
                                          : stream->consumed == stream->place.dataSize;
  Status status{0, IsCompressed(stream) ? LOC_FILE_INFLATED : LOC_FILE_COPIED};
  if (last) {
    status = FinishBlock(stream);
    if (status.code != 0) return status;
  }
  *slice = out;
  *sliceSize = size;
  *ended = stream->ended;
  return status;
}

double BlockStreamProgress(const BlockStream* stream) {
  if (stream->place.dataSize == 0) return 1.0;
  return static_cast<double>(stream->consumed) / static_cast<double>(stream->place.dataSize);
}

void CloseBlockStream(BlockStream* stream) {
  if (stream->inflating) inflateEnd(&stream->inflater);
  EndContentDigest(&stream->digest);
  LocalFree(stream->buffers);
  memset(stream, 0, sizeof *stream);
}
