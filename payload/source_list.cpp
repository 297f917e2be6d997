#include "payload/source_list.h"

#include <cstring>

#include "base/grow_array.h"
#include "base/holders.h"
#include "payload/block.h"

namespace {

// Grows the source list by one element and stores source in it.
bool AppendPayloadSource(PayloadSources* sources, const PayloadSource& source) {
  if (!GrowArrayByOne(&sources->items, sources->count)) return false;
  sources->items[sources->count++] = source;
  return true;
}

}  // namespace

Status AddSourceWithManifest(PayloadSources* sources, PayloadSource source,
                             uint32_t appendLocation) {
  Status status =
      FindBlock(&source, MANIFEST_BLOCK_KIND, 0, &source.manifest, &source.manifestSize);
  if (status.code != 0) return status;
  LocalPtr<uint8_t> manifest(source.manifest);
  if (!AppendPayloadSource(sources, source))
    return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, appendLocation);
  manifest.release();
  return status;
}

Status AddPayloadSource(PayloadSources* sources, VerificationKey key, const uint8_t* region,
                        uint32_t size, uint32_t copyLocation, uint32_t appendLocation) {
  LocalPtr<uint8_t> copy(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size)));
  if (!copy) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, copyLocation);
  if (size) memcpy(copy.get(), region, size);
  PayloadSource source = MemoryRegion(copy.get(), size);
  source.flags = SOURCE_COMPRESSED | SOURCE_SIGNED;
  source.key = key;
  source.ownsData = true;
  Status status = AddSourceWithManifest(sources, source, appendLocation);
  if (status.code == 0) copy.release();  // the list owns it now
  return status;
}

void FreePayloadSources(PayloadSources* sources) {
  for (uint32_t i = 0; i < sources->count; i++) {
    if (sources->items[i].ownsData) LocalFree(sources->items[i].data);
    LocalFree(sources->items[i].manifest);
  }
  LocalFree(sources->items);
  sources->items = nullptr;
  sources->count = 0;
}
