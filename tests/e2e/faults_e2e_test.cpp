// Conversions that meet faults on their way: the database server going away in the middle, a
// full file system, a data directory without write permission, SEED files cut short or changed
// while they are read, and an ini file that cannot be read. The run must report what failed,
// end with its defined code, and leave every registered file holding exactly what its row says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/background_process.h"
#include "tests/e2e/hardening_fixture.h"
#include "tests/e2e/scratch_postgres.h"
#include "tests/e2e/seed_builders.h"
#include "tests/e2e/store_checks.h"
#include "tests/support/wfdisc_text.h"

namespace tarnvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC

std::string StationName(int i) {
  char name[8];
  std::snprintf(name, sizeof name, "F%03d", i);
  return name;
}

// Key of a segment by station and start (tenths of a second).
using SegmentKey = std::pair<std::string, long long>;
SegmentKey KeyOf(const std::string& station, double start) {
  return {station, std::llround(start * 10.0)};
}

// The file name of a segment of channel BHZ starting at `tenths` tenths of a second, in the
// 13 o'clock folder of 21 March 2009.
std::string SegmentFileName(const std::string& station, long long tenths) {
  const long long second = tenths / 10 - static_cast<long long>(kStart) + 5 * 60;
  char name[64];
  std::snprintf(name, sizeof name, "21032009-13%02lld%02lld-BHZ.", second / 60, second % 60);
  return name + station;
}

// The data file paths, relative to the data directory, of every "DB write error" line.
std::set<std::string> ReportedPaths(const std::string& output, const fs::path& data) {
  std::set<std::string> out;
  const std::string prefix = data.string() + "/";
  const std::regex line("\rDB write error \\([^:]*::[^:]*::([^)]*)\\)\n");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
       it != std::sregex_iterator(); ++it) {
    std::string path = (*it)[1];
    if (path.rfind(prefix, 0) == 0) path.erase(0, prefix.size());
    out.insert(path);
  }
  return out;
}

TEST(DatabaseLostTest, TheRunGoesOnReportsEveryLostSegmentAndKeepsTheStoreConsistent) {
  if (const std::string why = ScratchPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  ScratchPostgres server;
  TempDir dir;
  const fs::path data = dir / "data";
  fs::create_directories(data);

  // 50 stations with 20 one-second segments each, ten seconds apart: 1000 small segments,
  // enough for the server to go away while they are written.
  constexpr int kStations = 50;
  constexpr int kSegments = 20;
  std::map<SegmentKey, std::vector<std::int32_t>> expected;
  std::string bytes;
  for (int s = 0; s < kStations; ++s) {
    for (int g = 0; g < kSegments; ++g) {
      const double start = kStart + 10.0 * g;
      auto samples = RandomWalk(20, static_cast<std::uint32_t>(100 * s + g + 1), 50);
      bytes += PackChannel(StationName(s), "BHZ", "", start, 20.0, samples);
      expected[KeyOf(StationName(s), start)] = std::move(samples);
    }
  }
  const fs::path seed = dir / "many.seed";
  WriteFile(seed, bytes);

  auto env = server.Environment();
  env["TZ"] = "UTC";
  env["QOR"] = "";
  env["WINDIR"] = dir.path().string();
  BackgroundProcess run(ConverterPath(),
                        {seed.string(), "ODBC=" + server.dsn(), "USER=" + server.user(),
                         "PASSWORD=" + server.password(), "DATA=" + data.string()},
                        env, dir / "output.txt");
  ASSERT_TRUE(run.WaitForOutput([](const std::string& out) {
    return out.find("Writing to database - 05%") != std::string::npos;
  })) << run.Output();
  // Rows are committed a batch at a time: the server goes once the first batch is in.
  for (int i = 0; i < 400 && server.Query("select count(*) from FILELIST").at(0).at(0) == "0";
       ++i) {
    ::usleep(25000);
  }
  server.Stop();
  const int code = run.Wait();
  const std::string output = run.Output();
  server.Start();

  EXPECT_EQ(code, 252) << output;
  EXPECT_NE(output.find("\rWriting to database - 100%\n\n"), std::string::npos);
  const auto files = ToStoredFiles(server.Query(
      "select CPATH, TBEGIN, TQTY, SPS, STA, CH, coalesce(LCODE,''), TEND from FILELIST order "
      "by TBEGIN, STA"));
  // Every segment is either registered or reported; only the one being written when the
  // server went away may be both (its row was stored, its file could no longer be put in
  // place, nor its row removed).
  std::set<std::string> all;
  for (const auto& [key, samples] : expected) {
    all.insert(key.first + "/13/" + SegmentFileName(key.first, key.second));
  }
  const std::set<std::string> failed = ReportedPaths(output, data);
  const std::set<std::string> registered = RegisteredPaths(files);
  EXPECT_GT(registered.size(), 0u);
  EXPECT_GT(failed.size(), 0u);
  std::set<std::string> either = failed;
  either.insert(registered.begin(), registered.end());
  EXPECT_EQ(either, all);
  EXPECT_LE(failed.size() + registered.size(), all.size() + 1);
  EXPECT_EQ(CountOf(output, "\rDB write error ("), failed.size());

  for (const StoredFile& file : files) {
    const auto it = expected.find(KeyOf(file.station, file.begin));
    ASSERT_NE(it, expected.end()) << file.cpath;
    EXPECT_EQ(SampleBytes(data / file.cpath), FloatBytes(it->second)) << file.cpath;
  }
  // A segment that failed leaves nothing behind, but the one whose file waits beside its row
  // for the next run of its channel to put it in place.
  std::vector<std::string> problems = StoreProblems(files, data);
  EXPECT_LE(problems.size(), 2u) << ::testing::PrintToString(problems);
  for (const std::string& problem : problems) {
    EXPECT_TRUE(problem.rfind("missing: ", 0) == 0 || problem.rfind("unregistered: ", 0) == 0)
        << problem;
  }
}

class FaultTest : public HardeningTest {
 protected:
  fs::path Data() const { return root() / "data"; }

  // A seed file in the working folder holding one channel's records.
  fs::path Seed(const std::string& name, const std::string& location, double start, double rate,
                const std::vector<std::int32_t>& samples) {
    const fs::path path = workDir() / name;
    WriteFile(path, PackChannel("ABC", "BHZ", location, start, rate, samples));
    return path;
  }

  // A conversion into `data` with more variables in the converter's environment.
  ProcessResult ConvertWith(const fs::path& seed, const std::map<std::string, std::string>& more,
                            const fs::path& data) {
    std::vector<std::string> args{seed.string()};
    for (auto& arg : ConnectionArgs(data)) args.push_back(arg);
    return Run(args, more);
  }
  ProcessResult ConvertWith(const fs::path& seed, const std::map<std::string, std::string>& more) {
    return ConvertWith(seed, more, Data());
  }

  // The environment of a run under the kill library (kill_at_preload.cpp), with `key` set to
  // `value` (KILL_AT_CALL or KILL_AT_COUNT).
  static std::map<std::string, std::string> KillLibrary(const std::string& key,
                                                        const std::string& value) {
    // The preloaded library comes before a sanitizer runtime; that is fine here.
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {
        {"LD_PRELOAD", TARNVEL_KILL_AT_LIBRARY},
        {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"},
        {key, value}};
  }

  // The environment of a run under the sync trace library (sync_trace_preload.cpp) with
  // `variables` (SYNC_TRACE, SYNC_FAIL) and more.
  static std::map<std::string, std::string> SyncTraceLibrary(
      std::map<std::string, std::string> variables) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    variables["LD_PRELOAD"] = TARNVEL_SYNC_TRACE_LIBRARY;
    variables["ASAN_OPTIONS"] =
        std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    return variables;
  }
  // A CSS conversion of `seed` into `wfdisc` with `variables` in the environment.
  ProcessResult ConvertToCss(const fs::path& seed, const fs::path& wfdisc,
                             const std::map<std::string, std::string>& variables = {}) {
    std::vector<std::string> args{seed.string()};
    for (auto& arg : ConnectionArgs(Data())) args.push_back(arg);
    args.push_back("CSS=" + wfdisc.string());
    return Run(args, variables);
  }

  // Keeps the store below `data` (rows and files) aside, to be put back before each run.
  void KeepStoreAside(const fs::path& data) {
    db().Execute("create table FILELIST_BASE as select * from FILELIST");
    fs::copy(data, root() / "base", fs::copy_options::recursive);
  }
  void PutStoreBack(const fs::path& data) {
    db().Execute("delete from FILELIST");
    db().Execute("insert into FILELIST select * from FILELIST_BASE");
    fs::remove_all(data);
    fs::copy(root() / "base", data, fs::copy_options::recursive);
  }

  // Converts `seed` into `data`, killed right before each change in turn (every one, or a
  // dozen spread over the run on the slower PostgreSQL), from the store kept aside; after each
  // kill the same file converted again must leave a sound store holding `expected`.
  void ExpectEveryKillCompletedByConvertingAgain(const fs::path& seed, const fs::path& data,
                                                 const std::vector<ExpectedChannel>& expected);

  // Every insert, update and delete on FILELIST (or the `changes` named) fails from now on; or,
  // `silently`, changes nothing while the statement reports success.
  void RefuseChanges(bool silently = false,
                     const std::vector<std::string>& changes = {"insert", "update", "delete"}) {
    if (GetParam() == DatabaseKind::kSqlite) {
      for (const std::string& change : changes) {
        db().Execute("create trigger refuse_" + change + " before " + change +
                     " on FILELIST begin select " +
                     (silently ? "raise(ignore)" : "raise(abort, 'refused')") + "; end");
      }
    } else {
      std::string events;
      for (const std::string& change : changes) events += (events.empty() ? "" : " or ") + change;
      db().Execute(std::string("create function refuse() returns trigger language plpgsql as ") +
                   (silently ? "$$ begin return null; end $$"
                             : "$$ begin raise exception 'refused'; end $$"));
      db().Execute("create trigger refuse before " + events + " on FILELIST for each row " +
                   "execute function refuse()");
    }
  }
  // Every new row of `station` is refused from now on.
  void RefuseRowsOf(const std::string& station) { RefuseRowsWhere("new.STA='" + station + "'"); }
  // Every new row for which `condition` (on "new.") holds is refused from now on.
  void RefuseRowsWhere(const std::string& condition) {
    if (GetParam() == DatabaseKind::kSqlite) {
      db().Execute("create trigger refuse_station before insert on FILELIST when " + condition +
                   " begin select raise(abort, 'refused'); end");
    } else {
      db().Execute(
          "create function refuse() returns trigger language plpgsql as "
          "$$ begin raise exception 'refused'; end $$");
      db().Execute("create trigger refuse before insert on FILELIST for each row when (" +
                   condition + ") execute function refuse()");
    }
  }

  void ExpectRefusedChangesLeaveTheStore(bool silently);

  // A conversion into Data() traced by the preload library: the lines it wrote (see
  // kill_at_preload.cpp), with `more` in the converter's environment.
  std::vector<std::string> TracedConversion(const fs::path& seed, ProcessResult& result,
                                            std::map<std::string, std::string> more = {}) {
    const fs::path trace = workDir() / "trace.txt";
    fs::remove(trace);
    auto env = KillLibrary("KILL_AT_TRACE", trace.string());
    env.insert(more.begin(), more.end());
    result = ConvertWith(seed, env);
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(trace));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // A store of two channels and their later samples, for the kill and sync tests: ABC BHZ
  // (30 minutes from kStart) and ABC HHZ (1001 samples at 200 sps) stored by an earlier run,
  // then run.seed continuing both (BHZ 80 minutes more: an append, then a new file) and
  // starting DEF BHZ. `stored` receives what must stay stored; `run` what run.seed adds.
  fs::path StoreAChannelAndItsContinuation(std::vector<ExpectedChannel>& stored,
                                           std::vector<ExpectedChannel>& run);

  // For the low-disk tests, on the file system mounted at root()/fs: 2.5 hours of one channel at
  // 100 sps from kStart stored by an earlier run (files O1, O2 and O3: an hour, an hour, half
  // an hour) into LowDiskData(). Returns their samples.
  std::vector<std::int32_t> StoreEarlierRunsOnASmallDisk();
  fs::path LowDiskData() const { return root() / "fs" / "data"; }
};

// Unmounts a file system mounted for a test, whatever the test's outcome.
class Mount {
 public:
  Mount(const fs::path& target, const std::string& size) : target_(target) {
    fs::create_directories(target);
    mounted_ =
        RunProgram("/bin/mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", target.string()})
            .exitCode == 0;
  }
  ~Mount() {
    if (mounted_) RunProgram("/bin/umount", {"-l", target_.string()});
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  fs::path target_;
  bool mounted_ = false;
};

TEST_P(FaultTest, AFullFileSystemFailsTheSegmentsThatDoNotFitAndRegistersNoShortFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path data = root() / "data";
  Mount disk(data, "96k");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here";

  // 30 channels of one segment each, 8 KiB of samples apiece: a few fit, the rest do not.
  std::string bytes;
  std::map<std::string, std::vector<std::int32_t>> expected;
  for (int s = 0; s < 30; ++s) {
    auto samples = RandomWalk(2000, static_cast<std::uint32_t>(s + 7), 40);
    bytes += PackChannel(StationName(s), "BHZ", "", kStart, 20.0, samples);
    expected[StationName(s)] = std::move(samples);
  }
  const fs::path seed = workDir() / "full.seed";
  WriteFile(seed, bytes);

  const auto result = Convert(seed, data);
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  const auto files = StoredFiles(db());
  const std::size_t failed = CountOf(result.output, "\rDB write error (");
  EXPECT_GT(files.size(), 0u) << result.output;
  EXPECT_GT(failed, 0u);
  EXPECT_EQ(files.size() + failed, expected.size()) << result.output;
  for (const StoredFile& file : files) {
    EXPECT_EQ(SampleBytes(data / file.cpath), FloatBytes(expected.at(file.station)));
  }
  CheckStore(db(), data);  // before the file system goes
}

TEST_P(FaultTest, AFullFileSystemFailsTheCssSegmentsThatDoNotFitAfterThoseThatDo) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path css = root() / "css";
  Mount disk(css, "4m");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here";

  // Six channels read side by side, each long enough to have much of its data file written
  // while the file is still being read (400,000 samples, 1.6 MB apiece): two fit. The output
  // must meet the full disk as if nothing had been written before it, segment after segment.
  std::vector<std::vector<std::int32_t>> expected;
  std::vector<std::string> channels;
  for (int s = 0; s < 6; ++s) {
    expected.push_back(RandomWalk(400000, static_cast<std::uint32_t>(s + 1), 40));
    channels.push_back(
        PackChannel(StationName(s), "BHZ", "", kStart, 100.0, expected.back(), 4096));
  }
  const fs::path seed = workDir() / "six.seed";
  WriteFile(seed, InterleaveRecords(channels, 4096));

  const auto result = Convert(seed, root() / "data", {"CSS=" + (css / "out.wfdisc").string()});
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  const auto lines = Lines(ReadFile(css / "out.wfdisc"));
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(CountOf(result.output, "\rCSS file write error ("), 6 - lines.size());
  for (std::size_t s = 0; s < expected.size(); ++s) {
    const std::string name = "20090321130500-" + StationName(static_cast<int>(s)) + "-BHZ.w";
    if (s < lines.size()) {
      EXPECT_EQ(WfdiscFields(lines[s])[kWfdiscDfile], name);
      EXPECT_EQ(ReadFile(css / name), FloatBytes(expected[s])) << name;
    } else {
      EXPECT_FALSE(fs::exists(css / name)) << name;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(css), fs::directory_iterator{}),
            static_cast<std::ptrdiff_t>(lines.size() + 1));
}

// The calls of a sync trace (sync_trace_preload.cpp) on paths below `below`, in order.
std::vector<std::pair<std::string, std::string>> TracedCalls(const fs::path& trace,
                                                             const fs::path& below) {
  std::vector<std::pair<std::string, std::string>> calls;
  for (const std::string& line : Lines(ReadFile(trace))) {
    const std::size_t blank = line.find(' ');
    const std::string path = line.substr(blank + 1);
    if (path.rfind(below.string(), 0) == 0) calls.emplace_back(line.substr(0, blank), path);
  }
  return calls;
}

// A power cut must never leave a wfdisc line whose data file is missing or short: every data
// file, and then every folder holding new entries (the new folders included), is synced before
// the first line naming them is written, and the wfdisc file after its last. TARNVEL_NO_SYNC=1
// turns the syncs off and changes nothing else.
TEST_P(FaultTest, CssDataFilesAndTheirFoldersAreSyncedBeforeTheLinesThatNameThem) {
  // Two long channels, staged while the file is read, and two short ones written at the end.
  std::vector<std::string> channels;
  for (int s = 0; s < 4; ++s) {
    channels.push_back(PackChannel(StationName(s), "BHZ", "", kStart, 100.0,
                                   RandomWalk(s < 2 ? 300000 : 500, s + 50, 40), 4096));
  }
  const fs::path seed = workDir() / "four.seed";
  WriteFile(seed, InterleaveRecords(channels, 4096));
  const fs::path css = root() / "css";
  for (const bool synced : {true, false}) {
    SCOPED_TRACE(synced ? "synced" : "TARNVEL_NO_SYNC=1");
    fs::remove_all(css);
    const fs::path folder = css / "new";  // made by the run
    const fs::path wfdisc = folder / "out.wfdisc";
    const fs::path trace = workDir() / "trace.txt";
    fs::remove(trace);
    std::map<std::string, std::string> variables{{"SYNC_TRACE", trace.string()}};
    if (!synced) variables["TARNVEL_NO_SYNC"] = "1";
    const auto result = ConvertToCss(seed, wfdisc, SyncTraceLibrary(variables));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const auto lines = Lines(ReadFile(wfdisc));
    ASSERT_EQ(lines.size(), 4u);

    const auto calls = TracedCalls(trace, root());
    const auto first = [&](const std::string& call, const fs::path& path) {
      for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].first == call && calls[i].second == path.string()) return i;
      }
      return calls.size();
    };
    const auto last = [&](const std::string& call, const fs::path& path) {
      for (std::size_t i = calls.size(); i-- > 0;) {
        if (calls[i].first == call && calls[i].second == path.string()) return i;
      }
      return calls.size();
    };
    const std::size_t firstLine = first("write", wfdisc);
    ASSERT_LT(firstLine, calls.size());
    if (!synced) {
      for (const auto& [call, path] : calls) EXPECT_TRUE(call != "fdatasync" && call != "fsync");
      continue;
    }
    const std::size_t folderSync = first("fsync", folder);
    ASSERT_LT(folderSync, calls.size());
    EXPECT_LT(first("fsync", css), firstLine);  // where "new" was made
    EXPECT_LT(folderSync, firstLine);
    for (const std::string& line : lines) {
      const fs::path data = folder / WfdiscFields(line)[kWfdiscDfile];
      SCOPED_TRACE(data);
      const std::size_t named = std::min(last("write", data), last("linkat", data));
      const std::size_t sync = first("fdatasync", data);
      ASSERT_LT(named, calls.size());
      ASSERT_LT(sync, calls.size());
      EXPECT_LT(named, sync);
      if (last("write", data) < calls.size()) {
        EXPECT_LT(last("write", data), sync);
      }
      EXPECT_LT(sync, folderSync);
    }
    EXPECT_LT(last("write", wfdisc), first("fdatasync", wfdisc));
    EXPECT_EQ(first("fdatasync", wfdisc), calls.size() - 1 - (calls.back().first == "fsync"));
  }
}

// A data file that cannot be put on the disk (its sync fails) fails its segment alone: its
// error line names the data file, the file is removed, and no line names it. Files of an
// earlier run at the same names stay as they were, as do their lines. A wfdisc file that cannot
// be synced at the end fails every segment whose line went into it (the files stay, as those
// lines may have reached the disk).
TEST_P(FaultTest, ACssDataFileThatCannotBeSyncedFailsOnlyItsSegmentAndIsRemoved) {
  const auto threeStations = [&](const std::string& name, std::uint32_t seed) {
    std::string bytes;
    for (int s = 0; s < 3; ++s) {
      bytes += PackChannel(StationName(s), "BHZ", "", kStart, 20.0,
                           RandomWalk(400 + 100 * static_cast<std::size_t>(s), seed + s, 40));
    }
    WriteFile(workDir() / name, bytes);
    return workDir() / name;
  };
  const fs::path css = root() / "css";
  const fs::path wfdisc = css / "out.wfdisc";
  fs::create_directories(css);
  ASSERT_EQ(ConvertToCss(threeStations("earlier.seed", 1), wfdisc).exitCode, 0);
  std::map<std::string, std::string> earlier;
  for (const auto& entry : fs::directory_iterator(css)) {
    earlier[entry.path().filename().string()] = ReadFile(entry.path());
  }
  ASSERT_EQ(earlier.size(), 4u);

  const fs::path seed = threeStations("later.seed", 10);
  const fs::path failing = css / "20090321130500-F001-BHZ-1.w";
  const auto result =
      ConvertToCss(seed, wfdisc, SyncTraceLibrary({{"SYNC_FAIL", failing.filename().string()}}));
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_TRUE(result.output.ends_with("\rWriting to CSS-file - 100%\rCSS file write error (" +
                                      failing.string() +
                                      ")\n\rWriting to CSS-file - 100%\n\nWrote 2 wfdisc lines "
                                      "and 2 data files (1000 samples) to " +
                                      wfdisc.string() + "\n"))
      << result.output;
  EXPECT_FALSE(fs::exists(failing));
  for (const auto& [name, bytes] : earlier) {
    if (name != "out.wfdisc") {
      EXPECT_EQ(ReadFile(css / name), bytes) << name;
    }
  }
  const std::string text = ReadFile(wfdisc);
  EXPECT_EQ(text.substr(0, earlier["out.wfdisc"].size()), earlier["out.wfdisc"]);
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(WfdiscFields(lines[3])[kWfdiscDfile], "20090321130500-F000-BHZ-1.w");
  EXPECT_EQ(WfdiscFields(lines[4])[kWfdiscDfile], "20090321130500-F002-BHZ-1.w");
  EXPECT_EQ(ReadFile(css / "20090321130500-F002-BHZ-1.w").size(), 600u * 4);

  const auto unsynced = ConvertToCss(seed, wfdisc, SyncTraceLibrary({{"SYNC_FAIL", "out.wfdisc"}}));
  EXPECT_EQ(unsynced.exitCode, Code(-4)) << unsynced.output;
  EXPECT_EQ(CountOf(unsynced.output, "\rCSS file write error ("), 3u) << unsynced.output;
  EXPECT_TRUE(unsynced.output.ends_with("Wrote 0 wfdisc lines and 0 data files (0 samples) to " +
                                        wfdisc.string() + "\n"))
      << unsynced.output;
  EXPECT_EQ(Lines(ReadFile(wfdisc)).size(), 8u);
  EXPECT_TRUE(fs::exists(failing));  // free again, so taken this time
  EXPECT_TRUE(fs::exists(css / "20090321130500-F002-BHZ-2.w"));
}

TEST_P(FaultTest, ADataDirectoryWithoutWritePermissionFailsEverySegmentAndRegistersNothing) {
  if (const std::string why = UnprivilegedUnavailable(); !why.empty()) GTEST_SKIP() << why;
  const fs::path data = root() / "data";
  fs::create_directories(data);  // the test's own, not writable for the run's account
  std::string bytes;
  for (int s = 0; s < 3; ++s) {
    bytes += PackChannel(StationName(s), "BHZ", "00", kStart, 20.0,
                         RandomWalk(400, static_cast<std::uint32_t>(s + 1), 30));
  }
  const fs::path seed = workDir() / "three.seed";
  WriteFile(seed, bytes);

  std::vector<std::string> args{seed.string()};
  for (auto& arg : ConnectionArgs(data)) args.push_back(arg);
  const auto result = RunUnprivileged(args);
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  for (int s = 0; s < 3; ++s) {
    EXPECT_NE(
        result.output.find("\rDB write error (" + StationName(s) + "::BHZ::" + data.string() + "/" +
                           StationName(s) + "/13/21032009-130500-BHZ." + StationName(s) + ")\n"),
        std::string::npos)
        << result.output;
  }
  EXPECT_EQ(db().Count("FILELIST"), 0);
  EXPECT_TRUE(fs::is_empty(data));
}

// A stored file the run may read but not write, then not even read: converting it again finds
// its samples stored (or fails), continuing it fails, and nothing is ever stored a second time
// in a file of its own.
TEST_P(FaultTest, AStoredFileTheRunCannotWriteOrReadIsNeverStoredTwice) {
  if (const std::string why = UnprivilegedUnavailable(); !why.empty()) GTEST_SKIP() << why;
  const auto first = RandomWalk(12000, 271, 50);
  const fs::path seed = Seed("a.seed", "", kStart, 20.0, first);
  const fs::path more = Seed("b.seed", "", kStart + 600.0, 20.0, RandomWalk(1200, 272, 50));
  ASSERT_EQ(Convert(seed, Data()).exitCode, 0);
  // The store belongs to the run's account; only the file is out of its reach.
  ASSERT_EQ(::chown(Data().c_str(), kUnprivilegedId, kUnprivilegedId), 0);
  for (const auto& entry : fs::recursive_directory_iterator(Data())) {
    ASSERT_EQ(::chown(entry.path().c_str(), kUnprivilegedId, kUnprivilegedId), 0);
  }
  const fs::path file = Data() / StoredFiles(db()).at(0).cpath;
  const StoreSnapshot stored = SnapshotOf(db(), Data());
  auto convert = [&](const fs::path& input) {
    std::vector<std::string> args{input.string()};
    for (auto& arg : ConnectionArgs(Data())) args.push_back(arg);
    return RunUnprivileged(args);
  };

  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto result = convert(seed);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(SnapshotOf(db(), Data()) == stored);
  result = convert(more);
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_NE(result.output.find("Open Err: \n" + file.string() + "\n"), std::string::npos)
      << result.output;
  EXPECT_TRUE(SnapshotOf(db(), Data()) == stored);

  fs::permissions(file, fs::perms::none);
  result = convert(seed);
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_NE(result.output.find("Open Err: \n" + file.string() + "\n"), std::string::npos)
      << result.output;
  EXPECT_TRUE(SnapshotOf(db(), Data()) == stored);
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, first});
}

TEST_P(FaultTest, ATruncatedLastRecordIsIgnoredAndTheRecordsBeforeItAreStored) {
  const auto samples = RandomWalk(6000, 21, 200);
  const std::string whole = PackChannel("ABC", "BHZ", "", kStart, 20.0, samples);
  ASSERT_GT(whole.size(), 3 * 512u);
  const std::string cut = whole.substr(0, whole.size() - 512 + 300);
  const fs::path seed = workDir() / "cut.seed";
  WriteFile(seed, cut);

  const auto result = Convert(seed, root() / "data");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("\n\nIgnored an incomplete last record (300 of 512 bytes)\n"),
            std::string::npos)
      << result.output;
  const auto complete = DecodeChannels(whole.substr(0, whole.size() - 512), 512);
  ASSERT_EQ(complete.size(), 1u);
  ExpectSamples(ExpectedChannel{"ABC", "BHZ", "??", kStart, 20.0, complete[0].samples});
  EXPECT_EQ(StoredFiles(db()).size(), 1u);
}

// A SEED file of 256-byte records: the records of `front`, a long hole of zero bytes (which
// holds no data records and takes a while to read), then the records of `back`.
struct HoledFile {
  std::string front;
  std::string back;
  std::uintmax_t hole = 64u << 20;
};

void WriteHoled(const fs::path& path, const HoledFile& file, bool withBack) {
  WriteFile(path, file.front);
  fs::resize_file(path, file.front.size() + file.hole);
  if (withBack) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << file.back;
  }
}

// Stops a run while it reads, once it has printed its first reading progress; returns the last
// percentage printed, or -1 when the run could not be caught reading.
int StopWhileReading(BackgroundProcess& run) {
  std::string seen;
  if (!run.WaitForOutput([&](const std::string& out) {
        if (out.find("Converting File - ") == std::string::npos) return false;
        ::kill(run.pid(), SIGSTOP);
        return true;
      })) {
    return -1;
  }
  const std::string out = run.Output();
  if (out.find("Writing to") != std::string::npos) return -1;
  const auto at = out.rfind("Converting File - ");
  return std::stoi(out.substr(at + 18, 2));
}

// `run` stopped while it reads, before `mostPercent` of its file; none (the failure recorded)
// when it could not be caught there.
std::unique_ptr<BackgroundProcess> CaughtReading(std::unique_ptr<BackgroundProcess> run,
                                                 int mostPercent) {
  const int percent = StopWhileReading(*run);
  if (percent < 0 || percent >= mostPercent) {
    ADD_FAILURE() << "the run could not be caught reading before " << mostPercent
                  << "% (stopped at " << percent << "): " << run->Output();
    return nullptr;
  }
  return run;
}

std::vector<int> PercentagesPrinted(const std::string& output) {
  std::vector<int> out;
  const std::regex line("Converting File - ([0-9]+)%");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
       it != std::sregex_iterator(); ++it) {
    out.push_back(std::stoi((*it)[1]));
  }
  return out;
}

TEST_P(FaultTest, AFileThatGrowsWhileItIsReadIsReadToItsNewEnd) {
  const auto first = RandomWalk(3000, 31, 100);
  const auto second = RandomWalk(2000, 32, 100);
  HoledFile file{PackChannel("ABC", "BHZ", "", kStart, 20.0, first, 256),
                 PackChannel("ABC", "BHZ", "", kStart + 3600.0, 20.0, second, 256)};
  const fs::path seed = workDir() / "growing.seed";
  WriteHoled(seed, file, false);

  auto run = CaughtReading(StartConvert(seed, root() / "data", "output.txt"), 90);
  ASSERT_NE(run, nullptr);
  {
    std::ofstream out(seed, std::ios::binary | std::ios::app);
    out << file.back;
  }
  ::kill(run->pid(), SIGCONT);
  const int code = run->Wait();
  const std::string output = run->Output();

  EXPECT_EQ(code, 0) << output;
  for (int p : PercentagesPrinted(output)) EXPECT_LE(p, 100);
  EXPECT_NE(output.find("\rWriting to database - 100%\n\n"), std::string::npos) << output;
  EXPECT_EQ(StoredFiles(db()).size(), 2u);
  ExpectSamples(ExpectedChannel{"ABC", "BHZ", "??", kStart, 20.0, first});
  ExpectSamples(ExpectedChannel{"ABC", "BHZ", "??", kStart + 3600.0, 20.0, second});
}

TEST_P(FaultTest, AFileCutShortWhileItIsReadEndsTheReadingAtTheNewEnd) {
  const auto first = RandomWalk(3000, 41, 100);
  HoledFile file{
      PackChannel("ABC", "BHZ", "", kStart, 20.0, first, 256),
      PackChannel("ABC", "BHZ", "", kStart + 3600.0, 20.0, RandomWalk(2000, 42, 9), 256)};
  const fs::path seed = workDir() / "shrinking.seed";
  WriteHoled(seed, file, true);

  auto run = CaughtReading(StartConvert(seed, root() / "data", "output.txt"), 80);
  ASSERT_NE(run, nullptr);
  // Cut inside the hole, ahead of the reader and in the middle of a 256-byte piece.
  const std::uintmax_t size = fs::file_size(seed);
  fs::resize_file(seed, size / 10 * 9 / 256 * 256 + 100);
  ::kill(run->pid(), SIGCONT);
  const int code = run->Wait();
  const std::string output = run->Output();

  EXPECT_EQ(code, 0) << output;
  EXPECT_NE(output.find("\n\nIgnored an incomplete last record (100 of 256 bytes)\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(StoredFiles(db()).size(), 1u);
  ExpectSamples(ExpectedChannel{"ABC", "BHZ", "??", kStart, 20.0, first});
}

// An ini file that cannot be read counts as missing: the settings come from qor.ini, and
// without one from the built-in defaults.
TEST_P(FaultTest, AnIniFileThatIsAFolderFallsBackToQorIniAndTheDefaults) {
  const auto samples = RandomWalk(400, 51, 30);
  const fs::path seed = workDir() / "one.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart, 20.0, samples));
  fs::remove(programDir() / "tarnvel.ini");
  fs::create_directories(programDir() / "tarnvel.ini");

  const auto defaults = Run({seed.string()});
  EXPECT_EQ(defaults.exitCode, Code(-1)) << defaults.output;
  EXPECT_EQ(defaults.output, "Connection error (ODBC: QOR, USER: QOR)\n");

  const fs::path data = root() / "data";
  WritePrivateFile(programDir() / "qor.ini",
                   "[DATABASE]\nODBC=" + db().dsn() + "\nUSER=" + db().user() +
                       "\nPASSWORD=" + db().password() + "\n[DATA]\nDIR=" + data.string() + "\n");
  const auto fromQorIni = Run({seed.string()});
  EXPECT_EQ(fromQorIni.exitCode, 0) << fromQorIni.output;
  UseStoreDir(data);
  EXPECT_EQ(StoredFiles(db()).size(), 1u);
  ExpectSamples(ExpectedChannel{"ABC", "BHZ", "??", kStart, 20.0, samples});
}

TEST_P(FaultTest, AnIniFileWithoutReadPermissionIsPassedOverForQorIni) {
  if (const std::string why = UnprivilegedUnavailable(); !why.empty()) GTEST_SKIP() << why;
  const auto samples = RandomWalk(400, 61, 30);
  const fs::path seed = workDir() / "one.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart, 20.0, samples));
  const fs::path data = root() / "data";
  fs::create_directories(data);
  ASSERT_EQ(::chown(data.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
  // The unreadable file names a data source that does not exist; qor.ini the test database.
  WriteFile(programDir() / "tarnvel.ini",
            "[DATABASE]\nODBC=" + TestDatabase::MissingDsn() + "\nUSER=nobody\n");
  fs::permissions(programDir() / "tarnvel.ini", fs::perms::none);
  WritePrivateFile(programDir() / "qor.ini",
                   "[DATABASE]\nODBC=" + db().dsn() + "\nUSER=" + db().user() +
                       "\nPASSWORD=" + db().password() + "\n[DATA]\nDIR=" + data.string() + "\n");
  // Readable by the user who runs the converter, and by no one else.
  ASSERT_EQ(::chown((programDir() / "qor.ini").c_str(), kUnprivilegedId, kUnprivilegedId), 0);

  const auto result = RunUnprivileged({seed.string()});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  UseStoreDir(data);
  EXPECT_EQ(StoredFiles(db()).size(), 1u);
  ExpectSamples(ExpectedChannel{"ABC", "BHZ", "??", kStart, 20.0, samples});
}

// 30 minutes of one channel from kStart and the 10 minutes after them, stored by two runs:
// one file (the second run continued the first's), path kFirstFile.
constexpr const char* kFirstFile = "ABC/13/21032009-130500-BHZ.ABC";

// The run ended well and said why it did not continue the first file.
void ExpectNotContinued(const ProcessResult& result, const std::string& why, const fs::path& file) {
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("\rNot continued, " + why + " (" + file.string() + ")\n"),
            std::string::npos)
      << result.output;
}

TEST_P(FaultTest, AFileLongerThanItsRowIsCutBackToItThenContinued) {
  const auto first = RandomWalk(36000, 211, 50);
  const auto second = RandomWalk(12000, 212, 50);
  ASSERT_EQ(Convert(Seed("a.seed", "", kStart, 20.0, first), Data()).exitCode, 0);
  // What an append leaves when its converter dies before the row is updated: samples and a
  // piece of one more.
  {
    std::ofstream out(Data() / kFirstFile, std::ios::binary | std::ios::app);
    out << std::string(4 * 25 + 2, '\x7f');
  }
  const auto result = Convert(Seed("b.seed", "", kStart + 1800.0, 20.0, second), Data());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output.find("Not continued"), std::string::npos) << result.output;
  EXPECT_EQ(db().Query("select CPATH from FILELIST"), (std::vector<Row>{{kFirstFile}}));
  std::vector<std::int32_t> both = first;
  both.insert(both.end(), second.begin(), second.end());
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, both});
}

// A file cut short is never continued nor written to; converting its data again restores it
// through a staged copy, never storing the samples it still holds a second time elsewhere.
TEST_P(FaultTest, AFileShorterThanItsRowIsNeverContinuedOnlyRestoredByConvertingItAgain) {
  const auto first = RandomWalk(36000, 221, 50);
  const auto second = RandomWalk(12000, 222, 50);
  ASSERT_EQ(Convert(Seed("a.seed", "", kStart, 20.0, first), Data()).exitCode, 0);
  fs::resize_file(Data() / kFirstFile, 512 + 4 * 35000);
  const std::string damaged = ReadFile(Data() / kFirstFile);
  const auto result = Convert(Seed("b.seed", "", kStart + 1800.0, 20.0, second), Data());
  ExpectNotContinued(result, "the file is shorter than its FILELIST row", Data() / kFirstFile);
  EXPECT_EQ(ReadFile(Data() / kFirstFile), damaged);
  EXPECT_EQ(db().Query("select CPATH from FILELIST order by TBEGIN"),
            (std::vector<Row>{{kFirstFile}, {"ABC/13/21032009-133500-BHZ.ABC"}}));
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, {first.begin(), first.begin() + 35000}});
  ExpectSamples({"ABC", "BHZ", "??", kStart + 1800.0, 20.0, second});
  ExpectProblems({std::string("size: ") + kFirstFile});
  CheckStore(db(), Data());

  // Its first ten minutes converted again: the row describes the samples the file holds.
  const fs::path part = Seed("part.seed", "", kStart, 20.0, {first.begin(), first.begin() + 12000});
  auto again = Convert(part, Data());
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(
      db().QueryNumber("select TQTY from FILELIST where CPATH='" + std::string(kFirstFile) + "'"),
      1750.0);
  ExpectProblems({});
  CheckStore(db(), Data());
  // The whole file converted again: the samples cut off are stored again (appended, or in a
  // file of their own when the later file's load date is as recent), each once.
  again = Convert(workDir() / "a.seed", Data());
  EXPECT_EQ(again.exitCode, 0) << again.output;
  ForgetSamples();
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, first});
  ExpectSamples({"ABC", "BHZ", "??", kStart + 1800.0, 20.0, second});
  CheckStore(db(), Data());
}

TEST_P(FaultTest, AContinuationWhoseFileVanishedStartsANewFileAndTheChannelGoesOn) {
  const auto first = RandomWalk(36000, 231, 50);
  const auto second = RandomWalk(12000, 232, 50);
  const auto third = RandomWalk(6000, 233, 50);
  ASSERT_EQ(Convert(Seed("a.seed", "", kStart, 20.0, first), Data()).exitCode, 0);
  fs::remove(Data() / kFirstFile);
  const auto result = Convert(Seed("b.seed", "", kStart + 1800.0, 20.0, second), Data());
  ExpectNotContinued(result, "the registered file is missing", Data() / kFirstFile);
  // The next conversion continues the new file.
  const auto next = Convert(Seed("c.seed", "", kStart + 2400.0, 20.0, third), Data());
  EXPECT_EQ(next.exitCode, 0) << next.output;
  EXPECT_EQ(next.output.find("Not continued"), std::string::npos) << next.output;
  EXPECT_EQ(db().Query("select CPATH from FILELIST order by TBEGIN"),
            (std::vector<Row>{{kFirstFile}, {"ABC/13/21032009-133500-BHZ.ABC"}}));
  std::vector<std::int32_t> later = second;
  later.insert(later.end(), third.begin(), third.end());
  ExpectSamples({"ABC", "BHZ", "??", kStart + 1800.0, 20.0, later});
  ExpectProblems({std::string("missing: ") + kFirstFile});
}

TEST_P(FaultTest, AChannelLockThatCannotBeTakenIsAnOpenError) {
  fs::create_directories(Data());
  WriteFile(Data() / ".lock", "a plain file where the lock folder belongs");
  const auto result = Convert(Seed("a.seed", "", kStart, 20.0, RandomWalk(400, 271, 30)), Data());
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  const std::string path = (Data() / kFirstFile).string();
  EXPECT_NE(result.output.find("\n\nOpen Err: \n" + path + "\n\rDB write error (ABC::BHZ::" + path +
                               ")\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(db().Count("FILELIST"), 0);
  ExpectProblems({"unregistered: .lock"});
}

// A database that refuses every change while data are converted again, continued or added
// (with an error, or `silently`, reporting success for a change it did not make): each of
// those segments fails, and rows and files stay exactly as they were.
void FaultTest::ExpectRefusedChangesLeaveTheStore(bool silently) {
  const auto first = RandomWalk(36000, 241, 50);
  const auto second = RandomWalk(12000, 242, 50);
  ASSERT_EQ(Convert(Seed("a.seed", "00", kStart, 20.0, first), Data()).exitCode, 0);
  ASSERT_EQ(Convert(Seed("b.seed", "00", kStart + 1800.0, 20.0, second), Data()).exitCode, 0);
  std::vector<std::int32_t> both = first;
  both.insert(both.end(), second.begin(), second.end());
  ExpectSamples({"ABC", "BHZ", "00", kStart, 20.0, both});
  const StoreSnapshot stored = SnapshotOf(db(), Data());
  RefuseChanges(silently);

  auto corrected = first;
  corrected[7] += 1;
  const std::vector<fs::path> refused = {
      Seed("corrected.seed", "00", kStart, 20.0, corrected),
      Seed("next.seed", "00", kStart + 2400.0, 20.0, RandomWalk(600, 243, 50)),
      Seed("elsewhere.seed", "00", kStart + 86400.0, 20.0, RandomWalk(600, 244, 50)),
  };
  for (const fs::path& seed : refused) {
    SCOPED_TRACE(seed.filename().string());
    const auto result = Convert(seed, Data());
    EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
    EXPECT_EQ(CountOf(result.output, "\rDB write error (ABC::BHZ::"), 1u) << result.output;
    EXPECT_TRUE(SnapshotOf(db(), Data()) == stored);
  }
  // Data already stored need no change: converting them again succeeds.
  const auto again = Convert(workDir() / "a.seed", Data());
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_TRUE(SnapshotOf(db(), Data()) == stored);
}

// Segments of one run are committed together: a refusal in the middle of them fails its own
// segment only, and those stored before and after it in the same run stay stored.
TEST_P(FaultTest, ARefusalAmongSegmentsCommittedTogetherFailsOnlyItsOwnSegment) {
  RefuseRowsOf("DEF");
  std::vector<ExpectedChannel> kept;
  std::string bytes;
  for (const std::string station : {"ABC", "DEF", "GHI"}) {
    auto samples = RandomWalk(1200, static_cast<std::uint32_t>(station[0]), 50);
    bytes += PackChannel(station, "BHZ", "", kStart, 20.0, samples);
    if (station != "DEF") kept.push_back({station, "BHZ", "??", kStart, 20.0, std::move(samples)});
  }
  const fs::path seed = workDir() / "three.seed";
  WriteFile(seed, bytes);
  const auto result = Convert(seed, Data());
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_EQ(CountOf(result.output, "\rDB write error ("), 1u) << result.output;
  EXPECT_EQ(CountOf(result.output, "\rDB write error (DEF::BHZ::"), 1u) << result.output;
  EXPECT_EQ(AllStoreProblems(StoredFiles(db()), Data(), kept), std::vector<std::string>{});
  EXPECT_EQ(db().Count("FILELIST"), 2);
}

// A failed segment is named by the file its storing tried: a code shorter than its field, a
// second file of one second, and two location codes of one channel each give their own name.
TEST_P(FaultTest, AFailedSegmentNamesTheFileItsStoringTried) {
  const auto first = RandomWalk(400, 281, 30);
  const auto tenth = RandomWalk(400, 282, 30);
  ASSERT_EQ(Convert(Seed("a.seed", "00", kStart, 20.0, first), Data()).exitCode, 0);
  RefuseRowsWhere("new.LCODE='20' or new.STA='AB'");
  const fs::path seed = workDir() / "three.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "10", kStart, 20.0, tenth) +
                      PackChannel("ABC", "BHZ", "20", kStart, 20.0, RandomWalk(400, 283, 30)) +
                      PackChannel("AB", "HZ", "", kStart, 20.0, RandomWalk(400, 284, 30)));
  const auto result = Convert(seed, Data());
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  const std::string data = Data().string();
  EXPECT_EQ(CountOf(result.output, "\rDB write error ("), 2u) << result.output;
  EXPECT_NE(result.output.find("\rDB write error (ABC::BHZ::" + data +
                               "/ABC/13/21032009-130500-BHZ-2.ABC)\n"),
            std::string::npos)
      << result.output;
  EXPECT_NE(
      result.output.find("\rDB write error (AB::HZ::" + data + "/AB/13/21032009-130500- HZ. AB)\n"),
      std::string::npos)
      << result.output;
  EXPECT_EQ(db().Query("select LCODE, CPATH from FILELIST order by LCODE"),
            (std::vector<Row>{{"00", "ABC/13/21032009-130500-BHZ.ABC"},
                              {"10", "ABC/13/21032009-130500-BHZ-1.ABC"}}));
  EXPECT_EQ(AllStoreProblems(StoredFiles(db()), Data(),
                             {{"ABC", "BHZ", "00", kStart, 20.0, first},
                              {"ABC", "BHZ", "10", kStart, 20.0, tenth}}),
            std::vector<std::string>{});
}

// A piece that replaces stored samples commits in its middle and goes on with new samples in
// the next transaction; a later segment's failure undoes that transaction, and the piece's
// segment is stored again instead of losing its new samples without a line.
TEST_P(FaultTest, ASegmentCommittedInItsMiddleKeepsItsRestWhenALaterSegmentFails) {
  const auto first = RandomWalk(4000, 61, 50);
  const auto again = RandomWalk(3000, 62, 50);
  const fs::path stored = workDir() / "stored.seed";
  WriteFile(stored, PackChannel("ABC", "BHZ", "", kStart, 20.0, first));
  ASSERT_EQ(Convert(stored, Data()).exitCode, 0);

  const fs::path outside = root() / "outside";
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, Data() / "DEF");
  const fs::path seed = workDir() / "over-and-on.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart + 100.0, 20.0, again) +
                      PackChannel("DEF", "BHZ", "", kStart, 20.0, RandomWalk(300, 63, 50)));
  const auto result = Convert(seed, Data());
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_EQ(CountOf(result.output, "\rDB write error ("), 1u) << result.output;
  EXPECT_EQ(CountOf(result.output, "\rDB write error (DEF::BHZ::"), 1u) << result.output;
  std::vector<std::int32_t> kept(first.begin(), first.begin() + 2000);
  kept.insert(kept.end(), again.begin(), again.end());
  EXPECT_EQ(AllStoreProblems(StoredFiles(db()), Data(),
                             {ExpectedChannel{"ABC", "BHZ", "??", kStart, 20.0, kept}}),
            std::vector<std::string>{});
  EXPECT_TRUE(fs::is_empty(outside));
}

TEST_P(FaultTest, ADatabaseThatRefusesChangesLeavesTheStoreAsItWas) {
  ExpectRefusedChangesLeaveTheStore(false);
}

// A trigger that drops the row of an insert reports success all the same: a file without its
// row is no stored segment.
TEST_P(FaultTest, ADatabaseThatDropsChangesSilentlyLeavesTheStoreAsItWas) {
  ExpectRefusedChangesLeaveTheStore(true);
}

// The statvfs free space of the file system holding `path`.
std::uint64_t FreeBytes(const fs::path& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// Grows `filler` until the file system holding it has `free` bytes left (to a page).
void FillTo(const fs::path& filler, std::uint64_t free) {
  const std::uint64_t now = FreeBytes(filler.parent_path());
  ASSERT_GT(now, free);
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  struct stat info {};
  ::fstat(fd, &info);
  ASSERT_EQ(::posix_fallocate(fd, info.st_size, static_cast<off_t>(now - free)), 0);
  ::close(fd);
}

// On a file system running low, the channel's oldest files of this converter are deleted, no
// more than needed, never one this run stored into nor the one it continues.
TEST_P(FaultTest, ALowDiskDeletesTheOldestFilesButNoneThisRunStoresInto) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  Mount disk(root() / "fs", "24m");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  const fs::path data = root() / "fs" / "data";
  const fs::path filler = root() / "fs" / "filler";
  constexpr std::uint64_t kFloor = 10485760;
  constexpr double kRate = 100.0;
  constexpr std::size_t kHour = 360000;

  // Earlier runs: 2.5 hours in files O1, O2 (an hour each) and O3 (half an hour).
  const auto old = RandomWalk(kHour * 5 / 2, 251, 50);
  ASSERT_EQ(Convert(Seed("old.seed", "", kStart, kRate, old), data).exitCode, 0);
  ASSERT_EQ(db().Count("FILELIST"), 3);
  const std::string o1 = "ABC/13/21032009-130500-BHZ.ABC";
  const std::string o2 = "ABC/14/21032009-140500-BHZ.ABC";
  const std::string o3 = "ABC/15/21032009-150500-BHZ.ABC";

  // Just below the floor: one file deleted is enough, and no more goes.
  FillTo(filler, kFloor - 100000);
  const auto x = RandomWalk(kHour / 2, 252, 50);  // half an hour, a day later: N1
  auto result = Convert(Seed("x.seed", "", kStart + 86400.0, kRate, x), data);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(db().Query("select CPATH from FILELIST order by TBEGIN"),
            (std::vector<Row>{{o2}, {o3}, {"ABC/13/22032009-130500-BHZ.ABC"}}));

  // Far below: every older file goes, but N1, which this run continues and extends, and the
  // new file after it stay.
  FillTo(filler, kFloor - 3500000);
  const auto y = RandomWalk(kHour * 3 / 2, 253, 50);  // N1's next hour and a half
  result = Convert(Seed("y.seed", "", kStart + 86400.0 + 1800.0, kRate, y), data);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(
      db().Query("select CPATH from FILELIST order by TBEGIN"),
      (std::vector<Row>{{"ABC/13/22032009-130500-BHZ.ABC"}, {"ABC/14/22032009-143500-BHZ.ABC"}}));
  std::vector<std::int32_t> kept = x;
  kept.insert(kept.end(), y.begin(), y.end());
  ExpectSamples({"ABC", "BHZ", "??", kStart + 86400.0, kRate, kept});
  CheckStore(db(), data);  // before the file system goes
}

std::vector<std::int32_t> FaultTest::StoreEarlierRunsOnASmallDisk() {
  const auto old = RandomWalk(360000 * 5 / 2, 251, 50);
  EXPECT_EQ(Convert(Seed("old.seed", "", kStart, 100.0, old), LowDiskData()).exitCode, 0);
  EXPECT_EQ(db().Count("FILELIST"), 3);
  return old;
}

// A database that keeps a row the quota deletes (a trigger, reporting success): the file stays
// with its row, and the segment is stored all the same.
TEST_P(FaultTest, ALowDiskRemovesNoFileWhoseRowStays) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  Mount disk(root() / "fs", "24m");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  const auto old = StoreEarlierRunsOnASmallDisk();
  const auto stored = SnapshotOf(db(), LowDiskData());
  RefuseChanges(true, {"delete"});
  FillTo(root() / "fs" / "filler", 10485760 - 100000);

  const auto x = RandomWalk(6000, 254, 50);
  const auto result = Convert(Seed("x.seed", "", kStart + 86400.0, 100.0, x), LowDiskData());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(db().Count("FILELIST"), 4);
  for (const auto& [path, bytes] : stored.files) {
    EXPECT_TRUE(ReadFile(LowDiskData() / path) == bytes) << path;
  }
  ExpectSamples({"ABC", "BHZ", "??", kStart, 100.0, old});
  ExpectSamples({"ABC", "BHZ", "??", kStart + 86400.0, 100.0, x});
  CheckStore(db(), LowDiskData());  // before the file system goes
}

// A run whose quota deletes the oldest file, killed anywhere (between a row's delete and its
// file's removal too), then converted again: no file is left without its row.
TEST_P(FaultTest, ALowDiskRunKilledAnywhereLeavesNoFileWithoutItsRow) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  Mount disk(root() / "fs", "24m");
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  const auto old = StoreEarlierRunsOnASmallDisk();
  FillTo(root() / "fs" / "filler", 10485760 - 100000);
  const auto x = RandomWalk(6000, 255, 50);
  // The oldest file goes, and no more.
  const std::vector<ExpectedChannel> expected = {
      {"ABC", "BHZ", "??", kStart + 3600.0, 100.0, {old.begin() + 360000, old.end()}},
      {"ABC", "BHZ", "??", kStart + 86400.0, 100.0, x}};
  ExpectEveryKillCompletedByConvertingAgain(Seed("x.seed", "", kStart + 86400.0, 100.0, x),
                                            LowDiskData(), expected);
  EXPECT_EQ(db().Count("FILELIST"), 3);
  ExpectSamples(expected[0]);
  ExpectSamples(expected[1]);
  CheckStore(db(), LowDiskData());  // before the file system goes
}

// A conversion killed right before each of its changes to files or the database, then
// converted again, leaves a complete and consistent store.
TEST_P(FaultTest, AConversionKilledAnywhereIsCompletedByConvertingItAgain) {
  const auto base = RandomWalk(36000, 261, 50);    // 13:05-13:35, stored beforehand
  const auto onward = RandomWalk(96000, 262, 50);  // 13:35-14:55: continues, then a new file
  const auto other = RandomWalk(3000, 263, 50);    // another station, a new file
  auto corrected = base;                           // the first minute again, changed
  corrected.resize(1200);
  corrected[3] += 5;
  // A fast channel, continued: at 200 sps its TQTY (5.00) leaves the count of its 1001 samples
  // to the file's size, so an append stopped before its row was extended goes back to exactly
  // that size.
  const auto fast = RandomWalk(1001, 264, 50);
  const auto fastOnward = RandomWalk(400, 265, 50);
  // A file cut short after it was stored, restored by converting its data again.
  const auto shortened = RandomWalk(6000, 266, 50);
  const fs::path baseSeed = workDir() / "base.seed";
  WriteFile(baseSeed, PackChannel("ABC", "BHZ", "", kStart, 20.0, base) +
                          PackChannel("ABC", "HHZ", "", kStart, 200.0, fast) +
                          PackChannel("ABC", "EHZ", "", kStart, 20.0, shortened));
  const fs::path run = workDir() / "run.seed";
  WriteFile(run, PackChannel("ABC", "BHZ", "", kStart + 1800.0, 20.0, onward) +
                     PackChannel("DEF", "BHZ", "", kStart, 20.0, other) +
                     PackChannel("ABC", "BHZ", "", kStart, 20.0, corrected) +
                     PackChannel("ABC", "HHZ", "", kStart + 5.005, 200.0, fastOnward) +
                     PackChannel("ABC", "EHZ", "", kStart, 20.0, shortened));
  std::vector<std::int32_t> abc = base;
  std::copy(corrected.begin(), corrected.end(), abc.begin());
  abc.insert(abc.end(), onward.begin(), onward.end());
  std::vector<std::int32_t> hhz = fast;
  hhz.insert(hhz.end(), fastOnward.begin(), fastOnward.end());
  const std::vector<ExpectedChannel> expected = {{"ABC", "BHZ", "??", kStart, 20.0, abc},
                                                 {"DEF", "BHZ", "??", kStart, 20.0, other},
                                                 {"ABC", "HHZ", "??", kStart, 200.0, hhz},
                                                 {"ABC", "EHZ", "??", kStart, 20.0, shortened}};
  ASSERT_EQ(Convert(baseSeed, Data()).exitCode, 0);
  fs::resize_file(Data() / "ABC/13/21032009-130500-EHZ.ABC", 512 + 4 * 5000);
  ExpectEveryKillCompletedByConvertingAgain(run, Data(), expected);
  for (const ExpectedChannel& channel : expected) ExpectSamples(channel);
}

void FaultTest::ExpectEveryKillCompletedByConvertingAgain(
    const fs::path& seed, const fs::path& data, const std::vector<ExpectedChannel>& expected) {
  KeepStoreAside(data);
  const fs::path counted = workDir() / "count.txt";
  PutStoreBack(data);
  ASSERT_EQ(ConvertWith(seed, KillLibrary("KILL_AT_COUNT", counted.string()), data).exitCode, 0);
  const long calls = std::stol(ReadFile(counted));
  ASSERT_GT(calls, 10);
  EXPECT_EQ(AllStoreProblems(StoredFiles(db()), data, expected), std::vector<std::string>{});

  const long step = GetParam() == DatabaseKind::kSqlite ? 1 : std::max(1L, calls / 12);
  for (long at = 1; at <= calls; at += step) {
    SCOPED_TRACE("killed before change " + std::to_string(at) + " of " + std::to_string(calls));
    PutStoreBack(data);
    const auto killed = ConvertWith(seed, KillLibrary("KILL_AT_CALL", std::to_string(at)), data);
    // Transactions are committed at most about half a second apart, so a slow run (a loaded
    // machine, a sanitizer) may commit more often than the counted one, a fast one less: near
    // the end a run may finish before the chosen call.
    if (killed.exitCode != 0 || at <= calls - calls / 4) {
      ASSERT_EQ(killed.exitCode, -1000) << killed.output;
    }
    const auto again = Convert(seed, data);
    ASSERT_EQ(again.exitCode, 0) << again.output;
    ASSERT_EQ(AllStoreProblems(StoredFiles(db()), data, expected), std::vector<std::string>{});
  }
}

fs::path FaultTest::StoreAChannelAndItsContinuation(std::vector<ExpectedChannel>& stored,
                                                    std::vector<ExpectedChannel>& run) {
  const auto base = RandomWalk(36000, 281, 50);
  const auto onward = RandomWalk(96000, 282, 50);
  const auto fast = RandomWalk(1001, 283, 50);
  const auto fastOnward = RandomWalk(400, 284, 50);
  const auto other = RandomWalk(3000, 285, 50);
  const fs::path baseSeed = workDir() / "base.seed";
  WriteFile(baseSeed, PackChannel("ABC", "BHZ", "", kStart, 20.0, base) +
                          PackChannel("ABC", "HHZ", "", kStart, 200.0, fast));
  EXPECT_EQ(Convert(baseSeed, Data()).exitCode, 0);
  const fs::path seed = workDir() / "run.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart + 1800.0, 20.0, onward) +
                      PackChannel("DEF", "BHZ", "", kStart, 20.0, other) +
                      PackChannel("ABC", "HHZ", "", kStart + 5.005, 200.0, fastOnward));
  std::vector<std::int32_t> bhz = base;
  bhz.insert(bhz.end(), onward.begin(), onward.end());
  std::vector<std::int32_t> hhz = fast;
  hhz.insert(hhz.end(), fastOnward.begin(), fastOnward.end());
  stored = {{"ABC", "BHZ", "??", kStart, 20.0, base}, {"ABC", "HHZ", "??", kStart, 200.0, fast}};
  run = {{"ABC", "BHZ", "??", kStart, 20.0, bhz},
         {"DEF", "BHZ", "??", kStart, 20.0, other},
         {"ABC", "HHZ", "??", kStart, 200.0, hhz}};
  return seed;
}

// The notes under every channel lock below `data`, by lock file (empty ones left out).
std::map<std::string, std::string> LockNotes(const fs::path& data) {
  std::map<std::string, std::string> notes;
  if (!fs::exists(data / ".lock")) return notes;
  for (const auto& entry : fs::directory_iterator(data / ".lock")) {
    const std::string text = ReadFile(entry.path());
    if (!text.empty()) notes[entry.path().filename().string()] = text;
  }
  return notes;
}

// A run killed anywhere leaves no header claiming more than its committed row, and whatever it
// left half done is settled by the next conversion into the store, of any channel: the store
// is then sound, with everything stored before and nothing of the killed run stored twice.
TEST_P(FaultTest, AKilledRunIsSettledByTheNextConversionOfAnyChannel) {
  std::vector<ExpectedChannel> stored;
  std::vector<ExpectedChannel> run;
  const fs::path seed = StoreAChannelAndItsContinuation(stored, run);
  const auto unrelated = RandomWalk(400, 286, 50);
  const fs::path other = workDir() / "other.seed";
  WriteFile(other, PackChannel("XYZ", "LHZ", "", kStart, 20.0, unrelated));
  // What the killed run added may or may not be stored; what was stored before must be.
  std::vector<ExpectedChannel> expected = run;
  expected[0].mayBeMissingFrom = stored[0].samples.size();
  expected[1].mayBeMissingFrom = 0;
  expected[2].mayBeMissingFrom = stored[1].samples.size();
  expected.push_back({"XYZ", "LHZ", "??", kStart, 20.0, unrelated});

  KeepStoreAside(Data());
  const fs::path counted = workDir() / "count.txt";
  ASSERT_EQ(ConvertWith(seed, KillLibrary("KILL_AT_COUNT", counted.string())).exitCode, 0);
  const long calls = std::stol(ReadFile(counted));
  ASSERT_GT(calls, 10);
  const long step = std::max(1L, calls / (GetParam() == DatabaseKind::kSqlite ? 60 : 15));
  for (long at = 1; at <= calls; at += step) {
    SCOPED_TRACE("killed before change " + std::to_string(at) + " of " + std::to_string(calls));
    PutStoreBack(Data());
    const auto killed = ConvertWith(seed, KillLibrary("KILL_AT_CALL", std::to_string(at)));
    ASSERT_EQ(killed.exitCode, -1000) << killed.output;
    // Rows are committed after their files; headers follow their rows, never ahead of them.
    ASSERT_EQ(HeadersAheadOfRows(StoredFiles(db()), Data()), std::vector<std::string>{});

    const auto next = Convert(other, Data());
    ASSERT_EQ(next.exitCode, 0) << next.output;
    ASSERT_EQ(AllStoreProblems(StoredFiles(db()), Data(), expected), std::vector<std::string>{});
    ASSERT_EQ(LockNotes(Data()), (std::map<std::string, std::string>{}));
  }
  for (const ExpectedChannel& channel : expected) ExpectSamples(channel);
}

// Notes in a channel's lock act on that channel's own files only: forged notes naming another
// channel's file, another program's, a path outside the store or no note at all are left alone
// and named in the debug output, while the channel's own note is settled.
TEST_P(FaultTest, LockNotesNamingOtherFilesAreIgnoredAndNamedInTheDebugOutput) {
  const auto abc = RandomWalk(1200, 291, 50);
  const auto def = RandomWalk(1200, 292, 50);
  const fs::path seed = workDir() / "two.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart, 20.0, abc) +
                      PackChannel("DEF", "BHZ", "", kStart, 20.0, def));
  ASSERT_EQ(Convert(seed, Data()).exitCode, 0);
  const std::string defFile = "DEF/13/21032009-130500-BHZ.DEF";
  const std::string foreign = "XYZ/13/readme.txt";  // another program's, unregistered
  WriteFile(root() / "outside.txt", "keep me");
  fs::create_directories(Data() / "XYZ/13");
  WriteFile(Data() / foreign, "another program's file");
  // A staged file ABC's own killed run left.
  const std::string staged = "ABC/13/.21032009-140000-BHZ.ABC.new";
  WriteFile(Data() / staged, std::string(600, 'x'));
  const StoreSnapshot before = SnapshotOf(db(), Data());

  const std::vector<std::string> forged = {
      "R\t" + defFile,
      "R\tDEF/13/.21032009-130500-BHZ.DEF.new\t" + defFile,
      "D\t" + foreign,
      "A\t??\t" + defFile + "\t600\tH",
      "N\tABC/13/.x.new\t../outside.txt",
      "garbage without tabs",
  };
  std::string notes;
  for (const std::string& note : forged) notes += note + "\n";
  notes += "N\t" + staged + "\tABC/13/21032009-140000-BHZ.ABC\n";
  WriteFile(Data() / ".lock/ABC.BHZ.lock", notes);

  // A conversion of a third channel settles them.
  const auto ghi = RandomWalk(400, 293, 50);
  const fs::path third = workDir() / "ghi.seed";
  WriteFile(third, PackChannel("GHI", "BHZ", "", kStart, 20.0, ghi));
  ProcessResult result;
  const auto trace = TracedConversion(third, result);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  std::vector<std::string> debug;
  for (const std::string& line : trace) {
    if (line.rfind("debug tarnvel store: note ignored", 0) == 0) debug.push_back(line);
  }
  ASSERT_EQ(debug.size(), forged.size()) << ::testing::PrintToString(trace);
  for (std::size_t i = 0; i < forged.size(); ++i) {
    std::string shown = forged[i];
    std::replace(shown.begin(), shown.end(), '\t', ' ');
    EXPECT_EQ(debug[i],
              "debug tarnvel store: note ignored in .lock/ABC.BHZ.lock, not one of ABC::BHZ's "
              "files: " +
                  shown);
  }
  EXPECT_EQ(ReadFile(Data() / defFile), before.files.at(defFile));
  EXPECT_EQ(ReadFile(Data() / foreign), "another program's file");
  EXPECT_EQ(ReadFile(root() / "outside.txt"), "keep me");
  EXPECT_FALSE(fs::exists(Data() / staged));
  EXPECT_EQ(LockNotes(Data()), (std::map<std::string, std::string>{}));
  ExpectSamples({"ABC", "BHZ", "??", kStart, 20.0, abc});
  ExpectSamples({"DEF", "BHZ", "??", kStart, 20.0, def});
  ExpectSamples({"GHI", "BHZ", "??", kStart, 20.0, ghi});
  ExpectProblems({"unregistered: " + foreign});
}

// The file names of a trace line's paths relative to `data` ("" for a path elsewhere).
std::string BelowData(const std::string& path, const std::string& data) {
  if (path == data) return ".";
  return path.rfind(data + "/", 0) == 0 ? path.substr(data.size() + 1) : std::string();
}

// Where a traced run commits FILELIST changes before what they register is on stable storage:
// data written (or a file extended) and not synced since, folder entries changed (a rename, a
// new folder) and not synced, lock notes written and not synced; a header written over its
// file's start while the append it describes is not committed yet; and whatever is left
// unsynced when the run ends. One line each.
std::vector<std::string> SyncOrderProblems(const std::vector<std::string>& trace,
                                           const fs::path& data) {
  const std::string root = fs::canonical(data).string();
  std::set<std::string> dirty;     // files written since their last sync
  std::set<std::string> folders;   // folders whose entries changed since their last sync
  std::set<std::string> appended;  // files appended to since the last commit
  std::vector<std::string> problems;
  bool changes = false;  // FILELIST changed since the last commit
  const auto lock = [](const std::string& path) { return path.rfind(".lock/", 0) == 0; };
  for (const std::string& line : trace) {
    std::istringstream in(line);
    std::string call;
    std::string first;
    std::string second;
    in >> call >> first >> second;
    const std::string a = BelowData(first, root);
    const std::string b = BelowData(second, root);
    if (call == "write" || call == "pwrite") {
      if (a.empty()) continue;
      if (call == "pwrite" && second == "0" && !lock(a) && appended.contains(a)) {
        problems.push_back("header ahead of its commit: " + a);
      }
      if (call == "write" && !lock(a) && a.find("/.") == std::string::npos) appended.insert(a);
      dirty.insert(a);
    } else if (call == "ftruncate") {
      if (a.empty()) continue;
      // A lock's notes cleared need no sync: settling them again is harmless.
      if (lock(a) && second == "0") {
        dirty.erase(a);
      } else {
        dirty.insert(a);
      }
    } else if (call == "rename") {
      if (b.empty()) continue;
      if (dirty.erase(a) > 0) dirty.insert(b);
      folders.insert(fs::path(b).parent_path().string());
    } else if (call == "mkdir") {
      if (!a.empty()) folders.insert(fs::path(a).parent_path().string());
    } else if (call == "unlink") {
      dirty.erase(a);
    } else if (call == "fsync" || call == "fdatasync") {
      dirty.erase(a);
      folders.erase(a == "." ? "" : a);
    } else if (call == "sql") {
      const std::string text = line.substr(4);
      for (const char* change :
           {"insert into FILELIST", "update FILELIST", "delete from FILELIST"}) {
        if (text.rfind(change, 0) == 0) changes = true;
      }
    } else if (call == "commit") {
      if (changes) {
        for (const std::string& path : dirty)
          problems.push_back("committed before syncing " + path);
        for (const std::string& folder : folders) {
          problems.push_back("committed before syncing the folder " + folder);
        }
      }
      changes = false;
      appended.clear();
    }
  }
  for (const std::string& path : dirty) {
    if (!lock(path)) problems.push_back("never synced: " + path);
  }
  for (const std::string& folder : folders) problems.push_back("folder never synced: " + folder);
  return problems;
}

// A transaction that registers or extends a file commits only after the file's data, its folder
// entry and the lock's notes are on stable storage; a header is rewritten only after the commit
// of the append it describes; a replacement put in place after its commit is synced before the
// run ends. (The kill test stops a run before each of these syncs too.)
TEST_P(FaultTest, EveryFileIsOnStableStorageBeforeTheRowsRegisteringItAreCommitted) {
  std::vector<ExpectedChannel> stored;
  std::vector<ExpectedChannel> run;
  const fs::path seed = StoreAChannelAndItsContinuation(stored, run);
  // The first minute of ABC BHZ again, changed: replaced through a staged copy.
  auto corrected = stored[0].samples;
  corrected.resize(1200);
  corrected[3] += 5;
  WriteFile(seed, ReadFile(seed) + PackChannel("ABC", "BHZ", "", kStart, 20.0, corrected));
  std::copy(corrected.begin(), corrected.end(), run[0].samples.begin());

  ProcessResult result;
  const auto trace = TracedConversion(seed, result);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(SyncOrderProblems(trace, Data()), std::vector<std::string>{});
  // Every kind of change took place: new files, appends, a header after its commit, a
  // replacement put in place.
  const auto count = [&](const std::string& prefix) {
    return std::count_if(trace.begin(), trace.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  };
  EXPECT_GE(count("rename "), 3);
  EXPECT_GE(count("fdatasync "), 4);
  EXPECT_GE(count("fsync "), 2);
  for (const ExpectedChannel& channel : run) ExpectSamples(channel);
}

// Many short segments, each a file of its own (a gappy channel): every file and folder is on
// stable storage before its row's commit, and each segment asks the database only once whether
// it answers (DeleteFileEntry's answer stands for the StoreSegment right after it), besides
// the one question before the first segment.
TEST_P(FaultTest, GappySegmentsAreSyncedBeforeTheirCommitAndProbedOnceEach) {
  constexpr int kSegments = 40;
  std::string bytes;
  std::vector<ExpectedChannel> expected;
  for (int g = 0; g < kSegments; ++g) {
    // Segments in two hours: two folders.
    const double start = kStart + 90.0 * g;
    auto samples = RandomWalk(100, static_cast<std::uint32_t>(900 + g), 50);
    bytes += PackChannel("ABC", "BHZ", "", start, 20.0, samples);
    expected.push_back({"ABC", "BHZ", "??", start, 20.0, std::move(samples)});
  }
  const fs::path seed = workDir() / "gaps.seed";
  WriteFile(seed, bytes);

  ProcessResult result;
  const auto trace = TracedConversion(seed, result);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(SyncOrderProblems(trace, Data()), std::vector<std::string>{});
  const auto statements = [&](const std::string& prefix) {
    return std::count_if(trace.begin(), trace.end(), [&](std::string line) {
      std::transform(line.begin(), line.end(), line.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      return line.rfind(prefix, 0) == 0;
    });
  };
  EXPECT_EQ(statements("sql select max(tbegin) from filelist"), kSegments + 1);
  EXPECT_EQ(statements("sql insert into filelist"), kSegments);
  EXPECT_EQ(CountOf(result.output, "\rDB write error ("), 0u);
  EXPECT_EQ(CountOf(result.output, "\rDelete error ("), 0u);
  for (const ExpectedChannel& channel : expected) ExpectSamples(channel);
}

// A disk whose syncs fail: nothing whose data could not be brought to stable storage is
// committed. Every segment fails, and rows and files stay as they were.
TEST_P(FaultTest, SyncsThatFailCommitNothingAndLeaveTheStoreAsItWas) {
  std::vector<ExpectedChannel> stored;
  std::vector<ExpectedChannel> run;
  const fs::path seed = StoreAChannelAndItsContinuation(stored, run);
  const StoreSnapshot before = SnapshotOf(db(), Data());
  auto env = KillLibrary("FAIL_SYNCS", "1");
  env["FAIL_SYNCS_BELOW"] = fs::canonical(Data()).string();
  const auto result = ConvertWith(seed, env);
  EXPECT_EQ(result.exitCode, Code(-4)) << result.output;
  EXPECT_EQ(CountOf(result.output, "\rDB write error ("), 3u) << result.output;
  EXPECT_TRUE(SnapshotOf(db(), Data()) == before);
  for (const ExpectedChannel& channel : stored) ExpectSamples(channel);
}

// A commit whose answer is lost (the database did commit) is settled by the committed rows,
// never undone by name: at every commit of a run, the rows describe their files after it, and
// converting the file again stores every sample once.
TEST_P(FaultTest, ACommitWhoseAnswerIsLostLeavesEveryRowDescribingItsFile) {
  std::vector<ExpectedChannel> stored;
  std::vector<ExpectedChannel> run;
  const fs::path seed = StoreAChannelAndItsContinuation(stored, run);
  KeepStoreAside(Data());
  for (int commit = 1; commit <= 3; ++commit) {
    SCOPED_TRACE("answer of commit " + std::to_string(commit) + " lost");
    PutStoreBack(Data());
    const auto result =
        ConvertWith(seed, KillLibrary("LOSE_COMMIT_ANSWER", std::to_string(commit)));
    EXPECT_EQ(StoreProblems(StoredFiles(db()), Data()), std::vector<std::string>{})
        << result.output;
    const auto again = Convert(seed, Data());
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(AllStoreProblems(StoredFiles(db()), Data(), run), std::vector<std::string>{});
  }
}

// TARNVEL_NO_SYNC=1 (for tests only) skips every sync and stores the same.
TEST_P(FaultTest, TheNoSyncSwitchSkipsEverySyncAndStoresTheSame) {
  std::vector<ExpectedChannel> stored;
  std::vector<ExpectedChannel> run;
  const fs::path seed = StoreAChannelAndItsContinuation(stored, run);
  ProcessResult result;
  const auto trace = TracedConversion(seed, result, {{"TARNVEL_NO_SYNC", "1"}});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  // The database syncs its own files as it is set up to.
  const std::string data = fs::canonical(Data()).string();
  for (const std::string& line : trace) {
    const bool sync = line.rfind("fsync ", 0) == 0 || line.rfind("fdatasync ", 0) == 0;
    EXPECT_FALSE(sync && line.find(" " + data) != std::string::npos) << line;
  }
  EXPECT_GE(std::count_if(trace.begin(), trace.end(),
                          [](const std::string& line) { return line == "commit"; }),
            1);
  for (const ExpectedChannel& channel : run) ExpectSamples(channel);
}

// A damaged ini file with a NUL byte inside its values: each value ends at the NUL, for the
// checks as much as for the system calls.
TEST_P(FaultTest, AnIniValueEndsAtANulByteForEveryUse) {
  const auto samples = RandomWalk(400, 71, 30);
  const fs::path seed = workDir() / "one.seed";
  WriteFile(seed, PackChannel("ABC", "BHZ", "", kStart, 20.0, samples));
  const fs::path data = root() / "data";
  const std::string nul(1, '\0');
  const auto writeIni = [&](const std::string& dataDir) {
    WriteFile(programDir() / "tarnvel.ini",
              "[DATABASE]\nODBC=" + db().dsn() + nul + "elsewhere\nUSER=" + db().user() + nul +
                  "\nPASSWORD=" + db().password() + nul + "x\n[DATA]\nDIR=" + dataDir + "\n");
  };

  writeIni(data.string() + nul + "/../outside");
  const auto stored = Run({seed.string()});
  EXPECT_EQ(stored.exitCode, 0) << stored.output;
  const auto files = StoredFiles(db());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(StoreProblems(files, data), std::vector<std::string>{});
  EXPECT_EQ(SampleBytes(data / files[0].cpath), FloatBytes(samples));
  EXPECT_FALSE(fs::exists(root() / "outside"));

  // The data directory cut at the NUL names a file: that file is the data directory for every
  // use, so nothing can be stored, and the file stays as it was.
  const fs::path victim = workDir() / "victim.txt";
  WriteFile(victim, "keep me");
  writeIni(victim.string() + nul + "/data");
  const auto refused = Run({seed.string()});
  EXPECT_EQ(refused.exitCode, Code(-4)) << refused.output;
  EXPECT_EQ(ReadFile(victim), "keep me");
  EXPECT_NE(refused.output.find("\rDB write error (ABC::BHZ::" + victim.string() + "/ABC/13/"),
            std::string::npos)
      << refused.output;
}

TARNVEL_DATABASE_TEST_SUITE(FaultTest);

}  // namespace
}  // namespace tarnvel::testing
