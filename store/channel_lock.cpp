#include "store/channel_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace tarnvel {

namespace {

std::string LockFolder(std::string_view dataDirectory) {
  std::string folder(dataDirectory);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) return ".lock";
  if (folder.back() != '/') folder.push_back('/');
  return folder + ".lock";
}

}  // namespace

std::string ChannelLock::LockFilePath(std::string_view dataDirectory, std::string_view station,
                                      std::string_view channel, std::string_view location) {
  const std::string_view lc = location.empty() ? std::string_view("??") : location;
  std::string path = LockFolder(dataDirectory);
  path += '/';
  path += station;
  path += '.';
  path += channel;
  path += '.';
  path += lc;
  path += ".lock";
  return path;
}

bool ChannelLock::Acquire(std::string_view dataDirectory, std::string_view station,
                          std::string_view channel, std::string_view location) {
  Release();
  const std::string folder = LockFolder(dataDirectory);
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return false;
  FileDescriptor fd =
      OpenFile(LockFilePath(dataDirectory, station, channel, location), O_RDWR | O_CREAT, 0666);
  if (!fd) return false;
  int rc = 0;
  do {
    rc = ::flock(fd.get(), LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  fd_ = std::move(fd);
  return true;
}

}  // namespace tarnvel
