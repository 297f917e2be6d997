// Fake platform: files and folders, with existence, share modes between
// handles, delete disposition, links, file identity and final paths, the
// descriptor each was created with, and write faults (unwritable folders, a
// disk that fills up).
#include <cstring>

#include "platform/fake/fake.h"

namespace fake {

namespace {

// The characters of path with ASCII letters upper-cased and "/" read as "\",
// split at the separators: components[0] is what stands before the first one.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> components(1);
  for (size_t i = 0; i < path.size();) {
    size_t n = AnsiCharLength(path.c_str() + i);
    if (n == 0) break;
    if (n > 1) {
      components.back().append(path, i, n);
    } else if (path[i] == '\\' || path[i] == '/') {
      components.emplace_back();
    } else {
      char c = path[i];
      components.back().push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    i += n;
  }
  return components;
}

std::string Join(const std::vector<std::string>& components, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; i++) out += (i > from ? "\\" : "") + components[i];
  return out;
}

bool IsDrive(const std::string& component) {
  return component.size() == 2 && component[1] == ':' && component[0] >= 'A' &&
         component[0] <= 'Z';
}

}  // namespace

namespace {

// Key of path; followLast says whether a link named by its last component is
// followed. Links are followed at most eight deep.
std::string Resolve(const std::string& path, bool followLast, int depth) {
  std::vector<std::string> parts = Components(path);
  std::string root;
  if (parts.size() > 1 && IsDrive(parts[0])) {
    root = parts[0] + "\\";
  } else if (parts.size() > 1 && parts[0].empty() && !parts[1].empty()) {
    std::vector<std::string> current = Components(W().files.currentDirectory);
    if (IsDrive(current[0])) root = current[0] + "\\";
  }
  if (root.empty()) {
    // A name, or a path the fake does not resolve: kept as written.
    std::string key = Join(parts, 0, parts.size());
    while (key.size() > 3 && key.back() == '\\') key.pop_back();
    return key;
  }
  std::vector<std::string> resolved;
  for (size_t i = 1; i < parts.size(); i++) {
    if (parts[i].empty() || parts[i] == ".") continue;
    if (parts[i] == "..") {
      if (!resolved.empty()) resolved.pop_back();
      continue;
    }
    resolved.push_back(parts[i]);
  }
  const std::string& written = parts.back();
  if (!written.empty() && written != "." && written != ".." && !resolved.empty()) {
    std::string& last = resolved.back();
    while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
    if (last.empty()) resolved.pop_back();
  }
  std::string key = root;
  for (size_t i = 0; i < resolved.size(); i++) {
    if (key.back() != '\\') key += "\\";
    key += resolved[i];
    if (i + 1 == resolved.size() && !followLast) break;
    auto it = W().files.nodes.find(key);
    if (it != W().files.nodes.end() && !it->second.linkTarget.empty() && depth < 8)
      key = Resolve(it->second.linkTarget, true, depth + 1);
  }
  return key;
}

}  // namespace

std::string Key(const std::string& path) { return Resolve(path, true, 0); }

std::string KeyOfName(const std::string& path) { return Resolve(path, false, 0); }

std::string ParentOf(const std::string& path) {
  std::vector<std::string> parts = Components(Key(path));
  if (parts.size() < 2) return "";
  if (parts.size() == 2) return parts[0] + "\\";
  return Join(parts, 0, parts.size() - 1);
}

bool Exists(const std::string& path) { return W().files.nodes.count(Key(path)) != 0; }

bool IsFolder(const std::string& path) {
  auto it = W().files.nodes.find(Key(path));
  return it != W().files.nodes.end() && it->second.directory;
}

void AddFolder(const std::string& path) {
  std::string key = Key(path);
  if (key.empty() || Exists(key)) return;
  std::string parent = ParentOf(key);
  if (!parent.empty() && parent != key) AddFolder(parent);
  Node& node = W().files.nodes[key];
  node.directory = true;
  node.id = W().files.nextId++;
  W().files.displayNames[key] = path;
}

void AddFile(const std::string& path, const std::vector<uint8_t>& data) {
  AddFolder(ParentOf(path));
  Node& node = W().files.nodes[Key(path)];
  node.directory = false;
  node.data = std::make_shared<std::vector<uint8_t>>(data);
  node.id = W().files.nextId++;
  W().files.displayNames[Key(path)] = path;
}

void AddLink(const std::string& link, const std::string& target, bool reparsePoint) {
  AddFolder(ParentOf(link));
  std::string key = KeyOfName(link);
  Node& node = W().files.nodes[key];
  node = Node();
  node.directory = true;
  node.id = W().files.nextId++;
  node.linkTarget = target;
  node.reparsePoint = reparsePoint;
  W().files.displayNames[key] = link;
}

std::string DescriptorOf(const std::string& path) {
  auto it = W().files.nodes.find(Key(path));
  return it == W().files.nodes.end() ? "" : it->second.descriptor;
}

void AddHardLink(const std::string& existing, const std::string& link) {
  AddFolder(ParentOf(link));
  Node& node = W().files.nodes[Key(link)];
  node = W().files.nodes.at(Key(existing));
  W().files.displayNames[Key(link)] = link;
}

std::vector<uint8_t> FileData(const std::string& path) {
  auto it = W().files.nodes.find(Key(path));
  return it == W().files.nodes.end() ? std::vector<uint8_t>() : *it->second.data;
}

std::string NameOnDisk(const std::u16string& path) {
  std::string ansi(path.size() * 4 + 1, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, &ansi[0], static_cast<int>(ansi.size()),
                              nullptr, nullptr);
  ansi.resize(n > 0 ? static_cast<size_t>(n) : 1);
  std::u16string back(ansi.size(), u'\0');
  int m = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &back[0], static_cast<int>(back.size()));
  back.resize(m > 0 ? static_cast<size_t>(m) - 1 : 0);
  ansi.pop_back();
  return back == path ? ansi : Utf8(path);
}

struct OpenFile : HandleObject {
  std::string key;
  DWORD access = 0;
  DWORD share = 0;
  size_t position = 0;
};

namespace {

const DWORD kReadAccess = GENERIC_READ | FILE_LIST_DIRECTORY;
const DWORD kWriteAccess = GENERIC_WRITE | 0x0002 | 0x0004;  // FILE_WRITE_DATA, FILE_APPEND_DATA

// Windows checks sharing only between opens that ask for data or delete
// access; one that asks for attributes alone neither is refused nor refuses.
bool TakesPartInSharing(DWORD access) {
  return (access & (kReadAccess | kWriteAccess | DELETE)) != 0;
}

// Whether an open asking for access with share can stand beside file.
bool SharesWith(const OpenFile& file, DWORD access, DWORD share) {
  if (!TakesPartInSharing(file.access) || !TakesPartInSharing(access)) return true;
  auto clash = [](DWORD held, DWORD othersShare) {
    return ((held & kReadAccess) && !(othersShare & FILE_SHARE_READ)) ||
           ((held & kWriteAccess) && !(othersShare & FILE_SHARE_WRITE)) ||
           ((held & DELETE) && !(othersShare & FILE_SHARE_DELETE));
  };
  return !clash(file.access, share) && !clash(access, file.share);
}

// ERROR_SHARING_VIOLATION when an open of key asking for access with share
// clashes with a handle open on it, else 0.
DWORD SharingError(const std::string& key, DWORD access, DWORD share) {
  for (auto& entry : W().handles) {
    auto* file = dynamic_cast<OpenFile*>(entry.second.get());
    if (file && file->key == key && !SharesWith(*file, access, share))
      return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

bool HasHandles(const std::string& key) {
  for (auto& entry : W().handles) {
    auto* file = dynamic_cast<OpenFile*>(entry.second.get());
    if (file && file->key == key) return true;
  }
  return false;
}

}  // namespace

DWORD Rename(const std::string& from, const std::string& to, bool ignoreSharing) {
  std::string source = KeyOfName(from);
  std::string target = KeyOfName(to);
  if (!W().files.nodes.count(source)) return ERROR_FILE_NOT_FOUND;
  if (W().files.nodes.count(target)) return ERROR_ALREADY_EXISTS;
  DWORD sharing = SharingError(source, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (sharing && !ignoreSharing) return sharing;
  // The node and everything below it move; open handles move with them.
  std::map<std::string, Node> moved;
  const std::string below = source + "\\";
  for (auto it = W().files.nodes.begin(); it != W().files.nodes.end();) {
    if (it->first == source || it->first.compare(0, below.size(), below) == 0) {
      moved[target + it->first.substr(source.size())] = it->second;
      W().files.displayNames[target + it->first.substr(source.size())] =
          to + it->first.substr(source.size());
      it = W().files.nodes.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& entry : moved) W().files.nodes[entry.first] = entry.second;
  for (auto& entry : W().handles) {
    auto* file = dynamic_cast<OpenFile*>(entry.second.get());
    if (file && (file->key == source || file->key.compare(0, below.size(), below) == 0))
      file->key = target + file->key.substr(source.size());
  }
  return 0;
}

struct FindHandleObject : HandleObject {};

}  // namespace fake

using fake::Key;
using fake::NoteCall;
using fake::W;

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

static bool ValidPath(LPCSTR path) {
  if (!path || !*path) return false;
  // The fake knows only absolute paths: on a drive, or rooted on the current
  // drive; the launcher makes only those.
  if (strlen(path) >= 3 && path[1] == ':' && IsSeparator(path[2])) return true;
  const std::string& current = W().files.currentDirectory;
  return IsSeparator(path[0]) && !IsSeparator(path[1]) && current.size() >= 2 && current[1] == ':';
}

static bool InUnwritableFolder(const std::string& key) {
  for (const std::string& folder : W().faults.unwritableFolders) {
    std::string f = Key(folder);
    if (key.size() > f.size() && key.compare(0, f.size(), f) == 0 && key[f.size()] == '\\')
      return true;
  }
  return false;
}

static std::string DescriptorText(LPSECURITY_ATTRIBUTES security) {
  if (!security || !security->lpSecurityDescriptor) return "";
  return static_cast<const char*>(security->lpSecurityDescriptor);
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE) {
  NoteCall();
  if (!ValidPath(path)) {
    W().lastError = ERROR_PATH_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  // Wildcards are never part of a name: a '?' left by a conversion to the
  // ANSI code page makes the path invalid.
  if (strpbrk(path, "?*")) {
    W().lastError = ERROR_INVALID_NAME;
    return INVALID_HANDLE_VALUE;
  }
  // A link shown as a reparse point is opened itself when asked; any other
  // link is followed.
  std::string key = Key(path);
  if (flags & FILE_FLAG_OPEN_REPARSE_POINT) {
    auto link = W().files.nodes.find(fake::KeyOfName(path));
    if (link != W().files.nodes.end() && link->second.reparsePoint) key = link->first;
  }
  auto it = W().files.nodes.find(key);
  bool exists = it != W().files.nodes.end();
  if (exists && it->second.deletePending) {
    W().lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  // A folder opens only as an existing one and with backup semantics.
  if (exists && it->second.directory &&
      (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || disposition != OPEN_EXISTING ||
       (access & GENERIC_WRITE))) {
    W().lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  if (disposition == OPEN_EXISTING) {
    if (!exists) {
      W().lastError = fake::IsFolder(fake::ParentOf(key)) ? ERROR_FILE_NOT_FOUND
                                                           : ERROR_PATH_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
    if (DWORD error = fake::SharingError(key, access, share)) {
      W().lastError = error;
      return INVALID_HANDLE_VALUE;
    }
  } else {
    if (!fake::IsFolder(fake::ParentOf(key))) {
      W().lastError = ERROR_PATH_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
    if (InUnwritableFolder(key)) {
      W().lastError = ERROR_ACCESS_DENIED;
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW && exists) {
      W().lastError = ERROR_FILE_EXISTS;
      return INVALID_HANDLE_VALUE;
    }
    if (exists) {
      if (DWORD error = fake::SharingError(key, access, share)) {
        W().lastError = error;
        return INVALID_HANDLE_VALUE;
      }
    }
    fake::Node& node = W().files.nodes[key];
    if (!exists) {
      node.id = W().files.nextId++;
      node.descriptor = DescriptorText(security);
    }
    W().files.displayNames[key] = path;
    if (disposition == CREATE_ALWAYS) node.data->clear();
    W().lastError = exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                        ? ERROR_ALREADY_EXISTS
                        : 0;
  }
  auto file = std::make_unique<fake::OpenFile>();
  file->key = key;
  file->access = access;
  file->share = share;
  return fake::AddHandle(std::move(file));
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (!path) {
    NoteCall();
    W().lastError = ERROR_PATH_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(fake::NameOnDisk(path).c_str(), access, share, security, disposition, flags,
                     templateFile);
}

static fake::OpenFile* AsFile(HANDLE handle) {
  auto* file = dynamic_cast<fake::OpenFile*>(fake::FindHandle(handle));
  if (!file || !W().files.nodes.count(file->key)) {
    W().lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return file;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  NoteCall();
  fake::OpenFile* file = AsFile(handle);
  if (!file) return INVALID_FILE_SIZE;
  if (W().faults.sizeFailFiles.count(file->key)) {
    W().lastError = ERROR_ACCESS_DENIED;
    return INVALID_FILE_SIZE;
  }
  uint64_t size = W().files.nodes[file->key].data->size();
  if (W().faults.over4GiBFiles.count(file->key)) size += uint64_t{1} << 32;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  W().lastError = 0;
  return static_cast<DWORD>(size);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED at) {
  NoteCall();
  if (read) *read = 0;
  fake::OpenFile* file = AsFile(handle);
  if (!file) return FALSE;
  // A synchronous handle reads at the offset given and moves its position
  // past what it read, as on Windows.
  if (at) file->position = static_cast<size_t>(at->Offset) | static_cast<uint64_t>(at->OffsetHigh) << 32;
  if (!(file->access & GENERIC_READ) || W().faults.unreadableFiles.count(file->key)) {
    W().lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  auto bad = W().faults.unreadableByte.find(file->key);
  if (bad != W().faults.unreadableByte.end() && file->position <= bad->second &&
      bad->second - file->position < toRead) {
    W().lastError = ERROR_READ_FAULT;
    return FALSE;
  }
  const std::vector<uint8_t>& data = *W().files.nodes[file->key].data;
  size_t left = file->position < data.size() ? data.size() - file->position : 0;
  size_t n = toRead < left ? toRead : left;
  if (W().faults.shortReadFiles.count(file->key)) n /= 2;
  if (n) memcpy(buffer, data.data() + file->position, n);
  file->position += n;
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  NoteCall();
  if (written) *written = 0;
  fake::OpenFile* file = AsFile(handle);
  if (!file) return FALSE;
  if (!(file->access & GENERIC_WRITE)) {
    W().lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  size_t n = toWrite;
  bool full = false;
  if (W().faults.diskSpace) {
    if (*W().faults.diskSpace < n) {
      n = static_cast<size_t>(*W().faults.diskSpace);
      full = true;
    }
    *W().faults.diskSpace -= n;
  }
  std::vector<uint8_t>& data = *W().files.nodes[file->key].data;
  if (data.size() < file->position + n) data.resize(file->position + n);
  if (n) memcpy(data.data() + file->position, buffer, n);
  file->position += n;
  if (written) *written = static_cast<DWORD>(n);
  if (full) {
    W().lastError = ERROR_DISK_FULL;
    return FALSE;
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  NoteCall();
  auto it = W().handles.find(handle);
  if (it == W().handles.end()) {
    W().lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  std::string key;
  if (auto* file = dynamic_cast<fake::OpenFile*>(it->second.get())) key = file->key;
  W().handles.erase(it);
  // A file or folder marked for deletion goes with its last handle.
  auto node = W().files.nodes.find(key);
  if (!key.empty() && node != W().files.nodes.end() && node->second.deletePending &&
      !fake::HasHandles(key))
    W().files.nodes.erase(node);
  if (!key.empty() && W().faults.afterLastClose && W().files.nodes.count(key) &&
      !fake::HasHandles(key)) {
    auto other = std::move(W().faults.afterLastClose);
    W().faults.afterLastClose = nullptr;
    auto name = W().files.displayNames.find(key);
    other(name != W().files.displayNames.end() ? name->second : key);
  }
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
  NoteCall();
  if (!ValidPath(path) || !W().files.nodes.count(fake::KeyOfName(path))) {
    W().lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  // A link, of either kind, is listed as a folder that is a reparse point.
  const fake::Node& node = W().files.nodes[fake::KeyOfName(path)];
  memset(data, 0, sizeof(*data));
  data->dwFileAttributes = node.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (!node.linkTarget.empty()) data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  data->nFileSizeLow = static_cast<DWORD>(node.data->size());
  std::string name = fake::Components(Key(path)).back();
  snprintf(data->cFileName, sizeof(data->cFileName), "%s", name.c_str());
  return fake::AddHandle(std::make_unique<fake::FindHandleObject>());
}

BOOL FindClose(HANDLE find) {
  NoteCall();
  if (!dynamic_cast<fake::FindHandleObject*>(fake::FindHandle(find))) {
    W().lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  W().handles.erase(find);
  return TRUE;
}

// DeleteFile and RemoveDirectory remove the name itself, a link too; the
// name goes at once when no handle is open on it, and with the last handle
// when every open one shares deletion.
static BOOL RemoveName(const std::string& key) {
  if (DWORD error = fake::SharingError(key, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE)) {
    W().lastError = error;
    return FALSE;
  }
  if (fake::HasHandles(key))
    W().files.nodes[key].deletePending = true;
  else
    W().files.nodes.erase(key);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  NoteCall();
  std::string key = ValidPath(path) ? fake::KeyOfName(path) : "";
  auto it = W().files.nodes.find(key);
  if (it == W().files.nodes.end() || (it->second.directory && it->second.linkTarget.empty())) {
    W().lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  return RemoveName(key);
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  NoteCall();
  if (!ValidPath(path)) {
    W().lastError = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  std::string key = Key(path);
  if (fake::Exists(key) || W().files.nodes.count(fake::KeyOfName(path))) {
    W().lastError = ERROR_ALREADY_EXISTS;
    return FALSE;
  }
  if (!fake::IsFolder(fake::ParentOf(key))) {
    W().lastError = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  if (InUnwritableFolder(key)) {
    W().lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  fake::Node& node = W().files.nodes[key];
  node.directory = true;
  node.id = W().files.nextId++;
  node.descriptor = DescriptorText(security);
  W().files.displayNames[key] = path;
  return TRUE;
}

// Whether the folder at key holds anything.
static bool HasChildren(const std::string& key) {
  // Children sort right after "KEY\"; siblings such as "KEY.OLD" may sort
  // between the folder and its children, so look from there.
  const std::string children = key + "\\";
  auto next = W().files.nodes.lower_bound(children);
  return next != W().files.nodes.end() && next->first.compare(0, children.size(), children) == 0;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  NoteCall();
  std::string key = ValidPath(path) ? fake::KeyOfName(path) : "";
  auto it = W().files.nodes.find(key);
  if (it == W().files.nodes.end() || !it->second.directory) {
    W().lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  if (it->second.linkTarget.empty() && HasChildren(key)) {
    W().lastError = ERROR_DIR_NOT_EMPTY;
    return FALSE;
  }
  return RemoveName(key);
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  NoteCall();
  fake::OpenFile* file = AsFile(handle);
  if (!file || !info) return FALSE;
  const fake::Node& node = W().files.nodes[file->key];
  memset(info, 0, sizeof *info);
  info->dwFileAttributes = node.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (!node.linkTarget.empty()) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  info->dwVolumeSerialNumber = 0x43000000;
  info->nFileSizeLow = static_cast<DWORD>(node.data->size());
  info->nNumberOfLinks = 1;
  info->nFileIndexHigh = static_cast<DWORD>(node.id >> 32);
  info->nFileIndexLow = static_cast<DWORD>(node.id);
  return TRUE;
}

BOOL GetVolumeInformationByHandleW(HANDLE handle, LPWSTR name, DWORD, LPDWORD serial,
                                   LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem, DWORD) {
  NoteCall();
  if (!AsFile(handle) || name || serial || maxComponent || fileSystem) return FALSE;
  if (flags) *flags = W().files.volumeKeepsAcls ? FILE_PERSISTENT_ACLS : 0;
  return TRUE;
}

DWORD GetFinalPathNameByHandleA(HANDLE handle, LPSTR path, DWORD size, DWORD) {
  NoteCall();
  fake::OpenFile* file = AsFile(handle);
  if (!file) return 0;
  // The path the object is found under, spelled as it was created.
  auto name = W().files.displayNames.find(file->key);
  std::string final =
      "\\\\?\\" + (name != W().files.displayNames.end() && Key(name->second) == file->key
                       ? name->second
                       : file->key);
  if (final.size() + 1 > size) return static_cast<DWORD>(final.size() + 1);
  memcpy(path, final.c_str(), final.size() + 1);
  return static_cast<DWORD>(final.size());
}

BOOL SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                DWORD size) {
  NoteCall();
  fake::OpenFile* file = AsFile(handle);
  if (!file) return FALSE;
  if (infoClass != FileDispositionInfo || !info || size < sizeof(FILE_DISPOSITION_INFO)) {
    W().lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  if (!(file->access & DELETE)) {
    W().lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  fake::Node& node = W().files.nodes[file->key];
  bool remove = static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile != 0;
  if (remove && node.directory && node.linkTarget.empty() && HasChildren(file->key)) {
    W().lastError = ERROR_DIR_NOT_EMPTY;
    return FALSE;
  }
  node.deletePending = remove;
  return TRUE;
}

static UINT CopyOut(const std::string& value, LPSTR buffer, UINT size) {
  if (value.size() + 1 > size) return static_cast<UINT>(value.size() + 1);
  memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<UINT>(value.size());
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  NoteCall();
  if (W().files.windowsDirectory.empty()) {
    W().lastError = ERROR_PATH_NOT_FOUND;
    return 0;
  }
  return CopyOut(W().files.windowsDirectory, buffer, size);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  NoteCall();
  if (W().files.systemDirectory.empty()) {
    W().lastError = ERROR_PATH_NOT_FOUND;
    return 0;
  }
  return CopyOut(W().files.systemDirectory, buffer, size);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  NoteCall();
  return CopyOut(W().files.currentDirectory, buffer, size);
}

DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
  NoteCall();
  std::string out;
  for (const char* p = source; *p;) {
    const char* end = *p == '%' ? strchr(p + 1, '%') : nullptr;
    if (end) {
      std::string name(p + 1, end);
      auto it = W().system.environment.find(Key(name));
      if (it != W().system.environment.end()) {
        out += it->second;
        p = end + 1;
        continue;
      }
    }
    out.push_back(*p++);
  }
  // The result counts the terminating zero, as Windows does.
  if (out.size() + 1 <= size) memcpy(destination, out.c_str(), out.size() + 1);
  return static_cast<DWORD>(out.size() + 1);
}
