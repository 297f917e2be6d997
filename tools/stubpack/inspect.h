// `stubpack inspect`: what a launcher file carries, read by the launcher's own
// code (payload sources, block lookup and decoding, manifest walk, package
// selection, extraction list) on the host platform.
#pragma once

#include <cstdint>
#include <string>

struct InspectOptions {
  bool hasLocale = false;
  uint32_t locale = 0;  // with hasLocale: the user locale to select a package for
};

// Reads the file at path and appends a report to *text: file layout and
// signature, the verification key found in the file, every payload source,
// every block (kind, id, stored and decoded size, ratio, signature state),
// every manifest entry, and with a locale the package the launcher would
// choose and the files it would write. Returns 0 when everything the launcher
// would use is found and verifies, 1 otherwise (also when the file cannot be
// read or holds no verification key).
int Inspect(const std::string& path, const InspectOptions& options, std::string* text);
