// inspect reports what the launcher's own code finds, and fails when anything
// the launcher would use does not verify.
#include "tools/stubpack/inspect.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "payload/block_format.h"
#include "payload/little_endian.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/pack.h"
#include "tools/stubpack/payload_writer.h"
#include "testing/stubpack_fixture.h"

namespace {

class InspectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir.Path("launcher.exe"), MakeTestLauncher(DevPublicKeyBlob()));
    ASSERT_TRUE(Sign(dir.Path("launcher.exe"), dir.Path("signed.exe")));
  }

  // Packs the English and German samples into `in`, or into a certificate.
  void PackSamples(const std::string& in, const std::string& out, bool certificate = false) {
    PackOptions options;
    options.key = DevPrivateKeyPath();
    (certificate ? options.certificateOut : options.out) = out;
    if (!certificate) options.launcher = in;
    for (const char* build : {"en", "de"}) {
      options.packages.push_back({});
      options.packages.back().msi = SampleDir() + "/" + build + "/demo.msi";
    }
    PackReport report;
    std::string error;
    ASSERT_TRUE(Pack(options, &report, &error)) << error;
  }

  // Writes setup.exe: the test launcher with a payload of these entries
  // appended, signed with the development key.
  void WriteSetup(const std::vector<payload_writer::Entry>& entries) {
    std::string error;
    payload_writer::SigningKey key = payload_writer::LoadSigningKey(DevPrivateKeyPath(), &error);
    ASSERT_TRUE(key) << error;
    std::vector<uint8_t> image = MakeTestLauncher(DevPublicKeyBlob());
    std::vector<uint8_t> region;
    ASSERT_TRUE(payload_writer::WritePayload(entries, key.get(), &region, &error)) << error;
    image.insert(image.end(), region.begin(), region.end());
    WriteBytes(dir.Path("setup.exe"), image);
  }

  static int InspectFile(const std::string& path, std::string* text, int locale = -1) {
    InspectOptions options;
    options.hasLocale = locale >= 0;
    options.locale = static_cast<uint32_t>(locale);
    return Inspect(path, options, text);
  }

  static void ExpectHas(const std::string& text, const std::string& part) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing \"" << part << "\" in\n" << text;
  }

  ScratchDir dir;
};

TEST_F(InspectTest, SignedThenPackedListsEverythingAndVerifies) {
  PackSamples(dir.Path("signed.exe"), dir.Path("setup.exe"));
  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text), 0) << text;
  ExpectHas(text, "Authenticode-signed");
  ExpectHas(text, "inside the certificate table");
  ExpectHas(text, "EnableCertPaddingCheck");
  ExpectHas(text, "key:       " + KeyFingerprint(DevPublicKeyBlob()) +
                      " (fingerprint of the key stamped into the launcher)");
  ExpectHas(text, "source 0: the whole file");
  ExpectHas(
      text,
      "key 1002   package    x64\\1031\\{FE8F0829-B19F-452B-A8C9-A713FF303451}\\Demo Produkt");
  ExpectHas(text, "key 1003   cabinet    cab\\1002\\demo.cab");
  // One line per block: the manifest and four file blocks, all verified.
  size_t verified = 0;
  for (size_t at = 0; (at = text.find("%  ok (status 0 at ", at)) != std::string::npos; at++)
    verified++;
  EXPECT_EQ(verified, 5u) << text;
  ExpectHas(text, "everything the launcher would use verifies");
}

TEST_F(InspectTest, LocaleShowsTheChoiceAndTheFilesWritten) {
  PackSamples(dir.Path("launcher.exe"), dir.Path("setup.exe"));
  struct Case {
    int locale;
    const char* chosen;
    const char* how;
  };
  const Case cases[] = {
      {1031, "key 1002 of source 0: x64, languages 1031", ""},
      {2055, "key 1002 of source 0", "(by primary language)"},
      {1041, "key 1000 of source 0", "fell back to 1033"},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text, c.locale), 0) << text;
    ExpectHas(text, c.chosen);
    ExpectHas(text, c.how);
    ExpectHas(text, "main.msi");
    ExpectHas(text, "demo.cab");
  }
}

TEST_F(InspectTest, TamperedBlockFailsAndIsNamed) {
  PackSamples(dir.Path("launcher.exe"), dir.Path("setup.exe"));
  std::vector<uint8_t> image = ReadBytes(dir.Path("setup.exe"));
  // The last block is the German cabinet: flip a byte of its signature.
  image[image.size() - 28 - 10] ^= 1;
  WriteBytes(dir.Path("tampered.exe"), image);
  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("tampered.exe"), &text), 1);
  ExpectHas(text, "BAD SIGNATURE (status 1392 at 732)");
  ExpectHas(text, "PROBLEMS");
  // A locale whose files all verify still selects fine, but the result stays failed.
  text.clear();
  EXPECT_EQ(InspectFile(dir.Path("tampered.exe"), &text, 1033), 1);
  ExpectHas(text, "key 1000 of source 0");
}

TEST_F(InspectTest, SaysWhereThePayloadSitsForEachForm) {
  PackSamples("", dir.Path("payload.pem"), true);
  ASSERT_TRUE(Sign(dir.Path("launcher.exe"), dir.Path("cert.exe"), dir.Path("payload.pem")));
  PackSamples(dir.Path("launcher.exe"), dir.Path("unsigned.exe"));
  struct Case {
    std::string file;
    int status;
    std::vector<std::string> parts;
  };
  const Case cases[] = {
      {dir.Path("cert.exe"),
       0,
       {"payload in a certificate of the signature", "passes the strict certificate-padding check",
        "source 0: a certificate extension"}},
      {dir.Path("unsigned.exe"),
       0,
       {"not signed", "payload appended to the end", "sign the bare launcher, then pack"}},
      {dir.Path("signed.exe"), 1, {"no payload", "not found (status 1168 at 509)"}},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(InspectFile(c.file, &text), c.status) << text;
    for (const std::string& part : c.parts) ExpectHas(text, part);
  }
}

// A payload stubpack would never pack, signed all the same: inspect names each
// entry whose name the launcher refuses, and why.
TEST_F(InspectTest, NamesThatWouldLeaveTheProductFolderAreNamedWithTheReason) {
  ASSERT_NO_FATAL_FAILURE(WriteSetup({{1000, "x64\\1033\\{P}\\Product", {'M'}},
                                      {1001, "cab\\1000\\../../../victim.txt", {'C'}},
                                      {1002, "x64\\1031\\CON\\Produkt", {'M'}},
                                      {1003, "cab\\1002\\data.cab", {'D'}}}));

  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text), 1);
  ExpectHas(text,
            "key 1001   cabinet    cab\\1000\\../../../victim.txt\n"
            "      its file name \"../../../victim.txt\" holds a path separator (\\ or /): the "
            "launcher stops (text 101) when it chooses a package of this cabinet\n");
  ExpectHas(text,
            "key 1002   package    x64\\1031\\CON\\Produkt\n"
            "      its product code \"CON\" is a reserved device name: the launcher stops (text "
            "101) when it chooses this package\n");
  EXPECT_EQ(text.find("data.cab\n      its"), std::string::npos) << text;
  ExpectHas(text, "PROBLEMS");

  struct Case {
    int locale;
    const char* says;
  } const cases[] = {
      {1033, "the files cannot all be decoded or a cabinet's name is refused (see above): the "
             "launcher stops (text 101)"},
      {1031, "its product code is refused (see above): the launcher stops (text 101)"},
  };
  for (const Case& c : cases) {
    text.clear();
    EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text, c.locale), 1);
    ExpectHas(text, c.says);
  }
}

// Two files of one package under one name could be written into no folder:
// inspect says which package and which name, as the launcher refuses it.
TEST_F(InspectTest, PackageWhoseFilesShareANameIsNamed) {
  ASSERT_NO_FATAL_FAILURE(WriteSetup({{1000, "x64\\1033\\{P}\\Product", {'M'}},
                                      {1001, "cab\\1000\\MAIN.MSI", {'C'}},
                                      {1002, "x64\\1031\\{Q}\\Produkt", {'M'}},
                                      {1003, "cab\\1002;1002\\data.cab", {'D'}},
                                      {1004, "x64\\1036\\{R}\\Produit", {'M'}},
                                      {1005, "cab\\1004\\a.cab", {'A'}},
                                      {1006, "cab\\1004\\b.cab", {'B'}}}));

  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text), 1);
  ExpectHas(text,
            "key 1000   package    x64\\1033\\{P}\\Product\n"
            "      two of its files would be named \"MAIN.MSI\" (names compare without case): the "
            "launcher stops (text 101) when it chooses this package\n");
  ExpectHas(text,
            "key 1002   package    x64\\1031\\{Q}\\Produkt\n"
            "      two of its files would be named \"data.cab\"");
  EXPECT_EQ(text.find("Produit\n      two"), std::string::npos) << text;
  text.clear();
  EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text, 1033), 1);
  ExpectHas(text, "a cabinet's name is refused (see above): the launcher stops (text 101)");
}

// A payload whose packages no locale chooses installs nowhere. One x64
// package is enough, whatever its language.
TEST_F(InspectTest, PayloadNoLocaleChoosesFails) {
  struct Case {
    std::vector<payload_writer::Entry> entries;
    int status;
  };
  const Case cases[] = {
      {{{1000, "Intel\\1033\\{P}\\Product", {'M'}}, {1001, "Intel\\1031\\{Q}\\Produkt", {'M'}}},
       1},
      {{{1000, "Intel\\1033\\{P}\\Product", {'M'}}, {1001, "x64\\2055\\{Q}\\Produkt", {'M'}}},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries.back().text);
    ASSERT_NO_FATAL_FAILURE(WriteSetup(c.entries));
    std::string text;
    EXPECT_EQ(InspectFile(dir.Path("setup.exe"), &text), c.status) << text;
    EXPECT_EQ(text.find("no user locale makes the launcher choose a package") != std::string::npos,
              c.status == 1)
        << text;
  }
}

TEST_F(InspectTest, FileWithoutVerificationKeyFails) {
  // A payload the development key signed, behind a launcher with no key.
  WriteSetup({{1000, "x64\\1033\\{P}\\Product", {1, 2, 3}}});
  std::vector<uint8_t> setup = ReadBytes(dir.Path("setup.exe"));
  const std::vector<uint8_t> stamped = MakeTestLauncher(DevPublicKeyBlob());
  const std::vector<uint8_t> keyless = MakeTestLauncher({});
  std::copy(keyless.begin(), keyless.end(), setup.begin());
  WriteBytes(dir.Path("keyless.exe"), setup);
  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("keyless.exe"), &text), 1);
  ExpectHas(text, "key:       no key: the launcher refuses every payload");
  ExpectHas(text, "load:      verification key unusable (status 2148073475 at 599)");
  EXPECT_EQ(stamped.size(), keyless.size());
  text.clear();
  EXPECT_EQ(InspectFile(dir.Path("none.exe"), &text), 1);
  ExpectHas(text, "cannot open");
}

// Counts the blocks listed as verified ("ok" with a ratio).
size_t VerifiedBlocks(const std::string& text) {
  size_t verified = 0;
  for (size_t at = 0; (at = text.find("%  ok (status 0 at ", at)) != std::string::npos; at++)
    verified++;
  return verified;
}

// A file trailer whose sizes do not fit is stepped over by the launcher; the
// blocks in front of it are listed and checked all the same.
TEST_F(InspectTest, ListsTheBlocksTheLauncherWalksPastABrokenTrailer) {
  PackSamples(dir.Path("launcher.exe"), dir.Path("setup.exe"));
  std::vector<uint8_t> image = ReadBytes(dir.Path("setup.exe"));
  std::vector<uint8_t> junk = payload_writer::MakeTrailer(FILE_BLOCK_KIND_BYTES, 5, 0x7FFFFFFF, 0);
  std::vector<uint8_t> extra;
  std::string error;
  payload_writer::SigningKey key = payload_writer::LoadSigningKey(DevPrivateKeyPath(), &error);
  ASSERT_TRUE(payload_writer::MakeSignedBlock(FILE_BLOCK_KIND_BYTES, 7, {1, 2, 3}, key.get(),
                                              &extra, &error))
      << error;
  image.insert(image.end(), junk.begin(), junk.end());
  image.insert(image.end(), extra.begin(), extra.end());
  WriteBytes(dir.Path("stepped.exe"), image);
  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("stepped.exe"), &text), 0) << text;
  EXPECT_EQ(VerifiedBlocks(text), 6u) << text;
  EXPECT_EQ(text.find("does not walk back to a manifest block"), std::string::npos) << text;
  ExpectHas(text, "  manifest      0");
  ExpectHas(text, "  file          7");
}

// 40,000 blocks: every block is decoded once, in one walk (a fresh walk from
// the end for each block would take minutes).
TEST_F(InspectTest, ManyBlocksInOneWalk) {
  const uint32_t kBlocks = 40000;
  std::string error;
  payload_writer::SigningKey key = payload_writer::LoadSigningKey(DevPrivateKeyPath(), &error);
  ASSERT_TRUE(key) << error;
  std::vector<uint8_t> manifest;
  ASSERT_TRUE(payload_writer::AppendManifestEntry(
      1000, "x64\\1033\\{5970BD6B-642E-4576-98BF-6A9F9555AB0E}\\Many", &manifest));
  for (uint32_t id = 1001; id < 1000 + kBlocks; id++)
    ASSERT_TRUE(payload_writer::AppendManifestEntry(
        id, "cab\\1000\\f" + std::to_string(id) + ".cab", &manifest));
  std::vector<uint8_t> image = MakeTestLauncher(DevPublicKeyBlob()), block;
  ASSERT_TRUE(payload_writer::MakeSignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, manifest, key.get(),
                                              &block, &error));
  image.insert(image.end(), block.begin(), block.end());
  // The signature covers the content only, so one signed content serves every id.
  const std::vector<uint8_t> content = {'c', 'a', 'b'};
  const std::vector<uint8_t> data = payload_writer::Compress(content);
  const std::vector<uint8_t> signature = payload_writer::Sign(key.get(), content);
  for (uint32_t id = 1000; id < 1000 + kBlocks; id++) {
    block = payload_writer::MakeBlock(FILE_BLOCK_KIND_BYTES, id, data, signature);
    image.insert(image.end(), block.begin(), block.end());
  }
  WriteBytes(dir.Path("many.exe"), image);
  std::string text;
  EXPECT_EQ(InspectFile(dir.Path("many.exe"), &text), 0) << text.substr(0, 2000);
  EXPECT_EQ(VerifiedBlocks(text), kBlocks + 1);
}

// When SHA-256 cannot be computed, no signature is called bad: inspect says
// what failed.
TEST_F(InspectTest, DigestThatCannotBeComputedIsAnErrorNotABadSignature) {
  PackSamples(dir.Path("launcher.exe"), dir.Path("setup.exe"));
  std::string text;
  // No provider offers anything under this property: every fetch fails.
  ASSERT_EQ(EVP_set_default_properties(nullptr, "provider=none-such"), 1);
  int status = InspectFile(dir.Path("setup.exe"), &text);
  ASSERT_EQ(EVP_set_default_properties(nullptr, ""), 1);
  EXPECT_EQ(status, 1);
  ExpectHas(text, "SHA-256 cannot be computed");
  EXPECT_EQ(text.find("BAD SIGNATURE"), std::string::npos) << text;
}

}  // namespace
