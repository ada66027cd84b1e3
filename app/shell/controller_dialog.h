// The "Controller" dialog: the HID devices the program can see, the choice of the controller
// among them, the udev rule line that lets the user open it, the light test and the output
// order. The logic lives in hid_devices.h and light_test.h; this is the window around it.
//
// GUI thread only. The dialog is not modal and outlives its closing (it is hidden); a light test
// in progress goes on while it is hidden and ends when the dialog is destroyed.
#pragma once

#include <QDialog>
#include <functional>

#include "engine/controls.h"
#include "engine/engine.h"
#include "outputs/hid_devices.h"
#include "outputs/usb_controller.h"
#include "program/light_test.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace glimmerix::shell {

class ControllerDialog : public QDialog {
  Q_OBJECT

 public:
  // Called with the chosen device's identifiers; the caller saves them and has the controller
  // look for them.
  using ChooseDevice = std::function<void(int vid, int pid)>;

  // Every reference must outlive the dialog; lpt may be null.
  ControllerDialog(ControlTable& controls, EngineShared& shared, UsbController& usb,
                   ParallelPort* lpt, ChooseDevice choose, QWidget* parent = nullptr);
  ~ControllerDialog() override;

  // Lists the devices again and shows which identifiers the program looks for.
  void Refresh();

 private:
  void ShowRule();
  void UseSelected();
  void StartLightTest();

  ControlTable& controls_;
  UsbController& usb_;
  ChooseDevice choose_;
  LightTest light_test_;
  std::vector<HidDeviceInfo> devices_;

  QTreeWidget* list_ = nullptr;
  QLabel* looking_for_ = nullptr;
  QLineEdit* rule_ = nullptr;
  QPushButton* use_ = nullptr;
  QPushButton* test_button_ = nullptr;
  QTimer* test_timer_ = nullptr;
};

}  // namespace glimmerix::shell
