// Decoding the chosen package and its cabinets into the extraction job.
#pragma once

#include "manifest/extract_job.h"
#include "manifest/package_select.h"

// Fills job->items with "main.msi" (the matched package) followed by every
// cabinet that names it as owner, each decoded into memory. False on any
// failure; items already decoded stay for the clean-up to free.
bool BuildExtractionList(const PackageMatch* match, ExtractJob* job);
