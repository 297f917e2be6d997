#include "tools/stubpack/image_digest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "payload/little_endian.h"
#include "payload/pe_layout.h"
#include "tools/stubpack/crypto.h"
#include "tools/stubpack/launcher_key.h"
#include "tools/stubpack/pe_image.h"

bool ComputeImageDigest(const std::vector<uint8_t>& image, ImageDigest* digest,
                        std::string* error) {
  *digest = ImageDigest{};
  PeImage pe;
  if (!ReadPeImage(image, &pe, error)) return false;
  digest->imageEnd = pe.sectionDataEnd;
  digest->timeStamp = GetU32(&image[GetU32(&image[DOS_PE_OFFSET]) + PE_TIME_DATE_STAMP]);

  // The bytes before imageEnd, with the key section's raw data as zeros
  // (ReadPeImage has checked that it lies before imageEnd)...
  KeySectionPlace key;
  if (!FindKeySection(image, &key, error)) return false;
  std::vector<uint8_t> bytes(image.begin(), image.begin() + pe.sectionDataEnd);
  memset(bytes.data() + key.offset, 0, key.size);
  // ... less the two fields. Both fields lie in the
  // optional header, the checksum first; a header that claims fewer bytes
  // than its own fields take only loses what falls past imageEnd.
  const uint32_t skipped[2][2] = {{pe.checksumOffset, 4}, {pe.securityEntryOffset, 8}};
  std::vector<crypto::ByteRange> ranges;
  uint32_t from = 0;
  for (int i = 0; i <= 2; i++) {
    uint32_t to = i < 2 ? std::min(skipped[i][0], pe.sectionDataEnd) : pe.sectionDataEnd;
    if (to > from) ranges.push_back({bytes.data() + from, to - from});
    if (i < 2) from = std::max(from, skipped[i][0] + skipped[i][1]);
  }
  bool ok = crypto::Sha256(ranges, digest->sha256);
  if (!ok) *error = "SHA-256 is not available";
  return ok;
}

std::string DigestHex(const ImageDigest& digest) {
  char hex[65];
  for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", digest.sha256[i]);
  return std::string(hex, 64);
}
