#include "gui/progress_scanner.h"

#include <algorithm>

#include "gui/text_fields.h"

namespace tarnvel::gui {
namespace {

struct Entry {
  std::size_t position = std::string_view::npos;
  int percent = 0;
};

// The last complete entry of `phrase`, its number starting `offset` characters after the
// phrase's first letter.
Entry LastEntry(std::string_view output, std::string_view phrase, std::size_t offset) {
  std::size_t from = output.size();
  while (from > 0) {
    const auto at = output.rfind(phrase, from - 1);
    if (at == std::string_view::npos) break;
    const auto numberAt = at + offset;
    if (numberAt <= output.size()) {
      const auto number = output.substr(numberAt);
      const auto digits = std::min(number.find_first_not_of("0123456789"), number.size());
      if (digits > 0 && digits < number.size() && number[digits] == '%') {
        return {at, std::clamp(LeadingDigits(number), 0, 100)};
      }
    }
    from = at;
  }
  return {};
}

}  // namespace

ProgressReading ScanProgress(std::string_view output) {
  ProgressReading reading;
  const Entry converting = LastEntry(output, "Converting File", 18);
  if (converting.position != std::string_view::npos) reading.reading = converting.percent;

  const Entry database = LastEntry(output, "Writing to database", 22);
  const Entry css = LastEntry(output, "Writing to CSS-file", 22);
  const bool haveDatabase = database.position != std::string_view::npos;
  const bool haveCss = css.position != std::string_view::npos;
  if (haveDatabase && (!haveCss || database.position > css.position)) {
    reading.writing = database.percent;
  } else if (haveCss) {
    reading.writing = css.percent;
  }
  return reading;
}

}  // namespace tarnvel::gui
