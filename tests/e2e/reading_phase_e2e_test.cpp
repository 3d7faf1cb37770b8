// The converter from its entry to its end on generated and real SEED files: record length
// detection, the information mode with its SITECHAN warnings, the reading progress, the CSS
// path rules and the return codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/converter_fixture.h"
#include "tests/support/mseed_pack.h"

namespace tarnvel::testing {
namespace {

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC

std::string OneChannel(int recordLength, bool bigEndian, std::size_t count = 5000,
                       double rate = 20.0, const std::string& location = "00") {
  PackSpec spec;
  spec.station = "ABC";
  spec.channel = "BHZ";
  spec.location = location;
  spec.startEpoch = kStart;
  spec.sampleRate = rate;
  spec.encoding = kEncodingSteim2;
  spec.bigEndian = bigEndian;
  spec.recordLength = recordLength;
  const auto samples = RandomWalk(count, 7, 300);
  return PackRecords(spec, samples);
}

std::string Format(const char* format, double a, double b) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Progress lines of a conversion reading `records` records of `length` bytes from a file of
// `size` bytes.
std::string ReadingProgress(int records, int length, long size) {
  std::string out;
  int last = 0;
  for (int k = 1; k <= records; ++k) {
    const int percent =
        static_cast<int>(static_cast<double>(k) * length * 100.0 / static_cast<double>(size));
    if (percent != last) {
      char line[40];
      std::snprintf(line, sizeof line, "\rConverting File - %02d%%", percent);
      out += line;
      last = percent;
    }
  }
  return out;
}

class ReadingPhaseTest : public ConverterTest {};

TEST_P(ReadingPhaseTest, DetectsRecordLengthOfEitherByteOrderAndListsTheChannel) {
  for (const int length : {512, 4096}) {
    for (const bool bigEndian : {true, false}) {
      SCOPED_TRACE(::testing::Message() << length << (bigEndian ? " big" : " little"));
      const auto seed = Place("one.seed", OneChannel(length, bigEndian));
      const auto result = Run({seed.string(), "-i"});
      EXPECT_EQ(result.exitCode, 0);
      EXPECT_EQ(result.output, "ABC::BHZ::00" + Format(" %.2f - %.2f", kStart, kStart + 250.0) +
                                   " 20\nNot found in SITECHAN: ABC::BHZ::00\n");
    }
  }
}

TEST_P(ReadingPhaseTest, WarnsAboutChannelsSitechanLacksOrHoldsWithAnotherRate) {
  PackSpec other;
  other.station = "DEF";
  other.channel = "HHZ";
  other.startEpoch = kStart + 10;
  other.sampleRate = 100.0;
  other.recordLength = 512;
  PackSpec third = other;
  third.station = "GHI";
  third.channel = "LHZ";
  third.location = "10";
  third.sampleRate = 1.0;
  const auto bytes = OneChannel(512, true, 2000) + PackRecords(other, RandomWalk(1000, 3, 50)) +
                     PackRecords(third, RandomWalk(100, 4, 50));
  db().Execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('ABC','BHZ',20,'00')");
  db().Execute("insert into SITECHAN(STA,CHAN,SPS) values('DEF','HHZ',99.5)");
  const auto seed = Place("three.seed", bytes);
  const auto result = Run({seed.string(), "-i"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output,
            "ABC::BHZ::00" + Format(" %.2f - %.2f", kStart, kStart + 100.0) + " 20\n" +
                "DEF::HHZ::??" + Format(" %.2f - %.2f", kStart + 10, kStart + 20.0) + " 100\n" +
                "GHI::LHZ::10" + Format(" %.2f - %.2f", kStart + 10, kStart + 110.0) + " 1\n" +
                "SPS differs from SITECHAN: DEF::HHZ::?? 99.50\n"
                "Not found in SITECHAN: GHI::LHZ::10\n");
}

TEST_P(ReadingPhaseTest, FileStartingWithAVolumeHeaderConvertsNothing) {
  std::string header(256, ' ');
  header.replace(0, 8, "000001V ");
  header[46] = 0;
  header[47] = 8;
  const auto seed = Place("volume.seed", header + OneChannel(512, true));
  for (const char* mode : {"-i", ""}) {
    std::vector<std::string> args{seed.string()};
    if (*mode) args.emplace_back(mode);
    const auto result = Run(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "\rWriting to database - 100%\n\n");
  }
  EXPECT_EQ(db().Count("FILELIST"), 0);
}

TEST_P(ReadingPhaseTest, EmptyFileConvertsNothingAlsoWithAConfiguredRecordLength) {
  const auto seed = Place("empty.seed", "");
  auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "\rWriting to database - 100%\n\n");

  WriteIni("[SYSTEM]\nBLOCK_SIZE=512\n");
  result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "\n\n\rWriting to database - 100%\n\n");
}

TEST_P(ReadingPhaseTest, ConfiguredBlockSizeBypassesDetection) {
  // A leading 512-byte piece that detection refuses; read as a 512-byte record it is ignored.
  std::string junk(512, ' ');
  junk.replace(0, 8, "000001V ");
  junk[47] = 8;
  const auto seed = Place("junk-first.seed", junk + OneChannel(512, true, 1000));
  EXPECT_EQ(Run({seed.string(), "-i"}).output, "\rWriting to database - 100%\n\n");

  WriteIni("[SYSTEM]\nBLOCK_SIZE=512\n");
  const auto result = Run({seed.string(), "-i"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "ABC::BHZ::00" + Format(" %.2f - %.2f", kStart, kStart + 50.0) +
                               " 20\nNot found in SITECHAN: ABC::BHZ::00\n");
}

TEST_P(ReadingPhaseTest, ViewLimitStopsTheListingAtTheGivenSize) {
  const std::string bytes = OneChannel(512, true, 2200000, 100.0);
  ASSERT_GT(bytes.size(), 3u * 1048576u);
  // Samples in the records that lie within the first MiB, as the reference decoder counts them.
  const auto records = DecodeRecords(bytes.substr(0, 1048576), 512);
  std::int64_t count = 0;
  for (const auto& record : records) count += record.sampleCount;
  const auto seed = Place("large.seed", bytes);
  const auto result = Run({seed.string(), "-i=1"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output,
            "ABC::BHZ::00" +
                Format(" %.2f - %.2f", kStart, kStart + static_cast<double>(count) / 100.0) +
                " 100\nNot found in SITECHAN: ABC::BHZ::00\n");
}

TEST_P(ReadingPhaseTest, RealStationFileListsItsThreeChannels) {
  const auto result = Run({TestData("2005-07-23-1452-04S.CER___030.mseed").string(), "-i"});
  EXPECT_EQ(result.exitCode, 0);
  const auto channels =
      DecodeChannels(ReadFile(TestData("2005-07-23-1452-04S.CER___030.mseed")), 4096);
  ASSERT_EQ(channels.size(), 3u);
  std::string expected;
  for (const auto& c : channels) {
    expected +=
        "CER::" + c.channel + "::00" +
        Format(" %.2f - %.2f", c.start, c.start + static_cast<double>(c.samples.size()) / 150.0) +
        " 150\n";
  }
  for (const auto& c : channels) expected += "Not found in SITECHAN: CER::" + c.channel + "::00\n";
  EXPECT_EQ(result.output, expected);
}

TEST_P(ReadingPhaseTest, ConversionPrintsReadingProgressAsItChanges) {
  const std::string bytes = OneChannel(512, true, 20000);
  const auto seed = Place("progress.seed", bytes);
  const auto result = Run({seed.string(), "css"});
  const int records = static_cast<int>(bytes.size() / 512);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output,
            ReadingProgress(records, 512, static_cast<long>(bytes.size())) +
                "\n\n\rWriting to CSS-file - 100%\rWriting to CSS-file - 100%\n\n");
}

TEST_P(ReadingPhaseTest, TrailingFragmentIsNotDecodedFromStaleBytes) {
  const std::string whole = OneChannel(512, true, 3000);
  // Cut the last record short: its tail would otherwise be the bytes of the record before it.
  const std::string cut = whole.substr(0, whole.size() - 200);
  const auto seed = Place("cut.seed", cut);
  const auto result = Run({seed.string(), "-i"});
  const auto records = DecodeRecords(whole.substr(0, (whole.size() / 512 - 1) * 512), 512);
  std::int64_t count = 0;
  for (const auto& record : records) count += record.sampleCount;
  EXPECT_EQ(result.output,
            "ABC::BHZ::00" +
                Format(" %.2f - %.2f", kStart, kStart + static_cast<double>(count) / 20.0) +
                " 20\nNot found in SITECHAN: ABC::BHZ::00\n");
}

TEST_P(ReadingPhaseTest, SeedFileThatDoesNotOpenEndsWithMinusTwo) {
  const auto result = Run({"/nonexistent/x.seed"});
  EXPECT_EQ(result.exitCode, Code(-2));
  EXPECT_EQ(result.output, "File open error (/nonexistent/x.seed): No such file or directory\n");
}

TEST_P(ReadingPhaseTest, UnreachableDatabaseEndsWithMinusOneAndWritesNothing) {
  const auto seed = Place("x.seed", OneChannel(512, true, 1000));
  const auto result =
      Run({seed.string(), "css", "ODBC=" + TestDatabase::MissingDsn(), "USER=someone"});
  EXPECT_EQ(result.exitCode, Code(-1));
  EXPECT_EQ(result.output,
            "Connection error (ODBC: " + TestDatabase::MissingDsn() + ", USER: someone)\n");
  EXPECT_FALSE(std::filesystem::exists(seed.string() + ".wfdisc"));
}

TEST_P(ReadingPhaseTest, CssPathRules) {
  const auto seed = Place("x.seed", OneChannel(512, true, 1000));
  const auto folder = work().path();
  const auto cssDir = folder / "cssdir";
  std::filesystem::create_directory(cssDir);

  struct Case {
    std::string argument;
    std::filesystem::path wfdisc;
  };
  const std::vector<Case> cases = {
      {"css", folder / "x.seed.wfdisc"},
      {"CSS=out.wfdisc", folder / "out.wfdisc"},
      {"CSS=" + cssDir.string(), cssDir / "x.seed.wfdisc"},
      {"Css=" + cssDir.string() + "/", cssDir / "x.seed.wfdisc"},
      {"CSS=" + (folder / "new.wfdisc").string(), folder / "new.wfdisc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    std::filesystem::remove(c.wfdisc);
    const auto result = Run({seed.string(), c.argument});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(c.wfdisc));
  }
  EXPECT_EQ(db().Count("FILELIST"), 0);

  const auto refused = Run({seed.string(), "CSS=sub/out.wfdisc"});
  EXPECT_EQ(refused.exitCode, 0);
  EXPECT_EQ(refused.output.rfind("Incorrect path to WFDISC-file\n", 0), 0u);
  EXPECT_GT(db().Count("FILELIST"), 0);
}

TARNVEL_DATABASE_TEST_SUITE(ReadingPhaseTest);

}  // namespace
}  // namespace tarnvel::testing
