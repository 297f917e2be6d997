#include "tools/stubpack/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
static const char kSeparators[] = "/\\";

static std::string SystemReason() {
  char text[256] = "";
  DWORD code = GetLastError();
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                      text, sizeof text, nullptr))
    snprintf(text, sizeof text, "error %u", static_cast<unsigned>(code));
  std::string reason = text;
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
    reason.pop_back();
  return reason;
}
#else
static const char kSeparators[] = "/";

static std::string SystemReason() { return strerror(errno); }
#endif

static std::string Reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + SystemReason();
}

#ifdef _WIN32
std::wstring FullPath(const std::string& path) {
  if (path.empty() || path.size() > 0x7FFFFFFF) return L"";
  int size = static_cast<int>(path.size());
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (n <= 0) return L"";
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, &wide[0], n) != n)
    return L"";
  DWORD capacity = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (capacity == 0) return L"";
  std::wstring full(capacity, L'\0');
  DWORD length = GetFullPathNameW(wide.c_str(), capacity, &full[0], nullptr);
  if (length == 0 || length >= capacity) return L"";
  full.resize(length);
  return full;
}

std::wstring SystemPath(const std::string& path) {
  std::wstring full = FullPath(path);
  // Folders stop 12 characters short of MAX_PATH (room for an 8.3 name).
  if (full.size() < MAX_PATH - 12 || full.compare(0, 4, L"\\\\?\\") == 0 ||
      full.compare(0, 4, L"\\\\.\\") == 0)
    return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}
#endif

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
  data->clear();
#ifdef _WIN32
  HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = Reason("cannot open", path);
    return false;
  }
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) != 0;
  if (ok) data->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (ok && done < data->size()) {
    DWORD chunk =
        data->size() - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data->size() - done);
    DWORD read = 0;
    ok = ReadFile(file, data->data() + done, chunk, &read, nullptr) && read > 0;
    done += read;
  }
  if (!ok) *error = Reason("cannot read", path);
  CloseHandle(file);
#else
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Reason("cannot open", path);
    return false;
  }
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) *error = "cannot read " + path + ": not a regular file";
  if (ok) data->resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (ok && done < data->size()) {
    ssize_t n = read(fd, data->data() + done, data->size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (!ok) *error = n < 0 ? Reason("cannot read", path) : "cannot read " + path + ": file shrank";
    if (ok) done += static_cast<size_t>(n);
  }
  close(fd);
#endif
  if (!ok) data->clear();
  return ok;
}

#ifdef _WIN32
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data, unsigned,
                         bool noClobber, std::string* error) {
  if (noClobber && PathExists(path)) {
    *error = path + " already exists; not overwriting it";
    return false;
  }
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 100; attempt++) {
    char suffix[48];
    snprintf(suffix, sizeof suffix, ".stubpack-%u-%u", static_cast<unsigned>(GetCurrentProcessId()),
             attempt);
    temp = FolderOf(path) + "\\" + BaseName(path) + suffix;
    file = CreateFileW(SystemPath(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    *error = Reason("cannot create a temporary file beside", path);
    return false;
  }
  bool ok = true;
  size_t done = 0;
  while (ok && done < data.size()) {
    DWORD chunk =
        data.size() - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size() - done);
    DWORD written = 0;
    ok = WriteFile(file, data.data() + done, chunk, &written, nullptr) && written == chunk;
    done += written;
  }
  ok = ok && FlushFileBuffers(file);
  if (!ok) *error = Reason("cannot write", temp);
  CloseHandle(file);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  DWORD flags = MOVEFILE_WRITE_THROUGH | (noClobber ? 0 : MOVEFILE_REPLACE_EXISTING);
  if (ok && !MoveFileExW(SystemPath(temp).c_str(), SystemPath(path).c_str(), flags)) {
    ok = false;
    *error = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS
                 ? path + " already exists; not overwriting it"
                 : Reason("cannot write", path);
  }
  if (!ok) DeleteFileW(SystemPath(temp).c_str());
  return ok;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The volume and file index of the file at path; false when it cannot be opened.
static bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(file, info) != 0;
  CloseHandle(file);
  return ok;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return FileIdentity(a, &x) && FileIdentity(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return true;
  *error = Reason("cannot create", path);
  return false;
}

void RemoveFile(const std::string& path) { DeleteFileW(SystemPath(path).c_str()); }
#else
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data, unsigned mode,
                         bool noClobber, std::string* error) {
  if (noClobber && PathExists(path)) {
    *error = path + " already exists; not overwriting it";
    return false;
  }
  std::string temp = FolderOf(path) + "/." + BaseName(path) + ".stubpack-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = Reason("cannot create a temporary file beside", path);
    return false;
  }
  bool ok = fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = Reason("cannot write", name.data());
  if (close(fd) != 0 && ok) {
    ok = false;
    *error = Reason("cannot write", name.data());
  }
  if (ok) {
    // link() refuses an existing target where rename() would replace it.
    ok = noClobber ? link(name.data(), path.c_str()) == 0 : rename(name.data(), path.c_str()) == 0;
    if (!ok)
      *error = errno == EEXIST ? path + " already exists; not overwriting it"
                               : Reason("cannot write", path);
  }
  if (!ok || noClobber) unlink(name.data());
  return ok;
}

bool PathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  *error = Reason("cannot create", path);
  return false;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }
#endif

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

bool WriteTemporaryFile(const std::vector<uint8_t>& data, const char* suffix, std::string* path,
                        std::string* error) {
#ifdef _WIN32
  wchar_t wide[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, wide);
  char folder[4 * MAX_PATH + 4] = "";
  if (n == 0 || n > MAX_PATH ||
      !WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(n), folder, sizeof folder - 1,
                           nullptr, nullptr)) {
    *error = "cannot find the temporary folder: " + SystemReason();
    return false;
  }
  std::string base = folder;
  while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
  unsigned long process = GetCurrentProcessId();
#else
  const char* tmp = getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  unsigned long process = static_cast<unsigned long>(getpid());
#endif
  static unsigned counter = 0;
  for (unsigned attempt = 0; attempt < 100; attempt++) {
    char name[64];
    snprintf(name, sizeof name, "stubpack-%lu-%u%s", process, counter++, suffix);
    *path = JoinPath(base, name);
    if (WriteFileAtomically(*path, data, 0600, true, error)) return true;
    if (!PathExists(*path)) return false;
  }
  *error = "cannot make a temporary file in " + base;
  return false;
}
