#include "app/shell/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace glimmerix::shell {

QIcon AppIcon() {
  static const QIcon icon = [] {
    QIcon result;
    QSvgRenderer renderer(QStringLiteral(":/glimmerix.svg"));
    for (int size : {16, 22, 24, 32, 48, 64, 128}) {
      QPixmap pixmap(size, size);
      pixmap.fill(Qt::transparent);
      QPainter painter(&pixmap);
      renderer.render(&painter);
      painter.end();
      result.addPixmap(pixmap);
    }
    return result;
  }();
  return icon;
}

}  // namespace glimmerix::shell
