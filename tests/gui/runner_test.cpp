// The runner against a scripted stand-in for the converter that prints the converter's
// wording, and a stand-in for the main dialog: command lines received, draining, progress,
// listing, messages and refusals.
#include "gui/converter_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "gui/main_dialog.h"
#include "gui/priority.h"
#include "gui/run_view.h"
#include "gui/utc_time.h"
#include "tests/gui/dialog_checks.h"
#include "tests/gui/scripted_dialogs.h"
#include "tests/support/process.h"

namespace tarnvel::gui {
namespace {

using tarnvel::testing::ReadFile;
using tarnvel::testing::TempDir;
using tarnvel::testing::WriteFile;
using testing::ScriptedDialogs;
using testing::WaitUntil;

constexpr double kNow = 1321513500.0;  // 2011-11-17 07:05:00 UTC
const ResolvedSettings kConnection{"QOR", "qor", "se cret", DataDirectory("/srv/qor")};

PickerTime Picked(double epochSeconds, bool set) {
  const UtcFields t = UtcFieldsOf(epochSeconds);
  return PickerTime{set, t.year, t.month, t.day, t.hour, t.minute};
}

// The main dialog as a run sees it: inputs the test sets, and what the run shows.
class FakeView : public RunView {
 public:
  std::string seedPath;
  ChannelBoxes boxes{"*", "*", "*"};
  PickerTime begin = Picked(kNow, false);  // the pickers start at the current time
  PickerTime end = Picked(kNow, false);
  bool css = false;
  bool running = false;
  int reading = 0;
  int writing = 0;
  std::string resultsText;
  std::string resultsBox;
  std::string writingTarget;
  std::vector<std::string> writingTargets;  // every target shown, in order
  ChannelInfoList channels;

  QWidget* Window() override { return nullptr; }
  std::string SeedPath() const override { return seedPath; }
  ChannelBoxes Boxes() const override { return boxes; }
  PickerTime BeginTime() const override { return begin; }
  PickerTime EndTime() const override { return end; }
  bool CssChosen() const override { return css; }
  bool IsRunning() const override { return running; }
  void SetRunning(bool on) override { running = on; }
  void ShowProgress(std::optional<int> r, std::optional<int> w) override {
    if (r) reading = *r;
    if (w) writing = *w;
  }
  void ShowWritingTarget(const std::string& wfdiscPath) override {
    writingTarget = wfdiscPath;
    writingTargets.push_back(wfdiscPath);
  }
  void SetResultsText(const std::string& text) override { resultsText = text; }
  void ShowResultsText(const std::string& text) override { resultsText = resultsBox = text; }
  void ClearResultsBox() override { resultsBox.clear(); }
  void SetChannels(const ChannelInfoList& list) override { channels = list; }
  // As the dialog does: the boxes and the pickers take the row, the checkboxes stay.
  void ApplyChannelChoice(const ChannelChoice& choice) override {
    boxes = {choice.station, choice.channel, choice.location};
    begin = Picked(choice.begin, begin.set);
    end = Picked(choice.end, end.set);
  }
};

// The arguments kConnection gives: everything but the password.
std::vector<std::string> WithConnection(std::vector<std::string> arguments) {
  for (const char* value : {"odbc=QOR", "user=qor", "data=/srv/qor"}) arguments.push_back(value);
  return arguments;
}

class RunnerTest : public ::testing::Test {
 protected:
  // A stand-in converter: records its arguments one a line and the password it was given in
  // its environment, then runs `body`.
  void Converter(const std::string& body) {
    const auto path = dir_ / "tarnvel";
    WriteFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                        (dir_ / "args.txt").string() +
                        "\"\nprintf '%s' \"${TARNVEL_PASSWORD-unset}\" > \"" +
                        (dir_ / "password.txt").string() + "\"\n" + body + "\n");
    chmod(path.c_str(), 0755);
  }

  std::string PasswordGiven() { return ReadFile(dir_ / "password.txt"); }

  void Open(const CssRequest& cssChoice = CssNotRequested{}) {
    view_.css = !std::holds_alternative<CssNotRequested>(cssChoice);  // as the dialog opens
    RunSetup setup;
    setup.converterPath = (dir_ / "tarnvel").string();
    setup.cssChoice = cssChoice;
    setup.loadSettings = [this] {
      ++settingsLoads_;
      return connection_;
    };
    runner_ = std::make_unique<ConverterRunner>(view_, dialogs_, setup);
    QObject::connect(runner_.get(), &ConverterRunner::runEnded, [this] { ++runsEnded_; });
  }

  void SetSeed(const std::string& path) { view_.seedPath = path; }

  std::string Seed(std::uintmax_t bytes = 4096) {
    const auto path = dir_ / "x.seed";
    WriteFile(path, "");
    std::filesystem::resize_file(path, bytes);
    return path.string();
  }

  // Starts a run and waits for its end.
  void Run(bool listing) { ASSERT_TRUE(testing::RunToEnd(*runner_, runsEnded_, listing)); }

  std::vector<std::string> Arguments() {
    std::vector<std::string> lines;
    std::string text = ReadFile(dir_ / "args.txt");
    std::size_t at = 0;
    while (at < text.size()) {
      const auto end = text.find('\n', at);
      lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return lines;
  }

  bool ConverterRan() const { return std::filesystem::exists(dir_ / "args.txt"); }

  const std::string& LastMessage() const { return dialogs_.messages.back().text; }

  TempDir dir_;
  ScriptedDialogs dialogs_;
  ResolvedSettings connection_ = kConnection;
  FakeView view_;
  std::unique_ptr<ConverterRunner> runner_;
  int runsEnded_ = 0;
  int settingsLoads_ = 0;
};

constexpr char kListing[] =
    "printf 'ABC::BHZ::00 1237640700.00 - 1237644300.00 20\\n'\n"
    "printf 'ABC::BHN::00 1237640700.00 - 1237644300.00 20\\n'\n"
    "printf 'DEF::LHE::?? 1237640000.00 - 1237726399.00 1\\n'\n"
    "printf 'Not found in SITECHAN: ABC::BHN::00\\n'\n"
    "printf 'SPS differs from SITECHAN: DEF::LHE::?? 20.00\\n'\n";

TEST_F(RunnerTest, ListingFillsTheTableAndTheChosenRowFillsTheDialog) {
  Converter(kListing);
  Open();
  SetSeed(Seed());
  dialogs_.chooser = [](const ChannelInfoList& channels) {
    const auto& row = channels.at(2);
    return ChannelChoice{row.station, row.channel, row.location, row.begin, row.end};
  };
  runner_->StartListingRun();
  EXPECT_TRUE(view_.running);
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ == 1; }));
  EXPECT_FALSE(view_.running);

  // The listing checks SITECHAN in the database the conversion would use.
  EXPECT_EQ(Arguments(), WithConnection({Seed(), "-i"}));
  EXPECT_EQ(PasswordGiven(), "se cret");
  EXPECT_EQ(settingsLoads_, 1);
  ASSERT_EQ(dialogs_.channelTables.size(), 1u);
  const ChannelInfoList& table = dialogs_.channelTables[0];
  ASSERT_EQ(table.size(), 3u);
  EXPECT_FALSE(table[1].inSitechan);
  EXPECT_DOUBLE_EQ(table[2].sitechanRate, 20.0);
  EXPECT_EQ(view_.resultsText,
            "Обнаружено в файле:\r\n"
            "ABC::BHZ::00 1237640700.00 - 1237644300.00 20\r\n"
            "ABC::BHN::00 1237640700.00 - 1237644300.00 20\r\n"
            "DEF::LHE::?? 1237640000.00 - 1237726399.00 1\r\n"
            "==================\r\n");
  // The results box itself waits until the view is switched on.
  EXPECT_TRUE(view_.resultsBox.empty());
  ASSERT_EQ(view_.channels.size(), 3u);
  EXPECT_FALSE(view_.channels[1].inSitechan);

  EXPECT_EQ(view_.boxes.station, "DEF");
  EXPECT_EQ(view_.boxes.channel, "LHE");
  EXPECT_EQ(view_.boxes.location, "??");
  EXPECT_EQ(view_.begin.day, 21);
  EXPECT_EQ(view_.begin.hour, 12);  // 1237640000 is 12:53:20 UTC
  EXPECT_EQ(view_.begin.minute, 53);
  EXPECT_EQ(view_.end.day, 22);
  EXPECT_EQ(view_.end.hour, 12);
  EXPECT_EQ(view_.end.minute, 53);
  EXPECT_TRUE(dialogs_.messages.empty());

  // A second listing starts from an empty table.
  dialogs_.chooser = nullptr;
  Run(true);
  EXPECT_EQ(dialogs_.channelTables.at(1).size(), 3u);
  EXPECT_EQ(view_.channels.size(), 3u);
  // Nothing chosen: the boxes keep what they had; the filter of the new boxes was passed.
  EXPECT_EQ(view_.boxes.station, "DEF");
  EXPECT_EQ(Arguments(), WithConnection({Seed(), "DEF:LHE:??", "-i"}));
}

TEST_F(RunnerTest, ListingReadsEveryLineOfALongOutput) {
  Converter(
      "i=0; while [ $i -lt 1500 ]; do echo \"S$i::BHZ::00 100.00 - 200.00 40\"; "
      "i=$((i+1)); done");
  Open();
  SetSeed(Seed());
  Run(true);
  ASSERT_EQ(dialogs_.channelTables.size(), 1u);
  ASSERT_EQ(dialogs_.channelTables[0].size(), 1500u);
  EXPECT_EQ(dialogs_.channelTables[0].back().station, "S1499");
}

TEST_F(RunnerTest, LargeFilesAskHowMuchToView) {
  Converter("true");
  Open();
  SetSeed(Seed(10485759));
  Run(true);
  EXPECT_TRUE(dialogs_.viewLimitRequests.empty());

  SetSeed(Seed(10485760));
  dialogs_.viewLimitAnswer = 5;
  view_.begin.set = true;
  Run(true);
  ASSERT_EQ(dialogs_.viewLimitRequests.size(), 1u);
  EXPECT_EQ(dialogs_.viewLimitRequests[0], Seed(10485760) + "|10");
  EXPECT_EQ(Arguments(), WithConnection({Seed(10485760), "beg=07:05:00-17.11.2011", "-i=5"}));

  dialogs_.viewLimitAnswer = 0;
  Run(true);
  EXPECT_EQ(Arguments().at(2), "-i");

  std::filesystem::remove(dir_ / "args.txt");
  dialogs_.viewLimitAnswer = -1;
  Run(true);
  EXPECT_FALSE(ConverterRan());
  EXPECT_FALSE(view_.running);
  EXPECT_TRUE(dialogs_.channelTables.size() == 3u);
}

TEST_F(RunnerTest, EmptyPathIsReportedByEachRun) {
  Converter("true");
  Open();
  Run(true);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, "Введите конвертируемый файл");
  EXPECT_EQ(dialogs_.messages[0].caption, "tarnvel");
  EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::kExclamation);
  Run(false);
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(dialogs_.messages[1].text, "Выберите конвертируемый файл!");
  EXPECT_FALSE(ConverterRan());
  EXPECT_FALSE(view_.running);
}

TEST_F(RunnerTest, ConversionMovesBothBarsAndEndsWithSuccess) {
  const std::string flag = (dir_ / "go").string();
  Converter(
      "printf '\\rConverting File - 10%%\\rConverting File - 41%%'\n"
      "while [ ! -e " +
      flag +
      " ]; do sleep 0.05; done\n"
      "printf '\\n\\n\\rWriting to database - 57%%'\n"
      "while [ ! -e " +
      flag +
      "2 ]; do sleep 0.05; done\n"
      "printf '\\rWriting to database - 100%%\\n\\n'\n");
  Open();
  SetSeed(Seed());
  view_.boxes.station = "ABC";
  view_.resultsBox = "earlier";
  runner_->StartConversionRun();
  EXPECT_TRUE(view_.resultsBox.empty());
  EXPECT_TRUE(WaitUntil([&] { return view_.reading == 41; }));
  EXPECT_TRUE(view_.running);
  WriteFile(flag, "");
  EXPECT_TRUE(WaitUntil([&] { return view_.writing == 57; }));
  EXPECT_EQ(view_.reading, 41);
  WriteFile(flag + "2", "");
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ == 1; }));

  EXPECT_EQ(Arguments(), WithConnection({Seed(), "ABC:*:*"}));
  EXPECT_EQ(PasswordGiven(), "se cret");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(LastMessage(), "Операция успешно завершена!");
  EXPECT_EQ(dialogs_.messages[0].caption, "tarnvel");
  EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::kInformation);
  const std::string summary = "Connection string: \"" + (dir_ / "tarnvel").string() + "\" \"" +
                              Seed() +
                              "\" \"ABC:*:*\" odbc=QOR user=qor password=*** "
                              "data=\"/srv/qor\"\r\n";
  EXPECT_EQ(view_.resultsText, summary);
  EXPECT_EQ(view_.resultsBox, summary);
  EXPECT_EQ(view_.reading, 0);
  EXPECT_EQ(view_.writing, 0);
  EXPECT_FALSE(view_.running);
  EXPECT_EQ(settingsLoads_, 1);
}

TEST_F(RunnerTest, AConverterPrintingMegabytesNeverBlocksAndTheBarsFollowItsNewestLines) {
  const std::string flag = (dir_ / "go").string();
  Converter(
      "i=0; while [ $i -lt 200 ]; do printf '\\rConverting File - 05%%%.0s' $(seq 1 100); "
      "i=$((i+1)); done\n"
      "printf '\\rConverting File - 77%%'\n"
      "while [ ! -e " +
      flag +
      " ]; do sleep 0.05; done\n"
      "head -c 2000000 /dev/zero | tr '\\0' 'x'\n"
      "printf '\\rWriting to database - 88%%'\n"
      "while [ ! -e " +
      flag + "2 ]; do sleep 0.05; done\n");
  Open();
  SetSeed(Seed());
  runner_->StartConversionRun();
  // 20000 entries (about 450 KB) before the newest one.
  EXPECT_TRUE(WaitUntil([&] { return view_.reading == 77; }));
  WriteFile(flag, "");
  EXPECT_TRUE(WaitUntil([&] { return view_.writing == 88; }));
  WriteFile(flag + "2", "");
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ == 1; }));
  EXPECT_EQ(LastMessage(), "Операция успешно завершена!");
}

TEST_F(RunnerTest, FailedConversionsNameWhatFailed) {
  Converter(
      "printf '\\rConverting File - 100%%\\n\\n'\n"
      "printf '\\rDB write error (ABC::BHZ::/srv/qor/ABC/13/a)\\n'\n"
      "printf '\\rDelete error (ABC::BHZ::/srv/qor/ABC/13/b)\\n'\n"
      "printf '\\rWriting to database - 100%%\\n\\n'\n");
  Open();
  SetSeed(Seed());
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 2\n"
            "DB write error (ABC::BHZ::/srv/qor/ABC/13/a)\n"
            "Delete error (ABC::BHZ::/srv/qor/ABC/13/b)");
  EXPECT_EQ(dialogs_.messages.back().icon, MessageIcon::kExclamation);
  // The error lines follow the summary, so the operator sees what failed.
  const std::string& results = view_.resultsText;
  EXPECT_EQ(results.substr(results.find("\r\n") + 2),
            "DB write error (ABC::BHZ::/srv/qor/ABC/13/a)\r\n"
            "Delete error (ABC::BHZ::/srv/qor/ABC/13/b)\r\n");
  EXPECT_EQ(results.rfind("Connection string: ", 0), 0u);
  EXPECT_EQ(view_.resultsBox, results);

  Converter("printf 'Connection error (ODBC: QOR, USER: qor)\\n'; exit 255");
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 1\nConnection error (ODBC: QOR, USER: qor)");

  Converter("exit 3");
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 1\nКонвертер завершился с кодом 3.");

  Converter("kill -9 $$");
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 1\nКонвертер завершился аварийно.");
  EXPECT_NE(view_.resultsText.find("\r\nКонвертер завершился аварийно.\r\n"), std::string::npos);

  // "Open Err:" comes with the path the store printed on the line after it.
  Converter("printf '\\rWriting to database - 100%%\\n\\nOpen Err: \\n/srv/qor/ABC/13/c\\n'");
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 1\nOpen Err: /srv/qor/ABC/13/c");
  EXPECT_NE(view_.resultsText.find("\r\nOpen Err: /srv/qor/ABC/13/c\r\n"), std::string::npos);
}

// The converter's summary line: what the run stored, or that it stored nothing.
TEST_F(RunnerTest, ResultsShowWhatTheConversionWroteAndANothingIsNoSuccess) {
  const std::string written =
      "printf '\\rConverting File - 100%%\\n\\n\\rWriting to database - 100%%"
      "\\rWriting to database - 100%%\\n\\n'\n";
  Converter(written +
            "printf 'Stored 12000 samples in 3 files (2 new, 1 continued, 0 rewritten), 0 "
            "samples were stored already\\n'");
  Open();
  SetSeed(Seed());
  view_.boxes.station = "CER";
  Run(false);
  EXPECT_EQ(LastMessage(), "Операция успешно завершена!");
  EXPECT_EQ(view_.resultsBox.substr(view_.resultsBox.find("\r\n") + 2),
            "Записано в хранилище QOR: отсчётов 12000, файлов 3 (новых 2, дописанных 1, "
            "переписанных 0).\r\n");

  Converter(written +
            "printf 'Stored 0 samples in 0 files (0 new, 0 continued, 0 rewritten), 12000 "
            "samples were stored already\\n'");
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Ничего не записано в хранилище QOR: все отсчёты (12000) уже были в нём.");

  // A filter that matched nothing: the converter wrote no segment and printed no summary.
  Converter("printf '\\rConverting File - 100%%\\n\\n\\rWriting to database - 100%%\\n\\n'");
  view_.boxes.station = "ER";
  view_.begin.set = true;
  Run(false);
  EXPECT_EQ(LastMessage(),
            "Ничего не записано: в файле нет данных каналов ER:*:* в заданном интервале "
            "времени.");
  EXPECT_EQ(dialogs_.messages.back().icon, MessageIcon::kExclamation);
  EXPECT_NE(view_.resultsBox.find("\r\nНичего не записано: в файле нет данных"), std::string::npos);
}

// The main dialog itself as the run's view: what the operator reads after a conversion into the
// store and one into a CSS file.
TEST_F(RunnerTest, TheDialogsResultsSayWhatWasWritten) {
  MainDialog dialog(CssNotRequested{}, dialogs_, kNow);
  RunSetup setup;
  setup.converterPath = (dir_ / "tarnvel").string();
  setup.cssChoice = CssNotRequested{};
  setup.loadSettings = [] { return kConnection; };
  ConverterRunner runner(dialog, dialogs_, setup);
  int ended = 0;
  QObject::connect(&runner, &ConverterRunner::runEnded, [&] { ++ended; });
  dialog.show();
  dialog.controls().showResults->click();
  dialog.controls().seedPath->setText(QString::fromStdString(Seed()));
  const std::string writing =
      "printf '\\rConverting File - 100%%\\n\\n\\rWriting to database - 100%%"
      "\\rWriting to database - 100%%\\n\\n'\n";
  Converter(writing +
            "printf 'Stored 43200 samples in 2 files (1 new, 1 continued, 0 rewritten), 3600 "
            "samples were stored already\\n'");
  runner.StartConversionRun();
  ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
  EXPECT_EQ(LastMessage(), "Операция успешно завершена!");
  EXPECT_TRUE(dialog.controls().results->toPlainText().endsWith(
      QStringLiteral("\nЗаписано в хранилище QOR: отсчётов 43200, файлов 2 (новых 1, дописанных 1, "
                     "переписанных 0).\nУже были в хранилище отсчётов: 3600.\n")));
  testing::LookAt(dialog, QStringLiteral("conversion_stored_summary"));

  dialog.controls().toCss->click();
  dialogs_.saveAnswer = QString::fromStdString((dir_ / "out.wfdisc").string());
  Converter(
      "printf '\\rConverting File - 100%%\\n\\n\\rWriting to CSS-file - 100%%\\rWriting "
      "to CSS-file - 100%%\\n\\nWrote 3 wfdisc lines and 3 data files (43200 samples) to " +
      (dir_ / "out.wfdisc").string() + "\\n'");
  runner.StartConversionRun();
  ASSERT_TRUE(WaitUntil([&] { return ended == 2; }));
  EXPECT_TRUE(dialog.controls().results->toPlainText().endsWith(
      QString::fromStdString("\nЗаписано в CSS: строк wfdisc 3, файлов данных 3 (отсчётов 43200), "
                             "файл wfdisc: " +
                             (dir_ / "out.wfdisc").string() + "\n")));
  testing::LookAt(dialog, QStringLiteral("conversion_css_summary"));
}

TEST_F(RunnerTest, EmptyBoxesStandForEveryCode) {
  Converter("true");
  Open();
  SetSeed(Seed());
  view_.boxes = {"", "BHZ", ""};
  Run(false);
  EXPECT_EQ(Arguments().at(1), "*:BHZ:*");
  view_.boxes = {"ABC", "", "00"};
  Run(true);
  EXPECT_EQ(Arguments().at(1), "ABC");
}

// Starts a stand-in that prints a progress line, records its process id and then waits, and
// returns the path of the id file.
std::filesystem::path WaitingConverterScript(const std::filesystem::path& dir, bool ignoreTerm,
                                             std::string& body) {
  const auto pidFile = dir / "converter.pid";
  body = std::string(ignoreTerm ? "trap '' TERM\n" : "") + "echo $$ > \"" + pidFile.string() +
         "\"\nprintf '\\rConverting File - 41%%'\nexec sleep 600\n";
  return pidFile;
}

// Whether the process has ended (gone, or a zombie nobody has reaped yet).
bool ProcessEnded(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return true;
  const auto afterName = stat.rfind(')');
  return afterName != std::string::npos && afterName + 2 < stat.size() &&
         stat[afterName + 2] == 'Z';
}

TEST_F(RunnerTest, StoppingEndsTheConverterAndTheRunSaysItWasStopped) {
  for (const bool ignoresTerm : {false, true}) {
    SCOPED_TRACE(ignoresTerm ? "converter ignoring SIGTERM" : "converter ending on SIGTERM");
    std::string body;
    const auto pidFile = WaitingConverterScript(dir_.path(), ignoresTerm, body);
    std::filesystem::remove(pidFile);
    Converter(body);
    Open();
    SetSeed(Seed());
    runner_->StopRun();  // no run: nothing happens
    const int before = runsEnded_;
    runner_->StartConversionRun();
    ASSERT_TRUE(WaitUntil([&] { return view_.reading == 41; }));
    const pid_t converter = std::stoi(ReadFile(pidFile));
    EXPECT_FALSE(ProcessEnded(converter));
    runner_->StopRun();
    ASSERT_TRUE(WaitUntil([&] { return runsEnded_ > before; }, 10000));
    EXPECT_TRUE(ProcessEnded(converter));
    EXPECT_EQ(LastMessage(), "Операция прервана.");
    EXPECT_EQ(dialogs_.messages.back().icon, MessageIcon::kInformation);
    EXPECT_NE(view_.resultsBox.find(
                  "\r\nОперация прервана: конвертер остановлен по запросу оператора.\r\n"),
              std::string::npos);
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.reading, 0);
  }

  // A listing stopped shows no channel table.
  std::string body;
  std::filesystem::remove(WaitingConverterScript(dir_.path(), false, body));
  Converter(std::string(kListing) + body);
  runner_->StartListingRun();
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir_ / "converter.pid"); }));
  runner_->StopRun();
  ASSERT_TRUE(WaitUntil([&] { return !view_.running; }, 10000));
  EXPECT_TRUE(dialogs_.channelTables.empty());
  EXPECT_EQ(LastMessage(), "Операция прервана.");

  // The next run is an ordinary one.
  Converter("true");
  Run(false);
  EXPECT_EQ(LastMessage(), "Операция успешно завершена!");
}

TEST_F(RunnerTest, ARunnerThatGoesEndsItsConverter) {
  std::string body;
  const auto pidFile = WaitingConverterScript(dir_.path(), true, body);
  Converter(body);
  Open();
  SetSeed(Seed());
  runner_->StartConversionRun();
  ASSERT_TRUE(WaitUntil([&] { return view_.reading == 41; }));
  const pid_t converter = std::stoi(ReadFile(pidFile));
  runner_.reset();
  EXPECT_TRUE(ProcessEnded(converter));
}

TEST_F(RunnerTest, CssConversionAsksForTheWfdiscFileAndFollowsCssWriting) {
  const std::string flag = (dir_ / "go").string();
  Converter(
      "printf '\\rConverting File - 100%%\\n\\n\\rWriting to CSS-file - 64%%'\n"
      "while [ ! -e " +
      flag +
      " ]; do sleep 0.05; done\n"
      "printf '\\rWriting to CSS-file - 100%%\\n\\n'\n");
  Open(CssBesideSeed{});
  SetSeed(Seed());
  view_.end.set = true;

  dialogs_.saveAnswer.reset();
  Run(false);
  ASSERT_EQ(dialogs_.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs_.saveRequests[0].first, dir_.path().string());
  EXPECT_EQ(dialogs_.saveRequests[0].second, "x.seed.wfdisc");
  EXPECT_FALSE(ConverterRan());
  EXPECT_TRUE(dialogs_.messages.empty());

  const std::string wfdisc = (dir_ / "out.wfdisc").string();
  dialogs_.saveAnswer = QString::fromStdString(wfdisc);
  runner_->StartConversionRun();
  EXPECT_TRUE(WaitUntil([&] { return view_.writing == 64; }));
  WriteFile(flag, "");
  ASSERT_TRUE(WaitUntil([&] { return runsEnded_ == 2; }));
  EXPECT_EQ(Arguments(),
            WithConnection({Seed(), "css=" + wfdisc, "*:*:*", "end=07:05:00-17.11.2011"}));
  EXPECT_EQ(PasswordGiven(), "se cret");
  EXPECT_EQ(LastMessage(), "Операция успешно завершена!");
  // The writing bar named the CSS file while the converter wrote it, and the store after.
  EXPECT_EQ(view_.writingTargets, (std::vector<std::string>{wfdisc, ""}));
}

TEST_F(RunnerTest, BadCssRequestWarnsAndStillOffersTheSaveDialog) {
  Converter("true");
  Open(CssBadPath{});
  SetSeed(Seed());
  Run(false);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, "В командной строке задан некорретный путь к CSS файлу!");
  EXPECT_EQ(dialogs_.messages[0].caption, "Warning");
  EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::kInformation);
  ASSERT_EQ(dialogs_.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs_.saveRequests[0], std::make_pair(std::string(), std::string()));
}

TEST_F(RunnerTest, DatabaseOutputIgnoresTheCssRequest) {
  Converter("true");
  Open(CssBesideSeed{});
  SetSeed(Seed());
  view_.css = false;
  Run(false);
  EXPECT_TRUE(dialogs_.saveRequests.empty());
  EXPECT_EQ(Arguments().at(1), "*:*:*");
}

TEST_F(RunnerTest, OverlongValuesAreRefusedNotCut) {
  Converter("true");
  Open();
  SetSeed(Seed());
  view_.boxes.station = "ABCDEFGH";
  Run(true);
  Run(false);
  EXPECT_FALSE(ConverterRan());
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_NE(dialogs_.messages[0].text.find("станция"), std::string::npos);

  // What the converter's filter cannot take is refused, not passed on to match nothing: a
  // Cyrillic letter, even one that looks Latin, and the filter's separators.
  for (const char* station : {"\xD0\xA1"
                              "ER",
                              "ГДЕЖЗИК", "C:ER", "C,R"}) {
    view_.boxes.station = station;
    Run(false);
    EXPECT_FALSE(ConverterRan()) << station;
    EXPECT_NE(LastMessage().find("в поле «Станция»"), std::string::npos) << LastMessage();
  }
  view_.boxes.station = "CER";
  Run(false);
  EXPECT_TRUE(ConverterRan());
  EXPECT_EQ(Arguments().at(1), "CER:*:*");
  std::filesystem::remove(dir_ / "args.txt");

  view_.boxes.station = "ABCDEFG";
  connection_.password = std::string(32, 'p');
  Run(false);
  EXPECT_FALSE(ConverterRan());
  EXPECT_NE(LastMessage().find("пароль"), std::string::npos);

  connection_.password = std::string(31, 'p');
  connection_.dataDir = DataDirectory("/" + std::string(1023, 'd'));
  Run(false);
  EXPECT_FALSE(ConverterRan());
  EXPECT_NE(LastMessage().find("каталог данных"), std::string::npos);

  connection_.dataDir = DataDirectory("/" + std::string(1022, 'd'));
  SetSeed("/" + std::string(1022, 's'));
  Run(true);
  EXPECT_FALSE(ConverterRan());
  EXPECT_NE(LastMessage().find("командная строка"), std::string::npos);
  Run(false);  // 1023 + 1023 + the rest stays below 4095
  EXPECT_TRUE(ConverterRan());
  EXPECT_FALSE(view_.running);
}

TEST_F(RunnerTest, AListingThatFailsEndsWithTheFailureMessageAndListsNoErrorLine) {
  Converter("printf 'File open error (/no/such.seed): No such file or directory\\n'; exit 254");
  Open();
  SetSeed(Seed());
  Run(true);
  EXPECT_TRUE(dialogs_.channelTables.empty());
  EXPECT_TRUE(view_.channels.empty());
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 1\n"
            "File open error (/no/such.seed): No such file or directory");
  EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(view_.resultsText,
            "Обнаружено в файле:\r\n==================\r\n"
            "File open error (/no/such.seed): No such file or directory\r\n");
  EXPECT_EQ(view_.boxes.station, "*");

  // Channels found before a read error are listed, and the failure reported after them.
  Converter(std::string(kListing) + "printf 'File read error (x): Input/output error\\n'");
  Run(true);
  ASSERT_EQ(dialogs_.channelTables.size(), 1u);
  EXPECT_EQ(dialogs_.channelTables[0].size(), 3u);
  EXPECT_EQ(LastMessage(),
            "Операция завершена с ошибками!\nОшибки: 1\nFile read error (x): Input/output error");
}

TEST_F(RunnerTest, ThePasswordOfTheDialogsOwnEnvironmentIsNotPassedOnInstead) {
  qputenv("TARNVEL_PASSWORD", "outer");
  Converter("true");
  Open();
  SetSeed(Seed());
  Run(false);
  EXPECT_EQ(PasswordGiven(), "se cret");
  connection_.password.clear();
  Run(true);
  EXPECT_EQ(PasswordGiven(), "");
  qunsetenv("TARNVEL_PASSWORD");
}

TEST_F(RunnerTest, AConverterThatCannotStartIsNamedWithWhereItWasLookedFor) {
  Open();
  SetSeed(Seed());
  Run(true);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(LastMessage(),
            "Программа-конвертер «tarnvel» не найдена в папке " + dir_.path().string() + ".");
  EXPECT_FALSE(view_.running);
  EXPECT_EQ(view_.resultsText, "Обнаружено в файле:\r\n");
  EXPECT_TRUE(dialogs_.channelTables.empty());
  Run(false);
  EXPECT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_FALSE(view_.running);
  EXPECT_EQ(view_.writingTarget, "");

  // A folder by the converter's name is no converter either.
  std::filesystem::create_directory(dir_ / "tarnvel");
  Run(false);
  EXPECT_EQ(LastMessage().rfind("Программа-конвертер «tarnvel» не найдена в папке ", 0), 0u);
  std::filesystem::remove(dir_ / "tarnvel");

  WriteFile(dir_ / "tarnvel", "#!/bin/sh\n");
  chmod((dir_ / "tarnvel").c_str(), 0644);
  Run(false);
  EXPECT_EQ(LastMessage(), "Программа-конвертер " + (dir_ / "tarnvel").string() +
                               " не запускается: нет права на её выполнение.");
  for (const auto& message : dialogs_.messages) {
    EXPECT_EQ(message.text.find("execve"), std::string::npos) << message.text;
  }
}

}  // namespace
}  // namespace tarnvel::gui

namespace tarnvel::gui {
namespace {

TEST_F(RunnerTest, ListingConverterRunsBelowNormalPriority) {
  if (ProcessNice(0) > kBelowNormalNice) GTEST_SKIP() << "the tests already run below that";
  // The converter reports its own nice value once the runner had time to set it.
  Converter("sleep 0.5; awk '{print \"ABC::BHZ::00 \" $19 \".00 - 2.00 20\"}' /proc/$$/stat");
  Open();
  SetSeed(Seed());
  Run(true);
  ASSERT_EQ(dialogs_.channelTables.size(), 1u);
  ASSERT_EQ(dialogs_.channelTables[0].size(), 1u);
  EXPECT_DOUBLE_EQ(dialogs_.channelTables[0][0].begin, kBelowNormalNice);
}

}  // namespace
}  // namespace tarnvel::gui
