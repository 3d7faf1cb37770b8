// Storing segments into waveform files and FILELIST rows, checked against real SQLite and
// PostgreSQL databases: rows column by column, files byte for byte.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/waveform_store.h"
#include "tests/support/filelist_rows.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel {
namespace {

namespace fs = std::filesystem;
namespace sr = store_result;
using testing::DatabaseKind;
using testing::ReadFile;

constexpr double kStart = 1237640700.0;  // 2009-03-21 13:05:00 UTC
// The file of a segment starting at kStart.
constexpr const char* kFirstFile = "ABC/13/21032009-130500-BHZ.ABC";

SampleBuffer Ramp(std::int64_t count, float first = 0.0f) {
  std::vector<float> values(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = first + static_cast<float>(i);
  SampleBuffer buffer;
  buffer.Append(values);
  return buffer;
}

// The path the driver hands over for a segment starting at `start` (the tests run in UTC).
std::string DriverPath(const fs::path& dataDir, const std::string& station,
                       const std::string& channel, double start) {
  const auto seconds = static_cast<std::time_t>(std::trunc(start));
  std::tm t{};
  localtime_r(&seconds, &t);
  char text[1024];
  std::snprintf(text, sizeof text, "%s/%s/%02d/%02d%02d%04d-%02d%02d%02d-%s.%s",
                dataDir.string().c_str(), station.c_str(), t.tm_hour, t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, channel.c_str(), station.c_str());
  return text;
}

float FloatAt(const std::string& bytes, std::size_t offset) {
  float value = 0.0f;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

class FileListTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    store_ = std::make_unique<WaveformStore>();
    ConfigureStore(*store_);
    ASSERT_TRUE(store_->Connect());
  }
  void TearDown() override {
    store_.reset();
    DatabaseTest::TearDown();
  }

  // One segment the way the output phase hands it over: delete the earlier copy, then store.
  int Store(WaveformStore& store, const SampleBuffer& samples, double start, double rate = 20.0,
            const std::string& location = "??") {
    const auto count = static_cast<std::int64_t>(samples.size());
    const double end = start + static_cast<double>(count) / rate;
    const std::string path = DriverPath(db().dataDir(), "ABC", "BHZ", start);
    EXPECT_EQ(store.DeleteFileEntry({"ABC", "BHZ", location}, start, path), 0);
    return store.StoreSegment(samples, count, {"ABC", "BHZ", location}, path, start, end, "tarnvel",
                              rate, 0.0, 0.0);
  }
  int Store(const SampleBuffer& samples, double start, double rate = 20.0,
            const std::string& location = "??") {
    return Store(*store_, samples, start, rate, location);
  }

  std::vector<testing::StoredFile> Rows() { return testing::StoredFiles(db()); }

  std::string FileOf(const testing::StoredFile& row) {
    return ReadFile(db().dataDir() / row.cpath);
  }

  // A row registered by hand, with an optional file of the given size behind it.
  void AddRow(const std::string& cpath, double begin, double qty, double rate, int foff,
              const std::string& lddate, const std::string& lcode = "'?\?'",
              const std::string& creator = "tarnvel") {
    db().Execute(
        "insert into FILELIST(STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,GAIN,DATATYPE,CPATH,"
        "CREATER,LDDATE,FOFF) values('ABC','BHZ'," +
        lcode + "," + std::to_string(begin) + "," + std::to_string(qty) + "," +
        std::to_string(begin + qty) + "," + std::to_string(rate) + ",1,3,'" + cpath + "','" +
        creator + "',{ts '" + lddate + "'}," + std::to_string(foff) + ")");
  }

  std::unique_ptr<WaveformStore> store_;
};

TEST_P(FileListTest, LongSegmentBecomesHourlyFilesWithExactRowsAndBytes) {
  const SampleBuffer samples = Ramp(180000);
  ASSERT_EQ(Store(samples, kStart), 0);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  const std::int64_t counts[] = {72000, 72000, 36000};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(rows[i].begin, kStart + 3600.0 * static_cast<double>(i));
    EXPECT_DOUBLE_EQ(rows[i].quantity, i < 2 ? 3600.0 : 1800.0);
    EXPECT_DOUBLE_EQ(rows[i].end.value(), rows[i].begin + rows[i].quantity);
    EXPECT_EQ(rows[i].location, "??");
    const std::string bytes = FileOf(rows[i]);
    ASSERT_EQ(bytes.size(), 512u + 4u * static_cast<std::size_t>(counts[i]));
    EXPECT_EQ(FloatAt(bytes, 512), static_cast<float>(72000 * i));
    EXPECT_EQ(FloatAt(bytes, bytes.size() - 4), static_cast<float>(72000 * i + counts[i] - 1));
  }
  EXPECT_EQ(rows[0].cpath, "ABC/13/21032009-130500-BHZ.ABC");
  EXPECT_EQ(rows[1].cpath, "ABC/14/21032009-140500-BHZ.ABC");
  const std::string header = FileOf(rows[2]).substr(0, 512);
  EXPECT_EQ(header.substr(0, header.find('\0')),
            "[QOR5.x]\r\nData offset=512\r\nStart time=15:05:00\r\nStart date=21-03-2009\r\n"
            "Time duration=000 00 30 00\r\nData type=FLOAT\r\nSpS=20.00\r\nGain=1\r\n"
            "Station=ABC\r\nChannel=BHZ\r\nLCODE=?\?\r\n");
  const auto other = db().Query(
      "select SPS,GAIN,DATATYPE,CREATER,FOFF,CALIB,CALPER,STA,CH from FILELIST where TBEGIN=" +
      std::to_string(kStart));
  ASSERT_EQ(other.size(), 1u);
  EXPECT_DOUBLE_EQ(std::stod(other[0][0]), 20.0);
  EXPECT_DOUBLE_EQ(std::stod(other[0][1]), 1.0);
  EXPECT_EQ(std::stoi(other[0][2]), 3);
  EXPECT_EQ(other[0][3], "tarnvel");
  EXPECT_EQ(std::stoi(other[0][4]), 512);
  EXPECT_EQ(other[0][7], "ABC");
  EXPECT_EQ(other[0][8], "BHZ");
}

// Whether a segment continues the channel's last file or starts one of its own. Both segments
// are one ramp of sample values (the later one going on from the earlier one's count), so every
// file must hold consecutive values from its first, without a gap or a repeat.
TEST_P(FileListTest, SegmentContinuesTheLastFileOrStartsANewOne) {
  struct File {
    const char* cpath;
    double begin;  // after kStart
    double quantity;
    float first;  // its first sample value
    const char* duration;
  };
  struct Case {
    const char* name;
    double earlierAt;  // after kStart
    std::int64_t earlier;
    double laterAt;
    std::int64_t later;
    std::vector<File> files;
  };
  const Case cases[] = {
      {"0.004 s late at 20 sps: its first sample at the file's next sample time",
       0.0,
       24000,
       1200.004,
       12000,
       {{"ABC/13/21032009-130500-BHZ.ABC", 0.0, 1800.0, 0.0f, "000 00 30 00"}}},
      {"0.04 s late at 20 sps: appended, its samples would lie 0.8 intervals early",
       0.0,
       24000,
       1200.04,
       12000,
       {{"ABC/13/21032009-130500-BHZ.ABC", 0.0, 1200.0, 0.0f, "000 00 20 00"},
        {"ABC/13/21032009-132500-BHZ.ABC", 1200.04, 600.0, 24000.0f, "000 00 10 00"}}},
      {"two intervals late",
       0.0,
       24000,
       1200.1,
       12000,
       {{"ABC/13/21032009-130500-BHZ.ABC", 0.0, 1200.0, 0.0f, "000 00 20 00"},
        {"ABC/13/21032009-132500-BHZ.ABC", 1200.1, 600.0, 24000.0f, "000 00 10 00"}}},
      {"a full hour is never continued",
       0.0,
       72000,
       3600.0,
       12000,
       {{"ABC/13/21032009-130500-BHZ.ABC", 0.0, 3600.0, 0.0f, "000 01 00 00"},
        {"ABC/14/21032009-140500-BHZ.ABC", 3600.0, 600.0, 72000.0f, "000 00 10 00"}}},
      {"a long segment fills the file it continues, then hourly files",
       0.0,
       24000,
       1200.0,
       180000,
       {{"ABC/13/21032009-130500-BHZ.ABC", 0.0, 4800.0, 0.0f, "000 01 20 00"},
        {"ABC/14/21032009-142500-BHZ.ABC", 4800.0, 3600.0, 96000.0f, "000 01 00 00"},
        {"ABC/15/21032009-152500-BHZ.ABC", 8400.0, 1800.0, 168000.0f, "000 00 30 00"}}},
      {"half an interval apart in one second: no re-conversion of the earlier samples",
       0.2,
       12000,
       0.725,
       6000,
       {{"ABC/13/21032009-130500-BHZ.ABC", 0.2, 600.0, 0.0f, "000 00 10 00"},
        {"ABC/13/21032009-130500-BHZ-1.ABC", 0.725, 300.0, 12000.0f, "000 00 05 00"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db().Execute("delete from FILELIST");
    fs::remove_all(db().dataDir() / "ABC");
    WaveformStore store;
    ConfigureStore(store);
    ASSERT_TRUE(store.Connect());
    ASSERT_EQ(Store(store, Ramp(c.earlier), kStart + c.earlierAt), 0);
    ASSERT_EQ(Store(store, Ramp(c.later, static_cast<float>(c.earlier)), kStart + c.laterAt), 0);
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), c.files.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const File& want = c.files[i];
      SCOPED_TRACE(want.cpath);
      EXPECT_EQ(rows[i].cpath, want.cpath);
      EXPECT_DOUBLE_EQ(rows[i].begin, kStart + want.begin);
      EXPECT_DOUBLE_EQ(rows[i].quantity, want.quantity);
      EXPECT_DOUBLE_EQ(rows[i].end.value(), kStart + want.begin + want.quantity);
      const std::string bytes = FileOf(rows[i]);
      ASSERT_EQ(bytes.size(), 512u + static_cast<std::size_t>(want.quantity * 20.0 * 4.0));
      EXPECT_NE(bytes.find(std::string("Time duration=") + want.duration + "\r\n"),
                std::string::npos);
      std::size_t off = 0;
      for (std::size_t k = 0; 512 + 4 * k < bytes.size(); ++k) {
        off += FloatAt(bytes, 512 + 4 * k) != want.first + static_cast<float>(k) ? 1 : 0;
      }
      EXPECT_EQ(off, 0u) << "samples off the ramp";
    }
  }
}

TEST_P(FileListTest, RowsWithOtherDataOffsetsAreNeverContinued) {
  // Ends exactly where the new segment starts, but has no 512-byte header.
  AddRow("ABC/12/other.ABC", kStart - 600.0, 600.0, 20.0, 0, "2009-03-21 13:00:00");
  ASSERT_EQ(Store(Ramp(12000), kStart), 0);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_DOUBLE_EQ(rows[0].quantity, 600.0);
  EXPECT_EQ(rows[1].cpath, "ABC/13/21032009-130500-BHZ.ABC");
}

TEST_P(FileListTest, BlankLocationIsStoredAsQuestionMarksAndFindsNullRows) {
  // A file registered without a location code, ending where the new segment starts.
  ASSERT_EQ(Store(Ramp(24000), kStart), 0);
  db().Execute("update FILELIST set LCODE=null");
  ASSERT_EQ(Store(Ramp(12000), kStart + 1200.0), 0);
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_DOUBLE_EQ(rows[0].quantity, 1800.0);
  EXPECT_EQ(rows[0].location, testing::kNullText);

  ASSERT_EQ(Store(Ramp(12000), kStart + 7200.0), 0);
  EXPECT_EQ(db().Count("FILELIST", "LCODE='?\?'"), 1);
  // An explicit code is stored and selected as itself.
  ASSERT_EQ(Store(Ramp(12000), kStart + 9000.0, 20.0, "00"), 0);
  EXPECT_EQ(db().Count("FILELIST", "LCODE='00'"), 1);
}

TEST_P(FileListTest, EmptySpanIsRefusedBeforeAnyStatement) {
  const SampleBuffer samples = Ramp(10);
  const std::string path = (db().dataDir() / kFirstFile).string();
  EXPECT_EQ(store_->StoreSegment(samples, 10, {"ABC", "BHZ", "??"}, path, kStart, kStart, "tarnvel",
                                 20.0, 0.0, 0.0),
            sr::kEmptySpan);
  EXPECT_EQ(store_->StoreSegment(samples, 10, {"ABC", "BHZ", "??"}, path, kStart, kStart - 1.0,
                                 "tarnvel", 20.0, 0.0, 0.0),
            sr::kEmptySpan);
  EXPECT_EQ(db().Count("FILELIST"), 0);
  EXPECT_FALSE(fs::exists(db().dataDir() / "ABC"));
}

TEST_P(FileListTest, QuotaDeletesOldestFilesAndRowsUntilUnderTheLimit) {
  // Three files of 3600 s at 2912 sps: about 40 MiB each, 120 MiB together.
  const char* dates[] = {"2009-03-01 00:00:00", "2009-03-02 00:00:00", "2009-03-03 00:00:00"};
  for (int i = 0; i < 3; ++i) {
    const std::string cpath = "ABC/0" + std::to_string(i) + "/old.ABC";
    fs::create_directories(db().dataDir() / "ABC" / ("0" + std::to_string(i)));
    testing::WriteFile(db().dataDir() / cpath, "x");
    AddRow(cpath, kStart - 86400.0 * (3 - i), 3600.0, 2912.0, 512, dates[i]);
  }
  store_->SetFreeSpaceProbe([](const std::string&) { return std::uint64_t{1} << 40; });
  ASSERT_EQ(Store(Ramp(12000), kStart), 0);
  EXPECT_EQ(db().Count("FILELIST", "CPATH='ABC/00/old.ABC'"), 0);
  EXPECT_FALSE(fs::exists(db().dataDir() / "ABC/00/old.ABC"));
  EXPECT_EQ(db().Count("FILELIST", "CPATH='ABC/01/old.ABC'"), 1);
  EXPECT_TRUE(fs::exists(db().dataDir() / "ABC/01/old.ABC"));
  EXPECT_EQ(db().Count("FILELIST"), 3);
}

TEST_P(FileListTest, QuotaCountsChannelTotalsAbove2GiB) {
  // One file row of 2.88e9 bytes: a 32-bit sum would wrap and hide it.
  AddRow("ABC/00/huge.ABC", kStart - 86400.0, 3600.0, 200000.0, 512, "2009-03-01 00:00:00");
  store_->SetFreeSpaceProbe([](const std::string&) { return std::uint64_t{1} << 40; });
  // The missing file cannot be removed: done, with the warning result.
  EXPECT_EQ(Store(Ramp(12000), kStart), sr::kDoneWithWarning);
  EXPECT_EQ(db().Count("FILELIST", "CPATH='ABC/00/huge.ABC'"), 0);
  EXPECT_EQ(db().Count("FILELIST"), 1);
}

TEST_P(FileListTest, LowFreeSpaceDeletesOldFilesOfThisCreatorOnly) {
  AddRow("ABC/00/a.ABC", kStart - 86400.0, 600.0, 20.0, 512, "2009-03-01 00:00:00");
  AddRow("ABC/00/b.ABC", kStart - 80000.0, 600.0, 20.0, 512, "2009-03-02 00:00:00");
  AddRow("ABC/00/c.ABC", kStart - 70000.0, 600.0, 20.0, 512, "2009-03-02 00:00:00", "'?\?'",
         "someone");
  store_->SetFreeSpaceProbe([](const std::string&) { return std::uint64_t{5} << 20; });
  EXPECT_EQ(Store(Ramp(12000), kStart), sr::kDoneWithWarning);
  EXPECT_EQ(db().Count("FILELIST", "CREATER='tarnvel' and TBEGIN<" + std::to_string(kStart)), 0);
  EXPECT_EQ(db().Count("FILELIST", "CREATER='someone'"), 1);
}

TEST_P(FileListTest, UnknownFreeSpaceAloneDeletesNothing) {
  AddRow("ABC/00/a.ABC", kStart - 86400.0, 600.0, 20.0, 512, "2009-03-01 00:00:00");
  store_->SetFreeSpaceProbe([](const std::string&) { return std::optional<std::uint64_t>(); });
  EXPECT_EQ(Store(Ramp(12000), kStart), 0);
  EXPECT_EQ(db().Count("FILELIST"), 2);
}

// Bytes below a folder, for a free space that shrinks as files are written and grows as the
// quota deletes them.
std::uint64_t BytesBelow(const fs::path& folder) {
  std::uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

TEST_P(FileListTest, LowFreeSpaceSparesTheFilesThisRunStoresIntoAndStopsWhenEnough) {
  // An earlier run: three files of an hour each, then half an hour.
  ASSERT_EQ(Store(Ramp(72000 * 2 + 36000), kStart), 0);
  ASSERT_EQ(db().Count("FILELIST"), 3);
  const std::uint64_t hour = 512 + 72000 * 4;

  // This run: free space is what is left of a budget once the data directory's files are
  // counted, just too little for the next file.
  WaveformStore run;
  ConfigureStore(run);
  ASSERT_TRUE(run.Connect());
  const std::uint64_t budget = BytesBelow(db().dataDir()) + (10u << 20) + hour / 2;
  const fs::path dir = db().dataDir();
  run.SetFreeSpaceProbe([&](const std::string&) {
    const std::uint64_t used = BytesBelow(dir);
    return std::optional<std::uint64_t>(used < budget ? budget - used : 0);
  });
  // An hour continuing the half-hour file, then half an hour more: the oldest file goes for the
  // second piece, no more; the continued file stays though it is older than the new one.
  ASSERT_EQ(Store(run, Ramp(108000, 180000.0f), kStart + 9000.0), 0);
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].cpath, "ABC/14/21032009-140500-BHZ.ABC");
  EXPECT_EQ(rows[1].cpath, "ABC/15/21032009-150500-BHZ.ABC");
  EXPECT_DOUBLE_EQ(rows[1].quantity, 5400.0);
  EXPECT_EQ(rows[2].cpath, "ABC/16/21032009-163500-BHZ.ABC");

  // Far too little: everything older goes, nothing of this run.
  const std::uint64_t tight = BytesBelow(dir) + (10u << 20) - 4 * hour;
  run.SetFreeSpaceProbe([&](const std::string&) {
    const std::uint64_t used = BytesBelow(dir);
    return std::optional<std::uint64_t>(used < tight ? tight - used : 0);
  });
  ASSERT_EQ(Store(run, Ramp(12000, 288000.0f), kStart + 14400.0), 0);
  rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].cpath, "ABC/15/21032009-150500-BHZ.ABC");
  EXPECT_EQ(rows[1].cpath, "ABC/16/21032009-163500-BHZ.ABC");
  EXPECT_DOUBLE_EQ(rows[1].quantity, 2400.0);
}

TEST_P(FileListTest, StoringTheSameSegmentAgainRegistersEachFileOnce) {
  const SampleBuffer samples = Ramp(180000);
  ASSERT_EQ(Store(samples, kStart), 0);
  WaveformStore second;
  ConfigureStore(second);
  ASSERT_TRUE(second.Connect());
  ASSERT_EQ(Store(second, samples, kStart), 0);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(db().Count("FILELIST", "CPATH='ABC/14/21032009-140500-BHZ.ABC'"), 1);
  for (const auto& row : rows) {
    EXPECT_EQ(FileOf(row).size(), 512u + static_cast<std::size_t>(row.quantity * 80.0));
  }
}

TEST_P(FileListTest, DeleteFileEntryNeverRemovesAStoredCopy) {
  ASSERT_EQ(Store(Ramp(12000), kStart), 0);
  const std::string path = (db().dataDir() / kFirstFile).string();
  const std::string before = ReadFile(path);
  WaveformStore later;
  ConfigureStore(later);
  ASSERT_TRUE(later.Connect());
  // The earlier copy is replaced by StoreSegment once the new one is safe, never before.
  EXPECT_EQ(later.DeleteFileEntry({"ABC", "BHZ", ""}, kStart, path), 0);
  EXPECT_EQ(db().Count("FILELIST"), 1);
  EXPECT_EQ(ReadFile(path), before);
}

TEST_P(FileListTest, FailedInsertLeavesNoUnregisteredFile) {
  if (GetParam() == DatabaseKind::kSqlite) {
    db().Execute(
        "create trigger refuse before insert on FILELIST begin select raise(abort, "
        "'refused'); end");
  } else {
    db().Execute("alter table FILELIST add constraint refuse check (TQTY < 0)");
  }
  EXPECT_EQ(Store(Ramp(12000), kStart), sr::kInsertFailed);
  EXPECT_FALSE(fs::exists(db().dataDir() / kFirstFile));
}

// Runs `body` in a child process whose files may not grow past `limit` bytes; returns the
// store's result the child reports.
template <typename Body>
int WithFileSizeLimit(rlim_t limit, Body body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    ::_exit(-body() & 0xff);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? -WEXITSTATUS(status) : 1000;
}

TEST_P(FileListTest, FailedWriteOfANewFileIsReportedAndLeavesNothingBehind) {
  const int rc = WithFileSizeLimit(100000, [&] {
    WaveformStore child;
    ConfigureStore(child);
    if (!child.Connect()) return -1;
    return Store(child, Ramp(72000), kStart);
  });
  EXPECT_EQ(rc, sr::kFileWriteFailed);
  EXPECT_EQ(db().Count("FILELIST"), 0);
  EXPECT_FALSE(fs::exists(db().dataDir() / kFirstFile));
}

TEST_P(FileListTest, FailedAppendLeavesFileAndRowAsTheyWere) {
  ASSERT_EQ(Store(Ramp(24000), kStart), 0);
  const auto before = Rows();
  ASSERT_EQ(before.size(), 1u);
  const std::string bytesBefore = FileOf(before[0]);
  const int rc = WithFileSizeLimit(bytesBefore.size() + 1000, [&] {
    WaveformStore child;
    ConfigureStore(child);
    if (!child.Connect()) return -1;
    return Store(child, Ramp(12000), kStart + 1200.0);
  });
  EXPECT_EQ(rc, sr::kFileWriteFailed);
  const auto after = Rows();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_DOUBLE_EQ(after[0].quantity, 1200.0);
  EXPECT_EQ(FileOf(after[0]), bytesBefore);
}

TEST_P(FileListTest, CodesThatWouldLeaveTheDataDirectoryAreRefused) {
  const SampleBuffer samples = Ramp(100);
  const std::string path = db().dataDir().string() + "/../x/13/y";
  EXPECT_EQ(store_->StoreSegment(samples, 100, {"..", "BHZ", "??"}, path, kStart, kStart + 5.0,
                                 "tarnvel", 20.0, 0.0, 0.0),
            sr::kFileOpenFailed);
  EXPECT_EQ(store_->StoreSegment(samples, 100, {"ABC", "B/Z", "??"}, path, kStart, kStart + 5.0,
                                 "tarnvel", 20.0, 0.0, 0.0),
            sr::kFileOpenFailed);
  EXPECT_EQ(db().Count("FILELIST"), 0);
  EXPECT_FALSE(fs::exists(db().dataDir().parent_path() / "x"));
}

TARNVEL_DATABASE_TEST_SUITE(FileListTest);

class FileListWithoutEndTimeTest : public FileListTest {
 protected:
  testing::DatabaseOptions Options() const override {
    testing::DatabaseOptions options;
    options.withEndTime = false;
    return options;
  }
};

TEST_P(FileListWithoutEndTimeTest, HeaderDurationComesFromTqty) {
  EXPECT_FALSE(store_->UseEndTime());
  ASSERT_EQ(Store(Ramp(24000), kStart), 0);
  ASSERT_EQ(Store(Ramp(12000), kStart + 1200.0), 0);
  const auto rows = db().Query("select TQTY from FILELIST");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_DOUBLE_EQ(std::stod(rows[0][0]), 1800.0);
  const std::string bytes = ReadFile(db().dataDir() / kFirstFile).substr(0, 512);
  EXPECT_NE(bytes.find("Time duration=000 00 30 00\r\n"), std::string::npos);
}

TARNVEL_DATABASE_TEST_SUITE(FileListWithoutEndTimeTest);

}  // namespace
}  // namespace tarnvel
