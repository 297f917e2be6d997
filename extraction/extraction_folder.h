// Where the output files go, and opening them.
#pragma once

#include "launcher/status.h"
#include "manifest/extract_job.h"
#include "manifest/package_select.h"

enum : uint32_t { EXTRACT_DIR_SIZE = 1024 };

// Creates <Windows>\Installer\<product code> and opens every output file in
// it; when a file cannot be created, rolls back what this attempt created and
// asks the user for a folder, until the files open or the user cancels.
// Success leaves every item with its path and (unless the file existed) an
// open handle; {1223, 2219} when the user cancels.
Status PrepareExtractionFolder(const PackageMatch* match, ExtractJob* job, char* extractDir);

// True when a file or folder of that path exists.
bool PathExists(const char* path);
