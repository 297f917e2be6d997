// The string pool read straight from real packages, and the compound file
// reader on damaged ones: it stays inside the bytes it is given (the tool
// tests run under AddressSanitizer) and never loops.
#include "tools/stubpack/compound_file.h"

#include <gtest/gtest.h>

#include <random>

#include "testing/stubpack_fixture.h"
#include "tools/stubpack/msi_string_pool.h"

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(CompoundFile, ReadsTheStringPoolOfRealPackages) {
  ScratchDir dir;
  std::string output;
  ASSERT_EQ(RunShell("cd '" + dir.path + "' && cp '" + SampleDir() +
                         "/en/demo.msi' a.msi && cp a.msi b.msi && printf "
                         "'\\r\\n\\r\\n1251\\t_ForceCodepage\\r\\n' > cp.idt && msibuild b.msi -i "
                         "cp.idt",
                     &output),
            0)
      << output;
  struct Case {
    const char* file;
    uint32_t codepage;
  };
  for (const Case& c : {Case{"a.msi", 0}, Case{"b.msi", 1251}}) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> data = ReadBytes(dir.Path(c.file));
    MsiStringPool pool;
    ASSERT_TRUE(ReadMsiStringPool(data, &pool));
    EXPECT_EQ(pool.codepage, c.codepage);
    EXPECT_EQ(data[pool.codepageOffset] | data[pool.codepageOffset + 1] << 8, int(c.codepage));
    EXPECT_NE(Text(pool.text).find("Demo Product"), std::string::npos);
    EXPECT_FALSE(HasNonAscii(pool.text));
  }
  std::vector<uint8_t> text(4096, 'x');
  MsiStringPool pool;
  EXPECT_FALSE(IsCompoundFile(text));
  EXPECT_FALSE(ReadMsiStringPool(text, &pool));
}

TEST(CompoundFile, DamagedFilesAreReadWithinTheirBytes) {
  const std::vector<uint8_t> good = ReadBytes(SampleDir() + "/en/demo.msi");
  MsiStringPool pool;
  for (size_t size = 0; size < good.size(); size += 61)
    ReadMsiStringPool(std::vector<uint8_t>(good.begin(), good.begin() + size), &pool);
  // Single changed bytes and 32-bit fields, in the header, the allocation
  // tables and the directory as well as anywhere.
  std::mt19937 random(20);
  for (int i = 0; i < 3000; i++) {
    std::vector<uint8_t> bad = good;
    size_t at = random() % (i % 2 ? 4096 : bad.size() - 4);
    if (i % 3 == 0) {
      uint32_t value = i % 6 == 0 ? 0xFFFFFFFDu - random() % 4 : random() % 64;
      for (int k = 0; k < 4; k++) bad[at + k] = static_cast<uint8_t>(value >> 8 * k);
    } else {
      bad[at] = static_cast<uint8_t>(random());
    }
    if (ReadMsiStringPool(bad, &pool)) {
      ASSERT_LT(pool.codepageOffset + 4, bad.size() + 1);
      ASSERT_LE(pool.text.size(), bad.size());
    }
  }
}

}  // namespace
