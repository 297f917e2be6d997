// A Windows Installer database opened read-only through the platform's own
// Installer library: libmsi on Linux (msi_database_libmsi.cpp), the system's
// msi.dll on Windows (msi_database_win32.cpp). What a package means to pack
// (which rows, which fields, which cabinets) is decided above this, once, in
// msi_reader.cpp. Every text comes out as UTF-8.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct MsiDatabase;

// Closes the database and frees what it holds.
struct MsiDatabaseCloser {
  void operator()(MsiDatabase* db) const;
};
using MsiDatabasePtr = std::unique_ptr<MsiDatabase, MsiDatabaseCloser>;

// Opens the package at path read-only. Null with the library's reason in
// *reason when the file cannot be opened as a package (not a package, not
// readable, or, on Windows, no msi.dll in the system folder).
MsiDatabasePtr OpenMsiDatabase(const std::string& path, std::string* reason);

// Runs a SELECT of `columns` columns and appends one row per record to *rows,
// every field as text: strings as stored, integers in decimal, null fields
// empty. False with the reason when the query cannot be prepared or run (for
// example, when the table does not exist); *rows then holds no new row.
bool QueryMsiDatabase(MsiDatabase* db, const char* sql, size_t columns,
                      std::vector<std::vector<std::string>>* rows, std::string* reason);

// What the summary information says: the Template property, whole
// ("x64;1033,1031"; empty when the package has none), and the minimum
// installer version (Page Count, as 200 for 2.0; -1 when the package has
// none). False with the reason when the summary information cannot be read.
struct MsiSummary {
  std::string templ;
  int minimumInstallerVersion = -1;
};
bool ReadMsiSummary(MsiDatabase* db, MsiSummary* summary, std::string* reason);
