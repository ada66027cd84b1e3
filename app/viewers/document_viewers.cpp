#include "app/viewers/document_viewers.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMoveEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <utility>

#include "app/viewers/rtf_text_document.h"

namespace glimmerix {

namespace {

// Reads the named document into doc, no more of it than the reader's limits let it keep; what
// was read before an error is kept. Only a regular file is read: a FIFO would block the GUI until
// a writer came, a device might never end.
void LoadDocument(const char* file_name, QTextDocument& doc) {
  const QString name = QString::fromUtf8(file_name);
  if (!QFileInfo(name).isFile()) return;
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return;
  rtf::LoadRtf(
      [&file](char* buffer, std::size_t size) -> std::size_t {
        return static_cast<std::size_t>(
            std::max<qint64>(file.read(buffer, static_cast<qint64>(size)), 0));
      },
      doc);
}

}  // namespace

// A viewer window: a close request from the window system (its close box, Alt+F4) and Escape
// call on_close, as "OK" does; moves are reported.
class ViewerWindow : public QWidget {
 public:
  ViewerWindow(std::function<void()> on_close, std::function<void()> on_move)
      : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
        on_close_(std::move(on_close)),
        on_move_(std::move(on_move)) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    // A spontaneous close event comes from the window system, i.e. from the user. Qt's own
    // (application quit, close() called by us) are not spontaneous and simply close.
    if (event->spontaneous()) {
      event->ignore();
      on_close_();
      return;
    }
    event->accept();
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
      on_close_();
      return;
    }
    QWidget::keyPressEvent(event);
  }

  // A window manager framing the window as it is shown moves the client area in from the frame's
  // outer corner, which stays where it was put: that is no move.
  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    const QPoint frame = pos();
    const bool framed = frame == frame_ && event->oldPos() == frame_;
    if (event->spontaneous() && isVisible() && !framed) on_move_();
    frame_ = frame;
  }

 private:
  std::function<void()> on_close_;
  std::function<void()> on_move_;
  QPoint frame_;  // the frame's outer corner as of the last move event
};

DocumentViewers::DocumentViewers(QObject* parent) : QObject(parent) {}

DocumentViewers::~DocumentViewers() {
  for (auto& window : windows_) delete window.data();
}

const ViewerLayout* DocumentViewers::Layout(Document document) {
  for (const ViewerLayout& layout : kViewerLayouts) {
    if (layout.document == document) return &layout;
  }
  return nullptr;
}

void DocumentViewers::Open(Document document) {
  const ViewerLayout* layout = Layout(document);
  if (layout == nullptr) return;
  Close(document);

  auto* window = new ViewerWindow([this, document] { Close(document); },
                                  [this, document] { emit moved(document); });
  window->setObjectName(QStringLiteral("Window_%1").arg(static_cast<int>(document)));
  window->setAttribute(Qt::WA_QuitOnClose, false);  // only the program's own close path ends it
  window->setWindowTitle(QString::fromUtf8(layout->title));
  window->setFixedSize(layout->width, layout->height);

  auto* area = new QTextBrowser(window);
  area->setObjectName(QStringLiteral("Gadget_%1").arg(layout->area_gadget));
  area->setProperty("gadget", layout->area_gadget);
  area->setGeometry(2, 2, layout->width - 4, layout->height - 30);
  area->setReadOnly(true);
  area->setOpenLinks(false);
  area->setLineWrapMode(QTextEdit::WidgetWidth);
  area->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  LoadDocument(layout->file, *area->document());
  area->moveCursor(QTextCursor::Start);  // the reader starts at the top, not where loading ended

  auto* ok = new QPushButton(QStringLiteral("OK"), window);
  ok->setObjectName(QStringLiteral("Gadget_%1").arg(layout->ok_gadget));
  ok->setProperty("gadget", layout->ok_gadget);
  ok->setGeometry(210, layout->height - 27, 80, 24);
  connect(ok, &QPushButton::clicked, this, [this, document] { Close(document); });

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    window->move(available.center() - QPoint(layout->width / 2, layout->height / 2));
  }
  windows_[static_cast<int>(document) - 1] = window;
  window->show();
}

void DocumentViewers::Close(Document document) {
  if (Layout(document) == nullptr) return;
  QPointer<ViewerWindow>& slot = windows_[static_cast<int>(document) - 1];
  if (slot.isNull()) return;
  ViewerWindow* window = slot.data();
  slot.clear();
  window->hide();
  // The close may come from the window's own "OK": let its click finish first.
  window->deleteLater();
}

QWidget* DocumentViewers::Window(Document document) const {
  if (Layout(document) == nullptr) return nullptr;
  return windows_[static_cast<int>(document) - 1].data();
}

QTextBrowser* DocumentViewers::DocumentArea(Document document) const {
  const ViewerLayout* layout = Layout(document);
  QWidget* window = Window(document);
  if (window == nullptr) return nullptr;
  return window->findChild<QTextBrowser*>(QStringLiteral("Gadget_%1").arg(layout->area_gadget));
}

QPushButton* DocumentViewers::OkButton(Document document) const {
  const ViewerLayout* layout = Layout(document);
  QWidget* window = Window(document);
  if (window == nullptr) return nullptr;
  return window->findChild<QPushButton*>(QStringLiteral("Gadget_%1").arg(layout->ok_gadget));
}

}  // namespace glimmerix
