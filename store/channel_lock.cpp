#include "store/channel_lock.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnvel {

std::string ChannelLock::LockFilePath(std::string_view station, std::string_view channel) {
  std::string path = ".lock/";
  path += station;
  path += '.';
  path += channel;
  path += ".lock";
  return path;
}

bool ChannelLock::Acquire(const StoreFiles& files, std::string_view station,
                          std::string_view channel) {
  return Take(files, station, channel, LOCK_EX) == Attempt::kTaken;
}

ChannelLock::Attempt ChannelLock::TryAcquire(const StoreFiles& files, std::string_view station,
                                             std::string_view channel) {
  return Take(files, station, channel, LOCK_EX | LOCK_NB);
}

ChannelLock::Attempt ChannelLock::Take(const StoreFiles& files, std::string_view station,
                                       std::string_view channel, int operation) {
  Release();
  FileDescriptor fd = files.OpenOrCreate(LockFilePath(station, channel));
  if (!fd) return Attempt::kFailed;
  int rc = 0;
  do {
    rc = ::flock(fd.get(), operation);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno == EWOULDBLOCK ? Attempt::kBusy : Attempt::kFailed;
  fd_ = std::move(fd);
  return Attempt::kTaken;
}

std::vector<std::string> ChannelLock::Notes() const {
  std::vector<std::string> notes;
  struct stat info {};
  if (!fd_ || ::fstat(fd_.get(), &info) != 0 || info.st_size <= 0) return notes;
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  if (!ReadAllAt(fd_.get(), text.data(), text.size(), 0)) return notes;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    // A line cut short by a kill has no newline; it was never acted on.
    if (end == std::string::npos) break;
    if (end > pos) notes.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return notes;
}

bool ChannelLock::AddNote(std::string_view note) {
  if (!fd_) return false;
  struct stat info {};
  if (::fstat(fd_.get(), &info) != 0) return false;
  std::string line(note);
  line += '\n';
  return WriteAllAt(fd_.get(), line.data(), line.size(), info.st_size);
}

void ChannelLock::ClearNotes() {
  if (fd_ && ::ftruncate(fd_.get(), 0) != 0) {
    // Notes that stay are settled again by the next holder; nothing is lost.
  }
}

}  // namespace tarnvel
