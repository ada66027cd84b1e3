// The code-page decoding the RTF reader uses, as each platform's decoder gives it (iconv on
// Linux, MultiByteToWideChar on Windows): the same text, the same U+FFFD, the same bytes left
// for later.
#include "rtf/code_pages.h"

#include <gtest/gtest.h>

namespace glimmerix::rtf {
namespace {

std::u32string Decode(int code_page, std::string_view bytes, bool* clean = nullptr) {
  std::u32string out;
  const bool ok = DecodeCodePage(code_page, bytes, out);
  if (clean != nullptr) *clean = ok;
  return out;
}

TEST(CodePages, UndefinedBytesAreReplacementsButIsoC1ControlsAreCharacters) {
  bool clean = true;
  EXPECT_EQ(Decode(1252,
                   "a\x81\x8D"
                   "b\x80",
                   &clean),
            U"a\uFFFD\uFFFDb\u20AC");
  EXPECT_FALSE(clean);
  EXPECT_EQ(Decode(1251, "\x98", &clean), U"\uFFFD");
  EXPECT_FALSE(clean);
  EXPECT_EQ(Decode(28591, "\x81\xE9", &clean), U"\u0081\u00E9");
  EXPECT_TRUE(clean);
  EXPECT_EQ(Decode(437, "\x81\x9B"), U"\u00FC\u00A2");  // OEM pages put letters there
}

TEST(CodePages, MultiByteCharactersCutOffAreKeptForLaterOrReplacedAtTheEnd) {
  struct Case {
    int code_page;
    std::string_view bytes;
    std::u32string decoded;
    std::size_t left;
  };
  for (const Case& c :
       {Case{932, "a\x82\xA0\x82", U"a\u3042", 1}, Case{65001, "x\xE3\x81", U"x", 2},
        Case{65001, "\xF0\x9F\x98\x80", U"\U0001F600", 0}, Case{936, "\xC4\xE3", U"\u4F60", 0}}) {
    SCOPED_TRACE(c.code_page);
    std::u32string out;
    std::size_t left = 99;
    EXPECT_TRUE(DecodeCodePage(c.code_page, c.bytes, out, false, &left));
    EXPECT_EQ(out, c.decoded);
    EXPECT_EQ(left, c.left);
    // At the end the cut-off character is one replacement.
    out.clear();
    const bool clean = DecodeCodePage(c.code_page, c.bytes, out, true, &left);
    EXPECT_EQ(clean, c.left == 0);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(out, c.left == 0 ? c.decoded : c.decoded + U"\uFFFD");
  }
  // An invalid byte in the middle is one replacement, and decoding goes on after it.
  bool clean = true;
  EXPECT_EQ(Decode(65001,
                   "a\xFF"
                   "b\xC3\xA9",
                   &clean),
            U"a\uFFFDb\u00E9");
  EXPECT_FALSE(clean);
}

TEST(CodePages, UnknownCodePagesDecodeAsWindows1252) {
  EXPECT_EQ(Decode(99999, "\xE9\x80"), U"\u00E9\u20AC");
  EXPECT_EQ(Decode(0, "\xE9"), U"\u00E9");
  EXPECT_EQ(Decode(-5, "\xE9"), U"\u00E9");
}

}  // namespace
}  // namespace glimmerix::rtf
