#include "tools/stubpack/stamp.h"

#include <cstdint>
#include <vector>

#include "payload/little_endian.h"
#include "tools/stubpack/attach.h"
#include "tools/stubpack/crypto.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/image_digest.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/launcher_key.h"
#include "tools/stubpack/payload_writer.h"
#include "tools/stubpack/release_launcher.h"

namespace {

// The PUBLICKEYBLOB of the public key in the PEM file at path, or of the
// public half of the private key in it; empty with a reason.
std::vector<uint8_t> PublicBlobOf(const std::string& path, std::string* error) {
  std::vector<uint8_t> text;
  if (!ReadWholeFile(path, &text, error)) return {};
  const std::string pem(text.begin(), text.end());
  crypto::RsaKeyPtr key = crypto::ReadPublicKeyPem(pem);
  if (!key) key = crypto::ReadPrivateKeyPem(pem);
  if (!key) {
    *error = path + ": no PEM public or private key";
    return {};
  }
  std::vector<uint8_t> blob = payload_writer::PublicKeyBlob(key.get());
  // What the launcher's check takes: 2048 bits, an odd exponent of at least 3
  // (at blob offset 16), an odd modulus (least significant byte first at 20).
  const uint32_t exponent = blob.size() == 276 ? GetU32(&blob[16]) : 0;
  if (blob.size() != 276 || exponent < 3 || (exponent & 1) == 0 || (blob[20] & 1) == 0) {
    *error = path + ": not an RSA-2048 key the launcher can use";
    return {};
  }
  return blob;
}

}  // namespace

bool Stamp(const StampOptions& options, StampReport* report, std::string* error) {
  *report = StampReport{};
  if (options.key.empty() || options.out.empty()) {
    *error = options.key.empty() ? "no key: give --key PUBLIC.pem (or the private key)"
                                 : "no output: give --out FILE";
    return false;
  }
  report->launcher = options.launcher;
  if (report->launcher.empty()) {
    report->launcher = ReleaseLauncherPath();
    if (report->launcher.empty() || !PathExists(report->launcher)) {
      *error = "no release launcher beside stubpack" +
               (report->launcher.empty() ? std::string() : " (" + report->launcher + ")") +
               ": give --launcher FILE";
      return false;
    }
  }
  const std::string& path = report->launcher;
  std::vector<uint8_t> blob = PublicBlobOf(options.key, error);
  if (blob.empty()) return false;

  std::vector<uint8_t> image;
  if (!ReadWholeFile(path, &image, error)) return false;
  LauncherLayout layout;
  LauncherKey key;
  if (!ReadLauncherLayout(image, &layout, error) || !ReadLauncherKey(image, &key, error)) {
    *error = path + ": " + *error;
    return false;
  }
  // The key section lies inside what a signature covers: stamping a signed
  // file would break its signature, and a packed file is signed or about to
  // be, after its payload, in the wrong order.
  if (layout.pe.hasCertificateTable) {
    *error = path +
             " is signed: stamping changes bytes its signature covers and would break it. "
             "Stamp the unsigned launcher, then sign, then pack";
    return false;
  }
  if (layout.place != PayloadPlace::None) {
    *error = path + " carries a payload (" + DescribePlace(layout.place) +
             "): stamp the bare launcher, then sign, then pack";
    return false;
  }
  if (SameFile(options.out, options.key)) {
    *error = "the output " + options.out + " is the key " + options.key + "; write to another file";
    return false;
  }

  WriteLauncherKey(image, key.place, layout.pe.checksumOffset, blob);
  ImageDigest digest;
  if (!ComputeImageDigest(image, &digest, error)) return false;
  if (!WriteFileAtomically(options.out, image, 0755, false, error)) return false;
  report->fingerprint = KeyFingerprint(blob);
  report->digest = DigestHex(digest);
  return true;
}
