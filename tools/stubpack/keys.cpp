#include "tools/stubpack/keys.h"

#include <cstdio>

#include "tools/stubpack/crypto.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/payload_writer.h"

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

std::string KeyFingerprint(const std::vector<uint8_t>& blob) {
  uint8_t digest[32];
  if (!crypto::Sha256({{blob.data(), blob.size()}}, digest))
    return "(no fingerprint: SHA-256 failed)";
  char text[17];
  for (int i = 0; i < 8; i++) snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}
