// File operations below the data directory that never follow a symbolic link: every folder is
// opened from the data directory with openat and O_NOFOLLOW, files are opened with O_NOFOLLOW
// and new ones are created exclusively. The data directory itself may be a link. Paths are
// relative to the data directory ('/' separators, checked with IsStoreRelativePath); a path
// that fails the check is treated like one that cannot be opened.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "settings/data_directory.h"
#include "store/posix_file.h"

namespace tarnvel {

class StoreFiles {
 public:
  // With `newFolders`, every folder created on the way to a file adds the folder that holds it
  // there ("" for the data directory): that folder's entries changed and are to be synced.
  explicit StoreFiles(DataDirectory directory, std::set<std::string>* newFolders = nullptr)
      : directory_(std::move(directory)), newFolders_(newFolders) {}

  const DataDirectory& Directory() const { return directory_; }

  enum class Kind {
    kMissing,      // nothing there (or a folder on the way is missing)
    kRegularFile,  // a regular file reached without links
    kOther,        // a link, a folder, a device, or a path through a linked folder
  };
  struct Entry {
    Kind kind = Kind::kMissing;
    std::int64_t size = 0;  // bytes of a regular file
  };
  Entry Stat(std::string_view path) const;

  // An existing regular file, opened for reading and writing.
  FileDescriptor OpenExisting(std::string_view path) const;
  // An existing regular file, opened for reading only (a read-only file is still compared
  // and copied).
  FileDescriptor OpenForReading(std::string_view path) const;
  // A new file, created exclusively together with the folders it needs.
  FileDescriptor CreateNew(std::string_view path) const;
  // A regular file that may exist already (created with its folders when it does not).
  FileDescriptor OpenOrCreate(std::string_view path) const;

  // Gives the unnamed file open as `fd` (O_TMPFILE, on the data directory's file system) the
  // name `path`, creating the folders it needs; never over anything standing there (errno
  // EEXIST), and false with errno set whenever the system does not link it (EXDEV for another
  // file system, ENOENT for a file that was named before).
  bool LinkUnnamed(int fd, std::string_view path) const;

  enum class Removal { kRemoved, kMissing, kRefused };
  // Removes a regular file; anything else is left alone (kRefused).
  Removal Remove(std::string_view path) const;

  // Renames a file within the data directory. Without `replace` an existing target is left
  // alone and the rename fails.
  bool Rename(std::string_view from, std::string_view to, bool replace) const;

  // The names of the regular files in a folder ("" for the data directory), in no order; empty
  // when it cannot be read.
  std::vector<std::string> FileNames(std::string_view folder) const;

  // Whether `path` names the file open as `fd` (the same device and inode, no link there).
  bool StillNames(std::string_view path, int fd) const;

  // Brings a regular file's data (fdatasync) or a folder's entries (fsync; "" is the data
  // directory) to stable storage; false when that failed. A missing file or folder is nothing to
  // sync (true).
  bool SyncFile(std::string_view path) const;
  bool SyncFolder(std::string_view folder) const;
  // A regular file, or with `folder` a folder ("" for the data directory), opened to be synced;
  // invalid with errno set when it cannot be (ENOENT: nothing there).
  FileDescriptor OpenForSync(std::string_view path, bool folder) const;

  // Bytes free for this process on the data directory's file system; std::nullopt when the
  // file system cannot be asked.
  std::optional<std::uint64_t> FreeSpace() const;

 private:
  // The folder that holds the last component of `path`, walked from the data directory without
  // following links (and created level by level with `create`); `leaf` receives that last
  // component. An invalid descriptor with errno set on failure.
  FileDescriptor OpenParent(std::string_view path, bool create, std::string_view& leaf) const;

  DataDirectory directory_;
  std::set<std::string>* newFolders_ = nullptr;
};

// The folder holding `path` ("ABC/13/x" -> "ABC/13", "x" -> "").
std::string FolderOf(std::string_view path);

}  // namespace tarnvel
