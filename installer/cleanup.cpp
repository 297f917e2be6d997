#include "installer/cleanup.h"

#include "base/text_format.h"
#include "extraction/output_file.h"

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

void CleanUpExtraction(ExtractJob* job, ProductFolder* folder, const char* productCode,
                       uint32_t installerExitCode) {
  if (job->items) {
    for (int32_t i = 0; i < job->count; i++) {
      ExtractItem& item = job->items[i];
      // Every item's file goes, whether this run wrote it, only created it
      // or found it there already.
      if (installerExitCode != 0 && !IsProductRegistered(productCode))
        DeleteItemFile(&item);
      else
        ReleaseItemFile(&item);
    }
    LocalFree(job->items);
    job->items = nullptr;
    job->count = 0;
  }
  // Only an empty folder is removed, and only one this run made.
  ReleaseProductFolder(folder, !IsProductRegistered(productCode));
}
