// Whole runs of the built converter from the dialog program against a SQLite QOR database:
// listing a real SEED file into the channel table, taking a row, converting into the store,
// and a conversion that fails.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "gui/channel_table.h"
#include "gui/converter_runner.h"
#include "gui/main_dialog.h"
#include "gui/utc_time.h"
#include "settings/settings_reader.h"
#include "tests/gui/scripted_dialogs.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::gui {
namespace {

using tarnvel::testing::DatabaseKind;
using tarnvel::testing::TempDir;
using tarnvel::testing::TestData;
using tarnvel::testing::TestDatabase;
using testing::ScriptedDialogs;
using testing::WaitUntil;

constexpr double kNow = 1321513500.0;

class GuiConverterRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = TestDatabase::Unavailable(DatabaseKind::kSqlite);
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(std::filesystem::exists(tarnvel::testing::ConverterPath()));
    db_ = std::make_unique<TestDatabase>(DatabaseKind::kSqlite);
    std::filesystem::create_symlink(tarnvel::testing::ConverterPath(),
                                    programDir_.path() / "tarnvel");
    // A listing passes no connection values: the converter reads its own ini file beside it,
    // as in an installation where both programs share one folder.
    tarnvel::testing::WriteFile(programDir_.path() / "tarnvel.ini",
                                "[DATABASE]\nODBC=" + db_->dsn() + "\nUSER=" + db_->user() +
                                    "\nPASSWORD=" + db_->password() +
                                    "\n\n[DATA]\nDIR=" + db_->dataDir().string() + "\n");
  }

  // The dialog as the program sets it up: connection values from the GUI's own command line
  // through the settings reader, the converter beside the GUI.
  void Open(const std::string& cssChoice, const std::string& odbc) {
    const std::vector<std::string> args{
        (programDir_.path() / "Tarnvel_GUI").string(), "ODBC=" + odbc, "USER=" + db_->user(),
        "PASSWORD=" + db_->password(), "DATA=" + db_->dataDir().string()};
    const std::string windir = programDir_.path().string();
    settings_ = std::make_unique<SettingsReader>(
        args, [windir](const char* name) -> std::optional<std::string> {
          if (std::string(name) == "WINDIR") return windir;
          return std::nullopt;
        });
    settings_->LoadSettings();
    dialog_ = std::make_unique<MainDialog>(cssChoice, dialogs_, kNow);
    RunSetup setup;
    setup.converterPath = (programDir_.path() / "tarnvel").string();
    setup.cssChoice = cssChoice;
    setup.loadSettings = [this] {
      const ResolvedSettings values = settings_->LoadAndGetSettings();
      return ConnectionValues{values.odbc, values.user, values.password, values.dataDir};
    };
    runner_ = std::make_unique<ConverterRunner>(*dialog_, dialogs_, setup);
    QObject::connect(runner_.get(), &ConverterRunner::runEnded, [this] { ++runsEnded_; });
  }

  void RunAndWait(bool listing) {
    const int before = runsEnded_;
    if (listing) {
      runner_->StartListingRun();
    } else {
      runner_->StartConversionRun();
    }
    ASSERT_TRUE(WaitUntil([&] { return runsEnded_ > before; }, 120000));
  }

  void SetSeed(const std::string& name) {
    dialog_->controls().seedPath->setText(QString::fromStdString(TestData(name).string()));
  }

  std::unique_ptr<TestDatabase> db_;
  TempDir programDir_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<SettingsReader> settings_;
  std::unique_ptr<MainDialog> dialog_;
  std::unique_ptr<ConverterRunner> runner_;
  int runsEnded_ = 0;
};

TEST_F(GuiConverterRunTest, ListingFillsTheTableAndARowFillsTheDialog) {
  Open("NOT_FOUND", db_->dsn());
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
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(GuiConverterRunTest, ConversionMovesBothBarsAndStoresTheFile) {
  Open("NOT_FOUND", db_->dsn());
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
}

TEST_F(GuiConverterRunTest, CssConversionWritesTheWfdiscFile) {
  Open("SEED_PATH", db_->dsn());
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
  Open("NOT_FOUND", TestDatabase::MissingDsn());
  SetSeed("CH.BALST..LHE.D.2025.314");
  RunAndWait(false);
  ASSERT_FALSE(dialogs_.messages.empty());
  EXPECT_EQ(dialogs_.messages.back().text, "Операция завершена с ошибками!\nОшибки: 1\n");
  EXPECT_FALSE(dialog_->IsRunning());
}

}  // namespace
}  // namespace tarnvel::gui
