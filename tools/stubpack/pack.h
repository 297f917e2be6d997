// `stubpack pack`: MSI packages and their cabinets into a signed payload, and
// the payload into a launcher or a certificate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stubpack/payload_writer.h"

// One package as given on the command line. Empty fields are read from the
// package itself.
struct PackageInput {
  std::string msi;          // path of the .msi file
  std::string productCode;  // braced GUID
  std::string productName;
  std::string architecture;  // "x64"
  std::string languages;     // "1033;1031" (commas are accepted too)
  std::vector<std::string>
      cabinets;  // paths; when empty, the Media table's cabinets beside the msi
};

struct PackOptions {
  std::string launcher;        // launcher to pack (not with certificateOut)
  std::string out;             // packed launcher to write
  std::string certificateOut;  // certificate to write instead of a launcher: DER, or PEM
                               // when the name ends in ".pem"
  std::string key;             // private key (PEM)
  bool replace = false;        // an existing appended payload may be replaced
  std::vector<PackageInput> packages;
};

// One file of the payload, for the report.
struct PlannedFile {
  uint32_t key;
  std::string text;  // manifest entry text
  std::string path;  // where the content came from
  uint64_t size;
};

struct PackReport {
  std::vector<PlannedFile> files;
  std::vector<std::string> warnings;
  uint64_t payloadSize = 0;  // bytes of the block region
  uint64_t outputSize = 0;   // bytes written
};

// Works out the manifest entries and file contents: per package, in order,
// the package entry (key 1000, 1001, ...) and then each of its cabinets not
// already in the payload; a cabinet with the same name and content as an
// earlier one is stored once and lists every owner. False with every problem
// found, one per line, in *error.
bool PlanPayload(const std::vector<PackageInput>& packages,
                 std::vector<payload_writer::Entry>* entries, PackReport* report,
                 std::string* error);

// The whole command: plan, sign, attach, write. Writes nothing unless every
// step succeeds; the output appears whole or not at all. False with the
// reason(s) in *error.
bool Pack(const PackOptions& options, PackReport* report, std::string* error);
