// launcher.exe's key section (payload/key_section.h): defined only in the
// launcher program, so that no other program carries one.
#pragma once

#include <cstdint>

#include "payload/key_section.h"

// The content of the ".msikey" section as the build wrote it: the key named
// by MSISTUB_PUBLIC_KEY, or the header of a section without a key. stubpack
// stamp writes a key into the file later; read it with ReadKeySection only.
extern const uint8_t kKeySection[KEY_SECTION_SIZE];
