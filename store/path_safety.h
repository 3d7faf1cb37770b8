// Guards that keep every file the store creates or removes inside its own folders, whatever
// codes the data carries.
#pragma once

#include <string>
#include <string_view>

namespace tarnvel {

// The lexically normalised form of a '/' path ("a//b/./c" -> "a/b/c"), for comparing paths.
std::string NormalPath(std::string_view path);

}  // namespace tarnvel
