// Bounded formatting and decimal parsing for the launcher's texts. The
// launcher formats only text and unsigned numbers, so these do that and no
// more: it links no C99 printf or scanf machinery, and both platforms format
// and parse byte for byte the same.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes format into out[0..size) as snprintf would, understanding only "%s"
// (a C string; null prints nothing), "%u" (an unsigned int) and "%%"; any
// other character after '%' is copied as it stands. The result is always
// terminated when size > 0 and cut where it does not fit. Returns the length
// the whole text has (not counting the terminator), so a result >= size
// means it was cut. Never fails.
int FormatText(char* out, size_t size, const char* format, ...);

// Reads an unsigned decimal number at the start of text as sscanf's "%u"
// does: white space skipped, an optional sign ('-' negates, modulo 2^32),
// then at least one digit; digits past 2^32 wrap. True when a number was read
// (into *value); false, *value untouched, otherwise.
bool ParseUnsigned(const char* text, uint32_t* value);
