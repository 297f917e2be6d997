#include "tools/stubpack/msi_reader.h"

#include <libmsi.h>

#include <algorithm>
#include <memory>

namespace {

// Owners for the GLib objects and strings libmsi hands out.
struct Unref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error) g_error_free(error);
  }
  std::string Text() const { return error && error->message ? error->message : "unknown error"; }
};

std::string TakeString(gchar* text) {
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

// Runs a query and calls row(record) for every row; false when the query
// cannot be prepared or run (for example, the table does not exist).
template <typename Row>
bool ForEachRow(LibmsiDatabase* db, const char* sql, Row row, std::string* error) {
  ErrorHolder err;
  Ref<LibmsiQuery> query(libmsi_query_new(db, sql, &err.error));
  if (!query || !libmsi_query_execute(query.get(), nullptr, &err.error)) {
    *error = err.Text();
    return false;
  }
  for (;;) {
    ErrorHolder fetchError;
    Ref<LibmsiRecord> record(libmsi_query_fetch(query.get(), &fetchError.error));
    if (!record) break;  // no more rows
    row(record.get());
  }
  libmsi_query_close(query.get(), nullptr);
  return true;
}

// libmsi prints its own warnings ("open failed for ...") to stderr; the
// caller reports the failure in its own words, so they are held back while
// a package is read. Critical messages still go through.
struct QuietWarnings {
  static void Drop(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL))
      g_log_default_handler(domain, level, message, nullptr);
  }
  QuietWarnings() : previous(g_log_set_default_handler(Drop, nullptr)) {}
  ~QuietWarnings() { g_log_set_default_handler(previous, nullptr); }
  GLogFunc previous;
};

}  // namespace

bool ReadMsiFacts(const std::string& path, MsiFacts* facts, std::string* error) {
  *facts = MsiFacts{};
  QuietWarnings quiet;
  ErrorHolder err;
  Ref<LibmsiDatabase> db(
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &err.error));
  if (!db) {
    *error = "cannot open " + path + " as a Windows Installer package: " + err.Text();
    return false;
  }

  std::string queryError;
  bool propertiesRead = ForEachRow(
      db.get(),
      "SELECT `Property`, `Value` FROM `Property` "
      "WHERE `Property` = 'ProductCode' OR `Property` = 'ProductName'",
      [&](LibmsiRecord* record) {
        std::string name = TakeString(libmsi_record_get_string(record, 1));
        std::string value = TakeString(libmsi_record_get_string(record, 2));
        (name == "ProductCode" ? facts->productCode : facts->productName) = value;
      },
      &queryError);
  if (!propertiesRead) {
    *error = "cannot read the Property table of " + path + ": " + queryError;
    return false;
  }

  ErrorHolder summaryError;
  Ref<LibmsiSummaryInfo> summary(libmsi_summary_info_new(db.get(), 0, &summaryError.error));
  if (!summary) {
    *error = "cannot read the summary information of " + path + ": " + summaryError.Text();
    return false;
  }
  ErrorHolder templateError;
  const gchar* templ =
      libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_TEMPLATE, &templateError.error);
  std::string text = templ ? templ : "";
  size_t semicolon = text.find(';');
  if (semicolon != std::string::npos) {
    facts->platform = text.substr(0, semicolon);
    facts->languages = text.substr(semicolon + 1);
  }

  // A package without a Media table has no external cabinets.
  std::vector<std::pair<int, std::string>> media;
  ForEachRow(
      db.get(), "SELECT `DiskId`, `Cabinet` FROM `Media`",
      [&](LibmsiRecord* record) {
        std::string cabinet = TakeString(libmsi_record_get_string(record, 2));
        if (!cabinet.empty() && cabinet[0] != '#')
          media.emplace_back(libmsi_record_get_int(record, 1), cabinet);
      },
      &queryError);
  std::sort(media.begin(), media.end());
  for (auto& entry : media)
    if (std::find(facts->cabinets.begin(), facts->cabinets.end(), entry.second) ==
        facts->cabinets.end())
      facts->cabinets.push_back(entry.second);
  return true;
}
