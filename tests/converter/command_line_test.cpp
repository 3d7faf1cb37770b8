#include "converter/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seed/time_conversion.h"

namespace tarnvel {
namespace {

// Parses `arguments` (the program path is added in front).
class CommandLineTest : public ::testing::Test {
 protected:
  ParseResult Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tarnvel");
    return ParseCommandLine(arguments, options_, window_, filter_);
  }

  RunOptions options_;
  TimeWindow window_;
  ChannelFilter filter_;
};

MATCHER_P3(Entry, station, channel, location, "") {
  return arg.station == station && arg.channel == channel && arg.location == location;
}

const double kFebFirst2003Ten = CalendarToEpoch(2003, 2, 1, 10, 0, 0.0f);

TEST_F(CommandLineTest, NoArgumentsAsksForHelp) {
  EXPECT_EQ(Parse({}).outcome, ParseOutcome::kHelp);
  EXPECT_EQ(ParseCommandLine({}, options_, window_, filter_).outcome, ParseOutcome::kHelp);
}

TEST_F(CommandLineTest, EveryHelpSpellingInAnyCaseAndPosition) {
  for (const char* help :
       {"--help", "-help", "/help", "help", "--h", "-h", "/h", "--?", "-?", "/?", "HELP", "/H"}) {
    EXPECT_EQ(Parse({help}).outcome, ParseOutcome::kHelp) << help;
    EXPECT_EQ(Parse({"x.seed", "odbc=q", "beg=10:00:00-01.02.2003", help}).outcome,
              ParseOutcome::kHelp)
        << help;
  }
  EXPECT_EQ(Parse({"x.seed", "helpme"}).outcome, ParseOutcome::kRun);
  EXPECT_EQ(Parse({"x.seed", "?"}).outcome, ParseOutcome::kRun);
}

TEST_F(CommandLineTest, ArgumentsAreTakenInOrderSoAnEarlierErrorWinsOverHelp) {
  const ParseResult result = Parse({"x.seed", "qty=5", "/?"});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "TQTY without TBEGIN\n");
}

TEST_F(CommandLineTest, FirstArgumentIsTheSeedPath) {
  ASSERT_EQ(
      Parse({"C:\\data\\x.seed", "-use_tend", "odbc=src", "USER=u", "Password=p", "data=D:\\d"})
          .outcome,
      ParseOutcome::kRun);
  EXPECT_EQ(options_.seedPath, "C:\\data\\x.seed");
  EXPECT_TRUE(filter_.empty());
  EXPECT_FALSE(options_.infoMode);
  EXPECT_FALSE(options_.cssRequested);
  EXPECT_FALSE(window_.begin.has_value());
  EXPECT_FALSE(window_.end.has_value());
}

TEST_F(CommandLineTest, LongPathsAreHeldWhole) {
  const std::string path = "/" + std::string(3000, 'p') + ".seed";
  ASSERT_EQ(Parse({path}).outcome, ParseOutcome::kRun);
  EXPECT_EQ(options_.seedPath, path);
}

TEST_F(CommandLineTest, LoneQuestionMarkIsNeitherHelpNorPath) {
  ASSERT_EQ(Parse({"?", "ABC"}).outcome, ParseOutcome::kRun);
  EXPECT_EQ(options_.seedPath, "");
  EXPECT_THAT(filter_, ::testing::ElementsAre(Entry("ABC", "*", "*")));
}

TEST_F(CommandLineTest, OptionsAtPositionOneAreNotThePath) {
  ASSERT_EQ(Parse({"CSS_data.seed"}).outcome, ParseOutcome::kRun);
  EXPECT_EQ(options_.seedPath, "");
  EXPECT_TRUE(options_.cssRequested);
  ASSERT_EQ(Parse({"-I"}).outcome, ParseOutcome::kRun);
  EXPECT_EQ(options_.seedPath, "");
  EXPECT_TRUE(options_.infoMode);
  ASSERT_EQ(Parse({"-use_tend", "x.seed"}).outcome, ParseOutcome::kRun);
  EXPECT_EQ(options_.seedPath, "");
  EXPECT_EQ(filter_.size(), 1u);  // x.seed at position 2 is a filter
}

TEST_F(CommandLineTest, InfoModeAndViewLimit) {
  ASSERT_EQ(Parse({"x.seed", "-i"}).outcome, ParseOutcome::kRun);
  EXPECT_TRUE(options_.infoMode);
  EXPECT_EQ(options_.viewLimit, 10485760);

  const std::pair<const char*, std::int64_t> cases[] = {
      {"-i=1", 1048576},
      {"-I=0", 0},
      {"-i=abc", 0},
      {"-i=5MB", 5 * 1048576},
      {"-i=4096", std::int64_t{4096} * 1048576},
      {"-i=2048", std::int64_t{2048} * 1048576},
  };
  for (const auto& [arg, limit] : cases) {
    options_ = RunOptions{};
    ASSERT_EQ(Parse({"x.seed", arg}).outcome, ParseOutcome::kRun) << arg;
    EXPECT_TRUE(options_.infoMode) << arg;
    EXPECT_EQ(options_.viewLimit, limit) << arg;
  }
}

TEST_F(CommandLineTest, BeginAndQuantityGiveTheWindow) {
  ASSERT_EQ(Parse({"x.seed", "beg=10:00:00-01.02.2003", "qty=3600"}).outcome, ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.begin.value_or(-1.0), kFebFirst2003Ten);
  EXPECT_DOUBLE_EQ(window_.begin.value_or(-1.0), 1044093600.0);
  EXPECT_DOUBLE_EQ(window_.end.value_or(-1.0), 1044093600.0 + 3600.0);
}

TEST_F(CommandLineTest, QuantityKeepsFractionsAndIgnoresTrailingText) {
  ASSERT_EQ(Parse({"x.seed", "BEG=10:00:00-01.02.2003", "QTY=1.5s"}).outcome, ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.end.value_or(-1.0), kFebFirst2003Ten + 1.5);
  window_ = TimeWindow{};
  ASSERT_EQ(Parse({"x.seed", "beg=10:00:00-01.02.2003", "qty=nan"}).outcome, ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.end.value_or(-1.0), kFebFirst2003Ten);
}

TEST_F(CommandLineTest, TimesBeforeNineteenSeventyAreTimesLikeAnyOther) {
  // 1964-03-27 03:36:11 counts its leap days back; 23:59:59 on the last day of 1969 is the
  // second -1, and 1970-01-01 00:00:00 the second 0: both are given bounds.
  ASSERT_EQ(Parse({"x.seed", "beg=03:36:11-27.03.1964", "end=00:00:00-01.01.1966"}).outcome,
            ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.begin.value_or(0.0), -181945429.0);
  EXPECT_DOUBLE_EQ(window_.end.value_or(0.0), -126230400.0);
  window_ = TimeWindow{};
  ASSERT_EQ(Parse({"x.seed", "beg=23:59:59-31.12.1969", "qty=1"}).outcome, ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.begin.value_or(0.0), -1.0);
  EXPECT_DOUBLE_EQ(window_.end.value_or(-2.0), 0.0);
  window_ = TimeWindow{};
  ASSERT_EQ(Parse({"x.seed", "beg=00:00:00-01.01.1970", "qty=60"}).outcome, ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.end.value_or(0.0), 60.0);
}

TEST_F(CommandLineTest, QuantityBeforeBeginIsRefused) {
  const ParseResult result = Parse({"x.seed", "qty=3600", "beg=10:00:00-01.02.2003"});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "TQTY without TBEGIN\n");
}

TEST_F(CommandLineTest, SecondWindowEndIsRefusedInEveryCombination) {
  const std::vector<std::vector<std::string>> cases = {
      {"x.seed", "end=10:00:00-01.02.2003", "qty=60"},
      {"x.seed", "end=10:00:00-01.02.2003", "end=11:00:00-01.02.2003"},
      {"x.seed", "beg=10:00:00-01.02.2003", "qty=60", "qty=60"},
      {"x.seed", "beg=10:00:00-01.02.2003", "qty=60", "END=11:00:00-01.02.2003"},
      // the flag is set before the missing begin is noticed
      {"x.seed", "end=10:00:00-01.02.2003", "qty=60", "beg=09:00:00-01.02.2003"},
  };
  for (const auto& args : cases) {
    window_ = TimeWindow{};
    const ParseResult result = Parse(args);
    EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError) << args[2] << " " << args[3];
    EXPECT_EQ(result.message, "TEND and TQTY has been found\n") << args[2] << " " << args[3];
  }
}

TEST_F(CommandLineTest, EndBeforeBeginAndRepeatedBeginAreAccepted) {
  ASSERT_EQ(Parse({"x.seed", "end=10:00:00-01.02.2003", "beg=11:00:00-01.02.2003",
                   "beg=12:00:00-01.02.2003"})
                .outcome,
            ParseOutcome::kRun);
  EXPECT_DOUBLE_EQ(window_.begin.value_or(-1.0), kFebFirst2003Ten + 7200.0);
  EXPECT_DOUBLE_EQ(window_.end.value_or(-1.0), kFebFirst2003Ten);
}

TEST_F(CommandLineTest, ShortTimeValuesAreRefusedButStillStored) {
  ParseResult result = Parse({"x.seed", "beg=10:00-01.02.2003"});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "Incorrect begin time. Use: [hh:MM:ss-dd.mm.yyyy]\n");
  // hour 10, minute 0, second 1, day 2, month 2003 (clamped into the table), no year
  EXPECT_TRUE(window_.begin.has_value());

  result = Parse({"x.seed", "end="});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "Incorrect end time. Use: [hh:MM:ss-dd.mm.yyyy]\n");
}

TEST_F(CommandLineTest, MonthOutsideTheYearIsRefused) {
  ParseResult result = Parse({"x.seed", "beg=10:00:00-01.13.2003"});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "Incorrect begin time. Use: [hh:MM:ss-dd.mm.yyyy]\n");
  result = Parse({"x.seed", "end=10:00:00-01.00.2003"});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "Incorrect end time. Use: [hh:MM:ss-dd.mm.yyyy]\n");
}

TEST_F(CommandLineTest, TooLongTimeValueIsRefused) {
  ASSERT_EQ(Parse({"x.seed", "beg=10:00:00-01.02.2003" + std::string(12, '-')}).outcome,
            ParseOutcome::kRun);  // 31 characters exactly
  const std::string tooLong = "beg=10:00:00-01.02.2003" + std::string(13, '-');
  const ParseResult result = Parse({"x.seed", tooLong});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "Argument too long: " + tooLong + " (at most 31 characters)\n");
}

TEST(ParseTimeValueTest, TokensAndSeparators) {
  double epoch = 0.0;
  ASSERT_TRUE(ParseTimeValue("13:05:00-21.03.2009", epoch));
  EXPECT_DOUBLE_EQ(epoch, 1237640700.0);
  // Runs of separators count as one; leading separators are skipped.
  ASSERT_TRUE(ParseTimeValue("--13::05:00--21..03.2009.", epoch));
  EXPECT_DOUBLE_EQ(epoch, 1237640700.0);
  // Tokens without leading digits count as 0; trailing text after the digits is ignored.
  ASSERT_TRUE(ParseTimeValue("x:5m:7s-1.1.1970", epoch));
  EXPECT_DOUBLE_EQ(epoch, 307.0);
  // Fields are not validated: hour 25.
  ASSERT_TRUE(ParseTimeValue("25:00:00-01.01.1970", epoch));
  EXPECT_DOUBLE_EQ(epoch, 90000.0);
  // A second token that is not a plain number counts as 0.
  ASSERT_TRUE(ParseTimeValue("00:00:inf-01.01.1970", epoch));
  EXPECT_DOUBLE_EQ(epoch, 0.0);
}

TEST(ParseTimeValueTest, FractionOfSecondBecomesSevenTokens) {
  double epoch = 0.0;
  // 10:00:00.5-01.02.2003: second 0, day 5, month 1, year 2; the seventh token is ignored.
  ASSERT_TRUE(ParseTimeValue("10:00:00.5-01.02.2003", epoch));
  EXPECT_DOUBLE_EQ(epoch, CalendarToEpoch(2, 1, 5, 10, 0, 0.0f));
}

TEST(ParseTimeValueTest, HugeNumbersDoNotOverflow) {
  double epoch = 0.0;
  ASSERT_TRUE(ParseTimeValue("99999999999:0:0-1.1.99999999999", epoch));
  EXPECT_GT(epoch, 0.0);
}

TEST_F(CommandLineTest, FilterArgumentsBecomeEntries) {
  ASSERT_EQ(Parse({"x.seed", "ABC,DEF:BH?:00;GHI:*"}).outcome, ParseOutcome::kRun);
  EXPECT_THAT(filter_, ::testing::ElementsAre(Entry("ABC", "*", "*"), Entry("DEF", "BH?", "00"),
                                              Entry("GHI", "*", "*")));
}

TEST_F(CommandLineTest, FilterFieldsSkipEmptyRunsAndExtraFields) {
  ASSERT_EQ(Parse({"x.seed", "ABC::00", ",,;", "A:B:C:D:IGNORED_LONG_FIELD", "::", ":BHZ", "S:C:"})
                .outcome,
            ParseOutcome::kRun);
  EXPECT_THAT(filter_, ::testing::ElementsAre(Entry("ABC", "00", "*"), Entry("A", "B", "C"),
                                              Entry("BHZ", "*", "*"), Entry("S", "C", "*")));
}

TEST_F(CommandLineTest, FilterArgumentsAccumulateInOrder) {
  ASSERT_EQ(Parse({"x.seed", "B", "-i", "A:HH?"}).outcome, ParseOutcome::kRun);
  EXPECT_THAT(filter_, ::testing::ElementsAre(Entry("B", "*", "*"), Entry("A", "HH?", "*")));
}

TEST_F(CommandLineTest, FilterFieldOfSevenCharactersIsKeptAndEightIsRefused) {
  ASSERT_EQ(Parse({"x.seed", "STATION:CHANNEL:LOCATIO"}).outcome, ParseOutcome::kRun);
  EXPECT_THAT(filter_, ::testing::ElementsAre(Entry("STATION", "CHANNEL", "LOCATIO")));

  filter_.clear();
  const ParseResult result = Parse({"x.seed", "ABC,DEF:CHANNELS"});
  EXPECT_EQ(result.outcome, ParseOutcome::kArgumentError);
  EXPECT_EQ(result.message, "Argument too long: ABC,DEF:CHANNELS (at most 7 characters)\n");
  EXPECT_TRUE(filter_.empty());  // nothing of the refused argument is kept
}

}  // namespace
}  // namespace tarnvel
