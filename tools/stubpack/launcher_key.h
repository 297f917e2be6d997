// A launcher file's key section (payload/key_section.h): finding it in the
// file, reading the key it holds, writing one into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The key section: where its raw data lies in the file.
struct KeySectionPlace {
  uint32_t offset;
  uint32_t size;
};

// The key section of a PE32+ image (already checked by ReadPeImage): true
// with *place {0, 0} when no section is named ".msikey". False with a
// one-line reason when the sections so named could hold anything but a key,
// which the image digest does not see: more than one of them, raw data of
// another size than the format's, inside the headers or over another
// section's raw data or memory, flags other than read-only initialized data, or the
// entry point or a data directory reaching into it.
bool FindKeySection(const std::vector<uint8_t>& image, KeySectionPlace* place, std::string* error);

struct LauncherKey {
  KeySectionPlace place;      // the section's raw data
  std::vector<uint8_t> blob;  // the 276-byte key; empty when the section holds none
};

// Reads the key section of a launcher image: false with a one-line reason
// when the image is not PE32+ (ReadPeImage), has no key section or one that
// FindKeySection refuses, or the section has another header (magic, version,
// key size). A section without a key is no failure: blob
// is then empty.
bool ReadLauncherKey(const std::vector<uint8_t>& image, LauncherKey* key, std::string* error);

// Writes blob (276 bytes) into the key section at place and sets the PE
// checksum (at checksumOffset); the rest of the image is untouched.
void WriteLauncherKey(std::vector<uint8_t>& image, const KeySectionPlace& place,
                      uint32_t checksumOffset, const std::vector<uint8_t>& blob);
