#include "manifest/manifest_walk.h"

#include <cstring>

#include "payload/little_endian.h"
#include "platform/platform.h"

namespace {

// The ANSI form of `units` UTF-16LE units at `bytes`, in a new zeroed
// LocalAlloc buffer with room for a terminating zero; null without memory.
// Text that sits at an odd offset (behind an entry of odd length) is first
// copied to aligned memory, as the conversion reads whole 16-bit units.
char* ConvertText(const uint8_t* bytes, int units) {
  if (units == 0) return static_cast<char*>(LocalAlloc(LPTR, 1));
  const WCHAR* wide = reinterpret_cast<const WCHAR*>(bytes);
  WCHAR* aligned = nullptr;
  if (reinterpret_cast<uintptr_t>(bytes) % alignof(WCHAR) != 0) {
    aligned = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(units) * 2));
    if (!aligned) return nullptr;
    memcpy(aligned, bytes, static_cast<size_t>(units) * 2);
    wide = aligned;
  }
  int needed = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
  char* text = static_cast<char*>(LocalAlloc(LPTR, static_cast<SIZE_T>(needed) + 1));
  if (text && needed > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, units, text, needed, nullptr, nullptr);
  LocalFree(aligned);
  return text;
}

}  // namespace

bool ForEachManifestEntry(const PayloadSources* sources, ManifestEntryCallback callback,
                          void* context) {
  for (uint32_t i = 0; i < sources->count; i++) {
    const uint8_t* manifest = sources->items[i].manifest;
    const uint64_t size = sources->items[i].manifestSize;
    // 64-bit offsets: a textBytes near 2^32 must not wrap to a short entry.
    for (uint64_t pos = 0; pos < size;) {
      if (size < pos + 8) return false;
      uint32_t key = GetU32(manifest + pos);
      uint32_t textBytes = GetU32(manifest + pos + 4);
      if (size < pos + 8 + textBytes) return false;
      // An odd last byte is not a whole unit and is left out.
      char* text = ConvertText(manifest + pos + 8, static_cast<int>(textBytes / 2));
      if (!text) return false;
      int more = callback(i, key, text, context);
      LocalFree(text);
      if (!more) return true;
      pos += 8 + static_cast<uint64_t>(textBytes);
    }
  }
  return true;
}
