// InflateBlock: one zlib stream fed in step-sized slices into a growing buffer.
#include "payload/inflate_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "testing/signed_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Inflated {
  int result;
  Bytes content;
};

// Runs InflateBlock on an exactly sized heap copy of data (so that a read past
// its end is caught) and checks the outputs and the allocations it leaves.
Inflated Inflate(const Bytes& data) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size() + 1]);
  std::copy(data.begin(), data.end(), copy.get());
  uint8_t* content = copy.get();  // must be overwritten
  uint32_t size = 999;
  const uint32_t live = fake::W().memory.liveAllocations;
  Inflated out{InflateBlock(&content, &size, copy.get(), static_cast<uint32_t>(data.size())), {}};
  if (out.result == Z_OK) {
    EXPECT_EQ(fake::W().memory.liveAllocations, live + 1);
    // Decoded files stay in memory until the installer has run: the block
    // holds the content and nothing more.
    EXPECT_EQ(fake::AllocationSize(content), size ? size : 1u);
    out.content.assign(content, content + size);
    LocalFree(content);
  } else {
    EXPECT_EQ(content, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(fake::W().memory.liveAllocations, live);
  }
  return out;
}

Bytes Pseudorandom(size_t size, uint32_t seed) {
  Bytes out(size);
  for (uint8_t& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 23);
  }
  return out;
}

class InflateBlockTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

// Input sizes on both sides of 256 and 2048, where the step changes from 256
// to dataSize / 8 and is smaller than 256 in between, with output that is a
// multiple of the step or not, compressible or not.
TEST_F(InflateBlockTest, RoundTripsAcrossStepSizes) {
  for (size_t size : {0, 1, 255, 256, 257, 1000, 2047, 2048, 5000, 70000}) {
    for (uint32_t kind = 0; kind < 2; kind++) {
      Bytes content = kind ? Pseudorandom(size, static_cast<uint32_t>(size))
                           : Bytes(size, static_cast<uint8_t>('a' + size % 26));
      Bytes stream = ZlibStream(content);
      Inflated out = Inflate(stream);
      EXPECT_EQ(out.result, Z_OK) << size << " " << kind << " stream " << stream.size();
      EXPECT_EQ(out.content, content) << size << " " << kind;
    }
  }
}

// About 1 KB of input for 1 MiB of output: every slice of about 130 bytes
// makes many output steps. The buffer must still grow geometrically, in a
// logarithmic number of allocations, not one per step.
TEST_F(InflateBlockTest, OneMebibyteOfZerosFromAboutOneKilobyte) {
  const Bytes zeros(1 << 20, 0);
  const Bytes stream = ZlibStream(zeros);
  ASSERT_LT(stream.size(), 1200u);
  ASSERT_GE(stream.size(), 256u);
  Inflated out = Inflate(stream);
  EXPECT_EQ(out.result, Z_OK);
  EXPECT_EQ(out.content, zeros);
  EXPECT_LE(fake::W().memory.allocationCalls, 20u);
}

TEST_F(InflateBlockTest, BadStreams) {
  const Bytes content = Pseudorandom(4000, 7);
  const Bytes stream = ZlibStream(content);
  Bytes badCheck = stream;
  badCheck.back() ^= 1;
  Bytes badMethod = stream;
  badMethod[0] = 0x7F;  // not deflate, header check fails

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

  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {
      {"empty input", {}},
      {"cut at half", Bytes(stream.begin(), stream.begin() + stream.size() / 2)},
      {"cut before the Adler-32", Bytes(stream.begin(), stream.end() - 4)},
      {"Adler-32 changed", badCheck},
      {"header changed", badMethod},
      {"raw deflate", Bytes(stream.begin() + 2, stream.end() - 4)},
      {"preset dictionary", withDictionary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Inflate(c.data).result, Z_DATA_ERROR);
  }
}

TEST_F(InflateBlockTest, BytesAfterTheStreamAreIgnored) {
  const Bytes content = Pseudorandom(3000, 3);
  Bytes data = ZlibStream(content);
  data.insert(data.end(), 5000, 0xAB);
  Inflated out = Inflate(data);
  EXPECT_EQ(out.result, Z_OK);
  EXPECT_EQ(out.content, content);
}

// Out of memory at the first allocation and at each later growth: -4 with
// the outputs cleared and nothing left allocated.
TEST_F(InflateBlockTest, AllocationFailureAtEachGrowth) {
  const Bytes stream = ZlibStream(Bytes(1 << 20, 0));
  Inflate(stream);
  const uint32_t calls = fake::W().memory.allocationCalls;
  ASSERT_GE(calls, 5u);
  for (uint32_t n = 1; n <= calls; n++) {
    fake::Reset();
    fake::W().memory.failAllocations = {n};
    EXPECT_EQ(Inflate(stream).result, Z_MEM_ERROR) << n;
  }
}

TEST_F(InflateBlockTest, IncompressibleContentIsNotHeldTwice) {
  // Cabinets hardly compress: the step is an eighth of the output, so the
  // doubling capacity ends at twice the content unless it is trimmed.
  const Bytes content = Pseudorandom(3 << 20, 7);
  Inflated out = Inflate(ZlibStream(content));
  EXPECT_EQ(out.result, Z_OK);
  EXPECT_EQ(out.content, content);
}

}  // namespace
