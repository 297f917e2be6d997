#include "tools/stubpack/msi_reader.h"

#include <algorithm>
#include <cstdlib>

#include "tools/stubpack/msi_database.h"

bool ReadMsiFacts(const std::string& path, MsiFacts* facts, std::string* error) {
  *facts = MsiFacts{};
  std::string reason;
  MsiDatabasePtr db = OpenMsiDatabase(path, &reason);
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

  std::string text;
  if (!ReadMsiTemplate(db.get(), &text, &reason)) {
    *error = "cannot read the summary information of " + path + ": " + reason;
    return false;
  }
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
