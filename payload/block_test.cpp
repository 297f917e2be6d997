// FindBlock: the walk over the trailers and the decoding of the found block.
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_sign for the hand-made blocks

#include "payload/block.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "base/holders.h"
#include "payload/block_format.h"
#include "payload/verify_signature.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"
#include "testing/status_expectations.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kCompressedSigned = SOURCE_COMPRESSED | SOURCE_SIGNED;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Manifest 0, file 1000, file 1001, in this order.
const Bytes kManifest = Text("manifest content");
const Bytes kFile1000 = Text("the package, main.msi");
const Bytes kFile1001 = Text("its cabinet");
Bytes TypicalRegion() {
  return Cat({SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, kManifest),
              SignedBlock(FILE_BLOCK_KIND_BYTES, 1000, kFile1000),
              SignedBlock(FILE_BLOCK_KIND_BYTES, 1001, kFile1001)});
}

struct Found {
  Status status;
  Bytes content;
};

// Where a region lies: in memory, or in a file read at offsets.
enum class Form { Memory, File };

// Runs FindBlock on region in the given form and checks its promises about
// the outputs: the content on success, null and 0 on failure, and nothing
// else left allocated.
Found FindIn(Form form, const Bytes& region, const GUID& kind, uint32_t id,
             uint32_t flags = kCompressedSigned, VerificationKey key = kDevelopmentKey) {
  PayloadSource source = MemoryRegion(region.data(), static_cast<uint32_t>(region.size()));
  source.flags = flags;
  source.key = key;
  HandlePtr file;
  if (form == Form::File) {
    file.reset(OpenFakeFile(region));
    source = PayloadSource{file.get(), nullptr, source.size, nullptr, 0, flags, key, false};
  }
  uint8_t* content = reinterpret_cast<uint8_t*>(&source);  // must be overwritten
  uint32_t size = 12345;
  const uint32_t live = fake::W().memory.liveAllocations;
  Found found{FindBlock(&source, kind, id, &content, &size), {}};
  if (found.status.code == 0) {
    EXPECT_EQ(fake::W().memory.liveAllocations, live + 1);
    found.content.assign(content, content + size);
    LocalFree(content);
  } else {
    EXPECT_EQ(content, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(fake::W().memory.liveAllocations, live);
  }
  return found;
}

// FindBlock on region in memory, which must find the same in the region read
// from a file.
Found Find(const Bytes& region, const GUID& kind, uint32_t id, uint32_t flags = kCompressedSigned,
           VerificationKey key = kDevelopmentKey) {
  const Found inMemory = FindIn(Form::Memory, region, kind, id, flags, key);
  const Found inFile = FindIn(Form::File, region, kind, id, flags, key);
  EXPECT_STATUS(inFile.status, inMemory.status.code, inMemory.status.location);
  EXPECT_EQ(inFile.content, inMemory.content);
  return inMemory;
}

class FindBlockTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_F(FindBlockTest, FindsEachBlockSteppingOverTheFileBlocksBehindIt) {
  const Bytes region = Cat({Text("anything may stand in front"), TypicalRegion()});
  struct Case {
    const GUID* kind;
    uint32_t id;
    const Bytes* content;
    uint32_t location;
  };
  const Case cases[] = {
      {&MANIFEST_BLOCK_KIND, 0, &kManifest, LOC_MANIFEST_INFLATED},
      {&FILE_BLOCK_KIND, 1000, &kFile1000, LOC_FILE_INFLATED},
      {&FILE_BLOCK_KIND, 1001, &kFile1001, LOC_FILE_INFLATED},
  };
  for (const Case& c : cases) {
    Found found = Find(region, *c.kind, c.id);
    EXPECT_STATUS(found.status, 0, c.location);
    EXPECT_EQ(found.content, *c.content) << c.id;
  }
}

// A block built by hand from the byte layout (zlib's compress2, RSA_sign,
// literal kind bytes), so that the reader is not only checked against the
// writer of this project.
TEST_F(FindBlockTest, ReadsHandMadeBlocks) {
  auto block = [](std::initializer_list<uint8_t> kind, uint32_t id, const Bytes& content) {
    uLongf n = compressBound(content.size());
    Bytes data(n);
    EXPECT_EQ(compress2(data.data(), &n, content.data(), content.size(), 6), Z_OK);
    data.resize(n);
    unsigned char digest[32];
    SHA256(content.data(), content.size(), digest);
    RSA* rsa = EVP_PKEY_get1_RSA(DevelopmentKey());
    Bytes signature(256);
    unsigned int length = 0;
    EXPECT_EQ(RSA_sign(NID_sha256, digest, 32, signature.data(), &length, rsa), 1);
    RSA_free(rsa);
    Bytes trailer(kind);
    for (uint32_t v : {id, 256u, static_cast<uint32_t>(data.size())})
      for (int i = 0; i < 4; i++) trailer.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return Cat({data, signature, trailer});
  };
  const Bytes region = Cat({block({0xf7, 0xbb, 0xd5, 0xee, 0x84, 0x12, 0x19, 0x46, 0x91, 0x8c, 0xf0,
                                   0xcb, 0x8e, 0xe2, 0x8b, 0x55},
                                  0, Text("hand-made manifest")),
                            block({0xd9, 0x8c, 0x24, 0xa1, 0x96, 0xef, 0x6b, 0x43, 0x92, 0xbf, 0xc0,
                                   0x0b, 0xad, 0x72, 0x7e, 0x63},
                                  42, Bytes(100000, 'z'))});
  Found manifest = Find(region, MANIFEST_BLOCK_KIND, 0);
  EXPECT_STATUS(manifest.status, 0, LOC_MANIFEST_INFLATED);
  EXPECT_EQ(manifest.content, Text("hand-made manifest"));
  Found file = Find(region, FILE_BLOCK_KIND, 42);
  EXPECT_STATUS(file.status, 0, LOC_FILE_INFLATED);
  EXPECT_EQ(file.content, Bytes(100000, 'z'));
}

// Every way the walk ends without a block: {1168, 509}.
TEST_F(FindBlockTest, NotFound) {
  const Bytes manifest = SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, kManifest);
  const Bytes file1000 = SignedBlock(FILE_BLOCK_KIND_BYTES, 1000, kFile1000);
  const GUID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  struct Case {
    const char* name;
    Bytes region;
    const GUID* kind;
    uint32_t id;
  };
  const Case cases[] = {
      {"empty region", {}, &MANIFEST_BLOCK_KIND, 0},
      {"27 bytes", Bytes(27, 0), &MANIFEST_BLOCK_KIND, 0},
      {"27 bytes in front of a file block", Cat({Bytes(27, 0), file1000}), &FILE_BLOCK_KIND, 7},
      {"unknown trailer kind", Cat({TypicalRegion(), Bytes(28, 0x30)}), &FILE_BLOCK_KIND, 1000},
      {"file id not in the chain", TypicalRegion(), &FILE_BLOCK_KIND, 7},
      {"file block in front of the manifest", Cat({file1000, manifest}), &FILE_BLOCK_KIND, 1000},
      {"manifest with another id", SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 3, kManifest),
       &MANIFEST_BLOCK_KIND, 0},
      {"manifest id 3 asked, only 0 present", TypicalRegion(), &MANIFEST_BLOCK_KIND, 3},
      {"kind that is neither", TypicalRegion(), &other, 0},
      {"manifest signature larger than the region",
       Cat({Bytes(10, 0), TrailerBytes(MANIFEST_BLOCK_KIND_BYTES, 0, 11, 0)}), &MANIFEST_BLOCK_KIND,
       0},
      {"manifest data larger than the region",
       Cat({Bytes(10, 0), TrailerBytes(MANIFEST_BLOCK_KIND_BYTES, 0, 4, 7)}), &MANIFEST_BLOCK_KIND,
       0},
      {"manifest sizes that would wrap",
       Cat({manifest, TrailerBytes(MANIFEST_BLOCK_KIND_BYTES, 0, 0xFFFFFFFF, 0xFFFFFFFF)}),
       &MANIFEST_BLOCK_KIND, 0},
      {"file trailers only, down to the start",
       Cat({TrailerBytes(FILE_BLOCK_KIND_BYTES, 1, 0, 0),
            TrailerBytes(FILE_BLOCK_KIND_BYTES, 2, 0, 0)}),
       &FILE_BLOCK_KIND, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STATUS(Find(c.region, *c.kind, c.id).status, ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND);
  }
}

// A file trailer whose signature or data would reach past the start of the
// region is not a block: the walk tries the bytes in front of it (or of its
// signature) as the next trailer.
TEST_F(FindBlockTest, FileTrailerThatDoesNotFitIsSkipped) {
  const Bytes chain = TypicalRegion();
  const uint32_t huge = static_cast<uint32_t>(chain.size()) + 1000;
  // Signature larger than everything in front: the walk goes on 28 bytes back.
  Found a =
      Find(Cat({chain, TrailerBytes(FILE_BLOCK_KIND_BYTES, 1000, huge, 0)}), FILE_BLOCK_KIND, 1001);
  EXPECT_STATUS(a.status, 0, LOC_FILE_INFLATED);
  EXPECT_EQ(a.content, kFile1001);
  // Signature fits, data does not: the walk goes on in front of the signature.
  Found b =
      Find(Cat({chain, Bytes(256, 0xEE), TrailerBytes(FILE_BLOCK_KIND_BYTES, 1000, 256, huge)}),
           FILE_BLOCK_KIND, 1000);
  EXPECT_STATUS(b.status, 0, LOC_FILE_INFLATED);
  EXPECT_EQ(b.content, kFile1000);
}

// ForEachBlock delivers the blocks FindBlock meets, in its order, with their
// places; DecodeBlock then gives what FindBlock gives for them.
TEST_F(FindBlockTest, ForEachBlockWalksAsFindBlockSearches) {
  const Bytes manifest = SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, kManifest);
  const Bytes file1000 = SignedBlock(FILE_BLOCK_KIND_BYTES, 1000, kFile1000);
  const Bytes file1001 = SignedBlock(FILE_BLOCK_KIND_BYTES, 1001, kFile1001);
  const Bytes front = Text("front");
  const uint32_t huge = 1u << 30;
  // A file trailer that does not fit stands between 1000 and 1001, and one
  // more ends the region: both are stepped over.
  const Bytes region =
      Cat({front, manifest, file1000, TrailerBytes(FILE_BLOCK_KIND_BYTES, 7, huge, 0), file1001,
           Bytes(256, 0xEE), TrailerBytes(FILE_BLOCK_KIND_BYTES, 8, 256, huge)});
  struct Seen {
    std::vector<BlockPlace> places;
    size_t stopAfter;
  };
  auto collect = [](const BlockPlace* block, void* context) {
    auto* seen = static_cast<Seen*>(context);
    seen->places.push_back(*block);
    return seen->places.size() < seen->stopAfter ? 1 : 0;
  };
  PayloadSource source = MemoryRegion(region.data(), static_cast<uint32_t>(region.size()));
  source.flags = kCompressedSigned;
  source.key = kDevelopmentKey;
  Seen seen{{}, 100};
  EXPECT_STATUS(ForEachBlock(&source, collect, &seen), 0, 0);
  const uint32_t m = static_cast<uint32_t>(front.size());
  const uint32_t f0 = m + static_cast<uint32_t>(manifest.size());
  const uint32_t f1 = f0 + static_cast<uint32_t>(file1000.size()) + 28;
  struct Expected {
    bool manifest;
    uint32_t id, dataPos, blockSize;
  };
  const Expected expected[] = {{false, 1001, f1, static_cast<uint32_t>(file1001.size())},
                               {false, 1000, f0, static_cast<uint32_t>(file1000.size())},
                               {true, 0, m, static_cast<uint32_t>(manifest.size())}};
  ASSERT_EQ(seen.places.size(), 3u);
  for (size_t i = 0; i < 3; i++) {
    const BlockPlace& p = seen.places[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(p.manifest, expected[i].manifest);
    EXPECT_EQ(p.id, expected[i].id);
    EXPECT_EQ(p.dataPos, expected[i].dataPos);
    EXPECT_EQ(p.signatureSize, 256u);
    EXPECT_EQ(p.dataSize + p.signatureSize + 28, expected[i].blockSize);
    uint8_t* content = nullptr;
    uint32_t size = 0;
    Status decoded = DecodeBlock(&source, p, &content, &size);
    Found found = Find(region, p.manifest ? MANIFEST_BLOCK_KIND : FILE_BLOCK_KIND, p.id);
    EXPECT_EQ(decoded.code, found.status.code);
    EXPECT_EQ(decoded.location, found.status.location);
    EXPECT_EQ(Bytes(content, content + size), found.content);
    LocalFree(content);
  }
  // A callback that returns 0 ends the walk.
  Seen first{{}, 1};
  EXPECT_STATUS(ForEachBlock(&source, collect, &first), 0, 0);
  EXPECT_EQ(first.places.size(), 1u);
}

// A region read from a file whose reads can fail (a bad sector, a removed
// drive): the walk stops at a trailer it cannot read with {30, 512}, a block
// that cannot be read fails with {30, 543/683}; what lies behind the bad
// byte is still found.
TEST_F(FindBlockTest, ReadFailuresInAFile) {
  const Bytes manifest = SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, kManifest);
  const Bytes file1000 = SignedBlock(FILE_BLOCK_KIND_BYTES, 1000, kFile1000);
  const Bytes file1001 = SignedBlock(FILE_BLOCK_KIND_BYTES, 1001, kFile1001);
  const Bytes region = Cat({manifest, file1000, file1001});
  const uint64_t trailer1000 = manifest.size() + file1000.size() - 28;
  const uint64_t signature1001 = region.size() - 28 - 1;
  struct Case {
    const char* name;
    uint64_t badByte;
    const GUID* kind;
    uint32_t id;
    uint32_t code;
    uint32_t location;
  };
  const Case cases[] = {
      {"trailer in the middle, manifest", trailer1000 + 27, &MANIFEST_BLOCK_KIND, 0,
       ERROR_READ_FAULT, LOC_TRAILER_READ},
      {"trailer in the middle, its block", trailer1000, &FILE_BLOCK_KIND, 1000, ERROR_READ_FAULT,
       LOC_TRAILER_READ},
      {"trailer in the middle, the block behind it", trailer1000, &FILE_BLOCK_KIND, 1001, 0,
       LOC_FILE_INFLATED},
      {"manifest data", 0, &MANIFEST_BLOCK_KIND, 0, ERROR_READ_FAULT, LOC_MANIFEST_READ},
      {"manifest data, a file block", 0, &FILE_BLOCK_KIND, 1000, 0, LOC_FILE_INFLATED},
      {"file signature", signature1001, &FILE_BLOCK_KIND, 1001, ERROR_READ_FAULT, LOC_FILE_READ},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::W().faults.unreadableByte[fake::Key("C:\\image.exe")] = c.badByte;
    EXPECT_STATUS(FindIn(Form::File, region, *c.kind, c.id).status, c.code, c.location);
  }
}

// Decoding outcomes for manifest and file blocks alike, each in a region
// where the block is the last one.
TEST_F(FindBlockTest, DecodingOutcomes) {
  const Bytes content = Text("decoded content of the block, long enough to compress a bit");
  const Bytes stream = ZlibStream(content);
  const Bytes signature = BlockSignature(DevelopmentKey(), content);
  const Bytes foreign = BlockSignature(StrangerKey(), content);
  const Bytes overStream = BlockSignature(DevelopmentKey(), stream);
  const Bytes overOther = BlockSignature(DevelopmentKey(), Text("another content"));
  Bytes badAdler = stream;
  badAdler.back() ^= 0x01;
  Bytes badHeader = stream;
  badHeader[0] = 0x79;
  Bytes badSignature = signature;
  badSignature[100] ^= 0x20;
  Bytes longSignature = signature;
  longSignature.push_back(0);
  const Bytes shortSignature(signature.begin(), signature.end() - 1);
  const Bytes cutStream(stream.begin(), stream.begin() + stream.size() / 2);
  const Bytes trailing = Cat({stream, Text("bytes after the end of the stream")});

  struct Case {
    const char* name;
    Bytes data;
    Bytes signature;
    uint32_t flags;
    uint32_t code;
    uint32_t manifestLocation;
    uint32_t fileLocation;
  };
  const uint32_t k13 = ERROR_INVALID_DATA, k1392 = ERROR_FILE_CORRUPT;
  const Case cases[] = {
      {"genuine", stream, signature, kCompressedSigned, 0, 547, 687},
      {"bytes after the zlib stream", trailing, signature, kCompressedSigned, 0, 547, 687},
      {"Adler-32 changed", badAdler, signature, kCompressedSigned, k13, 551, 691},
      {"header changed", badHeader, signature, kCompressedSigned, k13, 551, 691},
      {"stream cut at half", cutStream, signature, kCompressedSigned, k13, 551, 691},
      {"signature byte changed", stream, badSignature, kCompressedSigned, k1392, 592, 732},
      {"signed by another key", stream, foreign, kCompressedSigned, k1392, 592, 732},
      {"signed over the compressed bytes", stream, overStream, kCompressedSigned, k1392, 592, 732},
      {"signature of other content", stream, overOther, kCompressedSigned, k1392, 592, 732},
      {"signature one byte short", stream, shortSignature, kCompressedSigned, k1392, 592, 732},
      {"signature one byte long", stream, longSignature, kCompressedSigned, k1392, 592, 732},
      {"no signature", stream, {}, kCompressedSigned, k1392, 592, 732},
      {"not compressed, signed", content, signature, SOURCE_SIGNED, 0, 562, 702},
      {"not compressed, bad signature", content, overStream, SOURCE_SIGNED, k1392, 592, 732},
      {"compressed, not signed", stream, Text("ignored"), SOURCE_COMPRESSED, 0, 547, 687},
      {"neither", content, {}, 0, 0, 562, 702},
  };
  for (const Case& c : cases) {
    for (bool file : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (file ? " (file)" : " (manifest)"));
      const Bytes region =
          Cat({file ? SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, kManifest) : Bytes(),
               RawBlock(file ? FILE_BLOCK_KIND_BYTES : MANIFEST_BLOCK_KIND_BYTES, file ? 5u : 0u,
                        c.data, c.signature)});
      Found found =
          Find(region, file ? FILE_BLOCK_KIND : MANIFEST_BLOCK_KIND, file ? 5 : 0, c.flags);
      EXPECT_STATUS(found.status, c.code, file ? c.fileLocation : c.manifestLocation);
      if (c.code == 0) {
        EXPECT_EQ(found.content, content);
      }
    }
  }
}

// A file block without data carries nothing its signature could cover; in a
// signed source it is refused instead of being returned raw. (Anyone could
// append one behind a genuinely signed payload.)
TEST_F(FindBlockTest, FileBlockWithoutDataIsRefusedInSignedSources) {
  const Bytes twelve = Text("twelve bytes");
  const Bytes region = Cat({TypicalRegion(), RawBlock(FILE_BLOCK_KIND_BYTES, 1000, {}, twelve)});
  struct Case {
    uint32_t flags;
    uint32_t code;
    uint32_t location;
  };
  const Case cases[] = {
      {kCompressedSigned, ERROR_FILE_CORRUPT, LOC_FILE_RAW},
      {SOURCE_SIGNED, ERROR_FILE_CORRUPT, LOC_FILE_RAW},
      {SOURCE_COMPRESSED, ERROR_INVALID_DATA, LOC_FILE_INFLATE_FAILED},  // empty stream
      {0, 0, LOC_FILE_COPIED},                                           // empty content
  };
  for (const Case& c : cases) {
    Found found = Find(region, FILE_BLOCK_KIND, 1000, c.flags);
    EXPECT_STATUS(found.status, c.code, c.location);
    EXPECT_TRUE(found.content.empty());
  }
}

// A key blob that does not decode, or a signed source without key blob:
// 0x80090003 at 599 / 739, nothing returned.
TEST_F(FindBlockTest, UnusableKey) {
  Bytes broken(kDevelopmentKeyBlob, kDevelopmentKeyBlob + 276);
  broken[8] = 'X';  // "RSA1" magic
  const Bytes region = TypicalRegion();
  for (const VerificationKey key : {VerificationKey{broken.data(), 276}, VerificationKey{}}) {
    SCOPED_TRACE(key.blob ? "broken blob" : "no blob");
    EXPECT_STATUS(Find(region, MANIFEST_BLOCK_KIND, 0, kCompressedSigned, key).status, NTE_BAD_KEY,
                  LOC_MANIFEST_BAD_KEY);
    EXPECT_STATUS(Find(region, FILE_BLOCK_KIND, 1001, kCompressedSigned, key).status, NTE_BAD_KEY,
                  LOC_FILE_BAD_KEY);
  }
}

// Without SHA-256 from the system nothing is compared: {8, 596} / {8, 736},
// not a bad signature, and nothing returned.
TEST_F(FindBlockTest, DigestThatCannotBeComputed) {
  const Bytes region = TypicalRegion();
  fake::W().bcrypt.failOpen[u"SHA256"] = STATUS_NOT_FOUND;
  Found manifest = Find(region, MANIFEST_BLOCK_KIND, 0);
  Found file = Find(region, FILE_BLOCK_KIND, 1001);
  EXPECT_STATUS(manifest.status, ERROR_NOT_ENOUGH_MEMORY, LOC_MANIFEST_NO_DIGEST);
  EXPECT_STATUS(file.status, ERROR_NOT_ENOUGH_MEMORY, LOC_FILE_NO_DIGEST);
}

// Allocation failure at every allocation a successful decode makes: inside
// the decompression it is a decoding failure (13), for a copy LE/8.
TEST_F(FindBlockTest, AllocationFailures) {
  // Enough output for several growths of the output buffer.
  Bytes big(300000);
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<uint8_t>(i * 7 / 1000);
  const Bytes region = Cat(
      {SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, big), SignedBlock(FILE_BLOCK_KIND_BYTES, 9, big)});
  const Bytes plain =
      Cat({RawBlock(MANIFEST_BLOCK_KIND_BYTES, 0, big, BlockSignature(DevelopmentKey(), big)),
           RawBlock(FILE_BLOCK_KIND_BYTES, 9, big, BlockSignature(DevelopmentKey(), big))});
  struct Case {
    const char* name;
    Form form;
    const Bytes* region;
    uint32_t flags;
    bool file;
    std::vector<uint32_t> locations;  // of the failures, in allocation order
  };
  const Case cases[] = {
      {"manifest inflate", Form::Memory, &region, kCompressedSigned, false, {551}},
      {"file inflate", Form::Memory, &region, kCompressedSigned, true, {691}},
      {"manifest copy", Form::Memory, &plain, SOURCE_SIGNED, false, {566}},
      {"file copy", Form::Memory, &plain, SOURCE_SIGNED, true, {706}},
      // From a file, the block is read into a buffer of its own first.
      {"manifest read, inflate", Form::File, &region, kCompressedSigned, false, {541, 551}},
      {"file read, copy", Form::File, &plain, SOURCE_SIGNED, true, {681, 706}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const GUID& kind = c.file ? FILE_BLOCK_KIND : MANIFEST_BLOCK_KIND;
    const uint32_t id = c.file ? 9 : 0;
    const std::vector<uint32_t> locations = AllocationFailureLocations(
        [&] { return FindIn(c.form, *c.region, kind, id, c.flags).status; }, [] {},
        c.file ? LOC_FILE_INFLATE_FAILED : LOC_MANIFEST_INFLATE_FAILED);
    EXPECT_EQ(locations, c.locations);
  }
}

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Inflated content is decoded into a buffer that starts small and doubles:
// sizes around its first capacity (4 KiB) and its doublings, content that
// fills the buffer exactly when the stream ends, compressible or not, in
// memory and in a file.
TEST_F(FindBlockTest, ContentOfEverySizeAroundTheBufferGrowth) {
  for (size_t size : {0, 1, 4095, 4096, 4097, 16384, 70000, 300001}) {
    for (bool noise : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (noise ? " noise" : " repeated"));
      const Bytes content =
          noise ? Noise(size, static_cast<uint32_t>(size)) : Bytes(size, 'a' + size % 26);
      for (bool manifest : {true, false}) {
        const Bytes region = SignedBlock(
            manifest ? MANIFEST_BLOCK_KIND_BYTES : FILE_BLOCK_KIND_BYTES, 3, content);
        if (!manifest && size == 0) continue;  // not a file block the writer makes
        Found found = Find(region, manifest ? MANIFEST_BLOCK_KIND : FILE_BLOCK_KIND, 3);
        EXPECT_STATUS(found.status, 0, manifest ? LOC_MANIFEST_INFLATED : LOC_FILE_INFLATED);
        EXPECT_TRUE(found.content == content);
      }
    }
  }
}

// Streams that zlib refuses whatever their signature: {13, 551/691}.
TEST_F(FindBlockTest, StreamsZlibRefuses) {
  const Bytes content = Noise(4000, 7);
  const Bytes stream = ZlibStream(content);
  // A stream made with a preset dictionary asks for it (Z_NEED_DICT).
  Bytes withDictionary(200);
  {
    z_stream z = {};
    deflateInit(&z, 9);
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>("dictionary"), 10);
    z.next_in = const_cast<Bytef*>(content.data());
    z.avail_in = 100;
    z.next_out = withDictionary.data();
    z.avail_out = static_cast<uInt>(withDictionary.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    withDictionary.resize(z.total_out);
    deflateEnd(&z);
  }
  const Bytes signature = BlockSignature(DevelopmentKey(), content);
  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {
      {"cut before the Adler-32", Bytes(stream.begin(), stream.end() - 4)},
      {"raw deflate", Bytes(stream.begin() + 2, stream.end() - 4)},
      {"preset dictionary", withDictionary},
  };
  for (const Case& c : cases) {
    for (bool file : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (file ? " (file)" : " (manifest)"));
      const Bytes region =
          Cat({file ? SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, kManifest) : Bytes(),
               RawBlock(file ? FILE_BLOCK_KIND_BYTES : MANIFEST_BLOCK_KIND_BYTES, 0, c.data,
                        signature)});
      EXPECT_STATUS(Find(region, file ? FILE_BLOCK_KIND : MANIFEST_BLOCK_KIND, 0).status,
                    ERROR_INVALID_DATA, file ? LOC_FILE_INFLATE_FAILED : LOC_MANIFEST_INFLATE_FAILED);
    }
  }
}

// A large, highly compressible manifest (1 MiB of zeros from about 1 KB):
// the buffer grows geometrically, in a handful of allocations, and what the
// decoding holds at its peak stays within twice the content.
TEST_F(FindBlockTest, LargeManifestInFewAllocations) {
  const Bytes zeros(1 << 20, 0);
  const Bytes region = SignedBlock(MANIFEST_BLOCK_KIND_BYTES, 0, zeros);
  ASSERT_LT(region.size(), 1600u);
  for (Form form : {Form::Memory, Form::File}) {
    SCOPED_TRACE(form == Form::File ? "file" : "memory");
    fake::Reset();
    Found found = FindIn(form, region, MANIFEST_BLOCK_KIND, 0);
    EXPECT_STATUS(found.status, 0, LOC_MANIFEST_INFLATED);
    EXPECT_TRUE(found.content == zeros);
    EXPECT_LE(fake::W().memory.allocationCalls, 20u);
    EXPECT_LE(fake::W().memory.peakLiveBytes, 2 * zeros.size() + 64 * 1024);
  }
}

// The returned buffer holds the content and no more: content that hardly
// compresses, decoded into a buffer that starts at four times its data, is
// not held at several times its size.
TEST_F(FindBlockTest, ReturnedBufferIsTrimmedToTheContent) {
  const Bytes content = Noise(3 << 20, 5);
  const Bytes region = SignedBlock(FILE_BLOCK_KIND_BYTES, 1, content);
  for (Form form : {Form::Memory, Form::File}) {
    SCOPED_TRACE(form == Form::File ? "file" : "memory");
    PayloadSource source = MemoryRegion(region.data(), static_cast<uint32_t>(region.size()));
    source.flags = kCompressedSigned;
    source.key = kDevelopmentKey;
    HandlePtr file;
    if (form == Form::File) {
      file.reset(OpenFakeFile(region));
      source.file = file.get();
      source.data = nullptr;
    }
    const uint64_t before = fake::W().memory.liveBytes;
    uint8_t* decoded = nullptr;
    uint32_t size = 0;
    EXPECT_STATUS(FindBlock(&source, FILE_BLOCK_KIND, 1, &decoded, &size), 0, LOC_FILE_INFLATED);
    EXPECT_EQ(fake::W().memory.liveBytes - before, content.size());
    EXPECT_TRUE(Bytes(decoded, decoded + size) == content);
    LocalFree(decoded);
  }
}

}  // namespace
