// File operations below the data directory that never follow a symbolic link: every folder is
// opened from the data directory with openat and O_NOFOLLOW, files are opened with O_NOFOLLOW
// and new ones are created exclusively. The data directory itself may be a link. Paths are
// relative to the data directory ('/' separators, checked with IsStoreRelativePath); a path
// that fails the check is treated like one that cannot be opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "store/data_directory.h"
#include "store/posix_file.h"

namespace tarnvel {

class StoreFiles {
 public:
  explicit StoreFiles(DataDirectory directory) : directory_(std::move(directory)) {}

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

  enum class Removal { kRemoved, kMissing, kRefused };
  // Removes a regular file; anything else is left alone (kRefused).
  Removal Remove(std::string_view path) const;

  // Renames a file within the data directory. Without `replace` an existing target is left
  // alone and the rename fails.
  bool Rename(std::string_view from, std::string_view to, bool replace) const;

  // Bytes free for this process on the data directory's file system; std::nullopt when the
  // file system cannot be asked.
  std::optional<std::uint64_t> FreeSpace() const;

 private:
  // The folder that holds the last component of `path`, walked from the data directory without
  // following links (and created level by level with `create`); `leaf` receives that last
  // component. An invalid descriptor with errno set on failure.
  FileDescriptor OpenParent(std::string_view path, bool create, std::string_view& leaf) const;

  DataDirectory directory_;
};

}  // namespace tarnvel
