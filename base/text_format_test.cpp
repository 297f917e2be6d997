#include "base/text_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

// The launcher's formats, checked against the C library's snprintf at every
// room from none to more than enough: same text, same cut, same result.
TEST(FormatText, MatchesSnprintfAtEveryRoom) {
  struct Case {
    const char* format;
    const char* text;
    unsigned number;
  } cases[] = {
      {"%s\\%s", "C:\\Windows\\Installer\\{1}", 0},
      {"%s %u (%s).", "Error", 4294967295u},
      {"%u, %u", nullptr, 0},
      {"100%% of %s", "main.cab", 0},
      {"", "", 0},
  };
  for (const Case& c : cases) {
    for (size_t room = 0; room < 48; ++room) {
      char ours[64], theirs[64];
      memset(ours, 'x', sizeof ours);
      memset(theirs, 'x', sizeof theirs);
      int a, b;
      if (strstr(c.format, "%s %u")) {
        a = FormatText(ours, room, c.format, c.text, c.number, "path");
        b = snprintf(theirs, room, c.format, c.text, c.number, "path");
      } else if (strstr(c.format, "%u")) {
        a = FormatText(ours, room, c.format, c.number, 7u);
        b = snprintf(theirs, room, c.format, c.number, 7u);
      } else {
        a = FormatText(ours, room, c.format, c.text, c.text);
        b = snprintf(theirs, room, c.format, c.text, c.text);
      }
      EXPECT_EQ(a, b) << c.format << " room " << room;
      EXPECT_EQ(0, memcmp(ours, theirs, sizeof ours)) << c.format << " room " << room;
    }
  }
}

TEST(FormatText, NullTextPrintsNothing) {
  char out[8];
  EXPECT_EQ(2, FormatText(out, sizeof out, "[%s]", static_cast<const char*>(nullptr)));
  EXPECT_STREQ("[]", out);
}

// "%u" as sscanf reads it, on both platforms alike.
TEST(ParseUnsigned, ReadsAsScanfDoes) {
  struct Case {
    const char* text;
    bool read;
    uint32_t value;
  } cases[] = {
      {"1033", true, 1033}, {"1031;3079", true, 1031}, {"  \t2055", true, 2055},
      {"+7", true, 7},      {"-1", true, 0xFFFFFFFFu}, {"4294967295", true, 0xFFFFFFFFu},
      {"", false, 0},       {";1033", false, 0},       {"x64", false, 0},
      {"-", false, 0},      {"+ 1", false, 0},         {"0", true, 0},
  };
  for (const Case& c : cases) {
    uint32_t value = 12345;
    EXPECT_EQ(c.read, ParseUnsigned(c.text, &value)) << c.text;
    EXPECT_EQ(c.read ? c.value : 12345u, value) << c.text;
    unsigned theirs = 0;
    EXPECT_EQ(c.read, sscanf(c.text, "%u", &theirs) == 1) << c.text;
    if (c.read) EXPECT_EQ(theirs, value) << c.text;
  }
}

}  // namespace
