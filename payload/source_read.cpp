#include "payload/source_read.h"

#include <cstring>

bool ReadSourceBytes(const PayloadSource* source, uint32_t pos, void* buffer, uint32_t size) {
  if (pos > source->size || size > source->size - pos) return false;
  if (size == 0) return true;
  if (!source->file) {
    memcpy(buffer, source->data + pos, size);
    return true;
  }
  OVERLAPPED at = {};
  at.Offset = pos;
  DWORD read = 0;
  return ReadFile(source->file, buffer, size, &read, &at) && read == size;
}
