// An exclusive lock per station and channel, held by one process at a time for the whole
// read-decide-write sequence of storing a segment, and until the FILELIST changes made under it
// are committed. It covers every location code of the channel, because their files share
// names. The lock is a flock on ".lock/<STA>.<CH>.lock" below the data directory; the kernel
// drops it with the process, so a killed converter never leaves a channel locked.
//
// The lock file also holds the notes of work in progress under the lock, one line each (files
// staged, put in place, extended or to be removed, whose rows are not committed yet). The
// holder clears them once that work is committed or undone; a run that was killed leaves them
// for the next holder to settle.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/posix_file.h"
#include "store/store_files.h"

namespace tarnvel {

class ChannelLock {
 public:
  ChannelLock() = default;
  ~ChannelLock() = default;  // closing the descriptor releases the lock
  ChannelLock(const ChannelLock&) = delete;
  ChannelLock& operator=(const ChannelLock&) = delete;

  // The lock file of a channel, relative to the data directory.
  static std::string LockFilePath(std::string_view station, std::string_view channel);

  // Creates the lock folder when needed and waits for the lock. False when the lock file cannot
  // be opened (a link stands there, say) or locked; the codes must be valid path components.
  bool Acquire(const StoreFiles& files, std::string_view station, std::string_view channel);
  // The same without waiting: kBusy when another process holds the lock.
  enum class Attempt { kTaken, kBusy, kFailed };
  Attempt TryAcquire(const StoreFiles& files, std::string_view station, std::string_view channel);
  bool held() const { return static_cast<bool>(fd_); }
  void Release() { fd_.Close(); }

  // The notes left in the lock file, oldest first.
  std::vector<std::string> Notes() const;
  // Adds a note; false when it could not be written.
  bool AddNote(std::string_view note);
  void ClearNotes();

 private:
  Attempt Take(const StoreFiles& files, std::string_view station, std::string_view channel,
               int operation);

  FileDescriptor fd_;
};

}  // namespace tarnvel
