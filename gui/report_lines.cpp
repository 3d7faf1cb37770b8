#include "gui/report_lines.h"

#include "converter/console_wording.h"

namespace tarnvel::gui {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "Open Err:" with nothing but blanks after it: the path follows on the next line.
bool IsBareOpenError(std::string_view piece) {
  if (!StartsWith(piece, wording::kOpenErr)) return false;
  const std::string_view rest = piece.substr(std::string_view(wording::kOpenErr).size());
  if (rest.empty() || rest.front() != ':') return false;
  return rest.find_first_not_of(" \t", 1) == std::string_view::npos;
}

std::vector<std::string_view> Pieces(std::string_view output) {
  std::vector<std::string_view> pieces;
  while (!output.empty()) {
    const auto end = output.find_first_of("\r\n");
    const auto piece = output.substr(0, end);
    if (!piece.empty() && !IsProgressPiece(piece)) pieces.push_back(piece);
    if (end == std::string_view::npos) break;
    output.remove_prefix(end + 1);
  }
  return pieces;
}

}  // namespace

bool IsProgressPiece(std::string_view piece) {
  for (const std::string_view prefix :
       {std::string_view(wording::kConvertingFile), std::string_view(wording::kWritingToDatabase),
        std::string_view(wording::kWritingToCss)}) {
    if (StartsWith(piece, prefix) || StartsWith(prefix, piece)) {
      const std::string_view number =
          piece.size() > prefix.size() ? piece.substr(prefix.size()) : std::string_view();
      if (number.find_first_not_of("0123456789%") == std::string_view::npos) return true;
    }
  }
  return false;
}

std::vector<std::string> ReportLines(std::string_view output) {
  const std::vector<std::string_view> pieces = Pieces(output);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::string line(pieces[i]);
    if (IsBareOpenError(pieces[i]) && i + 1 < pieces.size()) {
      line = std::string(wording::kOpenErr) + ": " + std::string(pieces[++i]);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace tarnvel::gui
