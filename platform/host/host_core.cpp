// Host platform: memory, last error, code pages and no files, for running the launcher's
// payload and manifest code inside stubpack on Linux.
//
// The ANSI code page (CP_ACP) of the host is UTF-8, so every conversion is
// exact and no default character is ever used.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

// ---------------------------------------------------------------- last error

static thread_local DWORD t_lastError = 0;

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

// ---------------------------------------------------------------- memory

// Every block carries its size in front (two words, keeping 16-byte
// alignment) so that LocalReAlloc can copy and zero what it adds.
static void* RawAlloc(SIZE_T bytes, bool zero) {
  if (bytes > SIZE_MAX - sizeof(SIZE_T) * 2) {
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  void* raw = zero ? calloc(1, bytes + sizeof(SIZE_T) * 2) : malloc(bytes + sizeof(SIZE_T) * 2);
  if (!raw) {
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  auto* block = static_cast<SIZE_T*>(raw);
  block[0] = bytes;
  return block + 2;
}

static SIZE_T* Header(HLOCAL mem) { return static_cast<SIZE_T*>(mem) - 2; }

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  return RawAlloc(bytes, (flags & LMEM_ZEROINIT) != 0);
}

HLOCAL LocalReAlloc(HLOCAL mem, SIZE_T bytes, UINT flags) {
  if (!mem) {
    t_lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (bytes > SIZE_MAX - sizeof(SIZE_T) * 2) {
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  SIZE_T oldBytes = Header(mem)[0];
  void* raw = realloc(Header(mem), bytes + sizeof(SIZE_T) * 2);
  if (!raw) {
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;  // the old block stays valid, as on Windows
  }
  auto* block = static_cast<SIZE_T*>(raw);
  block[0] = bytes;
  auto* data = reinterpret_cast<uint8_t*>(block + 2);
  if (bytes > oldBytes && (flags & LMEM_ZEROINIT)) memset(data + oldBytes, 0, bytes - oldBytes);
  return data;
}

HLOCAL LocalFree(HLOCAL mem) {
  if (mem) free(Header(mem));
  return nullptr;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) { return LocalAlloc(flags, bytes); }
HGLOBAL GlobalFree(HGLOBAL mem) { return LocalFree(mem); }

// ---------------------------------------------------------------- files

// stubpack hands the payload code images it holds in memory; the host has no
// Windows file handles, so a read through one fails as for a handle that is
// not open.
BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  t_lastError = ERROR_INVALID_HANDLE;
  return FALSE;
}

// ---------------------------------------------------------------- code pages

// Decodes one UTF-8 character at text[i] (n bytes available); returns the code
// point, or U+FFFD for a malformed sequence, and advances i past what it used.
static uint32_t DecodeUtf8(const uint8_t* text, size_t n, size_t& i) {
  uint32_t c = text[i++];
  if (c < 0x80) return c;
  int extra = 0;
  uint32_t minimum = 0;
  if (c >= 0xC2 && c < 0xE0) {
    extra = 1, c &= 0x1F, minimum = 0x80;
  } else if (c >= 0xE0 && c < 0xF0) {
    extra = 2, c &= 0x0F, minimum = 0x800;
  } else if (c >= 0xF0 && c < 0xF5) {
    extra = 3, c &= 0x07, minimum = 0x10000;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < extra; k++) {
    if (i >= n || (text[i] & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (text[i++] & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0xFFFD;
  return c;
}

static size_t EncodeUtf8(uint32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

static bool IsUtf8(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

int WideCharToMultiByte(UINT codePage, DWORD, LPCWCH wide, int wideCount, LPSTR multi,
                        int multiSize, LPCCH, LPBOOL usedDefault) {
  if (!IsUtf8(codePage) || !wide || wideCount == 0 || wideCount < -1 || multiSize < 0 ||
      (multiSize > 0 && !multi)) {
    t_lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t count = 0;
  if (wideCount == -1) {
    while (wide[count]) count++;
    count++;  // the terminator is converted too
  } else {
    count = static_cast<size_t>(wideCount);
  }
  if (usedDefault) *usedDefault = FALSE;
  size_t needed = 0;
  for (size_t i = 0; i < count; i++) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // an unpaired surrogate
    }
    char bytes[4];
    size_t n = EncodeUtf8(c, bytes);
    if (multiSize > 0) {
      if (needed + n > static_cast<size_t>(multiSize)) {
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
      }
      memcpy(multi + needed, bytes, n);
    }
    needed += n;
    if (needed > INT32_MAX) {
      t_lastError = ERROR_INVALID_PARAMETER;
      return 0;
    }
  }
  return static_cast<int>(needed);
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCCH multi, int multiCount, LPWSTR wide,
                        int wideSize) {
  if (!IsUtf8(codePage) || !multi || multiCount == 0 || multiCount < -1 || wideSize < 0 ||
      (wideSize > 0 && !wide)) {
    t_lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t count = multiCount == -1 ? strlen(multi) + 1 : static_cast<size_t>(multiCount);
  auto* text = reinterpret_cast<const uint8_t*>(multi);
  size_t needed = 0;
  for (size_t i = 0; i < count;) {
    uint32_t c = DecodeUtf8(text, count, i);
    WCHAR units[2];
    size_t n = 1;
    if (c >= 0x10000) {
      units[0] = static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
      units[1] = static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
      n = 2;
    } else {
      units[0] = static_cast<WCHAR>(c);
    }
    if (wideSize > 0) {
      if (needed + n > static_cast<size_t>(wideSize)) {
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
      }
      memcpy(wide + needed, units, n * sizeof(WCHAR));
    }
    needed += n;
    if (needed > INT32_MAX) {
      t_lastError = ERROR_INVALID_PARAMETER;
      return 0;
    }
  }
  return static_cast<int>(needed);
}

// Length in bytes of the UTF-8 character at text, never past a terminator.
static size_t CharLength(const unsigned char* text) {
  if (!*text) return 0;
  size_t n = *text < 0xC0 ? 1 : *text < 0xE0 ? 2 : *text < 0xF0 ? 3 : 4;
  for (size_t k = 1; k < n; k++)
    if (!text[k]) return k;
  return n;
}

LPSTR CharNextA(LPCSTR text) {
  return const_cast<LPSTR>(text + CharLength(reinterpret_cast<const unsigned char*>(text)));
}

// ASCII letters compare without case; other characters compare by their bytes.
int _mbsicmp(const unsigned char* a, const unsigned char* b) {
  for (;;) {
    size_t na = CharLength(a), nb = CharLength(b);
    if (na <= 1 && nb <= 1) {
      int ca = *a, cb = *b;
      if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
      if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
      if (ca != cb) return ca < cb ? -1 : 1;
      if (!ca) return 0;
    } else {
      size_t n = na < nb ? na : nb;
      int c = memcmp(a, b, n);
      if (c) return c < 0 ? -1 : 1;
      if (na != nb) return na < nb ? -1 : 1;
    }
    a += na;
    b += nb;
  }
}
