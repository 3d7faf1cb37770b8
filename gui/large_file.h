// The large-file question of a listing run: when it is asked, what it shows, what it yields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvel::gui {

inline constexpr std::int64_t kLargeFileBytes = 10485760;
inline constexpr int kProposedViewLimitMb = 10;
inline constexpr int kViewLimitDigits = 7;

bool IsLargeFile(std::int64_t sizeBytes);
// "%ld МБайт" with the whole megabytes of the size.
std::string MegabytesText(std::int64_t sizeBytes);
// The view limit typed into the number box: its leading digits, 0 without any.
int ViewLimitFromText(std::string_view text);

}  // namespace tarnvel::gui
