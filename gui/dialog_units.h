// Dialog-template units mapped onto the dialog font: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height, so the dialogs keep
// their proportions whatever font stands in for the templates' own.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tarnvel::gui {

// The dialogs' font: "MS Sans Serif" at 8 points, or the closest font the system has.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const { return units * averageCharWidth_ / 4; }
  int Y(int units) const { return units * fontHeight_ / 8; }
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }

 private:
  int averageCharWidth_;
  int fontHeight_;
};

}  // namespace tarnvel::gui
