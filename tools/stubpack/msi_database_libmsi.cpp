// The package reader of the Linux build, over libmsi (GLib objects, UTF-8 text).
#include <libmsi.h>

#include "tools/stubpack/msi_database.h"

struct MsiDatabase {
  LibmsiDatabase* db;
};

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

void MsiDatabaseCloser::operator()(MsiDatabase* db) const {
  QuietWarnings quiet;
  if (db && db->db) g_object_unref(db->db);
  delete db;
}

MsiDatabasePtr OpenMsiDatabase(const std::string& path, std::string* reason) {
  QuietWarnings quiet;
  ErrorHolder err;
  LibmsiDatabase* db =
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &err.error);
  if (!db) {
    *reason = err.Text();
    return nullptr;
  }
  return MsiDatabasePtr(new MsiDatabase{db});
}

bool QueryMsiDatabase(MsiDatabase* db, const char* sql, size_t columns,
                      std::vector<std::vector<std::string>>* rows, std::string* reason) {
  QuietWarnings quiet;
  ErrorHolder err;
  Ref<LibmsiQuery> query(libmsi_query_new(db->db, sql, &err.error));
  if (!query || !libmsi_query_execute(query.get(), nullptr, &err.error)) {
    *reason = err.Text();
    return false;
  }
  for (;;) {
    ErrorHolder fetchError;
    Ref<LibmsiRecord> record(libmsi_query_fetch(query.get(), &fetchError.error));
    if (!record) break;  // no more rows
    std::vector<std::string> row;
    for (size_t field = 1; field <= columns; field++)
      row.push_back(
          TakeString(libmsi_record_get_string(record.get(), static_cast<unsigned>(field))));
    rows->push_back(std::move(row));
  }
  libmsi_query_close(query.get(), nullptr);
  return true;
}

bool ReadMsiSummary(MsiDatabase* db, MsiSummary* out, std::string* reason) {
  QuietWarnings quiet;
  ErrorHolder err;
  Ref<LibmsiSummaryInfo> summary(libmsi_summary_info_new(db->db, 0, &err.error));
  if (!summary) {
    *reason = err.Text();
    return false;
  }
  *out = MsiSummary{};
  ErrorHolder templateError;
  const gchar* templ =
      libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_TEMPLATE, &templateError.error);
  out->templ = templ ? templ : "";
  ErrorHolder typeError;
  if (libmsi_summary_info_get_property_type(summary.get(), LIBMSI_PROPERTY_VERSION,
                                            &typeError.error) == LIBMSI_PROPERTY_TYPE_INT) {
    ErrorHolder versionError;
    out->minimumInstallerVersion =
        libmsi_summary_info_get_int(summary.get(), LIBMSI_PROPERTY_VERSION, &versionError.error);
  }
  return true;
}
