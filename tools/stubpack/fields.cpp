#include "tools/stubpack/fields.h"

#include <cstdio>
#include <cstring>

// The launcher's field buffers hold 255 bytes of its ANSI code page. UTF-8
// never takes fewer bytes than any ANSI code page for the same text, so a
// limit in UTF-8 bytes holds on every system; for ASCII it is 255 characters.
static const size_t kFieldLimit = 255;
static const size_t kNameLimit = 260;

// The value in quotes for a message, a long one cut to its first 57 bytes,
// never inside a UTF-8 sequence; control characters (a null from a crafted
// package would end the printed message) are shown as \xNN.
static std::string Quote(const std::string& value) {
  size_t cut = value.size();
  if (cut > 60) {
    cut = 57;
    while (cut > 0 && (static_cast<uint8_t>(value[cut]) & 0xC0) == 0x80) cut--;
  }
  std::string shown = "\"";
  for (size_t i = 0; i < cut; i++) {
    auto c = static_cast<uint8_t>(value[i]);
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02X", c);
    shown += c < 0x20 ? std::string(hex) : std::string(1, value[i]);
  }
  return shown + (cut < value.size() ? "...\"" : "\"");
}

static bool ValidUtf8(const std::string& text) {
  size_t i = 0, n = text.size();
  while (i < n) {
    auto c = static_cast<uint8_t>(text[i++]);
    if (c < 0x80) continue;
    size_t extra = 0;
    if (c >= 0xC2 && c < 0xE0)
      extra = 1;
    else if (c >= 0xE0 && c < 0xF0)
      extra = 2;
    else if (c >= 0xF0 && c < 0xF5)
      extra = 3;
    else
      return false;
    if (n - i < extra) return false;
    for (size_t k = 0; k < extra; k++)
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    i += extra;
  }
  return true;
}

std::string CheckField(const std::string& what, const std::string& value) {
  if (value.empty()) return what + " is empty";
  if (value.size() > kFieldLimit)
    return what + " " + Quote(value) + " is longer than 255 characters (" +
           std::to_string(value.size()) + " bytes in UTF-8)";
  if (!ValidUtf8(value)) return what + " " + Quote(value) + " is not valid UTF-8";
  if (value.find('\\') != std::string::npos)
    return what + " " + Quote(value) +
           " holds a backslash, which separates the fields of a manifest entry";
  for (char c : value)
    if (static_cast<uint8_t>(c) < 0x20)
      return what + " " + Quote(value) + " holds a control character";
  return "";
}

std::string CheckProductCode(const std::string& value) {
  std::string problem = CheckField("product code", value);
  if (!problem.empty()) return problem;
  static const char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  bool ok = value.size() == strlen(kShape);
  for (size_t i = 0; ok && i < value.size(); i++) {
    char c = value[i];
    if (kShape[i] == 'X')
      ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    else
      ok = c == kShape[i];
  }
  if (!ok)
    return "product code " + Quote(value) +
           " is not a braced GUID like {5970BD6B-642E-4576-98BF-6A9F9555AB0E}";
  return "";
}

std::string CheckLanguages(const std::string& value) {
  std::string problem = CheckField("language list", value);
  if (!problem.empty()) return problem;
  size_t start = 0;
  for (;;) {
    size_t end = value.find(';', start);
    std::string piece = value.substr(start, end == std::string::npos ? end : end - start);
    bool digits = !piece.empty() && piece.size() <= 5;
    for (char c : piece) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoul(piece) > 0xFFFF)
      return "language id \"" + piece + "\" in " + Quote(value) +
             " is not a number from 0 to 65535 (write a list as 1033;1031)";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return "";
}

static std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string CheckFileName(const std::string& what, const std::string& value) {
  if (value.empty()) return what + " is empty";
  if (value.size() > kNameLimit)
    return what + " " + Quote(value) + " is longer than 260 characters";
  if (!ValidUtf8(value)) return what + " " + Quote(value) + " is not valid UTF-8";
  if (value.find('\\') != std::string::npos || value.find('/') != std::string::npos)
    return what + " " + Quote(value) + " holds a path separator; give a plain file name";
  if (value.find(':') != std::string::npos)
    return what + " " + Quote(value) + " holds a colon (drive letter or stream)";
  if (value.find("..") != std::string::npos) return what + " " + Quote(value) + " holds \"..\"";
  for (char c : value)
    if (static_cast<uint8_t>(c) < 0x20 || strchr("<>\"|?*", c))
      return what + " " + Quote(value) + " holds a character Windows refuses in file names";
  if (value.back() == '.' || value.back() == ' ')
    return what + " " + Quote(value) + " ends with a dot or a space";
  // Device names are reserved with any extension and with trailing spaces
  // before it: "nul.cab" and "CON .txt" open the device, not a file.
  std::string stem = Upper(value.substr(0, value.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  bool device = false;
  for (const char* d : kDevices) device = device || stem == d;
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
      stem[3] >= '0' && stem[3] <= '9')
    device = true;
  if (device) return what + " " + Quote(value) + " is a reserved device name";
  return "";
}

std::string ManifestLanguages(const std::string& templateLanguages) {
  std::string out = templateLanguages;
  for (char& c : out)
    if (c == ',') c = ';';
  return out;
}
