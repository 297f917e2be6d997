// Fake platform: COM objects: the taskbar list.
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {
namespace {

const GUID kTaskbarListClass = {0x56FDF344, 0xFD6D, 0x11D0,
                                {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const GUID kTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86,
                            {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof a) == 0; }

struct TaskbarList final : ITaskbarList3 {
  ULONG Release() override {
    W().com.taskbarCalls.push_back({TaskbarCall::Release, nullptr, 0, 0, 0});
    W().com.liveObjects--;
    delete this;
    return 0;
  }
  HRESULT SetProgressValue(HWND window, ULONGLONG completed, ULONGLONG total) override {
    W().com.taskbarCalls.push_back({TaskbarCall::SetProgressValue, window, completed, total, 0});
    return S_OK;
  }
  HRESULT SetProgressState(HWND window, TBPFLAG flags) override {
    W().com.taskbarCalls.push_back({TaskbarCall::SetProgressState, window, 0, 0, flags});
    return S_OK;
  }
};

}  // namespace
}  // namespace fake

using fake::NoteCall;
using fake::W;

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID* object) {
  NoteCall();
  fake::CreateInstanceCall call;
  call.clsid = clsid;
  call.iid = iid;
  call.hasOuter = outer != nullptr;
  call.context = context;
  *object = nullptr;
  if (W().com.failCreate)
    call.result = W().com.failCreate;
  else if (W().com.initialized <= 0)
    call.result = fake::kNotInitialized;
  else if (!fake::SameGuid(clsid, fake::kTaskbarListClass))
    call.result = fake::kClassNotRegistered;
  else if (!fake::SameGuid(iid, fake::kTaskbarList3) || outer)
    call.result = fake::kNoInterface;
  if (call.result == S_OK) {
    *object = static_cast<ITaskbarList3*>(new fake::TaskbarList);
    W().com.liveObjects++;
  }
  W().com.creates.push_back(call);
  return call.result;
}
