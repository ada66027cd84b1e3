#include "app/shell/main_window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

#include "engine/engine.h"
#include "program/window_layout.h"

namespace glimmerix::shell {
namespace {

QString Text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

}  // namespace

ColumnView::ColumnView(QWidget* parent)
    : QWidget(parent), image_(ColumnPicture::kWidth, ColumnPicture::kHeight, QImage::Format_RGB32) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  image_.fill(Qt::black);
}

void ColumnView::Show(float band_value, int lamp) {
  ColumnPicture next;
  DrawColumn(next, band_value, lamp);
  if (next.pixels == picture_.pixels) return;
  picture_ = next;
  for (int y = 0; y < ColumnPicture::kHeight; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
    for (int x = 0; x < ColumnPicture::kWidth; ++x) {
      const Rgb& p = picture_.at(x, y);
      line[x] = qRgb(p.r, p.g, p.b);
    }
  }
  update();
}

void ColumnView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(rect(), image_);
}

MainWindow::MainWindow(ControlTable& table, QPoint frame_corner)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      table_(table) {
  setWindowTitle(QStringLiteral("Glimmerix"));
  setFixedSize(kNarrowWidth, kInnerHeight);
  // The layout's pixel geometry was made for a small GUI font; the desktop's usual 13 px one
  // cuts "Manual" and "<>" short.
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  Create();
  RefreshAll();
  move(frame_corner);
  winId();
}

void MainWindow::Create() {
  for (const ControlDef& def : MainWindowControls()) {
    const int g = def.gadget;
    QWidget* w = nullptr;
    switch (def.kind) {
      case ControlKind::kText: {
        auto* label = new QLabel(Text(def.caption), this);
        label->setAlignment((def.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
        w = label;
        break;
      }
      case ControlKind::kButton: {
        auto* button = new QPushButton(Text(def.caption), this);
        button->setFocusPolicy(Qt::TabFocus);
        if (g != gadget::kWidthButton) button->setCheckable(true);
        connect(button, &QPushButton::clicked, this, [this, g] { emit gadgetEvent(g); });
        w = button;
        break;
      }
      case ControlKind::kCheckBox: {
        auto* box = new QCheckBox(Text(def.caption), this);
        connect(box, &QCheckBox::clicked, this, [this, g](bool ticked) {
          table_.set_value(g, ticked ? 1 : 0);
          emit gadgetEvent(g);
        });
        w = box;
        break;
      }
      case ControlKind::kScrollBar: {
        auto* bar = new QScrollBar(def.vertical ? Qt::Vertical : Qt::Horizontal, this);
        const ScrollRange range = RangeOf(g);
        bar->setRange(range.lowest(), range.highest());
        bar->setPageStep(range.page);
        bar->setSingleStep(1);
        // Bright and Step count every user event, an arrow pressed at the bar's end included,
        // where the value stays and valueChanged never comes. The action has put its value in
        // the table already, so the valueChanged that follows it is not a second event.
        const bool every_action = g == gadget::kBrightBar || g == gadget::kStepBar;
        if (every_action) {
          connect(bar, &QAbstractSlider::actionTriggered, this, [this, g, bar] {
            table_.set_value(g, bar->sliderPosition());
            emit gadgetEvent(g);
          });
        }
        connect(bar, &QScrollBar::valueChanged, this, [this, g, every_action](int value) {
          if (every_action && table_.value(g) == value) return;
          table_.set_value(g, value);
          emit gadgetEvent(g);
        });
        w = bar;
        break;
      }
      case ControlKind::kList: {
        auto* list = new QComboBox(this);
        list->setEditable(false);
        list->setMaxVisibleItems(kOutputListEntries);
        // The 40-pixel lists keep room for "No" and "18" beside the arrow.
        list->setStyleSheet(QStringLiteral("QComboBox { padding-left: 2px; padding-right: 0px; }"));
        if (g != gadget::kPresetList) {
          list->addItem(QStringLiteral("No"));
          for (int k = 1; k <= kChannels; ++k) list->addItem(QString::number(k));
        }
        connect(list, &QComboBox::activated, this, [this, g](int index) {
          table_.set_value(g, index);
          emit gadgetEvent(g);
        });
        w = list;
        break;
      }
      case ControlKind::kPicture:
        w = new ColumnView(this);
        break;
      case ControlKind::kNone:
        break;
    }
    if (w == nullptr) continue;
    w->setGeometry(def.x, def.y, def.w, def.h);
    if (!def.tooltip.empty()) w->setToolTip(Text(def.tooltip));
    widgets_[g] = w;
  }
}

QWidget* MainWindow::widget(int g) const {
  return g >= 0 && g < gadget::kCount ? widgets_[g] : nullptr;
}

QAbstractButton* MainWindow::button(int g) const {
  return qobject_cast<QAbstractButton*>(widget(g));
}

void MainWindow::RefreshAll() {
  for (const ControlDef& def : MainWindowControls()) Refresh(def.gadget);
}

void MainWindow::Refresh(int g) {
  QWidget* w = widget(g);
  if (w == nullptr) return;
  if (g == gadget::kStatusText) return RefreshStatus();
  if (g == gadget::kPresetList) return RefreshPresetList();
  const int value = table_.value(g);
  const QSignalBlocker quiet(w);
  switch (KindOf(g)) {
    case ControlKind::kScrollBar:
      static_cast<QScrollBar*>(w)->setValue(value);
      break;
    case ControlKind::kCheckBox:
      static_cast<QCheckBox*>(w)->setChecked(value == 1);
      break;
    case ControlKind::kList:
      static_cast<QComboBox*>(w)->setCurrentIndex(value);
      break;
    default:
      break;
  }
}

void MainWindow::RefreshPresetList() {
  auto* list = static_cast<QComboBox*>(widgets_[gadget::kPresetList]);
  const QSignalBlocker quiet(list);
  const std::vector<std::string> entries = table_.preset_entries();
  bool same = list->count() == static_cast<int>(entries.size());
  for (int i = 0; same && i < list->count(); ++i)
    same = list->itemText(i) == QString::fromLocal8Bit(entries[i].data(), entries[i].size());
  if (!same) {
    list->clear();
    for (const std::string& e : entries) list->addItem(QString::fromLocal8Bit(e.data(), e.size()));
  }
  list->setCurrentIndex(table_.value(gadget::kPresetList));
}

void MainWindow::RefreshStatus() {
  auto* label = static_cast<QLabel*>(widgets_[gadget::kStatusText]);
  const Rgb c = table_.status_colour();
  label->setText(QString::fromStdString(table_.status_text()));
  label->setToolTip(QString::fromStdString(table_.status_tooltip()));
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(c.r, c.g, c.b));
  label->setPalette(palette);
}

void MainWindow::ShowColumn(int column, float band_value, int lamp) {
  if (column < 0 || column >= kChannels) return;
  static_cast<ColumnView*>(widgets_[gadget::kFirstColumn + column])->Show(band_value, lamp);
}

void MainWindow::ShowMode(int mode) {
  const std::pair<int, int> buttons[] = {{gadget::kManualButton, kModeManual},
                                         {gadget::kAutoButton, kModeAuto},
                                         {gadget::kRndButton, kModeRnd}};
  for (const auto& [g, m] : buttons) {
    QAbstractButton* b = button(g);
    const QSignalBlocker quiet(b);
    b->setChecked(mode == m);
  }
}

void MainWindow::ToggleWidth() {
  setFixedSize(width() == kWideWidth ? kNarrowWidth : kWideWidth, kInnerHeight);
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) emit minimised();
}

}  // namespace glimmerix::shell
