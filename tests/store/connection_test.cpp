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

int Set(WaveformStore& store, std::string_view key, std::string value) {
  return store.SetOption(key, value);
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

TEST(StoreOptions, UnknownKeyIsRefusedAndChangesNothing) {
  WaveformStore store;
  std::string value = "/elsewhere";
  EXPECT_EQ(store.SetOption("datadir", value), store_result::kUnknownOption);
  EXPECT_EQ(store.SetOption("", value), store_result::kUnknownOption);
  EXPECT_EQ(store.SetOption("use_tend ", value), store_result::kUnknownOption);
  EXPECT_EQ(value, "/elsewhere");
  EXPECT_EQ(store.Directory().Text(), "D:/Data");
  EXPECT_TRUE(store.UseEndTime());
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

TEST(StoreOptions, DataDirectoryIsNormalisedOnceAndHandedBackSo) {
  WaveformStore store;
  std::string value = "/var/qor/data/";
  ASSERT_EQ(store.SetOption("data", value), 0);
  EXPECT_EQ(value, "/var/qor/data");
  EXPECT_EQ(store.Directory().Text(), "/var/qor/data");

  for (const char* spelling : {"\\var\\qor\\data", "//var//qor/./data//", "/var/qor/data/."}) {
    std::string other = spelling;
    ASSERT_EQ(store.SetOption("DATA", other), 0);
    EXPECT_EQ(store.Directory().Text(), "/var/qor/data") << spelling;
  }
  std::string mixed = "D:/Data\\sub/x";
  ASSERT_EQ(store.SetOption("Data", mixed), 0);
  EXPECT_EQ(store.Directory().Text(), "D:/Data/sub/x");

  // No data directory is the working folder, everywhere.
  std::string empty;
  ASSERT_EQ(store.SetOption("data", empty), 0);
  EXPECT_EQ(store.Directory().Text(), ".");
  EXPECT_EQ(empty, ".");
}

TEST(StoreOptions, EndTimeSwitchReadsTheDecimalValue) {
  WaveformStore store;
  EXPECT_EQ(Set(store, "use_tend", "0"), 0);
  EXPECT_FALSE(store.UseEndTime());
  EXPECT_EQ(Set(store, "USE_TEND", "1"), 0);
  EXPECT_TRUE(store.UseEndTime());  // not connected: stays on until Connect checks it
  EXPECT_EQ(Set(store, "use_tend", "abc"), 0);
  EXPECT_FALSE(store.UseEndTime());
  EXPECT_EQ(Set(store, "Use_Tend", " 12x"), 0);
  EXPECT_TRUE(store.UseEndTime());
  EXPECT_EQ(Set(store, "use_tend", ""), 0);
  EXPECT_FALSE(store.UseEndTime());
  EXPECT_EQ(Set(store, "use_tend", "-1"), 0);
  EXPECT_TRUE(store.UseEndTime());
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

TEST_P(StoreConnection, KeysOfTheConnectionIgnoreLetterCase) {
  WaveformStore store;
  std::string source = TestDatabase::MissingDsn();
  ASSERT_EQ(store.SetOption("OdBc", source), 0);
  EXPECT_FALSE(store.Connect());
  source = db().dsn();
  std::string user = db().user();
  std::string password = db().password();
  ASSERT_EQ(store.SetOption("ODBC", source), 0);
  ASSERT_EQ(store.SetOption("User", user), 0);
  ASSERT_EQ(store.SetOption("PASSWORD", password), 0);
  EXPECT_TRUE(store.Connect());

  // The converter hands over the resolved settings whole.
  WaveformStore configured(
      ResolvedSettings{db().dsn(), db().user(), db().password(), "/var/qor/data/", false});
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
    std::string wrong = db().password() + "-wrong";
    ASSERT_EQ(store.SetOption("password", wrong), 0);
  } else {
    std::string missing = TestDatabase::MissingDsn();
    ASSERT_EQ(store.SetOption("odbc", missing), 0);
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
  std::string off = "0";
  ASSERT_EQ(store.SetOption("use_tend", off), 0);
  EXPECT_FALSE(store.UseEndTime());
  std::string on = "1";
  ASSERT_EQ(store.SetOption("use_tend", on), 0);
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
  std::string on = "1";
  ASSERT_EQ(store.SetOption("use_tend", on), 0);
  EXPECT_FALSE(store.UseEndTime());

  // Once the column exists, the same option finds it.
  db().Execute("alter table FILELIST add column TEND double precision");
  ASSERT_EQ(store.SetOption("use_tend", on), 0);
  EXPECT_TRUE(store.UseEndTime());
}

TEST_P(StoreWithoutEndTime, SwitchTurnedOnBeforeConnectStaysOnUntilConnect) {
  WaveformStore store;
  ConfigureStore(store);
  std::string on = "1";
  ASSERT_EQ(store.SetOption("use_tend", on), 0);
  EXPECT_TRUE(store.UseEndTime());
  ASSERT_TRUE(store.Connect());
  EXPECT_FALSE(store.UseEndTime());
  // After a disconnect, turning it on again is not checked until the next Connect.
  store.Disconnect();
  ASSERT_EQ(store.SetOption("use_tend", on), 0);
  EXPECT_TRUE(store.UseEndTime());
}

TARNVEL_DATABASE_TEST_SUITE(StoreWithoutEndTime);

}  // namespace
}  // namespace tarnvel
