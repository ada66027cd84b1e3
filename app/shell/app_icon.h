// The program's icon (packaging/glimmerix.svg, compiled in as the resource ":/glimmerix.svg"),
// rendered at the sizes trays and title bars ask for. GUI thread; needs a QGuiApplication.
#pragma once

#include <QIcon>

namespace glimmerix::shell {

QIcon AppIcon();

}  // namespace glimmerix::shell
