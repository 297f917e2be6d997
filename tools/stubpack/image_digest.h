// The image digest of a launcher: one SHA-256 value for its code and data
// that signing and packing leave unchanged, so that a signed and packed
// setup.exe can be matched against a launcher built from its source.
//
// Definition. Let E be the end of the image data: the largest of SizeOfHeaders,
// the end of the section table and PointerToRawData + SizeOfRawData over every
// section with raw data (so the section table always counts). The
// digest is the SHA-256 of the file's bytes 0 .. E-1 with two fields left
// out: the optional header's CheckSum (4 bytes at e_lfanew + PE_CHECKSUM) and
// the security directory entry (8 bytes at e_lfanew + PE_SECURITY_DIRECTORY;
// both offsets in payload/pe_layout.h), and with the raw data of every
// section named ".msikey" (the key section, payload/key_section.h) taken as
// zeros, so that every copy stamped with a publisher's key has the digest of
// the launcher as released. Nothing after E counts: not the zeros
// a signing tool adds to align the certificate table, not the certificate
// table (signature, and a payload packed into it or into one of its
// certificates), not a payload appended to an unsigned file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ImageDigest {
  uint8_t sha256[32];
  uint32_t imageEnd;   // E above: the bytes before it count
  uint32_t timeStamp;  // the COFF header's TimeDateStamp (one of the bytes that count)
};

// Computes the digest of a PE32+ image. False with a one-line reason when
// the image is not PE32+ or its certificate table is malformed (the checks of
// ReadPeImage), or when SHA-256 is unavailable.
bool ComputeImageDigest(const std::vector<uint8_t>& image, ImageDigest* digest,
                        std::string* error);

// The digest as 64 lowercase hexadecimal digits.
std::string DigestHex(const ImageDigest& digest);
