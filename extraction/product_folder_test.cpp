// Pinning the product folder, and holding the output files in it.
#include "extraction/product_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "extraction/output_file.h"
#include "platform/fake/fake.h"

namespace {

const char kParent[] = "D:\\Temp";
const char kDir[] = "D:\\Temp\\{P}";

// Only a real folder, reached by the path asked for, is pinned; this run
// may remove it only when it made it.
TEST(PinProductFolder, RefusesWhatIsNotPlainlyTheFolderAskedFor) {
  struct Case {
    const char* name;
    void (*arrange)();
    bool pinned;
    bool created;
  } const cases[] = {
      {"missing: made", [] {}, true, true},
      {"there already", [] { fake::AddFolder(kDir); }, true, false},
      {"a junction", [] { fake::AddLink(kDir, "C:\\other", true); }, false, false},
      {"a link only its final path tells", [] { fake::AddLink(kDir, "C:\\other", false); }, false,
       false},
      {"a file", [] { fake::AddFile(kDir, {1}); }, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::AddFolder(kParent);
    fake::AddFolder("C:\\other");
    c.arrange();
    ProductFolder folder = {};
    EXPECT_EQ(PinProductFolder(kDir, nullptr, &folder), c.pinned);
    EXPECT_EQ(folder.created, c.created);
    EXPECT_TRUE(fake::IsFolder("C:\\other"));
    if (!c.pinned) {
      EXPECT_EQ(folder.handle, nullptr);
      EXPECT_TRUE(fake::W().handles.empty());
      continue;
    }
    EXPECT_EQ(fake::Rename(kDir, std::string(kDir) + ".old"),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ReleaseProductFolder(&folder, true);
    EXPECT_EQ(fake::Exists(kDir), !c.created);
    EXPECT_TRUE(fake::W().handles.empty());
  }
}

// A written file is held only when the name still leads to the file that
// was written; deletion through the name likewise.
TEST(HoldWrittenFile, OnlyTheFileThatWasWritten) {
  fake::Reset();
  fake::AddFolder(kDir);
  ExtractItem item = {};
  snprintf(item.path, sizeof item.path, "%s\\main.msi", kDir);
  ASSERT_TRUE(CreateOutputFile(&item, nullptr));
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(item.handle, "MSI", 3, &done, nullptr));
  Status held = HoldWrittenFile(&item);
  EXPECT_EQ(held.code, 0u);
  EXPECT_TRUE(item.held);

  // Another file under the name (as if the written one had been moved away
  // between the writer's close and the hold): refused, and never deleted.
  ReleaseItemFile(&item);
  fake::W().files.nodes.erase(fake::Key(item.path));
  fake::AddFile(item.path, {'x'});
  held = HoldWrittenFile(&item);
  EXPECT_EQ(held.code, static_cast<uint32_t>(ERROR_FILE_INVALID));
  EXPECT_EQ(held.location, static_cast<uint32_t>(LOC_OUTPUT_HOLD));
  EXPECT_EQ(item.handle, nullptr);
  DeleteItemFile(&item);
  EXPECT_EQ(fake::FileData(item.path), std::vector<uint8_t>{'x'});
  EXPECT_TRUE(fake::W().handles.empty());
}

}  // namespace
