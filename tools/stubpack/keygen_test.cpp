// keygen makes a key pair whose three files agree with each other and with
// what pack signs, and never overwrites a key.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tools/stubpack/file_io.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/payload_writer.h"
#include "testing/stubpack_fixture.h"

namespace {

TEST(Keygen, WritesMatchingPrivatePublicAndBlob) {
  ScratchDir dir;
  std::string keys = dir.Path("keys");
  std::string error;
  ASSERT_TRUE(MakeKeyPair(keys, &error)) << error;

  payload_writer::SigningKey key = payload_writer::LoadSigningKey(keys + "/private.pem", &error);
  ASSERT_TRUE(key) << error;
  std::vector<uint8_t> blob = ReadBytes(keys + "/public.blob");
  ASSERT_EQ(blob.size(), 276u);
  EXPECT_EQ(blob, payload_writer::PublicKeyBlob(key.get()));
  // The public PEM is the same key: openssl derives it from the private one alike.
  std::string derived, written;
  ASSERT_EQ(RunShell("openssl pkey -in '" + keys + "/private.pem' -pubout", &derived), 0);
  ASSERT_EQ(RunShell("cat '" + keys + "/public.pem'", &written), 0);
  EXPECT_EQ(derived, written);
  struct stat info;
  ASSERT_EQ(stat((keys + "/private.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(Keygen, RefusesToOverwriteAnyOfTheThreeFiles) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(MakeKeyPair(dir.path, &error)) << error;
  std::vector<uint8_t> privateBefore = ReadBytes(dir.Path("private.pem"));
  EXPECT_FALSE(MakeKeyPair(dir.path, &error));
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(dir.Path("private.pem")), privateBefore);

  // Only one of them present: still nothing is written.
  ScratchDir other;
  WriteBytes(other.Path("public.blob"), {1, 2, 3});
  EXPECT_FALSE(MakeKeyPair(other.path, &error));
  EXPECT_NE(error.find("public.blob already exists"), std::string::npos) << error;
  std::string listing;
  RunShell("ls '" + other.path + "'", &listing);
  EXPECT_EQ(listing, "public.blob\n");
}

// The launcher's build turns the public key into its blob with keyblob.py,
// which, like stubpack, takes only the exponent 65537 the launcher's blob
// format promises.
TEST(Keygen, KeyblobTakesOnlyTheExponent65537) {
  ScratchDir dir;
  const std::string script = std::string(STUBPACK_SOURCE_DIR) + "/scripts/keyblob.py";
  std::string output;
  ASSERT_EQ(RunShell("python3 '" + script + "' '" + STUBPACK_SOURCE_DIR +
                         "/keys/dev_public.pem' '" + dir.Path("dev.cpp") + "'",
                     &output),
            0)
      << output;
  std::vector<uint8_t> source = ReadBytes(dir.Path("dev.cpp")), blob;
  std::string text(source.begin(), source.end());
  for (size_t at = 0; (at = text.find("0x", at)) != std::string::npos; at += 2)
    blob.push_back(static_cast<uint8_t>(std::stoul(text.substr(at + 2, 2), nullptr, 16)));
  EXPECT_EQ(blob, DevPublicKeyBlob());

  ASSERT_EQ(
      RunShell("openssl genrsa -3 -out '" + dir.Path("e3.pem") + "' 2048 && openssl pkey -in '" +
                   dir.Path("e3.pem") + "' -pubout -out '" + dir.Path("e3.pub") + "'",
               &output),
      0)
      << output;
  EXPECT_EQ(
      RunShell("python3 '" + script + "' '" + dir.Path("e3.pub") + "' '" + dir.Path("e3.cpp") + "'",
               &output),
      1);
  EXPECT_NE(output.find("public exponent 3; the launcher takes only 65537"), std::string::npos)
      << output;
  EXPECT_FALSE(PathExists(dir.Path("e3.cpp")));
}

}  // namespace
