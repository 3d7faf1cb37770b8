// The converter from its entry to its end on generated and real SEED files: record length
// detection, the information mode with its SITECHAN warnings, the reading progress, the CSS
// path rules and the return codes; modern (quality M) records, miniSEED 3 records and files that
// mix both versions, damaged records and encodings the converter does not decode, input through
// pipes and FIFOs, and endless input without records.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/converter_fixture.h"
#include "tests/e2e/seed_builders.h"
#include "tests/e2e/store_checks.h"
#include "tests/seed/record_builder.h"
#include "tests/support/mseed3_writer.h"
#include "tests/support/mseed_pack.h"
#include "tests/support/wfdisc_text.h"

namespace tarnvel::testing {
namespace {

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC

std::string OneChannel(int recordLength, bool bigEndian, std::size_t count = 5000,
                       double rate = 20.0, const std::string& location = "00") {
  PackFields fields = ChannelFields("ABC", "BHZ", location, kStart, rate, recordLength);
  fields.encoding = kEncodingSteim2;
  fields.bigEndian = bigEndian;
  const auto samples = RandomWalk(count, 7, 300);
  return PackRecords(fields, samples);
}

std::string Format(const char* format, double a, double b) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// The reading phase's progress lines for `percents`, in this order.
std::string ConvertingLines(std::initializer_list<int> percents) {
  std::string out;
  for (const int percent : percents) {
    char line[40];
    std::snprintf(line, sizeof line, "\rConverting File - %02d%%", percent);
    out += line;
  }
  return out;
}

// Each channel's samples as the reference decoder gives them, as stored floats, by
// "STA.CH.LCODE" ("??" for a blank location).
std::map<std::string, std::string> ReferenceByChannel(
    const std::vector<ReferenceChannel>& channels) {
  std::map<std::string, std::string> out;
  for (const auto& c : channels) {
    out[c.station + "." + c.channel + "." + (c.location.empty() ? "??" : c.location)] =
        FloatBytes(c.values);
  }
  return out;
}

// The contents of the .w files a wfdisc file names, line by line (they lie beside it).
std::vector<std::string> CssDataFiles(const std::filesystem::path& wfdisc) {
  std::vector<std::string> out;
  std::istringstream lines(ReadFile(wfdisc));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string dfile;
    for (std::string word; words >> word;) {
      if (word.ends_with(".w")) dfile = word;
    }
    out.push_back(dfile.empty() ? std::string() : ReadFile(wfdisc.parent_path() / dfile));
  }
  return out;
}

std::vector<std::string> ReferenceInOrder(const std::vector<ReferenceChannel>& channels) {
  std::vector<std::string> out;
  for (const auto& c : channels) out.push_back(FloatBytes(c.values));
  return out;
}

// The same data as SEED 2 and as miniSEED 3 records. The 3-channel pair's miniSEED 3 starts hold
// the microseconds its SEED 2 records keep in a blockette 1001 (which the converter leaves
// aside there): its wfdisc times differ by those.
struct VersionPair {
  const char* seed2;
  const char* mseed3;
  double timeTolerance;
};
constexpr VersionPair kVersionPairs[] = {
    {"reference-testdata-steim1.mseed2", "reference-testdata-steim1.mseed3", 0.0},
    {"reference-testdata-steim2.mseed2", "reference-testdata-steim2.mseed3", 0.0},
    {"reference-testdata-int16.mseed2", "reference-testdata-int16.mseed3", 0.0},
    {"reference-testdata-int32.mseed2", "reference-testdata-int32.mseed3", 0.0},
    {"reference-testdata-float32.mseed2", "reference-testdata-float32.mseed3", 0.0},
    {"reference-testdata-float64.mseed2", "reference-testdata-float64.mseed3", 0.0},
    {"testdata-3channel-signal.mseed2", "testdata-3channel-signal.mseed3", 1e-4},
};

// Two wfdisc files name the same segments alike apart from their load dates, their times
// within `tolerance` seconds.
void ExpectSameWfdiscLines(const std::string& a, const std::string& b, double tolerance) {
  const auto linesA = Lines(a);
  const auto linesB = Lines(b);
  ASSERT_EQ(linesA.size(), linesB.size());
  for (std::size_t i = 0; i < linesA.size(); ++i) {
    auto fieldsA = WfdiscFieldsWithoutLoadDate(linesA[i]);
    auto fieldsB = WfdiscFieldsWithoutLoadDate(linesB[i]);
    ASSERT_EQ(fieldsA.size(), 19u);
    ASSERT_EQ(fieldsB.size(), 19u);
    for (const std::size_t time : {kWfdiscTime, kWfdiscEndTime}) {
      EXPECT_NEAR(std::stod(fieldsA[time]), std::stod(fieldsB[time]), tolerance) << linesA[i];
      if (tolerance == 0.0) {
        EXPECT_EQ(fieldsA[time], fieldsB[time]);
      }
      fieldsA[time] = fieldsB[time];
    }
    EXPECT_EQ(fieldsA, fieldsB) << linesA[i] << "\n" << linesB[i];
  }
}

// A miniSEED 3 record with one thing changed on purpose, its CRC made to match again.
std::string Changed(std::span<const std::uint8_t> record, std::size_t at, std::uint8_t value) {
  std::vector<std::uint8_t> bytes(record.begin(), record.end());
  bytes[at] = value;
  SetMseed3Crc(bytes);
  return AsText(bytes);
}

// Bash scripts that hand the SEED file "$2" to the program "$1", with the arguments after them,
// through input that cannot be sought.
struct Feed {
  const char* name;
  const char* script;
};
constexpr Feed kFeeds[] = {
    {"process substitution", R"(p=$1 f=$2; shift 2; exec "$p" <(cat "$f") "$@")"},
    {"pipe on standard input", R"(p=$1 f=$2; shift 2; cat "$f" | "$p" /dev/stdin "$@")"},
    {"FIFO fed slowly, 1000 bytes at a time",
     R"(p=$1 f=$2; shift 2; rm -f fifo.seed; mkfifo fifo.seed
        size=$(stat -c %s "$f")
        for ((at = 0; at < size; at += 1000)); do
          dd if="$f" bs=1000 skip=$((at / 1000)) count=1 status=none; sleep 0.002
        done >fifo.seed &
        "$p" fifo.seed "$@"; code=$?
        kill $! 2>/dev/null; wait; rm -f fifo.seed; exit $code)"},
};

class ReadingPhaseTest : public ConverterTest {
 protected:
  // Empties FILELIST and the data directory, so that a run is judged by what it stores itself.
  void EmptyStore() {
    db().Execute("delete from FILELIST");
    std::filesystem::remove_all(db().dataDir());
    std::filesystem::create_directories(db().dataDir());
  }
};

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
  PackFields other;
  other.station = "DEF";
  other.channel = "HHZ";
  other.startEpoch = kStart + 10;
  other.sampleRate = 100.0;
  other.recordLength = 512;
  PackFields third = other;
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

  // The entry is read from its leading digits, as the C library's atoi reads it: "512abc" is
  // 512; one without digits is 0, which reads nothing; -1 asks for detection.
  const std::string listed = "ABC::BHZ::00" + Format(" %.2f - %.2f", kStart, kStart + 50.0) +
                             " 20\nNot found in SITECHAN: ABC::BHZ::00\n";
  const std::pair<const char*, std::string> entries[] = {
      {"512", listed},
      {"512abc", listed},
      {"abc", "\rWriting to database - 100%\n\n"},
      {"-1", "\rWriting to database - 100%\n\n"},
  };
  for (const auto& [entry, output] : entries) {
    WriteIni(std::string("[SYSTEM]\nBLOCK_SIZE=") + entry + "\n");
    const auto result = Run({seed.string(), "-i"});
    EXPECT_EQ(result.exitCode, 0) << entry;
    EXPECT_EQ(result.output, output) << entry;
  }
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

TEST_P(ReadingPhaseTest, ModernDataRecordsAreListedAndConvertedBothWays) {
  // Quality indicator M in every record, as FDSN data centres deliver data today.
  const auto path = TestData("testdata-3channel-signal.mseed2");
  const auto channels = DecodeChannels(ReadFile(path), 512);
  ASSERT_EQ(channels.size(), 3u);
  std::string listing;
  std::string warnings;
  for (const auto& c : channels) {
    listing += "COLA::" + c.channel + "::00" +
               Format(" %.2f - %.2f", c.start, c.start + static_cast<double>(c.samples.size())) +
               " 1\n";
    warnings += "Not found in SITECHAN: COLA::" + c.channel + "::00\n";
  }
  const auto listed = Run({path.string(), "-i"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(listed.output, listing + warnings);

  const auto stored = Run({path.string()});
  EXPECT_EQ(stored.exitCode, 0) << stored.output;
  EXPECT_EQ(StoreProblems(StoredFiles(db()), db().dataDir()), std::vector<std::string>{});
  EXPECT_EQ(StoredSamplesByChannel(db()), ReferenceByChannel(channels));

  const auto wfdisc = work().path() / "modern.wfdisc";
  const auto css = Run({path.string(), "CSS=" + wfdisc.string()});
  EXPECT_EQ(css.exitCode, 0) << css.output;
  EXPECT_EQ(CssDataFiles(wfdisc), ReferenceInOrder(channels));
}

TEST_P(ReadingPhaseTest, ALogChannelsTextIsNeitherListedNorStored) {
  // A data centre's answer to a wildcard request holds the station's LOG channel: records of
  // encoding 0 and no sample rate whose data area carries text.
  const std::string waveform = OneChannel(512, true, 1000);
  PackFields fields;
  fields.station = "ABC";
  fields.channel = "LOG";
  fields.location = "00";
  fields.startEpoch = kStart;
  fields.sampleRate = 1.0;
  fields.encoding = kEncodingSteim2;
  fields.bigEndian = true;
  fields.recordLength = 512;
  std::string log = PackRecords(fields, RandomWalk(10, 3, 5)).substr(0, 512);
  const std::string text = "Clock locked to GPS\n";
  log[30] = 0;
  log[31] = static_cast<char>(text.size());
  for (int at = 32; at < 36; ++at) log[static_cast<std::size_t>(at)] = 0;  // no rate
  log[52] = 0;                                                             // encoding 0: text
  const auto data = static_cast<std::size_t>(static_cast<unsigned char>(log[44]) << 8 |
                                             static_cast<unsigned char>(log[45]));
  log.replace(data, text.size(), text);
  const auto path = work().path() / "with_log.mseed";
  WriteFile(path, log + waveform);

  const auto listed = Run({path.string(), "-i"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(CountOf(listed.output, "::LOG::"), 0u) << listed.output;
  EXPECT_EQ(CountOf(listed.output, "ABC::BHZ::00 "), 1u) << listed.output;

  const auto stored = Run({path.string()});
  EXPECT_EQ(stored.exitCode, 0) << stored.output;
  EXPECT_EQ(CountOf(stored.output, "Incorrect encoding format"), 0u) << stored.output;
  const auto files = StoredFiles(db());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].channel, "BHZ");
  ExpectFilesHoldTheirRows(files, db().dataDir());
}

TEST_P(ReadingPhaseTest, BothVersionsOfTheSameDataGiveOneStore) {
  for (const VersionPair& pair : kVersionPairs) {
    SCOPED_TRACE(pair.mseed3);
    const auto seed2 = TestData(pair.seed2);
    const auto mseed3 = TestData(pair.mseed3);
    const auto reference = DecodeChannels(ReadFile(seed2), 512);
    std::vector<StoreSnapshot> stores;
    for (const auto& [first, second] : {std::pair(seed2, mseed3), std::pair(mseed3, seed2)}) {
      EmptyStore();
      const auto result = Run({first.string()});
      ASSERT_EQ(result.exitCode, 0) << result.output;
      EXPECT_EQ(CountOf(result.output, "Ignored"), 0u) << result.output;
      EXPECT_EQ(StoredSamplesByChannel(db()), ReferenceByChannel(reference));
      ExpectFilesHoldTheirRows(StoredFiles(db()), db().dataDir());
      stores.push_back(SnapshotOf(db(), db().dataDir()));
      // The same data once more in the other version: stored already, nothing changes.
      ASSERT_EQ(Run({second.string()}).exitCode, 0);
      EXPECT_TRUE(SnapshotOf(db(), db().dataDir()) == stores.back());
    }
    EXPECT_TRUE(WithoutLoadDates(stores[0]) == WithoutLoadDates(stores[1]));

    // Each in a folder of its own: data files are never overwritten, so a second one of the
    // same name would get another.
    std::filesystem::remove_all(work().path() / "seed2");
    std::filesystem::remove_all(work().path() / "mseed3");
    std::filesystem::create_directory(work().path() / "seed2");
    std::filesystem::create_directory(work().path() / "mseed3");
    const auto wfdisc2 = work().path() / "seed2" / "out.wfdisc";
    const auto wfdisc3 = work().path() / "mseed3" / "out.wfdisc";
    ASSERT_EQ(Run({seed2.string(), "CSS=" + wfdisc2.string()}).exitCode, 0);
    ASSERT_EQ(Run({mseed3.string(), "CSS=" + wfdisc3.string()}).exitCode, 0);
    ExpectSameWfdiscLines(ReadFile(wfdisc2), ReadFile(wfdisc3), pair.timeTolerance);
    EXPECT_EQ(CssDataFiles(wfdisc3), ReferenceInOrder(reference));
    EXPECT_EQ(CssDataFiles(wfdisc3), CssDataFiles(wfdisc2));
  }
}

TEST_P(ReadingPhaseTest, Mseed3RecordsAreListedWindowedAndFilteredAsSeed2Records) {
  const auto seed2 = TestData("testdata-3channel-signal.mseed2");
  const auto mseed3 = TestData("testdata-3channel-signal.mseed3");
  const auto listed = Run({mseed3.string(), "-i"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(listed.output, Run({seed2.string(), "-i"}).output);
  EXPECT_EQ(CountOf(listed.output, "COLA::LH"), 6u) << listed.output;

  // 07:00 to 07:20 of LHZ alone: its records that reach into those twenty minutes, whole.
  const std::vector<std::string> selection = {"BEG=07:00:00-27.02.2010", "END=07:20:00-27.02.2010",
                                              "COLA:LHZ:00"};
  std::vector<StoreSnapshot> stores;
  for (const auto& path : {seed2, mseed3}) {
    EmptyStore();
    std::vector<std::string> args{path.string()};
    args.insert(args.end(), selection.begin(), selection.end());
    ASSERT_EQ(Run(args).exitCode, 0);
    const auto files = StoredFiles(db());
    ASSERT_FALSE(files.empty());
    for (const StoredFile& file : files) EXPECT_EQ(file.channel, "LHZ");
    EXPECT_LE(files.front().begin, 1267254000.0);                         // 07:00
    EXPECT_GE(files.back().begin + files.back().quantity, 1267255200.0);  // 07:20
    stores.push_back(WithoutLoadDates(SnapshotOf(db(), db().dataDir())));
  }
  EXPECT_TRUE(stores[0] == stores[1]);
}

TEST_P(ReadingPhaseTest, MixedVersionsAreReadRecordByRecordAndWhatIsNotConvertedIsReported) {
  // SEED 2 and miniSEED 3 records in one file, and among them: a miniSEED 3 record whose CRC
  // fails, two whose length fields are damaged (one a little, one claiming 16 MiB more), one
  // of an encoding the converter does not decode, one whose identifier names no safe code, and
  // a SEED 2 record of the retired 24-bit encoding.
  // 4096-byte SEED 2 records first (the reading length), 512-byte ones after the miniSEED 3
  // records.
  const std::string cer = ReadFile(TestData("2005-07-23-1452-04S.CER___030.mseed"));
  const std::string three = ReadFile(TestData("testdata-3channel-signal.mseed3"));
  std::string bgld = ReadFile(TestData("BW.BGLD.__.EHE.D.2008.001.first_10_records"));
  const std::string int16 = ReadFile(TestData("reference-testdata-int16.mseed3"));
  const auto records = Mseed3Records(three);
  ASSERT_EQ(records.size(), 107u);

  std::string damaged = cer;
  std::string clean = cer;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string record =
        AsText(std::vector<std::uint8_t>(records[i].begin(), records[i].end()));
    std::string changed = record;
    switch (i) {
      case 1:
        changed[record.size() - 100] ^= 0x01;  // payload: the CRC fails
        break;
      case 3:
        changed[36] ^= 0x40;  // payload length
        break;
      case 40:
        changed[39] ^= 0x01;  // payload length beyond 16 MiB
        break;
      case 5:
        changed = Changed(records[i], 15, 19);  // Steim3
        break;
      case 7:
        changed = Changed(records[i], 49, '/');  // "FDSN:IU_C/LA_00_L_H_1"
        break;
      default:
        clean += record;
    }
    damaged += changed;
  }
  std::string bgldClean = bgld;
  bgld[2 * 512 + 52] = 2;  // the third record: 24-bit integers
  bgldClean.erase(2 * 512, 512);
  damaged += bgld + int16;
  clean += bgldClean + int16;

  const auto damagedFile = Place("damaged.mseed", damaged);
  const auto cleanFile = Place("clean.mseed", clean);
  const auto result = Run({damagedFile.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  const std::string ignored =
      "\n\nIgnored 1 records whose station, channel or location code cannot be part of a file "
      "name\n"
      "Ignored 3 damaged miniSEED 3 records (CRC or length wrong)\n"
      "Ignored 1 records of encoding 2 (24-bit integers), which the converter does not decode\n"
      "Ignored 1 records of encoding 19 (Steim3), which the converter does not decode\n"
      "\rWriting to database - ";
  EXPECT_EQ(CountOf(result.output, ignored), 1u) << result.output;
  const StoreSnapshot stored = WithoutLoadDates(SnapshotOf(db(), db().dataDir()));
  ExpectFilesHoldTheirRows(StoredFiles(db()), db().dataDir());

  // The same store as the file without those records gives: nothing else was lost.
  EmptyStore();
  const auto cleanResult = Run({cleanFile.string()});
  EXPECT_EQ(CountOf(cleanResult.output, "Ignored"), 0u) << cleanResult.output;
  EXPECT_TRUE(WithoutLoadDates(SnapshotOf(db(), db().dataDir())) == stored);
  // The listing reads them alike.
  EXPECT_EQ(Run({damagedFile.string(), "-i"}).output, Run({cleanFile.string(), "-i"}).output);
}

TEST_P(ReadingPhaseTest, InputThatCannotBeSoughtIsReadInFullInEveryMode) {
  // SEED 2 records of 4096 bytes, and miniSEED 3 records (checked against the same data as SEED
  // 2 records).
  struct Input {
    const char* file;
    const char* reference;
    int referenceLength;
  };
  for (const Input& input :
       {Input{"2005-07-23-1452-04S.CER___030.mseed", "2005-07-23-1452-04S.CER___030.mseed", 4096},
        Input{"testdata-3channel-signal.mseed3", "testdata-3channel-signal.mseed2", 512}}) {
    SCOPED_TRACE(input.file);
    const auto path = TestData(input.file);
    const auto channels =
        DecodeChannels(ReadFile(TestData(input.reference)), input.referenceLength);
    ASSERT_EQ(channels.size(), 3u);
    const auto fromFile = Run({path.string(), "-i"});
    ASSERT_EQ(CountOf(fromFile.output, "Not found in SITECHAN"), 3u) << fromFile.output;

    for (const Feed& feed : kFeeds) {
      SCOPED_TRACE(feed.name);
      const auto listed = RunScript(feed.script, {path.string(), "-i"});
      EXPECT_EQ(listed.exitCode, 0);
      EXPECT_EQ(listed.output, fromFile.output);

      // Without a size there is no share to show while reading: only the 100% at the end.
      EmptyStore();
      const auto stored = RunScript(feed.script, {path.string()});
      EXPECT_EQ(stored.exitCode, 0) << stored.output;
      EXPECT_EQ(stored.output.rfind("\rConverting File - 100%\n\n\rWriting to database - ", 0), 0u)
          << stored.output;
      EXPECT_EQ(StoreProblems(StoredFiles(db()), db().dataDir()), std::vector<std::string>{});
      EXPECT_EQ(StoredSamplesByChannel(db()), ReferenceByChannel(channels));

      const auto wfdisc = work().path() / "fed.wfdisc";
      std::filesystem::remove(wfdisc);
      const auto css = RunScript(feed.script, {path.string(), "CSS=" + wfdisc.string()});
      EXPECT_EQ(css.exitCode, 0) << css.output;
      EXPECT_EQ(CssDataFiles(wfdisc), ReferenceInOrder(channels));
    }
  }
}

TEST_P(ReadingPhaseTest, RecordsOfOtherLengthsInOneFileAreAllRead) {
  // Files of 4096-, 512- and 256-byte records put together, as data of several data centres
  // often is: every record counts, whichever length comes first.
  struct Part {
    PackFields fields;
    std::size_t count;
  };
  std::vector<Part> parts(3);
  parts[0].fields.station = "ABC";
  parts[0].fields.location = "00";
  parts[0].fields.sampleRate = 20.0;
  parts[0].fields.recordLength = 4096;
  parts[0].count = 3000;
  parts[1].fields.station = "DEF";
  parts[1].fields.channel = "HHZ";
  parts[1].fields.location = "10";
  parts[1].fields.encoding = kEncodingSteim1;
  parts[1].fields.bigEndian = false;
  parts[1].count = 6000;
  parts[2].fields.station = "GHI";
  parts[2].fields.channel = "LHZ";
  parts[2].fields.location = "20";
  parts[2].fields.sampleRate = 1.0;
  parts[2].fields.encoding = kEncodingInt32;
  parts[2].fields.recordLength = 256;
  parts[2].count = 300;
  std::vector<std::string> bytes;
  for (Part& part : parts) {
    part.fields.startEpoch = kStart;
    bytes.push_back(PackRecords(part.fields, RandomWalk(part.count, 3, 200)));
  }

  for (const std::vector<std::size_t>& order :
       {std::vector<std::size_t>{0, 1, 2}, {1, 0, 2}, {2, 1, 0}}) {
    SCOPED_TRACE(::testing::Message() << "first " << parts[order[0]].fields.recordLength);
    std::string file;
    std::vector<ReferenceChannel> reference;
    std::string listing;
    std::string warnings;
    for (const std::size_t i : order) {
      file += bytes[i];
      const auto channels = DecodeChannels(bytes[i], parts[i].fields.recordLength);
      ASSERT_EQ(channels.size(), 1u);
      const ReferenceChannel& c = channels[0];
      ASSERT_EQ(c.samples.size(), parts[i].count);
      const std::string name = c.station + "::" + c.channel + "::" + c.location;
      listing += name +
                 Format(" %.2f - %.2f", c.start,
                        c.start + static_cast<double>(c.samples.size()) / c.nominalRate) +
                 " " + std::to_string(static_cast<int>(c.nominalRate)) + "\n";
      warnings += "Not found in SITECHAN: " + name + "\n";
      reference.push_back(c);
    }
    const auto seed = Place("joined.seed", file);
    EXPECT_EQ(Run({seed.string(), "-i"}).output, listing + warnings);
    EXPECT_EQ(RunScript(kFeeds[1].script, {seed.string(), "-i"}).output, listing + warnings);

    EmptyStore();
    const auto stored = Run({seed.string()});
    EXPECT_EQ(stored.exitCode, 0) << stored.output;
    ExpectFilesHoldTheirRows(StoredFiles(db()), db().dataDir());
    EXPECT_EQ(StoredSamplesByChannel(db()), ReferenceByChannel(reference));

    const auto wfdisc = work().path() / "joined.wfdisc";
    std::filesystem::remove(wfdisc);
    EXPECT_EQ(Run({seed.string(), "CSS=" + wfdisc.string()}).exitCode, 0);
    EXPECT_EQ(CssDataFiles(wfdisc), ReferenceInOrder(reference));
  }
}

TEST_P(ReadingPhaseTest, ADamagedRecordLengthByteShiftsNoOtherRecord) {
  // Records of 512 bytes, one claiming 4096 (its neighbours begin at 512 all the same) and one
  // of another channel claiming 256 (no record begins there): both are read at 512 bytes and
  // every record after them is where it was.
  const std::string good = OneChannel(512, true, 6000);
  const auto reference = DecodeChannels(good, 512);
  std::string damaged = good;
  damaged[3 * 512 + 54] = 12;
  PackFields other;
  other.station = "XYZ";
  other.startEpoch = kStart;
  std::string intruder = PackRecords(other, RandomWalk(100, 9, 10));
  ASSERT_EQ(intruder.size(), 512u);
  intruder[54] = 8;
  damaged.insert(5 * 512, intruder);
  const auto seed = Place("damaged.seed", damaged);
  const auto result = Run({seed.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(StoredSamplesByChannel(db())["ABC.BHZ.00"],
            ReferenceByChannel(reference)["ABC.BHZ.00"]);
}

TEST_P(ReadingPhaseTest, EndlessOrHugeInputWithoutRecordsEndsAsAFileWithoutRecords) {
  // Noise: its first piece is no data record. Zeros: every piece looks like padding before a
  // record, and detection gives up after the first MiB.
  std::string noise(8u << 20, '\0');
  std::mt19937 random(5);
  for (char& c : noise) c = static_cast<char>(random());
  const auto noiseFile = Place("noise.seed", noise);
  const auto zeroFile = Place("zeros.seed", "");
  std::filesystem::resize_file(zeroFile, std::uintmax_t{4} << 30);  // sparse: nothing written

  // A guard, so that a run that does not end fails the test instead of stalling the suite.
  const std::string guarded = R"(p=$1; shift; exec timeout 60 "$p" "$@")";
  const std::string endlessPipe = R"(p=$1; shift; exec timeout 60 "$p" <(cat /dev/zero) "$@")";
  struct Mode {
    std::string argument;
    std::string output;
  };
  const Mode modes[] = {
      {"-i", "\rWriting to database - 100%\n\n"},
      {"CSS=" + (work().path() / "out.wfdisc").string(), "\rWriting to CSS-file - 100%\n\n"},
  };
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.argument);
    for (const std::string input : {"/dev/zero", noiseFile.c_str(), zeroFile.c_str()}) {
      SCOPED_TRACE(input);
      const auto result = RunScript(guarded, {input, mode.argument});
      EXPECT_EQ(result.exitCode, 0);
      EXPECT_EQ(result.output, mode.output);
    }
    const auto piped = RunScript(endlessPipe, {mode.argument});
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.output, mode.output);
  }
  EXPECT_EQ(db().Count("FILELIST"), 0);
}

TEST_P(ReadingPhaseTest, ConversionPrintsReadingProgressAsItChanges) {
  const std::string bytes = OneChannel(512, true, 20000);
  ASSERT_EQ(bytes.size(), 65u * 512u);
  const auto seed = Place("progress.seed", bytes);
  const auto result = Run({seed.string(), "css"});
  EXPECT_EQ(result.exitCode, 0);
  // 65 records of 512 bytes: a line each time the share read grows by a whole percent.
  EXPECT_EQ(result.output,
            ConvertingLines({1,  3,  4,  6,  7,  9,  10, 12, 13, 15, 16, 18, 20, 21, 23, 24, 26,
                             27, 29, 30, 32, 33, 35, 36, 38, 40, 41, 43, 44, 46, 47, 49, 50, 52,
                             53, 55, 56, 58, 60, 61, 63, 64, 66, 67, 69, 70, 72, 73, 75, 76, 78,
                             80, 81, 83, 84, 86, 87, 89, 90, 92, 93, 95, 96, 98, 100}) +
                "\n\n\rWriting to CSS-file - 100%\rWriting to CSS-file - 100%\n\n" +
                "Wrote 1 wfdisc lines and 1 data files (20000 samples) to " + seed.string() +
                ".wfdisc\n");
}

TEST_P(ReadingPhaseTest, TrailingFragmentIsNotDecodedAndTheReadingStillEndsAtAHundred) {
  const std::string whole = OneChannel(512, true, 3000);
  ASSERT_EQ(whole.size(), 10u * 512u);
  const int records = 9;
  // Cut the last record short: its tail would otherwise be the bytes of the record before it.
  const std::string cut = whole.substr(0, whole.size() - 200);
  const auto seed = Place("cut.seed", cut);
  const auto result = Run({seed.string(), "-i"});
  const auto decoded = DecodeRecords(whole.substr(0, static_cast<std::size_t>(records) * 512), 512);
  std::int64_t count = 0;
  for (const auto& record : decoded) count += record.sampleCount;
  const std::string listing =
      "ABC::BHZ::00" + Format(" %.2f - %.2f", kStart, kStart + static_cast<double>(count) / 20.0) +
      " 20\nNot found in SITECHAN: ABC::BHZ::00\n";
  EXPECT_EQ(result.output, listing);

  const std::string ignored = "\n\nIgnored an incomplete last record (312 of 512 bytes)\n";
  const auto converted = Run({seed.string(), "css"});
  EXPECT_EQ(converted.exitCode, 0);
  EXPECT_EQ(converted.output.rfind(
                ConvertingLines({10, 20, 31, 41, 52, 62, 72, 83, 93, 100}) + ignored, 0),
            0u)
      << converted.output;

  // A pipe whose writer stops early, in the middle of a record.
  const auto full = Place("full.seed", whole);
  const std::string early =
      R"(p=$1 f=$2; shift 2; exec "$p" <(head -c )" + std::to_string(cut.size()) + R"( "$f") "$@")";
  EXPECT_EQ(RunScript(early, {full.string(), "-i"}).output, listing);
  const auto piped =
      RunScript(early, {full.string(), "CSS=" + (work().path() / "early.wfdisc").string()});
  EXPECT_EQ(piped.exitCode, 0);
  EXPECT_EQ(piped.output.rfind("\rConverting File - 100%" + ignored, 0), 0u) << piped.output;

  // A miniSEED 3 record cut short is named with its own length: the last of the 3-channel file
  // is 222 bytes long.
  const std::string three = ReadFile(TestData("testdata-3channel-signal.mseed3"));
  ASSERT_EQ(Mseed3Records(three).back().size(), 222u);
  const auto cutThree = Place("cut.mseed3", three.substr(0, three.size() - 100));
  const auto convertedThree = Run({cutThree.string(), "css"});
  EXPECT_EQ(convertedThree.exitCode, 0);
  EXPECT_EQ(CountOf(convertedThree.output,
                    "\n\nIgnored an incomplete last record (122 of 222 bytes)\n\rWriting"),
            1u)
      << convertedThree.output;
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

// The password may stay off the command line, where every user of the machine can read it:
// TARNVEL_PASSWORD ranks after "PASSWORD=" and before the ini files. The PostgreSQL test server
// checks passwords (scram-sha-256), so a connection tells which one was used.
TEST_P(ReadingPhaseTest, ThePasswordCanComeFromTheEnvironmentAlone) {
  if (GetParam() == DatabaseKind::kSqlite) GTEST_SKIP() << "SQLite checks no password";
  const auto seed = Place("x.seed", OneChannel(512, true, 1000));
  const std::string good = db().password();
  const std::string refused =
      "Connection error (ODBC: " + db().dsn() + ", USER: " + db().user() + ")\n";
  struct Case {
    std::string iniPassword;  // empty: no PASSWORD key, so qor.ini's default "ZUN" applies
    std::vector<std::string> arguments;
    std::string variable;  // TARNVEL_PASSWORD; empty: not set
    bool connects;
  };
  const Case cases[] = {
      {"", {}, good, true},
      {"", {}, "", false},
      {"", {}, "wrong", false},
      {"wrong", {}, good, true},
      {good, {}, "wrong", false},
      {"wrong", {"PASSWORD=" + good}, "wrong", true},
      {good, {"PASSWORD=wrong"}, good, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("ini '" + c.iniPassword + "', environment '" + c.variable + "'");
    WriteIni("", c.iniPassword);
    std::vector<std::string> args{seed.string(), "-i"};
    args.insert(args.end(), c.arguments.begin(), c.arguments.end());
    const auto result = Run(args, {{"TARNVEL_PASSWORD", c.variable}});
    if (c.connects) {
      EXPECT_EQ(result.exitCode, 0);
      EXPECT_EQ(result.output.rfind("ABC::BHZ::", 0), 0u) << result.output;
    } else {
      EXPECT_EQ(result.exitCode, Code(-1));
      EXPECT_EQ(result.output, refused);
    }
  }
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
      {"CSS=cssdir", cssDir / "x.seed.wfdisc"},
      // A plain name is a file in the SEED file's folder, whatever it spells.
      {"CSS=NOT_FOUND", folder / "NOT_FOUND"},
      {"CSS=SEED_PATH", folder / "SEED_PATH"},
      {"CSS=ERROR_PATH", folder / "ERROR_PATH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    std::filesystem::remove(c.wfdisc);
    const auto result = Run({seed.string(), c.argument});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(c.wfdisc));
    EXPECT_EQ(result.output.find("Incorrect path"), std::string::npos) << result.output;
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
