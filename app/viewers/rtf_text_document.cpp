#include "app/viewers/rtf_text_document.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <string_view>
#include <vector>

namespace glimmerix::rtf {
namespace {

constexpr double kTwipsPerPixel = 15.0;  // 1440 twips an inch, 96 pixels an inch

// Where a word is longer than the line, Qt looks for a place to break it at every line anew, over
// the rest of the word: a huge word takes time quadratic in its length (a million letters: minutes
// on the GUI thread). So no stretch of text goes longer than this without a place to break: a
// zero-width space is put in after each kMaxUnbrokenChars characters of it. Real words are far
// shorter and stay as they are.
constexpr int kMaxUnbrokenChars = 256;
constexpr char16_t kZeroWidthSpace = 0x200B;

// Qt lays out a paragraph whole, each time the area's width changes (it is shown, its scroll bar
// appears), while a document of many paragraphs is laid out as far as it is seen and the rest in
// small steps between events. So a paragraph longer than this goes on in a block of its own (with
// no space between the two and no first-line indent), split after a place to break.
constexpr qsizetype kMaxBlockChars = 16384;

// The characters after which Qt may break a line (spaces, tabs, line separators).
bool AllowsBreak(char32_t c) {
  return c == U' ' || c == U'\t' || c == 0x1680 || (c >= 0x2000 && c <= 0x200B && c != 0x2007) ||
         c == 0x2028 || c == 0x2029 || c == 0x205F || c == 0x3000;
}

bool AllowsBreak(QChar c) {
  return AllowsBreak(static_cast<char32_t>(c.unicode()));
}

// Qt's layout stops making progress once a document is taller than about 2^23 pixels (measured:
// 430000 lines, 8.2 million pixels, laid out in half a second; 460000 lines never finished), and a
// million characters in a huge font, or a million line breaks, get there. So the document ends
// before a pessimistic estimate of its height passes kMaxEstimatedHeight: every character an em
// wide, every line half empty, in an area narrower than any viewer's.
constexpr double kMaxEstimatedHeight = 2'000'000;  // pixels
constexpr double kAssumedLineWidth = 400;          // pixels
constexpr double kLineHeightPerEm = 1.5;
constexpr double kTabAdvance = 80;  // pixels: Qt's distance between tab stops

double EmPixels(const CharFormat& f) {
  return f.font_size_half_points / 2.0 * 96.0 / 72.0;
}

class HeightEstimate {
 public:
  // A paragraph in format p whose largest font is max_em pixels high.
  void StartParagraph(const ParaFormat& p, double max_em) {
    line_height_ = max_em * kLineHeightPerEm;
    const double indents = (std::max(p.left_indent_twips, 0) + std::max(p.right_indent_twips, 0) +
                            std::max(p.first_line_twips, 0)) /
                           kTwipsPerPixel;
    line_width_ = std::max(kAssumedLineWidth - indents, max_em);
    spacing_ =
        (std::max(p.space_before_twips, 0) + std::max(p.space_after_twips, 0)) / kTwipsPerPixel;
    advance_ = 0;
    line_breaks_ = 0;
  }

  // Adds character c in a font em pixels high; false when the document would get too tall.
  bool Add(char32_t c, double em) {
    if (c == 0x2028) {
      ++line_breaks_;
    } else {
      advance_ += c == U'\t' ? std::max(em, kTabAdvance) : em;
    }
    return Height() <= kMaxEstimatedHeight;
  }

  // False when the paragraph's empty line already makes the document too tall.
  bool EndParagraph() {
    done_ = Height();
    return done_ <= kMaxEstimatedHeight;
  }

 private:
  double Height() const {
    const double lines = 1 + line_breaks_ + 2 * advance_ / line_width_;
    return done_ + spacing_ + lines * line_height_;
  }

  double done_ = 0;  // the paragraphs before
  double line_height_ = 0;
  double line_width_ = 0;
  double spacing_ = 0;
  double advance_ = 0;
  double line_breaks_ = 0;
};

// Combining marks one character carries at most (as Unicode's stream-safe text format has it);
// further ones are left out. A character with thousands of them is an unreadable blot, and Qt
// shapes and paints every one of them in the same place (256000 marks: over a second).
constexpr int kMaxCombiningMarks = 30;

bool IsCombiningMark(char32_t c) {
  switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
      return true;
    default:
      return false;
  }
}

// Where a paragraph's text stands, across its runs.
struct TextState {
  int unbroken = 0;  // characters since the last place to break
  int marks = 0;     // combining marks in a row
};

// Appends the run's text to out as UTF-16, with the break places above and without the surplus
// combining marks. False when the document got too tall: out then ends before the character
// that did it.
bool AppendRunText(const TextRun& run, TextState& state, HeightEstimate& height, QString& out) {
  const double em = EmPixels(run.format);
  for (const char32_t c : run.text) {
    if (IsCombiningMark(c)) {
      if (++state.marks > kMaxCombiningMarks) continue;
    } else {
      state.marks = 0;
    }
    if (!height.Add(c, em)) return false;
    if (AllowsBreak(c)) {
      state.unbroken = 0;
    } else if (++state.unbroken > kMaxUnbrokenChars) {
      out.append(QChar(kZeroWidthSpace));
      state.unbroken = 1;
    }
    if (QChar::requiresSurrogates(c)) {
      out.append(QChar(QChar::highSurrogate(c)));
      out.append(QChar(QChar::lowSurrogate(c)));
    } else {
      out.append(QChar(static_cast<char16_t>(c)));
    }
  }
  return true;
}

class Converter {
 public:
  explicit Converter(const Document& model) : model_(model) {
    for (const Font& font : model.fonts) {
      if (!font.name.empty()) families_.insert(font.number, QString::fromStdString(font.name));
    }
  }

  QTextCharFormat Char(const CharFormat& f) const {
    QTextCharFormat q;
    q.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
    q.setFontItalic(f.italic);
    q.setFontUnderline(f.underline);
    q.setFontStrikeOut(f.strike);
    q.setFontPointSize(f.font_size_half_points / 2.0);
    if (f.vertical == VerticalAlign::kSuper) {
      q.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    } else if (f.vertical == VerticalAlign::kSub) {
      q.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    }
    if (auto family = families_.constFind(f.font); family != families_.cend()) {
      q.setFontFamilies({*family});
    }
    if (const ColorEntry* c = Color(f.color)) q.setForeground(ToQColor(*c));
    if (const ColorEntry* c = Color(f.highlight)) q.setBackground(ToQColor(*c));
    return q;
  }

  static QTextBlockFormat Block(const ParaFormat& p) {
    QTextBlockFormat q;
    switch (p.alignment) {
      case Alignment::kLeft:
        q.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
        break;
      case Alignment::kCenter:
        q.setAlignment(Qt::AlignHCenter);
        break;
      case Alignment::kRight:
        q.setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
        break;
      case Alignment::kJustify:
        q.setAlignment(Qt::AlignJustify);
        break;
    }
    q.setLeftMargin(p.left_indent_twips / kTwipsPerPixel);
    q.setRightMargin(p.right_indent_twips / kTwipsPerPixel);
    q.setTextIndent(p.first_line_twips / kTwipsPerPixel);
    q.setTopMargin(p.space_before_twips / kTwipsPerPixel);
    q.setBottomMargin(p.space_after_twips / kTwipsPerPixel);
    // A hanging indent (a negative first-line indent) is a tab stop of its own, as word
    // processors show it: a bullet's tab takes the text to the left indent, where the paragraph's
    // wrapped lines start.
    std::vector<int> stops(p.tab_stops_twips.begin(), p.tab_stops_twips.begin() + p.tab_stop_count);
    if (p.first_line_twips < 0) stops.push_back(p.left_indent_twips);
    std::sort(stops.begin(), stops.end());
    stops.erase(std::unique(stops.begin(), stops.end()), stops.end());
    // RTF measures tab stops from the left margin, Qt from where the line starts: convert for the
    // first line, whose start the indents give (the usual hanging-indent list lines up).
    const int line_start = p.left_indent_twips + p.first_line_twips;
    QList<QTextOption::Tab> tabs;
    for (const int stop : stops) {
      if (stop > line_start) {
        tabs.append(QTextOption::Tab((stop - line_start) / kTwipsPerPixel, QTextOption::LeftTab));
      }
    }
    if (!tabs.isEmpty()) q.setTabPositions(tabs);
    return q;
  }

 private:
  const ColorEntry* Color(int index) const {
    if (index <= 0 || static_cast<std::size_t>(index) >= model_.colors.size()) return nullptr;
    const ColorEntry& c = model_.colors[index];
    return c.automatic ? nullptr : &c;
  }
  static QColor ToQColor(const ColorEntry& c) { return QColor(c.rgb.red, c.rgb.green, c.rgb.blue); }

  const Document& model_;
  QHash<int, QString> families_;
};

// The characters of text from `from` that fit into a block holding `used` characters: all of
// them if they fit, else up to the last place to break (or to the limit when there is none),
// never between the halves of a surrogate pair; at least one character.
qsizetype FittingChars(const QString& text, qsizetype from, qsizetype used) {
  const qsizetype room = std::max<qsizetype>(kMaxBlockChars - used, 1);
  if (text.size() - from <= room) return text.size() - from;
  qsizetype count = room;
  const qsizetype earliest = std::max<qsizetype>(count - kMaxUnbrokenChars - 1, 1);
  for (qsizetype n = count; n >= earliest; --n) {
    if (AllowsBreak(text[from + n - 1])) {
      count = n;
      break;
    }
  }
  if (text[from + count - 1].isHighSurrogate()) count = count > 1 ? count - 1 : count + 1;
  return count;
}

}  // namespace

void FillTextDocument(const Document& model, QTextDocument& doc) {
  doc.clear();
  doc.setUndoRedoEnabled(false);
  Converter convert(model);
  QTextCursor cursor(&doc);
  cursor.beginEditBlock();
  HeightEstimate height;
  bool first = true;
  bool too_tall = false;
  for (const Paragraph& paragraph : model.paragraphs) {
    if (too_tall) break;
    const QTextBlockFormat block = Converter::Block(paragraph.format);
    const QTextCharFormat end = convert.Char(paragraph.end_format);
    if (first) {
      cursor.setBlockFormat(block);
      cursor.setBlockCharFormat(end);
      first = false;
    } else {
      cursor.insertBlock(block, end);
    }
    double max_em = EmPixels(paragraph.end_format);
    for (const TextRun& run : paragraph.runs) max_em = std::max(max_em, EmPixels(run.format));
    height.StartParagraph(paragraph.format, max_em);
    TextState state;
    qsizetype block_chars = 0;
    for (const TextRun& run : paragraph.runs) {
      QString text;
      text.reserve(static_cast<qsizetype>(run.text.size() + run.text.size() / kMaxUnbrokenChars));
      too_tall = !AppendRunText(run, state, height, text);
      const QTextCharFormat format = convert.Char(run.format);
      for (qsizetype at = 0; at < text.size();) {
        if (block_chars >= kMaxBlockChars) {
          QTextBlockFormat part = cursor.blockFormat();
          part.setBottomMargin(0);
          cursor.setBlockFormat(part);
          QTextBlockFormat rest = block;
          rest.setTopMargin(0);
          rest.setTextIndent(0);
          cursor.insertBlock(rest, end);
          block_chars = 0;
        }
        const qsizetype count = FittingChars(text, at, block_chars);
        cursor.insertText(text.mid(at, count), format);
        at += count;
        // What did not fit goes on in the next block.
        block_chars = at < text.size() ? kMaxBlockChars : block_chars + count;
      }
      if (too_tall) break;
    }
    if (!too_tall) too_tall = !height.EndParagraph();
  }
  cursor.endEditBlock();
}

void LoadRtf(QByteArrayView bytes, QTextDocument& doc, const Limits& limits) {
  FillTextDocument(ParseRtf(std::string_view(bytes.data(), bytes.size()), limits), doc);
}

void LoadRtf(const ByteSource& source, QTextDocument& doc, const Limits& limits) {
  FillTextDocument(ReadRtf(source, limits), doc);
}

}  // namespace glimmerix::rtf
