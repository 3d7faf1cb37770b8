#include "seed/channel_key.h"

#include <gtest/gtest.h>

namespace tarnvel {
namespace {

TEST(ChannelKeyTest, CodesWithSeparatorsDotsOrUnprintableBytesAreNoFileNames) {
  for (const char* good : {"ABC", "??", "O'K", "00"}) EXPECT_TRUE(IsSafeCode(good)) << good;
  // ':' makes "C:" a drive on some systems: a composed path would leave the data directory.
  for (const char* bad : {"", ".", "..", "A.B", "B.", "A/B", "A\\B", "C:", ":", "A B", "A\x01",
                          "A\x7f", "\xc3\xa9"}) {
    EXPECT_FALSE(IsSafeCode(bad)) << bad;
  }
  EXPECT_FALSE(IsSafeCode(std::string_view("A\0B", 3)));
  // A location may be blank; station and channel may not.
  EXPECT_TRUE(HasSafeCodes("ABC", "BHZ", ""));
  EXPECT_TRUE(HasSafeCodes("ABC", "BHZ", "??"));
  EXPECT_FALSE(HasSafeCodes("", "BHZ", "00"));
  EXPECT_FALSE(HasSafeCodes("ABC", "", "00"));
  EXPECT_FALSE(HasSafeCodes("ABC", "BHZ", ".."));
}

TEST(ChannelKeyTest, BlankLocationIsEmptyOrTwoQuestionMarks) {
  EXPECT_TRUE(IsBlankLocation(""));
  EXPECT_TRUE(IsBlankLocation(kBlankLocation));
  EXPECT_FALSE(IsBlankLocation("?"));
  EXPECT_FALSE(IsBlankLocation("00"));
  ChannelKey key{"abc", "bhz", "0a"};
  EXPECT_TRUE(key.HasLocation());
  key.ToUpperCase();
  EXPECT_EQ(key.station + key.channel + key.location, "ABCBHZ0A");
  key.location = kBlankLocation;
  EXPECT_FALSE(key.HasLocation());
}

}  // namespace
}  // namespace tarnvel
