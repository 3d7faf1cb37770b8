// CheckSiteChan against SITECHAN rows of real databases.
#include <gtest/gtest.h>

#include <string>

#include "store/waveform_store.h"
#include "tests/support/test_database.h"

namespace tarnvel {
namespace {

using testing::DatabaseTest;

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
  void AddChannel(const std::string& sta, const std::string& chan, const std::string& lcodeSql,
                  const std::string& sps) {
    db().Execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('" + sta + "','" + chan + "'," +
                 sps + "," + lcodeSql + ")");
  }
  int Check(const std::string& sta, const std::string& chan, const std::string& lcode,
            double rate) {
    rate_ = -1.0;
    return store_.CheckSiteChan(sta, chan, lcode, rate, rate_);
  }

  WaveformStore store_;
  double rate_ = -1.0;
};

TEST_P(SiteChanLookup, BlankLocationFindsNullAndQuestionMarks) {
  AddChannel("NUL", "BHZ", "null", "20");
  AddChannel("QQ", "BHZ", "'?\?'", "40");
  AddChannel("EXP", "BHZ", "'00'", "50");
  EXPECT_EQ(Check("NUL", "BHZ", "??", 20.0), 0);
  EXPECT_EQ(rate_, 20.0);
  EXPECT_EQ(Check("NUL", "BHZ", "", 20.0), 0);
  EXPECT_EQ(Check("QQ", "BHZ", "??", 40.0), 0);
  EXPECT_EQ(rate_, 40.0);
  EXPECT_EQ(Check("QQ", "BHZ", "", 40.0), 0);
  // An explicit code selects only rows carrying it.
  EXPECT_EQ(Check("EXP", "BHZ", "??", 50.0), store_result::kNotInSiteChan);
  EXPECT_EQ(Check("EXP", "BHZ", "00", 50.0), 0);
  EXPECT_EQ(Check("NUL", "BHZ", "00", 20.0), store_result::kNotInSiteChan);
  EXPECT_EQ(Check("EXP", "BHZ", "10", 50.0), store_result::kNotInSiteChan);
}

TEST_P(SiteChanLookup, RatesCompareExactly) {
  AddChannel("ABC", "BHZ", "null", "20.0");
  AddChannel("ABC", "BHN", "null", "19.99");
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.0), 0);
  EXPECT_EQ(rate_, 20.0);
  EXPECT_EQ(Check("ABC", "BHN", "??", 20.0), store_result::kSiteChanRateDiffers);
  EXPECT_DOUBLE_EQ(rate_, 19.99);
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.000001), store_result::kSiteChanRateDiffers);
  EXPECT_EQ(rate_, 20.0);
}

TEST_P(SiteChanLookup, MissingChannelGivesZeroRate) {
  AddChannel("ABC", "BHZ", "null", "20");
  EXPECT_EQ(Check("ABC", "BHE", "??", 20.0), store_result::kNotInSiteChan);
  EXPECT_EQ(rate_, 0.0);
  EXPECT_EQ(Check("XYZ", "BHZ", "??", 20.0), store_result::kNotInSiteChan);
  EXPECT_EQ(rate_, 0.0);
  // Station and channel are matched whole, not as prefixes.
  EXPECT_EQ(Check("AB", "BHZ", "??", 20.0), store_result::kNotInSiteChan);
}

TEST_P(SiteChanLookup, OnlyTheFirstOfSeveralRowsCounts) {
  AddChannel("ABC", "BHZ", "'?\?'", "20");
  AddChannel("ABC", "BHZ", "'?\?'", "40");
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.0), 0);
  EXPECT_EQ(rate_, 20.0);
  EXPECT_EQ(Check("ABC", "BHZ", "??", 40.0), store_result::kSiteChanRateDiffers);
  EXPECT_EQ(rate_, 20.0);
}

TEST_P(SiteChanLookup, QuoteInACodeStaysInsideTheLiteral) {
  AddChannel("A''B", "BHZ", "'0''1'", "20");
  EXPECT_EQ(Check("A'B", "BHZ", "0'1", 20.0), 0);
  EXPECT_EQ(rate_, 20.0);
  EXPECT_EQ(Check("A'B", "B'Z", "??", 20.0), store_result::kNotInSiteChan);
  // An attempt to widen the selection finds nothing and changes nothing.
  EXPECT_EQ(Check("X' or '1'='1", "BHZ", "??", 20.0), store_result::kNotInSiteChan);
  EXPECT_EQ(db().Count("SITECHAN"), 1);
}

TEST_P(SiteChanLookup, DisconnectedStoreIsUnreachable) {
  AddChannel("ABC", "BHZ", "null", "20");
  store_.Disconnect();
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.0), store_result::kUnreachable);
  ASSERT_TRUE(store_.Connect());
  EXPECT_EQ(Check("ABC", "BHZ", "??", 20.0), 0);
}

TARNVEL_DATABASE_TEST_SUITE(SiteChanLookup);

}  // namespace
}  // namespace tarnvel
