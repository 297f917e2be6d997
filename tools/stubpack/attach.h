// Putting a payload region into a launcher file: inside the certificate table
// of a signed launcher, so that its signature stays valid, or at the end of an
// unsigned one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stubpack/pe_image.h"

// Where a launcher file holds a payload, if anywhere.
enum class PayloadPlace {
  None,                // no payload
  Appended,            // unsigned, block chain at the end of the file
  InCertificateTable,  // signed, block chain after the PKCS#7 data, ending the file
  InCertificate,       // signed, a certificate of the signature carries the payload extension
  BeforeSignature,     // block chain followed by a certificate table: signed after packing
  Damaged,             // the file ends in something that is neither padding nor a whole chain
  IntoImage,           // unsigned, and the chain at the end starts inside the headers or sections
};

struct LauncherLayout {
  PeImage pe;
  PayloadPlace place;
  uint32_t keepSize;  // bytes to keep when a new payload replaces what is there
};

// Reads a launcher file's headers and finds its payload. False with a reason
// when it is not a PE32+ image or its certificate table is malformed.
bool ReadLauncherLayout(const std::vector<uint8_t>& image, LauncherLayout* layout,
                        std::string* error);

// A line for people: where the payload is and what that means.
const char* DescribePlace(PayloadPlace place);

// The launcher with the region attached: for a signed launcher inside its
// certificate table, after the PKCS#7 data and zero padding (at least to the
// next 8-byte boundary, and so much that the file ends on one), with the
// entry length and directory size updated; for an unsigned one at the end of
// the file. The checksum is recomputed in both cases. Refuses, with a reason,
// a launcher that already carries a payload (unless replace is set and the
// payload can be cut off cleanly), one that was signed after packing, one
// whose signature carries a payload certificate, and results of 4 GiB or more.
bool AttachPayload(const std::vector<uint8_t>& image, const std::vector<uint8_t>& region,
                   bool replace, std::vector<uint8_t>* out, std::string* error);
