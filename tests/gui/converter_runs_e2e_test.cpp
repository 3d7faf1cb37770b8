// Whole runs of the built converter from the dialog program against a SQLite QOR database:
// listing a real SEED file into the channel table, taking a row, converting into the store,
// and a conversion that fails.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/channel_list_dialog.h"
#include "gui/channel_table.h"
#include "gui/control_ids.h"
#include "gui/converter_runner.h"
#include "gui/dialog_services.h"
#include "gui/main_dialog.h"
#include "gui/recent_folders.h"
#include "gui/summary_line.h"
#include "gui/utc_time.h"
#include "settings/settings_reader.h"
#include "tests/e2e/store_checks.h"
#include "tests/gui/dialog_checks.h"
#include "tests/gui/scripted_dialogs.h"
#include "tests/support/converter_sandbox.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::gui {
namespace {

using tarnvel::testing::DatabaseKind;
using tarnvel::testing::TempDir;
using tarnvel::testing::TestData;
using tarnvel::testing::TestDatabase;
using testing::LookAt;
using testing::OnNextModal;
using testing::ScriptedDialogs;
using testing::WaitUntil;

constexpr double kNow = 1321513500.0;

class GuiConverterRunTest : public ::testing::Test {
 protected:
  virtual DatabaseKind Kind() const { return DatabaseKind::kSqlite; }

  void SetUp() override {
    const std::string why = TestDatabase::Unavailable(Kind());
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(std::filesystem::exists(tarnvel::testing::ConverterPath()));
    db_ = std::make_unique<TestDatabase>(Kind());
    sandbox_.emplace(programDir_.path(), programDir_.path());
    // The ini file both programs find in their folder names a database that does not exist:
    // every run that reaches the test database got its connection values from the dialog
    // program's own command line.
    tarnvel::testing::WriteFile(programDir_.path() / "tarnvel.ini",
                                "[DATABASE]\nODBC=" + TestDatabase::MissingDsn() +
                                    "\nUSER=nobody\n\n[DATA]\nDIR=/nonexistent\n");
  }
  // Whatever a test converted, the store holds it soundly.
  void TearDown() override {
    if (!db_) return;
    EXPECT_EQ(tarnvel::testing::StoreProblems(tarnvel::testing::StoredFiles(*db_), db_->dataDir()),
              std::vector<std::string>{});
  }

  // The dialog as the program sets it up: connection values from the GUI's own command line
  // through the settings reader, the converter beside the GUI.
  void Open(const CssRequest& cssChoice, const std::string& odbc) {
    const std::vector<std::string> args{
        (programDir_.path() / "Tarnvel_GUI").string(), "ODBC=" + odbc, "USER=" + db_->user(),
        "PASSWORD=" + db_->password(), "DATA=" + db_->dataDir().string()};
    const std::string windir = programDir_.path().string();
    settings_ = std::make_unique<SettingsReader>(
        args, [windir](const char* name) -> std::optional<std::string> {
          if (std::string(name) == "WINDIR") return windir;
          return std::nullopt;
        });
    dialog_ = std::make_unique<MainDialog>(cssChoice, *services_, kNow);
    RunSetup setup;
    setup.converterPath = sandbox_->Program().string();
    setup.cssChoice = cssChoice;
    setup.loadSettings = [this] { return settings_->LoadAndGetSettings(); };
    runner_ = std::make_unique<ConverterRunner>(*dialog_, *services_, setup);
    QObject::connect(runner_.get(), &ConverterRunner::runEnded, [this] { ++runsEnded_; });
    QObject::connect(dialog_.get(), &MainDialog::stopRequested, runner_.get(),
                     &ConverterRunner::StopRun);
  }

  // The dialog as the operator meets it: the real message boxes and dialogs.
  void UseRealDialogs() {
    folders_ = std::make_unique<RecentFolders>(std::make_unique<QSettings>(
        QString::fromStdString((programDir_.path() / "Tarnvel_GUI.conf").string()),
        QSettings::IniFormat));
    realDialogs_ = std::make_unique<QtDialogServices>(*folders_);
    services_ = realDialogs_.get();
  }

  void RunAndWait(bool listing) {
    ASSERT_TRUE(testing::RunToEnd(*runner_, runsEnded_, listing, 120000));
  }

  void SetSeed(const std::string& name) {
    dialog_->controls().seedPath->setText(QString::fromStdString(TestData(name).string()));
  }

  std::unique_ptr<TestDatabase> db_;
  TempDir programDir_;
  std::optional<tarnvel::testing::ConverterSandbox> sandbox_;
  ScriptedDialogs dialogs_;
  DialogServices* services_ = &dialogs_;
  std::unique_ptr<RecentFolders> folders_;
  std::unique_ptr<QtDialogServices> realDialogs_;
  std::unique_ptr<SettingsReader> settings_;
  std::unique_ptr<MainDialog> dialog_;
  std::unique_ptr<ConverterRunner> runner_;
  int runsEnded_ = 0;
};

// The converter's own ini file names no usable database, so the listing checks SITECHAN in the
// database the dialog program was given, as its conversions do.
TEST_F(GuiConverterRunTest, ListingFillsTheTableAndARowFillsTheDialog) {
  Open(CssNotRequested{}, db_->dsn());
  SetSeed("2005-07-23-1452-04S.CER___030.mseed");
  // Learn the three channels first, then describe two of them in SITECHAN.
  RunAndWait(true);
  ASSERT_EQ(dialogs_.channelTables.size(), 1u);
  const ChannelInfoList first = dialogs_.channelTables[0];
  ASSERT_EQ(first.size(), 3u) << dialog_->ResultsText();
  for (const auto& channel : first) {
    EXPECT_DOUBLE_EQ(channel.sampleRate, 150.0);
    EXPECT_EQ(channel.location, "00");
    EXPECT_FALSE(channel.inSitechan) << channel.station << " " << channel.channel;
    EXPECT_LT(channel.begin, channel.end);
  }
  db_->Execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('" + first[0].station + "','" +
               first[0].channel + "',150,'00')");
  db_->Execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('" + first[1].station + "','" +
               first[1].channel + "',100,'00')");

  dialogs_.chooser = [](const ChannelInfoList& channels) {
    const auto& row = channels.at(1);
    return ChannelChoice{row.station, row.channel, row.location, row.begin, row.end};
  };
  RunAndWait(true);
  ASSERT_EQ(dialogs_.channelTables.size(), 2u);
  const ChannelInfoList& second = dialogs_.channelTables[1];
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(DatabaseCell(second[0]), "Есть");
  EXPECT_EQ(DatabaseCell(second[1]), "100.00");
  EXPECT_EQ(DatabaseCell(second[2]), "Нет");

  const auto& c = dialog_->controls();
  EXPECT_EQ(c.station->text().toStdString(), second[1].station);
  EXPECT_EQ(c.channel->text().toStdString(), second[1].channel);
  EXPECT_EQ(c.location->text(), "00");
  const UtcFields begin = UtcFieldsOf(second[1].begin);
  EXPECT_EQ(dialog_->BeginTime().year, begin.year);
  EXPECT_EQ(dialog_->BeginTime().day, begin.day);
  EXPECT_EQ(dialog_->BeginTime().hour, begin.hour);
  EXPECT_EQ(dialog_->BeginTime().minute, begin.minute);
  EXPECT_EQ(dialog_->ResultsText().rfind("Обнаружено в файле:\r\n", 0), 0u);
  EXPECT_EQ(dialog_->ResultsText().find("error"), std::string::npos);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(GuiConverterRunTest, ConversionMovesBothBarsAndStoresTheFile) {
  Open(CssNotRequested{}, db_->dsn());
  SetSeed("CH.BALST..LHE.D.2025.314");
  int highestReading = 0;
  int highestWriting = 0;
  QObject::connect(dialog_->controls().reading, &QProgressBar::valueChanged,
                   [&](int value) { highestReading = std::max(highestReading, value); });
  QObject::connect(dialog_->controls().writing, &QProgressBar::valueChanged,
                   [&](int value) { highestWriting = std::max(highestWriting, value); });
  RunAndWait(false);
  EXPECT_EQ(highestReading, 100);
  EXPECT_EQ(highestWriting, 100);
  ASSERT_FALSE(dialogs_.messages.empty());
  EXPECT_EQ(dialogs_.messages.back().text, "Операция успешно завершена!");
  EXPECT_GT(db_->Count("FILELIST"), 0);
  EXPECT_EQ(dialog_->controls().reading->value(), 0);
  EXPECT_EQ(dialog_->ResultsText().find(db_->password().empty() ? "\x01" : db_->password()),
            std::string::npos);
  EXPECT_NE(dialog_->ResultsText().find("password=***"), std::string::npos);
  // A converter that ends with its summary line: the results say what went into the store.
  const RunSummary summary = FindRunSummary(runner_->LastOutput());
  if (summary.store) {
    EXPECT_GT(summary.store->samples, 0);
    EXPECT_EQ(summary.store->files, db_->Count("FILELIST"));
    EXPECT_NE(dialog_->ResultsText().find("\r\nЗаписано в хранилище QOR: отсчётов " +
                                          std::to_string(summary.store->samples) + ", файлов " +
                                          std::to_string(summary.store->files) + " "),
              std::string::npos)
        << dialog_->ResultsText();
  }
}

// Nothing in the file matches the channel boxes: the converter writes nothing, and the
// dialog says so instead of announcing success.
TEST_F(GuiConverterRunTest, AConversionThatMatchesNothingSaysSo) {
  Open(CssNotRequested{}, db_->dsn());
  SetSeed("CH.BALST..LHE.D.2025.314");
  dialog_->controls().station->setText(QStringLiteral("BALS"));
  RunAndWait(false);
  ASSERT_FALSE(dialogs_.messages.empty());
  EXPECT_EQ(dialogs_.messages.back().text,
            "Ничего не записано: в файле нет данных каналов BALS:*:*.");
  EXPECT_EQ(dialogs_.messages.back().icon, MessageIcon::kExclamation);
  EXPECT_EQ(db_->Count("FILELIST"), 0);
  // The same file in a window of time before its data.
  dialog_->controls().station->setText(QStringLiteral("*"));
  dialog_->controls().useEnd->click();
  dialog_->controls().endDate->setDate(QDate(2001, 1, 1));
  RunAndWait(false);
  EXPECT_EQ(dialogs_.messages.back().text,
            "Ничего не записано: в файле нет данных в заданном интервале времени.");
}

TEST_F(GuiConverterRunTest, CssConversionWritesTheWfdiscFile) {
  Open(CssBesideSeed{}, db_->dsn());
  SetSeed("BW.BGLD.__.EHE.D.2008.001.first_10_records");
  const auto wfdisc = programDir_.path() / "out.wfdisc";
  dialogs_.saveAnswer = QString::fromStdString(wfdisc.string());
  RunAndWait(false);
  ASSERT_FALSE(dialogs_.messages.empty());
  EXPECT_EQ(dialogs_.messages.back().text, "Операция успешно завершена!");
  EXPECT_TRUE(std::filesystem::exists(wfdisc));
  EXPECT_EQ(db_->Count("FILELIST"), 0);
}

TEST_F(GuiConverterRunTest, AConversionWithoutDatabaseEndsWithTheFailureMessage) {
  Open(CssNotRequested{}, TestDatabase::MissingDsn());
  SetSeed("CH.BALST..LHE.D.2025.314");
  RunAndWait(false);
  ASSERT_FALSE(dialogs_.messages.empty());
  EXPECT_EQ(dialogs_.messages.back().text,
            "Операция завершена с ошибками!\nОшибки: 1\nConnection error (ODBC: " +
                TestDatabase::MissingDsn() + ", USER: " + db_->user() + ")");
  EXPECT_FALSE(dialog_->IsRunning());
  // The results box names what failed.
  EXPECT_NE(dialog_->ResultsText().find(
                "\r\nConnection error (ODBC: " + TestDatabase::MissingDsn() + ", USER: "),
            std::string::npos);
}

// The NUL-separated texts of a /proc file.
std::vector<std::string> ProcTexts(const std::string& path) {
  const std::string bytes = tarnvel::testing::ReadFile(path);
  std::vector<std::string> texts;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto end = bytes.find('\0', at);
    texts.push_back(bytes.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return texts;
}

// A child of this process that has stopped itself; 0 while there is none.
pid_t StoppedChild() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = tarnvel::testing::ReadFile(entry.path() / "stat");
    const auto afterName = stat.rfind(')');
    if (afterName == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(stat.c_str() + afterName + 1, " %c %d", &state, &parent) != 2) continue;
    if (parent == getpid() && state == 'T') return static_cast<pid_t>(std::stoi(name));
  }
  return 0;
}

// A SEED "file" that is a FIFO nobody writes to: a converter reading it waits mid-run until it
// is ended.
std::filesystem::path WaitingSeed(const std::filesystem::path& folder) {
  const auto path = folder / "waiting.seed";
  EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
  return path;
}

// The child of `parent` running `program` (its first argument); 0 while there is none.
pid_t ChildRunning(pid_t parent, const std::string& program) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = tarnvel::testing::ReadFile(entry.path() / "stat");
    const auto afterName = stat.rfind(')');
    int parentId = 0;
    char state = 0;
    if (afterName == std::string::npos ||
        std::sscanf(stat.c_str() + afterName + 1, " %c %d", &state, &parentId) != 2 ||
        parentId != parent) {
      continue;
    }
    const auto arguments = ProcTexts((entry.path() / "cmdline").string());
    if (!arguments.empty() && arguments[0] == program) return static_cast<pid_t>(std::stoi(name));
  }
  return 0;
}

// Whether the process has ended: gone, or a zombie no parent has reaped yet.
bool ProcessEnded(pid_t pid) {
  const std::string stat = tarnvel::testing::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto afterName = stat.rfind(')');
  return stat.empty() || (afterName != std::string::npos && afterName + 2 < stat.size() &&
                          stat[afterName + 2] == 'Z');
}

// Answers the next message box with `answer`, or its only button, after looking at it. A box
// closing a run may quote what the converter of `run` printed and the codes it was given.
void AnswerNextMessage(const QString& name, std::string& text,
                       QMessageBox::StandardButton answer = QMessageBox::No,
                       const ConverterRunner* run = nullptr) {
  OnNextModal([name, &text, answer, run](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    text = box.text().toStdString();
    const QString quoted =
        run == nullptr ? QString()
                       : QString::fromStdString(run->LastOutput() + run->LastCommand().shownText);
    LookAt(box, name, quoted);
    QAbstractButton* button = box.button(answer);
    (button != nullptr ? button : box.button(QMessageBox::Ok))->click();
  });
}

// A whole session with the real dialogs: every window the operator meets, looked at.
TEST_F(GuiConverterRunTest, EveryDialogOfASessionShowsItsTextsWholeAndInRussian) {
  UseRealDialogs();
  Open(CssNotRequested{}, db_->dsn());
  dialog_->show();
  LookAt(*dialog_, QStringLiteral("main"));

  // The channel list of a real file; a double-click takes a row.
  SetSeed("2005-07-23-1452-04S.CER___030.mseed");
  OnNextModal([](QWidget& window) {
    auto& list = dynamic_cast<ChannelListDialog&>(window);
    ASSERT_EQ(list.Table()->rowCount(), 3);
    LookAt(list, QStringLiteral("channel_list"));
    const QRect row = list.Table()->visualRect(list.Table()->model()->index(1, 0));
    QTest::mouseClick(list.Table()->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list.Table()->viewport(), Qt::LeftButton, {}, row.center());
  });
  RunAndWait(true);
  EXPECT_EQ(dialog_->controls().station->text(), "CER");
  EXPECT_EQ(dialog_->controls().channel->text().size(), 3);

  // The large-file question, left with "Отмена".
  const auto large = programDir_.path() / "large.seed";
  tarnvel::testing::WriteFile(large, "");
  std::filesystem::resize_file(large, 12 * 1048576);
  dialog_->controls().seedPath->setText(QString::fromStdString(large.string()));
  OnNextModal([](QWidget& window) {
    LookAt(window, QStringLiteral("large_file_dialog"));
    window.findChild<QPushButton*>(control_id::kCancel)->click();
  });
  RunAndWait(true);

  // A finished conversion of the chosen channel, with the results shown.
  SetSeed("2005-07-23-1452-04S.CER___030.mseed");
  dialog_->controls().showResults->click();
  std::string message;
  AnswerNextMessage(QStringLiteral("message_success"), message);
  RunAndWait(false);
  EXPECT_EQ(message, "Операция успешно завершена!");
  EXPECT_GT(db_->Count("FILELIST"), 0);
  LookAt(*dialog_, QStringLiteral("conversion_finished"));

  // A failed one: the error line stands below the summary.
  dialog_->controls().seedPath->setText(QStringLiteral("/nonexistent/файл.seed"));
  AnswerNextMessage(QStringLiteral("message_failure"), message, QMessageBox::Ok, runner_.get());
  RunAndWait(false);
  EXPECT_EQ(message,
            "Операция завершена с ошибками!\nОшибки: 1\n"
            "File open error (/nonexistent/файл.seed): No such file or directory");
  EXPECT_NE(dialog_->controls().results->toPlainText().indexOf(
                QStringLiteral("\nFile open error (/nonexistent/файл.seed): No such file")),
            -1);
  LookAt(*dialog_, QStringLiteral("conversion_failed"));

  // A Cyrillic "С" typed for the Latin "C" is refused; what is left matches nothing, and the
  // dialog says so.
  SetSeed("2005-07-23-1452-04S.CER___030.mseed");
  QLineEdit* station = dialog_->controls().station;
  station->setFocus();
  station->selectAll();
  for (const QChar c : QStringLiteral("СER")) {
    QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    QApplication::sendEvent(station, &press);
  }
  EXPECT_EQ(station->text(), "ER");
  LookAt(*dialog_, QStringLiteral("session_lookalike_refused"));
  AnswerNextMessage(QStringLiteral("message_nothing_matched"), message, QMessageBox::Ok,
                    runner_.get());
  RunAndWait(false);
  EXPECT_EQ(message.rfind("Ничего не записано: в файле нет данных каналов ER:", 0), 0u) << message;
  LookAt(*dialog_, QStringLiteral("conversion_nothing_matched"));

  // A run stopped with Escape, confirmed with "Да".
  dialog_->controls().seedPath->setText(
      QString::fromStdString(WaitingSeed(programDir_.path()).string()));
  runner_->StartConversionRun();
  ASSERT_TRUE(WaitUntil([&] { return ChildRunning(getpid(), sandbox_->Program().string()) != 0; }));
  LookAt(*dialog_, QStringLiteral("conversion_running"));
  AnswerNextMessage(QStringLiteral("stop_question"), message, QMessageBox::Yes);
  std::string stopped;
  const int before = runsEnded_;
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  EXPECT_EQ(message, "Прервать работу конвертера?");
  AnswerNextMessage(QStringLiteral("message_stopped"), stopped);
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ > before; }, 20000));
  EXPECT_EQ(stopped, "Операция прервана.");
  LookAt(*dialog_, QStringLiteral("conversion_stopped"));

  // Closing asks first.
  AnswerNextMessage(QStringLiteral("message_quit"), message);
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  EXPECT_EQ(message, "Завершить работу программы?");
  EXPECT_TRUE(dialog_->isVisible());
}

class GuiPostgresRunTest : public GuiConverterRunTest {
 protected:
  DatabaseKind Kind() const override { return DatabaseKind::kPostgres; }
};

// The operator stops a conversion whose converter waits on its input: the converter ends, the
// results say the run was stopped, and the next conversion stores its file into a sound store.
TEST_F(GuiConverterRunTest, AStoppedConversionEndsItsConverterAndTheNextOneStores) {
  Open(CssNotRequested{}, db_->dsn());
  dialog_->controls().seedPath->setText(
      QString::fromStdString(WaitingSeed(programDir_.path()).string()));
  runner_->StartConversionRun();
  pid_t converter = 0;
  ASSERT_TRUE(WaitUntil(
      [&] { return (converter = ChildRunning(getpid(), sandbox_->Program().string())) != 0; }));
  ASSERT_TRUE(dialog_->controls().stop->isEnabled());
  dialogs_.yesAnswer = true;
  dialog_->controls().stop->click();
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ == 1; }, 20000));
  EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(converter); }, 5000));
  EXPECT_EQ(dialogs_.messages.at(0).text, "Прервать работу конвертера?");
  EXPECT_EQ(dialogs_.messages.back().text, "Операция прервана.");
  EXPECT_NE(dialog_->ResultsText().find(
                "\r\nОперация прервана: конвертер остановлен по запросу оператора.\r\n"),
            std::string::npos);
  EXPECT_FALSE(dialog_->controls().stop->isEnabled());

  SetSeed("CH.BALST..LHE.D.2025.314");
  RunAndWait(false);
  EXPECT_EQ(dialogs_.messages.back().text, "Операция успешно завершена!");
  EXPECT_GT(db_->Count("FILELIST"), 0);
}

// The dialog program killed (SIGKILL: nothing of it runs any more) takes its converter along.
// The dialog program is this test program again, running the helper below.
TEST_F(GuiConverterRunTest, AKilledDialogProgramLeavesNoConverterRunning) {
  const std::string program = sandbox_->Program().string();
  const std::map<std::string, std::string> setup = {
      {"TARNVEL_TEST_DIALOG_SEED", WaitingSeed(programDir_.path()).string()},
      {"TARNVEL_TEST_DIALOG_CONVERTER", program},
      {"TARNVEL_TEST_DIALOG_FOLDER", programDir_.path().string()},
      {"TARNVEL_TEST_DIALOG_ODBC", db_->dsn()},
      {"TARNVEL_TEST_DIALOG_DATA", db_->dataDir().string()}};
  tarnvel::testing::SpawnArguments spawn(
      "/proc/self/exe",
      {"--gtest_filter=GuiDialogProgram.DISABLED_ConvertsUntilKilled",
       "--gtest_also_run_disabled_tests"},
      setup);
  pid_t dialogProgram = 0;
  ASSERT_EQ(
      posix_spawn(&dialogProgram, "/proc/self/exe", nullptr, nullptr, spawn.argv(), spawn.envp()),
      0);
  pid_t converter = 0;
  const bool started =
      WaitUntil([&] { return (converter = ChildRunning(dialogProgram, program)) != 0; }, 60000);
  kill(dialogProgram, SIGKILL);
  int status = 0;
  waitpid(dialogProgram, &status, 0);
  ASSERT_TRUE(started) << "the dialog program started no converter";
  const bool ended = WaitUntil([&] { return ProcessEnded(converter); }, 10000);
  if (!ended) kill(converter, SIGKILL);
  EXPECT_TRUE(ended) << "converter " << converter << " outlived its dialog program";
}

// The dialog program of the test above: converts a SEED file that never comes until the test
// kills it. Run only by that test.
TEST(GuiDialogProgram, DISABLED_ConvertsUntilKilled) {
  const auto value = [](const char* name) { return qEnvironmentVariable(name).toStdString(); };
  if (value("TARNVEL_TEST_DIALOG_SEED").empty()) GTEST_SKIP() << "run by another test only";
  const std::string folder = value("TARNVEL_TEST_DIALOG_FOLDER");
  SettingsReader settings({folder + "/Tarnvel_GUI", "ODBC=" + value("TARNVEL_TEST_DIALOG_ODBC"),
                           "DATA=" + value("TARNVEL_TEST_DIALOG_DATA")},
                          [folder](const char* name) -> std::optional<std::string> {
                            if (std::string(name) == "WINDIR") return folder;
                            return std::nullopt;
                          });
  ScriptedDialogs dialogs;
  MainDialog dialog(CssNotRequested{}, dialogs, kNow);
  RunSetup setup;
  setup.converterPath = value("TARNVEL_TEST_DIALOG_CONVERTER");
  setup.cssChoice = CssNotRequested{};
  setup.loadSettings = [&settings] { return settings.LoadAndGetSettings(); };
  ConverterRunner runner(dialog, dialogs, setup);
  dialog.controls().seedPath->setText(QString::fromStdString(value("TARNVEL_TEST_DIALOG_SEED")));
  runner.StartConversionRun();
  WaitUntil([] { return false; }, 60000);
  ADD_FAILURE() << "not killed";
}

// Any user of the machine can read a process's command line; the password the dialog program
// hands the converter is not on it, only in the converter's environment (readable by its own
// user), and the server that checks it lets the conversion in.
TEST_F(GuiPostgresRunTest, TheConvertersCommandLineHoldsNoPasswordAndTheConversionSucceeds) {
  ASSERT_FALSE(db_->password().empty());
  // In place of the converter: a script that stops itself, so its command line can be read while
  // it runs, and then becomes the converter with the same arguments and environment.
  const auto stopping = programDir_.path() / "stopping";
  std::filesystem::create_directory(stopping);
  tarnvel::testing::WriteFile(
      stopping / "tarnvel",
      "#!/bin/sh\nkill -STOP $$\nexec \"" + tarnvel::testing::ConverterPath() + "\" \"$@\"\n");
  std::filesystem::permissions(stopping / "tarnvel", std::filesystem::perms::owner_all);
  Open(CssNotRequested{}, db_->dsn());
  RunSetup setup;
  setup.converterPath = (stopping / "tarnvel").string();
  setup.cssChoice = CssNotRequested{};
  setup.loadSettings = [this] { return settings_->LoadAndGetSettings(); };
  runner_ = std::make_unique<ConverterRunner>(*dialog_, dialogs_, setup);
  QObject::connect(runner_.get(), &ConverterRunner::runEnded, [this] { ++runsEnded_; });
  SetSeed("CH.BALST..LHE.D.2025.314");

  runner_->StartConversionRun();
  pid_t converter = 0;
  ASSERT_TRUE(WaitUntil([&] { return (converter = StoppedChild()) != 0; }));
  const std::string proc = "/proc/" + std::to_string(converter);
  const auto arguments = ProcTexts(proc + "/cmdline");
  const auto environment = ProcTexts(proc + "/environ");
  kill(converter, SIGCONT);
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ == 1; }, 120000));

  ASSERT_GE(arguments.size(), 4u);
  EXPECT_EQ(arguments[2], TestData("CH.BALST..LHE.D.2025.314").string());
  EXPECT_NE(std::find(arguments.begin(), arguments.end(), "odbc=" + db_->dsn()), arguments.end());
  for (const std::string& argument : arguments) {
    EXPECT_EQ(argument.find(db_->password()), std::string::npos) << argument;
    EXPECT_EQ(argument.find("password"), std::string::npos) << argument;
  }
  EXPECT_NE(
      std::find(environment.begin(), environment.end(), "TARNVEL_PASSWORD=" + db_->password()),
      environment.end());
  ASSERT_FALSE(dialogs_.messages.empty());
  EXPECT_EQ(dialogs_.messages.back().text, "Операция успешно завершена!");
  EXPECT_GT(db_->Count("FILELIST"), 0);
  EXPECT_NE(dialog_->ResultsText().find(" password=*** "), std::string::npos);
}

}  // namespace
}  // namespace tarnvel::gui
