/* Loads the DLL named by its argument the plain way, as a program that does
 * not restrict its DLL search would. The planting test runs it first to show
 * that a planted DLL beside a program does get loaded in this Wine; the
 * launcher must then not load it. Exit code 0 when the load succeeded. */
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  return LoadLibraryA(argv[1]) ? 0 : 1;
}
