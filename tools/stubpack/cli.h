// The stubpack command line: keygen, pack, inspect and their help texts.
#pragma once

// Runs one stubpack command; prints results to stdout and problems to stderr.
// Returns the exit status: 0 success, 1 failure, 2 usage error.
int RunStubpack(int argc, char** argv);
