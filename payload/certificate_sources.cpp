#include "payload/certificate_sources.h"

#include <cstring>

#include "payload/block.h"
#include "base/holders.h"
#include "payload/little_endian.h"
#include "payload/payload_extension.h"
#include "payload/pe_layout.h"
#include "payload/sources.h"
#include "platform/platform.h"

namespace {

const uint32_t kInvalidArg = static_cast<uint32_t>(E_INVALIDARG);

// The security directory of a PE32+ image, when there is one that lies inside
// the image and can hold a WIN_CERTIFICATE header. Nothing else of the
// headers is examined.
bool FindSecurityDirectory(const uint8_t* image, uint32_t imageSize, uint32_t* offset,
                           uint32_t* size) {
  if (imageSize < DOS_HEADER_SIZE || image[0] != 'M' || image[1] != 'Z') return false;
  const uint32_t peOffset = GetU32(image + DOS_PE_OFFSET);
  if (peOffset > INT32_MAX || uint64_t{peOffset} + PE_HEADERS_SIZE > imageSize) return false;
  const uint8_t* pe = image + peOffset;
  if (GetU32(pe) != PE_SIGNATURE ||
      GetU16(pe + PE_OPTIONAL_HEADER + OPTIONAL_MAGIC) != PE32_PLUS_MAGIC)
    return false;
  *offset = GetU32(pe + PE_SECURITY_DIRECTORY + DIRECTORY_ADDRESS);
  *size = GetU32(pe + PE_SECURITY_DIRECTORY + DIRECTORY_SIZE);
  return *size >= WIN_CERTIFICATE_HEADER_SIZE && uint64_t{*offset} + *size <= imageSize;
}


// Fetches and parses certificate index of the message and adds a source for
// each of its payload extensions to *sources; status is the scan's result so
// far.
Status ScanCertificate(HCRYPTMSG message, DWORD index, VerificationKey key,
                       PayloadSources* sources, Status status) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, CMSG_CERT_PARAM, index, nullptr, &size))
    return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_SIZE);
  const LocalPtr<uint8_t> encoded(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size)));
  if (!encoded) return MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_CERT_NO_MEMORY);
  if (!CryptMsgGetParam(message, CMSG_CERT_PARAM, index, encoded.get(), &size))
    return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_FETCH);
  const CertContextPtr cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.get(), size));
  if (!cert) return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_PARSE);
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

Status LoadCertificateSources(const uint8_t* image, uint32_t imageSize, VerificationKey key,
                              PayloadSources* sources) {
  Status status{0, LOC_NO_CERTIFICATE_PAYLOAD};
  uint32_t directory = 0;
  uint32_t directorySize = 0;
  if (!FindSecurityDirectory(image, imageSize, &directory, &directorySize)) return status;

  // The entry's length is the size of its PKCS#7 data plus the 8-byte header.
  // It is untrusted: the decoder is given no byte outside the directory, and
  // none at all when the length is below 8 (it then rejects the data).
  uint32_t length = GetU32(image + directory + WIN_CERTIFICATE_LENGTH);
  if (length > directorySize) length = directorySize;
  const uint32_t dataSize =
      length < WIN_CERTIFICATE_HEADER_SIZE ? 0 : length - WIN_CERTIFICATE_HEADER_SIZE;

  const CryptMsgPtr message(CryptMsgOpenToDecode(PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
  if (!message) return MakeStatus(GetLastError, kInvalidArg, LOC_PKCS7_OPEN);
  DWORD count = 0;
  DWORD countSize = sizeof count;
  if (!CryptMsgUpdate(message.get(), image + directory + WIN_CERTIFICATE_HEADER_SIZE, dataSize,
                      TRUE))
    return MakeStatus(GetLastError, kInvalidArg, LOC_PKCS7_UPDATE);
  if (!CryptMsgGetParam(message.get(), CMSG_CERT_COUNT_PARAM, 0, &count, &countSize))
    return MakeStatus(GetLastError, kInvalidArg, LOC_CERT_COUNT);
  for (DWORD i = 0; i < count && status.code == 0; i++)
    status = ScanCertificate(message.get(), i, key, sources, status);
  return status;
}
