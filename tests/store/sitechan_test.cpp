// CheckSiteChan and the location test of channel statements against real databases.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "store/location_predicate.h"
#include "store/waveform_store.h"
#include "tests/support/test_database.h"

namespace tarnvel {
namespace {

using testing::DatabaseTest;
using testing::Row;

class SiteChanLookup : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    ConfigureStore(store_);
    ASSERT_TRUE(store_.Connect());
  }
  void TearDown() override {
    store_.Disconnect();
    DatabaseTest::TearDown();
  }
  // SITECHAN rows of {station, channel, LCODE as SQL, SPS as SQL}.
  void AddChannels(std::initializer_list<std::array<std::string, 4>> rows) {
    for (const auto& [sta, chan, lcodeSql, sps] : rows) {
      db().Execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('" + sta + "','" + chan + "'," +
                   sps + "," + lcodeSql + ")");
    }
  }
  int Check(const std::string& sta, const std::string& chan, const std::string& lcode,
            double rate) {
    rate_ = -1.0;
    return store_.CheckSiteChan({sta, chan, lcode}, rate, rate_);
  }

  WaveformStore store_;
  double rate_ = -1.0;
};

// Which SITECHAN row a channel finds, and the rate it reports: a blank location ("??" or "")
// finds rows with a null or "??" code, an explicit code only rows carrying it; station and
// channel match whole; rates compare exactly; only the first of several rows counts; a quote
// in a code stays inside its literal.
TEST_P(SiteChanLookup, ChannelsFindTheirRowAndRate) {
  AddChannels({{"NUL", "BHZ", "null", "20"},
               {"QQ", "BHZ", "'?\?'", "40"},
               {"EXP", "BHZ", "'00'", "50"},
               {"ABC", "BHZ", "null", "20.0"},
               {"ABC", "BHN", "null", "19.99"},
               {"TWO", "BHZ", "'?\?'", "20"},
               {"TWO", "BHZ", "'?\?'", "40"},
               {"A''B", "BHZ", "'0''1'", "20"}});
  constexpr int kNotIn = store_result::kNotInSiteChan;
  constexpr int kDiffers = store_result::kSiteChanRateDiffers;
  const struct {
    const char* station;
    const char* channel;
    const char* location;
    double rate;
    int result;
    double found;
  } cases[] = {
      {"NUL", "BHZ", "??", 20.0, 0, 20.0},
      {"NUL", "BHZ", "", 20.0, 0, 20.0},
      {"QQ", "BHZ", "??", 40.0, 0, 40.0},
      {"QQ", "BHZ", "", 40.0, 0, 40.0},
      {"EXP", "BHZ", "??", 50.0, kNotIn, 0.0},
      {"EXP", "BHZ", "00", 50.0, 0, 50.0},
      {"NUL", "BHZ", "00", 20.0, kNotIn, 0.0},
      {"EXP", "BHZ", "10", 50.0, kNotIn, 0.0},
      {"ABC", "BHZ", "??", 20.0, 0, 20.0},
      {"ABC", "BHN", "??", 20.0, kDiffers, 19.99},
      {"ABC", "BHZ", "??", 20.000001, kDiffers, 20.0},
      {"ABC", "BHE", "??", 20.0, kNotIn, 0.0},
      {"XYZ", "BHZ", "??", 20.0, kNotIn, 0.0},
      {"AB", "BHZ", "??", 20.0, kNotIn, 0.0},
      {"TWO", "BHZ", "??", 20.0, 0, 20.0},
      {"TWO", "BHZ", "??", 40.0, kDiffers, 20.0},
      {"A'B", "BHZ", "0'1", 20.0, 0, 20.0},
      {"A'B", "B'Z", "??", 20.0, kNotIn, 0.0},
      // An attempt to widen the selection finds nothing.
      {"X' or '1'='1", "BHZ", "??", 20.0, kNotIn, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.station) + ":" + c.channel + ":" + c.location);
    EXPECT_EQ(Check(c.station, c.channel, c.location, c.rate), c.result);
    EXPECT_EQ(rate_, c.found);
  }
  EXPECT_EQ(db().Count("SITECHAN"), 8);
}

// The one location test every channel statement is built with, run as a where clause of its
// own: each wording selects the same rows, a blank location (empty or "??") those stored with
// "??" and those with a null code, any other code exactly the rows carrying it (never a blank
// one, never a longer or shorter code, a quote kept inside its literal).
TEST_P(SiteChanLookup, LocationPredicateSelectsBlankAsStoredOrNull) {
  AddChannels({{"NUL", "BHZ", "null", "20"},
               {"QQ", "BHZ", "'?\?'", "20"},
               {"ZERO", "BHZ", "'0'", "20"},
               {"ZZ", "BHZ", "'00'", "20"},
               {"QUOTE", "BHZ", "'0''1'", "20"}});
  const struct {
    const char* location;
    std::vector<Row> stations;
  } cases[] = {
      {"", {{"NUL"}, {"QQ"}}}, {"??", {{"NUL"}, {"QQ"}}}, {"00", {{"ZZ"}}},
      {"0", {{"ZERO"}}},       {"0'1", {{"QUOTE"}}},      {"?", {}},
      {"' or '1'='1", {}},
  };
  for (const LocationPredicateForm form :
       {LocationPredicateForm::kFileList, LocationPredicateForm::kFileListBracketed,
        LocationPredicateForm::kSiteChan}) {
    for (const auto& c : cases) {
      const std::string predicate = LocationPredicate("LCODE", c.location, form);
      SCOPED_TRACE(predicate);
      EXPECT_EQ(db().Query("select STA from SITECHAN where " + predicate + " order by STA"),
                c.stations);
    }
  }
  // The wordings, as the statements have always been written.
  EXPECT_EQ(LocationPredicate("LCODE", "", LocationPredicateForm::kFileList),
            "(LCODE='?\?' or LCODE is null)");
  EXPECT_EQ(LocationPredicate("LCODE", "??", LocationPredicateForm::kFileListBracketed),
            "(LCODE='?\?' or LCODE is null)");
  EXPECT_EQ(LocationPredicate("lcode", "??", LocationPredicateForm::kSiteChan),
            "(lcode is null or lcode='?\?')");
  EXPECT_EQ(LocationPredicate("LCODE", "00", LocationPredicateForm::kFileList), "LCODE='00'");
  EXPECT_EQ(LocationPredicate("LCODE", "00", LocationPredicateForm::kFileListBracketed),
            "(LCODE='00')");
  EXPECT_EQ(LocationPredicate("LCODE", "0'1", LocationPredicateForm::kSiteChan), "LCODE='0''1'");
}

TEST_P(SiteChanLookup, DisconnectedStoreIsUnreachable) {
  AddChannels({{"ABC", "BHZ", "null", "20"}});
  store_.Disconnect();
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.0), store_result::kUnreachable);
  ASSERT_TRUE(store_.Connect());
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.0), 0);
}

TARNVEL_DATABASE_TEST_SUITE(SiteChanLookup);

}  // namespace
}  // namespace tarnvel
