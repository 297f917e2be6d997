#include "platform/host/bcrypt_openssl.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

enum class Kind { Sha256Provider, RsaProvider, Hash, Key };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Kind kind;
};

struct Provider : Object {
  using Object::Object;
};

struct Hash : Object {
  Hash() : Object(Kind::Hash) {}
  ~Hash() override { EVP_MD_CTX_free(context); }
  EVP_MD_CTX* context = nullptr;
  bool finished = false;
};

struct Key : Object {
  Key() : Object(Kind::Key) {}
  ~Key() override { EVP_PKEY_free(key); }
  EVP_PKEY* key = nullptr;
  uint32_t modulusSize = 0;
};

// The live handles. A handle is only ever looked up here before it is used,
// so that a stale or foreign one fails as on Windows instead of crashing.
std::mutex liveLock;
std::set<Object*>& Live() {
  static std::set<Object*> live;
  return live;
}

void* Register(Object* object) {
  std::lock_guard<std::mutex> hold(liveLock);
  Live().insert(object);
  return object;
}

template <typename T>
T* Find(void* handle, Kind a, Kind b) {
  std::lock_guard<std::mutex> hold(liveLock);
  auto it = Live().find(static_cast<Object*>(handle));
  if (it == Live().end() || ((*it)->kind != a && (*it)->kind != b)) return nullptr;
  return static_cast<T*>(*it);
}

template <typename T>
T* Find(void* handle, Kind kind) {
  return Find<T>(handle, kind, kind);
}

NTSTATUS Destroy(void* handle, Kind a, Kind b) {
  Object* object = Find<Object>(handle, a, b);
  if (!object) return STATUS_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> hold(liveLock);
    Live().erase(object);
  }
  delete object;
  return STATUS_SUCCESS;
}

bool SameText(LPCWSTR a, LPCWSTR b) {
  if (!a) return false;
  while (*a && *a == *b) a++, b++;
  return *a == *b;
}

// Never read an OpenSSL configuration: one that enables only the null
// provider would make every hash fail.
void InitOpenssl() { OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr); }

// DigestInfo of SHA-256 with its NULL parameter, as PKCS#1 v1.5 puts it in
// front of the digest.
const uint8_t kSha256DigestInfo[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const uint32_t kDigestSize = 32;

// Big-endian unsigned number: its count of significant bits.
uint32_t BitCount(const uint8_t* number, uint32_t size) {
  uint32_t i = 0;
  while (i < size && number[i] == 0) i++;
  if (i == size) return 0;
  uint32_t bits = (size - i - 1) * 8;
  for (uint8_t top = number[i]; top; top >>= 1) bits++;
  return bits;
}

EVP_PKEY* RsaPublicKey(const uint8_t* exponent, uint32_t exponentSize, const uint8_t* modulus,
                       uint32_t modulusSize) {
  InitOpenssl();
  BIGNUM* n = BN_bin2bn(modulus, static_cast<int>(modulusSize), nullptr);
  BIGNUM* e = BN_bin2bn(exponent, static_cast<int>(exponentSize), nullptr);
  OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* key = nullptr;
  if (n && e && builder && context && OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n) &&
      OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e) &&
      (params = OSSL_PARAM_BLD_to_param(builder)) != nullptr &&
      EVP_PKEY_fromdata_init(context) == 1) {
    if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
  }
  EVP_PKEY_CTX_free(context);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(builder);
  BN_free(e);
  BN_free(n);
  return key;
}

// signature^e mod n, as many bytes as the modulus; false when the signature
// is not a number below the modulus or OpenSSL fails.
bool PublicOperation(const Key& key, const uint8_t* signature, std::vector<uint8_t>* out) {
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.key, nullptr);
  size_t size = key.modulusSize;
  out->assign(size, 0);
  bool ok = context && EVP_PKEY_verify_recover_init(context) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(context, RSA_NO_PADDING) == 1 &&
            EVP_PKEY_verify_recover(context, out->data(), &size, signature, key.modulusSize) == 1 &&
            size == key.modulusSize;
  EVP_PKEY_CTX_free(context);
  return ok;
}

}  // namespace

namespace openssl_bcrypt {

NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                               LPCWSTR implementation, ULONG flags) {
  if (!algorithm) return STATUS_INVALID_PARAMETER;
  *algorithm = nullptr;
  if (!algId || flags != 0) return STATUS_INVALID_PARAMETER;
  if (implementation) return STATUS_NOT_FOUND;
  Kind kind;
  if (SameText(algId, BCRYPT_SHA256_ALGORITHM)) {
    kind = Kind::Sha256Provider;
  } else if (SameText(algId, BCRYPT_RSA_ALGORITHM)) {
    kind = Kind::RsaProvider;
  } else {
    return STATUS_NOT_FOUND;
  }
  *algorithm = Register(new Provider(kind));
  return STATUS_SUCCESS;
}

NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  if (flags != 0) return STATUS_INVALID_PARAMETER;
  return Destroy(algorithm, Kind::Sha256Provider, Kind::RsaProvider);
}

NTSTATUS CreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                    ULONG hashObjectSize, PUCHAR secret, ULONG secretSize, ULONG flags) {
  Provider* provider = Find<Provider>(algorithm, Kind::Sha256Provider, Kind::RsaProvider);
  if (!provider) return STATUS_INVALID_HANDLE;
  if (!hash) return STATUS_INVALID_PARAMETER;
  *hash = nullptr;
  if (provider->kind != Kind::Sha256Provider) return STATUS_NOT_SUPPORTED;
  if (hashObject || hashObjectSize || secret || secretSize || flags) return STATUS_INVALID_PARAMETER;
  InitOpenssl();
  std::unique_ptr<Hash> object(new Hash);
  object->context = EVP_MD_CTX_new();
  if (!object->context || EVP_DigestInit_ex(object->context, EVP_sha256(), nullptr) != 1)
    return STATUS_NO_MEMORY;
  *hash = Register(object.release());
  return STATUS_SUCCESS;
}

NTSTATUS HashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags) {
  Hash* object = Find<Hash>(hash, Kind::Hash);
  if (!object || object->finished) return STATUS_INVALID_HANDLE;
  if ((!input && size) || flags) return STATUS_INVALID_PARAMETER;
  if (size && EVP_DigestUpdate(object->context, input, size) != 1) return STATUS_UNSUCCESSFUL;
  return STATUS_SUCCESS;
}

NTSTATUS FinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags) {
  Hash* object = Find<Hash>(hash, Kind::Hash);
  if (!object || object->finished) return STATUS_INVALID_HANDLE;
  if (!output || size != kDigestSize || flags) return STATUS_INVALID_PARAMETER;
  object->finished = true;
  unsigned int written = 0;
  if (EVP_DigestFinal_ex(object->context, output, &written) != 1 || written != kDigestSize)
    return STATUS_UNSUCCESSFUL;
  return STATUS_SUCCESS;
}

NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash) { return Destroy(hash, Kind::Hash, Kind::Hash); }

NTSTATUS ImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                       LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                       ULONG flags) {
  Provider* provider = Find<Provider>(algorithm, Kind::Sha256Provider, Kind::RsaProvider);
  if (!provider) return STATUS_INVALID_HANDLE;
  if (!key) return STATUS_INVALID_PARAMETER;
  *key = nullptr;
  if (provider->kind != Kind::RsaProvider) return STATUS_NOT_SUPPORTED;
  if (importKey || flags || !blobType) return STATUS_INVALID_PARAMETER;
  if (!SameText(blobType, BCRYPT_RSAPUBLIC_BLOB)) return STATUS_NOT_SUPPORTED;

  BCRYPT_RSAKEY_BLOB header;
  if (!input || size < sizeof header) return STATUS_INVALID_PARAMETER;
  memcpy(&header, input, sizeof header);
  const uint64_t expected =
      uint64_t{sizeof header} + uint64_t{header.cbPublicExp} + uint64_t{header.cbModulus};
  if (header.Magic != BCRYPT_RSAPUBLIC_MAGIC || header.cbPrime1 || header.cbPrime2 ||
      header.cbPublicExp == 0 || header.cbPublicExp > 8 || expected != size ||
      header.BitLength < 512 || header.BitLength > 16384 ||
      header.cbModulus != (header.BitLength + 7) / 8)
    return STATUS_INVALID_PARAMETER;
  const uint8_t* exponent = input + sizeof header;
  const uint8_t* modulus = exponent + header.cbPublicExp;
  const uint8_t exponentLow = exponent[header.cbPublicExp - 1];
  if (BitCount(modulus, header.cbModulus) != header.BitLength ||
      !(modulus[header.cbModulus - 1] & 1) || !(exponentLow & 1) ||
      BitCount(exponent, header.cbPublicExp) < 2)
    return STATUS_INVALID_PARAMETER;

  std::unique_ptr<Key> object(new Key);
  object->key = RsaPublicKey(exponent, header.cbPublicExp, modulus, header.cbModulus);
  if (!object->key) return STATUS_NO_MEMORY;
  object->modulusSize = header.cbModulus;
  *key = Register(object.release());
  return STATUS_SUCCESS;
}

NTSTATUS DestroyKey(BCRYPT_KEY_HANDLE key) { return Destroy(key, Kind::Key, Kind::Key); }

NTSTATUS VerifySignature(BCRYPT_KEY_HANDLE key, void* paddingInfo, PUCHAR hash, ULONG hashSize,
                         PUCHAR signature, ULONG signatureSize, ULONG flags) {
  Key* object = Find<Key>(key, Kind::Key);
  if (!object) return STATUS_INVALID_HANDLE;
  if (flags != BCRYPT_PAD_PKCS1) return STATUS_NOT_SUPPORTED;
  if (!paddingInfo) return STATUS_INVALID_PARAMETER;
  const auto* padding = static_cast<const BCRYPT_PKCS1_PADDING_INFO*>(paddingInfo);
  if (!SameText(padding->pszAlgId, BCRYPT_SHA256_ALGORITHM)) return STATUS_NOT_SUPPORTED;
  if (!hash || hashSize != kDigestSize || (!signature && signatureSize))
    return STATUS_INVALID_PARAMETER;
  if (signatureSize != object->modulusSize) return STATUS_INVALID_SIGNATURE;

  // The whole encoded message is rebuilt and compared, so that nothing in it
  // is left to a parser's leniency: not the DigestInfo's form, not bytes
  // after the digest.
  const uint32_t size = object->modulusSize;
  const uint32_t tail = sizeof kSha256DigestInfo + kDigestSize;
  if (size < tail + 11) return STATUS_INVALID_SIGNATURE;
  std::vector<uint8_t> expected(size, 0xFF);
  expected[0] = 0x00;
  expected[1] = 0x01;
  expected[size - tail - 1] = 0x00;
  memcpy(&expected[size - tail], kSha256DigestInfo, sizeof kSha256DigestInfo);
  memcpy(&expected[size - kDigestSize], hash, kDigestSize);
  std::vector<uint8_t> opened;
  if (!PublicOperation(*object, signature, &opened) || opened != expected)
    return STATUS_INVALID_SIGNATURE;
  return STATUS_SUCCESS;
}

}  // namespace openssl_bcrypt
