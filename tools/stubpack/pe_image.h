// The parts of a PE32+ image that packing touches: the checksum, the security
// data directory and the certificate table it points to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeImage {
  uint32_t checksumOffset;       // file offset of the optional header's CheckSum
  uint32_t securityEntryOffset;  // file offset of the security data directory entry
  uint32_t sectionDataEnd;       // end of the headers (at least of the section table) and of
                                 // the last section's raw data
  // The certificate table (the security directory), when the image is signed.
  bool hasCertificateTable;
  uint32_t tableOffset;  // file offset of the table
  uint32_t tableSize;    // its size in the directory
  // Its first and only WIN_CERTIFICATE entry.
  uint32_t entryLength;  // the entry's length field: header, PKCS#7 data and what follows
  uint32_t pkcs7Size;    // size of the DER-encoded SignedData after the 8-byte header
};

// Reads the headers of a PE32+ image. False with a one-line reason when the
// file is not a PE32+ image (MZ and PE signatures, optional-header magic 0x20B,
// a security directory entry) or its certificate table is malformed: a
// directory outside the file or overlapping the sections, not 8-aligned, an
// entry that is not one Authenticode (revision 2.0, PKCS#7) signature
// spanning the table, a signature that is not DER, or data after the table.
// A directory with offset and size 0 means unsigned.
bool ReadPeImage(const std::vector<uint8_t>& image, PeImage* pe, std::string* error);

// The PE checksum of the image (the CheckSum field itself counts as zero).
uint32_t PeChecksum(const std::vector<uint8_t>& image, uint32_t checksumOffset);

// Writes the security directory entry, the WIN_CERTIFICATE length (when size
// is nonzero) and then the recomputed checksum into the image.
void SetCertificateTable(std::vector<uint8_t>& image, const PeImage& pe, uint32_t offset,
                         uint32_t size);

// Length of the DER element (tag, length and content) at data, or 0 when the
// bytes do not start with a definite-length DER SEQUENCE that fits in size.
uint32_t DerElementSize(const uint8_t* data, uint32_t size);
