/* What an attacker would plant beside a downloaded setup program. Built as a
 * DLL (PLANTED_DLL) it stands in for a system DLL such as crypt32.dll; built
 * as a program it stands in for msiexec.exe. Either way, when Windows loads or
 * runs it, it leaves the marker C:\planted\<its file name>.txt, which the
 * tests look for, and a planted program exits with 1603. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static void LeaveMarker(HMODULE self) {
  char path[MAX_PATH + 1] = "";
  char marker[MAX_PATH + 32];
  GetModuleFileNameA(self, path, MAX_PATH);
  const char* name = strrchr(path, '\\');
  name = name ? name + 1 : path;
  CreateDirectoryA("C:\\planted", NULL);
  snprintf(marker, sizeof marker, "C:\\planted\\%s.txt", name);
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

#ifdef PLANTED_DLL
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}
#else
int main(void) {
  LeaveMarker(NULL);
  return 1603;
}
#endif
