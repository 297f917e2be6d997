#include "tools/stubpack/pe_image.h"

#include "payload/little_endian.h"
#include "payload/pe_layout.h"

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
  if (size < DOS_HEADER_SIZE || d[0] != 'M' || d[1] != 'Z')
    return Fail(error, "not a PE image (no MZ header)");
  uint32_t peOffset = GetU32(d + DOS_PE_OFFSET);
  if (peOffset > size || size - peOffset < PE_OPTIONAL_HEADER ||
      GetU32(d + peOffset) != PE_SIGNATURE)
    return Fail(error, "not a PE image (no PE signature)");
  uint32_t optional = peOffset + PE_OPTIONAL_HEADER;
  uint32_t optionalSize = GetU16(d + peOffset + PE_OPTIONAL_HEADER_SIZE);
  if (size - optional < 2 || GetU16(d + optional + OPTIONAL_MAGIC) != PE32_PLUS_MAGIC)
    return Fail(error, "not a PE32+ (64-bit) image");
  if (optionalSize < OPTIONAL_SECURITY_DIRECTORY + DIRECTORY_ENTRY_SIZE ||
      size - optional < optionalSize ||
      GetU32(d + optional + OPTIONAL_DIRECTORY_COUNT) < SECURITY_DIRECTORY_INDEX + 1)
    return Fail(error, "the PE32+ optional header has no security directory entry");
  pe->checksumOffset = optional + OPTIONAL_CHECKSUM;
  pe->securityEntryOffset = optional + OPTIONAL_SECURITY_DIRECTORY;

  uint32_t sectionCount = GetU16(d + peOffset + PE_SECTION_COUNT);
  uint64_t sections = static_cast<uint64_t>(optional) + optionalSize;
  const uint64_t sectionsEnd = sections + uint64_t{sectionCount} * SECTION_HEADER_SIZE;
  if (sectionsEnd > size) return Fail(error, "the PE section table is cut short");
  // SizeOfHeaders, but never short of the section table: a file that claims
  // less still needs everything up to there, the checksum field included.
  uint64_t dataEnd = GetU32(d + optional + OPTIONAL_SIZE_OF_HEADERS);
  if (dataEnd < sectionsEnd) dataEnd = sectionsEnd;
  for (uint32_t i = 0; i < sectionCount; i++) {
    const uint8_t* s = d + sections + uint64_t{i} * SECTION_HEADER_SIZE;
    uint64_t rawSize = GetU32(s + SECTION_RAW_SIZE), rawPos = GetU32(s + SECTION_RAW_POINTER);
    if (rawSize && rawPos + rawSize > dataEnd) dataEnd = rawPos + rawSize;
  }
  if (dataEnd > size) return Fail(error, "the PE sections run past the end of the file");
  pe->sectionDataEnd = static_cast<uint32_t>(dataEnd);

  uint32_t tableOffset = GetU32(d + pe->securityEntryOffset + DIRECTORY_ADDRESS);
  uint32_t tableSize = GetU32(d + pe->securityEntryOffset + DIRECTORY_SIZE);
  if (tableOffset == 0 && tableSize == 0) return true;

  const char* malformed = "malformed security directory: ";
  if (tableSize < WIN_CERTIFICATE_HEADER_SIZE || tableOffset == 0)
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
  uint32_t length = GetU32(entry + WIN_CERTIFICATE_LENGTH);
  if (length < WIN_CERTIFICATE_HEADER_SIZE || length > tableSize)
    return Fail(error, std::string(malformed) + "certificate entry length " +
                           std::to_string(length) + " does not fit the table of " +
                           std::to_string(tableSize) + " bytes");
  if (GetU16(entry + WIN_CERTIFICATE_REVISION) != WIN_CERTIFICATE_REVISION_2_0 ||
      GetU16(entry + WIN_CERTIFICATE_TYPE) != WIN_CERTIFICATE_TYPE_PKCS_SIGNED_DATA)
    return Fail(error, std::string(malformed) +
                           "the first certificate entry is not an Authenticode PKCS#7 signature");
  uint32_t pkcs7 =
      DerElementSize(entry + WIN_CERTIFICATE_HEADER_SIZE, length - WIN_CERTIFICATE_HEADER_SIZE);
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
  PutU32(&image[pe.securityEntryOffset + DIRECTORY_ADDRESS], offset);
  PutU32(&image[pe.securityEntryOffset + DIRECTORY_SIZE], size);
  if (size) PutU32(&image[offset + WIN_CERTIFICATE_LENGTH], size);
  PutU32(&image[pe.checksumOffset], PeChecksum(image, pe.checksumOffset));
}
