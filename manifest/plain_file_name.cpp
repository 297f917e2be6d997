#include "manifest/plain_file_name.h"

#include <cstring>

#include "platform/platform.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when the first `length` bytes of name, in any case, equal word.
bool SameWord(const char* name, size_t length, const char* word) {
  if (strlen(word) != length) return false;
  for (size_t i = 0; i < length; i++)
    if (Upper(name[i]) != word[i]) return false;
  return true;
}

// True when the `length` bytes at text are one digit that Windows takes in a
// COM or LPT device name: 1 to 9, or the superscript 1, 2 or 3 (U+00B9,
// U+00B2, U+00B3), in whatever bytes the code page gives those.
bool IsDeviceDigit(const char* text, size_t length) {
  if (length == 1 && text[0] >= '1' && text[0] <= '9') return true;
  WCHAR wide[2];
  return length > 0 && CharNextA(text) == text + length &&
         MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide, 2) == 1 &&
         (wide[0] == 0xB9 || wide[0] == 0xB2 || wide[0] == 0xB3);
}

// Windows opens a device for these names whatever follows the first dot and
// whatever spaces end the part before it: "con", "Con.txt", "lpt1 .log",
// "COM¹" (a superscript 1).
bool IsDeviceName(const char* name) {
  size_t length = strcspn(name, ".");
  while (length > 0 && name[length - 1] == ' ') length--;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices)
    if (SameWord(name, length, device)) return true;
  return length > 3 && (SameWord(name, 3, "COM") || SameWord(name, 3, "LPT")) &&
         IsDeviceDigit(name + 3, length - 3);
}

}  // namespace

const char* FileNameFault(const char* name) {
  if (!name[0]) return "is empty";
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return "names a folder level (. or ..)";
  const char* last = name;  // the last character
  for (const char* p = name; *p; p = CharNextA(p)) {
    last = p;
    if (CharNextA(p) != p + 1) continue;  // a double-byte character
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\\' || c == '/') return "holds a path separator (\\ or /)";
    if (c == ':') return "holds a colon (a drive or a stream)";
    if (c < 0x20) return "holds a control character";
    if (strchr("*?\"<>|", c)) return "holds one of * ? \" < > |";
  }
  if (*last == '.' || *last == ' ') return "ends in a dot or a space";
  if (IsDeviceName(name)) return "is a reserved device name";
  return nullptr;
}

bool SameFileName(const char* a, const char* b) {
  return _mbsicmp(reinterpret_cast<const unsigned char*>(a),
                  reinterpret_cast<const unsigned char*>(b)) == 0;
}
