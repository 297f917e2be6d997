#include "extraction/chunk_writer.h"
#include "extraction/output_file.h"

#include <gtest/gtest.h>

#include "testing/extract_job_fixture.h"
#include "testing/payload_fixture.h"

namespace {

const char kFolder[] = "C:\\Out";
const uint32_t kSlice = BLOCK_CONTENT_SLICE;

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

// The content's block stored as it is (no compression), signed: the share of
// the block read is then the share of the content written.
std::vector<uint8_t> StoredBlock(uint32_t id, const std::vector<uint8_t>& content) {
  return RawBlock(FILE_BLOCK_KIND_BYTES, id, content, BlockSignature(DevelopmentKey(), content));
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
    ASSERT_TRUE(CreateOutputFile(&files.item(i), nullptr));
  }

  Step Next(TestJob& files) {
    Step step{0, -1};
    step.result = WriteNextChunk(files.job(), files.writer(), &step.percent);
    return step;
  }
};

TEST_F(WriteNextChunkTest, WritesEachItemSliceBySliceWithItsOwnProgress) {
  TestJob files({{"main.msi", Content(4 * kSlice, 1)}, {"main.cab", Content(100, 2)}},
                StoredBlock, SOURCE_SIGNED);
  Open(files, 0);
  Open(files, 1);

  std::vector<Step> steps;
  for (int i = 0; i < 10; i++) steps.push_back(Next(files));
  EXPECT_EQ(steps, (std::vector<Step>{{234, 0}, {234, 25}, {234, 50}, {234, 75}, {234, 100},
                                      {234, 0}, {234, 100}, {0, 100}, {0, 100}, {0, 100}}));
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), files.content(0));
  EXPECT_EQ(fake::FileData(PathOf(files, 1)), files.content(1));
  EXPECT_EQ(files.item(0).written, 4 * kSlice);
  // Each file, once verified, is held read-only in place of its writer.
  EXPECT_TRUE(files.item(0).held);
  EXPECT_TRUE(files.item(1).held);
  EXPECT_EQ(fake::W().handles.size(), 2u);
  EXPECT_EQ(WriteNextChunk(files.job(), files.writer(), nullptr), 0u);  // the progress is optional
}

// Compressed blocks come out the same, whatever the ratio: the files hold the
// content, the progress never goes back within a file and ends at 100.
TEST_F(WriteNextChunkTest, CompressedBlocksComeOutWhole) {
  TestJob files({{"main.msi", Content(3 * kSlice + 17, 3)}, {"data.cab", std::vector<uint8_t>(5 * kSlice, 0)}});
  Open(files, 0);
  Open(files, 1);
  std::vector<Step> steps;
  for (Step step = Next(files); step.result == 234; step = Next(files)) steps.push_back(step);
  int32_t last = 0;
  size_t starts = 0;
  for (const Step& step : steps) {
    if (step.percent == 0 && last == 100) starts++;
    EXPECT_TRUE(step.percent >= last || (step.percent == 0 && last == 100)) << step;
    last = step.percent;
  }
  EXPECT_EQ(starts, 1u);
  EXPECT_EQ(last, 100);
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), files.content(0));
  EXPECT_EQ(fake::FileData(PathOf(files, 1)), files.content(1));
}

// A file that held the content before the run is decoded and verified like
// the others, but never written.
TEST_F(WriteNextChunkTest, KeptFilesAreVerifiedNotWritten) {
  TestJob files({{"main.msi", Content(10, 1)}, {"empty.cab", {}}, {"data.cab", Content(5, 3)}});
  fake::AddFile(PathOf(files, 0), files.content(0));
  snprintf(files.item(0).path, sizeof files.item(0).path, "%s", PathOf(files, 0).c_str());
  files.item(0).handle = OpenHeldFile(files.item(0).path, &files.item(0));
  files.item(0).held = true;
  files.item(0).kept = true;
  Open(files, 1);
  Open(files, 2);
  std::vector<Step> steps;
  for (int i = 0; i < 7; i++) steps.push_back(Next(files));
  EXPECT_EQ(steps, (std::vector<Step>{{234, 0}, {234, 100}, {234, 0}, {234, 100}, {234, 0},
                                      {234, 100}, {0, 100}}));
  EXPECT_EQ(files.item(0).written, 0u);
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), files.content(0));
  EXPECT_TRUE(fake::FileData(PathOf(files, 1)).empty());
  EXPECT_EQ(fake::FileData(PathOf(files, 2)), files.content(2));
  EXPECT_EQ(fake::W().handles.size(), 3u);  // all three held

  // A kept file whose block does not verify still fails the job.
  TestJob forged({{"main.msi", Content(10, 1)}}, [](uint32_t id, const std::vector<uint8_t>& c) {
    return RawBlock(FILE_BLOCK_KIND_BYTES, id, ZlibStream(c), BlockSignature(StrangerKey(), c));
  });
  forged.item(0).kept = true;
  EXPECT_EQ(Next(forged), (Step{234, 0}));
  EXPECT_EQ(Next(forged).result, static_cast<uint32_t>(ERROR_FILE_CORRUPT));
  EXPECT_EQ(forged.job()->failure.location, static_cast<uint32_t>(LOC_FILE_BAD_SIGNATURE));
}

// Between the writer's close and the hold only the file's descriptor keeps
// others out, and a volume without ACLs (FAT, exFAT) has none: another
// process that writes into the file then leaves its identity and path as
// they were. There what is held is read again, so only verified bytes are
// handed on; the file that changed is not held.
TEST_F(WriteNextChunkTest, FileChangedBeforeItIsHeldFailsTheJob) {
  fake::W().files.volumeKeepsAcls = false;
  TestJob files({{"main.msi", Content(100, 9)}, {"main.cab", Content(10, 10)}});
  Open(files, 0);
  Open(files, 1);
  fake::W().faults.afterLastClose = [](const std::string& path) {
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(other, "EVIL", 4, &n, nullptr));
    CloseHandle(other);
  };
  uint32_t result = 234;
  for (int steps = 0; result == 234 && steps < 20; steps++) result = Next(files).result;
  EXPECT_EQ(result, static_cast<uint32_t>(ERROR_FILE_CORRUPT));
  EXPECT_EQ(files.job()->failure.location, static_cast<uint32_t>(LOC_OUTPUT_HOLD));
  EXPECT_FALSE(files.item(0).held);
  EXPECT_EQ(files.item(0).handle, nullptr);
  EXPECT_EQ(fake::W().faults.afterLastClose, nullptr);  // the other process did write
}

// A held file is read again only where the volume keeps no ACLs; on NTFS its
// descriptor keeps others out in the gap, and the content is hashed once.
// An output file that cannot be read back shows whether it was.
TEST_F(WriteNextChunkTest, HeldFileIsReadAgainOnlyOnAVolumeWithoutAcls) {
  for (bool keepsAcls : {true, false}) {
    SCOPED_TRACE(keepsAcls ? "NTFS" : "FAT");
    SetUp();
    fake::W().files.volumeKeepsAcls = keepsAcls;
    TestJob files({{"main.msi", Content(100, 9)}});
    Open(files, 0);
    fake::W().faults.unreadableFiles.insert(fake::Key(PathOf(files, 0)));
    uint32_t result = 234;
    for (int steps = 0; result == 234 && steps < 20; steps++) result = Next(files).result;
    EXPECT_EQ(result, keepsAcls ? 0u : static_cast<uint32_t>(ERROR_FILE_CORRUPT));
    EXPECT_EQ(files.item(0).held, keepsAcls);
  }
}

// The share is taken as a quotient first and scaled afterwards: 58 slices of
// 256 KiB out of 50 MiB (just below 0.29) report 28, not 29.
TEST_F(WriteNextChunkTest, ProgressIsTheTruncatedQuotientScaledAfterwards) {
  TestJob files({{"main.msi", Content(52428800, 4)}}, StoredBlock, SOURCE_SIGNED);
  Open(files, 0);
  ASSERT_EQ(Next(files), (Step{234, 0}));
  Step step{};
  for (int slice = 1; slice <= 58; slice++) step = Next(files);
  EXPECT_EQ(files.item(0).written, 15204352u);
  EXPECT_EQ(step, (Step{234, 28}));
}

TEST_F(WriteNextChunkTest, FullDiskReportsWhatReachedTheFileAndRetryGoesOn) {
  TestJob files({{"main.msi", Content(4 * kSlice, 5)}, {"main.cab", Content(300, 6)}},
                StoredBlock, SOURCE_SIGNED);
  Open(files, 0);
  Open(files, 1);
  fake::W().faults.diskSpace = 700000;
  EXPECT_EQ(Next(files), (Step{234, 0}));
  EXPECT_EQ(Next(files), (Step{234, 25}));
  EXPECT_EQ(Next(files), (Step{234, 50}));
  EXPECT_EQ(Next(files), (Step{29, 75}));
  EXPECT_EQ(files.item(0).written, 700000u);
  EXPECT_EQ(fake::FileData(PathOf(files, 0)).size(), 700000u);
  EXPECT_NE(files.item(0).handle, nullptr);  // left open for a retry

  EXPECT_EQ(Next(files), (Step{29, 75}));  // still full: nothing more reached the file
  EXPECT_EQ(files.item(0).written, 700000u);
  EXPECT_EQ(fake::W().threads.created, 1u);  // the block's worker waits for the retry

  fake::W().faults.diskSpace.reset();
  EXPECT_EQ(Next(files), (Step{234, 75}));  // the rest of the same slice
  EXPECT_EQ(Next(files), (Step{234, 100}));
  EXPECT_EQ(fake::FileData(PathOf(files, 0)), files.content(0));
  EXPECT_EQ(Next(files), (Step{234, 0}));
  EXPECT_EQ(Next(files), (Step{234, 100}));
  EXPECT_EQ(Next(files), (Step{0, 100}));
  EXPECT_EQ(fake::FileData(PathOf(files, 1)), files.content(1));
  // One worker per block, each ended with its block.
  EXPECT_EQ(fake::W().threads.created, 2u);
  EXPECT_EQ(fake::RunningThreads(), 0);
  EXPECT_EQ(fake::W().threads.openHandles, 0);
}

// A block damaged in its last slice fails after the slices before it were
// written: the job stops there with the block's status and stays stopped.
TEST_F(WriteNextChunkTest, BlockThatFailsStopsTheJob) {
  struct Case {
    const char* what;
    BlockMaker make;
    uint32_t location;
  } cases[] = {
      {"checksum",
       [](uint32_t id, const std::vector<uint8_t>& c) {
         std::vector<uint8_t> data = ZlibStream(c);
         data.back() ^= 1;
         return RawBlock(FILE_BLOCK_KIND_BYTES, id, data, BlockSignature(DevelopmentKey(), c));
       },
       LOC_FILE_INFLATE_FAILED},
      {"signature",
       [](uint32_t id, const std::vector<uint8_t>& c) {
         std::vector<uint8_t> signature = BlockSignature(DevelopmentKey(), c);
         signature[100] ^= 1;
         return RawBlock(FILE_BLOCK_KIND_BYTES, id, ZlibStream(c), signature);
       },
       LOC_FILE_BAD_SIGNATURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::Reset();
    fake::AddFolder(kFolder);
    TestJob files({{"main.msi", Content(3 * kSlice, 7)}, {"main.cab", Content(10, 8)}}, c.make);
    Open(files, 0);
    Open(files, 1);
    uint32_t result = 234;
    int steps = 0;
    while (result == 234 && steps++ < 20) result = WriteNextChunk(files.job(), files.writer(), nullptr);
    EXPECT_EQ(result, static_cast<uint32_t>(ERROR_FILE_CORRUPT));
    EXPECT_EQ(files.job()->failure.location, c.location);
    EXPECT_GE(files.item(0).written, 2 * kSlice);
    EXPECT_EQ(WriteNextChunk(files.job(), files.writer(), nullptr), static_cast<uint32_t>(ERROR_FILE_CORRUPT));
    EXPECT_TRUE(fake::FileData(PathOf(files, 1)).empty());
    // The failed block's worker ended when the job stopped.
    EXPECT_EQ(fake::RunningThreads(), 0);
    EXPECT_EQ(fake::W().threads.openHandles, 0);
  }
}

}  // namespace
