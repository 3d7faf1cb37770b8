// The folders the operator last opened a SEED file in and last saved a CSS file to, kept across
// runs in the toolkit's settings store so the file dialogs open there.
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

namespace tarnvel::gui {

class RecentFolders {
 public:
  // The user's own settings of the dialog program.
  RecentFolders();
  // Kept in the given store instead.
  explicit RecentFolders(std::unique_ptr<QSettings> store);

  // Empty until a file was chosen there.
  QString SeedFolder() const;
  QString CssFolder() const;
  void RememberSeedFile(const QString& path);
  void RememberCssFile(const QString& path);

 private:
  std::unique_ptr<QSettings> store_;
};

}  // namespace tarnvel::gui
