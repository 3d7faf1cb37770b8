// The toolkit's file dialogs in Russian down to their file lists, and wide enough to show them:
// the size, type and date columns read "1,5 КБ", "Папка", "Файл seed" and "08.12.2026 14:12"
// whatever the locale the program was started in (the toolkit's file model takes these from the
// system's locale and has no Russian for some of them), and each column is as wide as its texts.
#pragma once

#include <QIdentityProxyModel>
#include <QString>
#include <QtGlobal>

class QDateTime;
class QFileDialog;

namespace tarnvel::gui {

// "0 байт", "999 байт", "1,0 КБ", "12,5 МБ", "3,1 ГБ": binary multiples, one decimal.
QString RussianFileSize(qint64 bytes);
// "Папка" for a folder, "Файл <suffix>" for a file with a suffix, else "Файл".
QString RussianFileType(bool isFolder, const QString& suffix);
// "dd.MM.yyyy HH:mm" in local time.
QString RussianFileDate(const QDateTime& modified);

// Gives the detail columns of a file dialog's list their Russian texts.
class RussianFileColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override;
};

// Puts the Russian columns into a widget-based file dialog, sizes its columns to their texts
// (the name column takes the rest) and makes the dialog wide enough for them on its screen.
void PrepareFileDialog(QFileDialog& dialog);

}  // namespace tarnvel::gui
