// Checks of what an operator sees in a dialog, and screenshots of it for a reviewer.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace tarnvel::gui::testing {

// Every text of `root` and the widgets in it that is wider or taller than the space its widget
// gives it, or that lies outside the window: labels, buttons, check and radio boxes, group
// titles, line and picker texts, progress texts, table headers and cells. One description per
// fault, such as "QLabel 'Станция': needs 52x13, has 40x13"; empty when everything shows whole.
// Scrolling path boxes (named in `scrolling`) may hold more than they show.
std::vector<std::string> ClippedTexts(const QWidget& root,
                                      const std::vector<QString>& scrolling = {});

// Saves the widget's own picture as <build folder>/screenshots/<name>.png (offscreen at scale 1;
// otherwise in a folder named by the platform and scale, such as screenshots/xcb-x1.5/); the path
// saved.
QString SaveScreenshot(QWidget& widget, const QString& name);

// Saves the whole screen `widget` is on as the picture `name`, beside the widgets' own: where a
// window lies on its screen. The screen's picture is empty on platforms without one (offscreen
// draws only windows); then nothing is saved. The path saved or empty.
QString SaveScreenOf(QWidget& widget, const QString& name);

// Visible texts of `root` (labels, buttons, titles, headers, cells) holding Latin words other
// than the product's own names and codes: toolkit texts left untranslated. Words that stand in
// `quoted` (what the converter printed, the command line it got) are quoted, not untranslated.
std::vector<std::string> EnglishTexts(const QWidget& root, const QString& quoted = {});

// Looks at a window as the operator would: fails the running test for every text of it that is
// clipped (ClippedTexts, with the main dialog's scrolling path box allowed) or English
// (EnglishTexts, `quoted` allowed), then saves its picture as `name` unless that is empty.
void LookAt(QWidget& window, const QString& name, const QString& quoted = {});

// Calls `handle` with the next modal window once it shows, from inside that window's own event
// loop (a real dialog's exec()); the handler answers and closes it.
void OnNextModal(std::function<void(QWidget&)> handle);

}  // namespace tarnvel::gui::testing
