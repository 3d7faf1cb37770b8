#include "text/leading_number.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace tarnvel {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// `text` without its leading blanks and sign; true for a '-'.
bool TakeBlanksAndSign(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || (text.front() >= '\t' && text.front() <= '\r'))) {
    text.remove_prefix(1);
  }
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

}  // namespace

int LeadingInteger(std::string_view text) {
  const bool negative = TakeBlanksAndSign(text);
  std::int64_t value = 0;
  for (std::size_t i = 0; i < text.size() && IsDigit(text[i]) && value <= INT_MAX; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

double LeadingDecimal(std::string_view text) {
  const bool negative = TakeBlanksAndSign(text);
  // The number's extent, and the decimal exponent of its first non-zero digit plus one, which
  // tells a value too large for a double from one too small.
  std::size_t i = 0;
  std::size_t digits = 0;
  std::int64_t magnitude = 0;
  bool leadingZeros = true;
  for (bool fraction = false; i < text.size(); ++i) {
    if (text[i] == '.' && !fraction) {
      fraction = true;
      continue;
    }
    if (!IsDigit(text[i])) break;
    leadingZeros = leadingZeros && text[i] == '0';
    if (fraction ? leadingZeros : !leadingZeros) magnitude += fraction ? -1 : 1;
    ++digits;
  }
  if (digits == 0) return 0.0;
  if (i + 1 < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (text[j] == '+' || text[j] == '-') ++j;
    if (j < text.size() && IsDigit(text[j])) {
      magnitude += LeadingInteger(text.substr(i + 1));
      for (i = j; i < text.size() && IsDigit(text[i]);) ++i;
    }
  }
  double value = 0.0;
  if (std::from_chars(text.data(), text.data() + i, value).ec == std::errc::result_out_of_range) {
    value = magnitude > 0 ? HUGE_VAL : 0.0;
  }
  return negative ? -value : value;
}

}  // namespace tarnvel
