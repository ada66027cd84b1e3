// The controller's state as the main window shows it: "USBON"/"USBOFF" in colours readable on the
// window's background, orange with a tool tip that says what is wrong and how to mend it while the
// controller is present but cannot be used.
#include <QLabel>
#include <cmath>

#include "app/shell/main_window.h"
#include "gtest/gtest.h"
#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"
#include "tests/support/fake_hid_tree.h"

namespace glimmerix::shell {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, Node, kVid, kPid

// WCAG 2 contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto channel = [](int v) {
      const double s = v / 255.0;
      return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(StatusLabel, EveryIndicatorColourIsReadableOnTheWindowsBackground) {
  ControlTable table;
  MainWindow window(table);
  auto* status = qobject_cast<QLabel*>(window.widget(gadget::kStatusText));
  const QColor background = status->palette().color(QPalette::Window);
  for (const Rgb c : {ControllerIndicator::kOnColour, ControllerIndicator::kTroubleColour,
                      ControllerIndicator::kOffColour}) {
    const QColor colour(c.r, c.g, c.b);
    std::printf("%s on %s: %.2f:1\n", qPrintable(colour.name()), qPrintable(background.name()),
                Contrast(colour, background));
    EXPECT_GE(Contrast(colour, background), 3.0) << qPrintable(colour.name());
  }
}

TEST(StatusLabel, ControllerThatCannotBeOpenedShowsOrangeWithTheReasonUntilItIsUsable) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid, 0x0100, Node::kFolder);
  ControlTable table;
  EngineShared shared;
  ControllerIndicator indicator(table, shared);
  UsbController usb(indicator);
  usb.USB_VID = kVid;
  usb.USB_PID = kPid;
  MainWindow window(table);
  auto* status = qobject_cast<QLabel*>(window.widget(gadget::kStatusText));
  auto colour = [&] { return status->palette().color(QPalette::WindowText); };

  usb.CheckPresence();
  window.Refresh(gadget::kStatusText);
  EXPECT_EQ(status->text(), "USBON");
  EXPECT_EQ(colour(), QColor(192, 96, 0));
  const QString tip = status->toolTip();
  EXPECT_TRUE(tip.startsWith(
      QString::fromStdString("cannot open " + tree.NodePath(0).string() + ": Is a directory\n")))
      << tip.toStdString();
  EXPECT_TRUE(tip.contains("plug it in again")) << tip.toStdString();

  tree.Remove(0);
  usb.CheckPresence();
  window.Refresh(gadget::kStatusText);
  EXPECT_EQ(status->text(), "USBOFF");
  EXPECT_EQ(colour(), QColor(255, 0, 0));
  EXPECT_EQ(status->toolTip(), "");

  tree.Add(0, kVid, kPid);
  usb.CheckPresence();
  window.Refresh(gadget::kStatusText);
  EXPECT_EQ(status->text(), "USBON");
  EXPECT_EQ(colour(), QColor(0, 125, 0));
  EXPECT_EQ(status->toolTip(), "");
}

}  // namespace
}  // namespace glimmerix::shell
