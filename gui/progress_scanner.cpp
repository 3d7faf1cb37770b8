#include "gui/progress_scanner.h"

#include <algorithm>

#include "converter/console_wording.h"
#include "text/leading_number.h"

namespace tarnvel::gui {
namespace {

struct Entry {
  std::size_t position = std::string_view::npos;
  int percent = 0;
};

// The last complete entry of a progress line, its number right after the prefix.
Entry LastEntry(std::string_view output, std::string_view prefix) {
  std::size_t from = output.size();
  while (from > 0) {
    const auto at = output.rfind(prefix, from - 1);
    if (at == std::string_view::npos) break;
    const auto numberAt = at + prefix.size();
    if (numberAt <= output.size()) {
      const auto number = output.substr(numberAt);
      const auto digits = std::min(number.find_first_not_of("0123456789"), number.size());
      if (digits > 0 && digits < number.size() && number[digits] == '%') {
        return {at, std::clamp(LeadingInteger(number), 0, 100)};
      }
    }
    from = at;
  }
  return {};
}

}  // namespace

ProgressReading ScanProgress(std::string_view output) {
  ProgressReading reading;
  const Entry converting = LastEntry(output, wording::kConvertingFile);
  if (converting.position != std::string_view::npos) reading.reading = converting.percent;

  const Entry database = LastEntry(output, wording::kWritingToDatabase);
  const Entry css = LastEntry(output, wording::kWritingToCss);
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
