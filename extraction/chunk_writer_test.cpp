#include "extraction/chunk_writer.h"

#include <gtest/gtest.h>

#include "testing/extract_job_fixture.h"

namespace {

const char kFolder[] = "C:\\Out";

struct Step {
  uint32_t result;
  int32_t percent;
  bool operator==(const Step& other) const {
    return result == other.result && percent == other.percent;
  }
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
  return out << "{" << step.result << ", " << step.percent << "}";
}

class WriteNextChunkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddFolder(kFolder);
  }

  std::string PathOf(TestJob& files, size_t i) {
    return std::string(kFolder) + "\\" + files.item(i).name;
  }

  // Opens item i's output file as the extraction folder step does.
  void Open(TestJob& files, size_t i) {
    std::string path = PathOf(files, i);
    snprintf(files.item(i).path, sizeof files.item(i).path, "%s", path.c_str());
    files.item(i).handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(files.item(i).handle, INVALID_HANDLE_VALUE);
  }

  Step Next(TestJob& files) {
    Step step{0, -1};
    step.result = WriteNextChunk(files.job(), &step.percent);
    return step;
  }
};

TEST_F(WriteNextChunkTest, WritesEachItemInSlicesWithItsOwnProgress) {
  TestJob files({{"main.msi", Content(1048576, 1)}, {"main.cab", Content(100, 2)}});
  Open(files, 0);
  Open(files, 1);

  std::vector<Step> steps;
  for (int i = 0; i < 6; i++) steps.push_back(Next(files));
  EXPECT_EQ(steps, (std::vector<Step>{{234, 0}, {234, 50}, {234, 100}, {234, 0}, {234, 100},
                                      {0, 100}}));
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), files.content(0));
  EXPECT_EQ(fake::FileData(PathOf(files, 1)), files.content(1));
  EXPECT_EQ(files.item(0).handle, nullptr);
  EXPECT_EQ(files.item(1).handle, nullptr);
  EXPECT_TRUE(fake::W().handles.empty());
  // Done stays done, and the progress is optional.
  EXPECT_EQ(WriteNextChunk(files.job(), nullptr), 0u);
}

TEST_F(WriteNextChunkTest, ExistingFilesAndEmptyItemsAreMovedPastWithoutWriting) {
  TestJob files(
      {{"main.msi", Content(10, 1)}, {"empty.cab", {}}, {"data.cab", Content(5, 3)}});
  fake::AddFile(PathOf(files, 0), {'o', 'l', 'd'});  // existed before: no handle
  Open(files, 1);
  Open(files, 2);

  std::vector<Step> steps;
  for (int i = 0; i < 5; i++) steps.push_back(Next(files));
  EXPECT_EQ(steps, (std::vector<Step>{{234, 0}, {234, 0}, {234, 0}, {234, 100}, {0, 100}}));
  EXPECT_EQ(files.item(0).written, 10u);  // counts as done
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_TRUE(fake::Exists(PathOf(files, 1)));
  EXPECT_EQ(fake::FileData(PathOf(files, 2)), files.content(2));
  EXPECT_TRUE(fake::W().handles.empty());
}

TEST_F(WriteNextChunkTest, ProgressIsTheTruncatedQuotientScaledAfterwards) {
  TestJob files({{"main.msi", Content(52428800, 4)}});
  Open(files, 0);
  ASSERT_EQ(Next(files), (Step{234, 0}));
  Step step{};
  for (int slice = 1; slice <= 29; slice++) step = Next(files);
  EXPECT_EQ(files.item(0).written, 15204352u);
  EXPECT_EQ(step, (Step{234, 28}));
}

TEST_F(WriteNextChunkTest, FullDiskReportsWhatReachedTheFileAndRetryGoesOn) {
  TestJob files({{"main.msi", Content(1048576, 5)}, {"main.cab", Content(300, 6)}});
  Open(files, 0);
  Open(files, 1);
  fake::W().faults.diskSpace = 700000;
  EXPECT_EQ(Next(files), (Step{234, 0}));
  EXPECT_EQ(Next(files), (Step{234, 50}));
  EXPECT_EQ(Next(files), (Step{29, 66}));
  EXPECT_EQ(files.item(0).written, 700000u);
  EXPECT_EQ(fake::FileData(PathOf(files, 0)).size(), 700000u);
  EXPECT_NE(files.item(0).handle, nullptr);  // left open for a retry

  EXPECT_EQ(Next(files), (Step{29, 66}));  // still full: nothing more reached the file
  EXPECT_EQ(files.item(0).written, 700000u);

  fake::W().faults.diskSpace.reset();
  EXPECT_EQ(Next(files), (Step{234, 100}));
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), files.content(0));
  EXPECT_EQ(Next(files), (Step{234, 0}));
  EXPECT_EQ(Next(files), (Step{234, 100}));
  EXPECT_EQ(Next(files), (Step{0, 100}));
  EXPECT_EQ(fake::FileData(PathOf(files, 1)), files.content(1));
}

}  // namespace
