// Waveform file names, header texts, the data directory and the path rules between CPATH and
// disk, file operations that never follow links, and the per-channel lock with its notes.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "settings/data_directory.h"
#include "store/channel_lock.h"
#include "store/lock_note.h"
#include "store/store_files.h"
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
      FormatHeaderText(Local(2026, 12, 6, 5, 15, 0), 1800.0, 20.0, {"ABC", "BHZ", "??"});
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

TEST(DataDirectoryTest, EverySpellingGivesOneText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/srv/qor", "/srv/qor"},
      {"/srv/qor/", "/srv/qor"},
      {"//srv//qor//", "/srv/qor"},
      {"\\srv\\qor\\", "/srv/qor"},
      {"/srv/./qor/.", "/srv/qor"},
      {"data/qor/", "data/qor"},
      {"./data", "data"},
      {"D:\\DATA", "D:/DATA"},
      {"/", "/"},
      {"///", "/"},
      {"", "."},
      {"./", "."},
      {"/srv/../qor", "/srv/../qor"},  // ".." is left to the file system: links may be on the way
  };
  for (const auto& [setting, text] : cases) {
    EXPECT_EQ(DataDirectory(setting).Text(), text) << setting;
  }
}

TEST(DataDirectoryTest, CpathAndPathsOnDiskTranslateBothWays) {
  const DataDirectory absolute("/srv/qor/");
  EXPECT_EQ(absolute.ToAbsolutePath("ABC/05/x.ABC"), "/srv/qor/ABC/05/x.ABC");
  EXPECT_EQ(absolute.ToRelativePath("/srv/qor/ABC/05/x.ABC"), "ABC/05/x.ABC");
  EXPECT_EQ(absolute.ToRelativePath("/srv/qor2/ABC/x"), std::nullopt);
  EXPECT_EQ(absolute.ToRelativePath("/SRV/QOR/ABC/x"), std::nullopt);  // case counts on disk
  EXPECT_EQ(absolute.ToRelativePath("/srv/qor"), std::nullopt);

  const DataDirectory relative("data\\qor");
  EXPECT_EQ(relative.ToAbsolutePath("ABC/05/x"), "data/qor/ABC/05/x");
  EXPECT_EQ(relative.ToRelativePath("data/qor/ABC/05/x"), "ABC/05/x");

  // The working folder: paths stay relative to it, and CPATH is the same text.
  const DataDirectory working("");
  EXPECT_EQ(working.ToAbsolutePath("ABC/05/x"), "ABC/05/x");
  EXPECT_EQ(working.ToRelativePath("ABC/05/x"), "ABC/05/x");

  const DataDirectory root("/");
  EXPECT_EQ(root.ToAbsolutePath("ABC/05/x"), "/ABC/05/x");
  EXPECT_EQ(root.ToRelativePath("/ABC/05/x"), "ABC/05/x");

  // An absolute path (a wfdisc file elsewhere) is not put under the directory.
  EXPECT_EQ(absolute.ToAbsolutePath("/tmp/out.wfdisc"), "/tmp/out.wfdisc");

  // CPATH is the relative path, except under a network share: there it is the full path.
  EXPECT_FALSE(absolute.IsNetworkShare());
  EXPECT_EQ(absolute.CpathOf("ABC/05/x"), "ABC/05/x");
  EXPECT_EQ(absolute.FromCpath("ABC/05/x"), "ABC/05/x");
  for (const char* setting : {"//srv/qor", "\\\\srv\\qor\\", "//srv//qor/."}) {
    const DataDirectory share(setting);
    SCOPED_TRACE(setting);
    EXPECT_TRUE(share.IsNetworkShare());
    EXPECT_EQ(share.ToAbsolutePath("ABC/05/x"), "/srv/qor/ABC/05/x");
    EXPECT_EQ(share.CpathOf("ABC/05/x"), "//srv/qor/ABC/05/x");
    EXPECT_EQ(share.FromCpath("//srv/qor/ABC/05/x"), "ABC/05/x");
    EXPECT_EQ(share.FromCpath("ABC/05/x"), "ABC/05/x");                  // written before
    EXPECT_EQ(share.FromCpath("//srv/qor2/ABC/x"), "//srv/qor2/ABC/x");  // not below it
  }
  EXPECT_FALSE(DataDirectory("///").IsNetworkShare());
}

TEST(DataDirectoryTest, OnlyPlainRelativePathsAreOpened) {
  EXPECT_TRUE(IsStoreRelativePath("ABC/05/x.ABC"));
  EXPECT_TRUE(IsStoreRelativePath("x"));
  for (const char* bad :
       {"", "/ABC/x", "ABC//x", "ABC/./x", "ABC/../x", "../x", "ABC/x/", "ABC\\05\\x"}) {
    EXPECT_FALSE(IsStoreRelativePath(bad)) << bad;
  }
}

TEST(DataDirectoryTest, MakeDirectoryPathCreatesEveryLevel) {
  TempDir temp;
  const DataDirectory nested((temp.path() / "a" / "b" / "c").string() + "/");
  EXPECT_TRUE(nested.MakeDirectoryPath());
  EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "b" / "c"));
  EXPECT_TRUE(nested.MakeDirectoryPath());  // existing levels are fine

  testing::WriteFile(temp / "file", "x");
  EXPECT_FALSE(DataDirectory((temp.path() / "file" / "sub").string()).MakeDirectoryPath());
}

class StoreFilesTest : public ::testing::Test {
 protected:
  StoreFilesTest() : files_(DataDirectory((temp_.path() / "data").string())) {
    fs::create_directories(temp_.path() / "data");
    fs::create_directories(temp_.path() / "outside");
    testing::WriteFile(temp_ / "outside/victim", "keep me");
  }
  fs::path Data(const std::string& relative) const { return temp_.path() / "data" / relative; }
  std::string Victim() const { return testing::ReadFile(temp_.path() / "outside" / "victim"); }

  TempDir temp_;
  StoreFiles files_;
};

TEST_F(StoreFilesTest, NewFilesAreCreatedExclusivelyWithTheirFolders) {
  FileDescriptor fd = files_.CreateNew("ABC/05/x.ABC");
  ASSERT_TRUE(fd);
  ASSERT_TRUE(WriteAll(fd.get(), "12345", 5));
  fd.Close();
  EXPECT_EQ(files_.Stat("ABC/05/x.ABC").kind, StoreFiles::Kind::kRegularFile);
  EXPECT_EQ(files_.Stat("ABC/05/x.ABC").size, 5);
  EXPECT_EQ(files_.Stat("ABC/05/y.ABC").kind, StoreFiles::Kind::kMissing);
  EXPECT_EQ(files_.Stat("XYZ/05/y.ABC").kind, StoreFiles::Kind::kMissing);
  EXPECT_FALSE(files_.CreateNew("ABC/05/x.ABC"));  // never over an existing file
  EXPECT_TRUE(files_.OpenExisting("ABC/05/x.ABC"));
  EXPECT_FALSE(files_.OpenExisting("ABC/05"));  // a folder is no waveform file
  EXPECT_FALSE(files_.CreateNew("../outside/new"));
  EXPECT_FALSE(fs::exists(temp_.path() / "outside" / "new"));
}

TEST_F(StoreFilesTest, LinkedFoldersAndFilesAreNeverFollowed) {
  fs::create_directory_symlink(temp_.path() / "outside", Data("LNK"));
  fs::create_directories(Data("ABC"));
  fs::create_directory_symlink(temp_.path() / "outside", Data("ABC/05"));
  fs::create_directories(Data("DEF/05"));
  fs::create_symlink(temp_.path() / "outside" / "victim", Data("DEF/05/x.DEF"));

  for (const char* path : {"LNK/05/x", "ABC/05/x", "ABC/05/victim", "DEF/05/x.DEF", "LNK"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(files_.Stat(path).kind, StoreFiles::Kind::kOther);
    EXPECT_FALSE(files_.OpenExisting(path));
    EXPECT_FALSE(files_.CreateNew(path));
    EXPECT_FALSE(files_.OpenOrCreate(path));
    EXPECT_EQ(files_.Remove(path), StoreFiles::Removal::kRefused);
  }
  ASSERT_TRUE(files_.CreateNew("A/1"));
  EXPECT_FALSE(files_.Rename("A/1", "ABC/05/victim", true));
  EXPECT_FALSE(files_.Rename("A/1", "LNK/victim", true));
  EXPECT_EQ(Victim(), "keep me");
  EXPECT_TRUE(fs::is_symlink(Data("DEF/05/x.DEF")));
  EXPECT_EQ(
      std::distance(fs::directory_iterator(temp_.path() / "outside"), fs::directory_iterator()), 1);
}

TEST_F(StoreFilesTest, TheDataDirectoryItselfMayBeALink) {
  fs::create_directory_symlink(temp_.path() / "data", temp_.path() / "linked");
  const StoreFiles viaLink(DataDirectory((temp_.path() / "linked").string()));
  ASSERT_TRUE(viaLink.CreateNew("ABC/05/x.ABC"));
  EXPECT_TRUE(fs::is_regular_file(Data("ABC/05/x.ABC")));
}

TEST_F(StoreFilesTest, RenameReplacesOnlyWhenAsked) {
  ASSERT_TRUE(files_.CreateNew("A/1"));
  ASSERT_TRUE(files_.CreateNew("A/2"));
  EXPECT_FALSE(files_.Rename("A/1", "A/2", false));
  EXPECT_EQ(files_.Stat("A/1").kind, StoreFiles::Kind::kRegularFile);
  EXPECT_TRUE(files_.Rename("A/1", "A/2", true));
  EXPECT_EQ(files_.Stat("A/1").kind, StoreFiles::Kind::kMissing);
  EXPECT_TRUE(files_.Rename("A/2", "B/3", false));  // into a new folder
  EXPECT_EQ(files_.Remove("B/3"), StoreFiles::Removal::kRemoved);
  EXPECT_EQ(files_.Remove("B/3"), StoreFiles::Removal::kMissing);
}

TEST(ChannelLockTest, LockIsExclusivePerStationAndChannel) {
  TempDir temp;
  const StoreFiles files{DataDirectory(temp.path().string())};
  // Every location code of a channel shares the lock: their files share names.
  EXPECT_EQ(ChannelLock::LockFilePath("ABC", "BHZ"), ".lock/ABC.BHZ.lock");

  ChannelLock lock;
  ASSERT_TRUE(lock.Acquire(files, "ABC", "BHZ"));
  const std::string path = (temp.path() / ChannelLock::LockFilePath("ABC", "BHZ")).string();
  const int other = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  lock.Release();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
}

TEST(ChannelLockTest, LockOfAKilledProcessGoesAway) {
  TempDir temp;
  const StoreFiles files{DataDirectory(temp.path().string())};
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ChannelLock lock;
    const char flag = lock.Acquire(files, "ABC", "BHZ") ? 'y' : 'n';
    if (::write(ready[1], &flag, 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  char flag = 0;
  ASSERT_EQ(::read(ready[0], &flag, 1), 1);
  ASSERT_EQ(flag, 'y');
  const std::string path = (temp.path() / ChannelLock::LockFilePath("ABC", "BHZ")).string();
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

TEST(ChannelLockTest, NotesOutliveTheHolderAndALineCutShortIsNoNote) {
  TempDir temp;
  const StoreFiles files{DataDirectory(temp.path().string())};
  {
    ChannelLock lock;
    ASSERT_TRUE(lock.Acquire(files, "ABC", "BHZ"));
    EXPECT_TRUE(lock.Notes().empty());
    ASSERT_TRUE(lock.AddNote(Note::NewFile("ABC/05/.x.new", "ABC/05/x")));
    ASSERT_TRUE(lock.AddNote(Note::Append("00", "ABC/05/y", 4608, true)));
  }
  // A killed writer may leave half a line behind.
  std::ofstream(temp.path() / ".lock" / "ABC.BHZ.lock", std::ios::app) << "R\tABC/0";
  ChannelLock next;
  ASSERT_TRUE(next.Acquire(files, "ABC", "BHZ"));
  EXPECT_EQ(next.Notes(),
            (std::vector<std::string>{"N\tABC/05/.x.new\tABC/05/x", "A\t00\tABC/05/y\t4608\tH"}));
  next.ClearNotes();
  EXPECT_TRUE(next.Notes().empty());
}

TEST(ChannelLockTest, ALinkInPlaceOfTheLockFileIsRefused) {
  TempDir temp;
  testing::WriteFile(temp / "victim", "keep me");
  fs::create_directories(temp.path() / "data" / ".lock");
  fs::create_symlink(temp.path() / "victim", temp.path() / "data" / ".lock" / "ABC.BHZ.lock");
  ChannelLock lock;
  EXPECT_FALSE(
      lock.Acquire(StoreFiles(DataDirectory((temp.path() / "data").string())), "ABC", "BHZ"));
  EXPECT_EQ(testing::ReadFile(temp.path() / "victim"), "keep me");
}

// A cleaning job removes the lock file while one converter holds it and another waits for it,
// and a third converter locks the new file at its path: the one that waited wakes up holding the
// removed file, sees that its path names another, and waits for that one instead.
TEST(ChannelLockTest, ALockFileRemovedWhileWaitedForIsTakenAgainAtItsPath) {
  TempDir temp;
  const StoreFiles files{DataDirectory(temp.path().string())};
  const fs::path path = temp.path() / ChannelLock::LockFilePath("ABC", "BHZ");
  fs::create_directories(path.parent_path());
  const int first = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(first, 0);
  ASSERT_EQ(::flock(first, LOCK_EX), 0);

  int taken[2];
  ASSERT_EQ(::pipe(taken), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(first);  // the parent's lock is its own
    ChannelLock lock;
    const char flag = lock.Acquire(files, "ABC", "BHZ") && lock.StillNamed(files) ? 'y' : 'n';
    if (::write(taken[1], &flag, 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  ASSERT_TRUE(testing::WaitUntilWaitingForAFileLock(child));
  fs::remove(path);
  const int second = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(second, 0);
  ASSERT_EQ(::flock(second, LOCK_EX), 0);
  ::close(first);
  // The waiter had the removed file for a moment; now it waits for the one at the path.
  EXPECT_TRUE(testing::WaitUntilWaitingForAFileLock(child));
  ::close(second);
  char flag = 0;
  ASSERT_EQ(::read(taken[0], &flag, 1), 1);
  EXPECT_EQ(flag, 'y');
  const int probe = ::open(path.c_str(), O_RDWR);
  EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0);  // the child holds the file at the path
  ::close(probe);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(taken[0]);
  ::close(taken[1]);
}

TEST(LockNoteTest, EveryKindIsReadBackAsItWasWritten) {
  const std::vector<Note> notes = {
      Note::NewFile("ABC/13/.21032009-130500-BHZ.ABC.new", "ABC/13/21032009-130500-BHZ.ABC"),
      Note::Replacement("ABC/13/.21032009-130500-BHZ.ABC.new", "ABC/13/21032009-130500-BHZ.ABC"),
      Note::PlaceReplacement("ABC/13/.x.new", "ABC/13/x"),
      Note::Append("00", "ABC/13/21032009-130500-BHZ-2.ABC", 144512, true),
      Note::Append("??", "ABC/13/21032009-130500-BHZ.ABC", 512, false),
      Note::Append("", "ABC/13/21032009-130500-BHZ.ABC", 0, true),
      Note::Removal("ABC/13/21032009-130500-BHZ.ABC"),
  };
  for (const Note& note : notes) {
    SCOPED_TRACE(note.Text());
    EXPECT_EQ(note.Text().find('\n'), std::string::npos);
    EXPECT_EQ(Note::Parse(note.Text()), note);
  }
  EXPECT_EQ(notes[3].Text(), "A\t00\tABC/13/21032009-130500-BHZ-2.ABC\t144512\tH");
  EXPECT_EQ(notes[6].Text(), "D\tABC/13/21032009-130500-BHZ.ABC");
}

TEST(LockNoteTest, NotesOfEarlierVersionsAreReadAndAnythingElseIsNot) {
  // A staged name alone, and appends without their header field or size.
  const auto replacement = Note::Parse("R\tABC/13/.21032009-130500-BHZ.ABC.new");
  ASSERT_TRUE(replacement);
  EXPECT_EQ(replacement->cpath, "ABC/13/21032009-130500-BHZ.ABC");
  const auto sized = Note::Parse("A\t00\tABC/13/x\t4608");
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->sizeBefore, 4608);
  EXPECT_FALSE(sized->ownHeader.has_value());
  const auto bare = Note::Parse("A\t00\tABC/13/x");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->sizeBefore, -1);
  for (const char* junk :
       {"", "X\ta", "N\tonly-one", "N\ta\tb\tc", "R\tABC/13/x", "A\t00\t\t1", "A\t00\tx\t-5",
        "A\t00\tx\t12z", "A\t00\tx\t1\tY", "D", "D\ta\tb", "NN\ta\tb"}) {
    EXPECT_FALSE(Note::Parse(junk)) << junk;
  }
}

// Notes act only on the lock's own channel's files: a path of another channel, another
// program's, outside the data directory or not in the store's layout is no note of it.
TEST(LockNoteTest, ANoteBelongsOnlyToItsChannelsFilesAndTheirStagedNames) {
  const std::string file = "ABC/13/21032009-130500-BHZ.ABC";
  EXPECT_TRUE(Note::Removal(file).BelongsTo("ABC", "BHZ"));
  EXPECT_TRUE(Note::Removal("ABC/13/21032009-130500-BHZ-12.ABC").BelongsTo("ABC", "BHZ"));
  EXPECT_TRUE(Note::Removal("AB/00/01012020-000000- LH. AB").BelongsTo("AB", "LH"));
  EXPECT_TRUE(Note::NewFile(StagedPathOf(file), file).BelongsTo("ABC", "BHZ"));
  EXPECT_EQ(StagedPathOf(file), "ABC/13/.21032009-130500-BHZ.ABC.new");

  EXPECT_FALSE(Note::Removal(file).BelongsTo("ABC", "BHN"));
  EXPECT_FALSE(Note::Removal(file).BelongsTo("AB", "BHZ"));
  EXPECT_FALSE(Note::Removal("DEF/13/21032009-130500-BHZ.DEF").BelongsTo("ABC", "BHZ"));
  for (const char* other :
       {"ABC/13/../../DEF/13/21032009-130500-BHZ.ABC", "/etc/passwd", "ABC/13/notes.txt",
        "ABC/13/21032009-130500-BHZ.ABC.bak", "ABC/1/21032009-130500-BHZ.ABC",
        "ABC/13/2103209-130500-BHZ.ABC", "ABC/13/21032009-130500-BHZ-x.ABC",
        "ABC/13/sub/21032009-130500-BHZ.ABC", ".lock/ABC.BHZ.lock",
        "ABC/13/21032009-130500-BHZ.ABC/"}) {
    EXPECT_FALSE(Note::Removal(other).BelongsTo("ABC", "BHZ")) << other;
  }
  // A staged name is the file's own, beside it.
  EXPECT_FALSE(Note::NewFile("ABC/13/.other.new", file).BelongsTo("ABC", "BHZ"));
  EXPECT_FALSE(Note::Replacement("DEF/13/x", file).BelongsTo("ABC", "BHZ"));
  EXPECT_FALSE(Note::PlaceReplacement(file, file).BelongsTo("ABC", "BHZ"));
}

}  // namespace
}  // namespace tarnvel
