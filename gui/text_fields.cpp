#include "gui/text_fields.h"

namespace tarnvel::gui {
namespace {

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

}  // namespace tarnvel::gui
