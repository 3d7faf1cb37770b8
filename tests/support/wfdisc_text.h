// Reading wfdisc files back in tests: lines and their blank-separated fields.
#pragma once

#include <string>
#include <vector>

namespace tarnvel::testing {

// The lines of a text, without their "\n".
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    lines.push_back(text.substr(pos, end - pos));
    pos = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// The fields of a wfdisc line, split at blanks: 21 for a whole line (lddate gives two).
inline std::vector<std::string> WfdiscFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t start = line.find_first_not_of(" \n", pos);
    if (start == std::string::npos) break;
    const std::size_t end = line.find_first_of(" \n", start);
    fields.push_back(line.substr(start, end - start));
    pos = end == std::string::npos ? line.size() : end;
  }
  return fields;
}

// The fields of a wfdisc line but its load date (the last two).
inline std::vector<std::string> WfdiscFieldsWithoutLoadDate(const std::string& line) {
  std::vector<std::string> fields = WfdiscFields(line);
  fields.resize(fields.size() >= 2 ? fields.size() - 2 : 0);
  return fields;
}

// Field positions in WfdiscFields.
inline constexpr std::size_t kWfdiscTime = 2;
inline constexpr std::size_t kWfdiscJdate = 5;
inline constexpr std::size_t kWfdiscEndTime = 6;
inline constexpr std::size_t kWfdiscNsamp = 7;
inline constexpr std::size_t kWfdiscSamprate = 8;
inline constexpr std::size_t kWfdiscDfile = 16;
inline constexpr std::size_t kWfdiscFoff = 17;

}  // namespace tarnvel::testing
