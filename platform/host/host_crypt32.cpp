// The crypt32 calls of platform.h for the host platform: the OpenSSL decoder
// as it is. The fake platform defines the same calls over the same decoder,
// with its faults, in fake_crypt.cpp.
#include "platform/host/crypt_openssl.h"

HCRYPTMSG CryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType, HCRYPTPROV_LEGACY prov,
                               PCERT_INFO recipient, PCMSG_STREAM_INFO stream) {
  return openssl_crypt::OpenToDecode(encoding, flags, msgType, prov, recipient, stream);
}
BOOL CryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD size, BOOL final) {
  return openssl_crypt::Update(msg, data, size, final);
}
BOOL CryptMsgGetParam(HCRYPTMSG msg, DWORD type, DWORD index, void* data, DWORD* size) {
  return openssl_crypt::GetParam(msg, type, index, data, size);
}
BOOL CryptMsgClose(HCRYPTMSG msg) { return openssl_crypt::Close(msg); }
PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* data, DWORD size) {
  return openssl_crypt::CreateCertificateContext(encoding, data, size);
}
BOOL CertFreeCertificateContext(PCCERT_CONTEXT cert) {
  return openssl_crypt::FreeCertificateContext(cert);
}
