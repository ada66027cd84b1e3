// The viewers and the QTextDocument conversion, on Qt's offscreen platform (no display needed).
#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>
#include <sys/stat.h>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMoveEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextLayout>
#include <QTimer>

#include <fstream>
#include <random>
#include <string>

#include "app/viewers/document_viewers.h"
#include "app/viewers/rtf_text_document.h"

namespace glimmerix {
namespace {

// The first fragment of doc whose text contains needle.
QTextCharFormat FormatOf(const QTextDocument& doc, const QString& needle) {
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      if (it.fragment().text().contains(needle)) return it.fragment().charFormat();
    }
  }
  ADD_FAILURE() << "no fragment holds " << needle.toStdString();
  return {};
}

TEST(RtfTextDocument, FormatsReachTheDocument) {
  QTextDocument doc;
  rtf::LoadRtf(
      "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0 Arial;}{\\f1 Courier New;}}"
      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
      "\\qc\\b\\fs32 Head\\b0\\par\\pard\\qr\\li300\\tx1500 \\cf2 blue\\cf0  \\i it\\i0  "
      "\\ul undr\\ulnone  {\\f1 mono}\\cf7  badcolour \\highlight1 hl\\highlight0  "
      "\\super x\\nosupersub  base\\line b \\'cf\\par}",
      doc);
  ASSERT_EQ(doc.blockCount(), 2);
  EXPECT_EQ(doc.begin().text(), "Head");
  EXPECT_TRUE(doc.begin().blockFormat().alignment() & Qt::AlignHCenter);
  const QTextBlock second = doc.begin().next();
  EXPECT_TRUE(second.blockFormat().alignment() & Qt::AlignRight);
  EXPECT_DOUBLE_EQ(second.blockFormat().leftMargin(), 20.0);  // 300 twips at 96 dpi
  ASSERT_EQ(second.blockFormat().tabPositions().size(), 1);
  EXPECT_DOUBLE_EQ(second.blockFormat().tabPositions()[0].position, 80.0);  // from the indent
  EXPECT_TRUE(second.text().contains(QChar(QChar::LineSeparator)));
  EXPECT_TRUE(second.text().endsWith(QString::fromUtf8("b П")));

  const QTextCharFormat head = FormatOf(doc, "Head");
  EXPECT_EQ(head.fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(head.fontPointSize(), 16.0);
  EXPECT_EQ(head.fontFamilies().toStringList(), QStringList{"Arial"});
  EXPECT_EQ(FormatOf(doc, "blue").foreground().color(), QColor(0, 0, 255));
  EXPECT_TRUE(FormatOf(doc, "it").fontItalic());
  EXPECT_TRUE(FormatOf(doc, "undr").fontUnderline());
  EXPECT_EQ(FormatOf(doc, "mono").fontFamilies().toStringList(), QStringList{"Courier New"});
  // A colour index past the table keeps the default colour.
  EXPECT_FALSE(FormatOf(doc, "badcolour").hasProperty(QTextFormat::ForegroundBrush));
  EXPECT_EQ(FormatOf(doc, "hl").background().color(), QColor(255, 0, 0));
  EXPECT_EQ(FormatOf(doc, "x").verticalAlignment(), QTextCharFormat::AlignSuperScript);
  EXPECT_EQ(FormatOf(doc, "base").verticalAlignment(), QTextCharFormat::AlignNormal);
}

// The shipped History: each bullet's text starts where the item's wrapped lines start, as word
// processors show "\\fi-240\\li360\\bullet\\tab" (the hanging indent is a tab stop of its own).
TEST(RtfTextDocument, BulletTextLinesUpWithTheItemsWrappedLines) {
  QFile file(QStringLiteral(GLIMMERIX_DOCS_DIR "/history.rtf"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QTextDocument doc;
  rtf::LoadRtf(file.readAll(), doc);
  doc.setTextWidth(300);  // narrow, so that items wrap
  doc.size();
  int bullets = 0;
  int wrapped = 0;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    if (!b.text().startsWith(QString::fromUtf8("\u2022\t"))) continue;
    SCOPED_TRACE(b.text().toStdString());
    ++bullets;
    EXPECT_DOUBLE_EQ(b.blockFormat().leftMargin(), 24.0);   // 360 twips
    EXPECT_DOUBLE_EQ(b.blockFormat().textIndent(), -16.0);  // -240 twips
    const QTextLayout* layout = b.layout();
    ASSERT_GE(layout->lineCount(), 1);
    const QTextLine first = layout->lineAt(0);
    EXPECT_DOUBLE_EQ(first.x(), 8.0);          // the bullet hangs out by the first-line indent
    const double text_x = first.cursorToX(2);  // after "bullet, tab"
    EXPECT_NEAR(text_x, 24.0, 0.5);
    if (layout->lineCount() > 1) {
      ++wrapped;
      EXPECT_DOUBLE_EQ(layout->lineAt(1).x(), 24.0);
    }
  }
  EXPECT_EQ(bullets, 7);
  EXPECT_GE(wrapped, 2);
  // Explicit stops before the left indent keep their place; the hanging indent comes after them.
  QTextDocument stops;
  rtf::LoadRtf("{\\rtf1\\li1500\\fi-1500\\tx600\\tx3000 a\\tab b\\tab c\\tab d}", stops);
  QList<qreal> positions;
  for (const QTextOption::Tab& tab : stops.begin().blockFormat().tabPositions()) {
    positions.append(tab.position);
  }
  EXPECT_EQ(positions, (QList<qreal>{40, 100, 200}));
}

// Characters of block b's text from the start of the longest stretch without a place to break.
int LongestUnbrokenStretch(const QString& text) {
  int longest = 0;
  int stretch = 0;
  for (const QChar c : text) {
    const bool breaks = c == u' ' || c == u'\t' || c == QChar(0x200B) || c == QChar(0x2028);
    stretch = breaks ? 0 : stretch + 1;
    longest = std::max(longest, stretch);
  }
  return longest;
}

// Qt's layout crawls on a huge word (quadratic in its length), lays out a huge paragraph whole
// at every width change, and never finishes a document taller than about 2^23 pixels: the
// document is built so that none of these happens, whatever the model.
TEST(RtfTextDocument, HugeWordsParagraphsAndHeightsAreBoundedForTheLayout) {
  // One word of a million letters (the limit keeps a quarter of it).
  QTextDocument word;
  rtf::LoadRtf("{\\rtf1 " + QByteArray(1 << 20, 'a') + " end}", word);
  qsizetype letters = 0;
  for (QTextBlock b = word.begin(); b.isValid(); b = b.next()) {
    EXPECT_LE(b.length(), 16385);
    EXPECT_LE(LongestUnbrokenStretch(b.text()), 256);
    letters += b.text().count(u'a');
    EXPECT_EQ(b.blockFormat().topMargin(), 0.0);
  }
  EXPECT_GT(word.blockCount(), 4);
  EXPECT_EQ(letters, 1 << 18);  // what the reader kept, nothing lost in the conversion
  // Words as long as real ones are left whole.
  QTextDocument words;
  rtf::LoadRtf("{\\rtf1 " + QByteArray(200, 'b') + " " + QByteArray(256, 'c') + "}", words);
  EXPECT_EQ(words.toPlainText(), QString(200, 'b') + " " + QString(256, 'c'));

  // A long paragraph of ordinary words goes on in further blocks, split between words, with the
  // paragraph's spacing outside and its first-line indent on the first part only.
  QByteArray long_paragraph = "{\\rtf1\\fi200\\sb100\\sa100 ";
  for (int i = 0; i < 5000; ++i) long_paragraph += "word ";
  QTextDocument paragraph;
  rtf::LoadRtf(long_paragraph + "}", paragraph);
  ASSERT_GE(paragraph.blockCount(), 2);
  const QTextBlock first = paragraph.begin();
  const QTextBlock last = paragraph.lastBlock();
  EXPECT_TRUE(first.text().endsWith(u' '));
  EXPECT_TRUE(first.next().text().startsWith(u'w'));
  EXPECT_GT(first.blockFormat().textIndent(), 0.0);
  EXPECT_GT(first.blockFormat().topMargin(), 0.0);
  EXPECT_EQ(first.blockFormat().bottomMargin(), 0.0);
  EXPECT_EQ(last.blockFormat().textIndent(), 0.0);
  EXPECT_EQ(last.blockFormat().topMargin(), 0.0);
  EXPECT_GT(last.blockFormat().bottomMargin(), 0.0);
  EXPECT_EQ(paragraph.toPlainText().remove(u'\n').size(), 5000 * 5);

  // Tall documents: 200000 line breaks, a huge font, huge paragraph spacing. Each is cut short
  // before it is laid out, and the layout stays far below the height where Qt's stops working.
  const struct {
    QByteArray rtf;
    int chars;  // the characters of its text
  } tall_documents[] = {
      {"{\\rtf1 " + QByteArray("x\\line ").repeated(200000) + "}", 400000},
      {"{\\rtf1\\fs3276 " + QByteArray("a ").repeated(100000) + "}", 200000},
      {"{\\rtf1 " + QByteArray("\\sb30000 p\\par ").repeated(19000) + "}", 38000},
  };
  for (const auto& [rtf, chars] : tall_documents) {
    QTextDocument tall;
    rtf::LoadRtf(rtf, tall);
    tall.setTextWidth(470);
    ASSERT_LT(tall.characterCount(), chars / 2) << "not cut short: its layout would not finish";
    EXPECT_GT(tall.characterCount(), 100);
    EXPECT_LT(tall.size().height(), 1 << 22);
  }

  // Combining marks stacked on one letter: 30 are kept, the rest of the blot is left out.
  QTextDocument marks;
  rtf::LoadRtf("{\\rtf1 a" + QByteArray("\\u769?").repeated(5000) + " b\\u769?}", marks);
  EXPECT_EQ(marks.toPlainText(),
            "a" + QString(30, QChar(0x0301)) + " b" + QString(1, QChar(0x0301)));
}

// A field of /proc/self/status ("VmRSS", "VmHWM") or /proc/self/io ("rchar"), as a number.
long long ProcField(const char* file, const std::string& field) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with(field + ":")) return std::stoll(line.substr(field.size() + 1));
  }
  ADD_FAILURE() << "no " << field << " in " << file;
  return -1;
}

// Each test runs in a fresh current folder, as the viewers read their files by bare name.
class Viewers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    old_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  }
  void TearDown() override {
    viewers_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QDir::setCurrent(old_);
  }
  static void Write(const char* name, const QByteArray& bytes) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static void Settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
  static int TopLevelsTitled(const QString& title) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) n += w->windowTitle() == title;
    return n;
  }

  QTemporaryDir dir_;
  QString old_;
  std::unique_ptr<DocumentViewers> viewers_ = std::make_unique<DocumentViewers>();
};

TEST_F(Viewers, EachViewerHasItsTitleFileAndLayout) {
  Write("about.rtf", "{\\rtf1 about text}");
  Write("help.rtf", "{\\rtf1 help text}");
  Write("history.rtf", "{\\rtf1 history text}");
  const struct {
    Document document;
    QString title, text;
    int height, area, ok;
  } expected[] = {{Document::kDevelopers, "Developers", "about text", 400, 70, 71},
                  {Document::kSettings, "Settings", "help text", 300, 72, 73},
                  {Document::kHistory, "History", "history text", 400, 74, 75}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.title.toStdString());
    viewers_->Open(e.document);
    QWidget* w = viewers_->Window(e.document);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->parentWidget(), nullptr);
    EXPECT_EQ(w->windowTitle(), e.title);
    EXPECT_EQ(w->size(), QSize(500, e.height));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());  // not resizable
    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);

    QTextBrowser* area = viewers_->DocumentArea(e.document);
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->property("gadget").toInt(), e.area);
    EXPECT_EQ(area->geometry(), QRect(2, 2, 496, e.height - 30));
    EXPECT_TRUE(area->isReadOnly());
    EXPECT_EQ(area->toPlainText(), e.text);
    QPushButton* ok = viewers_->OkButton(e.document);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->property("gadget").toInt(), e.ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(210, e.height - 27, 80, 24));

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((w->geometry().center() - screen.center()).manhattanLength(), 2);
  }
  // All three open at once, independently.
  for (const ViewerLayout& layout : kViewerLayouts)
    EXPECT_NE(viewers_->Window(layout.document), nullptr);
  viewers_->Open(static_cast<Document>(0));
  viewers_->Open(static_cast<Document>(4));
  EXPECT_EQ(viewers_->Window(static_cast<Document>(4)), nullptr);
}

TEST_F(Viewers, MissingOrUnreadableFileGivesAnEmptyViewerWithItsButton) {
  viewers_->Open(Document::kDevelopers);
  ASSERT_NE(viewers_->Window(Document::kDevelopers), nullptr);
  EXPECT_TRUE(viewers_->DocumentArea(Document::kDevelopers)->document()->isEmpty());
  EXPECT_NE(viewers_->OkButton(Document::kDevelopers), nullptr);

  // Not regular files: a FIFO without a writer (opening it would wait for one) and a folder.
  ASSERT_EQ(mkfifo("help.rtf", 0600), 0);
  ASSERT_TRUE(QDir().mkdir("history.rtf"));
  QElapsedTimer timer;
  timer.start();
  viewers_->Open(Document::kSettings);
  viewers_->Open(Document::kHistory);
  EXPECT_LT(timer.elapsed(), 2000);
  EXPECT_TRUE(viewers_->DocumentArea(Document::kSettings)->document()->isEmpty());
  EXPECT_TRUE(viewers_->DocumentArea(Document::kHistory)->document()->isEmpty());
}

TEST_F(Viewers, OpeningAgainReplacesAndRereads) {
  Write("history.rtf", "{\\rtf1 old}");
  viewers_->Open(Document::kHistory);
  QWidget* first = viewers_->Window(Document::kHistory);
  first->move(10, 10);
  Write("history.rtf", "{\\rtf1 new}");
  viewers_->Open(Document::kHistory);
  Settle();
  ASSERT_NE(viewers_->Window(Document::kHistory), nullptr);
  EXPECT_EQ(viewers_->DocumentArea(Document::kHistory)->toPlainText(), "new");
  EXPECT_EQ(TopLevelsTitled("History"), 1);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((viewers_->Window(Document::kHistory)->geometry().center() - screen.center())
                .manhattanLength(),
            2);
}

TEST_F(Viewers, OkClosesOnlyItsViewer) {
  viewers_->Open(Document::kDevelopers);
  viewers_->Open(Document::kSettings);
  viewers_->OkButton(Document::kDevelopers)->click();
  Settle();
  EXPECT_EQ(viewers_->Window(Document::kDevelopers), nullptr);
  EXPECT_EQ(TopLevelsTitled("Developers"), 0);
  ASSERT_NE(viewers_->Window(Document::kSettings), nullptr);
  EXPECT_TRUE(viewers_->Window(Document::kSettings)->isVisible());
  viewers_->Close(Document::kSettings);
  viewers_->Close(Document::kSettings);  // closing a closed viewer does nothing
  Settle();
  EXPECT_EQ(viewers_->Window(Document::kSettings), nullptr);
}

TEST_F(Viewers, ACloseRequestOrEscapeClosesOnlyThatViewerAndTheProgramRuns) {
  viewers_->Open(Document::kDevelopers);
  viewers_->Open(Document::kSettings);
  viewers_->Open(Document::kHistory);

  // A close request from the window system (close box, Alt+F4).
  QCloseEvent from_user;
  QSpontaneKeyEvent::setSpontaneous(&from_user);  // as the window system delivers it
  static_cast<QObject*>(viewers_->Window(Document::kSettings))->event(&from_user);
  EXPECT_FALSE(from_user.isAccepted());  // Close() does the closing
  Settle();
  EXPECT_EQ(viewers_->Window(Document::kSettings), nullptr);
  EXPECT_EQ(TopLevelsTitled("Settings"), 0);

  // Escape, wherever the focus is in the viewer; with a modifier it is not ours.
  QTest::keyClick(viewers_->DocumentArea(Document::kHistory), Qt::Key_Escape, Qt::ShiftModifier);
  Settle();
  ASSERT_NE(viewers_->Window(Document::kHistory), nullptr);
  QTest::keyClick(viewers_->DocumentArea(Document::kHistory), Qt::Key_Escape);
  Settle();
  EXPECT_EQ(viewers_->Window(Document::kHistory), nullptr);
  ASSERT_NE(viewers_->Window(Document::kDevelopers), nullptr);
  EXPECT_TRUE(viewers_->Window(Document::kDevelopers)->isVisible());

  // Closing viewers never ends the event loop: only the program's own close path does.
  QTimer::singleShot(0, viewers_->Window(Document::kDevelopers), [this] {
    QCloseEvent again;
    QSpontaneKeyEvent::setSpontaneous(&again);
    static_cast<QObject*>(viewers_->Window(Document::kDevelopers))->event(&again);
  });
  QTimer::singleShot(300, qApp, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 7) << "closing a viewer ended the event loop";
  EXPECT_EQ(viewers_->Window(Document::kDevelopers), nullptr);
}

TEST_F(Viewers, MovesAreReportedAndQtsOwnCloseJustCloses) {
  viewers_->Open(Document::kSettings);
  QWidget* w = viewers_->Window(Document::kSettings);
  QSignalSpy moves(viewers_.get(), &DocumentViewers::moved);
  QMoveEvent moved_by_user(QPoint(5, 5), QPoint(0, 0));
  QSpontaneKeyEvent::setSpontaneous(&moved_by_user);
  static_cast<QObject*>(w)->event(&moved_by_user);
  ASSERT_EQ(moves.count(), 1);
  EXPECT_EQ(moves.at(0).at(0).toInt(), 2);

  // Qt's own close (as when the application quits) just closes, and closing the last visible
  // window does not end the program.
  bool closed = false;
  QTimer::singleShot(0, w, [&] { closed = w->close(); });
  QTimer::singleShot(300, qApp, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 7) << "closing a viewer ended the event loop";
  EXPECT_TRUE(closed);
}

TEST_F(Viewers, QuittingTheApplicationIsNotHeldUpByViewers) {
  viewers_->Open(Document::kDevelopers);
  viewers_->Open(Document::kHistory);
  QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
  QTimer::singleShot(1000, qApp, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 0) << "a viewer held up quitting";
}

TEST_F(Viewers, LongLinesWrapAtTheAreaWidth) {
  QByteArray rtf = "{\\rtf1 ";
  for (int i = 0; i < 200; ++i) rtf += "word ";
  rtf += QByteArray(400, 'x');  // one word longer than the line
  rtf += "}";
  Write("help.rtf", rtf);
  viewers_->Open(Document::kSettings);
  QTextBrowser* area = viewers_->DocumentArea(Document::kSettings);
  QApplication::processEvents();
  EXPECT_EQ(area->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(area->document()->begin().layout()->lineCount(), 5);
  EXPECT_LE(area->document()->idealWidth(), area->viewport()->width());
  // The text is longer than the area: the viewer opens at its top.
  EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(area->verticalScrollBar()->value(), 0);
}

TEST_F(Viewers, OpeningAHugeFileReadsAndKeepsOnlyWhatTheViewerShows) {
  // 48 MB of random bytes (not RTF: read as text). Only as much is read as the reader's limits
  // let it keep, and memory stays far below the file's size.
  {
    QFile f("help.rtf");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    std::mt19937 random(7);
    QByteArray chunk(1 << 20, '\0');
    for (int i = 0; i < 48; ++i) {
      for (char& c : chunk) c = static_cast<char>(random());
      ASSERT_EQ(f.write(chunk), chunk.size());
    }
  }
  const long long read_before = ProcField("/proc/self/io", "rchar");
  const long long rss_before = ProcField("/proc/self/status", "VmRSS");
  {
    std::ofstream reset_peak("/proc/self/clear_refs");
    reset_peak << "5";
  }
  viewers_->Open(Document::kSettings);
  QApplication::processEvents();
  const long long read = ProcField("/proc/self/io", "rchar") - read_before;
  const long long peak_growth_kb = ProcField("/proc/self/status", "VmHWM") - rss_before;
  ASSERT_NE(viewers_->Window(Document::kSettings), nullptr);
  EXPECT_GT(viewers_->DocumentArea(Document::kSettings)->document()->characterCount(), 100000);
  EXPECT_LT(read, 4 << 20) << "bytes read";
  EXPECT_LT(peak_growth_kb, 100 << 10) << "kB more memory at the peak";
}

TEST_F(Viewers, HugeDocumentOpensInBoundedTime) {
  // A 40 MB file of one endless paragraph with a format change every few characters: the viewer
  // shows its beginning and stays responsive.
  QByteArray rtf = "{\\rtf1 ";
  while (rtf.size() < (40 << 20)) rtf += "{\\b bold}{\\i italic} plain ";
  Write("history.rtf", rtf);
  QElapsedTimer timer;
  timer.start();
  viewers_->Open(Document::kHistory);
  QApplication::processEvents();
  EXPECT_LT(timer.elapsed(), 10000);
  EXPECT_TRUE(viewers_->DocumentArea(Document::kHistory)
                  ->toPlainText()
                  .startsWith("bolditalic plain bold"));
}

}  // namespace
}  // namespace glimmerix

int main(int argc, char** argv) {
  // No display is needed: the viewers are laid out on Qt's offscreen platform.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
