// Keeping or removing the extracted files after the installer.
#pragma once

#include <cstdint>

#include "manifest/extract_job.h"

// True when the product's Uninstall key, HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft
// \Windows\CurrentVersion\Uninstall\<productCode> read in the 64-bit registry
// view, has an "UninstallString" value of nonzero size. False when the key or value is
// missing or cannot be read.
bool IsProductRegistered(const char* productCode);

// Closes the job's block stream and every item's handle; when installerExitCode is
// nonzero and the product is not registered, also deletes every item's file
// (pre-existing ones too). Then frees the item array (job is left empty) and,
// when the product is not registered, removes extractDir if it exists and is
// empty. Steps on the items run only when the array exists; an empty extractDir
// removes nothing. Runs on every path past the payload check; never fails.
void CleanUpExtraction(ExtractJob* job, const char* extractDir, const char* productCode,
                       uint32_t installerExitCode);
