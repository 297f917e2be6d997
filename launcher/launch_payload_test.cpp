// The launcher loading its own payload: what a whole run makes of payloads
// that load and of payloads that do not.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "launcher/launch.h"
#include "payload/key_section.h"
#include "payload/verify_signature.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

const std::vector<TestEntry> kEntries = {{1000, "x64\\1033\\{P}\\Product", Text("package")},
                                         {1001, "cab\\1000\\main.cab", Text("cabinet")}};

const char* kText101 =
    "The installation file is either corrupted or does not support your processor architecture.";

class LaunchPayloadTest : public ::testing::Test {
 protected:
  // The name the launcher's own file is stored under.
  static std::string OwnFile() {
    return fake::NameOnDisk(fake::Utf16(*fake::W().system.modulePath));
  }
  void SetUp() override {
    fake::Reset();
    fake::W().texts.strings[101] = kText101;
    fake::W().system.commandLine = u"setup.exe";
  }
  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }
  int Run(const Bytes& payload, VerificationKey key = kDevelopmentKey) {
    InstallFakeLauncher(payload);
    return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, key);
  }
  void ExpectText101() {
    ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
    EXPECT_EQ(fake::W().ui.messageBoxes[0].text, kText101);
  }
};

// A genuine payload loads; its only package is for another architecture, so
// the launcher stops at the package selection (13), not at the loading.
TEST_F(LaunchPayloadTest, GenuinePayloadGetsToPackageSelection) {
  EXPECT_EQ(Run(MakePayload({{1000, "arm64\\1033\\{P}\\Product", Text("package")}})), 13);
  ExpectText101();
}

// Payloads that do not load: text 101, the loading status's code as exit code.
TEST_F(LaunchPayloadTest, PayloadsThatDoNotLoad) {
  Bytes changed = MakePayload({});
  changed[changed.size() - 28 - 1] ^= 1;  // manifest signature
  Bytes broken(kDevelopmentKeyBlob, kDevelopmentKeyBlob + 276);
  broken[0] = 0;
  struct Case {
    const char* name;
    Bytes payload;
    VerificationKey key;
    uint32_t code;
  };
  const VerificationKey brokenKey = {broken.data(), static_cast<uint32_t>(broken.size())};
  // What launcher.exe reads from a key section that holds no key.
  uint8_t section[KEY_SECTION_SIZE], blob[KEY_BLOB_SIZE];
  FillKeySection(section, nullptr);
  const VerificationKey noKey = ReadKeySection(section, blob);
  const Case cases[] = {
      {"no payload", {}, kDevelopmentKey, ERROR_NOT_FOUND},
      {"manifest signature changed", changed, kDevelopmentKey, ERROR_FILE_CORRUPT},
      {"unusable key", MakePayload(kEntries), brokenKey, static_cast<uint32_t>(NTE_BAD_KEY)},
      {"no key in the key section", MakePayload(kEntries), noKey,
       static_cast<uint32_t>(NTE_BAD_KEY)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    EXPECT_EQ(static_cast<uint32_t>(Run(c.payload, c.key)), c.code);
    ExpectText101();
  }
}

// The own file is read where it lies: a whole run over a payload of a few
// MiB, which stops at the package selection (its one package is for another
// architecture), holds far less than the file at any time.
TEST_F(LaunchPayloadTest, LoadingHoldsNoCopyOfTheOwnFile) {
  std::mt19937 random(11);
  Bytes incompressible(4u << 20);
  for (uint8_t& b : incompressible) b = static_cast<uint8_t>(random());
  InstallFakeLauncher(MakePayload({{1000, "arm64\\1033\\{P}\\Product", incompressible}}));
  const size_t fileSize = fake::FileData(OwnFile()).size();
  const uint64_t before = fake::W().memory.liveBytes;
  fake::W().memory.peakLiveBytes = before;
  EXPECT_EQ(RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, kDevelopmentKey), 13);
  EXPECT_LT(fake::W().memory.peakLiveBytes - before, fileSize / 4);
}

// A read of the own file that fails in the middle of the block chain (a bad
// sector, a removed drive) stops the run as a payload that does not load:
// ERROR_READ_FAULT, text 101.
TEST_F(LaunchPayloadTest, ReadFailureInTheChain) {
  const Bytes payload = MakePayload(kEntries);
  InstallFakeLauncher(payload);
  const Bytes file = fake::FileData(OwnFile());
  // The trailer of the last block but one: file block 1000.
  const uint32_t last = static_cast<uint32_t>(file.size()) - 28;
  const uint32_t lastBlock = last - 256 - GetU32(file, last + 24);
  fake::W().faults.unreadableByte[fake::Key(OwnFile())] = lastBlock - 1;
  EXPECT_EQ(RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, kDevelopmentKey),
            ERROR_READ_FAULT);
  ExpectText101();
}

}  // namespace
