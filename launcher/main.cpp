// Program entry of launcher.exe.
#include "launcher/compiled_key.h"
#include "launcher/launch.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int showCmd) {
  uint8_t blob[KEY_BLOB_SIZE];
  return RunLauncher(hInstance, showCmd, ReadKeySection(kKeySection, blob));
}
