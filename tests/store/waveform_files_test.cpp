// Waveform file names, header texts, path rules between CPATH and disk, directory creation and
// the per-channel lock.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "store/channel_lock.h"
#include "store/path_safety.h"
#include "store/waveform_header.h"
#include "store/waveform_store.h"
#include "tests/support/process.h"

namespace tarnvel {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::tm Local(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(WaveformHeaderTest, DurationTextBreaksLengthIntoDaysHoursMinutesSeconds) {
  EXPECT_EQ(FormatDurationText(3600.0), "000 01 00 00");
  EXPECT_EQ(FormatDurationText(1800.0), "000 00 30 00");
  EXPECT_EQ(FormatDurationText(86400.0 + 3600.0 + 60.0 + 1.5), "001 01 01 01");
  EXPECT_EQ(FormatDurationText(59.99), "000 00 00 59");
  EXPECT_EQ(FormatDurationText(0.0), "000 00 00 00");
}

TEST(WaveformHeaderTest, HeaderTextIsTheTemplateZeroPaddedTo512Bytes) {
  const auto header =
      FormatHeaderText(Local(2026, 12, 6, 5, 15, 0), 1800.0, 20.0, "ABC", "BHZ", "??");
  const std::string expected =
      "[QOR5.x]\r\nData offset=512\r\nStart time=05:15:00\r\nStart date=06-12-2026\r\n"
      "Time duration=000 00 30 00\r\nData type=FLOAT\r\nSpS=20.00\r\nGain=1\r\nStation=ABC\r\n"
      "Channel=BHZ\r\nLCODE=?\?\r\n";
  ASSERT_EQ(header.size(), 512u);
  EXPECT_EQ(std::string(header.data(), expected.size()), expected);
  for (std::size_t i = expected.size(); i < header.size(); ++i) {
    ASSERT_EQ(header[i], '\0') << "byte " << i;
  }
}

TEST(WaveformHeaderTest, FileNameRightAlignsShortCodesAndKeepsLongOnes) {
  const std::tm t = Local(2026, 12, 6, 5, 15, 0);
  EXPECT_EQ(ComposeWaveformFileName(t, "BHZ", "ABC"), "06122026-051500-BHZ.ABC");
  EXPECT_EQ(ComposeWaveformFileName(t, "BHZ", "AB"), "06122026-051500-BHZ. AB");
  EXPECT_EQ(ComposeWaveformFileName(t, "HZ", "ABCDE"), "06122026-051500- HZ.ABCDE");
  // A second file of the same second keeps the station suffix readable.
  EXPECT_EQ(ComposeWaveformFileName(t, "BHZ", "ABC", 2), "06122026-051500-BHZ-2.ABC");
}

TEST(PathSafetyTest, CodesWithSeparatorsOrDotsAreNoPathComponents) {
  EXPECT_TRUE(IsSafePathComponent("ABC"));
  EXPECT_TRUE(IsSafePathComponent("??"));
  for (const char* bad : {"", ".", "..", "A/B", "A\\B"}) {
    EXPECT_FALSE(IsSafePathComponent(bad)) << bad;
  }
  EXPECT_TRUE(IsInsideDirectory("/srv/qor/ABC/05/x.ABC", "/srv/qor"));
  EXPECT_TRUE(IsInsideDirectory("/srv/qor//ABC/./x", "/srv/qor/"));
  EXPECT_FALSE(IsInsideDirectory("/srv/qor/../etc/x", "/srv/qor"));
  EXPECT_FALSE(IsInsideDirectory("/srv/qor2/x", "/srv/qor"));
  EXPECT_FALSE(IsInsideDirectory("/etc/x", "/srv/qor"));
  EXPECT_FALSE(IsInsideDirectory("ABC/x", "/srv/qor"));
}

class PathRulesTest : public ::testing::Test {
 protected:
  void SetData(std::string data) { ASSERT_EQ(store_.SetOption("data", data), 0); }
  std::string Relative(std::string path) {
    store_.ToRelativePath(path);
    return path;
  }
  WaveformStore store_;
};

TEST_F(PathRulesTest, PosixDataDirectoryGivesRelativeCpathAndAbsoluteFiles) {
  SetData("/srv/qor");
  EXPECT_EQ(store_.DataDirectory(), "\\srv\\qor");
  EXPECT_EQ(Relative("/srv/qor/ABC/05/06122026-051500-BHZ.ABC"),
            "ABC\\05\\06122026-051500-BHZ.ABC");
  // Letter case is ignored, like the drive paths the rule was made for.
  EXPECT_EQ(Relative("/SRV/QOR/ABC/x"), "ABC\\x");
  // A sibling folder whose name merely starts with the data directory is not below it.
  EXPECT_EQ(Relative("/srv/qor2/ABC/x"), "\\srv\\qor2\\ABC\\x");
  EXPECT_EQ(Relative("ABC/05/x"), "ABC\\05\\x");
  EXPECT_EQ(Relative("/srv/qor"), "");
}

TEST_F(PathRulesTest, TrailingSeparatorOfTheDataDirectoryChangesNothing) {
  SetData("/srv/qor/");
  EXPECT_EQ(Relative("/srv/qor/ABC/x"), "ABC\\x");
}

TEST_F(PathRulesTest, DriveAndShareFormsFollowTheirRules) {
  SetData("D:/Data");
  EXPECT_EQ(Relative("d:/data/ABC/x"), "ABC\\x");
  EXPECT_EQ(Relative("E:/Other/x"), "E:\\Other\\x");
  SetData("\\\\server\\share");
  // Paths under a network share stay whole.
  EXPECT_EQ(Relative("//server/share/ABC/x"), "\\\\server\\share\\ABC\\x");
}

TEST(MakeDirectoryPathTest, CreatesEveryLevelOfAbsolutePathsInEitherSeparatorForm) {
  TempDir temp;
  const std::string slashes = (temp.path() / "a" / "b" / "c").string();
  EXPECT_TRUE(WaveformStore::MakeDirectoryPath(slashes));
  EXPECT_TRUE(fs::is_directory(slashes));
  EXPECT_TRUE(WaveformStore::MakeDirectoryPath(slashes));  // existing levels are fine

  std::string backslashes = (temp.path() / "x" / "y").string();
  std::replace(backslashes.begin(), backslashes.end(), '/', '\\');
  EXPECT_TRUE(WaveformStore::MakeDirectoryPath(backslashes));
  EXPECT_TRUE(fs::is_directory(temp.path() / "x" / "y"));
}

TEST(MakeDirectoryPathTest, FailsWhenALevelIsAFile) {
  TempDir temp;
  testing::WriteFile(temp / "file", "x");
  EXPECT_FALSE(WaveformStore::MakeDirectoryPath((temp.path() / "file" / "sub").string()));
}

TEST(ChannelLockTest, LockIsExclusiveAndBlankLocationsShareOneFile) {
  TempDir temp;
  const std::string data = temp.path().string();
  EXPECT_EQ(ChannelLock::LockFilePath(data, "ABC", "BHZ", ""),
            ChannelLock::LockFilePath(data, "ABC", "BHZ", "??"));
  EXPECT_EQ(ChannelLock::LockFilePath(data + "/", "ABC", "BHZ", "00"),
            data + "/.lock/ABC.BHZ.00.lock");

  ChannelLock lock;
  ASSERT_TRUE(lock.Acquire(data, "ABC", "BHZ", "??"));
  const std::string path = ChannelLock::LockFilePath(data, "ABC", "BHZ", "??");
  const int other = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  lock.Release();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
}

TEST(ChannelLockTest, LockOfAKilledProcessGoesAway) {
  TempDir temp;
  const std::string data = temp.path().string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ChannelLock lock;
    const char flag = lock.Acquire(data, "ABC", "BHZ", "00") ? 'y' : 'n';
    if (::write(ready[1], &flag, 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  char flag = 0;
  ASSERT_EQ(::read(ready[0], &flag, 1), 1);
  ASSERT_EQ(flag, 'y');
  const std::string path = ChannelLock::LockFilePath(data, "ABC", "BHZ", "00");
  const int other = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace tarnvel
