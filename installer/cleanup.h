// Keeping or removing the extracted files after the installer.
#pragma once

#include <cstdint>

#include "manifest/extract_job.h"

// True when the product's Uninstall key has a non-empty "UninstallString".
bool IsProductRegistered(const char* productCode);

// Frees every item's data and closes its handle; deletes the output files when
// the installer did not succeed and the product is not registered; frees the
// item array; removes extractDir when the product is not registered (only an
// empty folder goes). Runs on every path past the payload check.
void CleanUpExtraction(ExtractJob* job, const char* extractDir, const char* productCode,
                       uint32_t installerExitCode);
