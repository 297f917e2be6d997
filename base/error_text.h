// User text for a Windows error code.
#pragma once

#include <cstdint>

// Fills buffer (bufferSize bytes, always terminated when bufferSize > 0) with
// the system's text for code, its trailing line breaks, spaces and full stops
// stripped, followed by " (detail)." when detail is given and not empty, or
// by "." otherwise. Without a system text the buffer becomes
// "Error <code> (<detail>)." or "Error <code>". Inserts such as %1 in a system
// text stay as they are. Output that does not fit is cut. Never fails; returns
// the number of characters in buffer.
int FormatErrorText(uint32_t code, char* buffer, uint32_t bufferSize, const char* detail);
