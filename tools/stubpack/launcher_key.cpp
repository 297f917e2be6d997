#include "tools/stubpack/launcher_key.h"

#include <algorithm>
#include <cstring>

#include "payload/key_section.h"
#include "payload/little_endian.h"
#include "payload/pe_layout.h"
#include "tools/stubpack/pe_image.h"

namespace {

// Section flags: initialized data, readable; and the alignment bits, which
// only object files use.
const uint32_t kReadOnlyData = 0x40000040, kAlignmentBits = 0x00F00000;

bool Overlap(uint64_t a, uint64_t aSize, uint64_t b, uint64_t bSize) {
  return aSize && bSize && a < b + bSize && b < a + aSize;
}

bool Refuse(std::string* error, const std::string& reason) {
  *error = "the key section (" KEY_SECTION_NAME ") " + reason;
  return false;
}

}  // namespace

bool FindKeySection(const std::vector<uint8_t>& image, KeySectionPlace* place,
                    std::string* error) {
  *place = KeySectionPlace{0, 0};
  const uint8_t* d = image.data();
  const uint32_t peOffset = GetU32(d + DOS_PE_OFFSET);
  const uint32_t optional = peOffset + PE_OPTIONAL_HEADER;
  const uint32_t optionalSize = GetU16(d + peOffset + PE_OPTIONAL_HEADER_SIZE);
  const uint32_t count = GetU16(d + peOffset + PE_SECTION_COUNT);
  const uint32_t table = optional + optionalSize;
  char name[8] = {};
  strncpy(name, KEY_SECTION_NAME, sizeof name);
  const uint8_t* key = nullptr;
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* s = d + table + i * SECTION_HEADER_SIZE;
    if (memcmp(s, name, sizeof name) != 0) continue;
    if (key) return Refuse(error, "appears more than once");
    key = s;
  }
  if (!key) return true;

  // ReadPeImage has checked that the section table and every section's raw
  // data lie in the file.
  const uint32_t offset = GetU32(key + SECTION_RAW_POINTER), size = GetU32(key + SECTION_RAW_SIZE);
  if (size != KEY_SECTION_SIZE)
    return Refuse(error, "holds " + std::to_string(size) + " bytes, not " +
                             std::to_string(KEY_SECTION_SIZE));
  const uint64_t headersEnd =
      std::max<uint64_t>(GetU32(d + optional + OPTIONAL_SIZE_OF_HEADERS),
                         table + uint64_t{count} * SECTION_HEADER_SIZE);
  if (offset < headersEnd) return Refuse(error, "lies inside the headers");
  const uint32_t rva = GetU32(key + SECTION_RVA);
  const uint32_t mapped = std::max(GetU32(key + SECTION_VIRTUAL_SIZE), size);
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* s = d + table + i * SECTION_HEADER_SIZE;
    if (s == key) continue;
    if (Overlap(offset, size, GetU32(s + SECTION_RAW_POINTER), GetU32(s + SECTION_RAW_SIZE)))
      return Refuse(error, "overlaps the raw data of another section");
    const uint32_t otherMapped =
        std::max(GetU32(s + SECTION_VIRTUAL_SIZE), GetU32(s + SECTION_RAW_SIZE));
    if (Overlap(rva, mapped, GetU32(s + SECTION_RVA), otherMapped))
      return Refuse(error, "overlaps the memory of another section");
  }
  if ((GetU32(key + SECTION_CHARACTERISTICS) & ~kAlignmentBits) != kReadOnlyData)
    return Refuse(error, "is not read-only data");
  // Nothing the loader follows may point into it: the entry point, and every
  // data directory but the certificate table's (a file offset, past the
  // image). A directory at address 0 is absent, whatever its size.
  if (Overlap(rva, mapped, GetU32(d + optional + OPTIONAL_ENTRY_POINT), 1))
    return Refuse(error, "holds the entry point");
  const uint32_t directories =
      std::min(GetU32(d + optional + OPTIONAL_DIRECTORY_COUNT),
               (optionalSize - OPTIONAL_DIRECTORIES) / DIRECTORY_ENTRY_SIZE);
  for (uint32_t i = 0; i < directories; i++) {
    const uint8_t* entry = d + optional + OPTIONAL_DIRECTORIES + i * DIRECTORY_ENTRY_SIZE;
    const uint32_t address = GetU32(entry + DIRECTORY_ADDRESS);
    if (i != SECURITY_DIRECTORY_INDEX && address != 0 &&
        Overlap(rva, mapped, address, GetU32(entry + DIRECTORY_SIZE)))
      return Refuse(error, "holds data directory " + std::to_string(i));
  }
  *place = KeySectionPlace{offset, size};
  return true;
}

bool ReadLauncherKey(const std::vector<uint8_t>& image, LauncherKey* key, std::string* error) {
  *key = LauncherKey{};
  PeImage pe;
  if (!ReadPeImage(image, &pe, error)) return false;
  if (!FindKeySection(image, &key->place, error)) return false;
  if (key->place.size == 0) {
    *error = "no key section (" KEY_SECTION_NAME "): not a launcher of this release";
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
