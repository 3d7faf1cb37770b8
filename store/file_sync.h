// Bringing the store's files to stable storage, a group at a time: the files a transaction
// registers or extends and the folders whose entries it changed are gathered while it works
// and synced together right before its commit (fdatasync for files, fsync for folders), so that
// a committed row never points at data a power cut can still take away. Writeback of each
// file is started as soon as it is written, so that the syncs mostly find it done, and the
// syncs of a group run several at once (short-lived helper threads that do nothing else): a
// device serves many flushes together far faster than one after the other.
//
// Syncing can be switched off for tests (the environment variable TARNVEL_NO_SYNC=1, read by
// the settings reader); the store is then only as safe as the page cache.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "store/store_files.h"

namespace tarnvel {

class SyncGroup {
 public:
  explicit SyncGroup(bool enabled = true) : enabled_(enabled) {}

  bool enabled() const { return enabled_; }
  void Enable(bool enabled) { enabled_ = enabled; }

  // A file (CPATH or staged name) whose data are to be on stable storage.
  void File(const std::string& path) { files_.insert(path); }
  // A folder whose entries changed ("" for the data directory).
  void Folder(const std::string& folder) { folders_.insert(folder); }
  // Folders created on the way: StoreFiles adds the folders holding them here.
  std::set<std::string>* NewFolders() { return &folders_; }
  bool empty() const { return files_.empty() && folders_.empty(); }

  // Syncs the files, the folders and the open descriptors `more` (data only); false when one
  // could not be synced. The group is empty afterwards either way.
  bool Flush(const StoreFiles& files, const std::vector<int>& more = {});
  void Clear();

  // Starts writing a file's dirty pages back without waiting for them.
  void StartWriteback(int fd) const;
  // Brings one file's data (CPATH or staged name) to stable storage now; false when that failed.
  bool SyncNow(const StoreFiles& files, const std::string& path) const {
    return !enabled_ || files.SyncFile(path);
  }

  struct Target {
    int fd = -1;
    bool dataOnly = true;  // fdatasync; fsync for a folder
  };
  // Syncs every target, several at once; false when one failed.
  static bool SyncAll(const std::vector<Target>& targets);

 private:
  bool enabled_ = true;
  std::set<std::string> files_;
  std::set<std::string> folders_;
};

}  // namespace tarnvel
