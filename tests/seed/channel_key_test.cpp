#include "seed/channel_key.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

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
  // Held: a blank location (a field without a code, a null column) becomes "??", others stay.
  EXPECT_EQ(HeldLocation(""), "??");
  EXPECT_EQ(HeldLocation("??"), "??");
  EXPECT_EQ(HeldLocation("?"), "?");
  EXPECT_EQ(HeldLocation("00"), "00");
  EXPECT_EQ(HeldLocation("0a"), "0a");
}

// Equality, order and hash that ignore case must agree with each other and with the plain
// model (exact comparison of the upper-cased codes), or a record could be filed into one
// channel by one lookup and into another by the next. Random keys over an alphabet whose
// letters differ in case only, with '_' and '^' (between the upper- and the lower-case
// letters) so that folding to the wrong case shows in the order.
TEST(ChannelKeyTest, IgnoringCaseEqualityOrderAndHashAgree) {
  std::mt19937 random(20261208);
  const std::string alphabet = "aAbB?0_^";
  const auto code = [&](std::size_t longest) {
    std::string text(std::uniform_int_distribution<std::size_t>(0, longest)(random), ' ');
    for (char& c : text) {
      c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
    }
    return text;
  };
  std::vector<ChannelKey> keys;
  for (int i = 0; i < 400; ++i) keys.push_back(ChannelKey{code(2), code(2), code(2)});
  // Codes that only join alike are different channels.
  keys.push_back(ChannelKey{"AB", "C", ""});
  keys.push_back(ChannelKey{"A", "BC", ""});
  keys.push_back(ChannelKey{"ab", "c", ""});
  const auto model = [](ChannelKey key) {
    key.ToUpperCase();
    return std::make_tuple(key.station, key.channel, key.location);
  };
  const ChannelKeyEqualIgnoringCase equal;
  const ChannelKeyLessIgnoringCase less;
  const ChannelKeyHashIgnoringCase hash;
  int equalPairs = 0;
  for (const ChannelKey& a : keys) {
    for (const ChannelKey& b : keys) {
      const bool same = model(a) == model(b);
      ASSERT_EQ(equal(a, b), same) << a.station << "/" << a.channel << "/" << a.location << " "
                                   << b.station << "/" << b.channel << "/" << b.location;
      ASSERT_EQ(SameChannelIgnoringCase(a, b), same);
      ASSERT_EQ(less(a, b), model(a) < model(b));
      ASSERT_EQ(CompareIgnoringCase(a, b) == 0, same);
      if (same) {
        ASSERT_EQ(hash(a), hash(b));
        ++equalPairs;
      }
    }
  }
  // Keys equal without being alike byte for byte were compared, not only each with itself.
  EXPECT_GT(equalPairs, static_cast<int>(keys.size()) + 50);
  EXPECT_NE(hash(ChannelKey{"AB", "C", ""}), hash(ChannelKey{"A", "BC", ""}));
  EXPECT_EQ(hash(ChannelKey{"ab", "c", ""}), hash(ChannelKey{"AB", "C", ""}));
}

}  // namespace
}  // namespace tarnvel
