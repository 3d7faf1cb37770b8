// Connecting to real QOR databases, the options that precede it, and the end-time switch.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "store/waveform_store.h"
#include "tests/support/test_database.h"

namespace tarnvel {
namespace {

using testing::DatabaseKind;
using testing::DatabaseTest;
using testing::TestDatabase;

// Settings with only the data directory and the end-time switch given.
ResolvedSettings Settings(std::string_view dataDir, bool useTend = true) {
  ResolvedSettings settings;
  settings.dataDir = DataDirectory(dataDir);
  settings.useTend = useTend;
  return settings;
}

TEST(StoreOptions, DefaultsBeforeAnyOption) {
  WaveformStore store;
  EXPECT_EQ(store.Directory().Text(), "D:/Data");
  EXPECT_TRUE(store.UseEndTime());
  EXPECT_FALSE(store.IsConnected());
  EXPECT_FALSE(store.ProbeFileList());
  EXPECT_EQ(store.ConnectionHandle(), nullptr);
  EXPECT_EQ(store.EnvironmentHandle(), nullptr);
}

// The store takes its settings whole: every value of a new configuration replaces the one
// before, and nothing else changes.
TEST(StoreOptions, ConfigurationReplacesEveryValue) {
  WaveformStore store;
  store.Configure(Settings("/elsewhere", false));
  EXPECT_EQ(store.Directory().Text(), "/elsewhere");
  EXPECT_FALSE(store.UseEndTime());
  store.Configure(Settings("", true));
  EXPECT_EQ(store.Directory().Text(), ".");
  EXPECT_TRUE(store.UseEndTime());
  EXPECT_FALSE(store.IsConnected());
}

// Every result code has a name of its own, and a failed operation is named in the debug
// output with its segment; a success says nothing there.
TEST(StoreOptions, ResultsAreNamedInTheDebugOutput) {
  std::set<std::string> names;
  for (const int code :
       {0, 1, -100, -101, -103, -104, -105, -106, -107, -108, -109, -110, -112, -113, -115, -116}) {
    const std::string name = store_result::StoreResultText(code);
    EXPECT_NE(name, "unknown store result") << code;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 16u);
  EXPECT_STREQ(store_result::StoreResultText(-102), "unknown store result");

  WaveformStore store;
  CollectingDebugSink debug;
  store.SetDebugSink(debug);
  SampleBuffer samples;
  const std::vector<float> values{1.0F, 2.0F};
  samples.Append(values);
  const StoreResult empty = store.StoreSegment(samples, 2, {"ABC", "BHZ", "00"}, "ABC/x", 100.0,
                                               100.0, "tarnvel", 20.0, 0.0, 0.0);
  EXPECT_EQ(empty, store_result::kEmptySpan);
  const StoreResult unreachable = store.StoreSegment(samples, 2, {"ABC", "BHZ", "??"}, "ABC/x",
                                                     100.0, 100.1, "tarnvel", 20.0, 0.0, 0.0);
  EXPECT_EQ(unreachable, store_result::kUnreachable);
  EXPECT_EQ(debug.lines,
            (std::vector<std::string>{
                "tarnvel store: StoreSegment ABC::BHZ::00: -112 segment end not after its start",
                "tarnvel store: StoreSegment ABC::BHZ::??: -100 database not reachable"}));
}

// The store works with the data directory the settings normalised, so that the driver composes
// its paths from the same text.
TEST(StoreOptions, DataDirectoryIsNormalisedOnceAndHandedBackSo) {
  WaveformStore store;
  const ResolvedSettings settings = Settings("/var/qor/data/");
  store.Configure(settings);
  EXPECT_EQ(settings.dataDir.Text(), "/var/qor/data");
  EXPECT_EQ(store.Directory().Text(), "/var/qor/data");
  EXPECT_EQ(store.Directory().Setting(), "/var/qor/data/");

  for (const char* spelling : {"\\var\\qor\\data", "//var//qor/./data//", "/var/qor/data/."}) {
    store.Configure(Settings(spelling));
    EXPECT_EQ(store.Directory().Text(), "/var/qor/data") << spelling;
  }
  store.Configure(Settings("D:/Data\\sub/x"));
  EXPECT_EQ(store.Directory().Text(), "D:/Data/sub/x");

  // No data directory is the working folder, everywhere.
  const ResolvedSettings empty = Settings("");
  store.Configure(empty);
  EXPECT_EQ(store.Directory().Text(), ".");
  EXPECT_EQ(empty.dataDir.Text(), ".");
}

TEST(StoreOptions, EndTimeSwitchFollowsTheSettings) {
  WaveformStore store;
  store.Configure(Settings("/d", false));
  EXPECT_FALSE(store.UseEndTime());
  store.Configure(Settings("/d", true));
  EXPECT_TRUE(store.UseEndTime());  // not connected: stays on until Connect checks it
  store.Configure(Settings("/d", false));
  EXPECT_FALSE(store.UseEndTime());
}

class StoreConnection : public DatabaseTest {};

TEST_P(StoreConnection, ConnectsDiscoversAndAnswersTheProbe) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  EXPECT_TRUE(store.IsConnected());
  EXPECT_NE(store.ConnectionHandle(), nullptr);
  EXPECT_NE(store.EnvironmentHandle(), nullptr);
  EXPECT_TRUE(store.ProbeFileList());
  EXPECT_TRUE(store.UseEndTime());  // this FILELIST has TEND

  store.Disconnect();
  EXPECT_FALSE(store.IsConnected());
  EXPECT_EQ(store.ConnectionHandle(), nullptr);
  EXPECT_EQ(store.EnvironmentHandle(), nullptr);
  EXPECT_FALSE(store.ProbeFileList());
  store.Disconnect();  // twice is harmless
  EXPECT_FALSE(store.IsConnected());

  // The store can connect again after a disconnect, and a second Connect replaces the first.
  ASSERT_TRUE(store.Connect());
  ASSERT_TRUE(store.Connect());
  EXPECT_TRUE(store.ProbeFileList());
}

TEST_P(StoreConnection, ConnectsWithTheValuesConfiguredLast) {
  WaveformStore store;
  ResolvedSettings settings = StoreSettings();
  settings.odbc = TestDatabase::MissingDsn();
  store.Configure(settings);
  EXPECT_FALSE(store.Connect());
  store.Configure(StoreSettings());
  EXPECT_TRUE(store.Connect());

  // The converter hands over the resolved settings whole.
  WaveformStore configured(ResolvedSettings{db().dsn(), db().user(), db().password(),
                                            DataDirectory("/var/qor/data/"), false});
  EXPECT_EQ(configured.Directory().Text(), "/var/qor/data");
  EXPECT_FALSE(configured.UseEndTime());
  EXPECT_TRUE(configured.Connect());
  EXPECT_FALSE(configured.UseEndTime());  // off stays off: no column check
}

TEST_P(StoreConnection, FailedConnectLeavesNoHandles) {
  WaveformStore store;
  ConfigureStore(store);
  if (GetParam() == DatabaseKind::kPostgres) {
    // SQLite ignores passwords; PostgreSQL refuses a wrong one.
    ResolvedSettings wrong = StoreSettings();
    wrong.password += "-wrong";
    store.Configure(wrong);
  } else {
    ResolvedSettings missing = StoreSettings();
    missing.odbc = TestDatabase::MissingDsn();
    store.Configure(missing);
  }
  EXPECT_FALSE(store.Connect());
  EXPECT_FALSE(store.IsConnected());
  EXPECT_EQ(store.ConnectionHandle(), nullptr);
  EXPECT_EQ(store.EnvironmentHandle(), nullptr);
  EXPECT_FALSE(store.ProbeFileList());
  double rate = 5.0;
  EXPECT_EQ(store.CheckSiteChan({"ABC", "BHZ", "??"}, 20.0, rate), store_result::kUnreachable);
  store.Disconnect();
  store.Disconnect();
  EXPECT_EQ(store.ConnectionHandle(), nullptr);
}

TEST_P(StoreConnection, SwitchingEndTimeOffNeedsNoDatabase) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  ASSERT_TRUE(store.UseEndTime());
  ResolvedSettings off = StoreSettings();
  off.useTend = false;
  store.Configure(off);
  EXPECT_FALSE(store.UseEndTime());
  store.Configure(StoreSettings());
  EXPECT_TRUE(store.UseEndTime());  // the check ran and found TEND
}

TEST_P(StoreConnection, ProbeFailsWhenFileListIsGone) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  ASSERT_TRUE(store.ProbeFileList());
  db().Execute("drop table FILELIST");
  EXPECT_FALSE(store.ProbeFileList());
  double rate = 0.0;
  EXPECT_EQ(store.CheckSiteChan({"ABC", "BHZ", "??"}, 20.0, rate), store_result::kUnreachable);
}

TARNVEL_DATABASE_TEST_SUITE(StoreConnection);

class StoreWithoutEndTime
    : public testing::DatabaseTestWith<testing::DatabaseOptions{.withEndTime = false}> {};

TEST_P(StoreWithoutEndTime, ConnectTurnsTheSwitchOff) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.UseEndTime());
  ASSERT_TRUE(store.Connect());
  EXPECT_FALSE(store.UseEndTime());
  EXPECT_TRUE(store.ProbeFileList());
}

TEST_P(StoreWithoutEndTime, TurningTheSwitchOnWhileConnectedChecksAgain) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  store.Configure(StoreSettings());
  EXPECT_FALSE(store.UseEndTime());

  // Once the column exists, the same settings find it.
  db().Execute("alter table FILELIST add column TEND double precision");
  store.Configure(StoreSettings());
  EXPECT_TRUE(store.UseEndTime());
}

TEST_P(StoreWithoutEndTime, SwitchTurnedOnBeforeConnectStaysOnUntilConnect) {
  WaveformStore store;
  ConfigureStore(store);
  store.Configure(StoreSettings());
  EXPECT_TRUE(store.UseEndTime());
  ASSERT_TRUE(store.Connect());
  EXPECT_FALSE(store.UseEndTime());
  // After a disconnect, turning it on again is not checked until the next Connect.
  store.Disconnect();
  store.Configure(StoreSettings());
  EXPECT_TRUE(store.UseEndTime());
}

TARNVEL_DATABASE_TEST_SUITE(StoreWithoutEndTime);

}  // namespace
}  // namespace tarnvel
