#include "app/shell/dmx_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace glimmerix::shell {
namespace {

QSpinBox* SpinBox(int low, int high, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setRange(low, high);
  return box;
}

}  // namespace

DmxDialog::DmxDialog(ProgramCore& core, QWidget* parent) : QDialog(parent), core_(core) {
  setWindowTitle(QStringLiteral("DMX"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  enabled_ =
      new QCheckBox(QStringLiteral("&Send the 18 channels to a DMX universe through OLA"), this);
  form->addRow(enabled_);
  universe_ = SpinBox(DmxSettings::kMinUniverse, DmxSettings::kMaxUniverse, this);
  form->addRow(QStringLiteral("&Universe:"), universe_);
  start_ = SpinBox(DmxSettings::kMinStart, DmxSettings::kMaxStart, this);
  start_->setToolTip(QStringLiteral("DMX address of channel 1; channel 18 is at start + 17"));
  form->addRow(QStringLiteral("&Start address:"), start_);
  level_ = SpinBox(DmxSettings::kMinLevel, DmxSettings::kMaxLevel, this);
  form->addRow(QStringLiteral("On &level:"), level_);
  mapping_ = new QComboBox(this);
  mapping_->addItem(QStringLiteral("On/off: on sends the on level"));
  mapping_->addItem(QStringLiteral("Level: the column's height, 0 to the on level"));
  form->addRow(QStringLiteral("&Mapping:"), mapping_);
  layout->addLayout(form);

  status_ = new QLabel(this);
  status_->setWordWrap(true);
  layout->addWidget(status_);
  refused_ = new QLabel(this);
  refused_->setWordWrap(true);
  layout->addWidget(refused_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close, this);
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
          &DmxDialog::ApplyChoices);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  layout->addWidget(buttons);

  status_timer_ = new QTimer(this);
  connect(status_timer_, &QTimer::timeout, this, &DmxDialog::ShowStatus);
  status_timer_->start(1000);
  Refresh();
}

void DmxDialog::Refresh() {
  const DmxSettings s = core_.dmx_settings();
  enabled_->setChecked(s.enabled);
  universe_->setValue(s.universe);
  start_->setValue(s.start);
  level_->setValue(s.level);
  mapping_->setCurrentIndex(static_cast<int>(s.mapping));
  refused_->clear();
  const bool available = core_.has_dmx();
  for (QWidget* w : std::initializer_list<QWidget*>{enabled_, universe_, start_, level_, mapping_})
    w->setEnabled(available);
  ShowStatus();
}

void DmxDialog::ApplyChoices() {
  DmxSettings s;
  s.enabled = enabled_->isChecked();
  s.universe = universe_->value();
  s.start = start_->value();
  s.level = level_->value();
  s.mapping = static_cast<DmxMapping>(mapping_->currentIndex());
  refused_->setText(QString::fromStdString(core_.ApplyDmxSettings(s)));
  ShowStatus();
}

void DmxDialog::ShowStatus() {
  status_->setText(QString::fromStdString(core_.dmx_status()));
}

}  // namespace glimmerix::shell
