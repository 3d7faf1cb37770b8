#include "gui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace tarnvel::gui {

bool InstallRussianTranslations(QCoreApplication& app) {
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  QLocale::setDefault(russian);
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  // The application keeps the translator for its whole life.
  translator->setParent(&app);
  return QCoreApplication::installTranslator(translator.release());
}

}  // namespace tarnvel::gui
