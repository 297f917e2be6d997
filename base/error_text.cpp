#include "base/error_text.h"

#include <cstring>

#include "base/text_format.h"
#include "platform/platform.h"

int FormatErrorText(uint32_t code, char* buffer, uint32_t bufferSize, const char* detail) {
  if (!buffer || bufferSize == 0) return 0;
  buffer[0] = 0;
  // Without FORMAT_MESSAGE_IGNORE_INSERTS a text with %1 would read arguments
  // that were never passed.
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, bufferSize,
                           nullptr);
  if (n == 0 || n >= bufferSize) buffer[0] = 0;
  size_t length = strnlen(buffer, bufferSize - 1);
  buffer[length] = 0;
  while (length > 0) {
    char c = buffer[length - 1];
    if (c != '\n' && c != '\r' && c != ' ' && c != '.') break;
    buffer[--length] = 0;
  }
  bool hasDetail = detail && *detail;
  if (length > 0) {
    char* rest = buffer + length;
    size_t room = bufferSize - length;
    if (hasDetail)
      FormatText(rest, room, " (%s).", detail);
    else
      FormatText(rest, room, ".");
  } else if (hasDetail) {
    FormatText(buffer, bufferSize, "%s %u (%s).", "Error", code, detail);
  } else {
    FormatText(buffer, bufferSize, "%s %u", "Error", code);
  }
  return static_cast<int>(strlen(buffer));
}
