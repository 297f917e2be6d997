// The message the launcher shows when it ends with a failure.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "platform/platform.h"

// True when an argument after the program name is "/q", "/qn" or "/quiet",
// whole, in any case.
bool HasQuietSwitch(WCHAR** argv, int argc);

// The caption: the launcher's file name (after the last backslash, found by
// characters of the ANSI code page), the whole path when it has none, or
// "Loader" when the path is unavailable. Cut to captionSize.
void GetMessageCaption(const char* modulePath, char* caption, uint32_t captionSize);

// Shows the final message box unless status succeeded or noMessage is set.
// The text is messageText when a step filled it, otherwise the system text
// for the code with the detail "1, <code>, <location>".
void ShowFinalMessage(Status status, const char* messageText, bool noMessage,
                      const char* modulePath);
