// Fake platform: the registry: opening keys in either view, reading values
// with the size-query and too-small-buffer rules of RegQueryValueExA.
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {
namespace {

// Upper-cases ASCII and drops trailing backslashes. A slash is an ordinary
// character in a registry key name.
std::string RegistryPath(const std::string& path) {
  std::string key = path;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

auto KeyId(RegistryView view, HKEY root, const std::string& path) {
  return std::make_tuple(view, reinterpret_cast<uintptr_t>(root), RegistryPath(path));
}

// The predefined roots: HKEY_CLASSES_ROOT, _CURRENT_USER, _LOCAL_MACHINE and
// _USERS. Values are read from opened keys only.
bool IsRoot(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  return value >= reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER) - 1 &&
         value <= reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE) + 1;
}

}  // namespace

struct OpenKey : HandleObject {
  RegistryView view = RegistryView::Bits64;
  HKEY root = nullptr;
  std::string path;
  REGSAM access = 0;
};

void AddRegistryKey(HKEY root, const std::string& path, RegistryView view) {
  std::string key = RegistryPath(path);
  for (size_t slash = key.find('\\'); slash != std::string::npos; slash = key.find('\\', slash + 1))
    W().registry.keys[KeyId(view, root, key.substr(0, slash))];
  W().registry.keys[KeyId(view, root, key)];
}

void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const std::vector<uint8_t>& data, RegistryView view) {
  AddRegistryKey(root, path, view);
  RegistryValue& value = W().registry.keys[KeyId(view, root, path)].values[RegistryPath(name)];
  value.type = type;
  value.data = data;
}

void SetRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& value, DWORD type, RegistryView view) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  SetRegistryValue(root, path, name, type, data, view);
}

bool RegistryKeyExists(HKEY root, const std::string& path, RegistryView view) {
  return W().registry.keys.count(KeyId(view, root, path)) != 0;
}

}  // namespace fake

using fake::NoteCall;
using fake::W;

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  NoteCall();
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  fake::OpenKey parent;
  if (fake::IsRoot(key)) {
    parent.root = key;
    parent.view = W().registry.defaultView;
  } else if (auto* open = dynamic_cast<fake::OpenKey*>(fake::FindHandle(key))) {
    parent.root = open->root;
    parent.view = open->view;
    parent.path = open->path;
  } else {
    return ERROR_INVALID_HANDLE;
  }
  auto opened = std::make_unique<fake::OpenKey>();
  opened->root = parent.root;
  opened->view = (access & KEY_WOW64_64KEY)   ? fake::RegistryView::Bits64
                 : (access & KEY_WOW64_32KEY) ? fake::RegistryView::Bits32
                                              : parent.view;
  opened->path = parent.path;
  if (subKey && *subKey) opened->path += (opened->path.empty() ? "" : "\\") + std::string(subKey);
  opened->access = access;

  LSTATUS status = fake::RegistryKeyExists(opened->root, opened->path, opened->view)
                       ? ERROR_SUCCESS
                       : ERROR_FILE_NOT_FOUND;
  W().registry.opens.push_back({opened->root, opened->path, access, status});
  if (status == ERROR_SUCCESS) *result = reinterpret_cast<HKEY>(fake::AddHandle(std::move(opened)));
  return status;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  NoteCall();
  auto* open = dynamic_cast<fake::OpenKey*>(fake::FindHandle(key));
  if (!open) return ERROR_INVALID_HANDLE;
  if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
  if (!(open->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  auto& keys = W().registry.keys;
  auto it = keys.find(fake::KeyId(open->view, open->root, open->path));
  if (it == keys.end()) return ERROR_FILE_NOT_FOUND;  // deleted while open
  auto value = it->second.values.find(fake::RegistryPath(name ? name : ""));
  if (value == it->second.values.end()) return ERROR_FILE_NOT_FOUND;
  const std::vector<uint8_t>& bytes = value->second.data;
  auto needed = static_cast<DWORD>(bytes.size());
  if (type) *type = value->second.type;
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed) memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  NoteCall();
  if (!dynamic_cast<fake::OpenKey*>(fake::FindHandle(key))) return ERROR_INVALID_HANDLE;
  W().handles.erase(reinterpret_cast<HANDLE>(key));
  return ERROR_SUCCESS;
}
