// The package reader of the Windows build, over the system's Installer API.
//
// msi.dll is not a KnownDLL, so it is not in the import table (the loader
// would look for it beside stubpack.exe first): it is loaded from System32 by
// its full path on first use, and its functions are declared here. The
// headers give only the handle type and the constants.
//
// msi.dll hands out UTF-16, converted here once to UTF-8 (not to the ANSI
// code page), so that any product name reaches the manifest as the Linux
// build writes it. Paths come in the ANSI code page, the one every other file
// operation of the tool uses.
#include <windows.h>
// Types and constants only: no function of these headers is called.
#include <msidefs.h>
#include <msiquery.h>

#include <cstdio>

#include "platform/win32/system_library.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/msi_database.h"

struct MsiDatabase {
  MSIHANDLE handle;
};

namespace {

typedef UINT(WINAPI* MsiOpenDatabaseWFn)(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database);
typedef UINT(WINAPI* MsiDatabaseOpenViewWFn)(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view);
typedef UINT(WINAPI* MsiViewExecuteFn)(MSIHANDLE view, MSIHANDLE record);
typedef UINT(WINAPI* MsiViewFetchFn)(MSIHANDLE view, MSIHANDLE* record);
typedef UINT(WINAPI* MsiRecordGetStringWFn)(MSIHANDLE record, UINT field, LPWSTR buffer,
                                            DWORD* length);
typedef UINT(WINAPI* MsiGetSummaryInformationWFn)(MSIHANDLE database, LPCWSTR path,
                                                  UINT updateCount, MSIHANDLE* summary);
typedef UINT(WINAPI* MsiSummaryInfoGetPropertyWFn)(MSIHANDLE summary, UINT property, UINT* dataType,
                                                   INT* intValue, FILETIME* timeValue,
                                                   LPWSTR buffer, DWORD* length);
typedef UINT(WINAPI* MsiCloseHandleFn)(MSIHANDLE handle);

struct MsiApi {
  MsiOpenDatabaseWFn openDatabase;
  MsiDatabaseOpenViewWFn openView;
  MsiViewExecuteFn execute;
  MsiViewFetchFn fetch;
  MsiRecordGetStringWFn recordGetString;
  MsiGetSummaryInformationWFn getSummary;
  MsiSummaryInfoGetPropertyWFn summaryGetProperty;
  MsiCloseHandleFn closeHandle;
};

// "Text of the system message (error N)" for an Installer or system error code.
std::string ErrorText(DWORD code) {
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 &&
         (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.' || text[n - 1] == ' '))
    text[--n] = 0;
  char number[32];
  snprintf(number, sizeof number, "error %u", static_cast<unsigned>(code));
  return n > 0 ? std::string(text) + " (" + number + ")" : std::string(number);
}

template <typename Fn>
bool Procedure(HMODULE module, const char* name, Fn* fn, std::string* reason) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!*fn) *reason = std::string("msi.dll has no ") + name + ": " + ErrorText(GetLastError());
  return *fn != nullptr;
}

// The functions of System32\msi.dll, loaded once for the whole run (the
// module stays loaded until the process ends). Null with the reason when the
// library or one of its functions is missing.
const MsiApi* LoadMsiApi(std::string* reason) {
  static MsiApi api;
  static bool loaded = false;
  static std::string failure;
  if (!loaded && failure.empty()) {
    HMODULE module = LoadSystemLibrary("msi.dll");
    if (!module)
      failure = "cannot load msi.dll from the system folder: " + ErrorText(GetLastError());
    else if (Procedure(module, "MsiOpenDatabaseW", &api.openDatabase, &failure) &&
             Procedure(module, "MsiDatabaseOpenViewW", &api.openView, &failure) &&
             Procedure(module, "MsiViewExecute", &api.execute, &failure) &&
             Procedure(module, "MsiViewFetch", &api.fetch, &failure) &&
             Procedure(module, "MsiRecordGetStringW", &api.recordGetString, &failure) &&
             Procedure(module, "MsiGetSummaryInformationW", &api.getSummary, &failure) &&
             Procedure(module, "MsiSummaryInfoGetPropertyW", &api.summaryGetProperty, &failure) &&
             Procedure(module, "MsiCloseHandle", &api.closeHandle, &failure))
      loaded = true;
  }
  if (!loaded) *reason = failure;
  return loaded ? &api : nullptr;
}

// The one owner of an Installer handle; closes it when it goes.
struct Handle {
  explicit Handle(const MsiApi* api) : api(api) {}
  ~Handle() {
    if (value) api->closeHandle(value);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  const MsiApi* api;
  MSIHANDLE value = 0;
};

// text in codePage as UTF-16; false when it is not valid in that code page.
bool Widen(UINT codePage, const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (text.size() > 0x7FFFFFFF) return false;
  int size = static_cast<int>(text.size());
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, &(*wide)[0], n) ==
         n;
}

// UTF-16 text from msi.dll as UTF-8. An unpaired surrogate, which UTF-8
// cannot hold, becomes U+FFFD; the field checks see the rest as it is.
std::string Utf8(const std::wstring& wide) {
  if (wide.empty() || wide.size() > 0x7FFFFFFF) return "";
  int size = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "";
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &text[0], n, nullptr, nullptr);
  return text;
}

// Calls read(buffer, &length) with a buffer that grows until the text fits,
// as the Installer's string getters ask (ERROR_MORE_DATA with the length
// needed, not counting the terminating null). The text in *text.
template <typename Read>
UINT ReadWide(Read read, std::wstring* text) {
  std::wstring buffer(128, L'\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(buffer.size());
    UINT status = read(&buffer[0], &length);
    if (status == ERROR_MORE_DATA && length >= buffer.size()) {
      buffer.assign(static_cast<size_t>(length) + 1, L'\0');
      continue;
    }
    if (status == ERROR_SUCCESS) text->assign(buffer.data(), length < buffer.size() ? length : 0);
    return status;
  }
}

}  // namespace

void MsiDatabaseCloser::operator()(MsiDatabase* db) const {
  std::string reason;
  const MsiApi* api = LoadMsiApi(&reason);
  if (db && db->handle && api) api->closeHandle(db->handle);
  delete db;
}

MsiDatabasePtr OpenMsiDatabase(const std::string& path, std::string* reason) {
  const MsiApi* api = LoadMsiApi(reason);
  if (!api) return nullptr;
  // The Installer is given a full path with backslashes, whatever form the
  // command line used ("sub/product.msi"). It copies the path into a buffer
  // of MAX_PATH characters (Wine's msi.dll overruns it and crashes, in the
  // "\\?\" form too): a longer path is refused.
  std::wstring fullPath = FullPath(path);
  if (fullPath.empty()) {
    *reason = "the path is not valid text in the ANSI code page";
    return nullptr;
  }
  if (fullPath.size() >= MAX_PATH) {
    char text[160];
    snprintf(text, sizeof text,
             "its full path is %u characters long, and the system's Installer library "
             "takes at most %u; move it to a shorter path",
             static_cast<unsigned>(fullPath.size()), static_cast<unsigned>(MAX_PATH - 1));
    *reason = text;
    return nullptr;
  }
  MSIHANDLE handle = 0;
  UINT status =
      api->openDatabase(fullPath.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_READONLY), &handle);
  if (status != ERROR_SUCCESS) {
    *reason = ErrorText(status);
    return nullptr;
  }
  return MsiDatabasePtr(new MsiDatabase{handle});
}

bool QueryMsiDatabase(MsiDatabase* db, const char* sql, size_t columns,
                      std::vector<std::vector<std::string>>* rows, std::string* reason) {
  const MsiApi* api = LoadMsiApi(reason);
  if (!api) return false;
  std::wstring query;
  Widen(CP_UTF8, sql, &query);
  Handle view(api);
  UINT status = api->openView(db->handle, query.c_str(), &view.value);
  if (status == ERROR_SUCCESS) status = api->execute(view.value, 0);
  if (status != ERROR_SUCCESS) {
    *reason = ErrorText(status);
    return false;
  }
  std::vector<std::vector<std::string>> fetched;
  for (;;) {
    Handle record(api);
    status = api->fetch(view.value, &record.value);
    if (status != ERROR_SUCCESS) break;
    std::vector<std::string> row;
    for (size_t field = 1; field <= columns && status == ERROR_SUCCESS; field++) {
      std::wstring text;
      status = ReadWide(
          [&](LPWSTR buffer, DWORD* length) {
            return api->recordGetString(record.value, static_cast<UINT>(field), buffer, length);
          },
          &text);
      row.push_back(Utf8(text));
    }
    if (status != ERROR_SUCCESS) break;
    fetched.push_back(std::move(row));
  }
  if (status != ERROR_NO_MORE_ITEMS) {
    *reason = ErrorText(status);
    return false;
  }
  for (auto& row : fetched) rows->push_back(std::move(row));
  return true;
}

bool ReadMsiSummary(MsiDatabase* db, MsiSummary* out, std::string* reason) {
  const MsiApi* api = LoadMsiApi(reason);
  if (!api) return false;
  Handle summary(api);
  UINT status = api->getSummary(db->handle, nullptr, 0, &summary.value);
  if (status != ERROR_SUCCESS) {
    *reason = ErrorText(status);
    return false;
  }
  *out = MsiSummary{};
  UINT type = VT_EMPTY;
  std::wstring wide;
  status = ReadWide(
      [&](LPWSTR buffer, DWORD* length) {
        INT number = 0;
        FILETIME time{};
        return api->summaryGetProperty(summary.value, PID_TEMPLATE, &type, &number, &time, buffer,
                                       length);
      },
      &wide);
  if (status != ERROR_SUCCESS) {
    *reason = ErrorText(status);
    return false;
  }
  // A package without a Template (VT_EMPTY) has no platform and no languages.
  out->templ = type == VT_LPSTR ? Utf8(wide) : "";
  INT version = 0;
  FILETIME time{};
  DWORD length = 0;
  status = api->summaryGetProperty(summary.value, PID_PAGECOUNT, &type, &version, &time, nullptr,
                                   &length);
  if (status == ERROR_SUCCESS && type == VT_I4) out->minimumInstallerVersion = version;
  return true;
}
