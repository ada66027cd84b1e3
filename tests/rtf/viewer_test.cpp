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
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <QTimer>

#include "app/rtf/document_viewers.h"
#include "app/rtf/rtf_text_document.h"

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
    int window;
    QString title, text;
    int height, area, ok;
  } expected[] = {{1, "Developers", "about text", 400, 70, 71},
                  {2, "Settings", "help text", 300, 72, 73},
                  {3, "History", "history text", 400, 74, 75}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.window);
    viewers_->Open(e.window);
    QWidget* w = viewers_->Window(e.window);
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

    QTextBrowser* area = viewers_->DocumentArea(e.window);
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->property("gadget").toInt(), e.area);
    EXPECT_EQ(area->geometry(), QRect(2, 2, 496, e.height - 30));
    EXPECT_TRUE(area->isReadOnly());
    EXPECT_EQ(area->toPlainText(), e.text);
    QPushButton* ok = viewers_->OkButton(e.window);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->property("gadget").toInt(), e.ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(210, e.height - 27, 80, 24));

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((w->geometry().center() - screen.center()).manhattanLength(), 2);
  }
  // All three open at once, independently.
  for (int n = 1; n <= 3; ++n) EXPECT_NE(viewers_->Window(n), nullptr);
  viewers_->Open(0);
  viewers_->Open(4);
  EXPECT_EQ(viewers_->Window(4), nullptr);
}

TEST_F(Viewers, MissingOrUnreadableFileGivesAnEmptyViewerWithItsButton) {
  viewers_->Open_Window_1();
  ASSERT_NE(viewers_->Window(1), nullptr);
  EXPECT_TRUE(viewers_->DocumentArea(1)->document()->isEmpty());
  EXPECT_NE(viewers_->OkButton(1), nullptr);

  // Not regular files: a FIFO without a writer (opening it would wait for one) and a folder.
  ASSERT_EQ(mkfifo("help.rtf", 0600), 0);
  ASSERT_TRUE(QDir().mkdir("history.rtf"));
  QElapsedTimer timer;
  timer.start();
  viewers_->Open_Window_2();
  viewers_->Open_Window_3();
  EXPECT_LT(timer.elapsed(), 2000);
  EXPECT_TRUE(viewers_->DocumentArea(2)->document()->isEmpty());
  EXPECT_TRUE(viewers_->DocumentArea(3)->document()->isEmpty());
}

TEST_F(Viewers, OpeningAgainReplacesAndRereads) {
  Write("history.rtf", "{\\rtf1 old}");
  viewers_->Open_Window_3();
  QWidget* first = viewers_->Window(3);
  first->move(10, 10);
  Write("history.rtf", "{\\rtf1 new}");
  viewers_->Open_Window_3();
  Settle();
  ASSERT_NE(viewers_->Window(3), nullptr);
  EXPECT_EQ(viewers_->DocumentArea(3)->toPlainText(), "new");
  EXPECT_EQ(TopLevelsTitled("History"), 1);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((viewers_->Window(3)->geometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(Viewers, OkClosesOnlyItsViewer) {
  viewers_->Open_Window_1();
  viewers_->Open_Window_2();
  QSignalSpy close_requests(viewers_.get(), &DocumentViewers::closeRequested);
  viewers_->OkButton(1)->click();
  Settle();
  EXPECT_EQ(viewers_->Window(1), nullptr);
  EXPECT_EQ(TopLevelsTitled("Developers"), 0);
  ASSERT_NE(viewers_->Window(2), nullptr);
  EXPECT_TRUE(viewers_->Window(2)->isVisible());
  EXPECT_EQ(close_requests.count(), 0);
  viewers_->Close(2);
  viewers_->Close(2);  // closing a closed viewer does nothing
  Settle();
  EXPECT_EQ(viewers_->Window(2), nullptr);
}

TEST_F(Viewers, WindowSystemCloseRequestsAndMovesAreReportedNotActedOn) {
  viewers_->Open_Window_2();
  QWidget* w = viewers_->Window(2);
  QSignalSpy close_requests(viewers_.get(), &DocumentViewers::closeRequested);
  QSignalSpy moves(viewers_.get(), &DocumentViewers::moved);

  QCloseEvent from_user;
  QSpontaneKeyEvent::setSpontaneous(&from_user);  // as the window system delivers it
  static_cast<QObject*>(w)->event(&from_user);
  EXPECT_FALSE(from_user.isAccepted());
  ASSERT_EQ(close_requests.count(), 1);
  EXPECT_EQ(close_requests.at(0).at(0).toInt(), 2);
  EXPECT_TRUE(w->isVisible());

  QMoveEvent moved_by_user(QPoint(5, 5), QPoint(0, 0));
  QSpontaneKeyEvent::setSpontaneous(&moved_by_user);
  static_cast<QObject*>(w)->event(&moved_by_user);
  ASSERT_EQ(moves.count(), 1);
  EXPECT_EQ(moves.at(0).at(0).toInt(), 2);

  // Qt's own close (as when the application quits) just closes, and closing the last visible
  // window does not end the program: only the program's own close path does.
  bool closed = false;
  QTimer::singleShot(0, w, [&] { closed = w->close(); });
  QTimer::singleShot(300, qApp, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 7) << "closing a viewer ended the event loop";
  EXPECT_TRUE(closed);
  EXPECT_EQ(close_requests.count(), 1);
}

TEST_F(Viewers, QuittingTheApplicationIsNoCloseRequest) {
  viewers_->Open_Window_1();
  viewers_->Open_Window_3();
  QSignalSpy close_requests(viewers_.get(), &DocumentViewers::closeRequested);
  QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
  QTimer::singleShot(1000, qApp, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 0) << "a viewer held up quitting";
  EXPECT_EQ(close_requests.count(), 0);
}

TEST_F(Viewers, LongLinesWrapAtTheAreaWidth) {
  QByteArray rtf = "{\\rtf1 ";
  for (int i = 0; i < 200; ++i) rtf += "word ";
  rtf += QByteArray(400, 'x');  // one word longer than the line
  rtf += "}";
  Write("help.rtf", rtf);
  viewers_->Open_Window_2();
  QTextBrowser* area = viewers_->DocumentArea(2);
  QApplication::processEvents();
  EXPECT_EQ(area->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(area->document()->begin().layout()->lineCount(), 5);
  EXPECT_LE(area->document()->idealWidth(), area->viewport()->width());
  // The text is longer than the area: the viewer opens at its top.
  EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(area->verticalScrollBar()->value(), 0);
}

TEST_F(Viewers, HugeDocumentOpensInBoundedTime) {
  // A 40 MB file of one endless paragraph with a format change every few characters: the viewer
  // shows its beginning and stays responsive.
  QByteArray rtf = "{\\rtf1 ";
  while (rtf.size() < (40 << 20)) rtf += "{\\b bold}{\\i italic} plain ";
  Write("history.rtf", rtf);
  QElapsedTimer timer;
  timer.start();
  viewers_->Open_Window_3();
  QApplication::processEvents();
  EXPECT_LT(timer.elapsed(), 10000);
  EXPECT_TRUE(viewers_->DocumentArea(3)->toPlainText().startsWith("bolditalic plain bold"));
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
