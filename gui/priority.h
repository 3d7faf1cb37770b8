// Scheduling priorities of the dialog program and of the converter it starts.
#pragma once

#include <cstdint>

namespace tarnvel::gui {

// Nice values standing for the priority classes the program uses.
inline constexpr int kBelowNormalNice = 5;
inline constexpr int kAboveNormalNice = -5;

// Sets the nice value of a process (0: this process). Raising the priority above what the
// user may take fails without privileges; the result tells, and callers may carry on.
bool SetProcessNice(std::int64_t pid, int nice);
int ProcessNice(std::int64_t pid);

}  // namespace tarnvel::gui
