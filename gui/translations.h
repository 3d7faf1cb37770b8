// The toolkit's own texts in Russian (buttons of message boxes, file dialogs, the calendar),
// whatever the locale the program was started in: the program speaks Russian throughout.
#pragma once

class QCoreApplication;

namespace tarnvel::gui {

// Makes Russian the default locale (month and day names, the calendar's first day) and loads
// the toolkit's Russian translations into `app`. False when the translations are not installed
// (Debian package qt6-translations-l10n); the toolkit then keeps its English texts.
bool InstallRussianTranslations(QCoreApplication& app);

}  // namespace tarnvel::gui
