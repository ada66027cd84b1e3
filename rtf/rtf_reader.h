// The RTF reader: rich-text bytes in, a plain model of paragraphs and formatted runs out.
//
// Qt-free, so it is tested and fuzzed on its own; app/viewers/rtf_text_document.h turns the model
// into a QTextDocument for the viewers. Code pages are decoded by code_pages.h.
//
// What it understands: groups, control words with their parameters, control symbols, "\'hh"
// bytes decoded through the document's code page ("\ansicpg", "\ansi", "\mac", "\pc", "\pca",
// a font's "\fcharset" or "\cpg" while that font is in force), "\uN" with "\ucN" (surrogate pairs
// joined), "\par" "\line" "\tab" and the named special characters, bold, italic, underline,
// strike-through, super- and subscript, font sizes and faces, the colour table (foreground and
// highlight), paragraph alignment, indents, spacing and tab stops, table cells as tabs and rows as
// paragraphs, "\bin". Destinations it does not show are skipped whole: everything under "\*"
// that it does not know, the font table and colour table (read, not shown), stylesheet, info,
// pictures, objects, headers and footers, footnotes, field instructions, list tables, ...
//
// Bad input: never throws, never crashes, never loops. Unbalanced braces are tolerated (a
// surplus "}" is ignored, missing ones are implied at the end), a truncated file shows what it
// holds, nesting deeper than kMaxGroupDepth keeps the state of the deepest level it tracked.
// The input is read piecewise (64 KiB at a time) and only while the model can still grow: once a
// limit is reached nothing more is read, and never more than Limits::max_bytes. The work is
// linear in the bytes read, the memory bounded by the limits whatever the input's size. Input
// that does not begin with "{\rtf" (after a byte-order mark and blanks within its first 64 KiB)
// is shown as plain text, one paragraph per line, decoded as UTF-8 as long as it is valid UTF-8
// and as Windows-1252 from its first invalid sequence on (what came before included).
//
// Threads: ReadRtf and ParseRtf are pure functions (ReadRtf calls its source on the calling
// thread); call them from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerix::rtf {

// Groups nested deeper than this share the state of the deepest tracked level.
inline constexpr int kMaxGroupDepth = 200;
// Tab stops a paragraph keeps; further "\tx" are ignored.
inline constexpr int kMaxTabStops = 16;

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

// One entry of the colour table; index 0 is usually the empty "automatic" entry.
struct ColorEntry {
  bool automatic = true;  // no component given: the viewer's default colour
  Rgb rgb;
  bool operator==(const ColorEntry&) const = default;
};

enum class VerticalAlign { kBaseline, kSuper, kSub };

struct CharFormat {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  VerticalAlign vertical = VerticalAlign::kBaseline;
  int font_size_half_points = 24;  // "\fsN": 24 is 12 pt
  int font = -1;                   // font table number ("\fN"), -1 none
  int color = 0;                   // colour table index ("\cfN"); 0 automatic
  int highlight = 0;               // colour table index ("\highlightN", "\cbN"); 0 none
  bool operator==(const CharFormat&) const = default;
};

enum class Alignment { kLeft, kCenter, kRight, kJustify };

struct ParaFormat {
  Alignment alignment = Alignment::kLeft;
  int left_indent_twips = 0;   // "\li"; a twip is 1/20 point
  int right_indent_twips = 0;  // "\ri"
  int first_line_twips = 0;    // "\fi", relative to the left indent (negative: hanging)
  int space_before_twips = 0;  // "\sb"
  int space_after_twips = 0;   // "\sa"
  // Tab stops ("\txN"), in twips from the left margin, in the order given.
  std::array<int, kMaxTabStops> tab_stops_twips{};
  int tab_stop_count = 0;
  bool operator==(const ParaFormat&) const = default;
};

// A stretch of text in one character format. Text is UTF-32: tab is U+0009, a line break
// ("\line") U+2028, a non-breaking space U+00A0.
struct TextRun {
  std::u32string text;
  CharFormat format;
};

struct Paragraph {
  ParaFormat format;
  std::vector<TextRun> runs;  // neighbouring runs never share a format; no run is empty
  // The format a paragraph without runs shows its (empty) line in.
  CharFormat end_format;
};

struct Font {
  int number = 0;
  std::string name;   // UTF-8, without the closing ";"
  int code_page = 0;  // 0: the document's code page
};

struct Document {
  std::vector<Paragraph> paragraphs;  // at least one
  std::vector<ColorEntry> colors;
  std::vector<Font> fonts;
  int code_page = 1252;    // the document's "\ansicpg" (or the one its character set implies)
  bool was_rtf = true;     // false: the input did not begin with "{\rtf" and was read as text
  bool truncated = false;  // a limit was reached; what came before it is kept

  // Every paragraph's text, paragraphs separated by "\n" (for tests and searching).
  std::u32string PlainText() const;
};

// Bounds on what one document may hold, so a huge file neither exhausts memory nor makes the
// viewer's layout crawl (Qt lays out a quarter of a million characters, 20000 paragraphs or 10000
// format changes in a fraction of a second, even combining marks at 1.7 us each). Reading stops
// where a bound is reached.
struct Limits {
  std::size_t max_bytes = std::size_t{64} << 20;  // bytes of input read, markup included
  std::size_t max_chars = std::size_t{1} << 18;   // characters of text, all paragraphs together
  std::size_t max_paragraphs = 20000;
  std::size_t max_runs = 10000;   // runs (stretches of one format), all paragraphs together
  std::size_t max_fonts = 4096;   // font table entries; further ones are not recorded
  std::size_t max_colors = 4096;  // colour table entries; further ones are not recorded
};

// Supplies the input's bytes in order: puts up to `size` bytes at `buffer` and returns how many;
// 0 ends the input (its end, or a read error: what came before is shown).
using ByteSource = std::function<std::size_t(char* buffer, std::size_t size)>;

// Reads a document from source, asking it for no more than the limits let the model use.
Document ReadRtf(const ByteSource& source, const Limits& limits = {});

// ReadRtf over bytes held in memory.
Document ParseRtf(std::string_view bytes, const Limits& limits = {});

}  // namespace glimmerix::rtf
