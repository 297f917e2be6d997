// Reading the backslash-separated fields of a manifest entry's text.
#pragma once

#include <cstddef>

enum : size_t { MANIFEST_FIELD_SIZE = 256 };  // 255 bytes and the terminating zero

// Reads the first `count` (3 or 4) backslash-separated fields of text into
// the MANIFEST_FIELD_SIZE buffers fields[0..count). True only when every
// field is non-empty and whole: a field longer than 255 bytes makes the entry
// unreadable rather than cut. Anything after a further backslash is ignored.
// The text is split by character of the ANSI code page (CharNextA): a trail
// byte 0x5C of a double-byte character stays in its field.
bool ReadManifestFields(const char* text, char* const* fields, int count);

// The ";"-separated list piece after the one starting at piece, or null when
// piece is the last.
const char* NextListPiece(const char* piece);
