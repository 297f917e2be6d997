#include "extraction/file_content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/extract_job_fixture.h"
#include "testing/payload_fixture.h"

namespace {

const char kPath[] = "C:\\Windows\\Installer\\{P}\\main.msi";

// Compares the file at path through a handle of its own, as the extraction
// folder does with the handle it then holds; false when it cannot be opened.
bool Holds(const char* path, const PayloadSource* source, const BlockPlace& place) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool holds = FileHoldsBlockContent(file, source, place);
  CloseHandle(file);
  return holds;
}

TEST(FileHoldsBlockContent, OnlyTheSameBytesCount) {
  // Larger than one slice of the comparison, so that differences after the
  // first slice are seen.
  const std::vector<uint8_t> content = Content(40000, 9);
  std::vector<uint8_t> lastByte = content;
  lastByte.back() ^= 1;
  std::vector<uint8_t> secondSlice = content;
  secondSlice[16384] ^= 1;
  struct Case {
    const char* name;
    void (*arrange)(const std::vector<uint8_t>& file);
    std::vector<uint8_t> file;
    bool holds;
  } const cases[] = {
      {"same", [](const std::vector<uint8_t>& f) { fake::AddFile(kPath, f); }, content, true},
      {"empty", [](const std::vector<uint8_t>& f) { fake::AddFile(kPath, f); }, {}, false},
      {"cut short",
       [](const std::vector<uint8_t>& f) { fake::AddFile(kPath, f); },
       std::vector<uint8_t>(content.begin(), content.begin() + 20000), false},
      {"longer",
       [](const std::vector<uint8_t>& f) {
         std::vector<uint8_t> longer = f;
         longer.push_back(0);
         fake::AddFile(kPath, longer);
       },
       content, false},
      {"last byte differs", [](const std::vector<uint8_t>& f) { fake::AddFile(kPath, f); },
       lastByte, false},
      {"second slice differs", [](const std::vector<uint8_t>& f) { fake::AddFile(kPath, f); },
       secondSlice, false},
      {"unreadable",
       [](const std::vector<uint8_t>& f) {
         fake::AddFile(kPath, f);
         fake::W().faults.unreadableFiles.insert(fake::Key(kPath));
       },
       content, false},
      {"size unknown",
       [](const std::vector<uint8_t>& f) {
         fake::AddFile(kPath, f);
         fake::W().faults.sizeFailFiles.insert(fake::Key(kPath));
       },
       content, false},
      {"a folder of that name", [](const std::vector<uint8_t>&) { fake::AddFolder(kPath); }, {},
       false},
      {"missing", [](const std::vector<uint8_t>&) {}, {}, false},
  };
  TestJob block({{"main.msi", content}});
  for (const Case& c : cases) {
    fake::Reset();
    c.arrange(c.file);
    EXPECT_EQ(Holds(kPath, block.source(), block.item(0).place), c.holds)
        << c.name;
    EXPECT_TRUE(fake::W().handles.empty()) << c.name;
  }

  // Empty content: only an empty file holds it.
  TestJob empty({{"main.msi", std::vector<uint8_t>()}});
  fake::Reset();
  fake::AddFile(kPath, {});
  EXPECT_TRUE(Holds(kPath, empty.source(), empty.item(0).place));
  fake::AddFile(kPath, {1});
  EXPECT_FALSE(Holds(kPath, empty.source(), empty.item(0).place));
}

// The comparison is only as good as the block's signature: a block signed by
// another key, or a source that carries no signatures, holds nothing a file
// could be compared with.
TEST(FileHoldsBlockContent, OnlyAgainstAVerifiedSignature) {
  const std::vector<uint8_t> content = Content(1000, 3);
  TestJob stranger({{"main.msi", content}}, [](uint32_t id, const std::vector<uint8_t>& c) {
    return RawBlock(FILE_BLOCK_KIND_BYTES, id, ZlibStream(c), BlockSignature(StrangerKey(), c));
  });
  fake::Reset();
  fake::AddFile(kPath, content);
  EXPECT_FALSE(Holds(kPath, stranger.source(), stranger.item(0).place));

  TestJob genuine({{"main.msi", content}});
  PayloadSource unsigned_ = *genuine.source();
  unsigned_.flags = SOURCE_COMPRESSED;
  EXPECT_FALSE(Holds(kPath, &unsigned_, genuine.item(0).place));
  EXPECT_TRUE(Holds(kPath, genuine.source(), genuine.item(0).place));
}

}  // namespace
