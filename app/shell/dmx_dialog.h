// The "DMX" dialog: the DMX output's universe, start address, on level, mapping and enable, and a
// line saying whether OLA answers (brought up to date every second while the dialog shows).
//
// GUI thread only. Not modal; closing hides it. "Apply" hands the values to the program core,
// which refuses values out of range with a message shown in the dialog.
#pragma once

#include <QDialog>

#include "program/program_core.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QTimer;

namespace glimmerix::shell {

class DmxDialog : public QDialog {
  Q_OBJECT

 public:
  // core must outlive the dialog.
  explicit DmxDialog(ProgramCore& core, QWidget* parent = nullptr);

  // Shows the settings in force and the status anew.
  void Refresh();

 private:
  void ApplyChoices();
  void ShowStatus();

  ProgramCore& core_;
  QCheckBox* enabled_ = nullptr;
  QSpinBox* universe_ = nullptr;
  QSpinBox* start_ = nullptr;
  QSpinBox* level_ = nullptr;
  QComboBox* mapping_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* refused_ = nullptr;
  QTimer* status_timer_ = nullptr;
};

}  // namespace glimmerix::shell
