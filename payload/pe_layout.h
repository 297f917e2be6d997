// Where the fields of a PE32+ image's headers lie: what the launcher reads to
// find its certificate table, and what stubpack reads and writes when it packs
// a payload into that table or digests the image. Names follow the PE
// format's field names; all integers are little-endian. Header only and free
// of platform types, so that every build of every tool can use it.
#pragma once

#include <cstdint>

enum : uint32_t {
  // The DOS header: "MZ", and the file offset of the PE signature.
  DOS_HEADER_SIZE = 64,
  DOS_PE_OFFSET = 0x3C,  // e_lfanew, u32

  // From the PE signature on: the signature, then the COFF file header.
  PE_SIGNATURE = 0x00004550,  // "PE\0\0" as a u32
  PE_MACHINE = 4,             // u16
  PE_MACHINE_AMD64 = 0x8664,
  PE_SECTION_COUNT = 6,          // NumberOfSections, u16
  PE_TIME_DATE_STAMP = 8,        // u32
  PE_OPTIONAL_HEADER_SIZE = 20,  // SizeOfOptionalHeader, u16
  PE_OPTIONAL_HEADER = 24,       // where the optional header starts

  // The PE32+ optional header, from its start. The section table follows it,
  // SizeOfOptionalHeader bytes after its start.
  OPTIONAL_MAGIC = 0,  // u16
  PE32_PLUS_MAGIC = 0x20B,
  OPTIONAL_ENTRY_POINT = 16,        // AddressOfEntryPoint, u32
  OPTIONAL_SIZE_OF_HEADERS = 60,    // SizeOfHeaders, u32
  OPTIONAL_CHECKSUM = 64,           // CheckSum, u32
  OPTIONAL_DIRECTORY_COUNT = 108,   // NumberOfRvaAndSizes, u32
  OPTIONAL_DIRECTORIES = 112,       // the data directory entries
  OPTIONAL_HEADER_FULL_SIZE = 240,  // with all 16 entries

  // A data directory entry: the address (for the security directory, a file
  // offset), then the size.
  DIRECTORY_ADDRESS = 0,  // u32
  DIRECTORY_SIZE = 4,     // u32
  DIRECTORY_ENTRY_SIZE = 8,
  SECURITY_DIRECTORY_INDEX = 4,  // the certificate table's entry, the fifth
  OPTIONAL_SECURITY_DIRECTORY =
      OPTIONAL_DIRECTORIES + SECURITY_DIRECTORY_INDEX * DIRECTORY_ENTRY_SIZE,  // 144

  // The same fields of a PE32+ image, from its PE signature.
  PE_CHECKSUM = PE_OPTIONAL_HEADER + OPTIONAL_CHECKSUM,                      // 88
  PE_SECURITY_DIRECTORY = PE_OPTIONAL_HEADER + OPTIONAL_SECURITY_DIRECTORY,  // 168
  // The signature, the file header and a whole PE32+ optional header.
  PE_HEADERS_SIZE = PE_OPTIONAL_HEADER + OPTIONAL_HEADER_FULL_SIZE,  // 264

  // A section header, one per section in the section table.
  SECTION_HEADER_SIZE = 40,
  SECTION_VIRTUAL_SIZE = 8,      // VirtualSize, u32
  SECTION_RVA = 12,              // VirtualAddress, u32
  SECTION_RAW_SIZE = 16,         // SizeOfRawData, u32
  SECTION_RAW_POINTER = 20,      // PointerToRawData, u32
  SECTION_CHARACTERISTICS = 36,  // u32

  // WIN_CERTIFICATE, the header of each entry of the certificate table.
  WIN_CERTIFICATE_LENGTH = 0,    // u32: the entry's size, this header included
  WIN_CERTIFICATE_REVISION = 4,  // u16
  WIN_CERTIFICATE_TYPE = 6,      // u16
  WIN_CERTIFICATE_HEADER_SIZE = 8,
  WIN_CERTIFICATE_REVISION_2_0 = 0x0200,
  WIN_CERTIFICATE_TYPE_PKCS_SIGNED_DATA = 2,
};
