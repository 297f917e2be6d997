// pack writes, the launcher's own code reads: round trips through both ways of
// attaching, signed and unsigned launchers, one and several packages, shared
// cabinets; and every refusal leaves nothing behind.
#include "tools/stubpack/pack.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "payload/block_format.h"
#include "payload/little_endian.h"
#include "payload/verify_signature.h"
#include "testing/development_key.h"
#include "tools/stubpack/attach.h"
#include "tools/stubpack/file_io.h"
#include "testing/stubpack_fixture.h"

namespace {

const char kEnText[] = "x64\\1033\\{5970BD6B-642E-4576-98BF-6A9F9555AB0E}\\Demo Product";
const char kDeText[] = "x64\\1031\\{FE8F0829-B19F-452B-A8C9-A713FF303451}\\Demo Produkt";

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    launcher = dir.Path("launcher.exe");
    WriteBytes(launcher, MakeTestLauncher(DevPublicKeyBlob()));
  }

  static PackageInput Sample(const char* build) {
    PackageInput input;
    input.msi =
        SampleDir() + "/" + build + "/" + (std::string(build) == "fail" ? "fail" : "demo") + ".msi";
    return input;
  }
  static std::string SampleFile(const char* relative) { return SampleDir() + "/" + relative; }

  PackOptions Append(const std::string& in, const std::string& out,
                     std::vector<PackageInput> packages) const {
    PackOptions options;
    options.launcher = in;
    options.out = out;
    options.key = DevPrivateKeyPath();
    options.packages = std::move(packages);
    return options;
  }

  // Packs and fails the test with pack's reason when it refuses.
  PackReport MustPack(const PackOptions& options) {
    PackReport report;
    std::string error;
    EXPECT_TRUE(Pack(options, &report, &error)) << error;
    return report;
  }

  static void ExpectEntry(const LoadedPayload::Entry& entry, uint32_t key, const std::string& text,
                          const std::string& contentPath) {
    EXPECT_EQ(entry.key, key);
    EXPECT_EQ(entry.text, text);
    EXPECT_EQ(entry.blockStatus.code, 0u) << "key " << key << " at " << entry.blockStatus.location;
    EXPECT_TRUE(entry.content == ReadBytes(contentPath)) << "content of key " << key;
  }

  ScratchDir dir;
  std::string launcher;
};

TEST_F(PackTest, UnsignedLauncherOnePackageRoundTrip) {
  PackReport report = MustPack(Append(launcher, dir.Path("setup.exe"), {Sample("en")}));
  ASSERT_EQ(report.files.size(), 2u);

  std::vector<uint8_t> original = ReadBytes(launcher);
  std::vector<uint8_t> packed = ReadBytes(dir.Path("setup.exe"));
  ASSERT_EQ(packed.size(), original.size() + report.payloadSize);
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + 0x80 + 24 + 64, packed.begin()))
      << "the launcher's bytes stay in front (the checksum field is updated)";

  LoadedPayload loaded = LoadWithLauncherCode(packed);
  ASSERT_EQ(loaded.status.code, 0u) << loaded.status.location;
  ASSERT_EQ(loaded.sourceCount, 1u);
  EXPECT_EQ(loaded.sourceSizes[0], packed.size()) << "the whole file is the source";
  ASSERT_EQ(loaded.entries.size(), 2u);
  ExpectEntry(loaded.entries[0], 1000, kEnText, SampleFile("en/demo.msi"));
  ExpectEntry(loaded.entries[1], 1001, "cab\\1000\\demo.cab", SampleFile("en/demo.cab"));
}

TEST_F(PackTest, SignedThenPackedKeepsAValidSignatureAndTwoPackages) {
  ASSERT_TRUE(Sign(launcher, dir.Path("signed.exe")));
  MustPack(Append(dir.Path("signed.exe"), dir.Path("setup.exe"), {Sample("en"), Sample("de")}));

  std::string output;
  EXPECT_TRUE(VerifySignature(dir.Path("setup.exe"), &output)) << output;
  EXPECT_EQ(output.find("invalid PE checksum"), std::string::npos) << output;

  std::vector<uint8_t> packed = ReadBytes(dir.Path("setup.exe"));
  uint32_t table = GetU32(&packed[0x80 + 24 + 144]);
  uint32_t tableSize = GetU32(&packed[0x80 + 24 + 148]);
  EXPECT_EQ(table + tableSize, packed.size()) << "the certificate table runs to the end";
  EXPECT_EQ(GetU32(&packed[table]), tableSize) << "entry length equals the directory size";
  EXPECT_EQ(tableSize % 8, 0u);

  LoadedPayload loaded = LoadWithLauncherCode(packed);
  ASSERT_EQ(loaded.status.code, 0u) << loaded.status.location;
  ASSERT_EQ(loaded.sourceCount, 1u);
  ASSERT_EQ(loaded.entries.size(), 4u);
  // Both packages bring a "demo.cab"; the contents differ, so each keeps its own.
  ExpectEntry(loaded.entries[0], 1000, kEnText, SampleFile("en/demo.msi"));
  ExpectEntry(loaded.entries[1], 1001, "cab\\1000\\demo.cab", SampleFile("en/demo.cab"));
  ExpectEntry(loaded.entries[2], 1002, kDeText, SampleFile("de/demo.msi"));
  ExpectEntry(loaded.entries[3], 1003, "cab\\1002\\demo.cab", SampleFile("de/demo.cab"));
}

TEST_F(PackTest, SharedCabinetIsStoredOnceAndNamesEveryOwner) {
  std::vector<uint8_t> shared = ReadBytes(SampleFile("en/demo.cab"));
  WriteBytes(dir.Path("demo.cab"), shared);
  PackageInput en = Sample("en"), de = Sample("de"), fail = Sample("fail");
  en.cabinets = {dir.Path("demo.cab")};
  de.cabinets = {dir.Path("demo.cab")};
  PackReport report = MustPack(Append(launcher, dir.Path("setup.exe"), {en, fail, de}));

  LoadedPayload loaded = LoadWithLauncherCode(ReadBytes(dir.Path("setup.exe")));
  ASSERT_EQ(loaded.status.code, 0u);
  ASSERT_EQ(loaded.entries.size(), 5u);
  EXPECT_EQ(loaded.entries[0].key, 1000u);
  ExpectEntry(loaded.entries[1], 1001, "cab\\1000;1004\\demo.cab", dir.Path("demo.cab"));
  EXPECT_EQ(loaded.entries[2].key, 1002u);  // fail.msi
  ExpectEntry(loaded.entries[3], 1003, "cab\\1002\\fail.cab", SampleFile("fail/fail.cab"));
  ExpectEntry(loaded.entries[4], 1004, kDeText, SampleFile("de/demo.msi"));
  // en and de ship the same bytes; pack says the name matches their Media tables.
  for (const std::string& w : report.warnings)
    EXPECT_EQ(w.find("Media table"), std::string::npos) << w;
}

TEST_F(PackTest, CertificateOutIsFoundInTheSignatureAndKeepsItValid) {
  PackOptions options;
  options.key = DevPrivateKeyPath();
  options.packages = {Sample("en")};
  // DER by default; PEM by name, for osslsigncode, whose -ac reads only PEM.
  options.certificateOut = dir.Path("payload.der");
  MustPack(options);
  std::string text;
  ASSERT_EQ(RunShell("openssl x509 -inform DER -noout -text -in '" + dir.Path("payload.der") + "'",
                     &text),
            0)
      << text;
  EXPECT_NE(text.find("1.2.840.113556.1.8000.2554.2951.50896.53846.17503.37240.13145692.12219546:"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("critical"), std::string::npos) << text;
  // The certificate is signed with a key of its own, never the payload key:
  // its to-be-signed bytes and signature must not form a block the launcher
  // would accept.
  std::vector<uint8_t> der = ReadBytes(dir.Path("payload.der"));
  const unsigned char* p = der.data();
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(cert, nullptr);
  unsigned char* tbs = nullptr;
  int tbsSize = i2d_re_X509_tbs(cert, &tbs);
  const ASN1_BIT_STRING* signature = nullptr;
  X509_get0_signature(&signature, nullptr, cert);
  ASSERT_GT(tbsSize, 0);
  ASSERT_NE(signature, nullptr);
  EXPECT_EQ(VerifyBlockSignature(kDevelopmentKey, tbs, static_cast<uint32_t>(tbsSize),
                                 signature->data, static_cast<uint32_t>(signature->length)),
            SignatureCheck::Mismatch);
  std::string keyError;
  payload_writer::SigningKey payloadKey =
      payload_writer::LoadSigningKey(DevPrivateKeyPath(), &keyError);
  EXPECT_EQ(X509_verify(cert, payloadKey.get()), 0);
  EXPECT_EQ(X509_verify(cert, X509_get0_pubkey(cert)), 1) << "self-signed with its own key";
  OPENSSL_free(tbs);
  X509_free(cert);
  options.certificateOut = dir.Path("payload.pem");
  PackReport report = MustPack(options);
  ASSERT_TRUE(Sign(launcher, dir.Path("setup.exe"), dir.Path("payload.pem")));

  std::string output;
  EXPECT_TRUE(VerifySignature(dir.Path("setup.exe"), &output)) << output;
  LoadedPayload loaded = LoadWithLauncherCode(ReadBytes(dir.Path("setup.exe")));
  ASSERT_EQ(loaded.status.code, 0u) << loaded.status.location;
  ASSERT_EQ(loaded.sourceCount, 1u);
  EXPECT_EQ(loaded.sourceSizes[0], report.payloadSize) << "the extension value is the source";
  ASSERT_EQ(loaded.entries.size(), 2u);
  ExpectEntry(loaded.entries[0], 1000, kEnText, SampleFile("en/demo.msi"));
  ExpectEntry(loaded.entries[1], 1001, "cab\\1000\\demo.cab", SampleFile("en/demo.cab"));

  // Such a launcher cannot take an appended payload: the launcher would not look.
  PackReport refused;
  std::string error;
  EXPECT_FALSE(
      Pack(Append(dir.Path("setup.exe"), dir.Path("again.exe"), {Sample("de")}), &refused, &error));
  EXPECT_NE(error.find("payload certificate"), std::string::npos) << error;
}

TEST_F(PackTest, ExistingPayloadIsReplacedOnlyWhenAsked) {
  ASSERT_TRUE(Sign(launcher, dir.Path("signed.exe")));
  for (const std::string& bare : {launcher, dir.Path("signed.exe")}) {
    SCOPED_TRACE(bare);
    MustPack(Append(bare, dir.Path("first.exe"), {Sample("en"), Sample("fail")}));
    PackReport report;
    std::string error;
    PackOptions again = Append(dir.Path("first.exe"), dir.Path("second.exe"), {Sample("de")});
    EXPECT_FALSE(Pack(again, &report, &error));
    EXPECT_NE(error.find("already carries a payload"), std::string::npos) << error;
    EXPECT_NE(error.find("--replace"), std::string::npos) << error;

    again.replace = true;
    report = MustPack(again);
    std::vector<uint8_t> second = ReadBytes(dir.Path("second.exe"));
    MustPack(Append(bare, dir.Path("direct.exe"), {Sample("de")}));
    EXPECT_EQ(second.size(), ReadBytes(dir.Path("direct.exe")).size())
        << "nothing of the old payload is left";
    LoadedPayload loaded = LoadWithLauncherCode(second);
    ASSERT_EQ(loaded.entries.size(), 2u);
    ExpectEntry(loaded.entries[0], 1000, kDeText, SampleFile("de/demo.msi"));
    if (bare != launcher) {
      std::string output;
      EXPECT_TRUE(VerifySignature(dir.Path("second.exe"), &output)) << output;
    }
  }
}

TEST_F(PackTest, LauncherSignedAfterPackingIsRefused) {
  MustPack(Append(launcher, dir.Path("packed.exe"), {Sample("en")}));
  ASSERT_TRUE(Sign(dir.Path("packed.exe"), dir.Path("packed-signed.exe")));
  // The launcher indeed finds nothing: its search from the end meets the signature.
  EXPECT_NE(LoadWithLauncherCode(ReadBytes(dir.Path("packed-signed.exe"))).status.code, 0u);

  for (bool replace : {false, true}) {
    PackOptions options =
        Append(dir.Path("packed-signed.exe"), dir.Path("out.exe"), {Sample("en")});
    options.replace = replace;
    PackReport report;
    std::string error;
    EXPECT_FALSE(Pack(options, &report, &error));
    EXPECT_NE(error.find("signed after it was packed"), std::string::npos) << error;
    EXPECT_FALSE(PathExists(dir.Path("out.exe")));
  }
}

TEST_F(PackTest, EveryFieldCanComeFromTheCommandLine) {
  WriteBytes(dir.Path("data.cab"), {1, 2, 3});
  PackageInput input = Sample("en");
  input.productCode = "{00000000-1111-2222-3333-444444444444}";
  input.productName = "Other Name";
  input.architecture = "X64";
  input.languages = "1033,3081";
  input.cabinets = {dir.Path("data.cab")};
  PackReport report = MustPack(Append(launcher, dir.Path("setup.exe"), {input}));
  LoadedPayload loaded = LoadWithLauncherCode(ReadBytes(dir.Path("setup.exe")));
  ASSERT_EQ(loaded.entries.size(), 2u);
  ExpectEntry(loaded.entries[0], 1000,
              "X64\\1033;3081\\{00000000-1111-2222-3333-444444444444}\\Other Name",
              SampleFile("en/demo.msi"));
  ExpectEntry(loaded.entries[1], 1001, "cab\\1000\\data.cab", dir.Path("data.cab"));
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings[0].find("names cabinet demo.cab, which no --cab gives"),
            std::string::npos)
      << report.warnings[0];
}

bool TemporaryFilesLeft(const std::string& folder) {
  bool found = false;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) found = found || strstr(e->d_name, ".stubpack-");
    closedir(d);
  }
  return found;
}

TEST_F(PackTest, RefusalsLeaveTheOutputAsItWas) {
  WriteBytes(dir.Path("lonely.msi"), ReadBytes(SampleFile("en/demo.msi")));
  WriteBytes(dir.Path("a..cab"), {1});
  WriteBytes(dir.Path("CON.cab"), {1});
  ASSERT_EQ(RunShell("openssl genrsa -out '" + dir.Path("rsa1024.pem") + "' 1024"), 0);
  ASSERT_EQ(RunShell("openssl genrsa -out '" + dir.Path("stranger.pem") + "' 2048"), 0);
  std::vector<uint8_t> pe32 = ReadBytes(launcher);
  pe32[0x80 + 25] = 0x01;  // optional-header magic 0x10B
  WriteBytes(dir.Path("pe32.exe"), pe32);
  std::vector<uint8_t> badTable = ReadBytes(launcher);
  PutU32(&badTable[0x80 + 24 + 144], 0x400);
  PutU32(&badTable[0x80 + 24 + 148], 0x1000);
  WriteBytes(dir.Path("badtable.exe"), badTable);
  WriteBytes(dir.Path("keyless.exe"), MakeTestLauncher({}));
  std::vector<uint8_t> noSection = ReadBytes(launcher);
  noSection[0x80 + 24 + 240 + 40 + 1] = 'X';  // the second section is ".Xsikey"
  WriteBytes(dir.Path("nosection.exe"), noSection);
  WriteBytes(dir.Path("Main.msi"), {1});
  // A package whose Media table names demo.cab and DEMO.CAB, both beside it.
  ASSERT_EQ(RunShell("mkdir '" + dir.Path("cased") + "' && cd '" + dir.Path("cased") +
                     "' && cp '" + SampleFile("en/demo.msi") + "' '" + SampleFile("en/demo.cab") +
                     "' . && cp demo.cab DEMO.CAB && msibuild demo.msi -q \"INSERT INTO Media "
                     "(DiskId, LastSequence, Cabinet) VALUES (2, 3, 'DEMO.CAB')\""),
            0);

  struct Case {
    const char* name;
    std::function<void(PackOptions&)> change;
    const char* reason;
  };
  const Case cases[] = {
      {"missing cabinet", [&](PackOptions& o) { o.packages[0].msi = dir.Path("lonely.msi"); },
       "missing cabinet demo.cab"},
      {"missing package", [&](PackOptions& o) { o.packages[0].msi = dir.Path("none.msi"); },
       "none.msi: no such file"},
      {"not a package", [&](PackOptions& o) { o.packages[0].msi = launcher; },
       "is not a Windows Installer package"},
      {"no package", [](PackOptions& o) { o.packages.clear(); }, "no package"},
      {"unbraced product code",
       [](PackOptions& o) { o.packages[0].productCode = "5970BD6B-642E-4576-98BF-6A9F9555AB0E"; },
       "not a braced GUID"},
      {"backslash in the name", [](PackOptions& o) { o.packages[0].productName = "Demo\\Evil"; },
       "backslash"},
      {"name too long", [](PackOptions& o) { o.packages[0].productName = std::string(256, 'n'); },
       "longer than 255"},
      {"language not a number", [](PackOptions& o) { o.packages[0].languages = "1033;en"; },
       "\"en\""},
      {"cabinet name with ..",
       [&](PackOptions& o) { o.packages[0].cabinets = {dir.Path("a..cab")}; }, "\"..\""},
      {"device name", [&](PackOptions& o) { o.packages[0].cabinets = {dir.Path("CON.cab")}; },
       "reserved device name"},
      {"cabinet named like the package",
       [&](PackOptions& o) { o.packages[0].cabinets = {dir.Path("Main.msi")}; },
       "cabinet name Main.msi is the name the launcher gives the package"},
      {"Media cabinets one name on Windows",
       [&](PackOptions& o) { o.packages[0].msi = dir.Path("cased/demo.msi"); },
       "two cabinets named demo.cab and DEMO.CAB"},
      {"missing cabinet file",
       [&](PackOptions& o) { o.packages[0].cabinets = {dir.Path("no.cab")}; },
       "no.cab: no such file"},
      {"RSA-1024 key", [&](PackOptions& o) { o.key = dir.Path("rsa1024.pem"); }, "not an RSA-2048"},
      {"missing key", [&](PackOptions& o) { o.key = dir.Path("none.pem"); },
       "none.pem: no such file"},
      {"key the launcher does not trust", [&](PackOptions& o) { o.key = dir.Path("stranger.pem"); },
       "would reject this payload"},
      {"PE32 launcher", [&](PackOptions& o) { o.launcher = dir.Path("pe32.exe"); }, "not a PE32+"},
      {"malformed security directory",
       [&](PackOptions& o) { o.launcher = dir.Path("badtable.exe"); },
       "malformed security directory"},
      {"missing launcher", [&](PackOptions& o) { o.launcher = dir.Path("none.exe"); },
       "cannot open"},
      {"certificate and launcher", [&](PackOptions& o) { o.certificateOut = dir.Path("c.der"); },
       "do not go with it"},
      {"launcher without a key", [&](PackOptions& o) { o.launcher = dir.Path("keyless.exe"); },
       "has no key: it would reject this payload. Stamp it first"},
      {"launcher without a key section",
       [&](PackOptions& o) { o.launcher = dir.Path("nosection.exe"); }, "no key section"},
  };
  const std::vector<uint8_t> before = {'o', 'l', 'd'};
  for (const Case& c : cases) {
    WriteBytes(dir.Path("setup.exe"), before);
    PackOptions options = Append(launcher, dir.Path("setup.exe"), {Sample("en")});
    c.change(options);
    PackReport report;
    std::string error;
    EXPECT_FALSE(Pack(options, &report, &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(ReadBytes(dir.Path("setup.exe")), before) << c.name;
    EXPECT_FALSE(PathExists(dir.Path("c.der"))) << c.name;
    EXPECT_FALSE(TemporaryFilesLeft(dir.path)) << c.name;
  }
}

// --replace finds the old payload by the launcher's own walk, which steps over
// a file trailer whose sizes do not fit.
TEST_F(PackTest, ReplaceWalksTheOldChainAsTheLauncherDoes) {
  MustPack(Append(launcher, dir.Path("first.exe"), {Sample("en")}));
  std::vector<uint8_t> first = ReadBytes(dir.Path("first.exe"));
  std::vector<uint8_t> trailer =
      payload_writer::MakeTrailer(FILE_BLOCK_KIND_BYTES, 7, 0x7FFFFFFF, 0);
  first.insert(first.end(), trailer.begin(), trailer.end());
  WriteBytes(dir.Path("first.exe"), first);
  ASSERT_EQ(LoadWithLauncherCode(first).status.code, 0u);

  PackOptions again = Append(dir.Path("first.exe"), dir.Path("second.exe"), {Sample("de")});
  again.replace = true;
  MustPack(again);
  MustPack(Append(launcher, dir.Path("direct.exe"), {Sample("de")}));
  EXPECT_EQ(ReadBytes(dir.Path("second.exe")).size(), ReadBytes(dir.Path("direct.exe")).size());
}

// An unsigned PE32+ header that claims no headers and no sections, followed by
// a trailer whose data reaches back to offset 0: replacing that "payload"
// would keep nothing of the launcher. pack refuses it, and never writes the
// checksum outside what it keeps.
TEST_F(PackTest, ChainReachingIntoTheHeadersIsRefused) {
  const uint32_t optional = 0x80 + 24, sectionTable = optional + 240;
  std::vector<uint8_t> image = MakeTestLauncher({});
  image[0x80 + 6] = 0;               // no sections
  PutU32(&image[optional + 60], 0);  // SizeOfHeaders
  image.resize(sectionTable);
  std::vector<uint8_t> trailer =
      payload_writer::MakeTrailer(MANIFEST_BLOCK_KIND_BYTES, 0, 0, sectionTable);
  image.insert(image.end(), trailer.begin(), trailer.end());
  WriteBytes(dir.Path("crafted.exe"), image);

  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(AttachPayload(image, std::vector<uint8_t>(100, 1), true, &out, &error));
  EXPECT_NE(error.find("reaches back into its headers"), std::string::npos) << error;

  // Without sections it has no key section either, which pack finds first.
  PackOptions options = Append(dir.Path("crafted.exe"), dir.Path("setup.exe"), {Sample("en")});
  options.replace = true;
  PackReport report;
  EXPECT_FALSE(Pack(options, &report, &error));
  EXPECT_NE(error.find("no key section"), std::string::npos) << error;
  EXPECT_FALSE(PathExists(dir.Path("setup.exe")));
}

// The output never takes the place of an input, however it is named.
TEST_F(PackTest, OutputThatIsAnInputIsRefused) {
  ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0700), 0);
  WriteBytes(dir.Path("en.msi"), ReadBytes(SampleFile("en/demo.msi")));
  WriteBytes(dir.Path("demo.cab"), ReadBytes(SampleFile("en/demo.cab")));
  WriteBytes(dir.Path("private.pem"), ReadBytes(DevPrivateKeyPath()));
  ASSERT_EQ(link(dir.Path("private.pem").c_str(), dir.Path("key-link.pem").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path("en.msi").c_str(), dir.Path("msi-link.msi").c_str()), 0);
  const std::string inputs[] = {launcher, dir.Path("en.msi"), dir.Path("demo.cab"),
                                dir.Path("private.pem")};
  std::vector<std::vector<uint8_t>> before;
  for (const std::string& input : inputs) before.push_back(ReadBytes(input));

  struct Case {
    const char* name;
    std::string out;
    bool certificate;
  };
  const Case cases[] = {
      {"the launcher, spelt with ./", dir.path + "/./launcher.exe", false},
      {"a hard link to the key", dir.Path("key-link.pem"), false},
      {"a symbolic link to the package", dir.Path("msi-link.msi"), false},
      {"the cabinet, spelt with ..", dir.Path("sub/../demo.cab"), false},
      {"the package, as the certificate", dir.Path("en.msi"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackageInput input;
    input.msi = dir.Path("en.msi");
    input.cabinets = {dir.Path("demo.cab")};
    PackOptions options = Append(launcher, c.out, {input});
    options.key = dir.Path("private.pem");
    if (c.certificate) {
      options.launcher.clear();
      options.out.clear();
      options.certificateOut = c.out;
    }
    PackReport report;
    std::string error;
    EXPECT_FALSE(Pack(options, &report, &error));
    EXPECT_NE(error.find("is the input"), std::string::npos) << error;
    for (size_t i = 0; i < before.size(); i++) EXPECT_EQ(ReadBytes(inputs[i]), before[i]) << i;
    EXPECT_FALSE(TemporaryFilesLeft(dir.path));
  }
}

TEST_F(PackTest, WarnsAboutPackagesTheLauncherNeverChooses) {
  PackageInput intel = Sample("fail");
  intel.architecture = "Intel";
  PackReport report =
      MustPack(Append(launcher, dir.Path("setup.exe"), {Sample("en"), intel, Sample("fail")}));
  std::string all;
  for (const std::string& w : report.warnings) all += w + "\n";
  EXPECT_NE(all.find("architecture \"Intel\""), std::string::npos) << all;
  // fail.msi (1033, x64) stands behind en/demo.msi (1033, x64).
  EXPECT_NE(all.find("fail.msi: never chosen, because " + SampleFile("en/demo.msi")),
            std::string::npos)
      << all;
}

}  // namespace

namespace {

// A small x64 package built by wixl in dir/name/: product name, external
// cabinet (an empty stand-in file beside it) and minimum installer version as
// given, its summary Template set to `templ`. wixl stores the texts in code
// page 1252 in a string pool that names no code page (code page 0).
std::string WixlPackage(const ScratchDir& dir, const std::string& name,
                        const std::string& productName, const std::string& cabinet,
                        const std::string& templ, int installerVersion = 500) {
  std::string folder = dir.Path(name);
  std::string wxs =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      " <Product Id=\"5A1B2C3D-1111-2222-3333-444455556666\" Name=\"" +
      productName +
      "\" Language=\"1033\" Version=\"1.0.0\" Manufacturer=\"Pub\"\n"
      "          UpgradeCode=\"E45CB14B-52F2-44C2-83BC-2B12DE1F8600\">\n"
      "  <Package InstallerVersion=\"" +
      std::to_string(installerVersion) +
      "\" Compressed=\"yes\" InstallScope=\"perMachine\" />\n"
      "  <Media Id=\"1\" Cabinet=\"" +
      cabinet +
      "\" EmbedCab=\"no\" />\n"
      "  <Directory Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"ProgramFiles64Folder\">\n"
      "   <Directory Id=\"INSTALLDIR\" Name=\"P\">\n"
      "    <Component Id=\"C\" Guid=\"A775305A-64A4-4012-A85F-0DD757690C70\" Win64=\"yes\">\n"
      "     <File Id=\"F\" Name=\"a.txt\" Source=\"a.txt\" KeyPath=\"yes\" />\n"
      "    </Component></Directory></Directory></Directory>\n"
      "  <Feature Id=\"All\" Level=\"1\"><ComponentRef Id=\"C\" /></Feature>\n"
      " </Product>\n"
      "</Wix>\n";
  std::string output;
  EXPECT_EQ(RunShell("mkdir -p '" + folder + "'"), 0);
  WriteBytes(folder + "/p.wxs", std::vector<uint8_t>(wxs.begin(), wxs.end()));
  WriteBytes(folder + "/a.txt", {'a'});
  WriteBytes(folder + "/" + cabinet, {'c'});
  EXPECT_EQ(
      RunShell("cd '" + folder + "' && wixl -a x64 -o p.msi p.wxs && msibuild p.msi -s P Pub '" +
                   templ + "' '{5D35ACE1-442E-41C3-A2FE-0BED35E9A594}'",
               &output),
      0)
      << output;
  return folder + "/p.msi";
}

std::string AllWarnings(const PackReport& report) {
  std::string all;
  for (const std::string& w : report.warnings) all += w + "\n";
  return all;
}

// Western 8-bit text in a pool without a code page is read as a Western
// Windows reads it, the cabinet is found under that name, and pack warns
// that the installing system's code page decides.
TEST_F(PackTest, TextWithoutCodepageIsReadAsWesternAndWarned) {
  std::string msi =
      WixlPackage(dir, "western", "F\u00f6\u00f6bar", "D\u00e4t\u00e4.cab", "x64;1031");
  PackageInput input;
  input.msi = msi;
  PackReport report = MustPack(Append(launcher, dir.Path("setup.exe"), {input}));
  LoadedPayload loaded = LoadWithLauncherCode(ReadBytes(dir.Path("setup.exe")));
  ASSERT_EQ(loaded.entries.size(), 2u);
  ExpectEntry(loaded.entries[0], 1000,
              "x64\\1031\\{5A1B2C3D-1111-2222-3333-444455556666}\\F\u00f6\u00f6bar", msi);
  ExpectEntry(loaded.entries[1], 1001, "cab\\1000\\D\u00e4t\u00e4.cab",
              dir.Path("western/D\u00e4t\u00e4.cab"));
  EXPECT_NE(AllWarnings(report).find("(code page 0) and some are not ASCII"), std::string::npos)
      << AllWarnings(report);

  // UTF-8 text ("\u0441\u041d", D1 81 D0 9D) in a pool without a code page
  // and in one in code page 1252: 0x81 and 0x9D mean nothing in 1252, and
  // read as "?" (libmsi alone would lose the whole name).
  for (const char* codepage : {"", "1252"}) {
    SCOPED_TRACE(codepage);
    std::string utf8 = WixlPackage(dir, std::string("utf8") + codepage, "QQQQ Demo", "data.cab",
                                   "x64;1033");
    std::string output;
    if (*codepage) {
      ASSERT_EQ(RunShell("cd '" + FolderOf(utf8) + "' && printf '\\r\\n\\r\\n" + codepage +
                             "\\t_ForceCodepage\\r\\n' > cp.idt && msibuild p.msi -i cp.idt",
                         &output),
                0)
          << output;
    }
    std::vector<uint8_t> bytes = ReadBytes(utf8);
    const std::string from = "QQQQ Demo", to = "\u0441\u041d Demo";
    auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    ASSERT_NE(at, bytes.end());
    for (; at != bytes.end(); at = std::search(at, bytes.end(), from.begin(), from.end()))
      at = std::copy(to.begin(), to.end(), at);
    WriteBytes(utf8, bytes);
    input.msi = utf8;
    report = MustPack(Append(launcher, dir.Path("setup3.exe"), {input}));
    loaded = LoadWithLauncherCode(ReadBytes(dir.Path("setup3.exe")));
    ASSERT_EQ(loaded.entries.size(), 2u);
    EXPECT_EQ(loaded.entries[0].text,
              "x64\\1033\\{5A1B2C3D-1111-2222-3333-444455556666}\\\u00d1?\u00d0? Demo");
    EXPECT_NE(AllWarnings(report).find("bytes that code page 1252 does not define"),
              std::string::npos)
        << AllWarnings(report);
    RemoveFile(dir.Path("setup3.exe"));
  }

  // ASCII text without a code page reads the same everywhere: no warning.
  input.msi = WixlPackage(dir, "ascii", "Plain", "data.cab", "x64;1031");
  report = MustPack(Append(launcher, dir.Path("setup2.exe"), {input}));
  EXPECT_EQ(AllWarnings(report).find("code page"), std::string::npos) << AllWarnings(report);
}

// No locale matches language 0: such a package goes under 1033, where every
// launcher falls back, unless --languages says otherwise.
TEST_F(PackTest, NeutralLanguageIsListedAs1033) {
  struct Case {
    const char* templ;
    const char* given;
    const char* languages;
    bool said;
  };
  const Case cases[] = {{"x64;0", "", "1033", true},
                        {"x64;1031,0,1033", "", "1031;1033", true},
                        {"x64;0", "1031", "1031", false},
                        {"x64;1031", "", "1031", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.templ);
    PackageInput input;
    input.msi = WixlPackage(dir, "neutral", "Neutral", "data.cab", c.templ);
    input.languages = c.given;
    PackReport report = MustPack(Append(launcher, dir.Path("setup.exe"), {input}));
    LoadedPayload loaded = LoadWithLauncherCode(ReadBytes(dir.Path("setup.exe")));
    ASSERT_EQ(loaded.entries.size(), 2u);
    EXPECT_EQ(loaded.entries[0].text, std::string("x64\\") + c.languages +
                                          "\\{5A1B2C3D-1111-2222-3333-444455556666}\\Neutral");
    EXPECT_EQ(
        AllWarnings(report).find("language 0 (neutral) is listed as 1033") != std::string::npos,
        c.said)
        << AllWarnings(report);
  }
}

// What no launcher can install is refused, and nothing is written: a payload
// without an x64 package, an x64 package that Windows Installer refuses for
// its minimum installer version, a file that is not a package.
TEST_F(PackTest, WhatCannotInstallIsRefused) {
  std::string old = WixlPackage(dir, "old", "Old", "data.cab", "x64;1033", 100);
  std::string fine = WixlPackage(dir, "fine", "Fine", "data.cab", "x64;1033", 200);
  WriteBytes(dir.Path("text.msi"), std::vector<uint8_t>(4096, 'x'));
  PackageInput intel = Sample("en"), x64Old, text, x64Fine;
  intel.architecture = "Intel";
  x64Old.msi = old;
  text.msi = dir.Path("text.msi");
  x64Fine.msi = fine;
  struct Case {
    const char* name;
    std::vector<PackageInput> packages;
    const char* reason;
  };
  const Case cases[] = {
      {"only Intel", {intel}, "no package is for x64"},
      {"installer version 100",
       {Sample("en"), x64Old},
       "minimum installer version (Page Count) 100: Windows Installer refuses it (error 1620)"},
      {"not a package", {text}, "text.msi is not a Windows Installer package"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackReport report;
    std::string error;
    EXPECT_FALSE(Pack(Append(launcher, dir.Path("setup.exe"), c.packages), &report, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_FALSE(PathExists(dir.Path("setup.exe")));
  }
  MustPack(Append(launcher, dir.Path("setup.exe"), {x64Fine, intel}));
}

}  // namespace
