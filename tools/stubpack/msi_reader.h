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
  int minimumInstallerVersion = -1;   // summary information Page Count; -1 when missing
  bool neutralCodepage = false;       // the string pool has code page 0 (the system's)
  bool nonAsciiText = false;          // ... and holds text that is not ASCII
  bool undefinedBytes = false;        // the pool, in code page 0 or 1252, holds bytes
                                      // 1252 does not define; they are read as "?"
};

// A package's string pool with code page 0 is read, as Windows Installer reads
// it on a Western system, in this code page on every platform.
const unsigned kNeutralCodepageReading = 1252;

// Reads the facts of the package at path. Missing properties, a Template
// without ";" and a missing Media table leave their fields empty (the caller
// decides whether the command line supplies them); embedded cabinets ("#name")
// are not listed. Texts of a string pool in code page 0 are read as code page
// 1252, whatever the platform's Installer library would make of them, and
// bytes that 1252 does not define as "?". False with a reason when the file
// is not a package or cannot be read as one.
bool ReadMsiFacts(const std::string& path, MsiFacts* facts, std::string* error);
