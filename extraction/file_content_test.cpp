#include "extraction/file_content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/extract_job_fixture.h"

namespace {

const char kPath[] = "C:\\Windows\\Installer\\{P}\\main.msi";

TEST(FileHoldsContent, OnlyTheSameBytesCount) {
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
  for (const Case& c : cases) {
    fake::Reset();
    c.arrange(c.file);
    EXPECT_EQ(FileHoldsContent(kPath, content.data(), static_cast<uint32_t>(content.size())),
              c.holds)
        << c.name;
    EXPECT_TRUE(fake::W().handles.empty()) << c.name;
  }

  // Nothing to compare: only an empty file holds it.
  fake::Reset();
  fake::AddFile(kPath, {});
  EXPECT_TRUE(FileHoldsContent(kPath, nullptr, 0));
  fake::AddFile(kPath, {1});
  EXPECT_FALSE(FileHoldsContent(kPath, nullptr, 0));
}

}  // namespace
