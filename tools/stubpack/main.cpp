// stubpack: the publisher's tool that builds payloads for the launcher.
#include "tools/stubpack/cli.h"

int main(int argc, char** argv) { return RunStubpack(argc, argv); }
