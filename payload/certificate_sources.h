// Payload sources carried in certificates of the launcher's Authenticode
// signature, in a private certificate extension (payload/payload_extension.h).
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/payload_source.h"

// Scans the first entry of the certificate table of a PE32+ image, image
// being the whole file (open, or in memory): every non-critical extension
// with PAYLOAD_EXTENSION_OID, in certificate and extension order, becomes a
// source appended to *sources, with its manifest verified with key
// (AddPayloadSource). Reads only the headers that lead to the security
// directory, the entry's 8-byte header and the DER element of its PKCS#7
// data (what its outer tag and length span; all the data when that length is
// indefinite, malformed or runs past the data), never a byte outside the
// image and its security directory: a payload appended behind the PKCS#7
// data is not read. Returns {0, 789} when the image is not a signed PE32+
// file or no certificate carries the extension; {0, 547} when sources were
// found; else the first failure, which ends the scan (sources appended before
// it stay): headers unreadable {30, 2023}, no memory for the PKCS#7 data LE/8
// at 833, the data unreadable {30, 835}, decoder open LE/0x80070057 at 831,
// data rejected at 837, certificate count at 846, certificate size at 937, no
// memory for it LE/8 at 932, fetch at 924, parse at 919, no memory for the
// value copy LE/8 at 907, the manifest lookup's status, or no memory to
// append LE/8 at 892.
Status LoadCertificateSources(const PayloadSource* image, VerificationKey key,
                              PayloadSources* sources);
