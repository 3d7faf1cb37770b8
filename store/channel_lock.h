// An exclusive lock per station and channel, held by one process at a time for the whole
// read-decide-write sequence of storing a segment, and until the FILELIST changes made under it
// are committed. It covers every location code of the channel, because their files share
// names. The lock is a flock on ".lock/<STA>.<CH>.lock" below the data directory; the kernel
// drops it with the process, so a killed converter never leaves a channel locked.
//
// A lock file removed while converters wait for it (a cleaning job) would let one of them lock
// the removed file while another locks a new one at the same path: a lock is therefore taken
// again until its path names the very file locked.
//
// The lock file also holds the notes of work in progress under the lock (Note, one line each:
// files staged, put in place, extended or to be removed, whose rows are not committed yet). The
// holder clears them once that work is committed or undone; a run that was killed leaves them
// for the next holder to settle.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/lock_note.h"
#include "store/posix_file.h"
#include "store/store_files.h"

namespace tarnvel {

class ChannelLock {
 public:
  ChannelLock() = default;
  ~ChannelLock() = default;  // closing the descriptor releases the lock
  ChannelLock(const ChannelLock&) = delete;
  ChannelLock& operator=(const ChannelLock&) = delete;
  ChannelLock(ChannelLock&&) = default;
  ChannelLock& operator=(ChannelLock&&) = default;

  // The folder of the lock files, relative to the data directory.
  static constexpr std::string_view kFolder = ".lock";
  // The lock file of a channel, relative to the data directory.
  static std::string LockFilePath(std::string_view station, std::string_view channel);

  // Creates the lock folder when needed and waits for the lock. False when the lock file cannot
  // be opened (a link stands there, say) or locked, or keeps being replaced while it is taken;
  // the codes must be valid path components.
  bool Acquire(const StoreFiles& files, std::string_view station, std::string_view channel);
  // The same without waiting: kBusy when another process holds the lock.
  enum class Attempt { kTaken, kBusy, kFailed };
  Attempt TryAcquire(const StoreFiles& files, std::string_view station, std::string_view channel);
  bool held() const { return static_cast<bool>(fd_); }
  void Release() { fd_.Close(); }
  // Whether this process created the lock file when it took the lock (its folder entry is new).
  bool created() const { return created_; }
  // Whether the lock file's path still names the file locked.
  bool StillNamed(const StoreFiles& files) const;

  // The lines left in the lock file, oldest first (Note::Parse reads them); a line cut short by
  // a kill is none.
  std::vector<std::string> Notes() const;
  // Whether the lock file holds nothing (not even a line cut short).
  bool Empty() const;
  // Adds a note; false when it could not be written.
  bool AddNote(const Note& note);
  void ClearNotes();
  // The lock file's descriptor (to sync its notes); -1 when not held.
  int descriptor() const { return fd_.get(); }

 private:
  Attempt Take(const StoreFiles& files, std::string_view station, std::string_view channel,
               int operation);

  FileDescriptor fd_;
  std::string path_;
  bool created_ = false;
};

}  // namespace tarnvel
