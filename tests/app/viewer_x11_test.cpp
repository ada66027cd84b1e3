// The viewers on a real X display (Xvfb in the test services): the window system's close request
// (a WM_DELETE_WINDOW message) closes the viewer, a move of the window is reported.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QWidget>

#include "app/viewers/document_viewers.h"

// Xlib last: its macros (Bool, Status, ...) break Qt headers included after it.
#include <X11/Xlib.h>

namespace glimmerix {
namespace {

// Processes events until done() holds or two seconds have passed.
template <typename Done>
bool WaitFor(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 2000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return done();
}

class X11Viewers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X display";
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  Display* display_ = nullptr;
};

TEST_F(X11Viewers, WindowManagerCloseRequestClosesThatViewerOnly) {
  DocumentViewers viewers;
  viewers.Open(Document::kDevelopers);
  viewers.Open(Document::kSettings);
  QWidget* w = viewers.Window(Document::kSettings);
  ASSERT_NE(w, nullptr);
  QApplication::processEvents();
  const Window x_window = static_cast<Window>(w->winId());

  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = x_window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, x_window, False, NoEventMask, &event);
  XFlush(display_);

  ASSERT_TRUE(WaitFor([&] { return viewers.Window(Document::kSettings) == nullptr; }));
  ASSERT_NE(viewers.Window(Document::kDevelopers), nullptr);
  EXPECT_TRUE(viewers.Window(Document::kDevelopers)->isVisible());
}

TEST_F(X11Viewers, MovingTheWindowIsReported) {
  DocumentViewers viewers;
  viewers.Open(Document::kHistory);
  QWidget* w = viewers.Window(Document::kHistory);
  ASSERT_NE(w, nullptr);
  QApplication::processEvents();
  QSignalSpy moves(&viewers, &DocumentViewers::moved);
  XMoveWindow(display_, static_cast<Window>(w->winId()), 40, 50);
  XFlush(display_);
  ASSERT_TRUE(WaitFor([&] { return !moves.isEmpty(); }));
  EXPECT_EQ(moves.at(0).at(0).toInt(), 3);
}

}  // namespace
}  // namespace glimmerix

int main(int argc, char** argv) {
  // The X display when one can be reached; without it the tests skip (and listing the tests, as
  // the build does, never needs it).
  bool x_display = false;
  if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
    if (Display* d = XOpenDisplay(nullptr)) {
      x_display = true;
      XCloseDisplay(d);
    }
  }
  qputenv("QT_QPA_PLATFORM", x_display ? "xcb" : "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
