// The CSS writer: wfdisc lines, .w data files, path resolution against the data directory.
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "css/wfdisc_line.h"
#include "seed/time_conversion.h"
#include "store/waveform_store.h"
#include "tests/support/process.h"

namespace tarnvel {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

// 2013-08-28 13:14:57.1234 UTC.
const double kStart = CalendarToEpoch(2013, 8, 28, 13, 14, 57.1234f);

TraceSegment Segment(const std::string& location, double start, std::int64_t count,
                     std::uint32_t rate = 100, float first = 0.0f) {
  TraceSegment segment;
  segment.station = "ABC";
  segment.channel = "BHZ";
  segment.location = location;
  segment.rate = rate;
  segment.nominalRate = rate;
  segment.start = start;
  segment.count = count;
  segment.end = start + static_cast<double>(count) / rate;
  std::vector<float> values(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = first + static_cast<float>(i);
  segment.samples.Append(values);
  return segment;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    lines.push_back(text.substr(pos, end - pos));
    pos = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// The line without its lddate (the moment of writing) and the lddate alone.
std::string WithoutLoadDate(const std::string& line) {
  return line.substr(0, line.size() - 17);
}

class CssWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string data = (temp_.path() / "data").string();
    ASSERT_EQ(store_.SetOption("data", data), 0);
  }
  int Write(const TraceSegment& segment, const std::string& wfdisc) {
    const TraceSegment* list[] = {&segment};
    return store_.WriteCssOutput(list, wfdisc, "tarnvel", 0, 0, 0, 0);
  }
  TempDir temp_;
  WaveformStore store_;
};

TEST(WfdiscLineTest, LineHasTheFixedFieldsAnd283Characters) {
  const TraceSegment segment = Segment("00", kStart, 3000);
  const std::string name = WfdiscDataFileName(segment);
  EXPECT_EQ(name, "20130828131457-ABC-BHZ00.w");
  std::tm load{};
  load.tm_year = 124;
  load.tm_mon = 0;
  load.tm_mday = 5;
  load.tm_hour = 7;
  load.tm_min = 8;
  load.tm_sec = 9;
  const std::string line = FormatWfdiscLine(segment, name, load);
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "ABC    BHZ00    %17.5f       -1       -1  2013240 %17.5f     3000 "
                "100.0000000         0.000000         0.000000 -      - f4 - %-64s %-32s "
                "         0       -1 01/05/24 07:08:09\n",
                kStart, kStart + 30.0, ".", "20130828131457-ABC-BHZ00.w");
  EXPECT_EQ(line, expected);
  EXPECT_EQ(line.size(), 284u);
}

TEST(WfdiscLineTest, BlankLocationLeavesChannelAndNameBare) {
  const TraceSegment blank = Segment("??", kStart, 10);
  EXPECT_EQ(WfdiscChannel(blank), "BHZ");
  EXPECT_EQ(WfdiscDataFileName(blank), "20130828131457-ABC-BHZ.w");
  EXPECT_EQ(WfdiscChannel(Segment("", kStart, 10)), "BHZ");
  EXPECT_EQ(WfdiscDataFileName(blank, 1), "20130828131457-ABC-BHZ-1.w");
}

TEST_F(CssWriterTest, TwoSegmentsAppendToExistingLinesAndWriteTheirDataFiles) {
  const fs::path wfdisc = temp_.path() / "out" / "deep" / "run.wfdisc";
  fs::create_directories(wfdisc.parent_path());
  testing::WriteFile(wfdisc, "earlier line\n");
  const TraceSegment first = Segment("00", kStart, 3000);
  const TraceSegment second = Segment("00", kStart + 60.0, 5, 100, 7.0f);
  ASSERT_EQ(Write(first, wfdisc.string()), 0);
  ASSERT_EQ(Write(second, wfdisc.string()), 0);

  const auto lines = Lines(ReadFile(wfdisc));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_EQ(lines[1].size(), 283u);
  const std::string expected = FormatWfdiscLine(first, "20130828131457-ABC-BHZ00.w", std::tm{});
  EXPECT_EQ(WithoutLoadDate(lines[1]), WithoutLoadDate(expected.substr(0, expected.size() - 1)));
  EXPECT_NE(lines[1].find(" 20130828131457-ABC-BHZ00.w "), std::string::npos);
  EXPECT_NE(lines[2].find(" 20130828131557-ABC-BHZ00.w "), std::string::npos);

  // lddate is the UTC moment of writing: within a minute of now.
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char today[16];
  std::strftime(today, sizeof today, "%m/%d/%y", &utc);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 17, 8), today);

  const std::string data = ReadFile(wfdisc.parent_path() / "20130828131557-ABC-BHZ00.w");
  ASSERT_EQ(data.size(), 20u);
  const unsigned char sevenLittleEndian[] = {0x00, 0x00, 0xE0, 0x40};
  EXPECT_EQ(std::memcmp(data.data(), sevenLittleEndian, 4), 0);
  EXPECT_EQ(ReadFile(wfdisc.parent_path() / "20130828131457-ABC-BHZ00.w").size(), 12000u);
}

TEST_F(CssWriterTest, RelativePathGoesUnderTheDataDirectoryWithItsFolders) {
  ASSERT_EQ(Write(Segment("??", kStart, 4), "sub/out.wfdisc"), 0);
  const fs::path folder = temp_.path() / "data" / "sub";
  EXPECT_EQ(Lines(ReadFile(folder / "out.wfdisc")).size(), 1u);
  EXPECT_EQ(ReadFile(folder / "20130828131457-ABC-BHZ.w").size(), 16u);
}

TEST_F(CssWriterTest, SegmentsOfOneSecondKeepTheirOwnDataFiles) {
  const std::string wfdisc = (temp_.path() / "w" / "x.wfdisc").string();
  ASSERT_EQ(Write(Segment("??", kStart, 4, 100, 1.0f), wfdisc), 0);
  ASSERT_EQ(Write(Segment("??", kStart + 0.5, 2, 100, 9.0f), wfdisc), 0);
  const auto lines = Lines(ReadFile(wfdisc));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find(" 20130828131457-ABC-BHZ-1.w "), std::string::npos);
  EXPECT_EQ(ReadFile(temp_.path() / "w" / "20130828131457-ABC-BHZ.w").size(), 16u);
  EXPECT_EQ(ReadFile(temp_.path() / "w" / "20130828131457-ABC-BHZ-1.w").size(), 8u);
}

TEST_F(CssWriterTest, UnopenableWfdiscWritesNothing) {
  // A folder stands where the wfdisc file should be.
  const fs::path wfdisc = temp_.path() / "taken";
  fs::create_directories(wfdisc);
  EXPECT_EQ(Write(Segment("??", kStart, 4), wfdisc.string()), -107);
  EXPECT_FALSE(fs::exists(temp_.path() / "20130828131457-ABC-BHZ.w"));
}

TEST_F(CssWriterTest, DataFileThatCannotBeWrittenIsReported) {
  const fs::path wfdisc = temp_.path() / "o" / "x.wfdisc";
  fs::create_directories(temp_.path() / "o" / "20130828131457-ABC-BHZ.w");
  EXPECT_EQ(Write(Segment("??", kStart, 4), wfdisc.string()), -108);
  EXPECT_EQ(Lines(ReadFile(wfdisc)).size(), 1u);
}

TEST_F(CssWriterTest, CodesWithSeparatorsAreRefused) {
  TraceSegment bad = Segment("??", kStart, 4);
  bad.station = "../A";
  const fs::path wfdisc = temp_.path() / "x.wfdisc";
  EXPECT_EQ(Write(bad, wfdisc.string()), -108);
  EXPECT_FALSE(fs::exists(wfdisc));
}

}  // namespace
}  // namespace tarnvel
