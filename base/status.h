// The status every failing step of the launcher reports: a Windows error code
// (or HRESULT) and the location number of the statement that produced it.
// Location numbers are fixed constants of the program; each failure point has
// its own, so an exit code and a message identify the point exactly.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Status {
  uint32_t code;      // 0 for success
  uint32_t location;  // set on success too
};

enum : uint32_t {
  // Block lookup and decoding.
  LOC_BLOCK_NOT_FOUND = 509,
  LOC_TRAILER_READ = 512,  // 30: a trailer of the chain could not be read from the own file
  LOC_MANIFEST_READ_NO_MEMORY = 541,  // LE/8: no memory for the manifest block read from the file
  LOC_MANIFEST_READ = 543,            // 30: the manifest block could not be read from the file
  LOC_MANIFEST_INFLATED = 547,
  LOC_MANIFEST_INFLATE_FAILED = 551,
  LOC_MANIFEST_COPIED = 562,
  LOC_MANIFEST_COPY_NO_MEMORY = 566,
  LOC_MANIFEST_BAD_SIGNATURE = 592,
  LOC_MANIFEST_NO_DIGEST = 596,
  LOC_MANIFEST_BAD_KEY = 599,
  LOC_FILE_RAW = 662,
  LOC_FILE_RAW_NO_MEMORY = 666,
  LOC_FILE_READ_NO_MEMORY = 681,  // LE/8: no memory for a file block read from the file
  LOC_FILE_READ = 683,            // 30: a file block could not be read from the file
  LOC_FILE_INFLATED = 687,
  LOC_FILE_INFLATE_FAILED = 691,
  LOC_FILE_COPIED = 702,
  LOC_FILE_COPY_NO_MEMORY = 706,
  LOC_FILE_STREAM_NO_MEMORY = 707,  // LE/8: no memory for a file block's decoding buffers
  LOC_FILE_BAD_SIGNATURE = 732,
  LOC_FILE_NO_DIGEST = 736,
  LOC_FILE_BAD_KEY = 739,
  // Payload sources.
  LOC_NO_CERTIFICATE_PAYLOAD = 789,
  LOC_PKCS7_OPEN = 831,
  LOC_PKCS7_NO_MEMORY = 833,  // LE/8: no memory for the PKCS#7 data read from the file
  LOC_PKCS7_READ = 835,       // 30: the PKCS#7 data could not be read from the file
  LOC_PKCS7_UPDATE = 837,
  LOC_CERT_COUNT = 846,
  LOC_CERT_SOURCE_APPEND = 892,
  LOC_EXTENSION_COPY = 907,
  LOC_CERT_PARSE = 919,
  LOC_CERT_FETCH = 924,
  LOC_CERT_NO_MEMORY = 932,
  LOC_CERT_SIZE = 937,
  // Launch sequence.
  LOC_IMAGE_SOURCE_APPEND = 2001,
  LOC_IMAGE_READ = 2023,  // 30: the headers that lead to the certificate table could not be read
  LOC_IMAGE_SIZE = 2035,  // 132: the own file's size is unavailable, or 4 GiB or more
  LOC_IMAGE_OPEN = 2042,
  LOC_NO_PACKAGE = 2151,  // 13: no fitting package, a file that does not decode, a bad name
  LOC_NO_INSTALLER = 2161,
  LOC_BROWSE_CANCELLED = 2219,
  LOC_PROGRESS_FAILED = 2280,
  // LE: a written file cannot be held read-only, or is no longer the one written.
  LOC_OUTPUT_HOLD = 2284,
  LOC_INSTALLER_EXIT = 2349,
  LOC_INSTALLER_START = 2355,
  // The installer's command line is never cut and never loses an argument;
  // when it cannot be made whole, the installer does not run.
  LOC_INSTALLER_PATHS = 2358,                   // LE/87: ANSI paths cannot be converted to UTF-16
  LOC_INSTALLER_COMMAND_LINE_TOO_LONG = 2362,   // 206: longer than process creation allows
  LOC_INSTALLER_COMMAND_LINE_NO_MEMORY = 2367,  // LE/8: no memory for the command line
  LOC_MODULE_PATH = 2406,
  LOC_MODULE_PATH_UTF16 = 2408,  // 1921: the UTF-16 path that opens the own file is unavailable
  LOC_COMMAND_LINE = 2411,
};

typedef DWORD(WINAPI* LastErrorFn)(void);

// A status from the thread's last error: code = lastErrorFn() when nonzero,
// otherwise defaultCode. Used after failed allocations (default 8) and failed
// system calls.
Status MakeStatus(LastErrorFn lastErrorFn, uint32_t defaultCode, uint32_t location);
