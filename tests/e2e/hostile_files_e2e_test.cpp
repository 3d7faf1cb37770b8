// SEED files made to hurt: codes with quotes, separators, "..", control bytes, and headers with
// absurd sample counts, data offsets and record lengths. Nothing may land outside the data
// directory (or the wfdisc folder), no statement may be bent by a code, and every run ends with
// its defined message and code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/hardening_fixture.h"
#include "tests/e2e/seed_builders.h"
#include "tests/e2e/store_checks.h"
#include "tests/support/wfdisc_text.h"

namespace tarnvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC

// Overwrites `bytes` at `offset` of every record of `recordLength` bytes.
std::string PatchEachRecord(std::string records, int recordLength, std::size_t offset,
                            const std::string& bytes) {
  for (std::size_t at = 0; at + static_cast<std::size_t>(recordLength) <= records.size();
       at += static_cast<std::size_t>(recordLength)) {
    records.replace(at + offset, bytes.size(), bytes);
  }
  return records;
}

// Records of a channel whose station (5 bytes), location (2) and channel (3) fields are set
// to exactly the given bytes.
std::string WithCodes(const std::string& station, const std::string& location,
                      const std::string& channel, std::uint32_t seed) {
  const std::string records =
      PackChannel("PATCH", "BHZ", "00", kStart, 20.0, RandomWalk(1500, seed, 40));
  return PatchEachRecord(records, 512, 8, station + location + channel);
}

std::size_t RecordsIn(const std::string& records) {
  return records.size() / 512;
}

// Every path below `top`, folders included.
std::set<std::string> Tree(const fs::path& top) {
  std::set<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    out.insert(entry.path().lexically_relative(top).generic_string());
  }
  return out;
}

// What a run added below `top` outside `allowed` (a folder below `top`).
std::vector<std::string> AddedOutside(const std::set<std::string>& before,
                                      const std::set<std::string>& after,
                                      const std::string& allowed) {
  std::vector<std::string> out;
  for (const std::string& path : after) {
    if (before.contains(path)) continue;
    if (path == allowed || path.rfind(allowed + "/", 0) == 0) continue;
    out.push_back(path);
  }
  return out;
}

class HostileFileTest : public HardeningTest {
 protected:
  void SetUp() override {
    HardeningTest::SetUp();
    if (IsSkipped()) return;
    // Deep enough that ".." in every code field together still stays below the root.
    data_ = root() / "a" / "b" / "c" / "data";
    fs::create_directories(data_);
    fs::create_directories(root() / "a" / "b" / "c" / "css");
  }
  const fs::path& data() const { return data_; }

 private:
  fs::path data_;
};

TEST_P(HostileFileTest, CodesAreStoredVerbatimOrIgnoredNeverFollowed) {
  db().Execute("insert into SITECHAN(STA,CHAN,SPS) values('O''K','BHZ',20)");
  const auto siteChanBefore = db().Query("select * from SITECHAN");

  const auto quoted = RandomWalk(1500, 1, 40);
  const auto plain = RandomWalk(1500, 2, 40);
  std::string bytes = PackChannel("o'k", "bhz", "'1", kStart, 20.0, quoted) +
                      PackChannel("NRM", "BHZ", "", kStart, 20.0, plain);
  std::size_t unsafe = 0;
  for (const auto& [station, location, channel] : std::vector<std::array<std::string, 3>>{
           {"../..", "..", "../"},
           {"A/B  ", "  ", "BHZ"},
           {"..   ", "  ", "BHZ"},
           {"ABC  ", "..", "BHZ"},
           {"ABC  ", "  ", ".. "},
           {"A\\B  ", "  ", "BHZ"},
           {std::string("A\x01"
                        "B  "),
            "  ", "BHZ"},
           {"ABC  ", "  ", std::string("B\x1bZ")},
           {std::string("A\x7f"
                        "B  "),
            "  ", "BHZ"},
           // A code that looks like a drive would make the composed path absolute elsewhere.
           {"C:   ", "  ", "BHZ"},
           {"D:\\X ", "  ", "BHZ"},
           {"ABC  ", "C:", "BHZ"},
           {"ABC  ", "  ", "C: "},
       }) {
    const std::string records =
        WithCodes(station, location, channel, static_cast<std::uint32_t>(unsafe + 10));
    unsafe += RecordsIn(records);
    bytes += records;
  }
  const fs::path seed = workDir() / "hostile.seed";
  WriteFile(seed, bytes);

  const auto before = Tree(root());
  const auto result = Convert(seed, data());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("\n\nIgnored " + std::to_string(unsafe) +
                               " records whose station, channel or location code cannot be "
                               "part of a file name\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(AddedOutside(before, Tree(root()), "a/b/c/data"), std::vector<std::string>{});

  const auto rows = db().Query("select STA, CH, LCODE, CPATH from FILELIST order by STA");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (Row{"NRM", "BHZ", "??", "NRM/13/21032009-130500-BHZ.NRM"}));
  EXPECT_EQ(rows[1], (Row{"O'K", "BHZ", "'1", "O'K/13/21032009-130500-BHZ.O'K"}));
  ExpectSamples(ExpectedChannel{"O'K", "BHZ", "'1", kStart, 20.0, quoted});
  ExpectSamples(ExpectedChannel{"NRM", "BHZ", "??", kStart, 20.0, plain});
  CheckStore(db(), data());
  EXPECT_NE(ReadFile(data() / rows[1][3]).find("\r\nStation=O'K\r\nChannel=BHZ\r\nLCODE='1\r\n"),
            std::string::npos);
  EXPECT_EQ(db().Query("select * from SITECHAN"), siteChanBefore);

  // The same file into CSS: the data files go to the wfdisc folder and nowhere else.
  const fs::path wfdisc = root() / "a" / "b" / "c" / "css" / "out.wfdisc";
  const auto beforeCss = Tree(root());
  const auto css = Convert(seed, data(), {"CSS=" + wfdisc.string()});
  EXPECT_EQ(css.exitCode, 0) << css.output;
  EXPECT_EQ(AddedOutside(beforeCss, Tree(root()), "a/b/c/css"), std::vector<std::string>{});
  EXPECT_EQ(CountOf(ReadFile(wfdisc), "\n"), 2u);
  EXPECT_TRUE(fs::exists(wfdisc.parent_path() / "20090321130500-O'K-BHZ'1.w"));
}

struct AbsurdHeader {
  const char* name;
  std::size_t offset;  // where the bytes go in every record (or only the first)
  std::string bytes;
  bool firstRecordOnly;
};

TEST_P(HostileFileTest, AbsurdHeaderFieldsEndInADefinedWay) {
  const std::vector<AbsurdHeader> cases{
      {"sample count 65535", 30, std::string("\xff\xff", 2), false},
      {"data offset 65535", 44, std::string("\xff\xff", 2), false},
      {"first blockette beyond the record", 46, std::string("\xff\xf0", 2), false},
      {"record length exponent 30", 54, std::string("\x1e", 1), true},
      {"record length exponent 255", 54, std::string("\xff", 1), true},
      {"record length 4096 on 512-byte records", 54, std::string("\x0c", 1), true},
      {"record length 256 on 512-byte records", 54, std::string("\x08", 1), false},
      {"record length 64 in every record", 54, std::string("\x06", 1), false},
  };
  int run = 0;
  for (const AbsurdHeader& c : cases) {
    SCOPED_TRACE(c.name);
    db().Execute("delete from FILELIST");
    fs::remove_all(data());
    fs::create_directories(data());
    const std::string records =
        PackChannel("ABC", "BHZ", "", kStart, 20.0, RandomWalk(3000, 7, 100));
    std::string bytes = records;
    if (c.firstRecordOnly) {
      bytes.replace(c.offset, c.bytes.size(), c.bytes);
    } else {
      bytes = PatchEachRecord(records, 512, c.offset, c.bytes);
    }
    const fs::path seed = workDir() / ("absurd" + std::to_string(run++) + ".seed");
    WriteFile(seed, bytes);
    const auto before = Tree(root());
    const auto result = Convert(seed, data());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("\rWriting to database - 100%\n\n"), std::string::npos)
        << result.output;
    EXPECT_EQ(AddedOutside(before, Tree(root()), "a/b/c/data"), std::vector<std::string>{});
    const auto files = StoredFiles(db());
    EXPECT_EQ(StoreProblems(files, data()), std::vector<std::string>{});
    for (const StoredFile& file : files) {
      EXPECT_EQ(file.station, "ABC");
      EXPECT_EQ(file.channel, "BHZ");
    }
  }
}

// Nothing below the data directory is followed through a link: a linked station folder, hour
// folder or file name fails its segment with the "Open Err" line and leaves the link's target
// alone. The data directory itself may be a link.
TEST_P(HostileFileTest, LinksBelowTheDataDirectoryAreNeverFollowed) {
  const fs::path outside = root() / "outside";
  fs::create_directories(outside / "13");
  WriteFile(outside / "victim", "keep me");
  fs::create_directory_symlink(outside, data() / "ABC");
  fs::create_directories(data() / "DEF");
  fs::create_directory_symlink(outside, data() / "DEF" / "13");
  fs::create_directories(data() / "GHI" / "13");
  fs::create_symlink(outside / "victim", data() / "GHI" / "13" / "21032009-130500-BHZ.GHI");
  const fs::path linked = root() / "linked";
  fs::create_directory_symlink(data(), linked);

  const auto samples = RandomWalk(1500, 301, 40);
  std::string bytes;
  for (const char* station : {"ABC", "DEF", "GHI", "JKL"}) {
    bytes += PackChannel(station, "BHZ", "", kStart, 20.0, samples);
  }
  const fs::path seed = workDir() / "links.seed";
  WriteFile(seed, bytes);
  const auto before = Tree(outside);
  const auto result = Convert(seed, linked);
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  for (const char* station : {"ABC", "DEF", "GHI"}) {
    const std::string path = linked.string() + "/" + station + "/13/21032009-130500-BHZ." + station;
    EXPECT_NE(result.output.find("\n\nOpen Err: \n" + path + "\n"), std::string::npos)
        << station << "\n"
        << result.output;
    EXPECT_NE(
        result.output.find("\rDB write error (" + std::string(station) + "::BHZ::" + path + ")\n"),
        std::string::npos)
        << result.output;
  }
  EXPECT_EQ(Tree(outside), before);
  EXPECT_EQ(ReadFile(outside / "victim"), "keep me");
  EXPECT_EQ(db().Query("select CPATH from FILELIST"),
            (std::vector<Row>{{"JKL/13/21032009-130500-BHZ.JKL"}}));
  ExpectSamples({"JKL", "BHZ", "??", kStart, 20.0, samples});
}

TEST_P(HostileFileTest, ARegisteredFileReplacedByALinkIsNeverWrittenThrough) {
  const fs::path victim = root() / "victim";
  WriteFile(victim, "keep me");
  const auto first = RandomWalk(1200, 311, 40);
  WriteFile(workDir() / "a.seed", PackChannel("ABC", "BHZ", "", kStart, 20.0, first));
  ASSERT_EQ(Convert(workDir() / "a.seed", data()).exitCode, 0);
  const std::string cpath = "ABC/13/21032009-130500-BHZ.ABC";
  fs::remove(data() / cpath);
  fs::create_symlink(victim, data() / cpath);

  WriteFile(workDir() / "b.seed",
            PackChannel("ABC", "BHZ", "", kStart + 60.0, 20.0, RandomWalk(600, 312, 40)));
  const auto result = Convert(workDir() / "b.seed", data());
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_NE(result.output.find("\n\nOpen Err: \n" + (data() / cpath).string() + "\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(ReadFile(victim), "keep me");
  EXPECT_TRUE(fs::is_symlink(data() / cpath));
  EXPECT_EQ(db().Count("FILELIST"), 1);
  ExpectProblems({"not a file: " + cpath});
}

// Links in the wfdisc folder are never followed. At a data file's name, a link to a file outside
// or a dangling one is passed over (the segment takes the next free name), and neither its
// target nor the name it points to is written. A link (or a FIFO) at the wfdisc file's name
// fails every segment, naming its data file, and writes nothing.
TEST_P(HostileFileTest, LinksInTheWfdiscFolderAreNeverFollowed) {
  const fs::path css = root() / "a" / "b" / "c" / "css";
  const fs::path outside = root() / "outside";
  fs::create_directories(outside);
  WriteFile(outside / "victim", "keep me");
  fs::create_symlink(outside / "victim", css / "20090321130500-ABC-BHZ.w");
  fs::create_symlink(outside / "made", css / "20090321130500-DEF-BHZ.w");
  const auto abc = RandomWalk(1500, 401, 40);
  const auto def = RandomWalk(1500, 402, 40);
  const fs::path seed = workDir() / "links.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart, 20.0, abc) +
                      PackChannel("DEF", "BHZ", "", kStart, 20.0, def));

  const auto before = Tree(root());
  const auto result = Convert(seed, data(), {"CSS=" + (css / "out.wfdisc").string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(AddedOutside(before, Tree(root()), "a/b/c/css"), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(outside / "victim"), "keep me");
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made")));
  EXPECT_TRUE(fs::is_symlink(css / "20090321130500-ABC-BHZ.w"));
  EXPECT_TRUE(fs::is_symlink(css / "20090321130500-DEF-BHZ.w"));
  const auto lines = Lines(ReadFile(css / "out.wfdisc"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WfdiscFields(lines[0])[kWfdiscDfile], "20090321130500-ABC-BHZ-1.w");
  EXPECT_EQ(WfdiscFields(lines[1])[kWfdiscDfile], "20090321130500-DEF-BHZ-1.w");
  EXPECT_EQ(ReadFile(css / "20090321130500-ABC-BHZ-1.w"), FloatBytes(abc));
  EXPECT_EQ(ReadFile(css / "20090321130500-DEF-BHZ-1.w"), FloatBytes(def));

  fs::create_symlink(outside / "victim", css / "linked.wfdisc");
  fs::create_symlink(outside / "made", css / "dangling.wfdisc");
  ASSERT_EQ(::mkfifo((css / "fifo.wfdisc").c_str(), 0644), 0);
  for (const char* name : {"linked.wfdisc", "dangling.wfdisc", "fifo.wfdisc"}) {
    SCOPED_TRACE(name);
    const auto entries = Tree(root());
    const auto refused = Convert(seed, data(), {"CSS=" + (css / name).string()});
    EXPECT_EQ(refused.exitCode, Code(-4)) << refused.output;
    EXPECT_TRUE(refused.output.ends_with(
        "\rWriting to CSS-file - 50%\rCSS file write error (" +
        (css / "20090321130500-ABC-BHZ.w").string() +
        ")\n\rWriting to CSS-file - 100%\rCSS file write error (" +
        (css / "20090321130500-DEF-BHZ.w").string() +
        ")\n\rWriting to CSS-file - 100%\n\nWrote 0 wfdisc lines and 0 data files (0 samples) "
        "to " +
        (css / name).string() + "\n"))
        << refused.output;
    EXPECT_EQ(Tree(root()), entries);
  }
  EXPECT_EQ(ReadFile(outside / "victim"), "keep me");
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made")));
}

TARNVEL_DATABASE_TEST_SUITE(HostileFileTest);

}  // namespace
}  // namespace tarnvel::testing
