#include "extraction/extraction_folder.h"

Status PrepareExtractionFolder(const PackageMatch*, ExtractJob*, char*) {
  return Status{ERROR_CANCELLED, LOC_BROWSE_CANCELLED};
}

bool PathExists(const char*) { return false; }
