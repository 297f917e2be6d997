#include "tools/stubpack/payload_writer.h"

#include <zlib.h>

#include <cstring>
#include <set>

#include "payload/little_endian.h"
#include "tools/stubpack/file_io.h"

namespace payload_writer {

namespace {

bool IsRsa2048(crypto::RsaKey* key) {
  std::vector<uint8_t> modulus;
  unsigned bits = 0;
  uint32_t exponent = 0;
  return key && crypto::RsaPublicNumbers(key, &modulus, &bits, &exponent) && bits == 2048;
}

SigningKey FromPem(const std::string& pem, const std::string& origin, std::string* error) {
  SigningKey key = crypto::ReadPrivateKeyPem(pem);
  if (!key) {
    *error = origin + ": no PEM private key";
    return nullptr;
  }
  if (!IsRsa2048(key.get())) {
    *error = origin + ": not an RSA-2048 key";
    return nullptr;
  }
  return key;
}

}  // namespace

SigningKey LoadSigningKey(const std::string& pemPath, std::string* error) {
  std::vector<uint8_t> text;
  std::string unused;
  if (!ReadWholeFile(pemPath, &text, &unused)) {
    *error = pemPath + ": no PEM private key";
    return nullptr;
  }
  return FromPem(std::string(text.begin(), text.end()), pemPath, error);
}

SigningKey SigningKeyFromPem(const std::string& pem, std::string* error) {
  return FromPem(pem, "key", error);
}

SigningKey GenerateSigningKey() { return crypto::GenerateRsaKey(2048); }

std::vector<uint8_t> PublicKeyBlob(crypto::RsaKey* key) {
  std::vector<uint8_t> blob;
  std::vector<uint8_t> modulus;
  unsigned bits = 0;
  uint32_t exponent = 0;
  if (!key || !crypto::RsaPublicNumbers(key, &modulus, &bits, &exponent) || bits != 2048)
    return blob;
  static const uint8_t header[8] = {6, 2, 0, 0, 0x00, 0xA4, 0x00, 0x00};
  blob.assign(header, header + 8);
  blob.insert(blob.end(), {'R', 'S', 'A', '1'});
  AppendU32(blob, 2048);
  AppendU32(blob, exponent);
  blob.insert(blob.end(), modulus.rbegin(), modulus.rend());  // little-endian
  return blob;
}

bool Utf8ToUtf16Le(const std::string& utf8, std::vector<uint8_t>* out) {
  auto put = [out](uint32_t unit) {
    out->push_back(static_cast<uint8_t>(unit));
    out->push_back(static_cast<uint8_t>(unit >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = static_cast<uint8_t>(utf8[i]);
    size_t extra;
    if (c < 0x80)
      extra = 0;
    else if (c < 0xC2)
      return false;  // continuation byte or overlong lead
    else if (c < 0xE0)
      extra = 1;
    else if (c < 0xF0)
      extra = 2;
    else if (c < 0xF5)
      extra = 3;
    else
      return false;
    if (extra > utf8.size() - i - 1) return false;
    if (extra) c &= 0x3Fu >> extra;
    for (size_t k = 1; k <= extra; k++) {
      uint8_t b = static_cast<uint8_t>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    static const uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
    if (c < smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
    i += extra + 1;
  }
  return true;
}

bool AppendManifestEntry(uint32_t key, const std::string& textUtf8, std::vector<uint8_t>* out) {
  std::vector<uint8_t> text;
  if (!Utf8ToUtf16Le(textUtf8, &text)) return false;
  text.push_back(0);
  text.push_back(0);
  AppendU32(*out, key);
  AppendU32(*out, static_cast<uint32_t>(text.size()));
  out->insert(out->end(), text.begin(), text.end());
  return true;
}

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, int level) {
  std::vector<uint8_t> out;
  z_stream stream{};
  if (size > UINT32_MAX / 2 || deflateInit(&stream, level) != Z_OK) return out;
  // deflateBound is enough room for a single Z_FINISH call.
  out.resize(deflateBound(&stream, static_cast<uLong>(size)));
  stream.next_in = const_cast<uint8_t*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(result == Z_STREAM_END ? stream.total_out : 0);
  deflateEnd(&stream);
  return out;
}

std::vector<uint8_t> Sign(crypto::RsaKey* key, const uint8_t* content, size_t size) {
  return crypto::SignSha256(key, content, size);
}

std::vector<uint8_t> MakeTrailer(const uint8_t kind[16], uint32_t id, uint32_t signatureSize,
                                 uint32_t dataSize) {
  BlockTrailer fields = {{}, id, signatureSize, dataSize};
  memcpy(fields.kind, kind, sizeof fields.kind);
  std::vector<uint8_t> trailer(BLOCK_TRAILER_SIZE);
  WriteBlockTrailer(fields, trailer.data());
  return trailer;
}

std::vector<uint8_t> MakeBlock(const uint8_t kind[16], uint32_t id,
                               const std::vector<uint8_t>& data,
                               const std::vector<uint8_t>& signature) {
  std::vector<uint8_t> block(data);
  block.insert(block.end(), signature.begin(), signature.end());
  std::vector<uint8_t> trailer = MakeTrailer(kind, id, static_cast<uint32_t>(signature.size()),
                                             static_cast<uint32_t>(data.size()));
  block.insert(block.end(), trailer.begin(), trailer.end());
  return block;
}

bool MakeSignedBlock(const uint8_t kind[16], uint32_t id, const std::vector<uint8_t>& content,
                     crypto::RsaKey* key, std::vector<uint8_t>* block, std::string* error) {
  std::vector<uint8_t> signature = Sign(key, content);
  if (signature.empty()) {
    *error = "signing failed";
    return false;
  }
  std::vector<uint8_t> data = Compress(content);
  if (data.empty()) {
    *error = "compression failed";
    return false;
  }
  if (data.size() + signature.size() + BLOCK_TRAILER_SIZE > UINT32_MAX) {
    *error = "block larger than 4 GiB";
    return false;
  }
  *block = MakeBlock(kind, id, data, signature);
  return true;
}

bool WritePayload(const std::vector<Entry>& entries, crypto::RsaKey* key,
                  std::vector<uint8_t>* region, std::string* error) {
  std::vector<uint8_t> manifest;
  std::set<uint32_t> keys;
  for (const Entry& entry : entries) {
    if (!keys.insert(entry.key).second) {
      *error = "duplicate key " + std::to_string(entry.key);
      return false;
    }
    if (!AppendManifestEntry(entry.key, entry.text, &manifest)) {
      *error = "text of key " + std::to_string(entry.key) + " is not valid UTF-8";
      return false;
    }
  }
  std::vector<uint8_t> out;
  std::vector<uint8_t> block;
  if (!MakeSignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, manifest, key, &block, error)) return false;
  out.swap(block);
  for (const Entry& entry : entries) {
    if (!MakeSignedBlock(FILE_BLOCK_KIND_BYTES, entry.key, entry.content, key, &block, error)) {
      *error = "key " + std::to_string(entry.key) + ": " + *error;
      return false;
    }
    if (out.size() + block.size() > UINT32_MAX) {
      *error = "payload larger than 4 GiB";
      return false;
    }
    out.insert(out.end(), block.begin(), block.end());
  }
  region->swap(out);
  return true;
}

}  // namespace payload_writer
