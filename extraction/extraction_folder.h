// Where the output files go, and opening them.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "manifest/extract_job.h"
#include "manifest/package_select.h"

enum : uint32_t { EXTRACT_DIR_SIZE = 1024 };

// Creates <Windows>\Installer\<product code> and opens every output file in
// it; when a file cannot be created, rolls back what this attempt created and
// asks the user for a folder (the browser titled browseTitle), then tries
// <chosen folder>\<product code>, until the files open or the user cancels.
// A file found there already is kept (item->kept) only when it holds the
// content of the item's block (FileHoldsBlockContent); any other is replaced by a new file (its name is removed
// first, so that a link found there is never written through) and, like a
// created one, rolled back with the attempt. Success ({0, 0}) leaves every item with its path and,
// unless its file was kept, an open handle, and extractDir (EXTRACT_DIR_SIZE
// bytes) naming the folder; {1223, 2219} when the user cancels, with nothing of the attempts
// left behind. An item path longer than 260 characters is never cut: it
// counts as a file that cannot be created. A chosen item that has no
// file-system path opens the browser again. The items' blocks stay listed.
Status PrepareExtractionFolder(const PackageMatch* match, ExtractJob* job,
                               const char* browseTitle, char* extractDir);

// Undoes what this run put in dir: closes every open output file, deletes
// the files the run created or replaced (the items not kept that have a
// path), leaves the kept ones alone, clears every item's handle, path and
// progress (its block stays listed), and removes dir when it is empty.
void RollBackExtraction(ExtractJob* job, const char* dir);

// Deletes the files this run created and has not finished (the items whose
// output file is still open: the one being written when the user cancelled,
// and those not reached yet), so that no file short of its verified content
// is left behind, whatever the clean-up keeps. Clears their handle and path.
void RemoveUnfinishedFiles(ExtractJob* job);

// True when FindFirstFileA finds a file or folder of that path.
bool PathExists(const char* path);

// Fills path (size bytes) with the folder the browser starts in: the user's
// documents folder, else the "Personal" user shell folder from the registry,
// else the current directory, with environment variables expanded; creates it
// level by level when it is missing. path is empty when none can be had.
void GetDefaultBrowseFolder(char* path, uint32_t size);
