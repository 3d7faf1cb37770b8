#include "store/channel_lock.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnvel {

std::string ChannelLock::LockFilePath(std::string_view station, std::string_view channel) {
  std::string path(kFolder);
  path += '/';
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

namespace {

// Times a lock is taken again because its path came to name another file meanwhile.
constexpr int kMostRetakes = 100;

}  // namespace

ChannelLock::Attempt ChannelLock::Take(const StoreFiles& files, std::string_view station,
                                       std::string_view channel, int operation) {
  const std::string path = LockFilePath(station, channel);
  for (int attempt = 0; attempt < kMostRetakes; ++attempt) {
    Release();
    FileDescriptor fd = files.CreateNew(path);
    bool created = static_cast<bool>(fd);
    if (!fd && errno == EEXIST) fd = files.OpenOrCreate(path);
    if (!fd) return Attempt::kFailed;
    int rc = 0;
    do {
      rc = ::flock(fd.get(), operation);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return errno == EWOULDBLOCK ? Attempt::kBusy : Attempt::kFailed;
    // Removed (or replaced) while this process waited or before it locked: another process may
    // hold the file that stands there now.
    if (!files.StillNames(path, fd.get())) continue;
    fd_ = std::move(fd);
    path_ = path;
    created_ = created;
    return Attempt::kTaken;
  }
  return Attempt::kFailed;
}

bool ChannelLock::StillNamed(const StoreFiles& files) const {
  return fd_ && files.StillNames(path_, fd_.get());
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

bool ChannelLock::Empty() const {
  struct stat info {};
  return !fd_ || (::fstat(fd_.get(), &info) == 0 && info.st_size == 0);
}

bool ChannelLock::AddNote(const Note& note) {
  if (!fd_) return false;
  struct stat info {};
  if (::fstat(fd_.get(), &info) != 0) return false;
  const std::string line = note.Text() + '\n';
  return WriteAllAt(fd_.get(), line.data(), line.size(), info.st_size);
}

void ChannelLock::ClearNotes() {
  if (fd_ && ::ftruncate(fd_.get(), 0) != 0) {
    // Notes that stay are settled again by the next holder; nothing is lost.
  }
}

}  // namespace tarnvel
