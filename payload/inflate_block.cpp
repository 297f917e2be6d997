#include "payload/inflate_block.h"

#include <zlib.h>

#include "platform/platform.h"

namespace {

// The output buffer: size bytes used out of capacity. The capacity at least
// doubles whenever it grows, so that decoding costs copying linear in the
// output even though each inflate call is given only step bytes of room.
struct Output {
  uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t capacity = 0;

  // Makes room for step more bytes after size; false when memory runs out.
  bool Reserve(uint32_t step) {
    if (step > UINT32_MAX - size) return false;
    uint32_t needed = size + step;
    if (needed <= capacity) return true;
    if (!data) {
      data = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, needed));
      if (!data) return false;
      capacity = needed;
      return true;
    }
    uint32_t grown = capacity > UINT32_MAX / 2 ? UINT32_MAX : capacity * 2;
    if (grown < needed) grown = needed;
    auto* moved = static_cast<uint8_t*>(LocalReAlloc(data, grown, LMEM_MOVEABLE));
    if (!moved) return false;
    data = moved;
    capacity = grown;
    return true;
  }
};

}  // namespace

int InflateBlock(uint8_t** content, uint32_t* contentSize, const uint8_t* data, uint32_t dataSize) {
  *content = nullptr;
  *contentSize = 0;
  const uint32_t step = dataSize < 256 ? 256 : dataSize / 8;

  z_stream stream = {};
  int result = inflateInit_(&stream, "1.2.11", static_cast<int>(sizeof stream));
  if (result != Z_OK) return result;

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
        stream.next_out = out.data + out.size;
        stream.avail_out = step;
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_NEED_DICT || result == Z_STREAM_ERROR) result = Z_DATA_ERROR;
      }
      if (result == Z_DATA_ERROR || result == Z_MEM_ERROR) {
        inflateEnd(&stream);
        LocalFree(out.data);
        return result;
      }
      out.size += step - stream.avail_out;
    } while (stream.avail_out == 0);
    consumed += slice - stream.avail_in;
    if (result == Z_STREAM_END) break;
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    // All input used without reaching the end of the stream.
    LocalFree(out.data);
    return Z_DATA_ERROR;
  }
  // The capacity may reach twice the content, and every decoded file stays in
  // memory until the installer has run: give the rest back. If the system
  // cannot shrink the block, the larger one serves as well.
  if (out.capacity > out.size) {
    auto* trimmed =
        static_cast<uint8_t*>(LocalReAlloc(out.data, out.size ? out.size : 1, LMEM_MOVEABLE));
    if (trimmed) out.data = trimmed;
  }
  *content = out.data;
  *contentSize = out.size;
  return Z_OK;
}
