#include "manifest/extraction_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/manifest_builder.h"
#include "payload/block.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"

namespace {

using manifest_test::Sources;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A compressed and signed region as the launcher loads it, with its manifest
// decoded by the launcher's own block lookup.
Sources::Region SignedRegion(const std::vector<TestEntry>& entries) {
  Sources::Region region;
  region.data = MakePayload(entries);
  region.flags = SOURCE_COMPRESSED | SOURCE_SIGNED;
  PayloadSource source = {nullptr, region.data.data(), static_cast<uint32_t>(region.data.size()), nullptr,
                          0, region.flags, kDevelopmentKey};
  uint8_t* manifest = nullptr;
  uint32_t manifestSize = 0;
  EXPECT_EQ(FindBlock(&source, MANIFEST_BLOCK_KIND, 0, &manifest, &manifestSize).code, 0u);
  region.manifest.assign(manifest, manifest + manifestSize);
  LocalFree(manifest);
  return region;
}

// Breaks the zlib stream of the region's last block (its Adler-32 check).
void CorruptLastBlock(Sources::Region& region) {
  region.data[region.data.size() - 28 - 256 - 1] ^= 0xFF;
}

struct Item {
  std::string name;
  std::string content;  // "<none>" when the item's block does not decode
  bool operator==(const Item& other) const {
    return name == other.name && content == other.content;
  }
};
std::ostream& operator<<(std::ostream& out, const Item& item) {
  return out << item.name << "=" << item.content;
}

class ExtractionListTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    FreeJob();
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
  }

  // What the clean-up frees, done here so that a test can start over.
  void FreeJob() {
    LocalFree(job_.items);
    job_ = {};
    job_.current = -1;
  }

  // The items with the content their blocks decode to (in memory, as the
  // writer would stream it).
  std::vector<Item> Items(const PayloadSources* sources) const {
    std::vector<Item> items;
    for (int32_t i = 0; i < job_.count; i++) {
      const ExtractItem& item = job_.items[i];
      uint8_t* content = nullptr;
      uint32_t size = 0;
      Status status = item.sourceIndex < sources->count
                          ? DecodeBlock(&sources->items[item.sourceIndex], item.place, &content,
                                        &size)
                          : Status{ERROR_NOT_FOUND, 0};
      items.push_back({item.name, status.code == 0 ? std::string(content, content + size)
                                                   : std::string("<none>")});
      LocalFree(content);
    }
    return items;
  }

  PackageMatch Match(uint32_t sourceIndex, uint32_t key, const char* productCode = "{P}") {
    PackageMatch match = {};
    match.sourceIndex = sourceIndex;
    match.key = key;
    snprintf(match.productCode, sizeof match.productCode, "%s", productCode);
    return match;
  }

  ExtractJob job_ = {nullptr, 0, -1};
};

// Two sources; a cabinet may name several packages as owners, but only those
// of its own source.
std::vector<Sources::Region> TwoSources() {
  std::vector<Sources::Region> regions;
  regions.push_back(SignedRegion({
      {1003, "cab\\1000\\b.cab", Bytes("B")},
      {1000, "x64\\1033\\{P}\\Package", Bytes("MSI-1000")},
      {1001, "cab\\1000;1002\\a.cab", Bytes("A")},
      {1004, "cab\\7\\other.cab", Bytes("O")},
      {1005, "CAB\\x;1000\\c.cab\\ignored", Bytes("C")},
      {1006, "x64\\1000\\{Q}\\not a cabinet", Bytes("Q")},
      {1002, "x64\\1031\\{D}\\Paket", Bytes("MSI-1002")},
  }));
  regions.push_back(SignedRegion({
      {1002, "x64\\1036\\{F}\\Paquet", Bytes("MSI-S1-1002")},
      {1000, "cab\\1002\\s1.cab", Bytes("S1")},
  }));
  return regions;
}

TEST_F(ExtractionListTest, PackageFirstThenItsCabinetsInManifestOrder) {
  struct Case {
    uint32_t sourceIndex, key;
    std::vector<Item> items;
  } cases[] = {
      {0, 1000, {{"main.msi", "MSI-1000"}, {"b.cab", "B"}, {"a.cab", "A"}, {"c.cab", "C"}}},
      {0, 1002, {{"main.msi", "MSI-1002"}, {"a.cab", "A"}}},
      {1, 1002, {{"main.msi", "MSI-S1-1002"}, {"s1.cab", "S1"}}},
  };
  Sources sources(TwoSources());
  for (const Case& c : cases) {
    PackageMatch match = Match(c.sourceIndex, c.key);
    EXPECT_TRUE(BuildExtractionList(sources.list(), &match, &job_));
    EXPECT_EQ(Items(sources.list()), c.items) << "source " << c.sourceIndex << " key " << c.key;
    EXPECT_EQ(job_.current, -1);
    FreeJob();
  }
}

// The list only finds the blocks: one that will not decode is listed like
// any other and fails when it is written.
TEST_F(ExtractionListTest, BlocksAreFoundNotDecoded) {
  Sources::Region region = SignedRegion({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")},
                                         {1001, "cab\\1000\\a.cab", Bytes("A")},
                                         {1002, "cab\\1000\\broken.cab", Bytes("BROKEN")}});
  CorruptLastBlock(region);
  Sources sources({region});
  PackageMatch match = Match(0, 1000);
  fake::W().memory.peakLiveBytes = fake::W().memory.liveBytes;
  const uint64_t before = fake::W().memory.liveBytes;
  EXPECT_TRUE(BuildExtractionList(sources.list(), &match, &job_));
  EXPECT_EQ(job_.sources, sources.list());
  // No more than the item array and the manifest walk's own texts: no block
  // was decoded.
  EXPECT_LT(fake::W().memory.peakLiveBytes - before, 3 * sizeof(ExtractItem) + 4096);
  EXPECT_EQ(Items(sources.list()), (std::vector<Item>{
                                       {"main.msi", "MSI"}, {"a.cab", "A"}, {"broken.cab", "<none>"}}));
}

TEST_F(ExtractionListTest, PackageWithoutUsableBlockEndsTheList) {
  Sources::Region region = SignedRegion(
      {{1001, "cab\\1000\\a.cab", Bytes("A")}, {1000, "x64\\1033\\{P}\\P", Bytes("MSI")}});
  Sources sources({region});
  // A key without a file block.
  PackageMatch match = Match(0, 4242);
  EXPECT_FALSE(BuildExtractionList(sources.list(), &match, &job_));
  EXPECT_EQ(Items(sources.list()), (std::vector<Item>{{"main.msi", "<none>"}}));

  // A file block without data can never verify in a signed source: refused
  // here already, before anything is written.
  FreeJob();
  Sources::Region empty = region;
  std::vector<uint8_t> dataless = RawBlock(FILE_BLOCK_KIND_BYTES, 1000, {}, std::vector<uint8_t>(256, 1));
  empty.data.insert(empty.data.end(), dataless.begin(), dataless.end());
  Sources withEmpty({empty});
  match = Match(0, 1000);
  EXPECT_FALSE(BuildExtractionList(withEmpty.list(), &match, &job_));
}

// The product code names the extraction folder and a cabinet's name a file in
// it: either one that is not a single plain file name fails the list, however
// well the payload is signed.
TEST_F(ExtractionListTest, NameThatIsNotOnePlainFileNameFailsTheList) {
  const char* const badNames[] = {"../../../victim.txt", "..", "sub/x.cab", "C:x.cab", "con.cab",
                                  "data.cab.", "a|b"};
  for (const char* bad : badNames) {
    Sources sources({SignedRegion({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")},
                                   {1001, "cab\\1000\\a.cab", Bytes("A")},
                                   {1002, std::string("cab\\1000\\") + bad, Bytes("BAD")}})});
    PackageMatch match = Match(0, 1000);
    EXPECT_FALSE(BuildExtractionList(sources.list(), &match, &job_)) << bad;
    // The refused cabinet is neither counted nor decoded.
    EXPECT_EQ(Items(sources.list()), (std::vector<Item>{{"main.msi", "MSI"}, {"a.cab", "A"}})) << bad;
    FreeJob();

    match = Match(0, 1000, bad);
    EXPECT_FALSE(BuildExtractionList(sources.list(), &match, &job_)) << bad;
    EXPECT_EQ(job_.count, 0) << bad;
    FreeJob();
  }
}

// Two files of the list under one name (Windows compares names without
// regard to case) would be one file in the folder, so the list could never be
// written anywhere: a cabinet named like the package or like an earlier
// cabinet, or an owner list naming the package twice, fails the list.
TEST_F(ExtractionListTest, NameThatAnEarlierFileHasFailsTheList) {
  const std::vector<TestEntry> repeats[] = {
      {{1001, "cab\\1000\\MAIN.MSI", Bytes("CAB")}},
      {{1001, "cab\\1000\\a.cab", Bytes("A")}, {1002, "cab\\1000\\A.Cab", Bytes("A2")}},
      {{1001, "cab\\1000;1000\\a.cab", Bytes("A")}},
  };
  for (const std::vector<TestEntry>& cabinets : repeats) {
    std::vector<TestEntry> entries = {{1000, "x64\\1033\\{P}\\P", Bytes("MSI")}};
    entries.insert(entries.end(), cabinets.begin(), cabinets.end());
    Sources sources({SignedRegion(entries)});
    PackageMatch match = Match(0, 1000);
    EXPECT_FALSE(BuildExtractionList(sources.list(), &match, &job_)) << cabinets.back().text;
    FreeJob();
  }
}

// In a double-byte code page 0x5C is also a trail byte: the cabinet named by
// the characters 0x95 0x5C, ".cab" keeps its whole name.
TEST_F(ExtractionListTest, TrailByteBackslashStaysInTheCabinetName) {
  fake::W().system.codePage = fake::CodePage::DoubleByte;
  char16_t unit = 0;
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x95\x5C", 2, reinterpret_cast<WCHAR*>(&unit), 1), 1);
  const std::string name = fake::Utf8(std::u16string(1, unit)) + ".cab";
  Sources sources({SignedRegion({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")},
                                 {1001, "cab\\1000\\" + name, Bytes("CAB")}})});
  PackageMatch match = Match(0, 1000);
  EXPECT_TRUE(BuildExtractionList(sources.list(), &match, &job_));
  EXPECT_EQ(Items(sources.list()), (std::vector<Item>{{"main.msi", "MSI"}, {"\x95\x5C.cab", "CAB"}}));
}

TEST_F(ExtractionListTest, NoMemoryForTheItemArray) {
  Sources sources({SignedRegion({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")},
                                 {1001, "cab\\1000\\a.cab", Bytes("A")},
                                 {1002, "cab\\1000\\b.cab", Bytes("B")}})});
  // The first item.
  fake::W().memory.failAllocations = {fake::W().memory.allocationCalls + 1};
  PackageMatch match = Match(0, 1000);
  EXPECT_FALSE(BuildExtractionList(sources.list(), &match, &job_));
  EXPECT_EQ(job_.count, 0);
  EXPECT_EQ(job_.items, nullptr);

  // Growing the array for a cabinet, the callback's first allocation: the
  // array and its count stay as they were, and the next cabinet still comes in.
  FreeJob();
  job_.items = static_cast<ExtractItem*>(LocalAlloc(LPTR, sizeof(ExtractItem)));
  job_.count = 1;
  snprintf(job_.items[0].name, sizeof job_.items[0].name, "main.msi");
  CabinetCollection collection = {sources.list(), &job_, 0, 1000, false};
  fake::W().memory.failAllocations = {fake::W().memory.allocationCalls + 1};
  ExtractItem* before = job_.items;
  EXPECT_EQ(CollectCabinetEntry(0, 1001, "cab\\1000\\a.cab", &collection), 1);
  EXPECT_TRUE(collection.error);
  EXPECT_EQ(job_.items, before);
  EXPECT_EQ(job_.count, 1);
  EXPECT_EQ(CollectCabinetEntry(0, 1002, "cab\\1000\\b.cab", &collection), 1);
  EXPECT_EQ(Items(sources.list()), (std::vector<Item>{{"main.msi", "<none>"}, {"b.cab", "B"}}));
}

TEST_F(ExtractionListTest, ExtractFileBlockZeroesTheItemAndCutsTheName) {
  Sources sources({SignedRegion({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")}})});
  ExtractItem item;
  memset(&item, 0x5A, sizeof item);
  std::string name(300, 'n');
  EXPECT_TRUE(ExtractFileBlock(sources.list(), 0, 1000, &item, name.c_str()));
  EXPECT_EQ(std::string(item.name), std::string(260, 'n'));
  EXPECT_EQ(item.sourceIndex, 0u);
  uint8_t* content = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(DecodeBlock(&sources.list()->items[0], item.place, &content, &size).code, 0u);
  EXPECT_EQ(std::string(content, content + size), "MSI");
  LocalFree(content);
  EXPECT_EQ(item.handle, nullptr);
  EXPECT_FALSE(item.kept);
  EXPECT_EQ(item.written, 0u);
  EXPECT_EQ(item.path[0], '\0');

  memset(&item, 0x5A, sizeof item);
  EXPECT_FALSE(ExtractFileBlock(sources.list(), 0, 1001, &item, "x.cab"));
}

}  // namespace
