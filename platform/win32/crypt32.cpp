// crypt32 through System32, loaded on first use (see platform.h).
#include "platform/platform.h"
#include "platform/win32/system_library.h"

template <typename Fn>
static Fn Crypt32(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetSystemProcedure("crypt32.dll", name)));
}

#undef CryptMsgOpenToDecode
#undef CryptMsgUpdate
#undef CryptMsgGetParam
#undef CryptMsgClose
#undef CertCreateCertificateContext
#undef CertFreeCertificateContext

HCRYPTMSG WINAPI PlatformCryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType,
                                              HCRYPTPROV_LEGACY prov, PCERT_INFO recipient,
                                              PCMSG_STREAM_INFO stream) {
  auto fn = Crypt32<decltype(&CryptMsgOpenToDecode)>("CryptMsgOpenToDecode");
  return fn ? fn(encoding, flags, msgType, prov, recipient, stream) : nullptr;
}

BOOL WINAPI PlatformCryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD size, BOOL final) {
  auto fn = Crypt32<decltype(&CryptMsgUpdate)>("CryptMsgUpdate");
  return fn ? fn(msg, data, size, final) : FALSE;
}

BOOL WINAPI PlatformCryptMsgGetParam(HCRYPTMSG msg, DWORD type, DWORD index, void* data,
                                     DWORD* size) {
  auto fn = Crypt32<decltype(&CryptMsgGetParam)>("CryptMsgGetParam");
  return fn ? fn(msg, type, index, data, size) : FALSE;
}

BOOL WINAPI PlatformCryptMsgClose(HCRYPTMSG msg) {
  auto fn = Crypt32<decltype(&CryptMsgClose)>("CryptMsgClose");
  return fn ? fn(msg) : FALSE;
}

PCCERT_CONTEXT WINAPI PlatformCertCreateCertificateContext(DWORD encoding, const BYTE* data,
                                                           DWORD size) {
  auto fn = Crypt32<decltype(&CertCreateCertificateContext)>("CertCreateCertificateContext");
  return fn ? fn(encoding, data, size) : nullptr;
}

BOOL WINAPI PlatformCertFreeCertificateContext(PCCERT_CONTEXT cert) {
  auto fn = Crypt32<decltype(&CertFreeCertificateContext)>("CertFreeCertificateContext");
  return fn ? fn(cert) : FALSE;
}
