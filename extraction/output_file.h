// The output files as handles: created new, held read-only once verified,
// and deleted only when the name still leads to the file this run made.
#pragma once

#include "manifest/extract_job.h"
#include "platform/platform.h"

// True when the final path of handle (GetFinalPathNameByHandleA) is path,
// without regard to case: the object was not reached through a link, mount
// point or other redirection. A "\\?\UNC\" final path counts as "\\".
bool HandleIsAt(HANDLE handle, const char* path);

// Marks the file or empty folder behind handle (opened with DELETE access) to
// be deleted when its last handle closes; a failure is left unreported (what
// cannot be deleted stays).
void MarkForDeletion(HANDLE handle);

// Creates item->path as a new file (never through a name found there) with
// write and delete access, shared for reading only, and with descriptor
// (null: what the folder gives), and records its identity in item. False,
// with the system's last error and item->handle null, when it cannot be
// created.
bool CreateOutputFile(ExtractItem* item, PSECURITY_DESCRIPTOR descriptor);

// Opens the file at path for reading, shared for reading only, so that while
// the handle is open nobody can write, rename or delete it; records its
// identity in item. Refuses (INVALID_HANDLE_VALUE, nothing left open) a
// folder, a reparse point and a file whose final path is not path.
HANDLE OpenHeldFile(const char* path, ExtractItem* item);

// Trades the writer handle of an item whose block has verified for a
// read-only hold of the same file (see OpenHeldFile): the writer is closed
// first, since a handle that denies writing cannot open beside it. The held
// file must be the one written (same identity, same final path); the folder
// it lies in is pinned, and below a chosen folder the file's descriptor
// gives the user no write access, so nothing can come between. {0, 0}; or
// LOC_OUTPUT_HOLD with the last error (ERROR_FILE_INVALID when another file
// stands under the name), item->handle null.
Status HoldWrittenFile(ExtractItem* item);

// Deletes the file this run created or kept for item and closes its handle:
// a writer handle is marked for deletion itself; a held file is closed and
// its name opened again with delete access, and deleted only when it leads
// to the recorded file. Leaves handle, held and identity cleared. Never fails
// visibly: a file that cannot be proven the same is left alone.
void DeleteItemFile(ExtractItem* item);

// True when the volume that holds the file behind handle keeps access
// control lists (NTFS, ReFS), so that a file's descriptor keeps others out;
// false on FAT and exFAT, and when it cannot be told.
bool VolumeKeepsAcls(HANDLE handle);

// Closes the item's handle, if any, leaving the file; clears handle and held.
void ReleaseItemFile(ExtractItem* item);
