#include "manifest/package_select.h"

#include <cstring>

#include "base/text_format.h"
#include "manifest/manifest_fields.h"
#include "manifest/manifest_walk.h"
#include "platform/platform.h"

namespace {

enum : uint32_t { MODE_WHOLE_ID = 0, MODE_LOW_BYTE = 1, LCID_ENGLISH_US = 1033 };

bool LanguageFits(uint32_t language, const PackageMatch* match) {
  uint32_t mask = match->mode == MODE_LOW_BYTE ? 0xFFu : 0xFFFFu;
  return (language & mask) == (match->lcid & mask);
}

}  // namespace

int MatchPackageEntry(uint32_t sourceIndex, uint32_t key, const char* text, void* context) {
  PackageMatch* match = static_cast<PackageMatch*>(context);
  char* const fields[] = {match->architecture, match->languages, match->productCode,
                          match->productName};
  if (!ReadManifestFields(text, fields, 4)) return 1;

  for (const char* piece = match->languages; piece; piece = NextListPiece(piece)) {
    uint32_t language;
    if (!ParseUnsigned(piece, &language) || !LanguageFits(language, match)) continue;
    if (_mbsicmp(reinterpret_cast<const unsigned char*>(match->architecture),
                 reinterpret_cast<const unsigned char*>("x64")) == 0) {
      match->sourceIndex = sourceIndex;
      match->key = key;
      return 0;
    }
  }
  return 1;
}

bool SelectPackage(const PayloadSources* sources, uint32_t lcid, PackageMatch* match) {
  memset(match, 0, sizeof *match);
  match->lcid = lcid;
  match->mode = MODE_WHOLE_ID;
  ForEachManifestEntry(sources, MatchPackageEntry, match);
  if (match->key == 0) {
    match->mode = MODE_LOW_BYTE;
    ForEachManifestEntry(sources, MatchPackageEntry, match);
  }
  if (match->key == 0 && match->lcid != LCID_ENGLISH_US) {
    // Last resort: a package in US English rather than none at all.
    match->lcid = LCID_ENGLISH_US;
    match->mode = MODE_WHOLE_ID;
    ForEachManifestEntry(sources, MatchPackageEntry, match);
  }
  return match->key != 0;
}
