// LoadPayloadSources on arbitrary images: the PE headers, the certificate
// table and its PKCS#7 data, the certificates' extensions and the block chain
// are all untrusted. libFuzzer's buffer is exactly sized, so AddressSanitizer
// sees any read outside the image. The same image read from a file, as the
// launcher reads its own, must load the same.
#include <cstdlib>
#include <vector>

#include "payload/sources.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"

namespace {

struct Loaded {
  Status status;
  uint32_t count;
};

Loaded Load(const PayloadSource& image) {
  PayloadSources sources = {};
  const Status status = LoadPayloadSources(&image, kDevelopmentKey, &sources);
  // A source exists only behind a verified manifest; success has one.
  if (status.code == 0 && sources.count == 0) abort();
  const Loaded loaded = {status, sources.count};
  FreePayloadSources(&sources);
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  fake::Reset();
  const Loaded inMemory = Load(MemoryRegion(data, static_cast<uint32_t>(size)));

  fake::AddFile("C:\\image.exe", std::vector<uint8_t>(data, data + size));
  HANDLE file = CreateFileA("C:\\image.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) abort();
  PayloadSource image = {};
  image.file = file;
  image.size = static_cast<uint32_t>(size);
  const Loaded fromFile = Load(image);
  CloseHandle(file);
  if (fromFile.status.code != inMemory.status.code ||
      fromFile.status.location != inMemory.status.location || fromFile.count != inMemory.count)
    abort();

  if (fake::W().memory.liveAllocations != 0 || fake::W().crypt.openMessages != 0 ||
      fake::W().crypt.openCertificates != 0)
    abort();
  return 0;
}
