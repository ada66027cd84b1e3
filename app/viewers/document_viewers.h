// The three document viewer windows of the tray menu's "About", "Settings" and "History".
//
// Each viewer is a top-level window of its own (no owner): a title bar without close, minimise
// or maximise boxes, a fixed inner size, centred on the primary screen, a read-only document
// area that wraps at its own width (no horizontal scrolling) and an "OK" button that closes that
// viewer alone. Window managers show a close box all the same: a close request from the window
// system (that box, Alt+F4) and Escape close the viewer as "OK" does, and only that viewer. The
// document is read by its bare file name, so from the process's current folder, each time the
// viewer opens, and no further than the reader's limits (rtf::Limits) let it keep; a missing or
// unreadable file, or one that is not a regular file (a FIFO, a device, a folder), gives an empty
// area. Opening a viewer that is already open replaces it with a fresh one (re-read, centred
// again).
//
// Threads: GUI thread only. Ownership: DocumentViewers owns the viewer windows and closes any
// still open when it is destroyed.
#pragma once

#include <QObject>
#include <QPointer>

#include <array>
#include <cstddef>

#include "app/viewers/viewer_layouts.h"
#include "program/front_end.h"

class QPushButton;
class QTextBrowser;
class QWidget;

namespace glimmerix {

class ViewerWindow;

class DocumentViewers : public QObject {
  Q_OBJECT

 public:
  explicit DocumentViewers(QObject* parent = nullptr);
  ~DocumentViewers() override;

  // Opens the document's viewer, replacing the one already open for it, and shows it. A value
  // outside Document does nothing.
  void Open(Document document);

  // Closes the document's viewer, as its "OK", a close request or Escape does; nothing when it is
  // not open.
  void Close(Document document);

  // The open viewer's window, document area and "OK" button; nullptr when it is not open.
  QWidget* Window(Document document) const;
  QTextBrowser* DocumentArea(Document document) const;
  QPushButton* OkButton(Document document) const;

 signals:
  // The window system moved the document's viewer (the user dragged it).
  void moved(Document document);

 private:
  static const ViewerLayout* Layout(Document document);

  std::array<QPointer<ViewerWindow>, 3> windows_;
};

}  // namespace glimmerix
