#include "tools/stubpack/keys.h"

#include <cstdio>
#include <cstring>

#include "tools/stubpack/crypto.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/payload_writer.h"

namespace {

// The fixed first 20 bytes of an RSA-2048 PUBLICKEYBLOB: BLOBHEADER (type 6,
// version 2, CALG_RSA_KEYX) and RSAPUBKEY ("RSA1", 2048 bits, exponent 65537).
const uint8_t kBlobHeader[20] = {0x06, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 0x52, 0x53,
                                 0x41, 0x31, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
const size_t kBlobSize = 276;

}  // namespace

bool MakeKeyPair(const std::string& folder, std::string* error) {
  const std::string names[3] = {folder + "/private.pem", folder + "/public.pem",
                                folder + "/public.blob"};
  for (const std::string& name : names)
    if (PathExists(name)) {
      *error = name + " already exists; keygen never overwrites a key";
      return false;
    }
  if (!PathExists(folder) && !MakeFolder(folder, error)) return false;
  payload_writer::SigningKey key = payload_writer::GenerateSigningKey();
  if (!key) {
    *error = "cannot generate an RSA-2048 key";
    return false;
  }
  std::vector<uint8_t> contents[3] = {crypto::PrivateKeyPem(key.get()),
                                      crypto::PublicKeyPem(key.get()),
                                      payload_writer::PublicKeyBlob(key.get())};
  const unsigned modes[3] = {0600, 0644, 0644};
  for (int i = 0; i < 3; i++) {
    if (contents[i].empty()) {
      *error = "cannot encode " + names[i];
    } else if (WriteFileAtomically(names[i], contents[i], modes[i], true, error)) {
      continue;
    }
    for (int k = 0; k < i; k++) RemoveFile(names[k]);  // all three or none
    return false;
  }
  return true;
}

std::vector<std::vector<uint8_t>> FindPublicKeyBlobs(const std::vector<uint8_t>& image) {
  std::vector<std::vector<uint8_t>> found;
  if (image.size() < kBlobSize) return found;
  for (size_t i = 0; i + kBlobSize <= image.size(); i++) {
    if (image[i] != kBlobHeader[0] || memcmp(&image[i], kBlobHeader, sizeof kBlobHeader) != 0)
      continue;
    found.emplace_back(image.begin() + i, image.begin() + i + kBlobSize);
    i += kBlobSize - 1;
  }
  return found;
}

std::string KeyFingerprint(const std::vector<uint8_t>& blob) {
  uint8_t digest[32];
  if (!crypto::Sha256({{blob.data(), blob.size()}}, digest))
    return "(no fingerprint: SHA-256 failed)";
  char text[17];
  for (int i = 0; i < 8; i++) snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}
