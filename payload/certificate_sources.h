// Payload sources carried in certificates of the launcher's Authenticode
// signature, in a private certificate extension (payload/payload_extension.h).
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/payload_source.h"

// Scans the first entry of the certificate table of a PE32+ image: every
// non-critical extension with PAYLOAD_EXTENSION_OID, in certificate and
// extension order, becomes a source appended to *sources, with its manifest
// verified with key (AddPayloadSource). Only bytes inside the image and its
// security directory are read. Returns {0, 789} when the image is not a
// signed PE32+ file or no certificate carries the extension; {0, 547} when
// sources were found; else the first failure, which ends the scan (sources
// appended before it stay):
// decoder open LE/0x80070057 at 831, data rejected at 837, certificate count
// at 846, certificate size at 937, no memory for it LE/8 at 932, fetch at 924,
// parse at 919, no memory for the value copy LE/8 at 907, the manifest lookup's
// status, or no memory to append LE/8 at 892.
Status LoadCertificateSources(const uint8_t* image, uint32_t imageSize, VerificationKey key,
                              PayloadSources* sources);
