#include "settings/ini_file.h"

#include <fstream>
#include <optional>

#include "text/leading_number.h"
#include "text/text_case.h"

namespace tarnvel {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A value without its surrounding blanks and one pair of matching surrounding quotes.
std::string_view UnquoteValue(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  return value;
}

std::string CutToBuffer(std::string_view value, std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  return std::string(value.substr(0, bufferSize - 1));
}

// The raw value of key in the first section named `section`; nothing when the file, the section
// or the key is missing.
std::optional<std::string> FindValue(std::string_view section, std::string_view key,
                                     const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;

  enum class Where { kBeforeSection, kInSection, kAfterSection };
  Where where = Where::kBeforeSection;
  std::string line;
  bool firstLine = true;
  while (std::getline(in, line)) {
    // A NUL ends the line's text, as it ends the text a system call is given: a damaged file
    // must not yield a value whose checked form differs from its used form.
    std::string_view text = std::string_view(line).substr(0, line.find('\0'));
    if (firstLine && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    firstLine = false;
    text = Trim(text);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      const auto close = text.find(']');
      const std::string_view name = Trim(
          text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      if (where == Where::kInSection) {
        // Only the first section of that name is searched.
        return std::nullopt;
      }
      if (EqualsIgnoreCase(name, section)) where = Where::kInSection;
      continue;
    }
    if (where != Where::kInSection) continue;
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    if (EqualsIgnoreCase(Trim(text.substr(0, eq)), key)) {
      return std::string(UnquoteValue(text.substr(eq + 1)));
    }
  }
  return std::nullopt;
}

}  // namespace

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view fallback, std::size_t bufferSize,
                             const std::string& path) {
  const std::optional<std::string> value = FindValue(section, key, path);
  return CutToBuffer(value ? std::string_view(*value) : fallback, bufferSize);
}

int GetProfileInt(std::string_view section, std::string_view key, int fallback,
                  const std::string& path) {
  const std::optional<std::string> value = FindValue(section, key, path);
  // An empty value counts as missing, as the private-profile integer lookup treats it.
  if (!value || value->empty()) return fallback;

  // A value that begins with a blank (inside quotes) has no leading digits.
  return IsBlank(value->front()) ? 0 : LeadingInteger(*value);
}

}  // namespace tarnvel
