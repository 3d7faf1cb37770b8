// An exclusive advisory lock per channel, held by one process at a time for the whole
// read-decide-write sequence of storing a segment. The lock is a flock on
// "<data directory>/.lock/<STA>.<CH>.<LC>.lock"; the kernel drops it with the process, so a
// killed converter never leaves a channel locked.
#pragma once

#include <string>
#include <string_view>

#include "store/posix_file.h"

namespace tarnvel {

class ChannelLock {
 public:
  ChannelLock() = default;
  ~ChannelLock() = default;  // closing the descriptor releases the lock
  ChannelLock(const ChannelLock&) = delete;
  ChannelLock& operator=(const ChannelLock&) = delete;

  // The lock file of a channel under `dataDirectory` ('/' separators; empty for the working
  // folder). A blank location ("" or "??") locks as "??", the way statements select it.
  static std::string LockFilePath(std::string_view dataDirectory, std::string_view station,
                                  std::string_view channel, std::string_view location);

  // Creates the lock folder when needed and waits for the lock. False when the lock file cannot
  // be opened or locked; the codes must already be valid path components.
  bool Acquire(std::string_view dataDirectory, std::string_view station, std::string_view channel,
               std::string_view location);
  bool held() const { return static_cast<bool>(fd_); }
  void Release() { fd_.Close(); }

 private:
  FileDescriptor fd_;
};

}  // namespace tarnvel
