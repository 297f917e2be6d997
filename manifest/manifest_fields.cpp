#include "manifest/manifest_fields.h"

#include <cstdio>
#include <cstring>

bool ReadManifestFields(const char* text, char* const* fields, int count) {
  // A field that does not fit stops sscanf at its 255th byte: in front of a
  // further field the backslash then fails to match; the last field is
  // checked below by what follows it in the text.
  int read = count == 4 ? sscanf(text, "%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]", fields[0],
                                 fields[1], fields[2], fields[3])
                        : sscanf(text, "%255[^\\]\\%255[^\\]\\%255[^\\]", fields[0], fields[1],
                                 fields[2]);
  if (read != count) return false;
  size_t end = static_cast<size_t>(count) - 1;  // the backslashes between the fields
  for (int i = 0; i < count; i++) end += strlen(fields[i]);
  return text[end] == '\0' || text[end] == '\\';
}

const char* NextListPiece(const char* piece) {
  const char* separator = strchr(piece, ';');
  return separator ? separator + 1 : nullptr;
}
