// Test entry of the dialog program's tests: a running application, offscreen unless a platform
// is named, in the C locale (the program must be Russian whatever the locale) and a time zone
// far from UTC (the pickers show UTC all the same), with the toolkit's Russian texts as the
// program has them, and the toolkit's settings kept in a folder of the test's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <ctime>

#include "gui/translations.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("TZ", "Europe/Moscow");
  tzset();
  qputenv("LC_ALL", "C.UTF-8");
  qputenv("LANG", "C");
  qunsetenv("LANGUAGE");
  QApplication app(argc, argv);
  tarnvel::gui::InstallRussianTranslations(app);
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
