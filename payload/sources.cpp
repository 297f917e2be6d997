#include "payload/sources.h"

#include <cstring>

#include "launcher/grow_array.h"
#include "launcher/launcher_state.h"
#include "payload/block.h"
#include "payload/certificate_sources.h"

namespace {

// Grows the source list by one element and stores source in it.
bool AppendPayloadSource(const PayloadSource& source) {
  if (!GrowArrayByOne(&g_launcher.sources, g_launcher.sourceCount)) return false;
  g_launcher.sources[g_launcher.sourceCount++] = source;
  return true;
}

}  // namespace

Status AddPayloadSource(const uint8_t* region, uint32_t size, uint32_t copyLocation,
                        uint32_t appendLocation) {
  auto* copy = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size));
  if (!copy) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, copyLocation);
  if (size) memcpy(copy, region, size);
  PayloadSource source = {copy, size, nullptr, 0, SOURCE_COMPRESSED | SOURCE_SIGNED};
  Status status =
      FindBlock(&source, MANIFEST_BLOCK_KIND, 0, &source.manifest, &source.manifestSize);
  if (status.code != 0) {
    LocalFree(copy);
    return status;
  }
  if (!AppendPayloadSource(source)) {
    status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, appendLocation);
    LocalFree(source.manifest);
    LocalFree(copy);
  }
  return status;
}

Status LoadPayloadSources(const uint8_t* image, uint32_t imageSize) {
  const uint32_t before = g_launcher.sourceCount;
  Status status = LoadCertificateSources(image, imageSize);
  if (status.code != 0 || g_launcher.sourceCount != before) return status;

  // No certificate carries the payload: the whole file is the region, and
  // its block chain ends the file.
  return AddPayloadSource(image, imageSize, LOC_IMAGE_COPY, LOC_IMAGE_SOURCE_APPEND);
}

void FreePayloadSources() {
  for (uint32_t i = 0; i < g_launcher.sourceCount; i++) {
    LocalFree(g_launcher.sources[i].data);
    LocalFree(g_launcher.sources[i].manifest);
  }
  LocalFree(g_launcher.sources);
  g_launcher.sources = nullptr;
  g_launcher.sourceCount = 0;
}
