// The folder the output files go to, pinned by a handle for the whole run.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// A product folder held open without sharing deletion, so that it can be
// neither renamed nor replaced while the handle is open.
struct ProductFolder {
  HANDLE handle;  // null when no folder is pinned
  bool created;   // this run created it; only then may the run remove it
  char path[1024];
  uint32_t volume;  // its identity, to know it again by its path
  uint32_t indexHigh;
  uint32_t indexLow;
};

// The descriptors a run gives to what it creates below a folder the user
// chose, when it runs elevated: full control for SYSTEM and Administrators
// (the owner), nothing inherited, so that no process of the user without
// elevation can write, rename or delete them. Both null when not elevated.
struct ProtectedDescriptors {
  PSECURITY_DESCRIPTOR folder;
  PSECURITY_DESCRIPTOR file;
};

// True when the process token says the process runs elevated
// (TokenElevation); false when it does not or the token cannot be read.
bool RunsElevated();

// Fills descriptors for a process that runs elevated, else leaves them null
// (the folder's default applies). Descriptors that cannot be made are null
// and count as a folder that cannot be written (see PinProductFolder).
// Returns false when elevated and they cannot be made.
bool MakeProtectedDescriptors(ProtectedDescriptors* descriptors);
void FreeProtectedDescriptors(ProtectedDescriptors* descriptors);

// Creates the folder dir unless something of that name exists (with
// descriptor, null for the default) and pins it: opens it as a folder, not
// through a link, for listing, shared for reading and writing but not
// deletion. The pin asks for no delete access itself: a handle with delete
// access would refuse every later opener that does not share deletion, as
// Wine's FindFirstFile does not. Refuses (false, nothing held) a
// name that cannot be opened, that is not a folder, that is a reparse point
// (junction, symbolic link, mount point), or whose handle's final path is not
// dir (a link the system follows silently, as Wine's Unix links).
bool PinProductFolder(const char* dir, PSECURITY_DESCRIPTOR descriptor, ProductFolder* folder);

// Unpins the folder; when remove is set and this run created it, then
// removes it if it is empty: its name is opened again with delete access
// (never through a link) and the folder deleted only when that handle leads
// to the pinned folder (same identity, same final path). Leaves folder
// cleared.
void ReleaseProductFolder(ProductFolder* folder, bool remove);
