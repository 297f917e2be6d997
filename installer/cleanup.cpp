#include "installer/cleanup.h"

#include "base/text_format.h"
#include "extraction/extraction_folder.h"

bool IsProductRegistered(const char* productCode) {
  // Room for the longest product code a package entry can hold, so that the
  // key asked for is never a cut one.
  char path[512];
  int n = FormatText(path, sizeof path, "%s\\%s",
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", productCode);
  if (n < 0 || n >= static_cast<int>(sizeof path)) return false;
  HKEY key = nullptr;
  // The Windows Installer registers products in the 64-bit view.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(key, "UninstallString", nullptr, nullptr, nullptr, &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && size != 0;
}

void CleanUpExtraction(ExtractJob* job, const char* extractDir, const char* productCode,
                       uint32_t installerExitCode) {
  if (job->items) {
    for (int32_t i = 0; i < job->count; i++) {
      ExtractItem& item = job->items[i];
      if (item.handle) CloseHandle(item.handle);
      item.handle = nullptr;
      // Every item's file goes, whether this run wrote it, only created it
      // or found it there already.
      if (installerExitCode != 0 && !IsProductRegistered(productCode) && item.path[0] &&
          PathExists(item.path))
        DeleteFileA(item.path);
    }
    LocalFree(job->items);
    job->items = nullptr;
    job->count = 0;
  }
  // Only an empty folder is removed; an empty path never exists.
  if (!IsProductRegistered(productCode) && PathExists(extractDir)) RemoveDirectoryA(extractDir);
}
