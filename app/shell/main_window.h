// Window 0: the main window, built from the table of numbered controls (window_layout.h), and
// its widgets kept in step with the ControlTable.
//
// GUI thread only. The window never reads the engine directly: changes made elsewhere reach it
// through Refresh()/ShowColumn(), called by whoever drains the GuiBridge. The user's changes go
// straight into the table, then the matching signal tells the shell (the event handling).
#pragma once

#include <QImage>
#include <QWidget>
#include <array>

#include "engine/column_picture.h"
#include "engine/controls.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QScrollBar;

namespace glimmerix::shell {

// One spectrum column picture (gadgets 303..320); black until the engine draws it. Repainted
// only when the drawn picture changes.
class ColumnView : public QWidget {
 public:
  explicit ColumnView(QWidget* parent);
  void Show(float band_value, int lamp);  // redraws the picture with DrawColumn
  const ColumnPicture& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ColumnPicture picture_{};
  QImage image_;  // picture_ in the screen's 32-bit format
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // The table must outlive the window. The window is created hidden, narrow (180 x 243), its
  // outer frame's corner at frame_corner, with its X window made at once so a close request
  // reaches it even before it was ever shown. The position is given before the X window exists
  // because only then does the window manager learn that it is the frame's corner.
  explicit MainWindow(ControlTable& table, QPoint frame_corner = {});

  // Brings the widget of one gadget (or all of them) up to date from the table.
  void Refresh(int gadget);
  void RefreshAll();
  void ShowColumn(int column, float band_value, int lamp);

  // Shows which mode is in force: its button (Manual 1, Auto 2, Rnd 3) stays pressed in.
  void ShowMode(int mode);

  // "<>": 320 wide from 180, 180 from 320; the height and the position stay.
  void ToggleWidth();

  // The widget of a gadget, nullptr when the number is not a control.
  QWidget* widget(int gadget) const;
  QAbstractButton* button(int gadget) const;

 signals:
  // The user (or a queued click) acted on a gadget: buttons, check boxes, bars and lists.
  // The table already holds the new state.
  void gadgetEvent(int gadget);
  // The window was minimised.
  void minimised();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void Create();
  void RefreshPresetList();
  void RefreshStatus();

  ControlTable& table_;
  std::array<QWidget*, gadget::kCount> widgets_{};
};

}  // namespace glimmerix::shell
