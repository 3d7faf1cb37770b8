#include "settings/data_directory.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tarnvel {
namespace {

std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string_view::npos) next = path.size();
    parts.push_back(path.substr(pos, next - pos));
    pos = next + 1;
  }
  return parts;
}

}  // namespace

DataDirectory::DataDirectory(std::string_view setting) : setting_(setting) {
  std::replace(setting_.begin(), setting_.end(), '\\', '/');
  const bool absolute = !setting_.empty() && setting_.front() == '/';
  for (const std::string_view part : Components(setting_)) {
    if (part.empty() || part == ".") continue;
    if (!text_.empty() || absolute) text_ += '/';
    text_ += part;
  }
  if (text_.empty()) text_ = absolute ? "/" : ".";
  network_ = setting_.starts_with("//") && text_ != "/";
}

std::string DataDirectory::CpathOf(std::string_view relative) const {
  if (!network_) return std::string(relative);
  return "/" + text_ + "/" + std::string(relative);
}

std::string DataDirectory::FromCpath(std::string_view cpath) const {
  if (network_) {
    const std::string share = "/" + text_ + "/";
    if (cpath.starts_with(share)) cpath.remove_prefix(share.size());
  }
  return std::string(cpath);
}

std::string DataDirectory::ToAbsolutePath(std::string_view path) const {
  if (!path.empty() && path.front() == '/') return std::string(path);
  if (text_ == ".") return std::string(path);
  if (text_ == "/") return "/" + std::string(path);
  return text_ + "/" + std::string(path);
}

std::optional<std::string> DataDirectory::ToRelativePath(std::string_view path) const {
  if (text_ == ".") {
    if (path.starts_with("./")) path.remove_prefix(2);
    if (path.empty() || path.front() == '/') return std::nullopt;
    return std::string(path);
  }
  const std::string prefix = text_ == "/" ? text_ : text_ + "/";
  if (!path.starts_with(prefix) || path.size() == prefix.size()) return std::nullopt;
  return std::string(path.substr(prefix.size()));
}

bool DataDirectory::MakeDirectoryPath() const {
  std::string prefix = text_.front() == '/' ? "/" : "";
  for (const std::string_view part : Components(text_)) {
    if (part.empty()) continue;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    prefix += part;
    if (part == "." || part == "..") continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return ::stat(text_.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsStoreRelativePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  for (const std::string_view part : Components(path)) {
    if (part.empty() || part == "." || part == "..") return false;
    if (part.find('\\') != std::string_view::npos) return false;
    if (part.find('\0') != std::string_view::npos) return false;
  }
  return true;
}

}  // namespace tarnvel
