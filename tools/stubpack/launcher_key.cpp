#include "tools/stubpack/launcher_key.h"

#include <cstring>

#include "payload/key_section.h"
#include "payload/little_endian.h"
#include "payload/pe_layout.h"
#include "tools/stubpack/pe_image.h"

std::vector<KeySectionPlace> FindKeySections(const std::vector<uint8_t>& image) {
  std::vector<KeySectionPlace> found;
  const uint8_t* d = image.data();
  const uint32_t peOffset = GetU32(d + DOS_PE_OFFSET);
  const uint32_t count = GetU16(d + peOffset + PE_SECTION_COUNT);
  const uint32_t table =
      peOffset + PE_OPTIONAL_HEADER + GetU16(d + peOffset + PE_OPTIONAL_HEADER_SIZE);
  char name[8] = {};
  strncpy(name, KEY_SECTION_NAME, sizeof name);
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* s = d + table + i * SECTION_HEADER_SIZE;
    if (memcmp(s, name, sizeof name) != 0) continue;
    found.push_back({GetU32(s + SECTION_RAW_POINTER), GetU32(s + SECTION_RAW_SIZE)});
  }
  return found;
}

bool ReadLauncherKey(const std::vector<uint8_t>& image, LauncherKey* key, std::string* error) {
  *key = LauncherKey{};
  PeImage pe;
  if (!ReadPeImage(image, &pe, error)) return false;
  std::vector<KeySectionPlace> sections = FindKeySections(image);
  if (sections.empty()) {
    *error = "no key section (" KEY_SECTION_NAME "): not a launcher of this release";
    return false;
  }
  if (sections.size() > 1) {
    *error = "more than one key section (" KEY_SECTION_NAME ")";
    return false;
  }
  key->place = sections[0];
  // ReadPeImage has checked that every section's raw data lies in the file.
  if (key->place.size < KEY_SECTION_SIZE) {
    *error = "the key section holds " + std::to_string(key->place.size) + " bytes, not " +
             std::to_string(KEY_SECTION_SIZE);
    return false;
  }
  const uint8_t* section = image.data() + key->place.offset;
  uint8_t blob[KEY_BLOB_SIZE];
  if (ReadKeySection(section, blob).blob) {
    key->blob.assign(blob, blob + KEY_BLOB_SIZE);
    return true;
  }
  if (GetU32(section + KEY_SECTION_MAGIC_AT) != KEY_SECTION_MAGIC ||
      GetU16(section + KEY_SECTION_VERSION_AT) != KEY_SECTION_VERSION ||
      GetU16(section + KEY_SECTION_KEY_SIZE_AT) != 0) {
    *error = "the key section is not in the format this stubpack writes (\"MKEY\", version " +
             std::to_string(KEY_SECTION_VERSION) + ")";
    return false;
  }
  return true;  // a section without a key
}

void WriteLauncherKey(std::vector<uint8_t>& image, const KeySectionPlace& place,
                      uint32_t checksumOffset, const std::vector<uint8_t>& blob) {
  FillKeySection(image.data() + place.offset, blob.data());
  PutU32(image.data() + checksumOffset, PeChecksum(image, checksumOffset));
}
