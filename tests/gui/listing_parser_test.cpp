#include "gui/listing_parser.h"

#include <gtest/gtest.h>

namespace tarnvel::gui {
namespace {

struct Parsed {
  ChannelInfoList channels;
  std::string results;
};

Parsed Parse(const std::string& output) {
  Parsed parsed;
  ParseListingOutput(output, parsed.channels, parsed.results);
  return parsed;
}

TEST(ListingParser, ChannelLinesGiveEntriesInOrderAndResultLines) {
  const auto parsed = Parse(
      "ABC::BHZ::00 1237640700.00 - 1237644300.50 20\n"
      "\n"
      "DEF::LHE::?? 1237640000.25 - 1237650000.00 1\r\n");
  ASSERT_EQ(parsed.channels.size(), 2u);
  const auto& first = parsed.channels[0];
  EXPECT_EQ(first.station, "ABC");
  EXPECT_EQ(first.channel, "BHZ");
  EXPECT_EQ(first.location, "00");
  EXPECT_DOUBLE_EQ(first.begin, 1237640700.0);
  EXPECT_DOUBLE_EQ(first.end, 1237644300.5);
  EXPECT_DOUBLE_EQ(first.sampleRate, 20.0);
  EXPECT_TRUE(first.inSitechan);
  EXPECT_DOUBLE_EQ(first.sitechanRate, -1.0);
  const auto& second = parsed.channels[1];
  EXPECT_EQ(second.location, "??");
  EXPECT_DOUBLE_EQ(second.begin, 1237640000.25);
  EXPECT_DOUBLE_EQ(second.sampleRate, 1.0);  // the carriage return is ignored
  EXPECT_EQ(parsed.results,
            "ABC::BHZ::00 1237640700.00 - 1237644300.50 20\r\n"
            "DEF::LHE::?? 1237640000.25 - 1237650000.00 1\r\n");
}

TEST(ListingParser, SitechanReportsUpdateTheFirstMatchingChannelIgnoringCase) {
  const auto parsed = Parse(
      "abc::bhz::00 1.00 - 2.00 20\n"
      "ABC::BHN::00 1.00 - 2.00 20\n"
      "abc::bhz::00 3.00 - 4.00 20\n"
      "Not found in SITECHAN: ABC::BHZ::00\r\n"
      "sps DIFFERS from sitechan: abc::BHN::00 40.00\n"
      "Not found in SITECHAN: XYZ::BHZ::00\n"
      "SPS differs from SITECHAN: XYZ::BHZ::00 1.00\n");
  ASSERT_EQ(parsed.channels.size(), 3u);
  EXPECT_FALSE(parsed.channels[0].inSitechan);
  EXPECT_TRUE(parsed.channels[2].inSitechan);  // only the first match is marked
  EXPECT_DOUBLE_EQ(parsed.channels[1].sitechanRate, 40.0);
  EXPECT_DOUBLE_EQ(parsed.channels[0].sitechanRate, -1.0);
  // The reports are not channel lines.
  EXPECT_EQ(parsed.results.find("SITECHAN"), std::string::npos);
}

TEST(ListingParser, RateOfZeroFromSitechanIsKept) {
  const auto parsed = Parse(
      "ABC::BHZ::00 1.00 - 2.00 20\n"
      "SPS differs from SITECHAN: ABC::BHZ::00 0.00\n");
  ASSERT_EQ(parsed.channels.size(), 1u);
  EXPECT_DOUBLE_EQ(parsed.channels[0].sitechanRate, 0.0);
}

TEST(ListingParser, ErrorLinesAndOtherTextAreNoChannels) {
  const auto parsed = Parse(
      "File open error (/no/such/file.seed): No such file or directory\n"
      "Connection error (ODBC: QOR, USER: QOR)\n"
      "\rFile read error (/d/x.seed): Input/output error\n"
      "Argument too long: ABCDEFGHI (at most 7 characters)\n"
      "Incorrect path to WFDISC-file\n"
      "ABC::BHZ::00 1.00 - 2.00 20\n"
      "ABC::BHZ\n"
      "Not found in SITECHAN: \n"
      "SPS differs from SITECHAN: ABC\n");
  ASSERT_EQ(parsed.channels.size(), 1u);
  EXPECT_EQ(parsed.channels[0].station, "ABC");
  EXPECT_TRUE(parsed.channels[0].inSitechan);
  EXPECT_DOUBLE_EQ(parsed.channels[0].sitechanRate, -1.0);
  EXPECT_EQ(parsed.results, "ABC::BHZ::00 1.00 - 2.00 20\r\n");
}

TEST(ListingParser, AChannelLineWithoutItsLaterFieldsFillsWhatItHolds) {
  const auto parsed = Parse("ABC::BHZ::00\nDEF::LHE:: 5.00\n");
  ASSERT_EQ(parsed.channels.size(), 2u);
  EXPECT_EQ(parsed.channels[0].location, "00");
  EXPECT_DOUBLE_EQ(parsed.channels[0].begin, 0.0);
  EXPECT_EQ(parsed.channels[1].location, "");
  EXPECT_DOUBLE_EQ(parsed.channels[1].begin, 5.0);
}

TEST(ListingParser, CodesHoldAtMostSevenCharacters) {
  const auto parsed = Parse("ABCDEFGHIJ::КАНАЛЫВСЕ::00 1.00 - 2.00 20\n");
  ASSERT_EQ(parsed.channels.size(), 1u);
  EXPECT_EQ(parsed.channels[0].station, "ABCDEFG");
  EXPECT_EQ(parsed.channels[0].channel, "КАНАЛЫВ");
}

TEST(ListingParser, ReadsEveryChannelLinePastSixteenKilobytes) {
  std::string output;
  for (int i = 0; i < 1000; ++i) {
    output += "S" + std::to_string(i) + "::BHZ::00 100.00 - 200.00 40\n";
  }
  ASSERT_GT(output.size(), 16384u);
  output += "Not found in SITECHAN: S999::BHZ::00\n";
  const auto parsed = Parse(output);
  ASSERT_EQ(parsed.channels.size(), 1000u);
  EXPECT_EQ(parsed.channels.back().station, "S999");
  EXPECT_FALSE(parsed.channels.back().inSitechan);
}

}  // namespace
}  // namespace tarnvel::gui
