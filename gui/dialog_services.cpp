#include "gui/dialog_services.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "gui/channel_list_dialog.h"
#include "gui/file_dialog_columns.h"
#include "gui/large_file_dialog.h"
#include "gui/recent_folders.h"

namespace tarnvel::gui {

std::optional<QString> QtDialogServices::OpenSeedFile(QWidget* parent) {
  QFileDialog dialog(parent);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  PrepareFileDialog(dialog);
  if (const QString folder = folders_.SeedFolder(); !folder.isEmpty()) {
    dialog.setDirectory(folder);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString path = dialog.selectedFiles().first();
  folders_.RememberSeedFile(path);
  return path;
}

std::optional<QString> QtDialogServices::SaveWfdiscFile(QWidget* parent, const QString& folder,
                                                        const QString& fileName) {
  QFileDialog dialog(parent);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("wfdisc"));
  dialog.setNameFilter(QStringLiteral("Файлы Wfdisc (*.wfdisc)"));
  PrepareFileDialog(dialog);
  const QString start = folder.isEmpty() ? folders_.CssFolder() : folder;
  if (!start.isEmpty()) dialog.setDirectory(start);
  if (!fileName.isEmpty()) dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString path = dialog.selectedFiles().first();
  folders_.RememberCssFile(path);
  return path;
}

void QtDialogServices::ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                                   MessageIcon icon) {
  const auto qtIcon = icon == MessageIcon::kExclamation ? QMessageBox::Warning
                      : icon == MessageIcon::kQuestion  ? QMessageBox::Question
                                                        : QMessageBox::Information;
  QMessageBox box(qtIcon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

bool QtDialogServices::AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

ChannelChoice QtDialogServices::ChooseChannel(QWidget* parent, const ChannelInfoList& channels) {
  ChannelListDialog dialog(channels, parent);
  dialog.exec();
  return dialog.Choice();
}

int QtDialogServices::AskViewLimit(QWidget* parent, const QString& seedPath, int proposedMb) {
  LargeFileDialog dialog(seedPath, proposedMb, parent);
  dialog.exec();
  return dialog.ViewLimit();
}

}  // namespace tarnvel::gui
