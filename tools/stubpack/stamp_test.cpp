// stubpack stamp: a key written into a copy of a launcher without one, which
// pack and inspect then read back; the refusals, which write nothing; the
// release launcher found beside the stubpack program.
#include "tools/stubpack/stamp.h"

#include <gtest/gtest.h>

#include <functional>

#include "payload/little_endian.h"
#include "testing/stubpack_fixture.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/image_digest.h"
#include "tools/stubpack/inspect.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/launcher_key.h"
#include "tools/stubpack/pack.h"
#include "tools/stubpack/pe_image.h"

namespace {

std::string Digest(const std::vector<uint8_t>& image) {
  ImageDigest digest;
  std::string error;
  EXPECT_TRUE(ComputeImageDigest(image, &digest, &error)) << error;
  return DigestHex(digest);
}

class StampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(MakeKeyPair(dir.Path("keys"), &error)) << error;
    blank = dir.Path("launcher.exe");
    WriteBytes(blank, MakeTestLauncher({}));
  }

  bool Run(const std::string& launcher, const std::string& key, const std::string& out,
           std::string* error, StampReport* report = nullptr) {
    StampReport ignored;
    return Stamp({launcher, key, out}, report ? report : &ignored, error);
  }

  ScratchDir dir;
  std::string blank;
};

TEST_F(StampTest, StampPackAndInspectAgreeOnTheKey) {
  std::string error;
  StampReport report;
  ASSERT_TRUE(Run(blank, dir.Path("keys/public.pem"), dir.Path("stamped.exe"), &error, &report))
      << error;
  const std::vector<uint8_t> blob = ReadBytes(dir.Path("keys/public.blob"));
  const std::vector<uint8_t> stamped = ReadBytes(dir.Path("stamped.exe"));
  LauncherKey key;
  ASSERT_TRUE(ReadLauncherKey(stamped, &key, &error)) << error;
  EXPECT_EQ(key.blob, blob);
  EXPECT_EQ(report.fingerprint, KeyFingerprint(blob));

  // Only the key section and the checksum changed; the checksum is the file's.
  const std::vector<uint8_t> before = ReadBytes(blank);
  PeImage pe;
  ASSERT_TRUE(ReadPeImage(stamped, &pe, &error)) << error;
  ASSERT_EQ(stamped.size(), before.size());
  for (size_t i = 0; i < stamped.size(); i++) {
    const bool inKey = i >= key.place.offset && i < key.place.offset + key.place.size;
    const bool inChecksum = i >= pe.checksumOffset && i < pe.checksumOffset + 4;
    if (!inKey && !inChecksum) ASSERT_EQ(stamped[i], before[i]) << "offset " << i;
  }
  EXPECT_EQ(GetU32(&stamped[pe.checksumOffset]), PeChecksum(stamped, pe.checksumOffset));

  // The digest of every stamped copy is the unstamped launcher's; a changed
  // code byte still changes it.
  EXPECT_EQ(Digest(stamped), Digest(before));
  EXPECT_EQ(report.digest, Digest(before));
  std::vector<uint8_t> changed = stamped;
  changed[0x200] ^= 1;
  EXPECT_NE(Digest(changed), Digest(before));

  // The private key stamps the same bytes; stamping again replaces the key.
  ASSERT_TRUE(Run(blank, dir.Path("keys/private.pem"), dir.Path("fromprivate.exe"), &error))
      << error;
  EXPECT_EQ(ReadBytes(dir.Path("fromprivate.exe")), stamped);
  WriteBytes(dir.Path("dev.exe"), MakeTestLauncher(DevPublicKeyBlob()));
  ASSERT_TRUE(
      Run(dir.Path("dev.exe"), dir.Path("keys/public.pem"), dir.Path("restamped.exe"), &error))
      << error;
  EXPECT_EQ(ReadBytes(dir.Path("restamped.exe")), stamped);

  // pack takes the launcher with the matching private key, inspect verifies
  // every block with the stamped key and shows its fingerprint.
  PackOptions options;
  options.launcher = dir.Path("stamped.exe");
  options.key = dir.Path("keys/private.pem");
  options.out = dir.Path("setup.exe");
  options.packages.push_back({});
  options.packages.back().msi = SampleDir() + "/en/demo.msi";
  PackReport packed;
  ASSERT_TRUE(Pack(options, &packed, &error)) << error;
  std::string text;
  EXPECT_EQ(Inspect(dir.Path("setup.exe"), InspectOptions{}, &text), 0) << text;
  // The digest and the fingerprint side by side, on consecutive lines.
  const size_t digestLine = text.find("digest:    " + Digest(before));
  ASSERT_NE(digestLine, std::string::npos) << text;
  EXPECT_EQ(text.find("key:       " + KeyFingerprint(blob)), text.find('\n', digestLine) + 1)
      << text;

  // With the development key instead, pack refuses: the launcher trusts
  // only the stamped one.
  options.key = DevPrivateKeyPath();
  options.out = dir.Path("other.exe");
  EXPECT_FALSE(Pack(options, &packed, &error));
  EXPECT_NE(error.find("trusts the key " + KeyFingerprint(blob)), std::string::npos) << error;
}

TEST_F(StampTest, RefusalsWriteNothing) {
  std::string error;
  ASSERT_TRUE(Run(blank, DevPrivateKeyPath(), dir.Path("dev.exe"), &error)) << error;
  ASSERT_TRUE(Sign(dir.Path("dev.exe"), dir.Path("signed.exe")));
  PackOptions options;
  options.launcher = dir.Path("dev.exe");
  options.key = DevPrivateKeyPath();
  options.out = dir.Path("packed.exe");
  options.packages.push_back({});
  options.packages.back().msi = SampleDir() + "/en/demo.msi";
  PackReport packed;
  ASSERT_TRUE(Pack(options, &packed, &error)) << error;
  options.launcher = dir.Path("signed.exe");
  options.out = dir.Path("signedpacked.exe");
  ASSERT_TRUE(Pack(options, &packed, &error)) << error;
  std::vector<uint8_t> noSection = ReadBytes(blank);
  noSection[0x80 + 24 + 240 + 40 + 1] = 'X';  // the second section is ".Xsikey"
  WriteBytes(dir.Path("nosection.exe"), noSection);
  ASSERT_EQ(RunShell("openssl genrsa -out '" + dir.Path("rsa1024.pem") + "' 1024 2>/dev/null"), 0);

  const std::string pub = dir.Path("keys/public.pem");
  struct Case {
    const char* name;
    std::string launcher, key, reason;
  };
  const Case cases[] = {
      {"signed", dir.Path("signed.exe"), pub, "is signed: stamping changes bytes its signature"},
      {"packed", dir.Path("packed.exe"), pub, "carries a payload (payload appended"},
      {"signed and packed", dir.Path("signedpacked.exe"), pub, "is signed"},
      {"no key section", dir.Path("nosection.exe"), pub, "no key section (.msikey)"},
      {"missing launcher", dir.Path("none.exe"), pub, "cannot open"},
      {"missing key", blank, dir.Path("none.pem"), "cannot open"},
      {"not a key", blank, SampleDir() + "/en/demo.msi", "no PEM public or private key"},
      {"RSA-1024 key", blank, dir.Path("rsa1024.pem"), "not an RSA-2048 key"},
      {"output is the key", blank, pub, "is the key"},
  };
  for (const Case& c : cases) {
    const std::string out = std::string(c.name) == "output is the key" ? pub : dir.Path("out.exe");
    const std::vector<uint8_t> before = PathExists(out) ? ReadBytes(out) : std::vector<uint8_t>();
    std::string why;
    EXPECT_FALSE(Run(c.launcher, c.key, out, &why)) << c.name;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    if (before.empty())
      EXPECT_FALSE(PathExists(out)) << c.name;
    else
      EXPECT_EQ(ReadBytes(out), before) << c.name;
  }
}

// Without --launcher, stamp takes the release launcher where the Debian
// package puts it: ../share/msistub/launcher.exe from the program's folder.
TEST_F(StampTest, FindsTheReleaseLauncherBesideTheProgram) {
  ASSERT_EQ(RunShell("mkdir -p '" + dir.Path("usr/bin") + "' && cp '" STUBPACK_BINARY "' '" +
                     dir.Path("usr/bin/stubpack") + "'"),
            0);
  const std::string command = "'" + dir.Path("usr/bin/stubpack") + "' stamp --key '" +
                              dir.Path("keys/public.pem") + "' --out '" + dir.Path("out.exe") + "'";
  std::string output;
  EXPECT_EQ(RunShell(command, &output), 1) << output;
  EXPECT_NE(output.find("no release launcher beside stubpack (" +
                        dir.Path("usr/share/msistub/launcher.exe") + "): give --launcher FILE"),
            std::string::npos)
      << output;

  ASSERT_EQ(RunShell("mkdir -p '" + dir.Path("usr/share/msistub") + "' && cp '" + blank + "' '" +
                     dir.Path("usr/share/msistub/launcher.exe") + "'"),
            0);
  ASSERT_EQ(RunShell(command, &output), 0) << output;
  LauncherKey key;
  std::string error;
  ASSERT_TRUE(ReadLauncherKey(ReadBytes(dir.Path("out.exe")), &key, &error)) << error;
  EXPECT_EQ(key.blob, ReadBytes(dir.Path("keys/public.blob")));
}

}  // namespace
