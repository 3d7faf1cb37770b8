#include "gui/run_limits.h"

#include <cstdio>
#include <vector>

#include "gui/messages.h"
#include "gui/text_fields.h"

namespace tarnvel::gui {

std::optional<std::string> CheckLengths(std::initializer_list<NamedValue> values) {
  for (const auto& item : values) {
    const std::size_t length = CharacterCount(item.value);
    if (length <= item.limit) continue;
    const std::string name(item.name);
    const int size =
        std::snprintf(nullptr, 0, text::kTooLongFormat, name.c_str(), item.limit, length);
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
    std::snprintf(buffer.data(), buffer.size(), text::kTooLongFormat, name.c_str(), item.limit,
                  length);
    return std::string(buffer.data());
  }
  return std::nullopt;
}

}  // namespace tarnvel::gui
