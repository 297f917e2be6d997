// Keeping or removing the extracted files after the installer.
#pragma once

#include <cstdint>

#include "extraction/product_folder.h"
#include "manifest/extract_job.h"

// True when the product's Uninstall key, HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft
// \Windows\CurrentVersion\Uninstall\<productCode> read in the 64-bit registry
// view, has an "UninstallString" value of nonzero size. False when the key or value is
// missing or cannot be read.
bool IsProductRegistered(const char* productCode);

// Closes the job's block stream; when installerExitCode is nonzero and the
// product is not registered, deletes every item's file, created or kept, only
// through what the run holds (DeleteItemFile: never a name that no longer
// leads to the run's file); closes every item's handle. Then frees the item
// array (job is left empty) and unpins the folder, removing it through its
// handle when the product is not registered, this run created it and it is
// empty. Steps on the items run only when the array exists. Runs on every
// path past the payload check; never fails.
void CleanUpExtraction(ExtractJob* job, ProductFolder* folder, const char* productCode,
                       uint32_t installerExitCode);
