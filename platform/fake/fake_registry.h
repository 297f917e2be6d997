// Fake platform: the registry.
//
// Keys live in a map from (view, root, path) to their values. Paths and value
// names compare without regard to ASCII case, as on Windows. A key exists
// when a test added it or a value below it; adding a key adds its parents.
//
// The fake is a 64-bit Windows with both registry views. A key opened with
// KEY_WOW64_64KEY or KEY_WOW64_32KEY sees that view; a key opened with neither
// sees the view of its parent key, and a root sees defaultView, which stands
// for the bitness of the calling process: a 64-bit launcher by default. A test
// that sets defaultView to Bits32 proves which view a caller asks for.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum class RegistryView { Bits64, Bits32 };

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegistryKey {
  std::map<std::string, RegistryValue> values;  // by upper-cased name; "" is the default value
};

// One RegOpenKeyExA call, successful or not.
struct RegistryOpen {
  HKEY root = nullptr;  // the predefined root the key lies under
  std::string path;     // full path below the root, as asked
  REGSAM access = 0;
  LSTATUS result = 0;
};

// State of the simulated registry services; part of fake::World and reset with it.
struct RegistryState {
  std::map<std::tuple<RegistryView, uintptr_t, std::string>, RegistryKey> keys;
  RegistryView defaultView = RegistryView::Bits64;
  std::vector<RegistryOpen> opens;
};

// Test helpers. Adding a value adds its key; a string is stored with its
// terminating zero, as RegSetValueExA stores it.
void AddRegistryKey(HKEY root, const std::string& path, RegistryView view = RegistryView::Bits64);
void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const std::vector<uint8_t>& data, RegistryView view = RegistryView::Bits64);
void SetRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& value, DWORD type = REG_SZ,
                       RegistryView view = RegistryView::Bits64);
bool RegistryKeyExists(HKEY root, const std::string& path,
                       RegistryView view = RegistryView::Bits64);

}  // namespace fake
