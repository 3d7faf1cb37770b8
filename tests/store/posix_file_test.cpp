// Syncing many files at once: every descriptor gets its own answer, whichever thread synced it.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/posix_file.h"
#include "tests/support/process.h"

namespace tarnvel {
namespace {

TEST(FileSyncTest, ManyFilesSyncedTogetherEachGetTheirOwnAnswer) {
  testing::TempDir dir;
  std::vector<FileDescriptor> files;
  std::vector<int> fds;
  std::vector<bool> expected;
  for (int i = 0; i < 40; ++i) {
    // Every seventh is no open file: its sync fails, and only its own.
    if (i % 7 == 3) {
      fds.push_back(-1);
      expected.push_back(false);
      continue;
    }
    files.push_back(OpenFile((dir / std::to_string(i)).string(), O_WRONLY | O_CREAT, 0644));
    ASSERT_TRUE(files.back());
    ASSERT_TRUE(WriteAll(files.back().get(), "samples", 7));
    fds.push_back(files.back().get());
    expected.push_back(true);
  }
  EXPECT_EQ(SyncFilesData(fds), expected);
  EXPECT_EQ(SyncFilesData(std::vector<int>{fds[0]}), std::vector<bool>{true});
  EXPECT_TRUE(SyncFilesData({}).empty());
  EXPECT_TRUE(SyncFolder(dir.path().string()));
  EXPECT_FALSE(SyncFolder((dir / "0").string()));  // a file, not a folder
}

}  // namespace
}  // namespace tarnvel
