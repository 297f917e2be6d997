// The streaming decoder of file blocks: slices, signatures, memory, faults.
#include "payload/block_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/fake/fake_files.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

struct Decoded {
  Status status{0, 0};
  Bytes content;
  uint32_t slices = 0;
  bool ended = false;
};

class BlockStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  // A source holding region, in memory or (onDisk) in a file of the fake
  // that the stream reads at offsets.
  PayloadSource Source(const Bytes& region, bool onDisk, uint32_t flags = 3) {
    region_ = region;
    PayloadSource source = {nullptr, nullptr, static_cast<uint32_t>(region.size()), nullptr, 0,
                            flags, kDevelopmentKey};
    if (onDisk) {
      fake::AddFolder("C:\\p");
      fake::AddFile("C:\\p\\setup.exe", region);
      file_ = CreateFileA("C:\\p\\setup.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_NE(file_, INVALID_HANDLE_VALUE);
      source.file = file_;
    } else {
      memory_ = region;
      source.data = memory_.data();
    }
    return source;
  }
  void TearDown() override {
    if (file_) CloseHandle(file_);
  }

  // Where block id lies in region (found in memory, whichever form the
  // stream then reads).
  BlockPlace Place(uint32_t id) {
    PayloadSource inMemory = {nullptr, region_.data(), static_cast<uint32_t>(region_.size()),
                              nullptr, 0, 3, kDevelopmentKey};
    BlockPlace place = {};
    EXPECT_EQ(FindBlockPlace(&inMemory, FILE_BLOCK_KIND, id, &place).code, 0u);
    return place;
  }

  // Decodes block id of source slice by slice until it ends or fails.
  Decoded Decode(const PayloadSource& source, uint32_t id) {
    Decoded out;
    const BlockPlace place = Place(id);
    BlockStream stream;
    out.status = OpenBlockStream(&stream, &source, place);
    while (out.status.code == 0 && !out.ended) {
      const uint8_t* slice = nullptr;
      uint32_t size = 0;
      out.status = ReadBlockSlice(&stream, &slice, &size, &out.ended);
      EXPECT_LE(size, static_cast<uint32_t>(BLOCK_CONTENT_SLICE));
      if (out.status.code == 0) out.content.insert(out.content.end(), slice, slice + size);
      out.slices++;
    }
    CloseBlockStream(&stream);
    CloseBlockStream(&stream);  // a second close does nothing
    ExpectNothingLeft();
    return out;
  }

  // Whichever way the stream ended, its hashing worker has ended with it:
  // no thread running, no thread handle or hash open.
  static void ExpectNothingLeft() {
    EXPECT_EQ(fake::RunningThreads(), 0);
    EXPECT_EQ(fake::W().threads.openHandles, 0);
    EXPECT_EQ(fake::W().bcrypt.openHashes, 0);
  }

  HANDLE file_ = nullptr;
  Bytes memory_;
  Bytes region_;
};

// Content of every shape comes out whole, from memory and from the file,
// in slices no larger than the bound; the status names the decoding.
TEST_F(BlockStreamTest, ContentComesOutWhole) {
  const std::vector<Bytes> contents = {Bytes(), Bytes(1, 7), Noise(BLOCK_CONTENT_SLICE, 1),
                                       Noise(3 * BLOCK_CONTENT_SLICE + 5, 2),
                                       Bytes(5 * BLOCK_CONTENT_SLICE, 0)};
  for (bool onDisk : {false, true}) {
    for (const Bytes& content : contents) {
      SCOPED_TRACE(testing::Message() << content.size() << (onDisk ? " on disk" : " in memory"));
      fake::Reset();
      Bytes region = Noise(100, 9);
      Bytes block = SignedBlock(FILE_BLOCK_KIND_BYTES, 1000, content);
      region.insert(region.end(), block.begin(), block.end());
      Decoded d = Decode(Source(region, onDisk), 1000);
      EXPECT_EQ(d.status.code, 0u);
      EXPECT_EQ(d.status.location, static_cast<uint32_t>(LOC_FILE_INFLATED));
      EXPECT_TRUE(d.ended);
      EXPECT_TRUE(d.content == content);
      if (file_) CloseHandle(file_);
      file_ = nullptr;
    }
  }
}

// Whatever the block's size, the stream holds the same bounded memory: its
// buffers and zlib's state, all from LocalAlloc, and none of it afterwards.
TEST_F(BlockStreamTest, MemoryDoesNotGrowWithTheBlock) {
  uint64_t peaks[2] = {};
  const size_t sizes[2] = {256 * 1024, 8 * 1024 * 1024};
  for (int i = 0; i < 2; i++) {
    fake::Reset();
    Bytes region = SignedBlock(FILE_BLOCK_KIND_BYTES, 1, Noise(sizes[i], 3));
    PayloadSource source = Source(region, true);
    const uint64_t before = fake::W().memory.liveBytes;
    fake::W().memory.peakLiveBytes = before;
    Decoded d = Decode(source, 1);
    ASSERT_EQ(d.status.code, 0u);
    EXPECT_EQ(fake::W().memory.liveBytes, before);
    peaks[i] = fake::W().memory.peakLiveBytes - before;
    CloseHandle(file_);
    file_ = nullptr;
  }
  EXPECT_EQ(peaks[0], peaks[1]);
  // The hashing worker's content slices, used in turn, a read slice and
  // zlib's state: under 1 MiB whatever the block's size.
  EXPECT_LT(peaks[1], 1024u * 1024);
}

// Every way a block can be bad ends the stream with the status of its kind,
// also when the damage is in the last slice, after content was handed out.
TEST_F(BlockStreamTest, DamagedBlocksFail) {
  const Bytes content = Noise(3 * BLOCK_CONTENT_SLICE, 4);
  const Bytes data = ZlibStream(content);
  const Bytes signature = BlockSignature(DevelopmentKey(), content);
  Bytes lastByte = data;
  lastByte[lastByte.size() - 1] ^= 1;  // the stream's checksum
  Bytes changed = content;
  changed.back() ^= 1;
  Bytes cut(data.begin(), data.end() - 10);
  struct Case {
    const char* what;
    Bytes block;
    uint32_t code, location;
    bool contentBefore;  // slices came out before the failure
  } cases[] = {
      {"checksum in the last byte", RawBlock(FILE_BLOCK_KIND_BYTES, 1, lastByte, signature), 13,
       LOC_FILE_INFLATE_FAILED, true},
      {"content not the signed one", RawBlock(FILE_BLOCK_KIND_BYTES, 1, ZlibStream(changed), signature),
       1392, LOC_FILE_BAD_SIGNATURE, true},
      {"stranger's signature",
       RawBlock(FILE_BLOCK_KIND_BYTES, 1, data, BlockSignature(StrangerKey(), content)), 1392,
       LOC_FILE_BAD_SIGNATURE, true},
      {"signature over the compressed bytes",
       RawBlock(FILE_BLOCK_KIND_BYTES, 1, data, BlockSignature(DevelopmentKey(), data)), 1392,
       LOC_FILE_BAD_SIGNATURE, true},
      {"stream cut short", RawBlock(FILE_BLOCK_KIND_BYTES, 1, cut, signature), 13,
       LOC_FILE_INFLATE_FAILED, true},
      {"not zlib", RawBlock(FILE_BLOCK_KIND_BYTES, 1, Noise(5000, 5), signature), 13,
       LOC_FILE_INFLATE_FAILED, false},
      {"no data", RawBlock(FILE_BLOCK_KIND_BYTES, 1, {}, signature), 1392, LOC_FILE_RAW, false},
  };
  for (bool onDisk : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (onDisk ? " on disk" : " in memory"));
      fake::Reset();
      const uint32_t live = fake::W().memory.liveAllocations;
      Decoded d = Decode(Source(c.block, onDisk), 1);
      EXPECT_EQ(d.status.code, c.code);
      EXPECT_EQ(d.status.location, c.location);
      EXPECT_FALSE(d.ended);
      EXPECT_EQ(!d.content.empty(), c.contentBefore);
      if (file_) CloseHandle(file_);
      file_ = nullptr;
      EXPECT_EQ(fake::W().memory.liveAllocations, live);
    }
  }
}

// A file that cannot be read in the middle of the block, or its signature
// beyond the end of what can be read, is a read fault, never a bad block.
TEST_F(BlockStreamTest, ReadFailures) {
  Bytes region = SignedBlock(FILE_BLOCK_KIND_BYTES, 1, Noise(BLOCK_READ_SLICE * 3, 6));
  PayloadSource source = Source(region, true);
  const BlockPlace place = Place(1);
  BlockStream stream;
  ASSERT_EQ(OpenBlockStream(&stream, &source, place).code, 0u);
  const uint8_t* slice;
  uint32_t size;
  bool ended;
  fake::W().faults.unreadableFiles.insert(fake::Key("C:\\p\\setup.exe"));
  Status status = ReadBlockSlice(&stream, &slice, &size, &ended);
  EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_READ_FAULT));
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_FILE_READ));
  EXPECT_EQ(fake::W().threads.created, 1u);
  CloseBlockStream(&stream);
  ExpectNothingLeft();
}

// A signed block read slice by slice is hashed by one worker thread; the
// worker is stopped cleanly when the reader gives up in the middle (the
// user cancelled), when it cannot hash, and when it cannot start.
TEST_F(BlockStreamTest, HashingWorkerEndsOnEveryPath) {
  const Bytes content = Noise(8 * BLOCK_CONTENT_SLICE, 11);
  Bytes region = SignedBlock(FILE_BLOCK_KIND_BYTES, 1, content);
  for (bool onDisk : {false, true}) {
    SCOPED_TRACE(onDisk ? "on disk" : "in memory");
    fake::Reset();
    PayloadSource source = Source(region, onDisk);
    const BlockPlace place = Place(1);
    const uint32_t live = fake::W().memory.liveAllocations;
    const uint8_t* slice;
    uint32_t size;
    bool ended = false;

    // Given up after three slices, the worker possibly still hashing.
    BlockStream stream;
    ASSERT_EQ(OpenBlockStream(&stream, &source, place).code, 0u);
    EXPECT_EQ(fake::W().threads.created, 1u);
    for (int i = 0; i < 3; i++)
      ASSERT_EQ(ReadBlockSlice(&stream, &slice, &size, &ended).code, 0u);
    CloseBlockStream(&stream);
    ExpectNothingLeft();

    // The system fails to hash the third slice: the reader learns it at
    // the latest when the block ends, and nothing is verified.
    fake::W().bcrypt.failHashData = {{fake::W().bcrypt.hashDataCalls + 2, STATUS_NO_MEMORY}};
    Decoded d = Decode(source, 1);
    EXPECT_EQ(d.status.code, 8u);
    EXPECT_EQ(d.status.location, static_cast<uint32_t>(LOC_FILE_NO_DIGEST));
    EXPECT_FALSE(d.ended);
    fake::W().bcrypt.failHashData.clear();

    // No thread to be had: the block fails as for want of memory.
    fake::W().threads.failCreate = ERROR_NOT_ENOUGH_MEMORY;
    BlockStream refused;
    Status status = OpenBlockStream(&refused, &source, place);
    EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_FILE_STREAM_NO_MEMORY));
    CloseBlockStream(&refused);
    ExpectNothingLeft();
    fake::W().threads.failCreate.reset();
    if (file_) CloseHandle(file_);
    file_ = nullptr;
    EXPECT_EQ(fake::W().memory.liveAllocations, live);
  }

  // A block without a signature has nothing to hash, and no worker.
  fake::Reset();
  const uint32_t created = fake::W().threads.created;
  Decoded plain = Decode(Source(RawBlock(FILE_BLOCK_KIND_BYTES, 1, content, {}), true, 0), 1);
  EXPECT_EQ(plain.status.code, 0u);
  EXPECT_EQ(fake::W().threads.created, created);
}

// The worker is held on the first slice while the main thread goes on: the
// main thread must wait for it before it fills that slice's buffer again,
// or the block is hashed over content it never had and fails to verify.
TEST_F(BlockStreamTest, SliceIsNotRefilledWhileTheWorkerHashesIt) {
  const Bytes content = Noise(6 * BLOCK_CONTENT_SLICE + 9, 12);
  struct Case {
    const char* what;
    Bytes region;
    uint32_t flags;
    bool onDisk;
  } cases[] = {
      {"inflated, in memory", SignedBlock(FILE_BLOCK_KIND_BYTES, 1, content), 3, false},
      {"inflated, on disk", SignedBlock(FILE_BLOCK_KIND_BYTES, 1, content), 3, true},
      {"stored, on disk",
       RawBlock(FILE_BLOCK_KIND_BYTES, 1, content, BlockSignature(DevelopmentKey(), content)),
       SOURCE_SIGNED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::Reset();
    fake::W().bcrypt.pauseHashDataMs = {{fake::W().bcrypt.hashDataCalls, 300}};
    Decoded d = Decode(Source(c.region, c.onDisk, c.flags), 1);
    EXPECT_EQ(d.status.code, 0u);
    EXPECT_TRUE(d.ended);
    EXPECT_TRUE(d.content == content);
    if (file_) CloseHandle(file_);
    file_ = nullptr;
  }
}

// Sources that are neither compressed nor signed hand the data out as it is.
TEST_F(BlockStreamTest, PlainSourceCopies) {
  const Bytes content = Noise(BLOCK_CONTENT_SLICE + 3, 7);
  Bytes region = RawBlock(FILE_BLOCK_KIND_BYTES, 1, content, {});
  Decoded d = Decode(Source(region, true, 0), 1);
  EXPECT_EQ(d.status.code, 0u);
  EXPECT_EQ(d.status.location, static_cast<uint32_t>(LOC_FILE_COPIED));
  EXPECT_EQ(d.slices, 2u);
  EXPECT_TRUE(d.content == content);
}

// Allocation failures and a digest that cannot start leave nothing behind.
TEST_F(BlockStreamTest, OpenFailures) {
  Bytes region = SignedBlock(FILE_BLOCK_KIND_BYTES, 1, Noise(1000, 8));
  PayloadSource source = Source(region, false);
  const BlockPlace place = Place(1);
  for (uint32_t failing : {1u, 2u}) {
    SCOPED_TRACE(failing);
    const uint32_t live = fake::W().memory.liveAllocations;
    fake::W().memory.failAllocations = {fake::W().memory.allocationCalls + failing};
    BlockStream stream;
    Status status = OpenBlockStream(&stream, &source, place);
    if (failing == 1) {
      EXPECT_EQ(status.code, 8u);
      EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_FILE_STREAM_NO_MEMORY));
    } else {
      EXPECT_EQ(status.code, 13u);  // zlib's state
      EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_FILE_INFLATE_FAILED));
    }
    CloseBlockStream(&stream);
    EXPECT_EQ(fake::W().memory.liveAllocations, live);
  }
}

}  // namespace
