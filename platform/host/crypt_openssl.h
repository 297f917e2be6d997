// PKCS#7 SignedData and X.509 decoding with OpenSSL, shaped like the crypt32
// calls of platform.h (same inputs, results and last errors, for the parts the
// launcher uses). The host platform's calls (host_crypt32.cpp) and the fake
// platform's (fake_crypt.cpp, with its faults) are both made of these.
//
// A message decodes once, on its final update; the bytes after the end of the
// DER SignedData are ignored, and nothing outside the given bytes is read.
#pragma once

#include "platform/platform.h"

namespace openssl_crypt {

// Any encoding that includes PKCS_7_ASN_ENCODING; flags, type, provider,
// recipient and stream are not used. Null with E_INVALIDARG otherwise.
HCRYPTMSG OpenToDecode(DWORD encoding, DWORD flags, DWORD msgType, HCRYPTPROV_LEGACY prov,
                       PCERT_INFO recipient, PCMSG_STREAM_INFO stream);
// Collects data; the final update decodes it as a PKCS#7 ContentInfo.
// FALSE with CRYPT_E_ASN1_BADTAG when it does not decode, CRYPT_E_MSG_ERROR
// after a final update.
BOOL Update(HCRYPTMSG message, const BYTE* data, DWORD size, BOOL final);
// CMSG_CERT_COUNT_PARAM (a DWORD) and CMSG_CERT_PARAM (the DER of certificate
// index), with the usual size protocol: data null asks for the size; a short
// buffer fails with ERROR_MORE_DATA and the needed size. Other failures:
// message not decoded CRYPT_E_STREAM_MSG_NOT_READY, not SignedData
// CRYPT_E_INVALID_MSG_TYPE, index out of range CRYPT_E_INVALID_INDEX, any
// other parameter E_INVALIDARG.
BOOL GetParam(HCRYPTMSG message, DWORD type, DWORD index, void* data, DWORD* size);
BOOL Close(HCRYPTMSG message);
// A certificate context with its encoded copy and, in pCertInfo, every
// extension (numeric OID string, critical flag, value octets) in order. Null
// with CRYPT_E_ASN1_BADTAG when the bytes are not a certificate.
PCCERT_CONTEXT CreateCertificateContext(DWORD encoding, const BYTE* data, DWORD size);
BOOL FreeCertificateContext(PCCERT_CONTEXT cert);

}  // namespace openssl_crypt
