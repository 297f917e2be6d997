#include "payload/sources.h"

#include "payload/block.h"
#include "payload/certificate_sources.h"

Status LoadPayloadSources(const PayloadSource* image, VerificationKey key,
                          PayloadSources* sources) {
  const uint32_t before = sources->count;
  Status status = LoadCertificateSources(image, key, sources);
  if (status.code != 0 || sources->count != before) return status;

  // No certificate carries the payload: the whole file is the region, and
  // its block chain ends the file. It is read where it lies, never copied.
  PayloadSource whole = {};
  whole.file = image->file;
  whole.data = image->data;
  whole.size = image->size;
  whole.flags = SOURCE_COMPRESSED | SOURCE_SIGNED;
  whole.key = key;
  return AddSourceWithManifest(sources, whole, LOC_IMAGE_SOURCE_APPEND);
}
