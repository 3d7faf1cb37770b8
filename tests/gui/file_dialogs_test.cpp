// The real file choosers and message boxes, offscreen: Russian texts whatever the locale, and
// the folders of the last SEED and CSS files kept across runs of the program.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "gui/dialog_services.h"
#include "gui/recent_folders.h"
#include "tests/gui/dialog_checks.h"
#include "tests/support/process.h"

namespace tarnvel::gui {
namespace {

using tarnvel::testing::TempDir;
using tarnvel::testing::WriteFile;
using testing::LookAt;
using testing::OnNextModal;

QString Path(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

class FileDialogsTest : public ::testing::Test {
 protected:
  // One run of the program: the folders as the settings store holds them when it starts.
  std::unique_ptr<RecentFolders> NewRun() {
    return std::make_unique<RecentFolders>(
        std::make_unique<QSettings>(Path(settings_ / "Tarnvel_GUI.ini"), QSettings::IniFormat));
  }

  TempDir settings_;
  TempDir seeds_;
  TempDir css_;
};

TEST_F(FileDialogsTest, TheOpenChooserStartsWhereTheLastSeedFileWasOpened) {
  const auto seed = seeds_ / "x.seed";
  WriteFile(seed, "x");
  {
    auto folders = NewRun();
    QtDialogServices services(*folders);
    OnNextModal([&](QWidget& window) {
      auto& chooser = dynamic_cast<QFileDialog&>(window);
      LookAt(chooser, QStringLiteral("open_file"));
      chooser.selectFile(Path(seed));
      static_cast<QDialog&>(chooser).accept();  // as the dialog's own button does
    });
    EXPECT_EQ(services.OpenSeedFile(nullptr), Path(seed));
  }
  auto folders = NewRun();
  EXPECT_EQ(folders->SeedFolder(), Path(seeds_.path()));
  EXPECT_TRUE(folders->CssFolder().isEmpty());
  QtDialogServices services(*folders);
  QString startedIn;
  OnNextModal([&](QWidget& window) {
    auto& chooser = dynamic_cast<QFileDialog&>(window);
    startedIn = chooser.directory().absolutePath();
    chooser.reject();
  });
  EXPECT_FALSE(services.OpenSeedFile(nullptr).has_value());
  EXPECT_EQ(startedIn, Path(seeds_.path()));
}

TEST_F(FileDialogsTest, TheSaveChooserStartsWhereTheLastCssFileWentUnlessTheRunProposesAFolder) {
  const auto existing = css_ / "архив.wfdisc";
  WriteFile(existing, "");
  {
    auto folders = NewRun();
    QtDialogServices services(*folders);
    OnNextModal([&](QWidget& window) {
      auto& chooser = dynamic_cast<QFileDialog&>(window);
      EXPECT_EQ(chooser.directory().absolutePath(), Path(css_.path()));
      LookAt(chooser, QStringLiteral("save_file"));
      chooser.selectFile(Path(existing));
      // Saving over a file asks first, in Russian.
      OnNextModal([](QWidget& question) {
        auto& box = dynamic_cast<QMessageBox&>(question);
        EXPECT_NE(box.text().indexOf(QStringLiteral("существует")), -1) << box.text().toStdString();
        LookAt(box, QStringLiteral("overwrite_question"));
        box.button(QMessageBox::Yes)->click();
      });
      static_cast<QDialog&>(chooser).accept();  // as the dialog's own button does
    });
    EXPECT_EQ(services.SaveWfdiscFile(nullptr, Path(css_.path()), QString()), Path(existing));
  }
  auto folders = NewRun();
  EXPECT_EQ(folders->CssFolder(), Path(css_.path()));
  QtDialogServices services(*folders);
  for (const QString& proposed : {QString(), Path(seeds_.path())}) {
    QString startedIn;
    QString name;
    OnNextModal([&](QWidget& window) {
      auto& chooser = dynamic_cast<QFileDialog&>(window);
      startedIn = chooser.directory().absolutePath();
      name = chooser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
      chooser.reject();
    });
    EXPECT_FALSE(services.SaveWfdiscFile(nullptr, proposed, QStringLiteral("x.seed.wfdisc")));
    EXPECT_EQ(startedIn, proposed.isEmpty() ? Path(css_.path()) : proposed);
    EXPECT_EQ(name, "x.seed.wfdisc");
  }
}

TEST_F(FileDialogsTest, MessageBoxesAnswerInRussian) {
  auto folders = NewRun();
  QtDialogServices services(*folders);
  OnNextModal([](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Да");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Нет");
    LookAt(box, QStringLiteral("quit_question"));
    box.button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(services.AskYesNo(nullptr, QStringLiteral("Завершить работу программы?"),
                                 QStringLiteral("Завершение работы...")));
  OnNextModal([](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    LookAt(box, {});
    box.button(QMessageBox::Ok)->click();
  });
  services.ShowMessage(nullptr, QStringLiteral("Операция успешно завершена!"),
                       QStringLiteral("tarnvel"), MessageIcon::kInformation);
}

}  // namespace
}  // namespace tarnvel::gui
