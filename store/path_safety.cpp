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

std::string NormalPath(std::string_view path) {
  return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace tarnvel
