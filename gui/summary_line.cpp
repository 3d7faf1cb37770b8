#include "gui/summary_line.h"

#include <cstdio>
#include <string>

#include "converter/console_wording.h"

namespace tarnvel::gui {
namespace {

// The converter's two summary lines as formats for one line, without their line feed; the CSS
// line up to the wfdisc path that ends it.
std::string LineFormat(std::string_view format, std::string_view ending) {
  if (format.ends_with(ending)) format.remove_suffix(ending.size());
  return std::string(format);
}
const std::string kStoreFormat = LineFormat(wording::kDatabaseSummary, "\n");
const std::string kCssHeadFormat = LineFormat(wording::kCssSummary, "%s\n");

// printf of `format` with the values read back; the line is taken only when it comes out the
// same, so a line that merely resembles the format (other blanks, signs, leading zeros) is not.
template <typename... Values>
std::string Printed(const char* format, Values... values) {
  const int size = std::snprintf(nullptr, 0, format, values...);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, values...);
  text.pop_back();
  return text;
}

std::string_view LastLine(std::string_view output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
    output.remove_suffix(1);
  }
  const auto start = output.find_last_of("\r\n");
  return start == std::string_view::npos ? output : output.substr(start + 1);
}

int CountOf(std::string_view text, std::string_view piece) {
  int count = 0;
  for (auto at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace

std::optional<StoreSummary> ParseStoreSummary(std::string_view line) {
  const std::string text(line);
  StoreSummary s;
  if (std::sscanf(text.c_str(), kStoreFormat.c_str(), &s.samples, &s.files, &s.created,
                  &s.continued, &s.rewritten, &s.alreadyStored) != 6) {
    return std::nullopt;
  }
  if (Printed(kStoreFormat.c_str(), s.samples, s.files, s.created, s.continued, s.rewritten,
              s.alreadyStored) != text) {
    return std::nullopt;
  }
  return s;
}

std::optional<CssSummary> ParseCssSummary(std::string_view line) {
  const std::string text(line);
  CssSummary s;
  if (std::sscanf(text.c_str(), kCssHeadFormat.c_str(), &s.wfdiscLines, &s.dataFiles, &s.samples) !=
      3) {
    return std::nullopt;
  }
  const std::string head = Printed(kCssHeadFormat.c_str(), s.wfdiscLines, s.dataFiles, s.samples);
  if (text.size() <= head.size() || text.compare(0, head.size(), head) != 0) return std::nullopt;
  s.wfdiscPath = text.substr(head.size());
  return s;
}

RunSummary FindRunSummary(std::string_view output) {
  RunSummary summary;
  const std::string_view line = LastLine(output);
  summary.store = ParseStoreSummary(line);
  if (!summary.store) summary.css = ParseCssSummary(line);
  if (summary.store || summary.css) summary.line = line;
  return summary;
}

bool WroteNoSegment(std::string_view output) {
  const int database = CountOf(output, wording::kWritingToDatabase);
  const int css = CountOf(output, wording::kWritingToCss);
  return database + css == 1 &&
         (output.find(std::string(wording::kWritingToDatabase) + "100%\n") !=
              std::string_view::npos ||
          output.find(std::string(wording::kWritingToCss) + "100%\n") != std::string_view::npos);
}

}  // namespace tarnvel::gui
