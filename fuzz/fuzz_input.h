// Taking typed values off the front of a fuzzer's input, with defaults once it runs dry.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tarnvel::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const std::uint8_t b = rest_.front();
    rest_ = rest_.subspan(1);
    return b;
  }
  std::uint16_t U16() {
    const auto high = Byte();
    return static_cast<std::uint16_t>((high << 8) | Byte());
  }
  std::uint32_t U32() {
    const std::uint32_t high = U16();
    return (high << 16) | U16();
  }
  // At most `maxLength` characters, the count taken from the input first.
  std::string Text(std::size_t maxLength) {
    const std::size_t n = std::min<std::size_t>(Byte() % (maxLength + 1), rest_.size());
    std::string text(reinterpret_cast<const char*>(rest_.data()), n);
    rest_ = rest_.subspan(n);
    return text;
  }
  std::span<const std::uint8_t> Rest() const { return rest_; }

 private:
  std::span<const std::uint8_t> rest_;
};

}  // namespace tarnvel::fuzz
