#include "gui/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace tarnvel::gui {

QPixmap ProgramIconFace(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(255, 255, 224));
  // Lines one pixel wide per 16 pixels of size: 1 at 16, 2 at 32, 3 at 48.
  const int lineWidth = std::max(1, size / 16);
  painter.setPen(QPen(QColor(0, 0, 128), lineWidth));
  painter.drawRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
  // A quiet trace with one burst in the middle.
  const double amplitudes[] = {0.05, -0.05, 0.1, -0.1, 0.8, -0.9, 0.6, -0.4, 0.2, -0.1, 0.05};
  QPainterPath trace;
  const double mid = size / 2.0;
  const double step = (size - 4.0) / (std::size(amplitudes) - 1);
  trace.moveTo(2.0, mid);
  for (std::size_t i = 0; i < std::size(amplitudes); ++i) {
    trace.lineTo(2.0 + step * static_cast<double>(i), mid - amplitudes[i] * (mid - 3.0));
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(192, 0, 0), lineWidth));
  painter.drawPath(trace);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  icon.addPixmap(ProgramIconFace(32));
  icon.addPixmap(ProgramIconFace(16));
  return icon;
}

}  // namespace tarnvel::gui
