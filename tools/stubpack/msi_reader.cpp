#include "tools/stubpack/msi_reader.h"

#include <algorithm>
#include <cstdlib>

#include "tools/stubpack/compound_file.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/msi_database.h"
#include "tools/stubpack/msi_string_pool.h"

namespace {

// Removes a temporary file when it goes.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (!path.empty()) RemoveFile(path);
  }
};

// A package whose string pool has code page 0 leaves its 8-bit text to the
// code page of whoever reads it: msi.dll takes the calling process's (UTF-8
// for stubpack.exe, where Western 8-bit text becomes U+FFFD), libmsi a
// default of its own. Both read a copy whose pool says 1252 instead, as a
// Western Windows reads the original; in that copy, and in one of a pool in
// code page 1252, bytes that 1252 does not define are "?". *open is the file
// to open: path itself, or that copy. False with a reason for a file that is
// not a compound file at all.
bool PrepareForReading(const std::string& path, MsiFacts* facts, TemporaryFile* copy,
                       std::string* open, std::string* error) {
  *open = path;
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path, &data, error)) return false;
  if (!IsCompoundFile(data)) {
    *error = path + " is not a Windows Installer package (it is not a compound file)";
    return false;
  }
  MsiStringPool pool;
  // Without a readable pool the library says what is wrong.
  if (!ReadMsiStringPool(data, &pool)) return true;
  // Bytes that code page 1252 leaves undefined are usually text in another
  // code page (UTF-8, Shift-JIS) under the wrong one. msi.dll reads them as
  // control characters where libmsi loses the whole string they are in, so
  // both builds read "?" for them instead.
  facts->undefinedBytes = (pool.codepage == 0 || pool.codepage == kNeutralCodepageReading) &&
                          HasBytesUndefinedIn1252(pool.text);
  if (pool.codepage != 0 && !facts->undefinedBytes) return true;
  if (pool.codepage == 0) {
    facts->neutralCodepage = true;
    facts->nonAsciiText = HasNonAscii(pool.text);
    data[pool.codepageOffset] = static_cast<uint8_t>(kNeutralCodepageReading);
    data[pool.codepageOffset + 1] = static_cast<uint8_t>(kNeutralCodepageReading >> 8);
  }
  if (facts->undefinedBytes) ReplaceBytesUndefinedIn1252(pool, &data);
  if (!WriteTemporaryFile(data, ".msi", &copy->path, error)) {
    copy->path.clear();
    *error = "cannot read " + path + ": " + *error;
    return false;
  }
  *open = copy->path;
  return true;
}

}  // namespace

bool ReadMsiFacts(const std::string& path, MsiFacts* facts, std::string* error) {
  *facts = MsiFacts{};
  std::string reason, open;
  TemporaryFile copy;
  if (!PrepareForReading(path, facts, &copy, &open, error)) return false;
  MsiDatabasePtr db = OpenMsiDatabase(open, &reason);
  if (!db) {
    *error = "cannot open " + path + " as a Windows Installer package: " + reason;
    return false;
  }

  std::vector<std::vector<std::string>> properties;
  if (!QueryMsiDatabase(db.get(),
                        "SELECT `Property`, `Value` FROM `Property` "
                        "WHERE `Property` = 'ProductCode' OR `Property` = 'ProductName'",
                        2, &properties, &reason)) {
    *error = "cannot read the Property table of " + path + ": " + reason;
    return false;
  }
  for (const auto& row : properties)
    (row[0] == "ProductCode" ? facts->productCode : facts->productName) = row[1];

  MsiSummary summary;
  if (!ReadMsiSummary(db.get(), &summary, &reason)) {
    *error = "cannot read the summary information of " + path + ": " + reason;
    return false;
  }
  facts->minimumInstallerVersion = summary.minimumInstallerVersion;
  const std::string& text = summary.templ;
  size_t semicolon = text.find(';');
  if (semicolon != std::string::npos) {
    facts->platform = text.substr(0, semicolon);
    facts->languages = text.substr(semicolon + 1);
  }

  // A package without a Media table has no external cabinets; embedded ones
  // ("#name") travel inside the package.
  std::vector<std::vector<std::string>> rows;
  QueryMsiDatabase(db.get(), "SELECT `DiskId`, `Cabinet` FROM `Media`", 2, &rows, &reason);
  std::vector<std::pair<long, std::string>> media;
  for (const auto& row : rows)
    if (!row[1].empty() && row[1][0] != '#')
      media.emplace_back(strtol(row[0].c_str(), nullptr, 10), row[1]);
  std::sort(media.begin(), media.end());
  for (auto& entry : media)
    if (std::find(facts->cabinets.begin(), facts->cabinets.end(), entry.second) ==
        facts->cabinets.end())
      facts->cabinets.push_back(entry.second);
  return true;
}
