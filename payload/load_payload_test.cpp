// LoadPayloadSources: the payload sources of a launcher image.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/holders.h"
#include "payload/sources.h"
#include "payload/verify_signature.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"
#include "testing/signed_image.h"
#include "testing/status_expectations.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

const std::vector<TestEntry> kEntries = {{1000, "x64\\1033\\{P}\\Product", Text("package")},
                                         {1001, "cab\\1000\\main.cab", Text("cabinet")}};

// Where the image lies: in memory (tools), or in a file read at offsets (the
// launcher's own file).
enum class Form { Memory, File };

const char* kImagePath = "C:\\Users\\Ann\\Downloads\\setup.exe";

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    Free();
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_EQ(fake::W().crypt.openMessages, 0);
  }
  Status Load(const Bytes& image, Form form) {
    Free();
    PayloadSource region = {};
    if (form == Form::Memory) {
      // An exactly sized heap copy, so that AddressSanitizer sees any read
      // past it; the whole-file source borrows it until Free.
      memory_.reset(new uint8_t[image.size()]);
      std::copy(image.begin(), image.end(), memory_.get());
      region = MemoryRegion(memory_.get(), static_cast<uint32_t>(image.size()));
    } else {
      file_.reset(OpenFakeFile(image, kImagePath));
      region.file = file_.get();
      region.size = static_cast<uint32_t>(image.size());
    }
    return LoadPayloadSources(&region, kDevelopmentKey, &sources_);
  }
  void Free() {
    FreePayloadSources(&sources_);
    file_.reset();
    memory_.reset();
  }

  PayloadSources sources_ = {};
  std::unique_ptr<uint8_t[]> memory_;
  HandlePtr file_;
};

// What holds for an image in memory and for the same image in a file.
class LoadPayloadSourcesTest : public LoadTest, public ::testing::WithParamInterface<Form> {
 protected:
  Status Load(const Bytes& image) { return LoadTest::Load(image, GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Forms, LoadPayloadSourcesTest,
                         ::testing::Values(Form::Memory, Form::File),
                         [](const ::testing::TestParamInfo<Form>& info) {
                           return info.param == Form::Memory ? "InMemory" : "InFile";
                         });

// Without a payload in the certificates, the whole file is the one source,
// read where it lies (no copy); its manifest is the decoded manifest block.
TEST_P(LoadPayloadSourcesTest, WholeFileSource) {
  const Bytes payload = MakePayload(kEntries);
  const Bytes manifest =
      Cat(ManifestEntry(1000, kEntries[0].text), ManifestEntry(1001, kEntries[1].text));
  struct Case {
    const char* name;
    Bytes image;
  };
  const Case cases[] = {
      {"unsigned PE image, payload appended", MakePeImage({}, payload)},
      {"signed, payload after the SignedData in the certificate table",
       MakePeImage(MakeSignedData({{}}), payload)},
      {"signed, private extension only critical",
       MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, true, MakePayload({})}}}), payload)},
      {"not a PE file", Cat(Text("just bytes"), payload)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STATUS(Load(c.image), 0, LOC_MANIFEST_INFLATED);
    ASSERT_EQ(sources_.count, 1u);
    const PayloadSource& source = sources_.items[0];
    EXPECT_EQ(source.size, c.image.size());
    EXPECT_FALSE(source.ownsData);
    if (GetParam() == Form::Memory) {
      EXPECT_EQ(source.data, memory_.get());
      EXPECT_EQ(source.file, nullptr);
    } else {
      EXPECT_EQ(source.file, file_.get());
      EXPECT_EQ(source.data, nullptr);
    }
    EXPECT_EQ(Bytes(source.manifest, source.manifest + source.manifestSize), manifest);
    EXPECT_EQ(source.flags, SOURCE_COMPRESSED | SOURCE_SIGNED);
    EXPECT_EQ(source.key.blob, kDevelopmentKeyBlob);  // checks its file blocks too
  }
}

// Sources in the certificates take the place of the whole file; each owns a
// copy of its extension value.
TEST_P(LoadPayloadSourcesTest, CertificateSourcesAreUsedInsteadOfTheWholeFile) {
  const Bytes inExtension = MakePayload({{7, "in the extension", Text("x")}});
  const Bytes image = MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, inExtension}}}),
                                  MakePayload(kEntries));
  EXPECT_STATUS(Load(image), 0, LOC_MANIFEST_INFLATED);
  ASSERT_EQ(sources_.count, 1u);
  EXPECT_EQ(
      Bytes(sources_.items[0].data, sources_.items[0].data + sources_.items[0].size),
      inExtension);
  EXPECT_TRUE(sources_.items[0].ownsData);
  EXPECT_EQ(sources_.items[0].file, nullptr);
}

// A failing certificate scan stops the loading: no fallback to the whole
// file, even when the whole file carries a good payload.
TEST_P(LoadPayloadSourcesTest, CertificateFailureIsFinal) {
  const Bytes good = MakePayload(kEntries);
  Bytes image = MakePeImage(MakeSignedData({{}}), good);
  image[CertificateTableOffset(image) + 8] ^= 0xFF;  // the SignedData's first tag
  EXPECT_EQ(Load(image).location, 837u);
  EXPECT_EQ(sources_.count, 0u);

  const Bytes withJunk =
      MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, Text("junk")}}}), good);
  EXPECT_STATUS(Load(withJunk), ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND);
  EXPECT_EQ(sources_.count, 0u);
}

TEST_P(LoadPayloadSourcesTest, WholeFileFailures) {
  Bytes manifestOnly = MakePayload({});
  manifestOnly[manifestOnly.size() - 28 - 1] ^= 1;  // a byte of the manifest's signature
  const Bytes tampered = MakePeImage({}, manifestOnly);
  struct Case {
    const char* name;
    Bytes image;
    uint32_t code;
    uint32_t location;
  };
  const Case cases[] = {
      {"no payload", MakePeImage({}, {}), ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND},
      {"empty file", {}, ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND},
      {"manifest signature changed", tampered, ERROR_FILE_CORRUPT, LOC_MANIFEST_BAD_SIGNATURE},
      {"payload signed by another key",
       MakePeImage({}, MakePayload({{1000, "x", Text("y")}}, StrangerKey())), ERROR_FILE_CORRUPT,
       LOC_MANIFEST_BAD_SIGNATURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STATUS(Load(c.image), c.code, c.location);
    EXPECT_EQ(sources_.count, 0u);
  }
}

// Allocation failure at each allocation of a whole-file load: from a file,
// the manifest block read into memory (541); inside the manifest's
// decompression (13 at 551); the source list (2001). Nothing else is
// allocated: the file is not copied.
TEST_P(LoadPayloadSourcesTest, AllocationFailures) {
  const Bytes image = MakePeImage({}, MakePayload(kEntries));
  const std::vector<uint32_t> locations = AllocationFailureLocations(
      [&] {
        const Status status = Load(image);
        if (status.code) {
          EXPECT_EQ(sources_.count, 0u);  // nothing half-added
        }
        return status;
      },
      [&] { Free(); },
      LOC_MANIFEST_INFLATE_FAILED);
  std::vector<uint32_t> expected = {LOC_MANIFEST_INFLATE_FAILED, LOC_IMAGE_SOURCE_APPEND};
  if (GetParam() == Form::File) expected.insert(expected.begin(), LOC_MANIFEST_READ_NO_MEMORY);
  EXPECT_EQ(locations, expected);
}

// A second source goes behind the first, which the grown list keeps.
TEST_P(LoadPayloadSourcesTest, AppendGrowsTheListByOne) {
  const Bytes image =
      MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, MakePayload({{1, "one", {}}})}},
                                  {{PAYLOAD_EXTENSION_OID, false, MakePayload({{2, "two", {}}})}}}),
                  {});
  EXPECT_STATUS(Load(image), 0, LOC_MANIFEST_INFLATED);
  ASSERT_EQ(sources_.count, 2u);
  EXPECT_EQ(sources_.items[0].manifest[0], 1);
  EXPECT_EQ(sources_.items[1].manifest[0], 2);
}

// Bytes no compressor can shrink: a payload of about that size.
Bytes Incompressible(size_t size) {
  std::mt19937 random(7);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// The own file is read where it lies: loading holds the headers, the PKCS#7
// data and the manifest, never the file or its appended payload, whether the
// payload follows an unsigned image or the PKCS#7 data in the certificate
// table.
TEST_F(LoadTest, LoadingAFileHoldsNoCopyOfIt) {
  const Bytes payload = MakePayload(
      {{1000, "x64\\1033\\{P}\\Product", Incompressible(3u << 20)}, kEntries[1]});
  struct Case {
    const char* name;
    Bytes image;
  };
  const Case cases[] = {
      {"unsigned, payload appended", MakePeImage({}, payload)},
      {"signed, payload after the PKCS#7 data", MakePeImage(MakeSignedData({{}}), payload)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t before = fake::W().memory.liveBytes;
    fake::W().memory.peakLiveBytes = before;
    EXPECT_STATUS(Load(c.image, Form::File), 0, LOC_MANIFEST_INFLATED);
    ASSERT_EQ(sources_.count, 1u);
    const uint64_t held = fake::W().memory.peakLiveBytes - before;
    EXPECT_LT(held, c.image.size() / 4);
    EXPECT_LT(held, 64u * 1024);  // in truth: a few KiB of signature, a manifest
  }
}

// A payload in a certificate extension is held once, in its source: the
// PKCS#7 data and the certificate it came in are let go once the decoder and
// the certificate context hold their own copies.
TEST_F(LoadTest, ExtensionPayloadIsHeldOnce) {
  const Bytes inExtension = MakePayload({{7, "in the extension", Incompressible(1u << 20)}});
  const Bytes image = MakePeImage(
      MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, inExtension}}}), MakePayload(kEntries));
  const uint64_t before = fake::W().memory.liveBytes;
  fake::W().memory.peakLiveBytes = before;
  EXPECT_STATUS(Load(image, Form::File), 0, LOC_MANIFEST_INFLATED);
  ASSERT_EQ(sources_.count, 1u);
  EXPECT_EQ(sources_.items[0].size, inExtension.size());
  EXPECT_LT(fake::W().memory.peakLiveBytes - before, inExtension.size() + 64 * 1024);
}

// A read of the own file that fails (a bad sector, a removed drive, a
// dropped share) ends the loading with its own location and no source; a
// bad byte in what loading never reads changes nothing.
TEST_F(LoadTest, ReadFailuresOfTheOwnFile) {
  const Bytes payload = MakePayload(kEntries);
  const Bytes signedData = MakeSignedData({{}});
  const Bytes image = MakePeImage(signedData, payload);
  const uint32_t table = CertificateTableOffset(image);
  const uint32_t chain = static_cast<uint32_t>(image.size() - payload.size());
  // The blocks: manifest, 1000, 1001, each followed by its trailer.
  const uint32_t trailer1001 = static_cast<uint32_t>(image.size()) - 28;
  const uint32_t block1001 = trailer1001 - 256 - GetU32(image, trailer1001 + 24);
  const uint32_t trailer1000 = block1001 - 28;
  struct Case {
    const char* name;
    uint64_t badByte;
    uint32_t code;
    uint32_t location;
  };
  const Case cases[] = {
      {"DOS header", 60, ERROR_READ_FAULT, LOC_IMAGE_READ},
      {"PE headers", kSecurityDirectoryField, ERROR_READ_FAULT, LOC_IMAGE_READ},
      {"certificate entry header", table, ERROR_READ_FAULT, LOC_IMAGE_READ},
      {"outer tag of the PKCS#7 data", table + 8, ERROR_READ_FAULT, LOC_IMAGE_READ},
      {"inside the PKCS#7 data", table + 8 + 100, ERROR_READ_FAULT, LOC_PKCS7_READ},
      {"trailer in the middle of the chain", trailer1000 + 3, ERROR_READ_FAULT,
       LOC_TRAILER_READ},
      {"manifest block", chain + 1, ERROR_READ_FAULT, LOC_MANIFEST_READ},
      {"file block data", block1001 + 1, 0, LOC_MANIFEST_INFLATED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::W().faults.unreadableByte[fake::Key(kImagePath)] = c.badByte;
    EXPECT_STATUS(Load(image, Form::File), c.code, c.location);
    EXPECT_EQ(sources_.count, c.code ? 0u : 1u);
  }
}

}  // namespace
