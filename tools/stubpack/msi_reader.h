// What a manifest entry needs from a Windows Installer package, read through
// the platform's Installer library (msi_database.h) by the same rules on
// every platform.
#pragma once

#include <string>
#include <vector>

struct MsiFacts {
  std::string productCode;            // Property table, ProductCode
  std::string productName;            // Property table, ProductName
  std::string platform;               // summary information Template, before ";" ("x64")
  std::string languages;              // Template after ";", as written there ("1033,1031")
  std::vector<std::string> cabinets;  // external cabinets of the Media table, by DiskId
};

// Reads the facts of the package at path. Missing properties, a Template
// without ";" and a missing Media table leave their fields empty (the caller
// decides whether the command line supplies them); embedded cabinets ("#name")
// are not listed. False with a reason when the file cannot be opened or read
// as a package.
bool ReadMsiFacts(const std::string& path, MsiFacts* facts, std::string* error);
