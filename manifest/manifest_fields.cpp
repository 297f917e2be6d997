#include "manifest/manifest_fields.h"

#include <cstring>

#include "platform/platform.h"

bool ReadManifestFields(const char* text, char* const* fields, int count) {
  // By character, as CharNextA steps: in a double-byte code page 0x5C is also
  // the trail byte of many characters, and such a byte is never a separator.
  const char* p = text;
  for (int i = 0; i < count; i++) {
    if (i > 0) {
      if (*p != '\\') return false;
      p++;
    }
    const char* start = p;
    while (*p && *p != '\\') p = CharNextA(p);
    size_t length = static_cast<size_t>(p - start);
    if (length == 0 || length >= MANIFEST_FIELD_SIZE) return false;
    memcpy(fields[i], start, length);
    fields[i][length] = 0;
  }
  return true;
}

const char* NextListPiece(const char* piece) {
  const char* separator = strchr(piece, ';');
  return separator ? separator + 1 : nullptr;
}
