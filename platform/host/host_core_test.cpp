// The host platform runs the launcher's own payload and manifest code inside
// stubpack; where that code relies on Windows behaviour, the host must match.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::u16string Wide(const char* utf8) {
  int n = MultiByteToWideChar(CP_ACP, 0, utf8, -1, nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, utf8, -1, &out[0], n), n);
  out.pop_back();
  return out;
}

TEST(HostMemory, ReAllocKeepsContentAndZeroesGrowth) {
  auto* p = static_cast<uint8_t*>(LocalAlloc(LPTR, 3));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0] | p[1] | p[2], 0);
  memcpy(p, "abc", 3);
  p = static_cast<uint8_t*>(LocalReAlloc(p, 4096, LMEM_MOVEABLE | LMEM_ZEROINIT));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(memcmp(p, "abc", 3), 0);
  for (int i = 3; i < 4096; i++) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(LocalFree(p), nullptr);

  SetLastError(0);
  EXPECT_EQ(LocalReAlloc(nullptr, 8, LMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(LocalAlloc(LPTR, SIZE_MAX), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(HostCodePage, WideToAnsiIsUtf8WithSizeQueryAndTerminator) {
  // "Grüße" plus U+1F600 as a surrogate pair, with its terminator.
  const WCHAR text[] = {u'G', u'r', 0xFC, 0xDF, u'e', 0xD83D, 0xDE00, 0};
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  ASSERT_EQ(n, 12);  // 1+1+2+2+1+4 bytes and the terminator
  char out[12];
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, n, nullptr, &usedDefault), n);
  EXPECT_STREQ(out,
               "Gr\xC3\xBC\xC3\x9F"
               "e\xF0\x9F\x98\x80");
  EXPECT_FALSE(usedDefault);

  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, n - 1, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 0, out, n, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  const WCHAR lone[] = {0xD800, u'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, 2, out, 12, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(out, 4), "\xEF\xBF\xBDx");
}

TEST(HostCodePage, AnsiToWideRoundTripsAndReplacesBadBytes) {
  EXPECT_EQ(Wide("Gr\xC3\xBC\xC3\x9F"
                 "e\xF0\x9F\x98\x80"),
            std::u16string({u'G', u'r', 0xFC, 0xDF, u'e', 0xD83D, 0xDE00}));
  // A stray continuation byte, an overlong form and a cut sequence.
  EXPECT_EQ(Wide("a\x80"
                 "b\xC0\xAF"
                 "c\xE2\x82"),
            std::u16string({u'a', 0xFFFD, u'b', 0xFFFD, 0xFFFD, u'c', 0xFFFD}));
}

TEST(HostCodePage, CharNextAndCaseInsensitiveCompare) {
  const char* text =
      "\xC3\xBC"
      "x";
  EXPECT_EQ(CharNextA(text), text + 2);
  EXPECT_EQ(CharNextA(text + 3), text + 3);  // stays on the terminator

  auto cmp = [](const char* a, const char* b) {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a),
                    reinterpret_cast<const unsigned char*>(b));
  };
  EXPECT_EQ(cmp("X64", "x64"), 0);
  EXPECT_LT(cmp("x6", "x64"), 0);
  EXPECT_GT(cmp("x64", "x6"), 0);
  EXPECT_NE(cmp("\xC3\xBC", "\xC3\x9C"), 0);  // only ASCII letters fold
  EXPECT_LT(cmp("a", "\xC3\xBC"), 0);
}

}  // namespace
