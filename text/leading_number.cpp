#include "text/leading_number.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace tarnvel {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// Takes an optional sign off the front of `text`; true for '-'.
bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

}  // namespace

int LeadingInteger(std::string_view text) {
  text = WithoutLeadingBlanks(text);
  const bool negative = TakeSign(text);
  std::int64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double LeadingDecimal(std::string_view text) {
  text = WithoutLeadingBlanks(text);
  const bool negative = TakeSign(text);
  std::size_t i = 0;
  std::size_t digits = 0;
  // Decimal exponent of the first non-zero digit, plus one: whether a value out of range is too
  // large or too small.
  std::int64_t magnitude = 0;
  bool leadingZeros = true;
  const auto digit = [&](bool fraction) {
    leadingZeros = leadingZeros && text[i] == '0';
    if (!fraction && !leadingZeros) ++magnitude;
    if (fraction && leadingZeros) --magnitude;
    ++i, ++digits;
  };
  while (i < text.size() && IsDigit(text[i])) digit(false);
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) digit(true);
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      magnitude += LeadingInteger(text.substr(i + 1));
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + i, value);
  if (error == std::errc::result_out_of_range) value = magnitude > 0 ? HUGE_VAL : 0.0;
  return negative ? -value : value;
}

}  // namespace tarnvel
