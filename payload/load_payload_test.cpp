// LoadPayloadSources: the payload sources of a launcher image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/sources.h"
#include "payload/verify_signature.h"
#include "platform/fake/fake.h"
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

class LoadPayloadSourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    Free();
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_EQ(fake::W().crypt.openMessages, 0);
  }
  Status Load(const Bytes& image) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[image.size()]);
    std::copy(image.begin(), image.end(), copy.get());
    return LoadPayloadSources(copy.get(), static_cast<uint32_t>(image.size()),
                              kCompiledVerificationKey, &sources_);
  }
  void Free() { FreePayloadSources(&sources_); }

  PayloadSources sources_ = {};
};

// Without a payload in the certificates, the whole file is the one source;
// its manifest is the decoded manifest block.
TEST_F(LoadPayloadSourcesTest, WholeFileSource) {
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
    Free();
    EXPECT_STATUS(Load(c.image), 0, LOC_MANIFEST_INFLATED);
    ASSERT_EQ(sources_.count, 1u);
    const PayloadSource& source = sources_.items[0];
    EXPECT_EQ(Bytes(source.data, source.data + source.size), c.image);
    EXPECT_EQ(Bytes(source.manifest, source.manifest + source.manifestSize), manifest);
    EXPECT_EQ(source.flags, SOURCE_COMPRESSED | SOURCE_SIGNED);
    EXPECT_EQ(source.key.blob, kVerificationKeyBlob);  // checks its file blocks too
  }
}

// Sources in the certificates take the place of the whole file.
TEST_F(LoadPayloadSourcesTest, CertificateSourcesAreUsedInsteadOfTheWholeFile) {
  const Bytes inExtension = MakePayload({{7, "in the extension", Text("x")}});
  const Bytes image = MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, inExtension}}}),
                                  MakePayload(kEntries));
  EXPECT_STATUS(Load(image), 0, LOC_MANIFEST_INFLATED);
  ASSERT_EQ(sources_.count, 1u);
  EXPECT_EQ(
      Bytes(sources_.items[0].data, sources_.items[0].data + sources_.items[0].size),
      inExtension);
}

// A failing certificate scan stops the loading: no fallback to the whole
// file, even when the whole file carries a good payload.
TEST_F(LoadPayloadSourcesTest, CertificateFailureIsFinal) {
  const Bytes good = MakePayload(kEntries);
  Bytes image = MakePeImage(MakeSignedData({{}}), good);
  image[CertificateTableOffset(image) + 8] ^= 0xFF;  // the SignedData's first tag
  EXPECT_EQ(Load(image).location, 837u);
  EXPECT_EQ(sources_.count, 0u);

  Free();
  const Bytes withJunk =
      MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, Text("junk")}}}), good);
  EXPECT_STATUS(Load(withJunk), ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND);
  EXPECT_EQ(sources_.count, 0u);
}

TEST_F(LoadPayloadSourcesTest, WholeFileFailures) {
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
    Free();
    EXPECT_STATUS(Load(c.image), c.code, c.location);
    EXPECT_EQ(sources_.count, 0u);
  }
}

// Allocation failure at each allocation of a whole-file load: the copy
// (2016), inside the manifest's decompression (13 at 551), the source list
// (2001).
TEST_F(LoadPayloadSourcesTest, AllocationFailures) {
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
  EXPECT_EQ(locations, (std::vector<uint32_t>{LOC_IMAGE_COPY, LOC_MANIFEST_INFLATE_FAILED,
                                              LOC_IMAGE_SOURCE_APPEND}));
}

// A second source goes behind the first, which the grown list keeps.
TEST_F(LoadPayloadSourcesTest, AppendGrowsTheListByOne) {
  const Bytes image =
      MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, MakePayload({{1, "one", {}}})}},
                                  {{PAYLOAD_EXTENSION_OID, false, MakePayload({{2, "two", {}}})}}}),
                  {});
  EXPECT_STATUS(Load(image), 0, LOC_MANIFEST_INFLATED);
  ASSERT_EQ(sources_.count, 2u);
  EXPECT_EQ(sources_.items[0].manifest[0], 1);
  EXPECT_EQ(sources_.items[1].manifest[0], 2);
}

}  // namespace
