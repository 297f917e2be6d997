#include "tools/stubpack/pe_image.h"

#include "payload/little_endian.h"

static bool Fail(std::string* error, const std::string& reason) {
  *error = reason;
  return false;
}

uint32_t DerElementSize(const uint8_t* data, uint32_t size) {
  if (size < 2 || data[0] != 0x30) return 0;
  uint64_t length = data[1];
  uint32_t header = 2;
  if (length & 0x80) {
    uint32_t bytes = data[1] & 0x7F;
    if (bytes == 0 || bytes > 4 || size < 2 + bytes) return 0;  // indefinite or absurd
    length = 0;
    for (uint32_t i = 0; i < bytes; i++) length = (length << 8) | data[2 + i];
    header += bytes;
  }
  if (header + length > size) return 0;
  return static_cast<uint32_t>(header + length);
}

bool ReadPeImage(const std::vector<uint8_t>& image, PeImage* pe, std::string* error) {
  *pe = PeImage{};
  const uint8_t* d = image.data();
  uint64_t size = image.size();
  if (size < 64 || d[0] != 'M' || d[1] != 'Z') return Fail(error, "not a PE image (no MZ header)");
  uint32_t peOffset = GetU32(d + 60);
  if (peOffset > size || size - peOffset < 24 || GetU32(d + peOffset) != 0x00004550)
    return Fail(error, "not a PE image (no PE signature)");
  uint32_t optional = peOffset + 24;
  uint32_t optionalSize = GetU16(d + peOffset + 20);
  if (size - optional < 2 || GetU16(d + optional) != 0x20B)
    return Fail(error, "not a PE32+ (64-bit) image");
  // The security directory is the fifth data directory, 112 bytes into the
  // PE32+ optional header.
  if (optionalSize < 112 + 5 * 8 || size - optional < optionalSize ||
      GetU32(d + optional + 108) < 5)
    return Fail(error, "the PE32+ optional header has no security directory entry");
  pe->checksumOffset = optional + 64;
  pe->securityEntryOffset = optional + 112 + 4 * 8;

  uint32_t sectionCount = GetU16(d + peOffset + 6);
  uint64_t sections = static_cast<uint64_t>(optional) + optionalSize;
  if (sections + sectionCount * 40ull > size)
    return Fail(error, "the PE section table is cut short");
  // SizeOfHeaders, but never short of the section table: a file that claims
  // less still needs everything up to there, the checksum field included.
  uint64_t dataEnd = GetU32(d + optional + 60);
  if (dataEnd < sections + sectionCount * 40ull) dataEnd = sections + sectionCount * 40ull;
  for (uint32_t i = 0; i < sectionCount; i++) {
    const uint8_t* s = d + sections + i * 40ull;
    uint64_t rawSize = GetU32(s + 16), rawPos = GetU32(s + 20);
    if (rawSize && rawPos + rawSize > dataEnd) dataEnd = rawPos + rawSize;
  }
  if (dataEnd > size) return Fail(error, "the PE sections run past the end of the file");
  pe->sectionDataEnd = static_cast<uint32_t>(dataEnd);

  uint32_t tableOffset = GetU32(d + pe->securityEntryOffset);
  uint32_t tableSize = GetU32(d + pe->securityEntryOffset + 4);
  if (tableOffset == 0 && tableSize == 0) return true;

  const char* malformed = "malformed security directory: ";
  if (tableSize < 8 || tableOffset == 0)
    return Fail(error, std::string(malformed) + "offset " + std::to_string(tableOffset) +
                           ", size " + std::to_string(tableSize));
  if (static_cast<uint64_t>(tableOffset) + tableSize > size)
    return Fail(error,
                std::string(malformed) + "the certificate table runs past the end of the file");
  if (tableOffset < dataEnd)
    return Fail(error, std::string(malformed) + "the certificate table overlaps the sections");
  if (tableOffset % 8)
    return Fail(error, std::string(malformed) + "the certificate table is not 8-byte aligned");
  if (static_cast<uint64_t>(tableOffset) + tableSize != size)
    return Fail(error,
                std::string(malformed) +
                    "data follows the certificate table (was something appended after signing?)");
  const uint8_t* entry = d + tableOffset;
  uint32_t length = GetU32(entry);
  if (length < 8 || length > tableSize)
    return Fail(error, std::string(malformed) + "certificate entry length " +
                           std::to_string(length) + " does not fit the table of " +
                           std::to_string(tableSize) + " bytes");
  if (GetU16(entry + 4) != 0x0200 || GetU16(entry + 6) != 2)
    return Fail(error, std::string(malformed) +
                           "the first certificate entry is not an Authenticode PKCS#7 signature");
  uint32_t pkcs7 = DerElementSize(entry + 8, length - 8);
  if (pkcs7 == 0)
    return Fail(error, std::string(malformed) + "the signature is not DER-encoded PKCS#7 data");
  // Only one entry is supported: past the first entry (rounded up to 8 bytes)
  // the table may hold nothing but zeros. An earlier payload lies inside the
  // first entry, so it does not count as a second one.
  uint64_t next = (static_cast<uint64_t>(length) + 7) & ~7ull;
  for (uint64_t i = next; i < tableSize; i++)
    if (entry[i]) return Fail(error, std::string(malformed) + "more than one certificate entry");
  pe->hasCertificateTable = true;
  pe->tableOffset = tableOffset;
  pe->tableSize = tableSize;
  pe->entryLength = length;
  pe->pkcs7Size = pkcs7;
  return true;
}

uint32_t PeChecksum(const std::vector<uint8_t>& image, uint32_t checksumOffset) {
  uint64_t sum = 0;
  size_t n = image.size();
  for (size_t i = 0; i + 1 < n; i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    sum += GetU16(&image[i]);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (n & 1) {
    sum += image[n - 1];
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + n);
}

void SetCertificateTable(std::vector<uint8_t>& image, const PeImage& pe, uint32_t offset,
                         uint32_t size) {
  PutU32(&image[pe.securityEntryOffset], offset);
  PutU32(&image[pe.securityEntryOffset + 4], size);
  if (size) PutU32(&image[offset], size);
  PutU32(&image[pe.checksumOffset], PeChecksum(image, pe.checksumOffset));
}
