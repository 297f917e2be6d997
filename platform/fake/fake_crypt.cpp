// Fake platform: crypt32 calls with fault injection over the OpenSSL decoder.
#include "platform/fake/fake.h"
#include "platform/host/crypt_openssl.h"

using fake::NoteCall;
using fake::W;

namespace {

template <typename Result>
Result Fault(DWORD error, Result result) {
  W().lastError = error;
  return result;
}

}  // namespace

HCRYPTMSG CryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType, HCRYPTPROV_LEGACY prov,
                               PCERT_INFO recipient, PCMSG_STREAM_INFO stream) {
  NoteCall();
  if (W().crypt.failOpen) return Fault<HCRYPTMSG>(*W().crypt.failOpen, nullptr);
  HCRYPTMSG message =
      openssl_crypt::OpenToDecode(encoding, flags, msgType, prov, recipient, stream);
  if (message) W().crypt.openMessages++;
  return message;
}

BOOL CryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD size, BOOL final) {
  NoteCall();
  W().crypt.lastUpdateSize = size;
  if (W().crypt.failUpdate) return Fault<BOOL>(*W().crypt.failUpdate, FALSE);
  return openssl_crypt::Update(msg, data, size, final);
}

BOOL CryptMsgGetParam(HCRYPTMSG msg, DWORD type, DWORD index, void* data, DWORD* size) {
  NoteCall();
  const fake::CryptState& c = W().crypt;
  if (type == CMSG_CERT_COUNT_PARAM && c.failCount) return Fault<BOOL>(*c.failCount, FALSE);
  if (type == CMSG_CERT_PARAM) {
    const std::map<DWORD, DWORD>& faults = data ? c.failFetch : c.failSize;
    auto it = faults.find(index);
    if (it != faults.end()) return Fault<BOOL>(it->second, FALSE);
  }
  return openssl_crypt::GetParam(msg, type, index, data, size);
}

BOOL CryptMsgClose(HCRYPTMSG msg) {
  NoteCall();
  if (msg) W().crypt.openMessages--;
  return openssl_crypt::Close(msg);
}

PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* data, DWORD size) {
  NoteCall();
  auto it = W().crypt.failParse.find(W().crypt.parseCalls++);
  if (it != W().crypt.failParse.end()) return Fault<PCCERT_CONTEXT>(it->second, nullptr);
  PCCERT_CONTEXT cert = openssl_crypt::CreateCertificateContext(encoding, data, size);
  if (cert) W().crypt.openCertificates++;
  return cert;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT cert) {
  NoteCall();
  if (cert) W().crypt.openCertificates--;
  return openssl_crypt::FreeCertificateContext(cert);
}
