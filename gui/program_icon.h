// The program's icon: a seismogram trace on a light face, in 32 and 16 pixels.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarnvel::gui {

QIcon ProgramIcon();

// The icon's face drawn at `size` × `size` pixels (the desktop menu's icons are made from it).
QPixmap ProgramIconFace(int size);

}  // namespace tarnvel::gui
