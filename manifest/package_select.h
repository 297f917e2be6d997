// Choosing the package for the user's locale and the launcher's architecture.
#pragma once

#include <cstdint>

#include "payload/payload_source.h"

struct PackageMatch {
  uint32_t lcid;         // locale the language ids are matched against
  uint32_t mode;         // 0: whole 16-bit language id; 1: its low 8 bits
  uint32_t sourceIndex;  // out: source of the matched entry
  uint32_t key;          // out: key of the matched entry; 0 means no match
  char architecture[256];
  char languages[256];
  char productCode[256];
  char productName[256];
};

// Manifest walk callback (context: PackageMatch). Reads the entry's four
// fields "architecture\languages\productCode\productName" into match; skips
// (returns 1) an entry without four non-empty fields or with a field longer
// than its 255-byte buffer. Accepts the entry when one of its ";"-separated
// language ids fits match->lcid under match->mode and the architecture is
// "x64" in any case: then sets match->sourceIndex and match->key and returns 0.
int MatchPackageEntry(uint32_t sourceIndex, uint32_t key, const char* text, void* context);

// Runs the selection passes over every manifest entry of sources; true when
// an x64 package entry fits lcid (the user's locale) or, as a last resort,
// 1033. match->lcid is then the locale it settled on: lcid, or 1033 after the
// fallback.
bool SelectPackage(const PayloadSources* sources, uint32_t lcid, PackageMatch* match);
