// LoadCertificateSources: payloads in a private extension of the certificates
// carried by the image's Authenticode signature.
#include "payload/certificate_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/sources.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_image.h"
#include "testing/status_expectations.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A payload whose manifest is exactly the text of its one entry, as UTF-16.
Bytes Payload(const std::string& name) { return MakePayload({{1000, name, Text(name)}}); }

TestExtension Private(const Bytes& value, bool critical = false) {
  return {PAYLOAD_EXTENSION_OID, critical, value};
}
const TestExtension kBasicConstraints = {"2.5.29.19", true, {0x30, 0x00}};

// The manifest of a source decoded back to its entry text.
std::string EntryText(const PayloadSource& source) {
  std::string text;
  for (uint32_t i = 8; i + 1 < source.manifestSize && source.manifest[i]; i += 2)
    text.push_back(static_cast<char>(source.manifest[i]));
  return text;
}

class CertificateSourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    Free();
    fake::W().crypt.lastUpdateSize = 0xFFFFFFFF;
  }
  // Whatever happened, every decoder and certificate was closed, and freeing
  // the sources leaves nothing allocated.
  void TearDown() override {
    EXPECT_EQ(fake::W().crypt.openMessages, 0);
    EXPECT_EQ(fake::W().crypt.openCertificates, 0);
    Free();
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
  }

  Status Scan(const Bytes& image) {
    // An exactly sized heap copy, so that AddressSanitizer sees any read past it.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[image.size()]);
    std::copy(image.begin(), image.end(), copy.get());
    const PayloadSource region = MemoryRegion(copy.get(), static_cast<uint32_t>(image.size()));
    return LoadCertificateSources(&region, kDevelopmentKey, &sources_);
  }
  void Free() { FreePayloadSources(&sources_); }

  std::vector<std::string> Sources() {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < sources_.count; i++) {
      EXPECT_EQ(sources_.items[i].flags, SOURCE_COMPRESSED | SOURCE_SIGNED);
      out.push_back(EntryText(sources_.items[i]));
    }
    return out;
  }

  PayloadSources sources_ = {};
};

// Images the scan does not look into: {0, 789}, no decoder opened.
TEST_F(CertificateSourcesTest, NotASignedPe32PlusImage) {
  const Bytes signedImage = MakePeImage(MakeSignedData({{Private(Payload("A"))}}), {});
  struct Case {
    const char* name;
    void (*change)(Bytes* image);
  };
  const Case cases[] = {
      {"63 bytes", [](Bytes* i) { i->resize(63); }},
      {"no MZ", [](Bytes* i) { (*i)[1] = 'X'; }},
      {"e_lfanew negative", [](Bytes* i) { PutU32(i, 60, 0x80000000u); }},
      {"e_lfanew too far for the optional header",
       [](Bytes* i) { PutU32(i, 60, static_cast<uint32_t>(i->size()) - 263); }},
      {"headers cut short", [](Bytes* i) { i->resize(kPeHeaderOffset + 263); }},
      {"no PE signature", [](Bytes* i) { (*i)[kPeHeaderOffset + 2] = 1; }},
      {"PE32 magic", [](Bytes* i) { (*i)[kPeHeaderOffset + 25] = 0x01; }},
      {"security directory below 8 bytes",
       [](Bytes* i) { PutU32(i, kSecurityDirectoryField + 4, 7); }},
      {"security directory one byte beyond the image",
       [](Bytes* i) {
         PutU32(i, kSecurityDirectoryField + 4, GetU32(*i, kSecurityDirectoryField + 4) + 1);
       }},
      {"directory offset and size wrap",
       [](Bytes* i) { PutU32(i, kSecurityDirectoryField, 0xFFFFFFF8u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = signedImage;
    c.change(&image);
    EXPECT_STATUS(Scan(image), 0, LOC_NO_CERTIFICATE_PAYLOAD);
    EXPECT_EQ(sources_.count, 0u);
    EXPECT_EQ(fake::W().crypt.lastUpdateSize, 0xFFFFFFFFu);  // never fed
  }
  // The unchanged image does load: the cases above fail for their own reason.
  EXPECT_STATUS(Scan(signedImage), 0, LOC_MANIFEST_INFLATED);
}

TEST_F(CertificateSourcesTest, SourcesFromPrivateExtensions) {
  struct Case {
    const char* name;
    std::vector<std::vector<TestExtension>> certificates;
    uint32_t code;
    uint32_t location;
    std::vector<std::string> sources;
  };
  const Bytes a = Payload("A"), b = Payload("B"), c = Payload("C");
  const Case cases[] = {
      {"no extension at all", {{}}, 0, 789, {}},
      {"other extensions only", {{kBasicConstraints}, {}}, 0, 789, {}},
      {"one certificate, one payload", {{kBasicConstraints, Private(a)}}, 0, 547, {"A"}},
      {"critical private extension is ignored", {{Private(a, true)}}, 0, 789, {}},
      {"critical ignored, non-critical taken", {{Private(a, true), Private(b)}}, 0, 547, {"B"}},
      {"two certificates, in certificate order", {{Private(b)}, {Private(a)}}, 0, 547, {"B", "A"}},
      {"payload in the second certificate only", {{}, {Private(c)}}, 0, 547, {"C"}},
      {"two payloads in one certificate", {{Private(a), Private(c)}}, 0, 547, {"A", "C"}},
      {"value without a manifest block", {{Private(Text("no blocks here"))}}, 1168, 509, {}},
      {"empty value", {{Private({})}}, 1168, 509, {}},
      // The first failure ends the scan; sources found before it stay.
      {"failure after a source",
       {{Private(a)}, {Private(Text("junk")), Private(b)}},
       1168,
       509,
       {"A"}},
      {"failure ends the extension loop", {{Private(Text("junk")), Private(a)}}, 1168, 509, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Free();
    EXPECT_STATUS(Scan(MakePeImage(MakeSignedData(c.certificates), {})), c.code, c.location);
    EXPECT_EQ(Sources(), c.sources);
  }
}

// A tampered payload in an extension: the manifest block's own status.
TEST_F(CertificateSourcesTest, TamperedExtensionPayload) {
  Bytes payload = MakePayload({});         // the manifest block alone
  payload[payload.size() - 28 - 10] ^= 1;  // a byte of its signature
  EXPECT_STATUS(Scan(MakePeImage(MakeSignedData({{Private(payload)}}), {})), ERROR_FILE_CORRUPT,
                LOC_MANIFEST_BAD_SIGNATURE);
  EXPECT_EQ(sources_.count, 0u);
}

// The WIN_CERTIFICATE length is untrusted: the decoder gets only bytes inside
// the security directory, and none when the length is below 8. Of those, it
// gets the DER element its outer length spans, when that fits.
TEST_F(CertificateSourcesTest, CertificateLengthNeverReachesOutsideTheDirectory) {
  const Bytes signedData = MakeSignedData({{Private(Payload("A"))}});
  const Bytes image = MakePeImage(signedData, {});
  const uint32_t table = CertificateTableOffset(image);
  const uint32_t directorySize = static_cast<uint32_t>(image.size()) - table;
  struct Case {
    uint32_t length;
    uint32_t fed;
    uint32_t code;
    uint32_t location;
  };
  const uint32_t derSize = static_cast<uint32_t>(signedData.size());
  const Case cases[] = {
      {0, 0, 0, 837},
      {7, 0, 0, 837},
      {8, 0, 0, 837},
      {8 + derSize - 1, derSize - 1, 0, 837},  // DER cut short
      {8 + derSize, derSize, 0, 547},
      {directorySize + 1, derSize, 0, 547},
      {0xFFFFFFFF, derSize, 0, 547},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    Free();
    Bytes tampered = image;
    PutU32(&tampered, table, c.length);
    Status status = Scan(tampered);
    EXPECT_EQ(fake::W().crypt.lastUpdateSize, c.fed);
    if (c.location == 837) {
      EXPECT_NE(status.code, 0u);  // the decoder's last error
      EXPECT_EQ(status.location, 837u);
    } else {
      EXPECT_STATUS(status, 0, c.location);
    }
  }
  // A directory that ends inside the DER: the decoder sees only what is inside.
  Bytes cut = image;
  PutU32(&cut, kSecurityDirectoryField + 4, 8 + derSize / 2);
  EXPECT_EQ(Scan(cut).location, 837u);
  EXPECT_EQ(fake::W().crypt.lastUpdateSize, derSize / 2);
}

// The appended-payload layout: the bytes after the DER SignedData inside the
// certificate entry are never handed to the decoder.
TEST_F(CertificateSourcesTest, BytesAfterTheSignedDataAreIgnored) {
  const Bytes signedData = MakeSignedData({{kBasicConstraints}, {Private(Payload("C"))}});
  const Bytes image = MakePeImage(signedData, Payload("W"));
  EXPECT_STATUS(Scan(image), 0, LOC_MANIFEST_INFLATED);
  EXPECT_EQ(Sources(), std::vector<std::string>{"C"});
  EXPECT_EQ(fake::W().crypt.lastUpdateSize, signedData.size());
}

// An outer length that does not give the element's end (indefinite, more
// length octets than a 32-bit size holds, running past the data, the length
// octets cut off) or another outer tag: the decoder is fed all of the data,
// as the entry's length gives it, and decides on it. A long form with
// leading zero octets still spans the element.
TEST_F(CertificateSourcesTest, OuterLengthThatDoesNotSpanTheElement) {
  const Bytes signedData = MakeSignedData({{Private(Payload("A"))}});
  ASSERT_EQ(signedData[0], 0x30);
  ASSERT_EQ(signedData[1], 0x82);  // two length octets
  const uint32_t content = uint32_t{signedData[2]} << 8 | signedData[3];
  const Bytes appended = Payload("W");
  const Bytes image = MakePeImage(signedData, appended);
  const uint32_t table = CertificateTableOffset(image);
  const uint32_t available = static_cast<uint32_t>(image.size()) - table - 8;
  struct Case {
    const char* name;
    Bytes outer;  // replaces the tag and the two-octet length form
    uint32_t entryLength;  // 0: unchanged
    uint32_t fed;
  };
  const Bytes three = {0x30, 0x83, 0x00};  // one octet more: the element moves by one
  const Case cases[] = {
      {"indefinite", {0x30, 0x80, 0x00, 0x00}, 0, available},
      {"five length octets", {0x30, 0x85, 0x00, 0x00}, 0, available},
      {"past the data", {0x30, 0x82, 0xFF, 0xFF}, 0, available},
      {"another tag", {0x31, 0x82, signedData[2], signedData[3]}, 0, available},
      {"length octets cut off by the entry", {0x30, 0x82, signedData[2], signedData[3]}, 8 + 3,
       3},
      {"short form", {0x30, 0x10, signedData[2], signedData[3]}, 0, 2 + 0x10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Free();
    Bytes changed = image;
    std::copy(c.outer.begin(), c.outer.end(), changed.begin() + table + 8);
    if (c.entryLength) PutU32(&changed, table, c.entryLength);
    Scan(changed);
    EXPECT_EQ(fake::W().crypt.lastUpdateSize, c.fed);
  }
  // Three length octets with a leading zero: the same element, one byte on.
  Free();
  Bytes longer = signedData;
  longer.insert(longer.begin() + 2, 0x00);
  longer[1] = 0x83;
  EXPECT_EQ(uint32_t{longer[3]} << 8 | longer[4], content);
  Scan(MakePeImage(longer, appended));
  EXPECT_EQ(fake::W().crypt.lastUpdateSize, longer.size());
}

TEST_F(CertificateSourcesTest, DataThatIsNotSignedDataIsRejected) {
  Bytes image = MakePeImage(MakeSignedData({{Private(Payload("A"))}}), {});
  image[CertificateTableOffset(image) + 8] = 0x04;  // an OCTET STRING, not a ContentInfo
  Status status = Scan(image);
  EXPECT_EQ(status.location, 837u);
  EXPECT_EQ(status.code, 0x8009310Bu);  // CRYPT_E_ASN1_BADTAG, the decoder's last error
}

// Each failure point of the crypt services, with the decoder's last error and
// with none (then the default code, E_INVALIDARG).
TEST_F(CertificateSourcesTest, CryptFailures) {
  const Bytes image =
      MakePeImage(MakeSignedData({{Private(Payload("A"))}, {Private(Payload("B"))}}), {});
  struct Case {
    const char* name;
    void (*arrange)(DWORD error);
    uint32_t location;
    std::vector<std::string> sources;
  };
  const Case cases[] = {
      {"open", [](DWORD e) { fake::W().crypt.failOpen = e; }, 831, {}},
      {"update", [](DWORD e) { fake::W().crypt.failUpdate = e; }, 837, {}},
      {"count", [](DWORD e) { fake::W().crypt.failCount = e; }, 846, {}},
      {"size", [](DWORD e) { fake::W().crypt.failSize[0] = e; }, 937, {}},
      {"fetch", [](DWORD e) { fake::W().crypt.failFetch[0] = e; }, 924, {}},
      {"parse", [](DWORD e) { fake::W().crypt.failParse[0] = e; }, 919, {}},
      {"size of the second", [](DWORD e) { fake::W().crypt.failSize[1] = e; }, 937, {"A"}},
      {"fetch of the second", [](DWORD e) { fake::W().crypt.failFetch[1] = e; }, 924, {"A"}},
      {"parse of the second", [](DWORD e) { fake::W().crypt.failParse[1] = e; }, 919, {"A"}},
  };
  for (const Case& c : cases) {
    for (DWORD error : {DWORD{0x80092004}, DWORD{0}}) {
      SCOPED_TRACE(std::string(c.name) + (error ? " with last error" : " without"));
      Free();
      fake::Reset();
      c.arrange(error);
      EXPECT_STATUS(Scan(image), error ? error : static_cast<uint32_t>(E_INVALIDARG), c.location);
      EXPECT_EQ(Sources(), c.sources);
    }
  }
}

// Allocation failure at each allocation of a scan that finds one source: the
// PKCS#7 data (833), the certificate buffer (932), the value copy (907),
// inside the manifest's decompression (13 at 551) and the source list (892).
TEST_F(CertificateSourcesTest, AllocationFailures) {
  const Bytes image = MakePeImage(MakeSignedData({{Private(Payload("A"))}}), {});
  const std::vector<uint32_t> locations = AllocationFailureLocations(
      [&] {
        const Status status = Scan(image);
        if (status.code) {
          EXPECT_EQ(sources_.count, 0u);  // nothing half-added
        }
        return status;
      },
      [&] { Free(); },
      LOC_MANIFEST_INFLATE_FAILED);
  EXPECT_EQ(locations,
            (std::vector<uint32_t>{LOC_PKCS7_NO_MEMORY, LOC_CERT_NO_MEMORY, LOC_EXTENSION_COPY,
                                   LOC_MANIFEST_INFLATE_FAILED, LOC_CERT_SOURCE_APPEND}));
}

}  // namespace
