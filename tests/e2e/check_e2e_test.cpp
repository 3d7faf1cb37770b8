// The store checker end to end: stores written by the built converter, damaged the ways a data
// centre's stores are damaged (files cut or grown, removed, headers changed, rows added by other
// programs, leftovers of killed runs, links), checked by the built tarnvel-check on SQLite and
// PostgreSQL: its exact lines, summary and exit codes, its coverage and JSON output, and its
// repairs, which the tests' own checker then accepts and the converter stores on from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
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
#include "tests/support/mseed_pack.h"

namespace tarnvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC

// The files a conversion of 70 minutes from kStart at 20 sps gives a channel of station ABC.
std::string FirstFile(const std::string& channel) {
  return "ABC/13/21032009-130500-" + channel + ".ABC";
}
std::string SecondFile(const std::string& channel) {
  return "ABC/14/21032009-140500-" + channel + ".ABC";
}

// The exit status of each of the checker's codes.
constexpr int kClean = 0;
constexpr int kProblems = 1;
constexpr int kArguments = 2;
const int kConnectionFailed = Code(-1);
const int kDataDirectoryUnreadable = Code(-2);

class CheckTest : public ConverterTest {
 protected:
  fs::path Data() { return db().dataDir(); }
  std::string OnDisk(const std::string& cpath) { return (Data() / cpath).string(); }

  // Converts `seconds` of one channel of station ABC at 20 sps from `start`.
  std::vector<std::int32_t> Store(const std::string& channel, double start, int seconds,
                                  std::uint32_t seed) {
    auto samples = RandomWalk(static_cast<std::size_t>(seconds) * 20, seed, 50);
    const auto path = Place(channel + std::to_string(seed) + ".seed",
                            PackChannel("ABC", channel, "", start, 20.0, samples));
    const ProcessResult result = Run({path.string()});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    ExpectSamples({"ABC", channel, "??", start, 20.0, samples});
    return samples;
  }

  // The checker's output and exit status.
  ProcessResult Check(const std::vector<std::string>& args = {}) { return RunCheck(args); }

  // Bytes added at the end of a stored file, as an append whose row never came leaves them.
  void Append(const std::string& cpath, const std::string& bytes) {
    std::FILE* file = std::fopen(OnDisk(cpath).c_str(), "ab");
    ASSERT_NE(file, nullptr);
    std::fputs(bytes.c_str(), file);
    std::fclose(file);
  }

  // A stored file's header with the text `from` changed to `to` (of the same length).
  void ChangeHeader(const std::string& cpath, const std::string& from, const std::string& to) {
    std::string file = ReadFile(Data() / cpath);
    ASSERT_NE(file.find(from), std::string::npos) << from;
    file.replace(file.find(from), from.size(), to);
    WriteFile(Data() / cpath, file);
  }

  // A FILELIST row of channel ABC::`channel` with no location code, as another program would
  // insert it.
  void InsertRow(const std::string& channel, double begin, double quantity,
                 const std::string& cpath) {
    char values[256];
    std::snprintf(values, sizeof values, "'ABC','%s',%0.4f,%0.2f,20,'%s',512,%0.4f",
                  channel.c_str(), begin, quantity, cpath.c_str(), begin + quantity);
    db().Execute("insert into FILELIST(STA,CH,TBEGIN,TQTY,SPS,CPATH,FOFF,TEND) values(" +
                 std::string(values) + ")");
  }
};

TEST_P(CheckTest, AStoreTheConverterWroteIsCleanAndSaysWhatItChecked) {
  Store("BHZ", kStart, 4200, 1);
  Store("BHN", kStart, 4200, 2);
  ProcessResult result = Check();
  EXPECT_EQ(result.exitCode, kClean) << result.output;
  // Two files each: 72000 and 12000 samples behind their headers.
  EXPECT_EQ(result.output, "Checked 4 rows, 4 files, 674048 bytes: no problems\n");

  result = Check({"ABC:BHN"});
  EXPECT_EQ(result.output, "Checked 2 rows, 2 files, 337024 bytes: no problems\n");
  result = Check({"BEG=14:10:00-21.03.2009"});
  EXPECT_EQ(result.output, "Checked 2 rows, 2 files, 97024 bytes: no problems\n");
}

TEST_P(CheckTest, EveryKindOfDamageIsOneLineNamingItsKindChannelAndPath) {
  Store("BHZ", kStart, 4200, 11);
  Store("BHN", kStart, 4200, 12);
  Store("BHE", kStart, 4200, 13);
  Store("HHZ", kStart, 600, 14);

  // Cut short, grown by an append whose row never came, removed, given another header.
  fs::resize_file(Data() / FirstFile("BHZ"), 512 + 4 * 1000);
  Append(SecondFile("BHZ"), "0123456789");
  fs::remove(Data() / SecondFile("BHN"));
  ChangeHeader(FirstFile("BHE"), "Station=ABC", "Station=XYZ");
  // Another program registers a file twice, and the first ten seconds of HHZ again from a copy.
  InsertRow("BHE", kStart + 3600.0, 600.0, SecondFile("BHE"));
  const std::string copy = "ABC/13/21032009-130500-HHZ-1.ABC";
  fs::copy_file(Data() / FirstFile("HHZ"), Data() / copy);
  InsertRow("HHZ", kStart, 600.0, copy);
  // Left below the data directory: an unregistered file, a killed run's staged file, a link.
  fs::create_directories(Data() / "ABC/15");
  fs::copy_file(Data() / FirstFile("HHZ"), Data() / "ABC/15/21032009-150500-HHZ.ABC");
  WriteFile(Data() / "ABC/13/.21032009-130500-BHN.ABC.new", "half a file");
  fs::create_symlink("/tmp", Data() / "ABC/13/elsewhere");

  const ProcessResult result = Check();
  EXPECT_EQ(result.exitCode, kProblems) << result.output;
  const std::string d = Data().string() + "/";
  EXPECT_EQ(result.output,
            "staged ABC::BHN::* " + d + "ABC/13/.21032009-130500-BHN.ABC.new: 11 bytes\n" +
                "header ABC::BHE::?? " + d + FirstFile("BHE") +
                ": Station=XYZ (row: ABC)\n"
                "shorter ABC::BHZ::?? " +
                d + FirstFile("BHZ") + ": 4512 bytes, its row registers 288512\n" +
                "overlap ABC::HHZ::?? " + d + FirstFile("HHZ") +
                ": the times 13:05:00.0000-21.03.2009 - 13:15:00.0000-21.03.2009 are also "
                "stored in " +
                d + copy + "\n" + "link - " + d + "ABC/13/elsewhere: -> /tmp\n" +
                "twice ABC::BHE::?? " + d + SecondFile("BHE") + ": registered by 2 rows\n" +
                "missing ABC::BHN::?? " + d + SecondFile("BHN") + "\n" + "longer ABC::BHZ::?? " +
                d + SecondFile("BHZ") + ": 48522 bytes, its row registers 48512\n" +
                "unregistered ABC::HHZ::?? " + d + "ABC/15/21032009-150500-HHZ.ABC: 48512 bytes\n" +
                "Checked 9 rows, 9 files, 824117 bytes: 9 problems (1 missing, 1 longer, 1 "
                "shorter, 1 header, 1 twice, 1 overlap, 1 unregistered, 1 staged, 1 link)\n");

  // A channel filter and a time window select the rows, and the files of those channels.
  const ProcessResult bhz = Check({"ABC:BHZ", "BEG=14:05:00-21.03.2009"});
  EXPECT_EQ(bhz.exitCode, kProblems) << bhz.output;
  EXPECT_EQ(bhz.output, "longer ABC::BHZ::?? " + d + SecondFile("BHZ") +
                            ": 48522 bytes, its row registers 48512\n"
                            "Checked 1 rows, 1 files, 48522 bytes: 1 problems (1 longer)\n");

  ExpectProblems({"size: " + FirstFile("BHZ"), "size: " + SecondFile("BHZ"),
                  "missing: " + SecondFile("BHN"), "header: " + FirstFile("BHE"),
                  "twice: " + SecondFile("BHE"), "unregistered: ABC/15/21032009-150500-HHZ.ABC",
                  "unregistered: ABC/13/.21032009-130500-BHN.ABC.new"});
  ForgetSamples();
}

TEST_P(CheckTest, CoverageShowsEachChannelsSpansAndTheGapsBetweenThemInUtc) {
  Store("BHZ", kStart, 4200, 21);
  Store("BHZ", kStart + 5000.0, 600, 22);
  Store("HHZ", kStart + 60.0, 60, 23);

  ProcessResult result = Check({"--coverage"});
  EXPECT_EQ(result.exitCode, kClean) << result.output;
  EXPECT_EQ(result.output,
            "span ABC::BHZ::?? 13:05:00.0000-21.03.2009 - 14:15:00.0000-21.03.2009 84000\n"
            "gap ABC::BHZ::?? 14:15:00.0000-21.03.2009 - 14:28:20.0000-21.03.2009 16000\n"
            "span ABC::BHZ::?? 14:28:20.0000-21.03.2009 - 14:38:20.0000-21.03.2009 12000\n"
            "span ABC::HHZ::?? 13:06:00.0000-21.03.2009 - 13:07:00.0000-21.03.2009 1200\n"
            "Checked 4 rows, 4 files, 390848 bytes: no problems\n");

  // Within a window, the spans of the rows that reach into it, and gaps to its bounds.
  result = Check({"--coverage", "ABC:BHZ", "BEG=14:20:00-21.03.2009", "END=15:00:00-21.03.2009"});
  EXPECT_EQ(result.output,
            "gap ABC::BHZ::?? 14:20:00.0000-21.03.2009 - 14:28:20.0000-21.03.2009 10000\n"
            "span ABC::BHZ::?? 14:28:20.0000-21.03.2009 - 14:38:20.0000-21.03.2009 12000\n"
            "gap ABC::BHZ::?? 14:38:20.0000-21.03.2009 - 15:00:00.0000-21.03.2009 26000\n"
            "Checked 1 rows, 1 files, 48512 bytes: no problems\n");
}

TEST_P(CheckTest, JsonOutputIsOneObjectPerLineThatAJsonParserReadsBack) {
  Store("BHZ", kStart, 600, 31);
  fs::resize_file(Data() / FirstFile("BHZ"), 512 + 4 * 100);
  const ProcessResult result = Check({"--json", "--coverage"});
  EXPECT_EQ(result.exitCode, kProblems) << result.output;
  const fs::path lines = work() / "check.json";
  WriteFile(lines, result.output);
  // jq reads every line as one object and gives its fields back.
  const ProcessResult parsed = RunProgram(
      "/usr/bin/jq", {"-r",
                      "[.type, .kind // \"\", .station // \"\", .path // \"\", .detail // "
                      "\"\", .samples // \"\", .problems // \"\", .byKind.shorter // \"\"] "
                      "| join(\"|\")",
                      lines.string()});
  ASSERT_EQ(parsed.exitCode, 0) << parsed.output;
  EXPECT_EQ(parsed.output, "problem|shorter|ABC|" + OnDisk(FirstFile("BHZ")) +
                               "|912 bytes, its row registers 48512|||\n"
                               "span||ABC|||100||\n"
                               "summary||||||1|1\n");
  ExpectProblems({"size: " + FirstFile("BHZ")});
  ForgetSamples();
}

TEST_P(CheckTest, ARefusingDatabaseAndAnUnreadableDataDirectoryEndWithTheConvertersCodes) {
  ProcessResult result = Check({"ODBC=" + TestDatabase::MissingDsn()});
  EXPECT_EQ(result.exitCode, kConnectionFailed) << result.output;
  EXPECT_EQ(result.output, "Connection error (ODBC: " + TestDatabase::MissingDsn() +
                               ", USER: " + db().user() + ")\n");

  const std::string missing = (work().path() / "no such folder").string();
  result = Check({"DATA=" + missing});
  EXPECT_EQ(result.exitCode, kDataDirectoryUnreadable) << result.output;
  EXPECT_EQ(result.output, "Data directory error (" + missing + ": No such file or directory)\n");
  result = Check({"DATA=" + missing, "--json"});
  EXPECT_EQ(result.exitCode, kDataDirectoryUnreadable) << result.output;
  EXPECT_EQ(result.output, "{\"type\":\"error\",\"error\":\"Data directory error\",\"detail\":\"" +
                               missing + ": No such file or directory\"}\n");

  result = Check({"--fix-everything"});
  EXPECT_EQ(result.exitCode, kArguments) << result.output;
  EXPECT_EQ(result.output.rfind("Unknown option: --fix-everything\nUsage: tarnvel-check", 0), 0u)
      << result.output;
  result = Check({"END=12:00:00-21.03.2009", "QTY=60"});
  EXPECT_EQ(result.exitCode, kArguments) << result.output;
  EXPECT_EQ(result.output.rfind("TEND and TQTY has been found\n", 0), 0u) << result.output;
}

// A killed conversion's leftovers, files cut or grown, a header left behind its row: --repair
// mends each without a guess and says what it changed; a missing file and an unregistered one
// stay for the operator. The store then passes the tests' own checker but for those two, and
// the converter stores on into it.
TEST_P(CheckTest, RepairMendsWhatNeedsNoGuessReportsEveryChangeAndTheStoreConvertsOn) {
  const auto bhz = Store("BHZ", kStart, 4200, 41);
  Store("BHN", kStart, 4200, 42);
  Store("BHE", kStart, 600, 43);
  fs::resize_file(Data() / FirstFile("BHZ"), 512 + 4 * 1000 + 2);
  Append(SecondFile("BHZ"), "0123456789");
  fs::remove(Data() / SecondFile("BHN"));
  // The header a kill between a commit and the header's rewrite leaves: the length before.
  ChangeHeader(FirstFile("BHE"), "Time duration=000 00 10 00", "Time duration=000 00 05 00");
  // A run killed while it wrote a new file: its note, its staged file, the name it took.
  const std::string staged = "ABC/15/.21032009-150000-BHN.ABC.new";
  fs::create_directories(Data() / "ABC/15");
  WriteFile(Data() / staged, "half a file");
  WriteFile(Data() / ".lock/ABC.BHN.lock", "N\t" + staged + "\tABC/15/21032009-150000-BHN.ABC\n");
  // A staged file no note names, and a file no row registers.
  WriteFile(Data() / "ABC/13/.21032009-130500-BHE.ABC.new", "left over");
  WriteFile(Data() / "ABC/15/21032009-151500-BHE.ABC", "someone's");

  const ProcessResult result = Check({"--repair"});
  EXPECT_EQ(result.exitCode, kProblems) << result.output;
  const std::string d = Data().string() + "/";
  EXPECT_EQ(result.output,
            "repaired ABC::BHN::* " + d +
                ".lock/ABC.BHN.lock: unsettled, settled as a conversion settles them\n"
                "repaired ABC::BHE::* " +
                d + "ABC/13/.21032009-130500-BHE.ABC.new: staged, removed\n" +
                "repaired ABC::BHE::?? " + d + FirstFile("BHE") +
                ": header, its header written from its row\n" + "repaired ABC::BHZ::?? " + d +
                FirstFile("BHZ") +
                ": shorter, its row set to the 1000 samples it holds, and its header\n" +
                "repaired ABC::BHZ::?? " + d + SecondFile("BHZ") +
                ": longer, cut back to its row's 48512 bytes\n" + "missing ABC::BHN::?? " + d +
                SecondFile("BHN") + "\n" + "unregistered ABC::BHE::* " + d +
                "ABC/15/21032009-151500-BHE.ABC: 9 bytes\n" +
                "Checked 5 rows, 5 files, 390057 bytes: 2 problems (1 missing, 1 unregistered), 5 "
                "repaired (1 longer, 1 shorter, 1 header, 1 staged, 1 unsettled)\n");
  EXPECT_EQ(ReadFile(Data() / ".lock/ABC.BHN.lock"), "");
  EXPECT_EQ(db().QueryNumber("select TQTY from FILELIST where CPATH='" + FirstFile("BHZ") + "'"),
            50.0);
  // The tests' own checker agrees: nothing left but what only the operator can decide.
  const std::vector<std::string> left = {"missing: " + SecondFile("BHN"),
                                         "unregistered: ABC/15/21032009-151500-BHE.ABC"};
  ExpectProblems(left);
  ForgetSamples();
  CheckStore(db(), Data());

  // The store converts on. Whether the new samples continue the latest file or start one of
  // their own depends on the load dates (the repaired row's may be a second later): either way
  // every sample is stored once.
  const auto more = RandomWalk(12000, 44, 50);
  const auto seed = Place("more.seed", PackChannel("ABC", "BHZ", "", kStart + 4200.0, 20.0, more));
  const ProcessResult converted = Run({seed.string()});
  EXPECT_EQ(converted.exitCode, 0) << converted.output;
  EXPECT_NE(converted.output.find("Stored 12000 samples in 1 files ("), std::string::npos)
      << converted.output;
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, {bhz.begin(), bhz.begin() + 1000}});
  std::vector<std::int32_t> later(bhz.begin() + 72000, bhz.end());
  later.insert(later.end(), more.begin(), more.end());
  ExpectSamples({"ABC", "BHZ", "??", kStart + 3600.0, 20.0, later});
  CheckStore(db(), Data());
  const ProcessResult again = Check({"ABC:BHZ"});
  EXPECT_EQ(again.exitCode, kClean) << again.output;
}

// A converter at work on a channel holds its lock: its notes and staged files are its work in
// progress, which neither a check nor a repair touches.
TEST_P(CheckTest, TheWorkOfAConverterHoldingItsLockIsLeftAlone) {
  Store("BHZ", kStart, 600, 51);
  const std::string notes =
      "N\tABC/13/.21032009-131500-BHZ.ABC.new\tABC/13/21032009-131500-BHZ.ABC\n";
  WriteFile(Data() / ".lock/ABC.BHZ.lock", notes);
  WriteFile(Data() / "ABC/13/.21032009-131500-BHZ.ABC.new", "being written");
  Append(FirstFile("BHZ"), "0123");
  const int lock = ::open((Data() / ".lock/ABC.BHZ.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);

  const std::string d = Data().string() + "/";
  const std::string busy =
      "busy ABC::BHZ::* " + d +
      ".lock/ABC.BHZ.lock: a converter holds the lock, its work is left to it\n";
  const std::string longer =
      "longer ABC::BHZ::?? " + d + FirstFile("BHZ") + ": 48516 bytes, its row registers 48512\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"--repair"}}) {
    const ProcessResult result = Check(args);
    EXPECT_EQ(result.exitCode, kProblems) << result.output;
    EXPECT_EQ(result.output,
              busy + longer + "Checked 1 rows, 1 files, 48516 bytes: 1 problems (1 longer)\n");
    EXPECT_EQ(ReadFile(Data() / ".lock/ABC.BHZ.lock"), notes);
    EXPECT_TRUE(fs::exists(Data() / "ABC/13/.21032009-131500-BHZ.ABC.new"));
    EXPECT_EQ(fs::file_size(Data() / FirstFile("BHZ")), 48516u);
  }
  ::close(lock);
  // Once the lock is free, the repair settles the converter's leftovers.
  const ProcessResult result = Check({"--repair"});
  EXPECT_EQ(result.exitCode, kClean) << result.output;
  EXPECT_EQ(fs::file_size(Data() / FirstFile("BHZ")), 48512u);
  EXPECT_FALSE(fs::exists(Data() / "ABC/13/.21032009-131500-BHZ.ABC.new"));
}

// The data directory may itself be a link; below it, links are named and never followed.
TEST_P(CheckTest, ADataDirectoryReachedThroughALinkIsCheckedAndLinksBelowItAreNeverFollowed) {
  Store("BHZ", kStart, 600, 61);
  const fs::path linked = work().path() / "linked-data";
  fs::create_directory_symlink(Data(), linked);
  fs::create_directories(work().path() / "elsewhere/13");
  WriteFile(work().path() / "elsewhere/13/21032009-131500-BHN.ABC", "not the store's");
  fs::create_directory_symlink(work().path() / "elsewhere", Data() / "XYZ");
  const ProcessResult result = Check({"DATA=" + linked.string(), "--repair"});
  EXPECT_EQ(result.exitCode, kProblems) << result.output;
  EXPECT_EQ(result.output, "link - " + linked.string() + "/XYZ: -> " +
                               (work().path() / "elsewhere").string() +
                               "\nChecked 1 rows, 1 files, 48512 bytes: 1 problems (1 link)\n");
  EXPECT_TRUE(fs::exists(work().path() / "elsewhere/13/21032009-131500-BHN.ABC"));
}

// --register-orphans registers a file no row registers when its header is whole, never one that
// would store times a row of its channel holds, nor one whose header is not the store's.
TEST_P(CheckTest, RegisterOrphansRegistersFilesWithAWholeHeaderThatStoreNoTimeTwice) {
  Store("BHZ", kStart, 600, 71);
  Store("HHZ", kStart, 600, 72);
  db().Execute("delete from FILELIST where CH='HHZ'");
  const std::string copy = "ABC/13/21032009-130500-BHZ-1.ABC";
  fs::copy_file(Data() / FirstFile("BHZ"), Data() / copy);
  std::string damaged = ReadFile(Data() / FirstFile("BHZ"));
  damaged.replace(damaged.find("SpS=20.00"), 9, "SpS=40.00");
  const std::string other = "ABC/15/21032009-150500-BHZ.ABC";
  fs::create_directories(Data() / "ABC/15");
  WriteFile(Data() / other, damaged);

  const ProcessResult result = Check({"--register-orphans"});
  EXPECT_EQ(result.exitCode, kProblems) << result.output;
  const std::string d = Data().string() + "/";
  EXPECT_EQ(result.output,
            "repaired ABC::HHZ::?? " + d + FirstFile("HHZ") +
                ": unregistered, registered with its header's 12000 samples from "
                "13:05:00.0000-21.03.2009\n" +
                "unregistered ABC::BHZ::?? " + d + copy + ": 48512 bytes\n" +
                "unregistered ABC::BHZ::?? " + d + other +
                ": 48512 bytes\n"
                "Checked 2 rows, 4 files, 194048 bytes: 2 problems (2 unregistered), 1 repaired "
                "(1 unregistered)\n");
  EXPECT_EQ(
      db().Query("select TBEGIN, TQTY, SPS, CREATER from FILELIST where CH='HHZ'"),
      (std::vector<Row>{{db().QueryValue("select TBEGIN from FILELIST where CH='BHZ'"),
                         db().QueryValue("select TQTY from FILELIST where CH='BHZ'"),
                         db().QueryValue("select SPS from FILELIST where CH='BHZ'"), "tarnvel"}}));
  ExpectProblems({"unregistered: " + copy, "unregistered: " + other});
}

// Random damage over a few channels' files, against a plain model of what each damage is: the
// check names exactly the damaged paths with their kinds, and --repair leaves exactly the
// damage that needs the operator, as the tests' own checker sees it. Every seed that failed
// once stays in the list.
TEST_P(CheckTest, RandomDamageIsFoundAsTheModelSaysAndRepairedToWhatNeedsTheOperator) {
  const std::vector<std::string> channels = {"BHZ", "BHN", "BHE", "HHZ"};
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    db().Execute("delete from FILELIST");
    fs::remove_all(Data());
    fs::create_directories(Data());
    ForgetSamples();
    std::mt19937 random(seed);
    std::map<std::string, std::string> expected;  // path below the data directory -> kind
    std::vector<std::string> left;                // what the tests' checker finds after repair
    for (std::size_t c = 0; c < channels.size(); ++c) {
      Store(channels[c], kStart, 600, static_cast<std::uint32_t>(100 * seed + c));
      const std::string cpath = FirstFile(channels[c]);
      const fs::path file = Data() / cpath;
      switch (random() % 5) {
        case 0: {  // cut short, at least one sample left, maybe inside a sample
          const auto size = 512 + 4 + random() % (4 * 12000 - 8);
          fs::resize_file(file, size);
          expected[cpath] = "shorter";
          break;
        }
        case 1: {  // grown by an append whose row never came
          std::string bytes = ReadFile(file);
          bytes.append(1 + random() % 40, '\x11');
          WriteFile(file, bytes);
          expected[cpath] = "longer";
          break;
        }
        case 2:  // gone
          fs::remove(file);
          expected[cpath] = "missing";
          left.push_back("missing: " + cpath);
          break;
        case 3: {  // its header left at an earlier length
          std::string bytes = ReadFile(file);
          bytes.replace(bytes.find("Time duration=000 00 10 00"), 26,
                        "Time duration=000 00 0" + std::to_string(random() % 10) + " 00");
          WriteFile(file, bytes);
          expected[cpath] = "header";
          break;
        }
        default:
          break;
      }
    }
    if (random() % 2 == 0) {
      const std::string staged = "ABC/13/.21032009-131000-BHZ.ABC.new";
      WriteFile(Data() / staged, "staged");
      expected[staged] = "staged";
    }
    if (random() % 2 == 0) {
      const std::string junk = "ABC/13/21032009-132000-BHN.ABC";
      WriteFile(Data() / junk, "junk");
      expected[junk] = "unregistered";
      left.push_back("unregistered: " + junk);
    }

    ProcessResult result = Check();
    std::map<std::string, std::string> found;
    const std::string prefix = Data().string() + "/";
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Checked ", 0) == 0) continue;
      const std::string kind = line.substr(0, line.find(' '));
      const std::size_t at = line.find(prefix);
      ASSERT_NE(at, std::string::npos) << line;
      std::string path = line.substr(at + prefix.size());
      path = path.substr(0, path.find(": "));
      found[path] = kind;
    }
    EXPECT_EQ(found, expected) << result.output;
    EXPECT_EQ(result.exitCode, expected.empty() ? kClean : kProblems) << result.output;

    result = Check({"--repair"});
    EXPECT_EQ(result.exitCode, left.empty() ? kClean : kProblems) << result.output;
    std::sort(left.begin(), left.end());
    std::vector<std::string> problems = StoreProblems(StoredFiles(db()), Data());
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(problems, left) << result.output;
  }
  // The last history's store has been checked above.
  db().Execute("delete from FILELIST");
  fs::remove_all(Data());
  fs::create_directories(Data());
  ForgetSamples();
}

TARNVEL_DATABASE_TEST_SUITE(CheckTest);

}  // namespace
}  // namespace tarnvel::testing
