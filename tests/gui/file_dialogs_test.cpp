// The real file choosers and message boxes, offscreen: Russian texts whatever the locale, and
// the folders of the last SEED and CSS files kept across runs of the program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <functional>
#include <map>
#include <memory>

#include "gui/dialog_services.h"
#include "gui/file_dialog_columns.h"
#include "gui/recent_folders.h"
#include "tests/gui/dialog_checks.h"
#include "tests/gui/scripted_dialogs.h"
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

// Calls `handle` with the next file chooser the program opens, from inside its event loop.
void OnNextChooser(std::function<void(QFileDialog&)> handle) {
  OnNextModal([handle = std::move(handle)](QWidget& window) {
    handle(dynamic_cast<QFileDialog&>(window));
  });
}

// One run of the program: the folders as the settings store holds them when it starts, and the
// real choosers and message boxes.
struct ProgramRun {
  explicit ProgramRun(const QString& settingsFile)
      : folders(std::make_unique<QSettings>(settingsFile, QSettings::IniFormat)),
        services(folders) {}
  RecentFolders folders;
  QtDialogServices services;
};

class FileDialogsTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProgramRun> NewRun() {
    return std::make_unique<ProgramRun>(Path(settings_ / "Tarnvel_GUI.ini"));
  }

  TempDir settings_;
  TempDir seeds_;
  TempDir css_;
};

TEST_F(FileDialogsTest, TheOpenChooserStartsWhereTheLastSeedFileWasOpened) {
  const auto seed = seeds_ / "x.seed";
  WriteFile(seed, "x");
  {
    auto run = NewRun();
    OnNextChooser([&](QFileDialog& chooser) {
      LookAt(chooser, QStringLiteral("open_file"));
      chooser.selectFile(Path(seed));
      static_cast<QDialog&>(chooser).accept();  // as the dialog's own button does
    });
    EXPECT_EQ(run->services.OpenSeedFile(nullptr), Path(seed));
  }
  auto run = NewRun();
  EXPECT_EQ(run->folders.SeedFolder(), Path(seeds_.path()));
  EXPECT_TRUE(run->folders.CssFolder().isEmpty());
  QString startedIn;
  OnNextChooser([&](QFileDialog& chooser) {
    startedIn = chooser.directory().absolutePath();
    chooser.reject();
  });
  EXPECT_FALSE(run->services.OpenSeedFile(nullptr).has_value());
  EXPECT_EQ(startedIn, Path(seeds_.path()));
}

TEST_F(FileDialogsTest, TheSaveChooserStartsWhereTheLastCssFileWentUnlessTheRunProposesAFolder) {
  const auto existing = css_ / "архив.wfdisc";
  WriteFile(existing, "");
  {
    auto run = NewRun();
    OnNextChooser([&](QFileDialog& chooser) {
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
    EXPECT_EQ(run->services.SaveWfdiscFile(nullptr, Path(css_.path()), QString()), Path(existing));
  }
  auto run = NewRun();
  EXPECT_EQ(run->folders.CssFolder(), Path(css_.path()));
  for (const QString& proposed : {QString(), Path(seeds_.path())}) {
    QString startedIn;
    QString name;
    OnNextChooser([&](QFileDialog& chooser) {
      startedIn = chooser.directory().absolutePath();
      name = chooser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
      chooser.reject();
    });
    EXPECT_FALSE(run->services.SaveWfdiscFile(nullptr, proposed, QStringLiteral("x.seed.wfdisc")));
    EXPECT_EQ(startedIn, proposed.isEmpty() ? Path(css_.path()) : proposed);
    EXPECT_EQ(name, "x.seed.wfdisc");
  }
}

TEST(FileDialogColumns, SizesTypesAndDatesInRussian) {
  EXPECT_EQ(RussianFileSize(0), "0 байт");
  EXPECT_EQ(RussianFileSize(1023), "1\u00a0023 байт");
  EXPECT_EQ(RussianFileSize(1024), "1,0 КБ");
  EXPECT_EQ(RussianFileSize(1536), "1,5 КБ");
  EXPECT_EQ(RussianFileSize(3 * 1048576 + 104858), "3,1 МБ");
  EXPECT_EQ(RussianFileSize(1073741824LL * 5 / 2), "2,5 ГБ");
  EXPECT_EQ(RussianFileSize(1099511627776LL * 2048), "2\u00a0048,0 ТБ");
  EXPECT_EQ(RussianFileType(true, QStringLiteral("d")), "Папка");
  EXPECT_EQ(RussianFileType(false, QStringLiteral("seed")), "Файл seed");
  EXPECT_EQ(RussianFileType(false, QString()), "Файл");
  EXPECT_EQ(RussianFileDate(QDateTime(QDate(2026, 12, 8), QTime(14, 12, 59))), "08.12.2026 14:12");
}

// What the file list shows in its detail columns, by file name, once the folder has loaded.
std::map<QString, QStringList> ListedFiles(QFileDialog& chooser, int expectedRows) {
  auto* view = chooser.findChild<QTreeView*>(QStringLiteral("treeView"));
  EXPECT_NE(view, nullptr);
  if (view == nullptr) return {};
  const auto rows = [view] { return view->model()->rowCount(view->rootIndex()); };
  EXPECT_TRUE(testing::WaitUntil([&] { return rows() == expectedRows; }, 10000));
  std::map<QString, QStringList> listed;
  for (int row = 0; row < rows(); ++row) {
    QStringList cells;
    for (int column = 1; column < view->model()->columnCount(view->rootIndex()); ++column) {
      cells << view->model()->index(row, column, view->rootIndex()).data().toString();
    }
    listed[view->model()->index(row, 0, view->rootIndex()).data().toString()] = cells;
  }
  return listed;
}

// Every text of the file list Russian, whatever the locale the tests run in (C), and the size,
// type and date columns wide enough for them.
TEST_F(FileDialogsTest, TheFileListIsRussianWithItsColumnsWhole) {
  std::filesystem::create_directory(seeds_ / "архив");
  WriteFile(seeds_ / "x.seed", std::string(1536, 'x'));
  WriteFile(seeds_ / "README", "");
  WriteFile(seeds_ / "out.wfdisc", std::string(999, 'w'));
  WriteFile(seeds_ / "big.mseed", "");
  std::filesystem::resize_file(seeds_ / "big.mseed", 3 * 1048576 + 104858);
  // 8 December 2026, 14:12 in Moscow, the tests' time zone.
  const timespec modified[2] = {{1796728320, 0}, {1796728320, 0}};
  for (const char* name : {"архив", "x.seed", "README", "out.wfdisc", "big.mseed"}) {
    ASSERT_EQ(utimensat(AT_FDCWD, (seeds_ / name).c_str(), modified, 0), 0) << name;
  }
  auto run = NewRun();
  run->folders.RememberSeedFile(Path(seeds_ / "x.seed"));
  std::map<QString, QStringList> listed;
  OnNextChooser([&](QFileDialog& chooser) {
    listed = ListedFiles(chooser, 5);
    LookAt(chooser, QStringLiteral("open_file_columns"));
    chooser.reject();
  });
  run->services.OpenSeedFile(nullptr);
  const QString date = QStringLiteral("08.12.2026 14:12");
  EXPECT_EQ(listed[QStringLiteral("архив")],
            QStringList({QString(), QStringLiteral("Папка"), date}));
  EXPECT_EQ(listed[QStringLiteral("x.seed")],
            QStringList({QStringLiteral("1,5 КБ"), QStringLiteral("Файл seed"), date}));
  EXPECT_EQ(listed[QStringLiteral("README")],
            QStringList({QStringLiteral("0 байт"), QStringLiteral("Файл"), date}));
  EXPECT_EQ(listed[QStringLiteral("out.wfdisc")],
            QStringList({QStringLiteral("999 байт"), QStringLiteral("Файл wfdisc"), date}));
  EXPECT_EQ(listed[QStringLiteral("big.mseed")],
            QStringList({QStringLiteral("3,1 МБ"), QStringLiteral("Файл mseed"), date}));

  // The save chooser lists the same way.
  WriteFile(css_ / "архив.wfdisc", "");
  ASSERT_EQ(utimensat(AT_FDCWD, (css_ / "архив.wfdisc").c_str(), modified, 0), 0);
  OnNextChooser([&](QFileDialog& chooser) {
    listed = ListedFiles(chooser, 1);
    LookAt(chooser, QStringLiteral("save_file_columns"));
    chooser.reject();
  });
  run->services.SaveWfdiscFile(nullptr, Path(css_.path()), QStringLiteral("x.seed.wfdisc"));
  EXPECT_EQ(listed[QStringLiteral("архив.wfdisc")],
            QStringList({QStringLiteral("0 байт"), QStringLiteral("Файл wfdisc"), date}));
}

TEST_F(FileDialogsTest, MessageBoxesAnswerInRussian) {
  auto run = NewRun();
  OnNextModal([](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Да");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Нет");
    LookAt(box, QStringLiteral("quit_question"));
    box.button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(run->services.AskYesNo(nullptr, QStringLiteral("Завершить работу программы?"),
                                      QStringLiteral("Завершение работы...")));
  OnNextModal([](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    LookAt(box, {});
    box.button(QMessageBox::Ok)->click();
  });
  run->services.ShowMessage(nullptr, QStringLiteral("Операция успешно завершена!"),
                            QStringLiteral("tarnvel"), MessageIcon::kInformation);
}

}  // namespace
}  // namespace tarnvel::gui
