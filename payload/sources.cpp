#include "payload/sources.h"

#include <cstring>

#include "base/grow_array.h"
#include "payload/block.h"
#include "payload/certificate_sources.h"
#include "base/holders.h"

namespace {

// Grows the source list by one element and stores source in it.
bool AppendPayloadSource(PayloadSources* sources, const PayloadSource& source) {
  if (!GrowArrayByOne(&sources->items, sources->count)) return false;
  sources->items[sources->count++] = source;
  return true;
}

}  // namespace

Status AddPayloadSource(PayloadSources* sources, VerificationKey key, const uint8_t* region,
                        uint32_t size, uint32_t copyLocation, uint32_t appendLocation) {
  LocalPtr<uint8_t> copy(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size)));
  if (!copy) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, copyLocation);
  if (size) memcpy(copy.get(), region, size);
  PayloadSource source = {nullptr, copy.get(), size, nullptr, 0, SOURCE_COMPRESSED | SOURCE_SIGNED, key};
  Status status =
      FindBlock(&source, MANIFEST_BLOCK_KIND, 0, &source.manifest, &source.manifestSize);
  if (status.code != 0) return status;
  LocalPtr<uint8_t> manifest(source.manifest);
  if (!AppendPayloadSource(sources, source))
    return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, appendLocation);
  // The list owns both buffers now.
  copy.release();
  manifest.release();
  return status;
}

Status LoadPayloadSources(const uint8_t* image, uint32_t imageSize, VerificationKey key,
                          PayloadSources* sources) {
  const uint32_t before = sources->count;
  Status status = LoadCertificateSources(image, imageSize, key, sources);
  if (status.code != 0 || sources->count != before) return status;

  // No certificate carries the payload: the whole file is the region, and
  // its block chain ends the file.
  return AddPayloadSource(sources, key, image, imageSize, LOC_IMAGE_COPY,
                          LOC_IMAGE_SOURCE_APPEND);
}

void FreePayloadSources(PayloadSources* sources) {
  for (uint32_t i = 0; i < sources->count; i++) {
    LocalFree(sources->items[i].data);
    LocalFree(sources->items[i].manifest);
  }
  LocalFree(sources->items);
  sources->items = nullptr;
  sources->count = 0;
}
