#include "store/path_safety.h"

#include <filesystem>

namespace tarnvel {

std::string NormalPath(std::string_view path) {
  return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace tarnvel
