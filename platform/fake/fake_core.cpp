// Fake platform: memory, last error, process facts, texts, code pages and
// message boxes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {

World& W() {
  static World world;
  return world;
}

void Reset() { W() = World{}; }

void NoteCall() {
  if (OnCreatedThread()) return;
  if (!W().system.dllSearchRestricted) W().system.callsBeforeDllSearchRestricted++;
}

SIZE_T AllocationSize(const void* memory) { return static_cast<const SIZE_T*>(memory)[-2]; }

HANDLE AddHandle(std::unique_ptr<HandleObject> object) {
  HANDLE handle = object.get();
  W().handles[handle] = std::move(object);
  return handle;
}

HandleObject* FindHandle(HANDLE handle) {
  auto it = W().handles.find(handle);
  return it == W().handles.end() ? nullptr : it->second.get();
}

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = static_cast<uint8_t>(utf8[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (extra) c &= (0x3F >> extra);
    i++;
    for (int k = 0; k < extra && i < utf8.size(); k++, i++) c = (c << 6) | (utf8[i] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

static void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf8(const std::u16string& utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); i++) {
    uint32_t c = utf16[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      i++;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace fake

using fake::NoteCall;
using fake::W;

// ---------------------------------------------------------------- memory

DWORD GetLastError() { return W().lastError; }
void SetLastError(DWORD code) { W().lastError = code; }

static bool AllocationFails() {
  uint32_t n = ++W().memory.allocationCalls;
  if (W().memory.failAllocations.count(n)) {
    W().lastError = ERROR_NOT_ENOUGH_MEMORY;
    return true;
  }
  return false;
}

// Every block carries its size in front so that LocalReAlloc can copy.
static void* RawAlloc(SIZE_T bytes, bool zero) {
  auto* block = static_cast<SIZE_T*>(zero ? calloc(1, bytes + sizeof(SIZE_T) * 2)
                                          : malloc(bytes + sizeof(SIZE_T) * 2));
  if (!block) return nullptr;
  block[0] = bytes;
  W().memory.liveAllocations++;
  W().memory.liveBytes += bytes;
  if (W().memory.liveBytes > W().memory.peakLiveBytes)
    W().memory.peakLiveBytes = W().memory.liveBytes;
  return block + 2;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  NoteCall();
  if (AllocationFails()) return nullptr;
  return RawAlloc(bytes, (flags & LMEM_ZEROINIT) != 0);
}

HLOCAL LocalReAlloc(HLOCAL mem, SIZE_T bytes, UINT flags) {
  NoteCall();
  if (!mem) {
    W().lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  auto* old = static_cast<SIZE_T*>(mem) - 2;
  SIZE_T oldBytes = old[0];
  // Shrinking a block needs no new memory: it is neither counted nor failed.
  if (bytes > oldBytes && AllocationFails()) return nullptr;
  void* fresh = RawAlloc(bytes, false);
  if (!fresh) return nullptr;
  memcpy(fresh, mem, oldBytes < bytes ? oldBytes : bytes);
  if (bytes > oldBytes && (flags & LMEM_ZEROINIT))
    memset(static_cast<char*>(fresh) + oldBytes, 0, bytes - oldBytes);
  // A real LocalReAlloc may move the block; this one always does, so that
  // callers that keep a stale pointer are caught.
  free(old);
  W().memory.liveAllocations--;
  W().memory.liveBytes -= oldBytes;
  return fresh;
}

HLOCAL LocalFree(HLOCAL mem) {
  NoteCall();
  if (mem) {
    auto* block = static_cast<SIZE_T*>(mem) - 2;
    W().memory.liveBytes -= block[0];
    free(block);
    W().memory.liveAllocations--;
  }
  return nullptr;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) { return LocalAlloc(flags, bytes); }
HGLOBAL GlobalFree(HGLOBAL mem) { return LocalFree(mem); }

// ---------------------------------------------------------------- process

LPWSTR GetCommandLineW() {
  NoteCall();
  return const_cast<LPWSTR>(W().system.commandLine.c_str());
}

// Windows cuts the path to size - 1 units, terminates it and returns size
// with ERROR_INSUFFICIENT_BUFFER when it does not fit.
template <typename Char>
static DWORD CopyModulePath(const std::basic_string<Char>& path, Char* buffer, DWORD size) {
  if (size == 0) {
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  if (path.size() >= size) {
    memcpy(buffer, path.data(), (size - 1) * sizeof(Char));
    buffer[size - 1] = 0;
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(Char));
  return static_cast<DWORD>(path.size());
}

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  NoteCall();
  if (!W().system.modulePath) {
    W().lastError = ERROR_MOD_NOT_FOUND;
    return 0;
  }
  // The system holds the path in UTF-16 and converts it as the code page
  // allows.
  std::u16string wide = fake::Utf16(*W().system.modulePath);
  std::string ansi(wide.size() * 4 + 1, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], static_cast<int>(ansi.size()),
                              nullptr, nullptr);
  ansi.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
  return CopyModulePath(ansi, buffer, size);
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
  NoteCall();
  if (!W().system.modulePath) {
    W().lastError = ERROR_MOD_NOT_FOUND;
    return 0;
  }
  return CopyModulePath(fake::Utf16(*W().system.modulePath), buffer, size);
}

static std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  NoteCall();
  if (name && W().system.loadedLibraries.count(Upper(name)))
    return reinterpret_cast<HMODULE>(0x10000);
  W().lastError = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

HMODULE LoadLibraryA(LPCSTR name) { return LoadLibraryExA(name, nullptr, 0); }

HMODULE LoadLibraryExA(LPCSTR name, HANDLE, DWORD) {
  NoteCall();
  if (W().system.missingLibraries.count(Upper(name))) {
    W().lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  W().system.loadedLibraries.insert(Upper(name));
  return reinterpret_cast<HMODULE>(0x10000);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  NoteCall();
  auto it = W().system.procedures.find(name);
  if (!module || it == W().system.procedures.end()) {
    W().lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  return it->second;
}

UINT SetErrorMode(UINT mode) {
  NoteCall();
  static UINT current = 0;
  UINT old = current;
  current = mode;
  return old;
}

DWORD GetTickCount() {
  NoteCall();
  DWORD now = W().system.tickCount;
  W().system.tickCount += W().system.tickStep;
  return now;
}

LCID GetUserDefaultLCID() {
  NoteCall();
  return W().system.userLcid;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  NoteCall();
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  info->dwMajorVersion = W().system.versionMajor;
  info->dwMinorVersion = W().system.versionMinor;
  info->dwBuildNumber = 0;
  info->dwPlatformId = 2;
  info->szCSDVersion[0] = 0;
  return TRUE;
}

void RestrictDllSearchToSystem32() { W().system.dllSearchRestricted = true; }

void InitCommonControls() {
  NoteCall();
  W().ui.commonControlsInitialized = true;
}

HRESULT CoInitialize(LPVOID) {
  NoteCall();
  W().com.initialized++;
  return S_OK;
}

void CoUninitialize() {
  NoteCall();
  W().com.initialized--;
}

// ---------------------------------------------------------------- texts

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  NoteCall();
  auto it = W().texts.strings.find(id);
  if (it == W().texts.strings.end() || size <= 0) {
    if (size > 0) buffer[0] = 0;
    W().lastError = ERROR_NOT_FOUND;
    return 0;
  }
  int n = static_cast<int>(it->second.size());
  if (n > size - 1) n = size - 1;
  memcpy(buffer, it->second.data(), n);
  buffer[n] = 0;
  return n;
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                     va_list*) {
  NoteCall();
  W().texts.lastFormatMessageFlags = flags;
  auto it = W().texts.systemMessages.find(messageId);
  if (it == W().texts.systemMessages.end()) {
    W().lastError = 317;  // ERROR_MR_MID_NOT_FOUND
    return 0;
  }
  std::string text = it->second;
  // Without FORMAT_MESSAGE_IGNORE_INSERTS an insert would read arguments that
  // were never passed; the fake reports that as the crash it would be.
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && text.find('%') != std::string::npos) abort();
  if (text.size() + 1 > size) {
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  NoteCall();
  W().ui.messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  if (!W().ui.messageBoxAnswers.empty()) {
    int answer = W().ui.messageBoxAnswers.front();
    W().ui.messageBoxAnswers.pop_front();
    return answer;
  }
  return (type & 0xF) == MB_RETRYCANCEL ? IDRETRY : IDOK;
}

// ---------------------------------------------------------------- code pages

static bool IsLeadByte(uint8_t c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the character starting at text (at least 1).
static size_t CharLength(const unsigned char* text) {
  if (!*text) return 0;
  switch (W().system.codePage) {
    case fake::CodePage::Utf8: {
      size_t n = *text < 0xC0 ? 1 : *text < 0xE0 ? 2 : *text < 0xF0 ? 3 : 4;
      for (size_t k = 1; k < n; k++)
        if (!text[k]) return k;
      return n;
    }
    case fake::CodePage::DoubleByte:
      return IsLeadByte(*text) && text[1] ? 2 : 1;
    case fake::CodePage::SingleByte:
      break;
  }
  return 1;
}

size_t fake::AnsiCharLength(const char* text) {
  return CharLength(reinterpret_cast<const unsigned char*>(text));
}

// The double-byte character a UTF-16 unit stands for in the fake's double-byte
// page, the reverse of MultiByteToWideChar below: where two lead bytes give
// the same unit, the one from 0x81-0x9F. False for units the page lacks.
static bool DoubleBytePair(char16_t unit, uint8_t* lead, uint8_t* trail) {
  if (unit < 0x4E00 || unit >= 0x4E00 + 0x5000) return false;
  uint32_t pair = unit - 0x4E00u;
  uint32_t high = pair / 256;
  uint32_t first = high <= 0x9F - 0x81 ? 0x81 + high : 0x81 + 0x5000 / 256 + high;
  uint32_t second = pair % 256;
  if (!IsLeadByte(static_cast<uint8_t>(first)) || first > 0xFC || second < 0x40 ||
      second == 0x7F || second > 0xFC)
    return false;
  *lead = static_cast<uint8_t>(first);
  *trail = static_cast<uint8_t>(second);
  return true;
}

LPSTR CharNextA(LPCSTR text) {
  NoteCall();
  auto* p = reinterpret_cast<const unsigned char*>(text);
  return const_cast<LPSTR>(text + CharLength(p));
}

int _mbsicmp(const unsigned char* a, const unsigned char* b) {
  NoteCall();
  for (;;) {
    size_t na = CharLength(a), nb = CharLength(b);
    if (na == 1 && nb == 1) {
      int ca = *a, cb = *b;
      if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
      if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
      if (ca != cb) return ca < cb ? -1 : 1;
    } else {
      if (na != nb) return na < nb ? -1 : 1;
      int c = memcmp(a, b, na);
      if (c) return c;
    }
    if (!*a) return 0;
    a += na;
    b += nb;
  }
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWCH wide, int wideCount, LPSTR multi,
                        int multiSize, LPCCH defaultChar, LPBOOL usedDefault) {
  NoteCall();
  if (!wide || wideCount == 0 || wideCount < -1 || multiSize < 0) {
    W().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t count = 0;
  if (wideCount == -1) {
    while (wide[count]) count++;
    count++;
  } else {
    count = static_cast<size_t>(wideCount);
  }
  std::u16string units(wide, wide + count);
  std::string out;
  bool utf8 = codePage == CP_UTF8 ||
              (codePage == CP_ACP && W().system.codePage == fake::CodePage::Utf8);
  if (utf8) {
    out = fake::Utf8(units);
  } else {
    char fallback = defaultChar ? *defaultChar : '?';
    for (char16_t u : units) {
      // Windows maps by "best fit" unless told not to: the full-width forms of
      // a single-byte page become their ASCII look-alikes (U+FF02 becomes '"').
      if (W().system.codePage == fake::CodePage::SingleByte && u >= 0xFF01 && u <= 0xFF5E) {
        out.push_back(static_cast<char>(u - 0xFEE0));
        continue;
      }
      uint8_t lead = 0, trail = 0;
      if (W().system.codePage == fake::CodePage::DoubleByte && DoubleBytePair(u, &lead, &trail)) {
        out.push_back(static_cast<char>(lead));
        out.push_back(static_cast<char>(trail));
        continue;
      }
      bool fits = W().system.codePage == fake::CodePage::SingleByte ? u < 0x100 : u < 0x80;
      if (!fits && usedDefault) *usedDefault = TRUE;
      out.push_back(fits ? static_cast<char>(u) : fallback);
    }
  }
  if (multiSize == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(multiSize)) {
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(multi, out.data(), out.size());
  return static_cast<int>(out.size());
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCCH multi, int multiCount, LPWSTR wide,
                        int wideSize) {
  NoteCall();
  if (!multi || multiCount == 0 || multiCount < -1 || wideSize < 0) {
    W().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t count = multiCount == -1 ? strlen(multi) + 1 : static_cast<size_t>(multiCount);
  std::string bytes(multi, multi + count);
  std::u16string out;
  bool utf8 = codePage == CP_UTF8 ||
              (codePage == CP_ACP && W().system.codePage == fake::CodePage::Utf8);
  if (utf8) {
    out = fake::Utf16(bytes);
  } else {
    for (size_t i = 0; i < bytes.size(); i++) {
      auto c = static_cast<uint8_t>(bytes[i]);
      if (W().system.codePage == fake::CodePage::DoubleByte && IsLeadByte(c) &&
          i + 1 < bytes.size()) {
        uint32_t pair = (c - 0x81u) * 256u + static_cast<uint8_t>(bytes[++i]);
        out.push_back(static_cast<char16_t>(0x4E00 + pair % 0x5000));
      } else {
        out.push_back(c);
      }
    }
  }
  if (wideSize == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(wideSize)) {
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(wide, out.data(), out.size() * sizeof(char16_t));
  return static_cast<int>(out.size());
}

namespace fake {
namespace {
struct Token : HandleObject {};
}  // namespace
}  // namespace fake

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
  NoteCall();
  if (process != GetCurrentProcess() || !token) {
    W().lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  *token = fake::AddHandle(std::make_unique<fake::Token>());
  return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                         PDWORD returned) {
  NoteCall();
  if (!dynamic_cast<fake::Token*>(fake::FindHandle(token))) {
    W().lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (infoClass != TokenElevation || size < sizeof(TOKEN_ELEVATION) || !info) {
    W().lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = W().system.elevated ? 1 : 0;
  if (returned) *returned = sizeof(TOKEN_ELEVATION);
  return TRUE;
}

// The fake's descriptors are their SDDL text, so that tests can read back
// what a file or folder was created with.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size) {
  NoteCall();
  if (!text || !descriptor || revision != SDDL_REVISION_1) {
    W().lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  size_t length = strlen(text) + 1;
  void* memory = LocalAlloc(LMEM_FIXED, length);
  if (!memory) return FALSE;
  memcpy(memory, text, length);
  *descriptor = memory;
  if (size) *size = static_cast<ULONG>(length);
  return TRUE;
}
