// One JSON object on one line, built field by field: what the checker's --json output is made
// of. Texts are escaped as JSON requires (bytes that are not valid UTF-8 as U+FFFD).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvel::check {

class JsonLine {
 public:
  JsonLine& Text(std::string_view key, std::string_view value);
  JsonLine& Number(std::string_view key, std::int64_t value);
  // With four decimals (epoch times).
  JsonLine& Time(std::string_view key, double value);
  // A nested object, already written (JsonLine::Object()).
  JsonLine& Raw(std::string_view key, std::string_view json);
  // The object: "{...}" without a line feed.
  std::string Object() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace tarnvel::check
