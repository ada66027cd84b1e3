#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <set>

#include "app/shell/main_window.h"
#include "gtest/gtest.h"
#include "program/window_layout.h"

namespace glimmerix::shell {
namespace {

TEST(WindowLayout, EveryControlOnceWithTheEnginesKindAndTheNarrowFormHoldingTheEverydayOnes) {
  std::set<int> seen;
  int wide_only = 0;
  for (const ControlDef& c : MainWindowControls()) {
    EXPECT_TRUE(seen.insert(c.gadget).second) << "gadget " << c.gadget << " twice";
    EXPECT_EQ(c.kind, KindOf(c.gadget)) << "gadget " << c.gadget;
    EXPECT_GT(c.w, 0);
    EXPECT_GT(c.h, 0);
    const bool wide = c.x >= kNarrowWidth;
    const bool expected_wide =
        c.gadget == gadget::kPresetList || c.gadget == gadget::kInvertCheck ||
        c.gadget == gadget::kCaption ||
        (c.gadget >= gadget::kFirstOutputList && c.gadget <= gadget::kLastOutputList) ||
        (c.gadget >= gadget::kFirstPinLabel && c.gadget <= gadget::kLastPinLabel);
    EXPECT_EQ(wide, expected_wide) << "gadget " << c.gadget;
    if (wide)
      ++wide_only;
    else
      EXPECT_LE(c.x + c.w, kNarrowWidth) << "gadget " << c.gadget;
  }
  // status, 18 bars, 3 buttons, 4 bars, 3 boxes, "<>", caption, presets, 18 labels, 18 lists,
  // 18 columns.
  EXPECT_EQ(seen.size(), 86u);
  EXPECT_EQ(wide_only, 3 + 18 + 18);
  EXPECT_EQ(MainWindowControls().front().gadget, gadget::kStatusText);
  EXPECT_EQ(MainWindowControls().back().gadget, gadget::kLastColumn);
}

TEST(WindowLayout, BandBarsColumnsPinsAndListsStandWhereTheirNumbersSay) {
  for (int n = 1; n <= kChannels; ++n) {
    const ControlDef* bar = FindControl(n);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->x, 10 + 9 * (n - 1));
    EXPECT_TRUE(bar->vertical);
    EXPECT_EQ(bar->tooltip, BandLabel(n));
    const ControlDef* column = FindControl(gadget::kFirstColumn + n - 1);
    EXPECT_EQ(column->x, bar->x);
    EXPECT_EQ(column->y, 5);
    EXPECT_EQ(column->w, ColumnPicture::kWidth);
    EXPECT_EQ(column->h, ColumnPicture::kHeight);
  }
  EXPECT_EQ(BandLabel(1), "13 Hz");
  EXPECT_EQ(BandLabel(18), "10250 Hz");
  // OUTn's list and its pin label share a row: left column 1..9, right column 10..18.
  for (int out = 1; out <= kChannels; ++out) {
    const ControlDef* list = FindControl(gadget::kFirstOutputList + out - 1);
    const int row = (out - 1) % 9;
    const int label_gadget = gadget::kFirstPinLabel + 2 * row + (out <= 9 ? 0 : 1);
    const ControlDef* label = FindControl(label_gadget);
    EXPECT_EQ(label->caption, PinName(out));
    EXPECT_EQ(list->y, 5 + 20 * row);
    EXPECT_EQ(label->y, 9 + 20 * row);
    EXPECT_EQ(list->x, label->x + 24);
  }
  EXPECT_EQ(PinName(3), "PD3");
  EXPECT_EQ(PinName(10), "PB3");
  EXPECT_EQ(FindControl(gadget::kCaption)->x + FindControl(gadget::kCaption)->w, 335);
  EXPECT_EQ(FindControl(2000), nullptr);
}

TEST(MainWindow, StartsHiddenNarrowFixedAndWithoutMaximise) {
  ControlTable table;
  MainWindow window(table);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Glimmerix");
  EXPECT_EQ(window.size(), QSize(kNarrowWidth, kInnerHeight));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);

  window.ToggleWidth();
  EXPECT_EQ(window.size(), QSize(kWideWidth, kInnerHeight));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  window.ToggleWidth();
  EXPECT_EQ(window.size(), QSize(kNarrowWidth, kInnerHeight));

  // Minimising is reported (the program then hides the window).
  QSignalSpy minimised(&window, &MainWindow::minimised);
  window.show();
  window.setWindowState(Qt::WindowMinimized);
  EXPECT_EQ(minimised.count(), 1);
}

TEST(MainWindow, WidgetsShowTheTablesStartValuesRangesAndEntries) {
  ControlTable table;
  MainWindow window(table);
  for (int n = 1; n <= kChannels; ++n) {
    auto* bar = qobject_cast<QScrollBar*>(window.widget(n));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->orientation(), Qt::Vertical);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 39);
    EXPECT_EQ(bar->pageStep(), 1);
    EXPECT_EQ(bar->value(), 15);
    EXPECT_EQ(bar->toolTip().toStdString(), BandLabel(n));
  }
  auto bar = [&](int g) { return qobject_cast<QScrollBar*>(window.widget(g)); };
  EXPECT_EQ(bar(gadget::kBrightBar)->maximum(), 15);
  EXPECT_EQ(bar(gadget::kBrightBar)->value(), 11);
  EXPECT_EQ(bar(gadget::kStepBar)->maximum(), 255);
  EXPECT_EQ(bar(gadget::kStepBar)->pageStep(), 10);
  EXPECT_EQ(bar(gadget::kAgcBar)->minimum(), 1);
  EXPECT_EQ(bar(gadget::kLevelBar)->value(), 35);
  EXPECT_TRUE(qobject_cast<QCheckBox*>(window.widget(gadget::kKeyCheck))->isChecked());
  EXPECT_TRUE(qobject_cast<QCheckBox*>(window.widget(gadget::kLptCheck))->isChecked());
  EXPECT_FALSE(qobject_cast<QCheckBox*>(window.widget(gadget::kInvertCheck))->isChecked());
  for (int g = gadget::kFirstOutputList; g <= gadget::kLastOutputList; ++g) {
    auto* list = qobject_cast<QComboBox*>(window.widget(g));
    ASSERT_EQ(list->count(), kOutputListEntries);
    EXPECT_EQ(list->itemText(0), "No");
    EXPECT_EQ(list->itemText(18), "18");
    EXPECT_EQ(list->currentIndex(), -1);
  }
  auto* status = qobject_cast<QLabel*>(window.widget(gadget::kStatusText));
  EXPECT_EQ(status->text(), "USBOFF");
  EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(window.button(gadget::kWidthButton)->text(), "<>");
  EXPECT_EQ(window.button(gadget::kKeyCheck)->text(), "Key");
  EXPECT_EQ(window.button(gadget::kFirstBandBar), nullptr);
}

TEST(MainWindow, TableChangesReachTheWidgetsClampedAndWithoutEchoingAsUserEvents) {
  ControlTable table;
  MainWindow window(table);
  QSignalSpy events(&window, &MainWindow::gadgetEvent);

  table.set_value(4, 45);
  table.set_value(gadget::kAgcBar, 0);
  table.set_value(gadget::kBrightBar, 18);
  table.set_value(gadget::kKeyCheck, 0);
  table.set_value(gadget::kFirstOutputList, 7);
  table.set_value(gadget::kFirstOutputList + 1, 19);
  table.set_preset_entries({"Disco", "Calm"});
  table.set_value(gadget::kPresetList, 1);
  table.set_status("USBON", {15, 255, 0});
  window.RefreshAll();

  EXPECT_EQ(qobject_cast<QScrollBar*>(window.widget(4))->value(), 39);
  EXPECT_EQ(qobject_cast<QScrollBar*>(window.widget(gadget::kAgcBar))->value(), 1);
  EXPECT_EQ(qobject_cast<QScrollBar*>(window.widget(gadget::kBrightBar))->value(), 15);
  EXPECT_FALSE(qobject_cast<QCheckBox*>(window.widget(gadget::kKeyCheck))->isChecked());
  EXPECT_EQ(qobject_cast<QComboBox*>(window.widget(gadget::kFirstOutputList))->currentIndex(), 7);
  EXPECT_EQ(qobject_cast<QComboBox*>(window.widget(gadget::kFirstOutputList + 1))->currentIndex(),
            -1);
  auto* presets = qobject_cast<QComboBox*>(window.widget(gadget::kPresetList));
  EXPECT_EQ(presets->count(), 2);
  EXPECT_EQ(presets->currentText(), "Calm");
  auto* status = qobject_cast<QLabel*>(window.widget(gadget::kStatusText));
  EXPECT_EQ(status->text(), "USBON");
  EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(15, 255, 0));
  EXPECT_EQ(events.count(), 0);
}

TEST(MainWindow, TheUsersChangesGoIntoTheTableThenRaiseTheirGadgetsEvent) {
  ControlTable table;
  MainWindow window(table);
  QSignalSpy events(&window, &MainWindow::gadgetEvent);

  qobject_cast<QScrollBar*>(window.widget(gadget::kStepBar))
      ->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(table.value(gadget::kStepBar), 50);
  qobject_cast<QCheckBox*>(window.widget(gadget::kLptCheck))->click();
  EXPECT_EQ(table.value(gadget::kLptCheck), 0);
  window.button(gadget::kRndButton)->click();
  auto* list = qobject_cast<QComboBox*>(window.widget(gadget::kFirstOutputList + 3));
  emit list->activated(12);
  EXPECT_EQ(table.value(gadget::kFirstOutputList + 3), 12);

  ASSERT_EQ(events.count(), 4);
  EXPECT_EQ(events[0][0].toInt(), gadget::kStepBar);
  EXPECT_EQ(events[1][0].toInt(), gadget::kLptCheck);
  EXPECT_EQ(events[2][0].toInt(), gadget::kRndButton);
  EXPECT_EQ(events[3][0].toInt(), gadget::kFirstOutputList + 3);
}

TEST(MainWindow, EveryActionOnBrightAndStepIsAnEventEvenAtTheBarsEnd) {
  ControlTable table;
  MainWindow window(table);
  QSignalSpy events(&window, &MainWindow::gadgetEvent);
  auto* bright = qobject_cast<QScrollBar*>(window.widget(gadget::kBrightBar));
  auto* step = qobject_cast<QScrollBar*>(window.widget(gadget::kStepBar));

  // A click on the right arrow of a bar already at its end: no value change, still an event.
  bright->setValue(bright->maximum());
  table.set_value(gadget::kBrightBar, bright->maximum());
  events.clear();
  window.show();
  const QPoint right_arrow(bright->width() - 3, bright->height() / 2);
  QTest::mouseClick(bright, Qt::LeftButton, {}, right_arrow);
  ASSERT_EQ(events.count(), 1);
  EXPECT_EQ(events[0][0].toInt(), gadget::kBrightBar);
  EXPECT_EQ(table.value(gadget::kBrightBar), 15);

  // One step that changes the value is one event, not two, and the table follows.
  step->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  ASSERT_EQ(events.count(), 2);
  EXPECT_EQ(events[1][0].toInt(), gadget::kStepBar);
  EXPECT_EQ(table.value(gadget::kStepBar), step->value());

  // A value set without an action (the bar's "Scroll here") is still the user's change.
  step->setValue(200);
  ASSERT_EQ(events.count(), 3);
  EXPECT_EQ(table.value(gadget::kStepBar), 200);

  // The other bars keep to real changes: a Level bar at its end gives no event.
  auto* level = qobject_cast<QScrollBar*>(window.widget(gadget::kLevelBar));
  level->setValue(level->minimum());
  events.clear();
  level->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(events.count(), 0);
}

TEST(MainWindow, OnlyTheModeInForceIsPressedIn) {
  ControlTable table;
  MainWindow window(table);
  const int buttons[] = {gadget::kManualButton, gadget::kAutoButton, gadget::kRndButton};
  for (int mode : {0, 1, 2, 3, 7}) {
    window.ShowMode(mode);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(window.button(buttons[i])->isChecked(), mode == i + 1) << "mode " << mode;
  }
  EXPECT_FALSE(window.button(gadget::kWidthButton)->isCheckable());
}

TEST(MainWindow, ColumnsAreBlackUntilDrawnThenShowTheEnginesPicture) {
  ControlTable table;
  MainWindow window(table);
  auto* column = static_cast<ColumnView*>(window.widget(gadget::kFirstColumn + 17));
  for (const Rgb& p : column->picture().pixels) EXPECT_EQ(p, (Rgb{0, 0, 0}));
  window.ShowColumn(17, 12.0f, 1);
  ColumnPicture expected;
  DrawColumn(expected, 12.0f, 1);
  EXPECT_EQ(column->picture().pixels, expected.pixels);
  const QImage shot = column->grab().toImage();
  EXPECT_EQ(shot.pixelColor(4, 8), QColor(255, 0, 0));
  window.ShowColumn(18, 1.0f, 1);  // no such column: nothing happens
}

}  // namespace
}  // namespace glimmerix::shell

int main(int argc, char** argv) {
  // Also when gtest_discover_tests lists the tests, without any display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
