// Fake platform: the folder browser, the shell allocator and the
// special-folder lookup.
#include <cstdio>
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {

void AnswerBrowser(const std::string& folder) {
  W().shell.browseAnswers.push_back({BrowseAnswer::Folder, folder});
}
void AnswerBrowserWithoutPath() { W().shell.browseAnswers.push_back({BrowseAnswer::NoPath, ""}); }
void AnswerBrowserCancel() { W().shell.browseAnswers.push_back({BrowseAnswer::Cancel, ""}); }

static BOOL WINAPI FakeSpecialFolderPath(HWND owner, LPSTR path, int csidl, BOOL create) {
  NoteCall();
  W().shell.specialFolderCalls.push_back({owner, csidl, create});
  const std::optional<std::string>& folder = W().shell.documentsFolder;
  if ((csidl & 0xFF) != CSIDL_PERSONAL || !folder || folder->size() >= MAX_PATH) {
    W().lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  if ((create || (csidl & CSIDL_FLAG_CREATE)) && !Exists(*folder)) AddFolder(*folder);
  snprintf(path, MAX_PATH, "%s", folder->c_str());
  return TRUE;
}

FARPROC SpecialFolderPathProcedure() {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeSpecialFolderPath));
}

// The shell's task allocator, as far as the launcher uses it: Free of item
// lists the browser handed out, and Release.
struct ShellAllocator : IMalloc {
  ULONG Release() override {
    W().shell.allocatorReleases++;
    return 1;
  }
  void Free(void* memory) override {
    W().shell.allocatorFrees++;
    if (!memory) return;
    if (!W().shell.itemLists.erase(reinterpret_cast<uintptr_t>(memory))) W().shell.badFrees++;
  }
};

}  // namespace fake

using fake::NoteCall;
using fake::W;

PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA info) {
  NoteCall();
  fake::BrowseCall call;
  call.owner = info->hwndOwner;
  call.hasRoot = info->pidlRoot != nullptr;
  call.flags = info->ulFlags;
  call.title = info->lpszTitle ? info->lpszTitle : "";

  HWND browser = fake::NewWindow("SHBrowseForFolder", info->hwndOwner);
  if (info->lpfn) {
    call.callbackCalled = true;
    info->lpfn(browser, BFFM_INITIALIZED, 0, info->lParam);
  }
  call.selection = fake::LookUpWindow(browser, true)->selection;
  fake::DestroyFakeWindow(browser);

  fake::BrowseAnswer answer;
  if (!W().shell.browseAnswers.empty()) {
    answer = W().shell.browseAnswers.front();
    W().shell.browseAnswers.pop_front();
  }
  call.answer = answer.kind;
  W().shell.browseCalls.push_back(call);
  if (answer.kind == fake::BrowseAnswer::Cancel) return nullptr;
  uintptr_t list = W().shell.nextItemList;
  W().shell.nextItemList += 16;
  W().shell.itemLists[list] = answer;
  return reinterpret_cast<PIDLIST_ABSOLUTE>(list);
}

BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE list, LPSTR path) {
  NoteCall();
  path[0] = 0;
  auto it = W().shell.itemLists.find(reinterpret_cast<uintptr_t>(list));
  if (it == W().shell.itemLists.end() || it->second.kind != fake::BrowseAnswer::Folder ||
      it->second.path.size() >= MAX_PATH)
    return FALSE;
  memcpy(path, it->second.path.c_str(), it->second.path.size() + 1);
  return TRUE;
}

HRESULT SHGetMalloc(LPMALLOC* allocator) {
  NoteCall();
  static fake::ShellAllocator shellAllocator;
  if (W().shell.failGetMalloc) {
    *allocator = nullptr;
    return E_FAIL;
  }
  W().shell.allocatorsGiven++;
  *allocator = &shellAllocator;
  return S_OK;
}
