// Decoding the chosen package and its cabinets into the extraction job.
#pragma once

#include <cstdint>

#include "manifest/extract_job.h"
#include "manifest/package_select.h"

// Zeroes *item, names it `name` (cut to 260 bytes) and finds file block `key`
// of sources->items[sourceIndex] for it (item->sourceIndex, item->place);
// nothing is decoded yet. True when the block was found; a block without
// data in a signed source is refused here already, since it can never
// verify.
bool ExtractFileBlock(const PayloadSources* sources, uint32_t sourceIndex, uint32_t key,
                      ExtractItem* item, const char* name);

// What CollectCabinetEntry works on during BuildExtractionList.
struct CabinetCollection {
  const PayloadSources* sources;  // where the file blocks lie
  ExtractJob* job;
  uint32_t sourceIndex;  // source of the matched package
  uint32_t key;          // key of the matched package
  bool error;
};

// Manifest walk callback (context: CabinetCollection).
// For a cabinet entry "cab\owners\fileName" of the matched package's source
// whose ";"-separated owners name the matched key, appends an item for the
// entry's file block (once per naming piece); a file name that is not
// one plain file name (FileNameFault), a failure to grow the array or to
// find its block sets the collection's error flag, and so does a file name that an
// item of the job has already, compared as SameFileName does ("MAIN.MSI", or
// an owner list naming the package twice). Always returns 1.
int CollectCabinetEntry(uint32_t sourceIndex, uint32_t key, const char* text, void* context);

// Fills job->items with "main.msi" (the matched package) followed by every
// cabinet that names it as owner, in manifest order, each with the place of
// its file block, and points job->sources at sources. False on any failure, also when the product code or a
// cabinet's file name is not one plain file name (FileNameFault) or two files
// would have the same name; items already listed stay for the clean-up.
bool BuildExtractionList(const PayloadSources* sources, const PackageMatch* match,
                         ExtractJob* job);
