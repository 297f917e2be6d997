#include "manifest/extraction_list.h"

bool BuildExtractionList(const PackageMatch*, ExtractJob*) { return false; }
