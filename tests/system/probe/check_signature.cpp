// Decides a signature with the launcher's own code on the real system:
//
//   check_signature.exe CONTENT SIGNATURE
//
// checks SIGNATURE (the file's bytes) against CONTENT with the development
// key twice, as one call over the whole content and as a digest fed in 4 KiB
// slices followed by the check of that digest, and prints
// "block=<outcome> sliced=<outcome>". Exit code 0 when the two agree and the
// signature is Verified, 1 when they agree on anything else, 9 when a file
// cannot be read, 10 when the two checks disagree. A test helper, never
// shipped.
#include <cstdio>
#include <vector>

#include "payload/verify_signature.h"
#include "testing/development_key.h"

namespace {

bool ReadAll(const char* path, std::vector<uint8_t>* out) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) out->insert(out->end(), buffer, buffer + n);
  bool ok = !ferror(file);
  fclose(file);
  return ok;
}

const char* Name(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::Verified: return "Verified";
    case SignatureCheck::Mismatch: return "Mismatch";
    case SignatureCheck::KeyUnusable: return "KeyUnusable";
    case SignatureCheck::DigestFailed: return "DigestFailed";
  }
  return "?";
}

SignatureCheck Sliced(const std::vector<uint8_t>& content, const std::vector<uint8_t>& signature) {
  ContentDigest digest = {};
  if (!BeginContentDigest(&digest)) return SignatureCheck::DigestFailed;
  for (size_t at = 0; at < content.size(); at += 4096) {
    const size_t n = content.size() - at < 4096 ? content.size() - at : 4096;
    if (!AddToContentDigest(&digest, content.data() + at, static_cast<uint32_t>(n))) {
      EndContentDigest(&digest);
      return SignatureCheck::DigestFailed;
    }
  }
  uint8_t value[CONTENT_DIGEST_SIZE];
  if (!FinishContentDigest(&digest, value)) return SignatureCheck::DigestFailed;
  return VerifyDigestSignature(kDevelopmentKey, value, signature.data(),
                               static_cast<uint32_t>(signature.size()));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint8_t> content, signature;
  if (argc != 3 || !ReadAll(argv[1], &content) || !ReadAll(argv[2], &signature)) {
    fprintf(stderr, "usage: check_signature CONTENT SIGNATURE (both readable)\n");
    return 9;
  }
  const SignatureCheck block = VerifyBlockSignature(
      kDevelopmentKey, content.data(), static_cast<uint32_t>(content.size()),
      signature.data(), static_cast<uint32_t>(signature.size()));
  const SignatureCheck sliced = Sliced(content, signature);
  printf("block=%s sliced=%s\n", Name(block), Name(sliced));
  fflush(stdout);
  if (block != sliced) return 10;
  return block == SignatureCheck::Verified ? 0 : 1;
}
