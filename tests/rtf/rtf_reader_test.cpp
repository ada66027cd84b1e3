#include "rtf/rtf_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rtf/code_pages.h"

namespace glimmerix::rtf {
namespace {

std::u32string Text(std::string_view rtf) {
  return ParseRtf(rtf).PlainText();
}

// The run holding the first occurrence of needle.
const TextRun* FindRun(const Document& doc, std::u32string_view needle) {
  for (const Paragraph& p : doc.paragraphs) {
    for (const TextRun& r : p.runs) {
      if (r.text.find(needle) != std::u32string::npos) return &r;
    }
  }
  return nullptr;
}

TEST(RtfReader, WordPadDocumentShowsTextWithFormatsAndColours) {
  const Document doc = ParseRtf(
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}"
      "{\\f1\\froman Times New Roman;}}\r\n"
      "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}\r\n"
      "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
      "\\pard\\sa200\\sl276\\slmult1\\qc\\b\\f0\\fs28 Title\\b0\\par\r\n"
      "\\pard\\ql\\fs22 plain \\i italic\\i0 , \\ul under\\ulnone , \\cf1 red\\cf0 , "
      "{\\f1\\cf2 green times}\\par\r\n}\r\n");
  ASSERT_EQ(doc.paragraphs.size(), 2u);
  EXPECT_EQ(doc.PlainText(), U"Title\nplain italic, under, red, green times");

  EXPECT_EQ(doc.paragraphs[0].format.alignment, Alignment::kCenter);
  EXPECT_EQ(doc.paragraphs[0].format.space_after_twips, 200);
  EXPECT_EQ(doc.paragraphs[1].format.alignment, Alignment::kLeft);
  EXPECT_EQ(doc.paragraphs[1].format.space_after_twips, 0);  // \pard reset it

  const TextRun* title = FindRun(doc, U"Title");
  ASSERT_NE(title, nullptr);
  EXPECT_TRUE(title->format.bold);
  EXPECT_EQ(title->format.font_size_half_points, 28);
  EXPECT_EQ(FindRun(doc, U"italic")->format.italic, true);
  EXPECT_FALSE(FindRun(doc, U"plain")->format.italic);
  EXPECT_TRUE(FindRun(doc, U"under")->format.underline);
  EXPECT_EQ(FindRun(doc, U"red")->format.color, 1);
  const TextRun* green = FindRun(doc, U"green times");
  EXPECT_EQ(green->format.color, 2);
  EXPECT_EQ(green->format.font, 1);
  EXPECT_EQ(green->format.font_size_half_points, 22);

  ASSERT_EQ(doc.colors.size(), 3u);
  EXPECT_TRUE(doc.colors[0].automatic);
  EXPECT_EQ(doc.colors[1], (ColorEntry{false, {255, 0, 0}}));
  EXPECT_EQ(doc.colors[2], (ColorEntry{false, {0, 128, 0}}));
  ASSERT_EQ(doc.fonts.size(), 2u);
  EXPECT_EQ(doc.fonts[1].name, "Times New Roman");
}

TEST(RtfReader, GroupsScopeCharacterFormattingAndPlainResetsIt) {
  const Document doc = ParseRtf("{\\rtf1 {\\b bold {\\i both} bold}plain \\b\\i\\fs40 x\\plain y}");
  EXPECT_EQ(doc.PlainText(), U"bold both boldplain xy");
  EXPECT_TRUE(FindRun(doc, U"both")->format.italic);
  EXPECT_TRUE(FindRun(doc, U"both")->format.bold);
  EXPECT_FALSE(FindRun(doc, U" bold")->format.italic);
  EXPECT_FALSE(FindRun(doc, U"plain")->format.bold);
  const TextRun* y = FindRun(doc, U"y");
  EXPECT_EQ(y->format, CharFormat{});
}

TEST(RtfReader, BreaksTabsAndSpecialCharacters) {
  EXPECT_EQ(Text("{\\rtf1 a\\line b\\tab c\\par d\\~e\\emdash\\bullet\\ldblquote q\\rdblquote}"),
            U"a\u2028b\tc\nd\u00A0e\u2014\u2022\u201Cq\u201D");
  // Escaped syntax characters, and line ends in the source that mean nothing.
  EXPECT_EQ(Text("{\\rtf1 \\{x\\}\\\\\r\ny\n}"), U"{x}\\y");
  // A backslash before a line end is a paragraph mark.
  EXPECT_EQ(Text("{\\rtf1 a\\\nb}"), U"a\nb");
  // A table row: cells as tabs, the row as a paragraph.
  EXPECT_EQ(Text("{\\rtf1\\trowd\\cellx100\\cellx200 A\\cell B\\cell\\row after}"),
            U"A\tB\t\nafter");
}

TEST(RtfReader, HexBytesDecodeThroughTheDocumentCodePage) {
  EXPECT_EQ(Text("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}"), U"Привет");
  EXPECT_EQ(Text("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80}"), U"café €");
  EXPECT_EQ(Text("{\\rtf1\\ansi caf\\'e9}"), U"café");  // \ansi alone is 1252
  // Raw 8-bit text is in the code page too.
  EXPECT_EQ(Text("{\\rtf1\\ansicpg1251 \xcf\xf0\xe8}"), U"При");
  // A byte the code page does not define.
  EXPECT_EQ(Text("{\\rtf1\\ansicpg1252 a\\'81b}"), U"a\uFFFDb");
  // An unknown code page falls back to 1252.
  EXPECT_EQ(Text("{\\rtf1\\ansicpg99999 \\'e9}"), U"é");
  // Double-byte code page: the two halves of a character may come as \'hh or as a plain byte.
  EXPECT_EQ(Text("{\\rtf1\\ansicpg932 \\'82\\'a0\\'83\\'5c}"), U"あソ");
  EXPECT_EQ(Text("{\\rtf1\\ansicpg932 \\'82\\'a0\\'83\\\\}"), U"あソ");
  // Case of hex digits and a \' without digits.
  EXPECT_EQ(Text("{\\rtf1\\ansicpg1252 \\'E9\\'zz}"), U"ézz");
}

TEST(RtfReader, FontCharacterSetsChooseTheCodePage) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial Cyr;}"
      "{\\f2\\fcharset161 Greek;}{\\f3\\fcharset0\\cpg1250 Central;}}"
      "\\f0\\'e9 \\f1\\'e9 {\\f2\\'e1}\\f3\\'9a\\f0\\'e9}";
  EXPECT_EQ(Text(rtf), U"é й αšé");
  EXPECT_EQ(CodePageOfCharset(204), 1251);
  EXPECT_EQ(CodePageOfCharset(0), 0);
  EXPECT_EQ(CodePageOfCharset(128), 932);
}

TEST(RtfReader, UnicodeEscapesSkipTheirFallback) {
  EXPECT_EQ(Text("{\\rtf1 \\u1055?\\u1088?}"), U"Пр");
  EXPECT_EQ(Text("{\\rtf1\\uc2 \\u1055\\'3f\\'3fx}"), U"Пx");
  EXPECT_EQ(Text("{\\rtf1\\uc0 \\u1055?}"), U"П?");
  // \ucN belongs to its group.
  EXPECT_EQ(Text("{\\rtf1 {\\uc3 \\u1055 abc}\\u1088 de}"), U"Прe");
  // A control word counts as one fallback character; so does \'hh.
  EXPECT_EQ(Text("{\\rtf1\\uc2 \\u1055\\'3f\\tab z}"), U"Пz");
  // The fallback ends at a group boundary.
  EXPECT_EQ(Text("{\\rtf1\\uc4 {\\u1055}xy}"), U"Пxy");
  // Values above 32767 are written negative.
  EXPECT_EQ(Text("{\\rtf1 \\u-4064 ?}"), U"\uF020");
  // Surrogate pairs join; a lone half becomes the replacement character.
  EXPECT_EQ(Text("{\\rtf1 \\u-10179?\\u-8704?}"), U"\U0001F600");
  EXPECT_EQ(Text("{\\rtf1 \\u-10179?x\\u-8704?}"), U"\uFFFDx\uFFFD");
  EXPECT_EQ(Text("{\\rtf1 \\u-10179?}"), U"\uFFFD");
}

TEST(RtfReader, DestinationsThatAreNotShownAreSkipped) {
  EXPECT_EQ(Text("{\\rtf1{\\info{\\title T}{\\author A}}{\\stylesheet{\\s1 Heading;}}"
                 "{\\*\\unknowndest x{y}z}{\\*\\generator G;}shown}"),
            U"shown");
  // A picture's hex data, and binary data whose bytes would otherwise read as syntax.
  EXPECT_EQ(Text("{\\rtf1 a{\\pict\\wmetafile8 0123abcd}b{\\object{\\objdata\\bin5 }}{\\}}}c}"),
            U"abc");
  EXPECT_EQ(Text("{\\rtf1 a\\bin4 {}\\b}"), U"a");
  // A field shows its result, not its instruction.
  EXPECT_EQ(
      Text("{\\rtf1 see {\\field{\\*\\fldinst{HYPERLINK \"http://x\"}}{\\fldrslt{\\ul site}}}.}"),
      U"see site.");
  EXPECT_EQ(Text("{\\rtf1 {\\field{\\fldinst PAGE}{\\fldrslt 3}}}"), U"3");
  // Unicode alternative: the \ud part is shown, its ANSI twin is not.
  EXPECT_EQ(Text("{\\rtf1 {\\upr{ansi}{\\*\\ud{\\u1055?}}}}"), U"П");
  // List numbering text written for readers without lists is shown.
  EXPECT_EQ(Text("{\\rtf1{\\pntext\\'B7\\tab}{\\*\\pn\\pnlvlblt{\\pntxtb x}}item}"), U"·\titem");
}

TEST(RtfReader, ParagraphPropertiesAndTheirReset) {
  const Document doc = ParseRtf(
      "{\\rtf1\\qr right\\par\\qj\\li720\\ri360\\fi-360\\sb120 just\\par\\pard left\\par}");
  ASSERT_EQ(doc.paragraphs.size(), 3u);
  EXPECT_EQ(doc.paragraphs[0].format.alignment, Alignment::kRight);
  const ParaFormat& j = doc.paragraphs[1].format;
  EXPECT_EQ(j.alignment, Alignment::kJustify);
  EXPECT_EQ(j.left_indent_twips, 720);
  EXPECT_EQ(j.right_indent_twips, 360);
  EXPECT_EQ(j.first_line_twips, -360);
  EXPECT_EQ(j.space_before_twips, 120);
  EXPECT_EQ(doc.paragraphs[2].format, ParaFormat{});
  // Tab stops gather per paragraph until \pard; more than the paragraph keeps are dropped.
  std::string tabs = "{\\rtf1\\tx1000\\tb2000 a\\par\\pard b";
  for (int i = 1; i <= kMaxTabStops + 4; ++i) tabs += "\\tx" + std::to_string(i * 100);
  const Document tabbed = ParseRtf(tabs + " c}");
  ASSERT_EQ(tabbed.paragraphs.size(), 2u);
  EXPECT_EQ(tabbed.paragraphs[0].format.tab_stop_count, 2);
  EXPECT_EQ(tabbed.paragraphs[0].format.tab_stops_twips[1], 2000);
  EXPECT_EQ(tabbed.paragraphs[1].format.tab_stop_count, kMaxTabStops);
  EXPECT_EQ(tabbed.paragraphs[1].format.tab_stops_twips[kMaxTabStops - 1], kMaxTabStops * 100);
  // Absurd values are brought into range.
  const Document big = ParseRtf("{\\rtf1\\li99999999999\\fs99999999999 x\\fs-5 y}");
  EXPECT_EQ(big.paragraphs[0].format.left_indent_twips, 31680);
  EXPECT_EQ(FindRun(big, U"x")->format.font_size_half_points, 3276);
  EXPECT_EQ(FindRun(big, U"y")->format.font_size_half_points, 2);
  // Empty paragraphs in the middle stay; the last paragraph mark opens no empty paragraph.
  EXPECT_EQ(Text("{\\rtf1 a\\par\\par b\\par}"), U"a\n\nb");
}

TEST(RtfReader, MalformedInputShowsWhatItCan) {
  // Missing closing braces, a surplus closing brace, text after the end.
  EXPECT_EQ(Text("{\\rtf1 {\\b one"), U"one");
  EXPECT_EQ(Text("{\\rtf1 one}} two}"), U"one two");
  // Truncated in the middle of a control word, of \'hh, of \u's fallback.
  EXPECT_EQ(Text("{\\rtf1 abc\\pa"), U"abc");
  EXPECT_EQ(Text("{\\rtf1\\ansicpg1252 abc\\'e"), U"abc");  // one hex digit: control byte 0x0E
  EXPECT_EQ(Text("{\\rtf1 abc\\"), U"abc");
  EXPECT_EQ(Text("{\\rtf1 abc\\u1055"), U"abcП");
  EXPECT_EQ(Text("{\\rtf1 x\\bin99999"), U"x");
  // A half double-byte character at the end.
  EXPECT_EQ(Text("{\\rtf1\\ansicpg932 a\\'82"), U"a\uFFFD");
  // Control words longer than the limit are ignored, parameters never overflow.
  EXPECT_EQ(Text("{\\rtf1 \\" + std::string(100, 'b') + " x\\b99999999999999999999 y}"), U"xy");
  // An unterminated colour and font table entry.
  const Document doc =
      ParseRtf("{\\rtf1{\\colortbl;\\red1\\green2\\blue3}{\\fonttbl{\\f0 Arial}}x");
  ASSERT_EQ(doc.colors.size(), 2u);
  EXPECT_EQ(doc.colors[1].rgb, (Rgb{1, 2, 3}));
  EXPECT_EQ(doc.fonts.at(0).name, "Arial");
  EXPECT_EQ(doc.PlainText(), U"x");
}

TEST(RtfReader, DeepNestingIsBoundedAndKeepsTheText) {
  std::string rtf = "{\\rtf1 ";
  for (int i = 0; i < 100000; ++i) rtf += "{\\b ";
  rtf += "deep";
  for (int i = 0; i < 100000; ++i) rtf += "}";
  rtf += " out}";
  const Document doc = ParseRtf(rtf);
  EXPECT_EQ(doc.PlainText(), U"deep out");
  EXPECT_TRUE(FindRun(doc, U"deep")->format.bold);
  EXPECT_FALSE(FindRun(doc, U" out")->format.bold);
  // Never closed at all.
  EXPECT_EQ(Text(std::string("{\\rtf1 ") + std::string(500000, '{') + "x"), U"x");
}

TEST(RtfReader, HugeInputIsBoundedInTimeAndSize) {
  Limits limits;
  limits.max_chars = 1000;
  limits.max_paragraphs = 10;
  const Document chars = ParseRtf("{\\rtf1 " + std::string(5000, 'a') + "}", limits);
  EXPECT_TRUE(chars.truncated);
  EXPECT_EQ(chars.PlainText().size(), 1000u);
  std::string pars = "{\\rtf1 ";
  for (int i = 0; i < 100; ++i) pars += "p\\par ";
  const Document paragraphs = ParseRtf(pars, limits);
  EXPECT_TRUE(paragraphs.truncated);
  EXPECT_EQ(paragraphs.paragraphs.size(), 10u);
  EXPECT_FALSE(ParseRtf("{\\rtf1 a\\par b}", limits).truncated);

  limits.max_runs = 3;
  const Document runs = ParseRtf("{\\rtf1 a{\\b b}c{\\i d}e}", limits);
  EXPECT_TRUE(runs.truncated);
  EXPECT_EQ(runs.PlainText(), U"abc");

  // 8 MB of alternating syntax with no limit reached: linear work, well within seconds.
  std::string mixed = "{\\rtf1\\ansicpg1251 ";
  while (mixed.size() < (8u << 20)) mixed += "{\\b\\'e0\\u1055?x}\\par{\\*\\x{y}}";
  Limits unbounded;
  unbounded.max_chars = unbounded.max_paragraphs = unbounded.max_runs = SIZE_MAX;
  auto start = std::chrono::steady_clock::now();
  const Document doc = ParseRtf(mixed, unbounded);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(doc.truncated);
  EXPECT_GT(doc.paragraphs.size(), 200000u);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(took).count(), 20);

  // A huge stretch of plain text stops being read at the limit, not at its end.
  const std::string body = "{\\rtf1 " + std::string(64u << 20, 'a') + "}";
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ParseRtf(body).truncated);
  took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 2000);
}

TEST(RtfReader, LongTextDecodesPiecewiseWithoutSplittingCharacters) {
  // Raw double-byte text far longer than one decoding piece, starting at an odd offset so the
  // pieces end inside characters.
  std::string rtf = "{\\rtf1\\ansicpg932 a";
  for (int i = 0; i < 5000; ++i) rtf += "\x82\xa0";
  const std::u32string text = ParseRtf(rtf + "}").PlainText();
  EXPECT_EQ(text, U"a" + std::u32string(5000, U'あ'));
}

TEST(RtfReader, ParsesOnSeveralThreadsAtOnce) {
  // Each thread keeps its own code page decoders; the keyword table is shared read-only.
  const std::string rtf =
      "{\\rtf1\\ansicpg1251{\\fonttbl{\\f0\\fcharset238 A;}}\\'cf\\'f0\\'e8 "
      "\\f0\\'9a\\u1055?{\\b x}\\par}";
  const std::u32string expected =
      U"При šП"
      U"x";
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) wrong += ParseRtf(rtf).PlainText() != expected;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(RtfReader, TextThatIsNotRtfIsShownAsLines) {
  const Document utf8 = ParseRtf("first line\r\nzweite Zeile \xc3\xa4\nthird\tcol\n");
  EXPECT_FALSE(utf8.was_rtf);
  EXPECT_EQ(utf8.PlainText(), U"first line\nzweite Zeile ä\nthird\tcol");
  EXPECT_EQ(ParseRtf("caf\xe9 {\\b}").PlainText(), U"café {\\b}");  // not UTF-8: 1252
  EXPECT_EQ(ParseRtf("").PlainText(), U"");
  EXPECT_EQ(ParseRtf("").paragraphs.size(), 1u);
  // A byte-order mark and blank lines before the RTF are allowed.
  EXPECT_TRUE(ParseRtf("\xEF\xBB\xBF\r\n {\\rtf1 x}").was_rtf);
}

// The program's own documents, as shipped.
std::string ReadDoc(const char* name) {
  std::ifstream in(std::string(GLIMMERIX_DOCS_DIR) + "/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A source of endless input: head, then fill repeated for ever; counts the bytes it gives.
struct EndlessSource {
  std::string head;
  std::string fill;
  std::size_t given = 0;

  std::size_t operator()(char* buffer, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i, ++given) {
      buffer[i] = given < head.size() ? head[given] : fill[(given - head.size()) % fill.size()];
    }
    return size;
  }
};

TEST(RtfReader, ReadsNoMoreInputThanTheLimitsLetItKeep) {
  Limits limits;
  limits.max_chars = 100000;
  // Endless text, RTF or not (bytes that are not UTF-8: Windows-1252): reading stops once the
  // characters are kept, not at the input's end.
  std::string high;
  for (int b = 0xA0; b <= 0xFF; ++b) high.push_back(static_cast<char>(b));
  for (EndlessSource source : {EndlessSource{"{\\rtf1 ", "word "}, EndlessSource{"", high},
                               EndlessSource{"", "line\r\n"}}) {
    SCOPED_TRACE(source.fill);
    const Document doc = ReadRtf(std::ref(source), limits);
    EXPECT_TRUE(doc.truncated);
    EXPECT_LE(source.given, 2 * limits.max_chars + (128u << 10));
  }
  // Endless markup that shows nothing: reading stops at max_bytes.
  limits.max_bytes = 3u << 20;
  EndlessSource picture{"{\\rtf1 x{\\pict ", "0123456789abcdef"};
  const Document cut = ReadRtf(std::ref(picture), limits);
  EXPECT_TRUE(cut.truncated);
  EXPECT_EQ(cut.PlainText(), U"x");
  EXPECT_LE(picture.given, limits.max_bytes + 1);  // one byte more tells that there was more
  // Input of exactly max_bytes is read whole and not truncated.
  limits.max_bytes = 12;
  EXPECT_FALSE(ParseRtf("{\\rtf1 1234}", limits).truncated);
  EXPECT_TRUE(ParseRtf("{\\rtf1 12345}", limits).truncated);
}

TEST(RtfReader, InputInPiecesOfAnySizeReadsAsOneWhole) {
  // A source that gives at most `piece` bytes at a time, so pieces end everywhere: inside
  // control words, parameters, "\\'hh", double-byte characters, "\\r\\n".
  auto read_in_pieces = [](std::string_view bytes, std::size_t piece) {
    return ReadRtf([&bytes, piece](char* buffer, std::size_t size) {
      const std::size_t count = std::min({size, piece, bytes.size()});
      bytes.copy(buffer, count);
      bytes.remove_prefix(count);
      return count;
    });
  };
  std::string double_byte = "{\\rtf1\\ansicpg932 a";
  for (int i = 0; i < 40000; ++i) double_byte += "\x82\xa0";
  std::string late_latin1 = "caf\xc3\xa9 \r\n";  // UTF-8 for 100 KiB, then a Windows-1252 byte
  while (late_latin1.size() < (100u << 10)) late_latin1 += "plain line\r\n";
  late_latin1 += "na\xefve\r\n";
  const std::string documents[] = {
      ReadDoc("help.rtf"), ReadDoc("history.rtf"), double_byte + "}", late_latin1,
      "{\\rtf1{\\fonttbl{\\f0\\fcharset204 A;}}\\f0\\'cf\\u-3913?\\bin3 {}x\\b99 y}"};
  for (const std::string& bytes : documents) {
    const Document whole = ParseRtf(bytes);
    for (std::size_t piece : {1, 2, 3, 7, 4096}) {
      SCOPED_TRACE(piece);
      const Document pieces = read_in_pieces(bytes, piece);
      EXPECT_EQ(pieces.PlainText(), whole.PlainText());
      EXPECT_EQ(pieces.paragraphs.size(), whole.paragraphs.size());
    }
  }
  // The Windows-1252 byte late in the file decodes what came before as Windows-1252 too, as if
  // it had been read at once.
  const Document latin1 = read_in_pieces(late_latin1, 4096);
  EXPECT_FALSE(latin1.was_rtf);
  EXPECT_TRUE(latin1.PlainText().starts_with(U"caf\u00C3\u00A9 \nplain line\n"));
  EXPECT_TRUE(latin1.PlainText().ends_with(U"\nna\u00EFve"));
}

TEST(RtfReader, ShippedDocumentsAreCleanRtf) {
  for (const char* name : {"help.rtf", "history.rtf", "about.rtf"}) {
    SCOPED_TRACE(name);
    const std::string bytes = ReadDoc(name);
    ASSERT_FALSE(bytes.empty());
    int depth = 0;
    int min_depth = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\\') {
        ++i;
      } else if (bytes[i] == '{') {
        ++depth;
      } else if (bytes[i] == '}') {
        min_depth = std::min(min_depth, --depth);
      }
    }
    EXPECT_EQ(depth, 0) << "unbalanced braces";
    EXPECT_EQ(min_depth, 0) << "a brace closes more than was opened";
    const Document doc = ParseRtf(bytes);
    EXPECT_TRUE(doc.was_rtf);
    EXPECT_FALSE(doc.truncated);
    EXPECT_EQ(doc.code_page, 1252);
    const std::u32string text = doc.PlainText();
    // No RTF syntax leaks into the shown text, and nothing undecodable.
    EXPECT_EQ(text.find_first_of(U"\\{}\uFFFD"), std::u32string::npos);
    bool has_bold = false;
    bool has_colour = false;
    for (const Paragraph& p : doc.paragraphs) {
      for (const TextRun& r : p.runs) {
        has_bold |= r.format.bold;
        has_colour |= r.format.color > 0 && r.format.color < static_cast<int>(doc.colors.size()) &&
                      !doc.colors[r.format.color].automatic;
      }
    }
    EXPECT_TRUE(has_bold);
    EXPECT_TRUE(has_colour);
  }
  const std::u32string help = ParseRtf(ReadDoc("help.rtf")).PlainText();
  for (std::u32string_view needle : {U"Shift+Alt+F5", U"Shift+Alt+F8", U"X_form", U"KEY_LED",
                                     U"OUT18", U"Bright", U"Invert", U"setting.dat", U".patt"}) {
    EXPECT_NE(help.find(needle), std::u32string::npos) << std::string(needle.begin(), needle.end());
  }
}

}  // namespace
}  // namespace glimmerix::rtf
