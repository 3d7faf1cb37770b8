// The CSS writer: wfdisc lines, .w data files, path resolution against the data directory; what
// stands at a data file's or the wfdisc file's name before the run, and lines held back until
// their data files are synced.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "css/css_writer.h"
#include "css/data_file_staging.h"
#include "css/wfdisc_line.h"
#include "seed/time_conversion.h"
#include "tests/support/process.h"
#include "tests/support/wfdisc_text.h"

namespace tarnvel {
namespace {

namespace fs = std::filesystem;
using testing::Lines;
using testing::ReadFile;
using testing::TempDir;
using testing::WfdiscFields;

// 2013-08-28 13:14:57.1234 UTC.
const double kStart = CalendarToEpoch(2013, 8, 28, 13, 14, 57.1234f);

TraceSegment Segment(const std::string& location, double start, std::int64_t count,
                     double rate = 100, float first = 0.0f) {
  TraceSegment segment;
  segment.station = "ABC";
  segment.channel = "BHZ";
  segment.location = location;
  segment.rate = static_cast<std::uint32_t>(rate);
  segment.nominalRate = rate;
  segment.start = start;
  segment.count = count;
  segment.end = start + static_cast<double>(count) / rate;
  std::vector<float> values(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = first + static_cast<float>(i);
  segment.samples.Append(values);
  return segment;
}

// The line without its lddate (the moment of writing) and the lddate alone.
std::string WithoutLoadDate(const std::string& line) {
  return line.substr(0, line.size() - 17);
}

// A run's writer without syncing: each line is written right after its data file.
constexpr CssWriterOptions kUnsynced{.sync = false};

class CssWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { writer_.emplace(DataDirectory(Data().string()), nullptr, kUnsynced); }
  fs::path Data() const { return temp_.path() / "data"; }
  int Write(const TraceSegment& segment, const std::string& wfdisc) {
    return Write(*writer_, segment, wfdisc);
  }
  static int Write(CssWriter& writer, const TraceSegment& segment, const std::string& wfdisc) {
    const TraceSegment* list[] = {&segment};
    return writer.WriteCssOutput(list, wfdisc, "tarnvel", 0, 0, 0, 0);
  }
  // The data files of the failed segments, in order.
  std::vector<std::string> Failed() { return writer_->TakeFailedDataFiles(); }
  TempDir temp_;
  std::optional<CssWriter> writer_;
};

TEST(WfdiscLineTest, LineHasTheFixedFieldsAnd283Characters) {
  const TraceSegment segment = Segment("00", kStart, 3000);
  const std::string name = WfdiscDataFileName(segment);
  EXPECT_EQ(name, "20130828131457-ABC-BHZ00.w");
  std::tm load{};
  ASSERT_NE(strptime("2024-01-05 07:08:09", "%Y-%m-%d %H:%M:%S", &load), nullptr);
  const std::string line = FormatWfdiscLines(segment, name, load);
  // Every column at its width; dir and dfile padded to 64 and 32 characters.
  EXPECT_EQ(line,
            "ABC    BHZ00     1377695697.12340       -1       -1  2013240  1377695727.12340     "
            "3000 100.0000000         0.000000         0.000000 -      - f4 - "
            ".                                                                "
            "20130828131457-ABC-BHZ00.w       "
            "         0       -1 01/05/24 07:08:09\n");
  EXPECT_EQ(line.size(), 284u);
}

TEST(WfdiscLineTest, BlankLocationLeavesChannelAndNameBare) {
  const TraceSegment blank = Segment("??", kStart, 10);
  EXPECT_EQ(WfdiscChannel(blank), "BHZ");
  EXPECT_EQ(WfdiscDataFileName(blank), "20130828131457-ABC-BHZ.w");
  EXPECT_EQ(WfdiscChannel(Segment("", kStart, 10)), "BHZ");
  EXPECT_EQ(WfdiscDataFileName(blank, 1), "20130828131457-ABC-BHZ-1.w");
}

TEST(WfdiscLineTest, EveryRateAndTimeKeepsTheColumns) {
  struct Case {
    double rate;
    double start;
    const char* samprate;  // as the column holds it
    const char* time;
  };
  const double year1 = CalendarToEpoch(1, 1, 1, 0, 0, 0.5f);
  const double year65535 = CalendarToEpoch(65535, 12, 31, 23, 59, 59.0f);
  const Case cases[] = {
      {62.5, kStart, " 62.5000000", nullptr},
      {40.5, kStart, " 40.5000000", nullptr},
      {999.5, kStart, "999.5000000", nullptr},
      {2000.0, kStart, "2000.000000", nullptr},
      {31.25 * 1024, kStart, "32000.00000", nullptr},
      {32767.0 * 32767.0, kStart, " 1073676289", nullptr},
      {0.1, -186278400.0, "  0.1000000", " -186278400.00000"},
      {20.0, year1, " 20.0000000", "-62135596799.5000"},
      {20.0, year65535, " 20.0000000", "2005949145599.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const TraceSegment segment = Segment("00", c.start, 3, c.rate);
    const std::string line = FormatWfdiscLines(segment, WfdiscDataFileName(segment), std::tm{});
    ASSERT_EQ(line.size(), kWfdiscLineLength + 1);
    EXPECT_EQ(line.substr(88, 11), c.samprate);
    if (c.time != nullptr) {
      EXPECT_EQ(line.substr(16, 17), c.time);
    }
    const auto fields = WfdiscFields(line);
    ASSERT_EQ(fields.size(), 21u);
    EXPECT_NEAR(std::stod(fields[testing::kWfdiscSamprate]), c.rate, 5e-8);
    EXPECT_NEAR(std::stod(fields[testing::kWfdiscTime]), c.start, 1e-3);
    EXPECT_EQ(fields[testing::kWfdiscNsamp], "3");
  }
}

TEST(WfdiscLineTest, JulianDatesBeforeNineteenSeventy) {
  // 1964-03-27, 1966-12-31 and 1969-12-31 23:59:59.5.
  const struct {
    double start;
    const char* jdate;
    const char* name;
  } cases[] = {{CalendarToEpoch(1964, 3, 27, 3, 36, 11.0f), "1964087", "19640327033611-ABC-BHZ.w"},
               {CalendarToEpoch(1966, 12, 31, 0, 0, 0.0f), "1966365", "19661231000000-ABC-BHZ.w"},
               {-0.5, "1969365", "19691231235959-ABC-BHZ.w"}};
  for (const auto& c : cases) {
    const TraceSegment segment = Segment("??", c.start, 2);
    EXPECT_EQ(WfdiscDataFileName(segment), c.name);
    const auto fields = WfdiscFields(FormatWfdiscLines(segment, c.name, std::tm{}));
    ASSERT_EQ(fields.size(), 21u);
    EXPECT_EQ(fields[testing::kWfdiscJdate], c.jdate);
  }
}

TEST(WfdiscLineTest, MoreSamplesThanOneLineCountsGiveLinesIntoOneFile) {
  TraceSegment segment;  // only counted, never written: no samples needed
  segment.station = "ABC";
  segment.channel = "HHZ";
  segment.location = "??";
  segment.nominalRate = 2000.0;
  segment.start = kStart;
  segment.count = 2 * kWfdiscMaxSamples + 5;
  segment.end = kStart + static_cast<double>(segment.count) / 2000.0;
  const std::string text = FormatWfdiscLines(segment, "x.w", std::tm{});
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 3u);
  double expectedStart = kStart;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].size(), kWfdiscLineLength);
    const auto fields = WfdiscFields(lines[i]);
    ASSERT_EQ(fields.size(), 21u);
    const std::int64_t nsamp = i < 2 ? kWfdiscMaxSamples : 5;
    EXPECT_EQ(fields[testing::kWfdiscNsamp], std::to_string(nsamp));
    EXPECT_EQ(fields[testing::kWfdiscFoff],
              std::to_string(static_cast<std::int64_t>(i) * kWfdiscMaxSamples * 4));
    EXPECT_EQ(fields[testing::kWfdiscDfile], "x.w");
    EXPECT_NEAR(std::stod(fields[testing::kWfdiscTime]), expectedStart, 1e-5);
    expectedStart += static_cast<double>(nsamp) / 2000.0;
    EXPECT_NEAR(std::stod(fields[testing::kWfdiscEndTime]), expectedStart, 1e-5);
  }
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
  const std::string expected = FormatWfdiscLines(first, "20130828131457-ABC-BHZ00.w", std::tm{});
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

  // Two of them handed over in one list.
  const TraceSegment third = Segment("??", kStart + 0.7, 3);
  const TraceSegment fourth = Segment("??", kStart + 0.8, 1);
  const TraceSegment* both[] = {&third, &fourth};
  ASSERT_EQ(writer_->WriteCssOutput(both, wfdisc, "tarnvel", 0, 0, 0, 0), 0);
  EXPECT_EQ(ReadFile(temp_.path() / "w" / "20130828131457-ABC-BHZ-2.w").size(), 12u);
  EXPECT_EQ(ReadFile(temp_.path() / "w" / "20130828131457-ABC-BHZ-3.w").size(), 4u);
}

TEST_F(CssWriterTest, UnopenableWfdiscWritesNothing) {
  // A folder stands where the wfdisc file should be.
  const fs::path wfdisc = temp_.path() / "taken";
  fs::create_directories(wfdisc);
  EXPECT_EQ(Write(Segment("??", kStart, 4), wfdisc.string()), -107);
  EXPECT_FALSE(fs::exists(temp_.path() / "20130828131457-ABC-BHZ.w"));
}

// Whatever stands at a data file's name was not written by this run: it is never opened for
// writing, nor followed, and the segment takes the next free name.
TEST_F(CssWriterTest, AnythingAtADataFileNameIsPassedOverNeverWrittenNorFollowed) {
  const fs::path folder = temp_.path() / "o";
  const fs::path outside = temp_.path() / "outside";
  fs::create_directories(folder);
  fs::create_directories(outside);
  const fs::path wfdisc = folder / "x.wfdisc";
  // An earlier run's data file with its line, a folder, a link to a file outside, a dangling
  // link to a name outside and a FIFO, at the names the segments would take first.
  const TraceSegment earlier = Segment("??", kStart, 3, 100, 50.0f);
  ASSERT_EQ(Write(earlier, wfdisc.string()), 0);
  const std::string earlierBytes = ReadFile(folder / "20130828131457-ABC-BHZ.w");
  const std::string earlierLine = ReadFile(wfdisc);
  writer_.emplace(DataDirectory(Data().string()), nullptr, kUnsynced);  // a run of its own
  testing::WriteFile(outside / "victim", "keep me");
  fs::create_symlink(outside / "victim", folder / "20130828131457-ABC-BHZ-1.w");
  fs::create_directories(folder / "20130828131457-ABC-BHZ-2.w");
  fs::create_symlink(outside / "made", folder / "20130828131457-ABC-BHZ-3.w");
  ASSERT_EQ(::mkfifo((folder / "20130828131457-ABC-BHZ-4.w").c_str(), 0644), 0);

  ASSERT_EQ(Write(Segment("??", kStart, 4, 100, 1.0f), wfdisc.string()), 0);
  EXPECT_TRUE(Failed().empty());
  const auto lines = Lines(ReadFile(wfdisc));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\n", earlierLine);
  EXPECT_EQ(WfdiscFields(lines[1])[testing::kWfdiscDfile], "20130828131457-ABC-BHZ-5.w");
  EXPECT_EQ(ReadFile(folder / "20130828131457-ABC-BHZ-5.w").size(), 16u);
  // The earlier line still tells the truth about its data file.
  EXPECT_EQ(ReadFile(folder / "20130828131457-ABC-BHZ.w"), earlierBytes);
  EXPECT_EQ(WfdiscFields(lines[0])[testing::kWfdiscNsamp], "3");
  EXPECT_EQ(ReadFile(outside / "victim"), "keep me");
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made")));
  EXPECT_TRUE(fs::is_directory(folder / "20130828131457-ABC-BHZ-2.w"));
  EXPECT_TRUE(fs::is_empty(folder / "20130828131457-ABC-BHZ-2.w"));
  EXPECT_TRUE(fs::is_fifo(folder / "20130828131457-ABC-BHZ-4.w"));
}

// A data file that cannot be written whole (here: past the file-size limit) is removed and
// named; the file of an earlier run at its first name stays as it was, and no line is written.
TEST_F(CssWriterTest, AFailedDataFileRemovesOnlyWhatTheRunCreatedAndIsNamed) {
  const fs::path folder = temp_.path() / "o";
  fs::create_directories(folder);
  const fs::path wfdisc = folder / "x.wfdisc";
  testing::WriteFile(folder / "20130828131457-ABC-BHZ.w", "earlier samples");
  testing::WriteFile(wfdisc, "earlier line\n");

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 2000;  // a line fits, 1000 samples do not
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int failed = Write(Segment("??", kStart, 1000), wfdisc.string());
  const int fits = Write(Segment("??", kStart + 60.0, 10), wfdisc.string());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(failed, -108);
  EXPECT_EQ(fits, 0);
  EXPECT_EQ(Failed(), std::vector<std::string>{(folder / "20130828131457-ABC-BHZ-1.w").string()});
  EXPECT_EQ(ReadFile(folder / "20130828131457-ABC-BHZ.w"), "earlier samples");
  EXPECT_FALSE(fs::exists(folder / "20130828131457-ABC-BHZ-1.w"));
  const auto lines = Lines(ReadFile(wfdisc));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_EQ(WfdiscFields(lines[1])[testing::kWfdiscDfile], "20130828131557-ABC-BHZ.w");
  EXPECT_EQ(writer_->Tally().lines, 1);
  EXPECT_EQ(writer_->Tally().dataFiles, 1);
  EXPECT_EQ(writer_->Tally().samples, 10);
}

// The wfdisc file is appended to only where its name holds a regular file (hard links
// included): a link there, dangling or not, is not followed and a FIFO does not keep the run
// waiting. Nothing is written then, and each segment is named by the data file it would get.
TEST_F(CssWriterTest, AWfdiscNameHoldingALinkOrNoFileWritesNothing) {
  const fs::path folder = temp_.path() / "w";
  const fs::path outside = temp_.path() / "outside";
  fs::create_directories(folder);
  fs::create_directories(outside);
  testing::WriteFile(outside / "victim", "keep me");
  fs::create_symlink(outside / "victim", folder / "linked.wfdisc");
  fs::create_symlink(outside / "made", folder / "dangling.wfdisc");
  ASSERT_EQ(::mkfifo((folder / "fifo.wfdisc").c_str(), 0644), 0);
  const TraceSegment segment = Segment("??", kStart, 4);
  for (const char* name : {"linked.wfdisc", "dangling.wfdisc", "fifo.wfdisc"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Write(segment, (folder / name).string()), -107);
    EXPECT_EQ(Failed(), std::vector<std::string>{(folder / "20130828131457-ABC-BHZ.w").string()});
  }
  EXPECT_EQ(ReadFile(outside / "victim"), "keep me");
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made")));
  EXPECT_FALSE(fs::exists(folder / "20130828131457-ABC-BHZ.w"));

  testing::WriteFile(folder / "shared.wfdisc", "earlier line\n");
  fs::create_hard_link(folder / "shared.wfdisc", outside / "second-name.wfdisc");
  EXPECT_EQ(Write(segment, (folder / "shared.wfdisc").string()), 0);
  EXPECT_EQ(Lines(ReadFile(outside / "second-name.wfdisc")).size(), 2u);
}

TEST_F(CssWriterTest, DataFileNameBeyondItsFieldFailsTheSegmentAndWritesNothing) {
  const fs::path folder = temp_.path() / "n";
  TraceSegment segment = Segment("00", kStart, 1);
  segment.station = "ABCDE";  // a 28-character name: serials up to 999 fit its 32 characters
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(Write(segment, (folder / "x.wfdisc").string()), 0) << i;
  EXPECT_EQ(Write(segment, (folder / "x.wfdisc").string()), -108);
  const auto lines = Lines(ReadFile(folder / "x.wfdisc"));
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_NE(lines.back().find(" 20130828131457-ABCDE-BHZ00-999.w "), std::string::npos);
  // Every line points to a data file of its own, and no file is left without a line.
  std::set<std::string> named;
  for (const std::string& line : lines) {
    ASSERT_EQ(line.size(), kWfdiscLineLength);
    named.insert(WfdiscFields(line)[testing::kWfdiscDfile]);
  }
  std::set<std::string> onDisk;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".w") onDisk.insert(entry.path().filename().string());
  }
  EXPECT_EQ(named.size(), 1000u);
  EXPECT_EQ(named, onDisk);
}

TEST_F(CssWriterTest, WfdiscFileIsReadableLikeItsDataFiles) {
  const mode_t saved = ::umask(022);
  const fs::path wfdisc = temp_.path() / "p" / "x.wfdisc";
  const int rc = Write(Segment("??", kStart, 4), wfdisc.string());
  ::umask(saved);
  ASSERT_EQ(rc, 0);
  const auto dataPerms =
      fs::status(wfdisc.parent_path() / "20130828131457-ABC-BHZ.w").permissions();
  EXPECT_EQ(fs::status(wfdisc).permissions(), dataPerms);
  EXPECT_EQ(dataPerms, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::others_read);
}

TEST_F(CssWriterTest, CodesWithSeparatorsAreRefused) {
  TraceSegment bad = Segment("??", kStart, 4);
  bad.station = "../A";
  const fs::path wfdisc = temp_.path() / "x.wfdisc";
  EXPECT_EQ(Write(bad, wfdisc.string()), -108);
  EXPECT_FALSE(fs::exists(wfdisc));
}

// Lines are held back until their data files and the folder's new entries are synced, for a
// batch of data files at a time; Finish writes the rest (and syncs the wfdisc file), and so
// does a writer that goes without it.
TEST_F(CssWriterTest, LinesAreHeldBackUntilTheirDataFilesAreSyncedABatchAtATime) {
  const fs::path folder = temp_.path() / "s";
  const std::string wfdisc = (folder / "x.wfdisc").string();
  std::optional<CssWriter> writer;
  writer.emplace(
      DataDirectory(Data().string()), nullptr,
      CssWriterOptions{.sync = true, .mostHeld = 3, .longestHeld = std::chrono::hours(1)});
  const auto lines = [&] { return Lines(ReadFile(wfdisc)).size(); };
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(Write(*writer, Segment("??", kStart + 60.0 * i, 4 + i), wfdisc), 0) << i;
    // Every data file is there at once, whole; its line comes with the third.
    EXPECT_EQ(fs::file_size(folder / WfdiscDataFileName(Segment("??", kStart + 60.0 * i, 1))),
              4u * static_cast<std::uintmax_t>(4 + i));
    EXPECT_EQ(lines(), i < 2 ? 0u : 3u) << i;
  }
  writer->Finish();
  EXPECT_EQ(lines(), 5u);
  EXPECT_EQ(writer->Tally().lines, 5);
  EXPECT_EQ(writer->Tally().dataFiles, 5);
  EXPECT_EQ(writer->Tally().samples, 4 + 5 + 6 + 7 + 8);
  ASSERT_EQ(Write(*writer, Segment("??", kStart + 600.0, 2), wfdisc), 0);
  EXPECT_EQ(lines(), 5u);
  writer.reset();
  EXPECT_EQ(lines(), 6u);

  // Held no longer than longestHeld.
  writer.emplace(DataDirectory(Data().string()), nullptr,
                 CssWriterOptions{.sync = true, .longestHeld = std::chrono::milliseconds(0)});
  ASSERT_EQ(Write(*writer, Segment("??", kStart + 900.0, 2), wfdisc), 0);
  EXPECT_EQ(lines(), 7u);
}

// Data files staged while a file is read. Small limits make every path of the staging happen
// with a few samples: several hand-overs, pieces across the sample buffer's chunks, a tail
// written when the file is taken.
constexpr StagingLimits kSmallLimits{.stageFrom = 40, .handOver = 24, .mostStaged = 8};

class StagedDataFileTest : public CssWriterTest {
 protected:
  // A segment grown as records are filed into it, the staging told after each record.
  TraceSegment& Grow(DataFileStaging& staging, const std::string& location, double start,
                     std::size_t records, std::size_t perRecord, float first) {
    TraceSegment& segment = segments_.emplace_back(Segment(location, start, 0));
    float value = first;
    for (std::size_t r = 0; r < records; ++r) {
      std::vector<float> values(perRecord);
      for (float& v : values) v = value++;
      segment.samples.Append(values);
      segment.count += static_cast<std::int64_t>(perRecord);
      segment.end = start + static_cast<double>(segment.count) / segment.nominalRate;
      staging.Grew(segment);
    }
    return segment;
  }
  // A run's writer taking its data files from `staging`, which it abandons when it goes.
  CssWriter StagedWriter(DataFileStaging& staging) const {
    return CssWriter(DataDirectory(Data().string()), &staging, kUnsynced);
  }
  static std::size_t Entries(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
  }
  std::deque<TraceSegment> segments_;
};

TEST_F(StagedDataFileTest, StagedSegmentsGetTheFilesAndLinesOfWrittenOnes) {
  const fs::path staged = temp_.path() / "staged";
  const fs::path plain = temp_.path() / "plain";
  fs::create_directories(staged);
  const mode_t saved = ::umask(027);
  DataFileStaging staging(staged.string() + "/", kSmallLimits);
  CssWriter stagedWriter = StagedWriter(staging);
  // Long ones in records of 7 and 100 samples, and one too short to be staged.
  const TraceSegment& a = Grow(staging, "00", kStart, 60, 7, 1.0f);
  const TraceSegment& b = Grow(staging, "??", kStart + 3600.0, 5, 100, -50.0f);
  const TraceSegment& c = Grow(staging, "10", kStart, 3, 7, 9.0f);
  const TraceSegment& d = Grow(staging, "20", kStart, 9, 7, 0.0f);
  // Nothing can be seen before the writer names the files.
  EXPECT_EQ(Entries(staged), 0u);
  for (const TraceSegment* segment : {&a, &b, &c}) {
    ASSERT_EQ(Write(stagedWriter, *segment, (staged / "x.wfdisc").string()), 0);
    ASSERT_EQ(Write(*segment, (plain / "x.wfdisc").string()), 0);
  }
  ::umask(saved);
  EXPECT_FALSE(staging.Take(c));  // never staged
  // Every file was taken as staged: a file written instead would have dropped the staging.
  EXPECT_TRUE(staging.Take(d));

  const auto stagedLines = Lines(ReadFile(staged / "x.wfdisc"));
  const auto plainLines = Lines(ReadFile(plain / "x.wfdisc"));
  ASSERT_EQ(stagedLines.size(), 3u);
  ASSERT_EQ(plainLines.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(WithoutLoadDate(stagedLines[i]), WithoutLoadDate(plainLines[i]));
    const std::string name = WfdiscFields(stagedLines[i])[testing::kWfdiscDfile];
    EXPECT_EQ(ReadFile(staged / name), ReadFile(plain / name)) << name;
    EXPECT_EQ(fs::status(staged / name).permissions(), fs::status(plain / name).permissions());
  }
  EXPECT_EQ(ReadFile(staged / "20130828131457-ABC-BHZ00.w").size(), 420u * 4);
  EXPECT_EQ(Entries(staged), 4u);
}

TEST_F(StagedDataFileTest, WhatStandsAtADataFileNameStaysAndTheStagedFileTakesTheNextName) {
  const fs::path folder = temp_.path() / "again";
  fs::create_directories(folder);
  // An earlier run's data file, with a second name, and a dangling link at the name of the
  // second segment: both stay as they are.
  testing::WriteFile(folder / "20130828131457-ABC-BHZ00.w", "earlier samples");
  fs::create_hard_link(folder / "20130828131457-ABC-BHZ00.w", folder / "kept.w");
  fs::create_symlink(temp_.path() / "made", folder / "20130828131557-ABC-BHZ00.w");
  DataFileStaging staging(folder.string(), kSmallLimits);
  CssWriter writer = StagedWriter(staging);
  const TraceSegment& first = Grow(staging, "00", kStart, 20, 7, 1.0f);
  const TraceSegment& second = Grow(staging, "00", kStart + 60.0, 20, 7, 500.0f);
  const TraceSegment& third = Grow(staging, "00", kStart + 120.0, 20, 7, 900.0f);

  const std::string wfdisc = (folder / "x.wfdisc").string();
  ASSERT_EQ(Write(writer, first, wfdisc), 0);
  ASSERT_EQ(Write(writer, second, wfdisc), 0);
  EXPECT_EQ(ReadFile(folder / "20130828131457-ABC-BHZ00.w"), "earlier samples");
  EXPECT_EQ(ReadFile(folder / "kept.w"), "earlier samples");
  EXPECT_TRUE(fs::is_symlink(folder / "20130828131557-ABC-BHZ00.w"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(temp_.path() / "made")));
  EXPECT_EQ(ReadFile(folder / "20130828131457-ABC-BHZ00-1.w").size(), 140u * 4);
  const std::string secondBytes = ReadFile(folder / "20130828131557-ABC-BHZ00-1.w");
  ASSERT_EQ(secondBytes.size(), 140u * 4);
  float value = 0.0f;
  std::memcpy(&value, secondBytes.data() + 139 * 4, 4);
  EXPECT_EQ(value, 639.0f);
  const auto lines = Lines(ReadFile(folder / "x.wfdisc"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WfdiscFields(lines[0])[testing::kWfdiscDfile], "20130828131457-ABC-BHZ00-1.w");
  EXPECT_EQ(WfdiscFields(lines[1])[testing::kWfdiscDfile], "20130828131557-ABC-BHZ00-1.w");
  // Both were linked as staged: the staging still holds the third.
  EXPECT_TRUE(staging.Take(third));
}

TEST_F(StagedDataFileTest, NothingIsStagedWhereNoFileCanBeMadeAndNothingIsLeftWhenTheRunEnds) {
  {
    // A folder the output makes only later: the samples are written then.
    const fs::path later = temp_.path() / "later";
    DataFileStaging staging(later.string(), kSmallLimits);
    CssWriter writer = StagedWriter(staging);
    const TraceSegment& segment = Grow(staging, "00", kStart, 20, 7, 1.0f);
    EXPECT_FALSE(staging.Take(segment));
    ASSERT_EQ(Write(writer, segment, (later / "x.wfdisc").string()), 0);
    EXPECT_EQ(ReadFile(later / "20130828131457-ABC-BHZ00.w").size(), 140u * 4);
  }
  {
    // A run that ends before its output (exhausted memory) leaves the folder as it was.
    const fs::path folder = temp_.path() / "ended";
    fs::create_directories(folder);
    {
      DataFileStaging staging(folder.string(), kSmallLimits);
      Grow(staging, "00", kStart, 200, 7, 1.0f);
      Grow(staging, "01", kStart, 200, 7, 1.0f);
    }
    EXPECT_EQ(Entries(folder), 0u);
  }
  {
    // At most mostStaged segments are staged; the others are written at the end as always.
    const fs::path folder = temp_.path() / "few";
    fs::create_directories(folder);
    StagingLimits one = kSmallLimits;
    one.mostStaged = 1;
    DataFileStaging staging(folder.string(), one);
    const TraceSegment& a = Grow(staging, "00", kStart, 20, 7, 1.0f);
    const TraceSegment& b = Grow(staging, "01", kStart, 20, 7, 1.0f);
    EXPECT_FALSE(staging.Take(b));
    FileDescriptor file = staging.Take(a);
    ASSERT_TRUE(file);
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_END), 140 * 4);
    EXPECT_TRUE(DataFileStaging::Link(file, (folder / "a.w").string()));
    EXPECT_FALSE(DataFileStaging::Link(file, (folder / "a.w").string()));  // the name is taken
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Entries(folder), 1u);
  }
}

// Hour pieces are staged on the data disk only while a second copy of all of them still fits
// beside the spare room (a piece that continues or replaces a stored file is copied there), and
// they leave the descriptors a run needs besides them: on a nearly full disk or under a low
// descriptor limit a conversion stores what it stored before staging went there.
TEST(StagingOnTheDataDisk, NeedsRoomForTwoCopiesAndLeavesDescriptorsForTheRest) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  const std::uint64_t piece = 512 + 360000 * 4;
  EXPECT_TRUE(RoomToStageInPlace(2 * piece + kStagingSpareRoom, 0, piece));
  EXPECT_FALSE(RoomToStageInPlace(2 * piece + kStagingSpareRoom - 1, 0, piece));
  EXPECT_TRUE(RoomToStageInPlace(4 * piece + kStagingSpareRoom, piece, piece));
  EXPECT_FALSE(RoomToStageInPlace(4 * piece + kStagingSpareRoom - 1, piece, piece));
  // A disk with 1.75 MiB free takes no piece of 1.6 MB, and the spare room stays above the
  // store's own free-space floor (10 MiB).
  EXPECT_FALSE(RoomToStageInPlace(1792 * 1024, 0, 1600000));
  EXPECT_GT(kStagingSpareRoom, 10 * kMiB);
  EXPECT_FALSE(RoomToStageInPlace(UINT64_MAX, UINT64_MAX / 2, piece));

  EXPECT_EQ(PieceFileBudget(0), 0u);
  EXPECT_EQ(PieceFileBudget(64), 0u);
  EXPECT_EQ(PieceFileBudget(kDescriptorsKept), 0u);
  EXPECT_EQ(PieceFileBudget(1024), (1024 - kDescriptorsKept) / 2);
  EXPECT_EQ(PieceFileBudget(1048576), (1048576 - kDescriptorsKept) / 2);
}

}  // namespace
}  // namespace tarnvel
