// Conversions end to end: a SEED file into the QOR store (waveform files and FILELIST rows) or
// into CSS files, checked byte for byte against an independent decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/converter_fixture.h"
#include "tests/e2e/seed_builders.h"
#include "tests/support/mseed_pack.h"

namespace tarnvel::testing {
namespace {

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC

std::string Header(const std::string& time, const std::string& date, const std::string& duration,
                   const std::string& rate, const std::string& station, const std::string& channel,
                   const std::string& location) {
  std::string text = "[QOR5.x]\r\nData offset=512\r\nStart time=" + time +
                     "\r\nStart date=" + date + "\r\nTime duration=" + duration +
                     "\r\nData type=FLOAT\r\nSpS=" + rate + "\r\nGain=1\r\nStation=" + station +
                     "\r\nChannel=" + channel + "\r\nLCODE=" + location + "\r\n";
  text.resize(512, '\0');
  return text;
}

class ConversionTest : public ConverterTest {};

TEST_P(ConversionTest, SegmentLandsInAWaveformFileAndAFilelistRow) {
  const auto samples = RandomWalk(5000, 11, 400, 1000);
  const auto seed = Place("one.seed", PackChannel("abc", "bhz", "00", kStart, 20.0, samples));
  const auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("\n\n\rWriting to database - 100%\rWriting to database - 100%\n\n"),
            std::string::npos);

  const auto rows = db().Query(
      "select STA, CH, LCODE, TBEGIN, TQTY, SPS, CPATH, FOFF, CREATER, DATATYPE, GAIN from "
      "FILELIST");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "ABC");
  EXPECT_EQ(rows[0][1], "BHZ");
  EXPECT_EQ(rows[0][2], "00");
  EXPECT_DOUBLE_EQ(std::stod(rows[0][3]), kStart);
  EXPECT_DOUBLE_EQ(std::stod(rows[0][4]), 250.0);
  EXPECT_DOUBLE_EQ(std::stod(rows[0][5]), 20.0);
  EXPECT_EQ(rows[0][6], "ABC/13/21032009-130500-BHZ.ABC");
  EXPECT_EQ(std::stoi(rows[0][7]), 512);
  EXPECT_EQ(rows[0][8], "tarnvel");

  const std::string file = ReadFile(db().dataDir() / rows[0][6]);
  EXPECT_EQ(file, Header("13:05:00", "21-03-2009", "000 00 04 10", "20.00", "ABC", "BHZ", "00") +
                      FloatBytes(samples));
}

TEST_P(ConversionTest, RealStationFileMatchesTheReferenceDecoder) {
  const auto path = TestData("CH.BALST..LHE.D.2025.314");
  const auto result = Run({path.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  const auto channels = DecodeChannels(ReadFile(path), 512);
  ASSERT_EQ(channels.size(), 1u);
  std::vector<std::int32_t> expected = channels[0].samples;

  // Every registered file, in time order, holds exactly what its row says; together they hold
  // every sample of the file.
  std::string joined;
  for (const auto& row : db().Query("select CPATH, TQTY, SPS from FILELIST order by TBEGIN")) {
    const std::string file = ReadFile(db().dataDir() / row[0]);
    ASSERT_GE(file.size(), 512u);
    EXPECT_EQ(file.rfind("[QOR5.x]\r\n", 0), 0u);
    EXPECT_NEAR(static_cast<double>(file.size() - 512) / 4.0, std::stod(row[1]) * std::stod(row[2]),
                0.5);
    joined += file.substr(512);
  }
  EXPECT_EQ(joined.size(), expected.size() * 4);
  EXPECT_EQ(joined, FloatBytes(expected));
}

TEST_P(ConversionTest, ConvertingTwiceLeavesTheStoreAsOneConversionDoes) {
  const auto seed =
      Place("twice.seed", PackChannel("ABC", "BHZ", "", kStart, 20.0, RandomWalk(90000, 5, 30)));
  ASSERT_EQ(Run({seed.string()}).exitCode, 0);
  const auto once =
      db().Query("select STA, CH, LCODE, TBEGIN, TQTY, CPATH from FILELIST order by CPATH");
  ASSERT_EQ(Run({seed.string()}).exitCode, 0);
  const auto twice =
      db().Query("select STA, CH, LCODE, TBEGIN, TQTY, CPATH from FILELIST order by CPATH");
  EXPECT_EQ(once, twice);
  EXPECT_EQ(db().Count("FILELIST"), 2);  // 4500 s: one hour and 900 s
}

TEST_P(ConversionTest, TwoCssSegmentsGiveTwoLinesAndTwoDataFiles) {
  const auto first = RandomWalk(600, 1, 100);
  const auto second = RandomWalk(400, 2, 100);
  // The same channel with a gap of a minute: two segments.
  const auto seed =
      Place("gap.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, first) +
                            PackChannel("ABC", "BHZ", "00", kStart + 90.0, 20.0, second));
  const auto wfdisc = work().path() / "out.wfdisc";
  WriteFile(wfdisc, "earlier line\n");
  const auto result = Run({seed.string(), "CSS=out.wfdisc"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.output.find("\rWriting to CSS-file - 50%\rWriting to CSS-file - 100%"
                               "\rWriting to CSS-file - 100%\n\n"),
            std::string::npos)
      << result.output;
  const std::string lines = ReadFile(wfdisc);
  ASSERT_EQ(lines.rfind("earlier line\n", 0), 0u);
  const std::string added = lines.substr(13);
  ASSERT_EQ(added.size(), 2 * 284u);
  EXPECT_EQ(added.substr(0, 7), "ABC    ");
  EXPECT_NE(added.find("20090321130500-ABC-BHZ00.w"), std::string::npos);
  EXPECT_NE(added.find("20090321130630-ABC-BHZ00.w"), std::string::npos);
  EXPECT_EQ(ReadFile(work().path() / "20090321130500-ABC-BHZ00.w"), FloatBytes(first));
  EXPECT_EQ(ReadFile(work().path() / "20090321130630-ABC-BHZ00.w"), FloatBytes(second));
  EXPECT_EQ(db().Count("FILELIST"), 0);
}

TEST_P(ConversionTest, AFailedWriteEndsWithMinusFourAndRegistersNoBadFile) {
  const auto samples = RandomWalk(200000, 9, 100);  // 800 KB of floats
  const auto seed =
      Place("big.seed", PackChannel("ABC", "BHZ", "00", kStart, 100.0, samples, 4096));
  // A file-size limit of 100 KiB stands in for a full disk; the signal it raises is ignored so
  // that writes fail with EFBIG instead.
  const auto result =
      RunProgram("/bin/sh",
                 {"-c", "trap '' XFSZ; ulimit -f 100; exec \"$@\"", "sh", ConverterPath(),
                  seed.string(), "ODBC=" + db().dsn(), "USER=" + db().user(),
                  "PASSWORD=" + db().password(), "DATA=" + db().dataDir().string()},
                 [] {
                   auto env = TestDatabase::Environment();
                   env["TZ"] = "UTC";
                   return env;
                 }());
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_NE(result.output.find("\rDB write error (ABC::BHZ::"), std::string::npos);
  for (const auto& row : db().Query("select CPATH, TQTY, SPS from FILELIST")) {
    const auto size = std::filesystem::file_size(db().dataDir() / row[0]);
    EXPECT_EQ(static_cast<double>(size - 512) / 4.0, std::stod(row[1]) * std::stod(row[2]));
  }
}

TARNVEL_DATABASE_TEST_SUITE(ConversionTest);

}  // namespace
}  // namespace tarnvel::testing
