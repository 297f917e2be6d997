// Program entry of launcher.exe.
#include "launcher/launch.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int showCmd) {
  return RunLauncher(hInstance, showCmd);
}
