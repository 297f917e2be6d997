#include "manifest/manifest_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "testing/manifest_builder.h"

namespace {

using manifest_test::AppendRawEntry;
using manifest_test::ManifestBytes;
using manifest_test::Sources;
using manifest_test::Utf16Bytes;

typedef std::tuple<uint32_t, uint32_t, std::string> Seen;  // source, key, text

struct Recorder {
  std::vector<Seen> seen;
  size_t stopAfter = SIZE_MAX;  // return 0 once this many entries were seen
};

int Record(uint32_t sourceIndex, uint32_t key, const char* text, void* context) {
  auto* recorder = static_cast<Recorder*>(context);
  recorder->seen.emplace_back(sourceIndex, key, text);
  return recorder->seen.size() < recorder->stopAfter ? 1 : 0;
}

class ManifestWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { EXPECT_EQ(fake::W().memory.liveAllocations, 0u); }

  bool Walk(const std::vector<std::vector<uint8_t>>& manifests, Recorder& recorder) {
    Sources sources = Sources::OfManifests(manifests);
    return ForEachManifestEntry(sources.list(), Record, &recorder);
  }
};

TEST_F(ManifestWalkTest, DeliversEntriesInSourceThenManifestOrder) {
  Recorder recorder;
  EXPECT_TRUE(Walk({ManifestBytes({{1000, "x64\\1033\\{P}\\Product"}, {1001, "cab\\1000\\main.cab"}}),
                    {},  // a source without manifest is skipped
                    ManifestBytes({{7, "second source"}})},
                   recorder));
  EXPECT_EQ(recorder.seen, (std::vector<Seen>{Seen{0, 1000, "x64\\1033\\{P}\\Product"},
                                              Seen{0, 1001, "cab\\1000\\main.cab"},
                                              Seen{2, 7, "second source"}}));
}

// Entry layouts that are not the plain "text with its terminating zero".
struct Layout {
  const char* name;
  std::vector<uint8_t> manifest;
  bool result;
  std::vector<Seen> seen;
};

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> Raw(uint32_t key, uint32_t textBytes, const std::vector<uint8_t>& text) {
  std::vector<uint8_t> out;
  AppendRawEntry(out, key, textBytes, text);
  return out;
}

std::vector<Layout> Layouts() {
  std::vector<uint8_t> first = ManifestBytes({{1000, "first"}});
  std::vector<uint8_t> ab = Utf16Bytes("ab");  // 6 bytes with the zero
  return {
      // Claims 100 text bytes where 4 remain.
      {"TruncatedLastEntry", Concat(first, Raw(1001, 100, {'a', 0, 'b', 0})), false,
       {Seen{0, 1000, "first"}}},
      {"FewerThanEightBytesLeft", Concat(first, {1, 2, 3, 4, 5}), false, {Seen{0, 1000, "first"}}},
      // 8 + 0xFFFFFFF8 is 2^32: wrapping would make the entry end where it starts.
      {"TextBytesNear4GiB", Concat(first, Raw(1001, 0xFFFFFFF8u, {'a', 0, 'b', 0})), false,
       {Seen{0, 1000, "first"}}},
      // The odd byte is lost; the next entry starts right after it, at an odd offset.
      {"OddTextBytes", Concat(Raw(5, 7, Concat(ab, {0x41})), ManifestBytes({{6, "next"}})), true,
       {Seen{0, 5, "ab"}, Seen{0, 6, "next"}}},
      {"EmptyText", Concat(Raw(5, 0, {}), ManifestBytes({{6, "next"}})), true,
       {Seen{0, 5, ""}, Seen{0, 6, "next"}}},
      // The zero inside the text is converted like any unit and ends what the callback sees.
      {"ZeroInsideText", ManifestBytes({{5, std::string("abc\0def", 7)}}), true, {Seen{0, 5, "abc"}}},
  };
}

class ManifestLayoutTest : public ManifestWalkTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(ManifestLayoutTest, DeliversWhatTheLayoutHolds) {
  Recorder recorder;
  // A second source shows that a malformed entry ends the walk over every source.
  EXPECT_EQ(Walk({GetParam().manifest, ManifestBytes({{9, "later source"}})}, recorder),
            GetParam().result);
  std::vector<Seen> expected = GetParam().seen;
  if (GetParam().result) expected.push_back(Seen{1, 9, "later source"});
  EXPECT_EQ(recorder.seen, expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ManifestLayoutTest, ::testing::ValuesIn(Layouts()),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ManifestWalkTest, CallbackReturningZeroStopsTheWalkInEverySource) {
  Recorder recorder;
  recorder.stopAfter = 1;
  EXPECT_TRUE(Walk({ManifestBytes({{1, "a"}, {2, "b"}}), ManifestBytes({{3, "c"}})}, recorder));
  EXPECT_EQ(recorder.seen, (std::vector<Seen>{Seen{0, 1, "a"}}));
}

TEST_F(ManifestWalkTest, TextIsConvertedToTheAnsiCodePage) {
  // U+00F6 and U+00DF take two bytes each in UTF-8 and one in a Western
  // single-byte page; U+4E2D has no single-byte form and becomes '?'.
  const std::string text = "Gr\xC3\xB6\xC3\x9F" "e \xE4\xB8\xAD";
  struct Case {
    fake::CodePage page;
    std::string expected;
  } cases[] = {{fake::CodePage::Utf8, text},
               {fake::CodePage::SingleByte, "Gr\xF6\xDF" "e ?"}};
  for (const Case& c : cases) {
    fake::Reset();
    fake::W().system.codePage = c.page;
    Recorder recorder;
    EXPECT_TRUE(Walk({ManifestBytes({{1, text}})}, recorder));
    EXPECT_EQ(recorder.seen, (std::vector<Seen>{Seen{0, 1, c.expected}}));
  }
}

TEST_F(ManifestWalkTest, NoMemoryForATextEndsTheWalk) {
  fake::W().memory.failAllocations = {2};  // the second entry's text
  Recorder recorder;
  EXPECT_FALSE(Walk({ManifestBytes({{1, "a"}, {2, "b"}, {3, "c"}})}, recorder));
  EXPECT_EQ(recorder.seen, (std::vector<Seen>{Seen{0, 1, "a"}}));
}

}  // namespace
