#include "gui/recent_folders.h"

#include <QFileInfo>

namespace tarnvel::gui {
namespace {

constexpr char kSeedKey[] = "folders/seed";
constexpr char kCssKey[] = "folders/css";

}  // namespace

RecentFolders::RecentFolders()
    : RecentFolders(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                QStringLiteral("tarnvel"),
                                                QStringLiteral("Tarnvel_GUI"))) {}

RecentFolders::RecentFolders(std::unique_ptr<QSettings> store) : store_(std::move(store)) {}

QString RecentFolders::SeedFolder() const {
  return store_->value(QLatin1String(kSeedKey)).toString();
}

QString RecentFolders::CssFolder() const {
  return store_->value(QLatin1String(kCssKey)).toString();
}

void RecentFolders::RememberSeedFile(const QString& path) {
  store_->setValue(QLatin1String(kSeedKey), QFileInfo(path).absolutePath());
  store_->sync();
}

void RecentFolders::RememberCssFile(const QString& path) {
  store_->setValue(QLatin1String(kCssKey), QFileInfo(path).absolutePath());
  store_->sync();
}

}  // namespace tarnvel::gui
