#include "store/path_safety.h"

#include <filesystem>

namespace tarnvel {

bool IsSafePathComponent(std::string_view code) {
  if (code.empty() || code == "." || code == "..") return false;
  for (char c : code) {
    if (c == '/' || c == '\\' || c == ':' || c == '\0') return false;
  }
  return true;
}

bool IsInsideDirectory(std::string_view path, std::string_view directory) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(directory).lexically_normal();
  const fs::path target = fs::path(path).lexically_normal();
  if (dir.is_absolute() != target.is_absolute()) return false;
  auto d = dir.begin();
  auto t = target.begin();
  for (; d != dir.end(); ++d) {
    // A trailing separator normalises to an empty last element.
    if (d->empty() || *d == ".") continue;
    if (t == target.end() || *t != *d) return false;
    ++t;
  }
  for (; t != target.end(); ++t) {
    if (*t == "..") return false;
  }
  return true;
}

std::string NormalPath(std::string_view path) {
  return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace tarnvel
