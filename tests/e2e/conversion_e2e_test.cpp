// Conversions end to end: a SEED file into the QOR store (waveform files and FILELIST rows) or
// into CSS files, checked byte for byte against an independent decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/converter_fixture.h"
#include "tests/e2e/seed_builders.h"
#include "tests/e2e/store_checks.h"
#include "tests/support/mseed_pack.h"
#include "tests/support/wfdisc_text.h"

namespace tarnvel::testing {
namespace {

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC
constexpr double kTen = 1237594200.0;    // 2009-03-21 00:10:00 UTC

// The line that ends a conversion into the database.
std::string Summary(long long samples, int files, int created, int continued, int rewritten,
                    long long already) {
  char line[256];
  std::snprintf(line, sizeof line,
                "Stored %lld samples in %d files (%d new, %d continued, %d rewritten), %lld "
                "samples were stored already\n",
                samples, files, created, continued, rewritten, already);
  return line;
}

// The end of a run's output, as long as `tail`.
std::string EndOf(const std::string& output, const std::string& tail) {
  return output.size() < tail.size() ? output : output.substr(output.size() - tail.size());
}

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

class ConversionTest : public ConverterTest {
 protected:
  // An empty store, for a test that tries several histories.
  void StartOver() {
    db().Execute("delete from FILELIST");
    std::filesystem::remove_all(db().dataDir() / "ABC");
  }
  // The store holds exactly `expected`, now.
  void ExpectStoreHolds(const std::vector<ExpectedChannel>& expected) {
    EXPECT_EQ(AllStoreProblems(StoredFiles(db()), db().dataDir(), expected),
              std::vector<std::string>{});
  }

  // Converts each file, then each again: the second round must change nothing.
  void ConvertThenAgain(const std::vector<std::filesystem::path>& seeds,
                        const std::map<std::string, std::string>& variables = {}) {
    for (const auto& seed : seeds) ASSERT_EQ(Run({seed.string()}, variables).exitCode, 0);
    const auto stored = SnapshotOf(db(), db().dataDir());
    for (const auto& seed : seeds) {
      ASSERT_EQ(Run({seed.string()}, variables).exitCode, 0);
      EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stored) << seed;
    }
  }
};

TEST_P(ConversionTest, SegmentLandsInAWaveformFileAndAFilelistRow) {
  const auto samples = RandomWalk(5000, 11, 400, 1000);
  const auto seed = Place("one.seed", PackChannel("abc", "bhz", "00", kStart, 20.0, samples));
  const auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  // The summary is the last line.
  const std::string end = "\n\n\rWriting to database - 100%\rWriting to database - 100%\n\n" +
                          Summary(5000, 1, 1, 0, 0, 0);
  EXPECT_EQ(EndOf(result.output, end), end);

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
  ExpectSamples({"ABC", "BHZ", "00", kStart, 20.0, samples});
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
  ExpectSamples({"BALST", "LHE", "??", channels[0].start, 1.0, expected});
}

TEST_P(ConversionTest, ConvertingTwiceLeavesTheStoreAsOneConversionDoes) {
  const auto samples = RandomWalk(90000, 5, 30);
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, samples});
  const auto seed = Place("twice.seed", PackChannel("ABC", "BHZ", "", kStart, 20.0, samples));
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
  // The last line says what was written, and where.
  EXPECT_TRUE(result.output.ends_with(
      "\rWriting to CSS-file - 50%\rWriting to CSS-file - 100%\rWriting to CSS-file - 100%\n\n"
      "Wrote 2 wfdisc lines and 2 data files (1000 samples) to " +
      wfdisc.string() + "\n"))
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

// Another file of the same channel and start second converted into the same folder later:
// the earlier data file is never opened for writing, so the earlier line still tells the
// truth; the new samples take the next free name.
TEST_P(ConversionTest, AnEarlierRunsCssDataFileStaysAsItsLineDescribesIt) {
  const auto earlier = RandomWalk(1200, 21, 100);
  const auto later = RandomWalk(300, 22, 100);
  const auto first = Place("first.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, earlier));
  const auto second =
      Place("second.seed", PackChannel("ABC", "BHZ", "00", kStart + 0.5, 20.0, later));
  const auto wfdisc = work().path() / "out.wfdisc";
  ASSERT_EQ(Run({first.string(), "CSS=out.wfdisc"}).exitCode, 0);
  const std::string earlierLine = ReadFile(wfdisc);
  const auto result = Run({second.string(), "CSS=out.wfdisc"});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.output.ends_with(
      "\n\nWrote 1 wfdisc lines and 1 data files (300 samples) to " + wfdisc.string() + "\n"))
      << result.output;

  const auto lines = Lines(ReadFile(wfdisc));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\n", earlierLine);
  EXPECT_EQ(WfdiscFields(lines[0])[kWfdiscDfile], "20090321130500-ABC-BHZ00.w");
  EXPECT_EQ(WfdiscFields(lines[0])[kWfdiscNsamp], "1200");
  EXPECT_EQ(ReadFile(work().path() / "20090321130500-ABC-BHZ00.w"), FloatBytes(earlier));
  EXPECT_EQ(WfdiscFields(lines[1])[kWfdiscDfile], "20090321130500-ABC-BHZ00-1.w");
  EXPECT_EQ(WfdiscFields(lines[1])[kWfdiscNsamp], "300");
  EXPECT_EQ(ReadFile(work().path() / "20090321130500-ABC-BHZ00-1.w"), FloatBytes(later));
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

std::string Fixed2(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The samples of a wfdisc line's data file (in `folder`), from its time at its samprate.
TimedPiece CssPiece(const std::string& line, const std::filesystem::path& folder) {
  const auto fields = WfdiscFields(line);
  const std::string data = ReadFile(folder / fields.at(kWfdiscDfile));
  std::vector<float> floats(data.size() / 4);
  std::memcpy(floats.data(), data.data(), floats.size() * 4);
  return {std::stod(fields.at(kWfdiscTime)), std::stod(fields.at(kWfdiscSamprate)), floats};
}

// A fractional-rate channel of more than an hour: its nominal rate, its record bytes and where
// the independent decoder puts each of its samples.
struct FractionalChannel {
  const char* channel;
  double rate;
  double seconds;
  double start;
};

constexpr FractionalChannel kFractional[] = {
    {"HHZ", 62.5, 4500.0, kStart + 0.0125},  // an hour and a quarter
    {"HHN", 40.5, 4000.0, kStart + 0.0375},
};

TEST_P(ConversionTest, FractionalRatesGiveOneSegmentInHourPiecesWithEverySampleAtItsTime) {
  std::string bytes;
  for (const FractionalChannel& c : kFractional) {
    const auto count = static_cast<std::size_t>(c.rate * c.seconds);
    bytes += PackChannel("ABC", c.channel, "00", c.start, c.rate,
                         RandomWalk(count, static_cast<std::uint32_t>(c.rate), 20));
  }
  const auto seed = Place("fractional.seed", bytes);

  // Listing: the rate column stays whole, the end follows the nominal rate.
  const auto listing = Run({seed.string(), "-i"});
  ASSERT_EQ(listing.exitCode, 0) << listing.output;
  EXPECT_EQ(listing.output.rfind("ABC::HHZ::00 " + Fixed2(kStart + 0.0125) + " - " +
                                     Fixed2(kStart + 0.0125 + 4500.0) + " 62\nABC::HHN::00 " +
                                     Fixed2(kStart + 0.0375) + " - " +
                                     Fixed2(kStart + 0.0375 + 4000.0) + " 40\n",
                                 0),
            0u)
      << listing.output;

  const auto stored = Run({seed.string(), "-use_tend"});
  ASSERT_EQ(stored.exitCode, 0) << stored.output;
  const auto css = Run({seed.string(), "CSS=out.wfdisc"});
  ASSERT_EQ(css.exitCode, 0) << css.output;
  const auto lines = Lines(ReadFile(work().path() / "out.wfdisc"));
  ASSERT_EQ(lines.size(), 2u);  // one segment per channel

  for (std::size_t i = 0; i < 2; ++i) {
    const FractionalChannel& c = kFractional[i];
    SCOPED_TRACE(c.channel);
    const TimedSamples reference = ReferenceTimedSamples(bytes, 512, c.channel);
    ASSERT_EQ(reference.values.size(), static_cast<std::size_t>(c.rate * c.seconds));

    // The store: an hour piece and the rest, both at the nominal rate, headers included.
    const auto rows = db().Query(std::string("select CPATH, TBEGIN, TQTY, SPS, TEND from "
                                             "FILELIST where CH='") +
                                 c.channel + "' order by TBEGIN");
    ASSERT_EQ(rows.size(), 2u);
    std::vector<TimedPiece> pieces;
    for (std::size_t p = 0; p < rows.size(); ++p) {
      const double begin = std::stod(rows[p][1]);
      const double quantity = std::stod(rows[p][2]);
      EXPECT_NEAR(begin, c.start + 3600.0 * static_cast<double>(p), 1e-4);
      EXPECT_NEAR(quantity, p == 0 ? 3600.0 : c.seconds - 3600.0, 0.005);
      EXPECT_DOUBLE_EQ(std::stod(rows[p][3]), c.rate);
      EXPECT_NEAR(std::stod(rows[p][4]), begin + quantity, 1e-4);
      const std::string file = ReadFile(db().dataDir() / rows[p][0]);
      const std::string header = file.substr(0, 512);
      EXPECT_NE(header.find("\r\nSpS=" + Fixed2(c.rate) + "\r\n"), std::string::npos) << header;
      EXPECT_NE(header.find(p == 0 ? "Time duration=000 01 00 00\r\n"
                                   : (c.rate == 62.5 ? "Time duration=000 00 15 00\r\n"
                                                     : "Time duration=000 00 06 40\r\n")),
                std::string::npos)
          << header;
      pieces.push_back({begin, std::stod(rows[p][3]), FileSamples(db().dataDir() / rows[p][0])});
    }
    ExpectEverySampleAtItsTime(pieces, reference, 1e-4);

    // CSS: one line for the whole segment and its data file.
    const auto fields = WfdiscFields(lines[i]);
    ASSERT_EQ(lines[i].size(), 283u);
    ASSERT_EQ(fields.size(), 21u);
    EXPECT_EQ(fields[kWfdiscNsamp], std::to_string(reference.values.size()));
    EXPECT_EQ(lines[i].substr(88, 11), c.rate == 62.5 ? " 62.5000000" : " 40.5000000");
    EXPECT_NEAR(std::stod(fields[kWfdiscEndTime]), c.start + c.seconds, 1e-4);
    ExpectEverySampleAtItsTime({CssPiece(lines[i], work().path())}, reference, 1e-4);
  }
}

TEST_P(ConversionTest, AChannelWhoseRateChangesGivesASegmentPerRateWithEverySampleAtItsTime) {
  // 20 s at 50 sps, then, from where they end, 20 s at 100 sps.
  const auto slow = RandomWalk(1000, 1, 50);
  const auto fast = RandomWalk(2000, 2, 50);
  const std::string bytes = PackChannel("ABC", "BHZ", "00", kStart, 50.0, slow) +
                            PackChannel("ABC", "BHZ", "00", kStart + 20.0, 100.0, fast);
  const auto seed = Place("switched.seed", bytes);

  // The listing's one line spans both parts, each at its own rate.
  const auto listing = Run({seed.string(), "-i"});
  EXPECT_EQ(listing.output.rfind(
                "ABC::BHZ::00 " + Fixed2(kStart) + " - " + Fixed2(kStart + 40.0) + " 50\n", 0),
            0u)
      << listing.output;

  const auto css = Run({seed.string(), "CSS=switched.wfdisc"});
  ASSERT_EQ(css.exitCode, 0) << css.output;
  const auto lines = Lines(ReadFile(work().path() / "switched.wfdisc"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WfdiscFields(lines[0])[kWfdiscNsamp], "1000");
  EXPECT_EQ(WfdiscFields(lines[1])[kWfdiscNsamp], "2000");
  EXPECT_NEAR(std::stod(WfdiscFields(lines[1])[kWfdiscEndTime]), kStart + 40.0, 1e-4);
  ExpectEverySampleAtItsTime({CssPiece(lines[0], work().path()), CssPiece(lines[1], work().path())},
                             ReferenceTimedSamples(bytes, 512, "BHZ"), 1e-4);
}

// Three channels of one station, one in each of 1964, 1966 and 1969, the last running over
// into 1970; each a minute at 20 sps, starting at a fraction of a second.
struct HistoricChannel {
  const char* channel;
  double start;
  const char* cpath;
  const char* time;
  const char* date;
  const char* dfile;
  const char* jdate;
};

constexpr HistoricChannel kHistoric[] = {
    {"SHZ", -181945428.5, "HIS/03/27031964-033611-SHZ.HIS", "03:36:11", "27-03-1964",
     "19640327033611-HIS-SHZ.w", "1964087"},
    {"SHN", -110548799.75, "HIS/12/01071966-120000-SHN.HIS", "12:00:00", "01-07-1966",
     "19660701120000-HIS-SHN.w", "1966182"},
    {"SHE", -29.25, "HIS/23/31121969-235930-SHE.HIS", "23:59:30", "31-12-1969",
     "19691231235930-HIS-SHE.w", "1969365"},
};

TEST_P(ConversionTest, RecordsBeforeNineteenSeventyKeepTheirDatesEverywhere) {
  std::string bytes;
  std::vector<std::vector<std::int32_t>> samples;
  for (const HistoricChannel& c : kHistoric) {
    samples.push_back(RandomWalk(1200, 3, 50));
    bytes += PackChannel("HIS", c.channel, "", c.start, 20.0, samples.back());
  }
  const auto seed = Place("historic.seed", bytes);
  // The independent decoder reads the packed record times as intended.
  const auto reference = DecodeChannels(bytes, 512);
  ASSERT_EQ(reference.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) ASSERT_NEAR(reference[i].start, kHistoric[i].start, 1e-6);

  std::string expectedListing;
  for (const HistoricChannel& c : kHistoric) {
    expectedListing += std::string("HIS::") + c.channel + "::?? " + Fixed2(c.start) + " - " +
                       Fixed2(c.start + 60.0) + " 20\n";
  }
  const auto listing = Run({seed.string(), "-i"});
  EXPECT_EQ(listing.output.substr(0, expectedListing.size()), expectedListing);

  ASSERT_EQ(Run({seed.string()}).exitCode, 0);
  const auto css = Run({seed.string(), "CSS=old.wfdisc"});
  ASSERT_EQ(css.exitCode, 0);
  const auto lines = Lines(ReadFile(work().path() / "old.wfdisc"));
  ASSERT_EQ(lines.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const HistoricChannel& c = kHistoric[i];
    SCOPED_TRACE(c.channel);
    const auto rows = db().Query(
        std::string("select CPATH, TBEGIN, TQTY from FILELIST where CH='") + c.channel + "'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], c.cpath);
    EXPECT_NEAR(std::stod(rows[0][1]), c.start, 1e-4);
    EXPECT_DOUBLE_EQ(std::stod(rows[0][2]), 60.0);
    EXPECT_EQ(ReadFile(db().dataDir() / c.cpath),
              Header(c.time, c.date, "000 00 01 00", "20.00", "HIS", c.channel, "??") +
                  FloatBytes(samples[i]));

    const auto fields = WfdiscFields(lines[i]);
    ASSERT_EQ(fields.size(), 21u);
    EXPECT_EQ(fields[kWfdiscJdate], c.jdate);
    EXPECT_EQ(fields[kWfdiscDfile], c.dfile);
    EXPECT_NEAR(std::stod(fields[kWfdiscTime]), c.start, 1e-4);
    EXPECT_EQ(ReadFile(work().path() / c.dfile), FloatBytes(samples[i]));
  }

  // Time windows before 1970 select as any other: all of 1966, and from the last ten seconds
  // of 1969 on. The data files of the first run stay: these take the next free names.
  const auto again = [](std::string name) { return name.insert(name.size() - 2, "-1"); };
  const auto only1966 = Run({seed.string(), "beg=00:00:00-01.01.1966", "end=00:00:00-01.01.1967",
                             "CSS=window1966.wfdisc"});
  ASSERT_EQ(only1966.exitCode, 0) << only1966.output;
  const auto window1966 = Lines(ReadFile(work().path() / "window1966.wfdisc"));
  ASSERT_EQ(window1966.size(), 1u);
  EXPECT_EQ(WfdiscFields(window1966[0])[kWfdiscDfile], again(kHistoric[1].dfile));
  EXPECT_EQ(ReadFile(work().path() / again(kHistoric[1].dfile)), FloatBytes(samples[1]));
  const auto late1969 = Run({seed.string(), "beg=23:59:50-31.12.1969", "CSS=late1969.wfdisc"});
  ASSERT_EQ(late1969.exitCode, 0) << late1969.output;
  const auto window1969 = Lines(ReadFile(work().path() / "late1969.wfdisc"));
  ASSERT_EQ(window1969.size(), 1u);
  EXPECT_EQ(WfdiscFields(window1969[0])[kWfdiscDfile], again(kHistoric[2].dfile));
  EXPECT_EQ(ReadFile(work().path() / again(kHistoric[2].dfile)), FloatBytes(samples[2]));
}

TEST_P(ConversionTest, WfdiscLinesKeepTheirColumnsAtTwoThousandSamplesPerSecond) {
  std::string bytes;
  std::vector<std::vector<std::int32_t>> segments;
  for (int i = 0; i < 3; ++i) {  // three segments, ten seconds apart
    segments.push_back(RandomWalk(4000, static_cast<std::uint32_t>(i), 100));
    bytes += PackChannel("ABCDE", "HHZ", "00", kStart + 10.0 * i, 2000.0, segments.back());
  }
  const auto seed = Place("fast.seed", bytes);
  const auto result = Run({seed.string(), "CSS=fast.wfdisc"});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const std::string text = ReadFile(work().path() / "fast.wfdisc");
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(text.size(), 3 * 284u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].size(), 283u);
    EXPECT_EQ(lines[i].substr(88, 11), "2000.000000");
    const auto fields = WfdiscFields(lines[i]);
    ASSERT_EQ(fields.size(), 21u);
    EXPECT_EQ(fields[kWfdiscNsamp], "4000");
    EXPECT_NEAR(std::stod(fields[kWfdiscEndTime]), kStart + 10.0 * static_cast<double>(i) + 2.0,
                1e-4);
    EXPECT_EQ(ReadFile(work().path() / fields[kWfdiscDfile]), FloatBytes(segments[i]));
  }
  // The wfdisc file is as readable as its data files.
  const auto dataFile = work().path() / WfdiscFields(lines[0])[kWfdiscDfile];
  EXPECT_EQ(std::filesystem::status(work().path() / "fast.wfdisc").permissions(),
            std::filesystem::status(dataFile).permissions());
}

TEST_P(ConversionTest, ADataFileNameThatWouldNotFitItsFieldFailsItsSegment) {
  // 1001 one-sample segments of one channel in one second: with the longest codes the names
  // hold serials up to 999; the last segment cannot be named in 32 characters.
  std::string bytes;
  for (int i = 0; i < 1001; ++i) {
    bytes += PackChannel("ABCDE", "HHZ", "00", kStart + 0.0003 * i, 10000.0, {i});
  }
  const auto seed = Place("crowded.seed", bytes);
  const auto result = Run({seed.string(), "CSS=crowded.wfdisc"});
  EXPECT_EQ(result.exitCode, Code(-4));  // a segment failed
  EXPECT_EQ(CountOf(result.output, "\rCSS file write error ("), 1u) << result.output;
  const auto lines = Lines(ReadFile(work().path() / "crowded.wfdisc"));
  ASSERT_EQ(lines.size(), 1000u);
  std::set<std::string> named;
  for (const std::string& line : lines) {
    ASSERT_EQ(line.size(), 283u);
    named.insert(WfdiscFields(line)[kWfdiscDfile]);
  }
  std::set<std::string> onDisk;
  for (const auto& entry : std::filesystem::directory_iterator(work().path())) {
    if (entry.path().extension() == ".w") onDisk.insert(entry.path().filename().string());
  }
  EXPECT_EQ(named.size(), 1000u);
  EXPECT_EQ(named, onDisk);
  EXPECT_EQ(named.count("20090321130500-ABCDE-HHZ00-999.w"), 1u);
}

// A file name carries neither the location code nor the time zone offset: a second file that
// would take the same name gets the next free one, and the first stays as it was.
TEST_P(ConversionTest, AnotherLocationCodeInTheSameSecondGetsAFileOfItsOwn) {
  const auto first = RandomWalk(2000, 101, 50);
  const auto second = RandomWalk(1200, 102, 50);
  ExpectSamples({"ABC", "BHZ", "00", kStart, 20.0, first});
  ExpectSamples({"ABC", "BHZ", "10", kStart, 20.0, second});
  ConvertThenAgain({Place("loc00.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, first)),
                    Place("loc10.seed", PackChannel("ABC", "BHZ", "10", kStart, 20.0, second))});
  EXPECT_EQ(db().Query("select LCODE, CPATH from FILELIST order by LCODE"),
            (std::vector<Row>{{"00", "ABC/13/21032009-130500-BHZ.ABC"},
                              {"10", "ABC/13/21032009-130500-BHZ-1.ABC"}}));
}

TEST_P(ConversionTest, TheRepeatedHourOfAClockChangeKeepsBothHours) {
  // 25 October 2009 in Berlin: 02:30 comes at 00:30 UTC (summer time) and at 01:30 UTC.
  constexpr double kSummer = 1256430600.0;
  constexpr double kWinter = 1256434200.0;
  const auto summer = RandomWalk(12000, 111, 50);
  const auto winter = RandomWalk(12000, 112, 50);
  ExpectSamples({"ABC", "BHZ", "??", kSummer, 20.0, summer});
  ExpectSamples({"ABC", "BHZ", "??", kWinter, 20.0, winter});
  ConvertThenAgain({Place("summer.seed", PackChannel("ABC", "BHZ", "", kSummer, 20.0, summer)),
                    Place("winter.seed", PackChannel("ABC", "BHZ", "", kWinter, 20.0, winter))},
                   {{"TZ", "Europe/Berlin"}});
  EXPECT_EQ(
      db().Query("select CPATH from FILELIST order by TBEGIN"),
      (std::vector<Row>{{"ABC/02/25102009-023000-BHZ.ABC"}, {"ABC/02/25102009-023000-BHZ-1.ABC"}}));
}

TEST_P(ConversionTest, AFileIsContinuedOnlyAtItsOwnRate) {
  const auto fast = RandomWalk(6000, 121, 50);  // 60 s at 100 sps
  const auto slow = RandomWalk(2400, 122, 50);  // the next 60 s at 40 sps
  ExpectSamples({"ABC", "BHZ", "??", kStart, 100.0, fast});
  ExpectSamples({"ABC", "BHZ", "??", kStart + 60.0, 40.0, slow});
  ASSERT_EQ(Run({Place("fast.seed", PackChannel("ABC", "BHZ", "", kStart, 100.0, fast)).string()})
                .exitCode,
            0);
  ASSERT_EQ(
      Run({Place("slow.seed", PackChannel("ABC", "BHZ", "", kStart + 60.0, 40.0, slow)).string()})
          .exitCode,
      0);
  const auto rows = db().Query("select SPS, TQTY from FILELIST order by TBEGIN");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_DOUBLE_EQ(std::stod(rows[0][0]), 100.0);
  EXPECT_DOUBLE_EQ(std::stod(rows[0][1]), 60.0);
  EXPECT_DOUBLE_EQ(std::stod(rows[1][0]), 40.0);
}

// At 1000 sps TQTY's hundredths leave ten samples open: a file ends where its samples do. A
// segment 3 samples after the end of a file of 9997 samples (TQTY 10.00) starts a file of its
// own; one right after the end of a file of 10003 samples (TQTY 10.00) continues it.
TEST_P(ConversionTest, AFastChannelsFileEndsWhereItsSamplesDo) {
  const auto short1 = RandomWalk(9997, 191, 50);
  const auto gapped = RandomWalk(1000, 192, 50);
  const auto long1 = RandomWalk(10003, 193, 50);
  const auto seamless = RandomWalk(1000, 194, 50);
  const double later = kStart + 3600.0;
  ExpectSamples({"ABC", "HHZ", "??", kStart, 1000.0, short1});
  ExpectSamples({"ABC", "HHZ", "??", kStart + 10.0, 1000.0, gapped});
  std::vector<std::int32_t> continued = long1;
  continued.insert(continued.end(), seamless.begin(), seamless.end());
  ExpectSamples({"ABC", "HHZ", "??", later, 1000.0, continued});
  ConvertThenAgain(
      {Place("a.seed", PackChannel("ABC", "HHZ", "", kStart, 1000.0, short1)),
       Place("b.seed", PackChannel("ABC", "HHZ", "", kStart + 10.0, 1000.0, gapped)),
       Place("c.seed", PackChannel("ABC", "HHZ", "", later, 1000.0, long1)),
       Place("d.seed", PackChannel("ABC", "HHZ", "", later + 10.003, 1000.0, seamless))});
  EXPECT_EQ(db().Query("select CPATH from FILELIST order by TBEGIN"),
            (std::vector<Row>{{"ABC/13/21032009-130500-HHZ.ABC"},
                              {"ABC/13/21032009-130510-HHZ.ABC"},
                              {"ABC/14/21032009-140500-HHZ.ABC"}}));
}

// A run without the end-time switch extends TQTY alone and leaves TEND behind; a later run with
// the switch counts the file's samples by TQTY, so it neither cuts them off nor misses them.
TEST_P(ConversionTest, AnEndTimeLeftBehindByARunWithoutItLosesNoSamples) {
  const auto first = RandomWalk(12000, 201, 50);
  const auto second = RandomWalk(6000, 202, 50);
  const auto third = RandomWalk(6000, 203, 50);
  std::vector<std::int32_t> corrected(second.begin(), second.begin() + 1200);
  corrected[10] += 4;
  std::vector<std::int32_t> all = first;
  all.insert(all.end(), corrected.begin(), corrected.end());
  all.insert(all.end(), second.begin() + 1200, second.end());
  all.insert(all.end(), third.begin(), third.end());
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, all});
  auto run = [&](const std::string& name, double start, const std::vector<std::int32_t>& samples,
                 bool useTend) {
    const auto seed = Place(name, PackChannel("ABC", "BHZ", "", start, 20.0, samples));
    std::vector<std::string> args{seed.string()};
    if (useTend) args.push_back("-use_tend");
    const auto result = Run(args);
    EXPECT_EQ(result.exitCode, 0) << result.output;
  };
  run("a.seed", kStart, first, true);
  run("b.seed", kStart + 600.0, second, false);
  ASSERT_DOUBLE_EQ(db().QueryNumber("select TEND from FILELIST"), kStart + 600.0);
  // The first minute of b again, one sample changed, then the five minutes after b.
  run("fix.seed", kStart + 600.0, corrected, true);
  run("c.seed", kStart + 900.0, third, true);
  EXPECT_EQ(db().Query("select CPATH from FILELIST"),
            (std::vector<Row>{{"ABC/13/21032009-130500-BHZ.ABC"}}));
  EXPECT_DOUBLE_EQ(db().QueryNumber("select TEND from FILELIST"), kStart + 1200.0);
}

// File A (30 minutes) and file B (the 10 minutes after it, continuing A's hour file), converted
// again in every order: the store stays as the first conversion of both left it.
TEST_P(ConversionTest, ConvertingAgainInAnyOrderChangesNothing) {
  const auto first = RandomWalk(36000, 131, 50);
  const auto second = RandomWalk(12000, 132, 50, first.back());
  std::vector<std::int32_t> both = first;
  both.insert(both.end(), second.begin(), second.end());
  ExpectSamples({"ABC", "BHZ", "00", kStart, 20.0, both});
  const auto a = Place("a.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, first));
  const auto b = Place("b.seed", PackChannel("ABC", "BHZ", "00", kStart + 1800.0, 20.0, second));
  const auto ab = Place("ab.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, both));
  ASSERT_EQ(Run({a.string()}).exitCode, 0);
  const auto continued = Run({b.string()});
  ASSERT_EQ(continued.exitCode, 0);
  EXPECT_EQ(EndOf(continued.output, "\n" + Summary(12000, 1, 0, 1, 0, 0)),
            "\n" + Summary(12000, 1, 0, 1, 0, 0));
  ASSERT_EQ(db().Count("FILELIST"), 1);  // B continued A's file
  const auto stored = SnapshotOf(db(), db().dataDir());
  for (const auto* seed : {&a, &b, &a, &ab, &b}) {
    SCOPED_TRACE(seed->filename().string());
    const auto again = Run({seed->string()});
    ASSERT_EQ(again.exitCode, 0);
    const std::string summary =
        Summary(0, 0, 0, 0, 0, seed == &ab ? 48000 : (seed == &a ? 36000 : 12000));
    EXPECT_EQ(EndOf(again.output, summary), summary);
    EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stored);
  }

  // The other order into an empty store: two files, every sample once all the same.
  db().Execute("delete from FILELIST");
  std::filesystem::remove_all(db().dataDir() / "ABC");
  for (const auto* seed : {&b, &a, &b, &ab, &a}) {
    ASSERT_EQ(Run({seed->string()}).exitCode, 0);
  }
  EXPECT_EQ(db().Count("FILELIST"), 2);
}

// Converting a corrected file again replaces the samples of its own time, in place, and keeps
// the samples of the file that continued it.
TEST_P(ConversionTest, CorrectedDataReplaceTheSamplesOfTheirTimeOnly) {
  const auto first = RandomWalk(36000, 141, 50);
  auto corrected = first;
  corrected[100] += 7;
  corrected[35999] -= 3;
  const auto second = RandomWalk(12000, 142, 50);
  std::vector<std::int32_t> both = corrected;
  both.insert(both.end(), second.begin(), second.end());
  ExpectSamples({"ABC", "BHZ", "00", kStart, 20.0, both});
  ASSERT_EQ(Run({Place("a.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, first)).string()})
                .exitCode,
            0);
  ASSERT_EQ(Run({Place("b.seed", PackChannel("ABC", "BHZ", "00", kStart + 1800.0, 20.0, second))
                     .string()})
                .exitCode,
            0);
  const auto fixed = Place("fixed.seed", PackChannel("ABC", "BHZ", "00", kStart, 20.0, corrected));
  const auto result = Run({fixed.string()});
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(db().Query("select CPATH from FILELIST"),
            (std::vector<Row>{{"ABC/13/21032009-130500-BHZ.ABC"}}));
  EXPECT_DOUBLE_EQ(db().QueryNumber("select TQTY from FILELIST"), 2400.0);
  // One line for the file, then the summary: two samples written through a copy.
  const std::string end = "\rReplaced 2 stored samples with new values (" +
                          (db().dataDir() / "ABC/13/21032009-130500-BHZ.ABC").string() +
                          ")\n\rWriting to database - 100%\n\n" + Summary(2, 1, 0, 0, 1, 35998);
  EXPECT_EQ(EndOf(result.output, end), end);
}

// File A (2,000 samples at 20 sps from 00:10:00.000) and file B (other samples from
// 00:10:00.015, or from 00:09:59.985), stored in either order: converting either again finds
// its samples where they lie, beside the file that starts nearer, and adds nothing.
TEST_P(ConversionTest, AFileConvertedAgainBesideANearNeighbourAddsNothing) {
  const auto a = RandomWalk(2000, 301, 50);
  const auto b = RandomWalk(2000, 302, 50);
  const auto seedA = Place("a.seed", PackChannel("ABC", "BHZ", "", kTen, 20.0, a));
  for (const double shift : {0.015, -0.015}) {
    const auto seedB = Place("b.seed", PackChannel("ABC", "BHZ", "", kTen + shift, 20.0, b));
    const std::vector<ExpectedChannel> both = {{"ABC", "BHZ", "??", kTen, 20.0, a},
                                               {"ABC", "BHZ", "??", kTen + shift, 20.0, b}};
    for (const bool aFirst : {true, false}) {
      SCOPED_TRACE(::testing::Message()
                   << "B " << shift << " s after A, " << (aFirst ? "A" : "B") << " stored first");
      StartOver();
      ASSERT_EQ(Run({(aFirst ? seedA : seedB).string()}).exitCode, 0);
      const auto second = Run({(aFirst ? seedB : seedA).string()});
      ASSERT_EQ(second.exitCode, 0) << second.output;
      EXPECT_EQ(EndOf(second.output, Summary(2000, 1, 1, 0, 0, 0)), Summary(2000, 1, 1, 0, 0, 0));
      EXPECT_EQ(db().Count("FILELIST"), 2);
      const auto stored = SnapshotOf(db(), db().dataDir());
      for (const auto* seed : {&seedA, &seedB, &seedA}) {
        const auto again = Run({seed->string()});
        EXPECT_EQ(again.exitCode, 0) << again.output;
        EXPECT_EQ(EndOf(again.output, "\n\n" + Summary(0, 0, 0, 0, 0, 2000)),
                  "\n\n" + Summary(0, 0, 0, 0, 0, 2000));
        EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stored) << seed->filename();
      }
      ExpectStoreHolds(both);
    }
  }
}

// A's samples delivered again with time tags 15 ms (0.3 intervals) or 60 ms late are other
// samples, stored at their own times; 50 ms late (one interval) they are at the times of A's
// samples 1 to 1999, whose values they replace, and their last one continues A's file.
TEST_P(ConversionTest, SamplesDeliveredAgainAtOtherTimesAreStoredAtTheirOwnTimes) {
  const auto a = RandomWalk(2000, 311, 50);
  const auto seedA = Place("a.seed", PackChannel("ABC", "BHZ", "", kTen, 20.0, a));
  const std::string fileA = (db().dataDir() / "ABC/00/21032009-001000-BHZ.ABC").string();
  for (const double shift : {0.015, 0.06}) {
    SCOPED_TRACE(shift);
    StartOver();
    ASSERT_EQ(Run({seedA.string()}).exitCode, 0);
    const auto late = Place("late.seed", PackChannel("ABC", "BHZ", "", kTen + shift, 20.0, a));
    const auto result = Run({late.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("Replaced"), std::string::npos) << result.output;
    EXPECT_EQ(EndOf(result.output, "\n\n" + Summary(2000, 1, 1, 0, 0, 0)),
              "\n\n" + Summary(2000, 1, 1, 0, 0, 0));
    EXPECT_EQ(db().Query("select CPATH from FILELIST order by TBEGIN"),
              (std::vector<Row>{{"ABC/00/21032009-001000-BHZ.ABC"},
                                {"ABC/00/21032009-001000-BHZ-1.ABC"}}));
    const auto stored = SnapshotOf(db(), db().dataDir());
    const auto again = Run({late.string()});
    EXPECT_EQ(EndOf(again.output, Summary(0, 0, 0, 0, 0, 2000)), Summary(0, 0, 0, 0, 0, 2000));
    EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stored);
    ExpectStoreHolds(
        {{"ABC", "BHZ", "??", kTen, 20.0, a}, {"ABC", "BHZ", "??", kTen + shift, 20.0, a}});
  }

  StartOver();
  ASSERT_EQ(Run({seedA.string()}).exitCode, 0);
  const auto late = Place("late.seed", PackChannel("ABC", "BHZ", "", kTen + 0.05, 20.0, a));
  const auto result = Run({late.string()});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  long long changed = 0;
  for (std::size_t k = 1; k < a.size(); ++k) changed += a[k - 1] != a[k] ? 1 : 0;
  ASSERT_GT(changed, 1000);
  const std::string end =
      "\rReplaced " + std::to_string(changed) + " stored samples with new values (" + fileA +
      ")\n\rWriting to database - 100%\n\n" + Summary(changed + 1, 1, 0, 0, 1, 1999 - changed);
  EXPECT_EQ(EndOf(result.output, end), end);
  EXPECT_EQ(CountOf(result.output, "Replaced"), 1u);
  EXPECT_EQ(db().Query("select CPATH from FILELIST"),
            (std::vector<Row>{{"ABC/00/21032009-001000-BHZ.ABC"}}));
  EXPECT_DOUBLE_EQ(db().QueryNumber("select TQTY from FILELIST"), 100.05);
  std::vector<std::int32_t> latest = {a[0]};
  latest.insert(latest.end(), a.begin(), a.end());
  ExpectSamples({"ABC", "BHZ", "??", kTen, 20.0, latest});
  const auto again = Run({late.string()});
  EXPECT_EQ(EndOf(again.output, Summary(0, 0, 0, 0, 0, 2000)), Summary(0, 0, 0, 0, 0, 2000));
}

// A file emptied (as a crash or a full disk leaves it), cut inside its header or right after
// it, is restored in place when its data are converted again: one file, one row.
TEST_P(ConversionTest, AFileEmptiedOrCutInsideItsHeaderIsRestoredInPlace) {
  const auto a = RandomWalk(2000, 321, 50);
  const auto seed = Place("a.seed", PackChannel("ABC", "BHZ", "", kTen, 20.0, a));
  const std::string cpath = "ABC/00/21032009-001000-BHZ.ABC";
  const std::string whole =
      Header("00:10:00", "21-03-2009", "000 00 01 40", "20.00", "ABC", "BHZ", "??") + FloatBytes(a);
  for (const int size : {0, 300, 511, 512}) {
    SCOPED_TRACE(size);
    StartOver();
    ASSERT_EQ(Run({seed.string()}).exitCode, 0);
    std::filesystem::resize_file(db().dataDir() / cpath, static_cast<std::uintmax_t>(size));
    const auto result = Run({seed.string()});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("Replaced"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Not continued"), std::string::npos) << result.output;
    EXPECT_EQ(EndOf(result.output, "\n\n" + Summary(2000, 1, 0, 0, 1, 0)),
              "\n\n" + Summary(2000, 1, 0, 0, 1, 0));
    EXPECT_EQ(db().Query("select CPATH, TQTY from FILELIST"),
              (std::vector<Row>{{cpath, db().Query("select TQTY from FILELIST")[0][0]}}));
    EXPECT_DOUBLE_EQ(db().QueryNumber("select TQTY from FILELIST"), 100.0);
    EXPECT_EQ(ReadFile(db().dataDir() / cpath), whole);
    const auto again = Run({seed.string()});
    EXPECT_EQ(EndOf(again.output, Summary(0, 0, 0, 0, 0, 2000)), Summary(0, 0, 0, 0, 0, 2000));
  }

  // Cut after a thousand samples, then corrected data: of the samples it held, the one that
  // changed is replaced; the thousand it lost are restored.
  StartOver();
  ASSERT_EQ(Run({seed.string()}).exitCode, 0);
  std::filesystem::resize_file(db().dataDir() / cpath, 512 + 4 * 1000);
  auto corrected = a;
  corrected[10] += 3;
  corrected[1500] -= 3;
  const auto fixed = Place("fixed.seed", PackChannel("ABC", "BHZ", "", kTen, 20.0, corrected));
  const auto result = Run({fixed.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  const std::string end = "\rReplaced 1 stored samples with new values (" +
                          (db().dataDir() / cpath).string() +
                          ")\n\rWriting to database - 100%\n\n" + Summary(1001, 1, 0, 0, 1, 999);
  EXPECT_EQ(EndOf(result.output, end), end);
  EXPECT_EQ(db().Query("select CPATH from FILELIST"), (std::vector<Row>{{cpath}}));
  ExpectSamples({"ABC", "BHZ", "??", kTen, 20.0, corrected});
}

// Work a rolled-back transaction did is not counted; stored again after the recovery, it is
// counted once.
TEST_P(ConversionTest, TheSummaryCountsOnlyCommittedWorkOnce) {
  const auto mine = RandomWalk(2000, 331, 50);
  const auto theirs = RandomWalk(2000, 332, 50);
  if (GetParam() == DatabaseKind::kSqlite) {
    db().Execute(
        "create trigger refuse_station before insert on FILELIST when new.STA='XYZ' begin "
        "select raise(abort, 'refused'); end");
  } else {
    db().Execute(
        "create function refuse() returns trigger language plpgsql as "
        "$$ begin raise exception 'refused'; end $$");
    db().Execute(
        "create trigger refuse before insert on FILELIST for each row when (new.STA='XYZ') "
        "execute function refuse()");
  }
  // One batch: ABC's file is in the transaction the refused row rolls back.
  const auto seed = Place("two.seed", PackChannel("ABC", "BHZ", "", kTen, 20.0, mine) +
                                          PackChannel("XYZ", "BHZ", "", kTen, 20.0, theirs));
  const auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_NE(result.output.find("\rDB write error (XYZ::BHZ::"), std::string::npos);
  EXPECT_EQ(EndOf(result.output, "\n\n" + Summary(2000, 1, 1, 0, 0, 0)),
            "\n\n" + Summary(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(db().Query("select STA from FILELIST"), (std::vector<Row>{{"ABC"}}));
  ExpectSamples({"ABC", "BHZ", "??", kTen, 20.0, mine});
}

// A channel of one sample every 7 s: pieces are cut on whole samples, each starts at the time
// of its first sample, and every sample lands in one of them. SPS 0.14 places 25 samples within
// half an interval of their times, so no file holds more (the store checker checks it).
TEST_P(ConversionTest, SlowChannelsArePiecedOnWholeSamples) {
  const double rate = 1.0 / 7.0;
  const auto samples = RandomWalk(110, 151, 20);  // 770 s
  ExpectSamples({"ABC", "LHZ", "??", kStart, rate, samples});
  // Converting it again finds every piece stored; a continuation fills the last file first.
  ConvertThenAgain({Place("slow.seed", PackChannel("ABC", "LHZ", "", kStart, rate,
                                                   {samples.begin(), samples.begin() + 90}))});
  ASSERT_EQ(Run({Place("more.seed", PackChannel("ABC", "LHZ", "", kStart + 630.0, rate,
                                                {samples.begin() + 90, samples.end()}))
                     .string()})
                .exitCode,
            0);
  const auto rows = db().Query("select TBEGIN, SPS, TQTY from FILELIST order by TBEGIN");
  ASSERT_EQ(rows.size(), 5u);  // 4 × 25 samples and 10
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NEAR(std::stod(rows[i][0]), kStart + 25.0 * 7.0 * static_cast<double>(i), 1e-4);
    EXPECT_DOUBLE_EQ(std::stod(rows[i][1]), 0.14);
    EXPECT_NEAR(std::stod(rows[i][2]), (i < 4 ? 25.0 : 10.0) / 0.14, 0.005);
  }
}

TEST_P(ConversionTest, ARateTheRowCannotCarryIsRefusedWithItsOwnLine) {
  // One sample every 300 s: SPS "%0.2f" would say 0.00.
  const auto seed = Place(
      "rare.seed", PackChannel("ABC", "LHZ", "", kStart, 1.0 / 300.0, RandomWalk(40, 161, 20)) +
                       PackChannel("ABC", "BHZ", "", kStart, 20.0, RandomWalk(400, 162, 20)));
  const auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_NE(result.output.find("\rSample rate 0.00333333 is below 0.005, not stored "
                               "(ABC::LHZ::?\?)\n\rDB write error (ABC::LHZ::"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(db().Query("select CH from FILELIST"), (std::vector<Row>{{"BHZ"}}));
}

TEST_P(ConversionTest, EverySpellingOfTheDataDirectoryGivesOneStore) {
  const auto samples = RandomWalk(2000, 171, 50);
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, samples});
  const auto seed = Place("one.seed", PackChannel("ABC", "BHZ", "", kStart, 20.0, samples));
  const std::string dir = db().dataDir().string();
  std::string backslashes = dir + "\\";
  std::replace(backslashes.begin(), backslashes.end(), '/', '\\');
  ASSERT_EQ(Run({seed.string(), "DATA=" + dir + "/"}).exitCode, 0);
  EXPECT_EQ(db().Query("select CPATH from FILELIST"),
            (std::vector<Row>{{"ABC/13/21032009-130500-BHZ.ABC"}}));
  const auto stored = SnapshotOf(db(), db().dataDir());
  for (const std::string& spelling : {dir + "//./", backslashes, dir}) {
    SCOPED_TRACE(spelling);
    ASSERT_EQ(Run({seed.string(), "DATA=" + spelling}).exitCode, 0);
    EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stored);
  }
}

// A data directory set as a network share ("//srv/qor" or "\\\\srv\\qor") keeps each file's full
// path in CPATH; the store finds and continues its files by that path in either spelling.
TEST_P(ConversionTest, ANetworkShareDataDirectoryKeepsFullPathsInCpath) {
  const auto first = RandomWalk(2000, 175, 50);
  const auto second = RandomWalk(1000, 176, 50);
  std::vector<std::int32_t> both = first;
  both.insert(both.end(), second.begin(), second.end());
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, both});
  const std::string share = "/" + db().dataDir().generic_string();
  std::string backslashes = share;
  std::replace(backslashes.begin(), backslashes.end(), '/', '\\');
  const auto seed = Place("one.seed", PackChannel("ABC", "BHZ", "", kStart, 20.0, first));
  const auto later =
      Place("later.seed", PackChannel("ABC", "BHZ", "", kStart + 100.0, 20.0, second));
  const std::string cpath = share + "/ABC/13/21032009-130500-BHZ.ABC";

  auto result = Run({seed.string(), "DATA=" + share});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(db().Query("select CPATH from FILELIST"), (std::vector<Row>{{cpath}}));
  // The next piece continues the file, the directory spelled with backslashes.
  result = Run({later.string(), "DATA=" + backslashes});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(EndOf(result.output, Summary(1000, 1, 0, 1, 0, 0)), Summary(1000, 1, 0, 1, 0, 0));
  const auto rows = db().Query("select CPATH, TQTY from FILELIST");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], cpath);
  EXPECT_DOUBLE_EQ(std::stod(rows[0][1]), 150.0);
  const auto stored = SnapshotOf(db(), db().dataDir());
  ASSERT_EQ(Run({seed.string(), "DATA=" + share + "/"}).exitCode, 0);
  EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stored);
}

// An empty data directory is the working folder, for files, CPATH and the channel locks alike.
TEST_P(ConversionTest, NoDataDirectoryIsTheWorkingFolder) {
  const auto samples = RandomWalk(2000, 181, 50);
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, samples});
  const auto seed = db().folder() / "one.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart, 20.0, samples));
  WriteFile(programDir() / "tarnvel.ini", "[DATABASE]\nODBC=" + db().dsn() + "\nUSER=" +
                                              db().user() + "\nPASSWORD=" + db().password() + "\n");
  WriteFile(programDir() / "qor.ini", "[DATA]\nDIR=\n");
  const auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(db().Query("select CPATH from FILELIST"),
            (std::vector<Row>{{"ABC/13/21032009-130500-BHZ.ABC"}}));
  EXPECT_TRUE(std::filesystem::exists(work().path() / "ABC/13/21032009-130500-BHZ.ABC"));
  CheckStore(db(), work().path());
}

// Channels long enough to have their data files written while the file is still being read.
struct LongChannels {
  std::vector<std::vector<std::int32_t>> samples;
  std::string bytes;  // their records side by side
};

LongChannels MakeLongChannels(std::size_t count, std::size_t length) {
  LongChannels out;
  std::vector<std::string> packed;
  const char* const names[] = {"BHZ", "BHN", "BHE"};
  for (std::size_t c = 0; c < count; ++c) {
    out.samples.push_back(RandomWalk(length, static_cast<std::uint32_t>(c + 3), 200));
    packed.push_back(
        PackChannel("ABC", names[c % 3], "00", kStart, 100.0, out.samples.back(), 4096));
  }
  out.bytes = InterleaveRecords(packed, 4096);
  return out;
}

TEST_P(ConversionTest, LongChannelsGiveWholeCssFilesAlsoBesideThoseOfAnEarlierRun) {
  const LongChannels channels = MakeLongChannels(3, 300000);
  const auto seed = Place("long.seed", channels.bytes + PackChannel("ABC", "LHZ", "00", kStart, 1.0,
                                                                    RandomWalk(60, 9, 5), 4096));
  const auto css = work().path() / "css";
  std::filesystem::create_directories(css);
  std::map<std::string, std::string> firstRun;  // data files by name
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    const auto result = Run({seed.string(), "CSS=" + css.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(result.output.ends_with(
        "\rWriting to CSS-file - 25%\rWriting to CSS-file - 50%\rWriting to CSS-file - 75%"
        "\rWriting to CSS-file - 100%\rWriting to CSS-file - 100%\n\n"
        "Wrote 4 wfdisc lines and 4 data files (900060 samples) to " +
        (css / "long.seed.wfdisc").string() + "\n"))
        << result.output;
    // The second run's data files take the next free names, its lines follow the first's.
    const auto lines = Lines(ReadFile(css / "long.seed.wfdisc"));
    ASSERT_EQ(lines.size(), 4u * static_cast<std::size_t>(run));
    for (std::size_t c = 0; c < 4; ++c) {
      const auto fields = WfdiscFields(lines[lines.size() - 4 + c]);
      const std::string name = fields[kWfdiscDfile];
      EXPECT_EQ(name.ends_with("-1.w"), run == 2) << name;
      const std::string bytes = ReadFile(css / name);
      EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), 4 * std::stoll(fields[kWfdiscNsamp]));
      if (c < 3) {
        EXPECT_EQ(bytes, FloatBytes(channels.samples[c]));
      }
      if (run == 1) firstRun[name] = bytes;
    }
  }
  for (const auto& [name, bytes] : firstRun) EXPECT_EQ(ReadFile(css / name), bytes) << name;
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(css)) ++files;
  EXPECT_EQ(files, 9u);
}

TEST_P(ConversionTest, ExhaustedMemoryEndsWithTheReadErrorAndLeavesNoCssFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a limit of the address space cannot hold under AddressSanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "a limit of the address space cannot hold under AddressSanitizer";
#endif
#endif
  // 24 MiB of samples whose data files are being written when memory runs out.
  const LongChannels channels = MakeLongChannels(3, 2000000);
  const auto seed = Place("big.seed", channels.bytes);
  const auto css = work().path() / "css";
  std::filesystem::create_directories(css);
  // Address-space limits rising in steps of 4 MiB, up to the first that is enough: every run
  // that gets as far as reading runs out of memory there, the later ones with data files being
  // written already.
  const std::string last = "\rFile read error (" + seed.string() + "): Cannot allocate memory\n";
  bool lateFailure = false;
  for (int mib = 8; mib <= 1024; mib += 4) {
    const auto result = RunScript("ulimit -v " + std::to_string(mib * 1024) + "; exec \"$@\"",
                                  {seed.string(), "CSS=" + css.string()});
    if (result.output.find("Converting File") == std::string::npos) continue;
    if (result.exitCode == 0) break;
    SCOPED_TRACE(mib);
    EXPECT_EQ(result.exitCode, Code(-3));
    ASSERT_GE(result.output.size(), last.size()) << result.output;
    EXPECT_EQ(result.output.substr(result.output.size() - last.size()), last) << result.output;
    EXPECT_TRUE(std::filesystem::is_empty(css));
    lateFailure = lateFailure || result.output.find("Converting File - 50%") != std::string::npos;
  }
  EXPECT_TRUE(lateFailure) << "no run ran out of memory in the second half of the file";
}

// Samples beyond the memory a run keeps are held in files while the input is read. A tiny bound
// (test-only TARNVEL_TEST_STAGE_FROM) puts nearly every sample there: new files, appends,
// conversions again, replaced samples and CSS data files come out exactly as from memory, with
// unnamed files and with temporary files where no unnamed ones can be made, and nothing is left
// in the temporary folder. With unnamed files each hour piece that becomes a new file is the file
// staged while reading, linked at its staged name (also where a killed run left one there).
TEST_P(ConversionTest, SamplesHeldInFilesWhileReadingAreStoredAsFromMemory) {
  const LongChannels first = MakeLongChannels(3, 90000);
  std::vector<std::string> onwardRecords;
  std::vector<std::vector<std::int32_t>> whole;
  const char* const names[] = {"BHZ", "BHN", "BHE"};
  for (std::size_t c = 0; c < 3; ++c) {
    const auto onward =
        RandomWalk(12000, static_cast<std::uint32_t>(c + 30), 200, first.samples[c].back());
    onwardRecords.push_back(
        PackChannel("ABC", names[c], "00", kStart + 900.0 * 5, 20.0, onward, 4096));
    whole.push_back(first.samples[c]);
    whole.back().insert(whole.back().end(), onward.begin(), onward.end());
  }
  // MakeLongChannels packs at 100 sps; these channels are at 20 sps.
  std::vector<std::string> firstRecords;
  for (std::size_t c = 0; c < 3; ++c) {
    firstRecords.push_back(
        PackChannel("ABC", names[c], "00", kStart, 20.0, first.samples[c], 4096));
  }
  const auto a = Place("a.seed", InterleaveRecords(firstRecords, 4096));
  const auto b = Place("b.seed", InterleaveRecords(onwardRecords, 4096));
  auto corrected = first.samples[0];
  corrected[70000] += 5;
  firstRecords[0] = PackChannel("ABC", "BHZ", "00", kStart, 20.0, corrected, 4096);
  const auto fixed = Place("fixed.seed", InterleaveRecords(firstRecords, 4096));
  whole[0][70000] += 5;

  const auto temporary = work().path() / "tmp";
  std::filesystem::create_directories(temporary);
  for (const char* unnamed : {"0", "1"}) {
    SCOPED_TRACE(std::string("no unnamed files: ") + unnamed);
    StartOver();
    const std::map<std::string, std::string> variables = {
        {"TARNVEL_TEST_STAGE_FROM", "300"},
        {"TARNVEL_TEST_NO_UNNAMED_FILES", unnamed},
        {"TMPDIR", temporary.string()}};
    // A killed run's staged file where the second hour piece of BHN is to be staged.
    const auto stale = db().dataDir() / "ABC/14/.21032009-140500-BHN.ABC.new";
    std::filesystem::create_directories(stale.parent_path());
    WriteFile(stale, "left behind by a killed run");
    const auto trace = work().path() / (std::string("trace") + unnamed);
    auto traced = variables;
    const char* asan = std::getenv("ASAN_OPTIONS");
    traced["LD_PRELOAD"] = TARNVEL_KILL_AT_LIBRARY;
    traced["KILL_AT_TRACE"] = trace.string();
    traced["ASAN_OPTIONS"] = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    const auto stored = Run({a.string()}, traced);
    ASSERT_EQ(stored.exitCode, 0) << stored.output;
    EXPECT_EQ(EndOf(stored.output, Summary(270000, 6, 6, 0, 0, 0)), Summary(270000, 6, 6, 0, 0, 0));
    EXPECT_FALSE(std::filesystem::exists(stale));
    // Staged names linked (the stale one tried twice: refused, then linked once it was gone).
    std::set<std::string> linked;
    for (const std::string& line : Lines(ReadFile(trace))) {
      if (line.starts_with("link ") && line.ends_with(".ABC.new")) {
        linked.insert(line.substr(line.rfind(' ') + 1));
      }
    }
    EXPECT_EQ(linked.size(), std::strcmp(unnamed, "0") == 0 ? 6u : 0u) << ReadFile(trace);
    if (std::strcmp(unnamed, "0") == 0) {
      EXPECT_EQ(linked.count(stale.string()), 1u);
    }
    const auto continued = Run({b.string()}, variables);
    EXPECT_EQ(EndOf(continued.output, Summary(36000, 3, 0, 3, 0, 0)),
              Summary(36000, 3, 0, 3, 0, 0));
    const auto before = SnapshotOf(db(), db().dataDir());
    const auto again = Run({a.string()}, variables);
    EXPECT_EQ(EndOf(again.output, Summary(0, 0, 0, 0, 0, 270000)), Summary(0, 0, 0, 0, 0, 270000));
    EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == before);
    const auto replaced = Run({fixed.string()}, variables);
    EXPECT_NE(
        replaced.output.find("\rReplaced 1 stored samples with new values (" +
                             (db().dataDir() / "ABC/13/21032009-130500-BHZ.ABC").string() + ")\n"),
        std::string::npos)
        << replaced.output;
    EXPECT_EQ(EndOf(replaced.output, Summary(1, 1, 0, 0, 1, 269999)),
              Summary(1, 1, 0, 0, 1, 269999));
    std::vector<ExpectedChannel> expected;
    for (std::size_t c = 0; c < 3; ++c) {
      expected.push_back({"ABC", names[c], "00", kStart, 20.0, whole[c]});
    }
    ExpectStoreHolds(expected);

    const auto css = work().path() / (std::string("css") + unnamed);
    std::filesystem::create_directories(css);
    const auto written = Run({fixed.string(), "CSS=" + css.string()}, variables);
    ASSERT_EQ(written.exitCode, 0) << written.output;
    const auto lines = Lines(ReadFile(css / "fixed.seed.wfdisc"));
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t c = 0; c < 3; ++c) {
      const std::vector<std::int32_t> samples(whole[c].begin(), whole[c].begin() + 90000);
      EXPECT_EQ(ReadFile(css / WfdiscFields(lines[c])[kWfdiscDfile]), FloatBytes(samples)) << c;
    }
    EXPECT_TRUE(std::filesystem::is_empty(temporary));
  }
  for (std::size_t c = 0; c < 3; ++c) {
    ExpectSamples({"ABC", names[c], "00", kStart, 20.0, whole[c]});
  }
}

// A run killed at any write while its samples are being held in files (or written into data
// files not yet named) leaves nothing of them: no temporary file, and, killed while reading, no
// data file and no row; a conversion into the store killed at any point is completed by
// converting again.
TEST_P(ConversionTest, ARunKilledWhileHoldingSamplesInFilesLeavesNoTraceOfThem) {
  const LongChannels channels = MakeLongChannels(3, 30000);
  const auto seed = Place("long.seed", channels.bytes);
  const auto temporary = work().path() / "tmp";
  const auto css = work().path() / "css";
  const auto counted = work().path() / "count.txt";
  std::filesystem::create_directories(temporary);
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::map<std::string, std::string> variables = {
      {"TARNVEL_TEST_STAGE_FROM", "300"},
      {"TMPDIR", temporary.string()},
      {"LD_PRELOAD", TARNVEL_KILL_AT_LIBRARY},
      {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"}};
  for (const bool toCss : {false, true}) {
    SCOPED_TRACE(toCss ? "CSS" : "store");
    std::vector<std::string> args{seed.string()};
    if (toCss) args.push_back("CSS=" + css.string());
    variables.erase("KILL_AT_CALL");
    // Counted as the killed runs find the store: its lock folder made by a run before.
    std::filesystem::create_directories(css);
    if (!toCss) {
      // Counted from where every killed run starts: the store emptied, the lock folder an
      // earlier run made left in place (making it is a change of its own).
      ASSERT_EQ(Run(args, variables).exitCode, 0);
      StartOver();
    }
    ASSERT_EQ(Run(args, variables).exitCode, 0);
    StartOver();
    std::filesystem::remove_all(css);
    std::filesystem::create_directories(css);
    variables["KILL_AT_COUNT"] = counted.string();
    ASSERT_EQ(Run(args, variables).exitCode, 0);
    const long calls = std::stol(ReadFile(counted));
    ASSERT_GT(calls, 20);
    variables.erase("KILL_AT_COUNT");
    for (long at = 1; at <= calls; at += std::max(1L, calls / 15)) {
      SCOPED_TRACE("killed before change " + std::to_string(at) + " of " + std::to_string(calls));
      StartOver();
      std::filesystem::remove_all(css);
      std::filesystem::create_directories(css);
      variables["KILL_AT_CALL"] = std::to_string(at);
      const auto killed = Run(args, variables);
      ASSERT_EQ(killed.exitCode, -1000) << killed.output;
      EXPECT_TRUE(std::filesystem::is_empty(temporary));
      if (killed.output.find("\rWriting to") == std::string::npos) {
        // Killed while reading: nothing can be seen yet, not even in the data directory that
        // the hour pieces were staged in (only the lock files of the run before).
        EXPECT_TRUE(std::filesystem::is_empty(css));
        EXPECT_EQ(StoredFiles(db()).size(), 0u);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(db().dataDir())) {
          if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().parent_path().filename(), ".lock") << entry.path();
          }
        }
      }
      if (!toCss) {
        // What the kill left is settled by converting again: every sample stored once.
        variables.erase("KILL_AT_CALL");
        ASSERT_EQ(Run(args, variables).exitCode, 0);
        EXPECT_TRUE(std::filesystem::is_empty(temporary));
        std::vector<ExpectedChannel> expected;
        const char* const names[] = {"BHZ", "BHN", "BHE"};
        for (std::size_t c = 0; c < 3; ++c) {
          expected.push_back({"ABC", names[c], "00", kStart, 100.0, channels.samples[c]});
        }
        ExpectStoreHolds(expected);
      }
    }
  }
  StartOver();
}

TARNVEL_DATABASE_TEST_SUITE(ConversionTest);

}  // namespace
}  // namespace tarnvel::testing
