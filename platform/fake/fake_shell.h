// Fake platform: the folder browser, the shell allocator and the special-folder lookup.
//
// SHBrowseForFolderA opens a browser window, calls the caller's callback with
// BFFM_INITIALIZED (whatever the callback selects with BFFM_SETSELECTIONA is
// recorded) and answers from the script: a folder, an item with no
// file-system path, or cancel (also the answer once the script is used up).
// Item lists it returns must be freed with the shell allocator's Free.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct BrowseAnswer {
  enum Kind { Folder, NoPath, Cancel } kind = Cancel;
  std::string path;  // for Folder, as SHGetPathFromIDListA gives it
};

// One SHBrowseForFolderA call.
struct BrowseCall {
  HWND owner = nullptr;
  bool hasRoot = false;
  UINT flags = 0;
  std::string title;
  bool callbackCalled = false;
  std::string selection;  // what the callback selected (empty: nothing)
  BrowseAnswer::Kind answer = BrowseAnswer::Cancel;
};

struct SpecialFolderCall {
  HWND owner = nullptr;
  int csidl = 0;
  BOOL create = FALSE;
};

// State of the simulated shell services; part of fake::World and reset with it.
struct ShellState {
  std::deque<BrowseAnswer> browseAnswers;
  std::vector<BrowseCall> browseCalls;
  std::map<uintptr_t, BrowseAnswer> itemLists;  // item lists handed out and not yet freed
  uintptr_t nextItemList = 0x51000;
  uint32_t allocatorFrees = 0;     // IMalloc::Free calls
  uint32_t badFrees = 0;           // Free of something the shell did not hand out
  uint32_t allocatorReleases = 0;  // IMalloc::Release calls
  uint32_t allocatorsGiven = 0;    // successful SHGetMalloc calls
  bool failGetMalloc = false;

  // SHGetSpecialFolderPathA (reached through GetProcAddress): the documents
  // folder it reports, created when asked and missing; nothing when unset.
  std::optional<std::string> documentsFolder;
  std::vector<SpecialFolderCall> specialFolderCalls;
};

// Script helpers.
void AnswerBrowser(const std::string& folder);
void AnswerBrowserWithoutPath();
void AnswerBrowserCancel();

// The fake SHGetSpecialFolderPathA, for W().system.procedures["SHGetSpecialFolderPathA"].
FARPROC SpecialFolderPathProcedure();

}  // namespace fake
