#include "gui/text_fields.h"

#include <charconv>
#include <climits>

namespace tarnvel::gui {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Where the character starting at `at` ends: a lead byte takes the continuation bytes after it
// (at most three); any other byte stands alone.
std::size_t NextCharacter(std::string_view utf8, std::size_t at) {
  const auto lead = static_cast<unsigned char>(utf8[at]);
  std::size_t next = at + 1;
  if (lead < 0xC0) return next;
  while (next < utf8.size() && next - at < 4 && IsContinuationByte(utf8[next])) ++next;
  return next;
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view TakeField(std::string_view& rest, std::string_view separator) {
  const auto at = rest.find(separator);
  if (at == std::string_view::npos) {
    const std::string_view field = rest;
    rest = {};
    return field;
  }
  const std::string_view field = rest.substr(0, at);
  rest.remove_prefix(at + separator.size());
  return field;
}

double LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A second sign is not part of a number.
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0.0;
  double value = 0.0;
  const char* first = text.data() + i;
  const auto result = std::from_chars(first, text.data() + text.size(), value);
  if (result.ec == std::errc::invalid_argument) return 0.0;
  return negative ? -value : value;
}

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < utf8.size(); at = NextCharacter(utf8, at)) ++count;
  return count;
}

std::string_view FirstCharacters(std::string_view utf8, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t taken = 0; taken < count && at < utf8.size(); ++taken) {
    at = NextCharacter(utf8, at);
  }
  return utf8.substr(0, at);
}

int LeadingDigits(std::string_view text) {
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

}  // namespace tarnvel::gui
