// LoadPayloadSources on arbitrary images: the PE headers, the certificate
// table and its PKCS#7 data, the certificates' extensions and the block chain
// are all untrusted. libFuzzer's buffer is exactly sized, so AddressSanitizer
// sees any read outside the image.
#include <cstdlib>

#include "payload/sources.h"
#include "platform/fake/fake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  fake::Reset();
  PayloadSources sources = {};
  Status status =
      LoadPayloadSources(data, static_cast<uint32_t>(size), kCompiledVerificationKey, &sources);
  // A source exists only behind a verified manifest; success has one.
  if (status.code == 0 && sources.count == 0) abort();
  FreePayloadSources(&sources);
  if (fake::W().memory.liveAllocations != 0 || fake::W().crypt.openMessages != 0 ||
      fake::W().crypt.openCertificates != 0)
    abort();
  return 0;
}
