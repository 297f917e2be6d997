// Where the output files go, and opening them.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "manifest/extract_job.h"
#include "manifest/package_select.h"
#include "extraction/product_folder.h"

enum : uint32_t { EXTRACT_DIR_SIZE = 1024 };

// Creates <Windows>\Installer\<product code> and opens every output file in
// it; when the folder is refused or a file cannot be created, rolls back what
// this attempt created and asks the user for a folder (the browser titled
// browseTitle), then tries <chosen folder>\<product code>, until the files
// open or the user cancels. The product folder is pinned in *folder
// (PinProductFolder): a link, or a folder whose final path is not the one
// asked for, is refused like a folder that cannot be written. Below a chosen
// folder an elevated run gives the folder and files it creates protected
// descriptors (MakeProtectedDescriptors). A file found there already is kept
// (item->kept) only when it holds the content of the item's block
// (FileHoldsBlockContent), read through the read-only handle it is then held
// by; any other is replaced by a new file (its name is removed first, so
// that a link found there is never written through) and, like a created one,
// rolled back with the attempt. Success ({0, 0}) leaves every item with its
// path and an open handle (the writer of a created file, the hold of a kept
// one), the folder pinned and extractDir (EXTRACT_DIR_SIZE bytes) naming it;
// {1223, 2219} when the user cancels, with nothing of the attempts left
// behind and no folder pinned. An item path longer than 260 characters is
// never cut: it counts as a file that cannot be created. A chosen item that
// has no file-system path opens the browser again. The items' blocks stay
// listed.
Status PrepareExtractionFolder(const PackageMatch* match, ExtractJob* job,
                               const char* browseTitle, char* extractDir, ProductFolder* folder);

// Undoes what this run put in the folder: deletes the files the run created
// or replaced (the items not kept), through their writer handles or, once
// held, only when their names still lead to them (DeleteItemFile); closes
// the kept ones without deleting them; clears every item's handle, path and
// progress (its block stays listed); then removes the folder through its
// pinned handle when this run created it and it is empty, and unpins it.
void RollBackExtraction(ExtractJob* job, ProductFolder* folder);

// Deletes the files this run created and has not finished (the items whose
// writer handle is still open: the one being written when the user
// cancelled, and those not reached yet) through those handles, so that no
// file short of its verified content is left behind, whatever the clean-up
// keeps. Clears their handle and path; held files stay.
void RemoveUnfinishedFiles(ExtractJob* job);

// True when FindFirstFileA finds a file or folder of that path.
bool PathExists(const char* path);

// Fills path (size bytes) with the folder the browser starts in: the user's
// documents folder, else the "Personal" user shell folder from the registry,
// else the current directory, with environment variables expanded, and only
// when that folder exists: nothing is ever created for it (those paths are
// the user's to set, and this process runs elevated). path is empty when
// none can be had; the browser then opens without a preselection.
void GetDefaultBrowseFolder(char* path, uint32_t size);
