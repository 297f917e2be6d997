#include "launcher/final_message.h"

#include "base/error_text.h"
#include "base/text_format.h"

// Compares a UTF-16 argument with an ASCII switch, ignoring ASCII case.
static bool EqualsSwitch(const WCHAR* argument, const char* name) {
  for (;; argument++, name++) {
    WCHAR a = *argument;
    char b = *name;
    if (a >= 'A' && a <= 'Z') a = static_cast<WCHAR>(a - 'A' + 'a');
    if (a != static_cast<WCHAR>(b)) return false;
    if (!b) return true;
  }
}

bool HasQuietSwitch(WCHAR** argv, int argc) {
  if (!argv) return false;
  for (int i = 1; i < argc; i++) {
    if (EqualsSwitch(argv[i], "/q") || EqualsSwitch(argv[i], "/qn") ||
        EqualsSwitch(argv[i], "/quiet"))
      return true;
  }
  return false;
}

void GetMessageCaption(const char* modulePath, char* caption, uint32_t captionSize) {
  if (!modulePath) {
    FormatText(caption, captionSize, "%s", "Loader");
    return;
  }
  // A double-byte character may end in 0x5C; only a whole character counts.
  const char* name = modulePath;
  for (const char* p = modulePath; *p; p = CharNextA(p)) {
    if (*p == '\\') name = p + 1;
  }
  FormatText(caption, captionSize, "%s", name);
}

void ShowFinalMessage(Status status, const char* messageText, bool noMessage,
                      const char* modulePath) {
  if (status.code == 0 || noMessage) return;
  char text[2048];
  if (messageText && *messageText) {
    FormatText(text, sizeof text, "%s", messageText);
  } else {
    char detail[64];
    FormatText(detail, sizeof detail, "%u, %u, %u", 1u, status.code, status.location);
    FormatErrorText(status.code, text, sizeof text, detail);
  }
  char caption[MAX_PATH + 1];
  GetMessageCaption(modulePath, caption, sizeof caption);
  MessageBoxA(nullptr, text, caption, MB_ICONERROR | MB_OK);
}
