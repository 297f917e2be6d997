#include "payload/certificate_sources.h"

#include <cstring>

#include "payload/block.h"
#include "base/holders.h"
#include "payload/little_endian.h"
#include "payload/payload_extension.h"
#include "payload/pe_layout.h"
#include "payload/source_list.h"
#include "payload/source_read.h"
#include "platform/platform.h"

namespace {

const uint32_t kInvalidArg = static_cast<uint32_t>(E_INVALIDARG);

// Outcome of looking for the security directory.
enum class Directory { Found, None, Unreadable };

// The security directory of a PE32+ image, when there is one that lies inside
// the image and can hold a WIN_CERTIFICATE header. Nothing else of the
// headers is examined; only the DOS header and the PE headers are read.
Directory FindSecurityDirectory(const PayloadSource* image, uint32_t* offset, uint32_t* size) {
  uint8_t dos[DOS_HEADER_SIZE];
  if (image->size < DOS_HEADER_SIZE) return Directory::None;
  if (!ReadSourceBytes(image, 0, dos, sizeof dos)) return Directory::Unreadable;
  if (dos[0] != 'M' || dos[1] != 'Z') return Directory::None;
  const uint32_t peOffset = GetU32(dos + DOS_PE_OFFSET);
  if (peOffset > INT32_MAX || uint64_t{peOffset} + PE_HEADERS_SIZE > image->size)
    return Directory::None;
  uint8_t pe[PE_HEADERS_SIZE];
  if (!ReadSourceBytes(image, peOffset, pe, sizeof pe)) return Directory::Unreadable;
  if (GetU32(pe) != PE_SIGNATURE ||
      GetU16(pe + PE_OPTIONAL_HEADER + OPTIONAL_MAGIC) != PE32_PLUS_MAGIC)
    return Directory::None;
  *offset = GetU32(pe + PE_SECURITY_DIRECTORY + DIRECTORY_ADDRESS);
  *size = GetU32(pe + PE_SECURITY_DIRECTORY + DIRECTORY_SIZE);
  return *size >= WIN_CERTIFICATE_HEADER_SIZE && uint64_t{*offset} + *size <= image->size
             ? Directory::Found
             : Directory::None;
}

// How many bytes of the available PKCS#7 data, which start with head (the
// first headSize of them), the decoder is fed: the outer DER element alone,
// a SEQUENCE with its definite length, so that whatever follows it (a
// payload appended inside the entry) is never read. When the length is
// indefinite, malformed or runs past the data, everything available: the
// decoder then decides on exactly the bytes it always saw.
uint32_t SignedDataSize(const uint8_t* head, uint32_t headSize, uint32_t available) {
  const uint8_t kSequence = 0x30;
  if (headSize < 2 || head[0] != kSequence) return available;
  uint64_t total = 2;
  uint64_t length = head[1];
  if (length & 0x80) {
    const uint32_t octets = head[1] & 0x7F;  // 0: indefinite
    if (octets == 0 || octets > 4 || 2 + octets > headSize) return available;
    length = 0;
    for (uint32_t i = 0; i < octets; i++) length = length << 8 | head[2 + i];
    total += octets;
  }
  total += length;
  return total <= available ? static_cast<uint32_t>(total) : available;
}

// Fetches and parses certificate index of the message and adds a source for
// each of its payload extensions to *sources; status is the scan's result so
// far.
Status ScanCertificate(HCRYPTMSG message, DWORD index, VerificationKey key,
                       PayloadSources* sources, Status status) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, CMSG_CERT_PARAM, index, nullptr, &size))
    return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_SIZE);
  LocalPtr<uint8_t> encoded(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size)));
  if (!encoded) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_CERT_NO_MEMORY);
  if (!CryptMsgGetParam(message, CMSG_CERT_PARAM, index, encoded.get(), &size))
    return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_FETCH);
  const CertContextPtr cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.get(), size));
  if (!cert) return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_PARSE);
  // The context keeps its own copy of the encoded certificate; a payload in
  // it is held once more only by the source's own copy of the value.
  encoded.reset();
  const CERT_INFO* info = cert->pCertInfo;
  for (DWORD i = 0; i < info->cExtension && status.code == 0; i++) {
    const CERT_EXTENSION& extension = info->rgExtension[i];
    if (!extension.fCritical && strcmp(extension.pszObjId, PAYLOAD_EXTENSION_OID) == 0)
      status = AddPayloadSource(sources, key, extension.Value.pbData, extension.Value.cbData,
                                LOC_EXTENSION_COPY, LOC_CERT_SOURCE_APPEND);
  }
  return status;
}

}  // namespace

Status LoadCertificateSources(const PayloadSource* image, VerificationKey key,
                              PayloadSources* sources) {
  Status status{0, LOC_NO_CERTIFICATE_PAYLOAD};
  uint32_t directory = 0;
  uint32_t directorySize = 0;
  const Directory found = FindSecurityDirectory(image, &directory, &directorySize);
  if (found == Directory::Unreadable) return Status{ERROR_READ_FAULT, LOC_IMAGE_READ};
  if (found == Directory::None) return status;

  // The entry's length is the size of its PKCS#7 data plus the 8-byte header.
  // It is untrusted: the decoder is given no byte outside the directory, and
  // none at all when the length is below 8 (it then rejects the data).
  uint8_t header[WIN_CERTIFICATE_HEADER_SIZE];
  if (!ReadSourceBytes(image, directory, header, sizeof header))
    return Status{ERROR_READ_FAULT, LOC_IMAGE_READ};
  uint32_t length = GetU32(header + WIN_CERTIFICATE_LENGTH);
  if (length > directorySize) length = directorySize;
  const uint32_t available =
      length < WIN_CERTIFICATE_HEADER_SIZE ? 0 : length - WIN_CERTIFICATE_HEADER_SIZE;
  const uint32_t dataPos = directory + WIN_CERTIFICATE_HEADER_SIZE;

  // The outer tag and length: a tag byte, a length byte and up to four more.
  uint8_t head[6];
  const uint32_t headSize = available < sizeof head ? available : sizeof head;
  if (!ReadSourceBytes(image, dataPos, head, headSize))
    return Status{ERROR_READ_FAULT, LOC_IMAGE_READ};
  const uint32_t dataSize = SignedDataSize(head, headSize, available);
  LocalPtr<uint8_t> data(
      static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, dataSize ? dataSize : 1)));
  if (!data) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_PKCS7_NO_MEMORY);
  if (!ReadSourceBytes(image, dataPos, data.get(), dataSize))
    return Status{ERROR_READ_FAULT, LOC_PKCS7_READ};

  const CryptMsgPtr message(CryptMsgOpenToDecode(PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
  if (!message) return MakeStatus(GetLastError, kInvalidArg, LOC_PKCS7_OPEN);
  DWORD count = 0;
  DWORD countSize = sizeof count;
  if (!CryptMsgUpdate(message.get(), data.get(), dataSize, TRUE))
    return MakeStatus(GetLastError, kInvalidArg, LOC_PKCS7_UPDATE);
  data.reset();  // the decoder keeps what it needs of a final update
  if (!CryptMsgGetParam(message.get(), CMSG_CERT_COUNT_PARAM, 0, &count, &countSize))
    return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_COUNT);
  for (DWORD i = 0; i < count && status.code == 0; i++)
    status = ScanCertificate(message.get(), i, key, sources, status);
  return status;
}
