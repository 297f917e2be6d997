// Checks on every text that goes into a manifest entry or names an output file.
// The launcher reads entries as backslash-separated fields into 255-character
// buffers and writes cabinets under their names into its extraction folder, so
// anything that would be cut, split or escape that folder is refused here.
#pragma once

#include <string>
#include <vector>

// Each check returns an empty string when the value is acceptable, otherwise
// a one-line reason naming `what` (e.g. "product name") and the value.

// A manifest field: not empty, at most 255 bytes of UTF-8 (255 characters of
// ASCII; the launcher's ANSI form is never longer), valid UTF-8, no backslash,
// no control characters.
std::string CheckField(const std::string& what, const std::string& value);

// A product code: a field that is a braced GUID, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string CheckProductCode(const std::string& value);

// A language list: one or more decimal language ids (0..65535) separated by
// ";"; the result is the list as stored in the manifest.
std::string CheckLanguages(const std::string& value);

// A file name the launcher creates in its extraction folder: at most 260 bytes
// of UTF-8, without path separators ("\" or "/"), ":" (drive letters and
// streams), "..", wildcard or other characters Windows refuses in names, a
// trailing dot or space, or a reserved device name (CON, NUL, COM1, ... with or
// without an extension).
std::string CheckFileName(const std::string& what, const std::string& value);

// Splits a Template language list "1033,1031" (commas) into the manifest form
// "1033;1031"; returns the text unchanged when it has no commas.
std::string ManifestLanguages(const std::string& templateLanguages);
