#include "manifest/extraction_list.h"

#include <cstring>

#include "base/grow_array.h"
#include "base/text_format.h"
#include "manifest/manifest_fields.h"
#include "manifest/manifest_walk.h"
#include "manifest/plain_file_name.h"
#include "payload/block.h"

namespace {

// Grows job->items by one zeroed item and counts it; false (nothing changed)
// without memory.
bool AppendItem(ExtractJob* job) {
  if (!GrowArrayByOne(&job->items, static_cast<size_t>(job->count))) return false;
  job->count++;
  return true;
}

// True when an item of the job already has this name: the two would be one
// file in the folder, so the list can be written nowhere.
bool NameTaken(const ExtractJob* job, const char* name) {
  for (int32_t i = 0; i < job->count; i++)
    if (SameFileName(job->items[i].name, name)) return true;
  return false;
}

}  // namespace

bool ExtractFileBlock(const PayloadSources* sources, uint32_t sourceIndex, uint32_t key,
                      ExtractItem* item, const char* name) {
  memset(item, 0, sizeof *item);
  FormatText(item->name, sizeof item->name, "%s", name);
  item->sourceIndex = sourceIndex;
  const PayloadSource* source = &sources->items[sourceIndex];
  if (FindBlockPlace(source, FILE_BLOCK_KIND, key, &item->place).code != 0) return false;
  return !((source->flags & SOURCE_SIGNED) && item->place.dataSize == 0);
}

int CollectCabinetEntry(uint32_t sourceIndex, uint32_t key, const char* text, void* context) {
  CabinetCollection* collection = static_cast<CabinetCollection*>(context);
  char type[MANIFEST_FIELD_SIZE], owners[MANIFEST_FIELD_SIZE], fileName[MANIFEST_FIELD_SIZE];
  char* const fields[] = {type, owners, fileName};
  if (!ReadManifestFields(text, fields, 3) ||
      _mbsicmp(reinterpret_cast<const unsigned char*>(type),
               reinterpret_cast<const unsigned char*>("cab")) != 0)
    return 1;

  for (const char* piece = owners; piece; piece = NextListPiece(piece)) {
    uint32_t owner;
    if (!ParseUnsigned(piece, &owner)) continue;
    if (sourceIndex != collection->sourceIndex || owner != collection->key) continue;
    ExtractJob* job = collection->job;
    if (FileNameFault(fileName) || NameTaken(job, fileName) || !AppendItem(job) ||
        !ExtractFileBlock(collection->sources, sourceIndex, key, &job->items[job->count - 1],
                          fileName))
      collection->error = true;
  }
  return 1;
}

bool BuildExtractionList(const PayloadSources* sources, const PackageMatch* match,
                         ExtractJob* job) {
  // The product code names the extraction folder and each cabinet names a
  // file in it: a name that could step out of that folder makes the payload
  // unusable, however well it is signed.
  job->sources = sources;
  if (FileNameFault(match->productCode) || !AppendItem(job) ||
      !ExtractFileBlock(sources, match->sourceIndex, match->key, &job->items[job->count - 1],
                        "main.msi"))
    return false;
  CabinetCollection collection = {sources, job, match->sourceIndex, match->key, false};
  ForEachManifestEntry(sources, CollectCabinetEntry, &collection);
  return !collection.error;
}
