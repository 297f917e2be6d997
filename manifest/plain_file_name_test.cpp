#include "manifest/plain_file_name.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake.h"

namespace {

struct Name {
  std::string name;
  const char* fault;  // null: a plain file name
  fake::CodePage codePage = fake::CodePage::SingleByte;
};

const char kSeparator[] = "holds a path separator (\\ or /)";
const char kDevice[] = "is a reserved device name";
const char kSpecial[] = "holds one of * ? \" < > |";
const char kEnd[] = "ends in a dot or a space";

TEST(FileNameFault, OnlyASinglePlainComponentPasses) {
  const Name names[] = {
      {"main.msi", nullptr},
      {"Data 1.cab", nullptr},
      {"{5970BD6B-642E-4576-98BF-6A9F9555AB0E}", nullptr},
      {".hidden", nullptr},
      {"a..b.cab", nullptr},
      {"console.cab", nullptr},  // only the whole part before the first dot counts
      {"COM0", nullptr},
      {"COM10.cab", nullptr},
      {"LPT", nullptr},
      {"nul1", nullptr},
      // Trail bytes 0x5C and 0x7C of double-byte characters are no "\" or "|".
      {"\x95\x5C.cab", nullptr, fake::CodePage::DoubleByte},
      {"\x83\x7C", nullptr, fake::CodePage::DoubleByte},
      {"", "is empty"},
      {".", "names a folder level (. or ..)"},
      {"..", "names a folder level (. or ..)"},
      {"../../../victim.txt", kSeparator},
      {"..\\victim.txt", kSeparator},
      {"sub/file.cab", kSeparator},
      {"\\\\server\\share", kSeparator},
      {"C:\\x.cab", "holds a colon (a drive or a stream)"},
      // In a single-byte page 0x95 is a character of its own and 0x5C a backslash.
      {"\x95\x5C.cab", kSeparator},
      {"C:x.cab", "holds a colon (a drive or a stream)"},
      {"data.cab:stream", "holds a colon (a drive or a stream)"},
      {"tab\there", "holds a control character"},
      {std::string("\x1F") + "x", "holds a control character"},
      {"*.cab", kSpecial},
      {"a?.cab", kSpecial},
      {"\"q\".cab", kSpecial},
      {"<x>", kSpecial},
      {"a|b", kSpecial},
      {"main.msi.", kEnd},
      {"main.msi ", kEnd},
      {"...", kEnd},
      {"CON", kDevice},
      {"con.txt", kDevice},
      {"Prn.cab", kDevice},
      {"aux", kDevice},
      {"NUL.tar.gz", kDevice},
      {"nul .cab", kDevice},
      {"com1", kDevice},
      {"COM9.cab", kDevice},
      {"lpt1", kDevice},
      {"LPT9.log", kDevice},
      // Windows takes the superscripts 1, 2 and 3 (0xB9, 0xB2, 0xB3 in a
      // Western page) as digits of COM and LPT names; no other character.
      {"COM\xB9", kDevice},
      {"lpt\xB2.log", kDevice},
      {"Com\xB3 .cab", kDevice},
      {"COM\xC2\xB9.cab", kDevice, fake::CodePage::Utf8},
      {"COM\xBC", nullptr},
      {"COM\xB9\xB9", nullptr},
  };
  for (const Name& n : names) {
    fake::Reset();
    fake::W().system.codePage = n.codePage;
    const char* fault = FileNameFault(n.name.c_str());
    if (n.fault)
      EXPECT_STREQ(fault, n.fault) << "'" << n.name << "'";
    else
      EXPECT_EQ(fault, nullptr) << "'" << n.name << "': " << fault;
  }
}

}  // namespace
