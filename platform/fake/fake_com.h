// Fake platform: COM objects: the taskbar list.
//
// CoCreateInstance knows one class, the shell's taskbar list, asked for as
// ITaskbarList3; it needs COM initialised. The object records every call on
// it, and Release of the last reference destroys it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace fake {

constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);  // REGDB_E_CLASSNOTREG
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);         // E_NOINTERFACE
constexpr HRESULT kNotInitialized = static_cast<HRESULT>(0x800401F0);      // CO_E_NOTINITIALIZED

struct CreateInstanceCall {
  GUID clsid = {};
  GUID iid = {};
  bool hasOuter = false;
  DWORD context = 0;
  HRESULT result = 0;
};

struct TaskbarCall {
  enum Kind { SetProgressValue, SetProgressState, Release } kind = Release;
  HWND window = nullptr;
  ULONGLONG completed = 0, total = 0;
  int state = 0;
};

// State of the simulated com services; part of fake::World and reset with it.
struct ComState {
  int initialized = 0;  // CoInitialize minus CoUninitialize
  std::vector<CreateInstanceCall> creates;
  HRESULT failCreate = 0;  // when nonzero, CoCreateInstance fails with it
  std::vector<TaskbarCall> taskbarCalls;
  int liveObjects = 0;
};

}  // namespace fake
