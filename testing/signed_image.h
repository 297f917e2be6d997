// Signed PE32+ images for the certificate-scan tests: X.509 certificates with
// chosen extensions, PKCS#7 SignedData carrying them, and a minimal PE32+
// image whose certificate table holds that SignedData and, behind it, an
// appended payload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/payload_extension.h"
#include "payload/pe_layout.h"

struct TestExtension {
  std::string oid;  // dotted decimal
  bool critical;
  std::vector<uint8_t> value;  // content of the extension's value octet string
};

// A self-signed X.509 v3 certificate (development key) with these extensions
// in this order, DER-encoded.
std::vector<uint8_t> MakeCertificate(const std::vector<TestExtension>& extensions);

// DER PKCS#7 SignedData over a few bytes of content, signed by a certificate
// with the first extension list and carrying one certificate per list, in
// this order.
std::vector<uint8_t> MakeSignedData(const std::vector<std::vector<TestExtension>>& certificates);

// Offsets of the fields the launcher reads in images from MakePeImage.
enum : uint32_t {
  kPeHeaderOffset = 128,                                              // e_lfanew
  kSecurityDirectoryField = kPeHeaderOffset + PE_SECURITY_DIRECTORY,  // u32 offset, then u32 size
};

// A PE32+ image: headers, some section bytes, and (when signedData is not
// empty) a certificate table at the end holding one WIN_CERTIFICATE entry with
// the SignedData, zero padding to 8 bytes and the payload, which ends the
// file; the directory size and the entry length both run to the end of the
// file. Without signedData, the payload is appended to an unsigned image.
std::vector<uint8_t> MakePeImage(const std::vector<uint8_t>& signedData,
                                 const std::vector<uint8_t>& payload);

// Offset of the WIN_CERTIFICATE entry of an image from MakePeImage.
uint32_t CertificateTableOffset(const std::vector<uint8_t>& image);

// Little-endian access to image fields.
uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t offset);
void PutU32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value);
