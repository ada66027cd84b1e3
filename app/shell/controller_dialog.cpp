#include "app/shell/controller_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace glimmerix::shell {
namespace {

QString Hex4(unsigned v) {
  return QStringLiteral("%1").arg(v & 0xFFFFu, 4, 16, QLatin1Char('0'));
}

}  // namespace

ControllerDialog::ControllerDialog(ControlTable& controls, EngineShared& shared, UsbController& usb,
                                   ParallelPort* lpt, ChooseDevice choose, QWidget* parent)
    : QDialog(parent),
      controls_(controls),
      usb_(usb),
      choose_(std::move(choose)),
      light_test_(controls, shared, usb, lpt) {
  setWindowTitle(QStringLiteral("Controller"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("HID devices of this computer:"), this));

  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({QStringLiteral("Vendor"), QStringLiteral("Product"),
                          QStringLiteral("Name"), QStringLiteral("Node"),
                          QStringLiteral("Can open")});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->setMinimumSize(560, 140);
  layout->addWidget(list_);

  looking_for_ = new QLabel(this);
  layout->addWidget(looking_for_);
  layout->addWidget(
      new QLabel(QStringLiteral("udev rule that lets you open it (in /etc/udev/rules.d/"
                                "70-glimmerix.rules, then: sudo udevadm control --reload):"),
                 this));
  rule_ = new QLineEdit(this);
  rule_->setReadOnly(true);
  rule_->setMinimumWidth(
      rule_->fontMetrics().horizontalAdvance(QString::fromStdString(UdevRuleLine(0xFFFF, 0xFFFF))) +
      48);
  layout->addWidget(rule_);

  auto* row = new QHBoxLayout;
  auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
  use_ = new QPushButton(QStringLiteral("&Use this controller"), this);
  test_button_ = new QPushButton(QStringLiteral("&Light test"), this);
  auto* order = new QPushButton(QStringLiteral("&Outputs 1 to 18 in order"), this);
  for (QPushButton* b : {refresh, use_, test_button_, order}) {
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  layout->addWidget(buttons);

  test_timer_ = new QTimer(this);
  test_timer_->setInterval(kLightTestStepMs);
  connect(test_timer_, &QTimer::timeout, this, [this] {
    if (!light_test_.Step()) {
      test_timer_->stop();
      test_button_->setEnabled(true);
    }
  });

  connect(refresh, &QPushButton::clicked, this, &ControllerDialog::Refresh);
  connect(use_, &QPushButton::clicked, this, &ControllerDialog::UseSelected);
  connect(test_button_, &QPushButton::clicked, this, &ControllerDialog::StartLightTest);
  connect(order, &QPushButton::clicked, this, [this] { AssignOutputsInOrder(controls_); });
  connect(list_, &QTreeWidget::currentItemChanged, this, &ControllerDialog::ShowRule);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &ControllerDialog::UseSelected);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  Refresh();
}

ControllerDialog::~ControllerDialog() = default;

void ControllerDialog::Refresh() {
  const int vid = usb_.USB_VID.load() & 0xFFFF;
  const int pid = usb_.USB_PID.load() & 0xFFFF;
  looking_for_->setText(QStringLiteral("Glimmerix looks for vendor %1, product %2 (VID = %3, "
                                       "PID = %4 in setting.dat).")
                            .arg(Hex4(vid), Hex4(pid))
                            .arg(vid)
                            .arg(pid));
  devices_ = ListHidDevices();
  list_->clear();
  QTreeWidgetItem* current = nullptr;
  for (const HidDeviceInfo& d : devices_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, d.has_ids ? Hex4(d.vendor) : QStringLiteral("?"));
    item->setText(1, d.has_ids ? Hex4(d.product) : QStringLiteral("?"));
    item->setText(2, QString::fromStdString(d.name));
    item->setText(3, QString::fromStdString(d.node));
    item->setText(4, d.can_open ? QStringLiteral("yes")
                                : QStringLiteral("no: ") + QString::fromStdString(d.reason));
    if (current == nullptr && d.has_ids && static_cast<int>(d.vendor) == vid &&
        static_cast<int>(d.product) == pid)
      current = item;
  }
  if (current == nullptr) current = list_->topLevelItem(0);
  list_->setCurrentItem(current);
  ShowRule();
}

void ControllerDialog::ShowRule() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  const bool usable = row >= 0 && devices_[static_cast<std::size_t>(row)].has_ids;
  use_->setEnabled(usable);
  if (usable) {
    const HidDeviceInfo& d = devices_[static_cast<std::size_t>(row)];
    rule_->setText(QString::fromStdString(UdevRuleLine(d.vendor, d.product)));
  } else {
    rule_->setText(QString::fromStdString(UdevRuleLine(
        static_cast<unsigned>(usb_.USB_VID.load()), static_cast<unsigned>(usb_.USB_PID.load()))));
  }
  rule_->setCursorPosition(0);
}

void ControllerDialog::UseSelected() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (row < 0 || !devices_[static_cast<std::size_t>(row)].has_ids) return;
  const HidDeviceInfo& d = devices_[static_cast<std::size_t>(row)];
  choose_(static_cast<int>(d.vendor), static_cast<int>(d.product));
  Refresh();
}

void ControllerDialog::StartLightTest() {
  light_test_.Start();
  test_button_->setEnabled(false);
  test_timer_->start();
}

}  // namespace glimmerix::shell
