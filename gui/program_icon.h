// The program's icon: a seismogram trace on a light face, in 32 and 16 pixels.
#pragma once

#include <QIcon>

namespace tarnvel::gui {

QIcon ProgramIcon();

}  // namespace tarnvel::gui
