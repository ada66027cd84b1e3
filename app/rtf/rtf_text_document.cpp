#include "app/rtf/rtf_text_document.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <string_view>

namespace glimmerix::rtf {
namespace {

constexpr double kTwipsPerPixel = 15.0;  // 1440 twips an inch, 96 pixels an inch

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
    // RTF measures tab stops from the left margin, Qt from where the line starts: convert for the
    // first line, whose start the indents give (the usual hanging-indent list lines up).
    const int line_start = p.left_indent_twips + p.first_line_twips;
    QList<QTextOption::Tab> tabs;
    for (int i = 0; i < p.tab_stop_count; ++i) {
      if (p.tab_stops_twips[i] > line_start) {
        tabs.append(QTextOption::Tab((p.tab_stops_twips[i] - line_start) / kTwipsPerPixel,
                                     QTextOption::LeftTab));
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

}  // namespace

void FillTextDocument(const Document& model, QTextDocument& doc) {
  doc.clear();
  doc.setUndoRedoEnabled(false);
  Converter convert(model);
  QTextCursor cursor(&doc);
  cursor.beginEditBlock();
  bool first = true;
  for (const Paragraph& paragraph : model.paragraphs) {
    const QTextBlockFormat block = Converter::Block(paragraph.format);
    const QTextCharFormat end = convert.Char(paragraph.end_format);
    if (first) {
      cursor.setBlockFormat(block);
      cursor.setBlockCharFormat(end);
      first = false;
    } else {
      cursor.insertBlock(block, end);
    }
    for (const TextRun& run : paragraph.runs) {
      cursor.insertText(QString::fromUcs4(run.text.data(), static_cast<qsizetype>(run.text.size())),
                        convert.Char(run.format));
    }
  }
  cursor.endEditBlock();
}

void LoadRtf(QByteArrayView bytes, QTextDocument& doc, const Limits& limits) {
  FillTextDocument(ParseRtf(std::string_view(bytes.data(), bytes.size()), limits), doc);
}

}  // namespace glimmerix::rtf
