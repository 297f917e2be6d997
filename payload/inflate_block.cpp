#include "payload/inflate_block.h"

#include <zlib.h>

#include <memory>

#include "base/holders.h"
#include "platform/platform.h"

namespace {

// The output buffer, freed unless released: size bytes used out of
// capacity. The capacity at least doubles whenever it grows, so that decoding
// costs copying linear in the output even though each inflate call is given
// only step bytes of room.
struct Output {
  LocalPtr<uint8_t> data;
  uint32_t size = 0;
  uint32_t capacity = 0;

  // Makes room for step more bytes after size; false when memory runs out.
  bool Reserve(uint32_t step) {
    if (step > UINT32_MAX - size) return false;
    uint32_t needed = size + step;
    if (needed <= capacity) return true;
    if (!data) {
      data.reset(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, needed)));
      if (!data) return false;
      capacity = needed;
      return true;
    }
    uint32_t grown = capacity > UINT32_MAX / 2 ? UINT32_MAX : capacity * 2;
    if (grown < needed) grown = needed;
    auto* moved = static_cast<uint8_t*>(LocalReAlloc(data.get(), grown, LMEM_MOVEABLE));
    if (!moved) return false;
    Moved(moved);
    capacity = grown;
    return true;
  }

  // LocalReAlloc succeeded: the old block is gone or is the new one, which
  // the output holds from now on.
  void Moved(uint8_t* block) {
    data.release();
    data.reset(block);
  }
};

// Ends an initialised inflate stream.
struct InflateEnder {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

}  // namespace

int InflateBlock(uint8_t** content, uint32_t* contentSize, const uint8_t* data, uint32_t dataSize) {
  *content = nullptr;
  *contentSize = 0;
  const uint32_t step = dataSize < 256 ? 256 : dataSize / 8;

  z_stream stream = {};
  int result = inflateInit_(&stream, "1.2.11", static_cast<int>(sizeof stream));
  if (result != Z_OK) return result;
  const std::unique_ptr<z_stream, InflateEnder> ending(&stream);

  Output out;
  uint32_t consumed = 0;
  for (;;) {
    uint32_t slice = dataSize - consumed < step ? dataSize - consumed : step;
    if (slice == 0) break;
    stream.next_in = const_cast<Bytef*>(data + consumed);
    stream.avail_in = slice;
    do {
      if (!out.Reserve(step)) {
        result = Z_MEM_ERROR;
      } else {
        stream.next_out = out.data.get() + out.size;
        stream.avail_out = step;
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_NEED_DICT || result == Z_STREAM_ERROR) result = Z_DATA_ERROR;
      }
      if (result == Z_DATA_ERROR || result == Z_MEM_ERROR) return result;
      out.size += step - stream.avail_out;
    } while (stream.avail_out == 0);
    consumed += slice - stream.avail_in;
    if (result == Z_STREAM_END) break;
  }
  // All input used without reaching the end of the stream.
  if (result != Z_STREAM_END) return Z_DATA_ERROR;
  // The capacity may reach twice the content, and every decoded file stays in
  // memory until the installer has run: give the rest back. If the system
  // cannot shrink the block, the larger one serves as well.
  if (out.capacity > out.size) {
    auto* trimmed = static_cast<uint8_t*>(
        LocalReAlloc(out.data.get(), out.size ? out.size : 1, LMEM_MOVEABLE));
    if (trimmed) out.Moved(trimmed);
  }
  *content = out.data.release();
  *contentSize = out.size;
  return Z_OK;
}
