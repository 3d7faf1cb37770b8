#include "seed/crc32c.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARNVEL_CRC32C_SSE42 1
#include <nmmintrin.h>
#else
#define TARNVEL_CRC32C_SSE42 0
#endif

#include "seed/byte_order.h"

namespace tarnvel {
namespace {

// The polynomial with its bits reversed: the register shifts toward its low bit.
constexpr std::uint32_t kPolynomial = 0x82F63B78u;

using Table = std::array<std::array<std::uint32_t, 256>, 8>;

// Slicing by eight: table[k][b] is the register after byte b and k zero bytes behind it.
constexpr Table MakeTable() {
  Table table{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t r = b;
    for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ ((r & 1u) != 0 ? kPolynomial : 0u);
    table[0][b] = r;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t b = 0; b < 256; ++b) {
      const std::uint32_t previous = table[k - 1][b];
      table[k][b] = (previous >> 8) ^ table[0][previous & 0xFFu];
    }
  }
  return table;
}

constexpr Table kTable = MakeTable();

// The register (not inverted) after `bytes`, from `r`.
std::uint32_t UpdatePortable(std::uint32_t r, const std::uint8_t* p, std::size_t n) {
  for (; n >= 8; n -= 8, p += 8) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      low = ByteSwap32(low);
      high = ByteSwap32(high);
    }
    low ^= r;
    r = kTable[7][low & 0xFFu] ^ kTable[6][(low >> 8) & 0xFFu] ^ kTable[5][(low >> 16) & 0xFFu] ^
        kTable[4][low >> 24] ^ kTable[3][high & 0xFFu] ^ kTable[2][(high >> 8) & 0xFFu] ^
        kTable[1][(high >> 16) & 0xFFu] ^ kTable[0][high >> 24];
  }
  for (; n > 0; --n, ++p) r = (r >> 8) ^ kTable[0][(r ^ *p) & 0xFFu];
  return r;
}

#if TARNVEL_CRC32C_SSE42

// Three streams of kLane bytes each go through the CRC instruction side by side (its latency is
// three times its throughput); the registers are then joined by shifting the first over the
// bytes of the next: the register after A and B is Shift(reg(A), |B|) ^ reg(B from zero).
constexpr std::size_t kLane = 256;

// A linear map of the 32-bit register as its 32 columns.
using Matrix = std::array<std::uint32_t, 32>;

std::uint32_t Apply(const Matrix& m, std::uint32_t v) {
  std::uint32_t out = 0;
  for (std::size_t i = 0; v != 0; ++i, v >>= 1) {
    if ((v & 1u) != 0) out ^= m[i];
  }
  return out;
}

Matrix Product(const Matrix& a, const Matrix& b) {  // a after b
  Matrix out{};
  for (std::size_t i = 0; i < 32; ++i) out[i] = Apply(a, b[i]);
  return out;
}

// Shifting a register over kLane zero bytes, as four byte tables.
struct LaneShift {
  std::array<std::array<std::uint32_t, 256>, 4> table{};

  LaneShift() {
    Matrix op{};  // one zero bit
    op[0] = kPolynomial;
    for (std::size_t i = 1; i < 32; ++i) op[i] = 1u << (i - 1);
    for (int i = 0; i < 3; ++i) op = Product(op, op);  // one zero byte
    Matrix shift{};
    for (std::size_t i = 0; i < 32; ++i) shift[i] = 1u << i;
    for (std::size_t n = kLane; n != 0; n >>= 1) {
      if ((n & 1u) != 0) shift = Product(op, shift);
      op = Product(op, op);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      for (std::uint32_t b = 0; b < 256; ++b) table[k][b] = Apply(shift, b << (8 * k));
    }
  }

  std::uint32_t operator()(std::uint32_t r) const {
    return table[0][r & 0xFFu] ^ table[1][(r >> 8) & 0xFFu] ^ table[2][(r >> 16) & 0xFFu] ^
           table[3][r >> 24];
  }
};

inline std::uint64_t Word(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

__attribute__((target("sse4.2"))) std::uint32_t UpdateHardware(std::uint32_t r,
                                                               const std::uint8_t* p,
                                                               std::size_t n) {
  static const LaneShift shift;
  std::uint64_t r0 = r;
  for (; n >= 3 * kLane; n -= 3 * kLane, p += 3 * kLane) {
    std::uint64_t r1 = 0;
    std::uint64_t r2 = 0;
    for (std::size_t i = 0; i < kLane; i += 8) {
      r0 = _mm_crc32_u64(r0, Word(p + i));
      r1 = _mm_crc32_u64(r1, Word(p + kLane + i));
      r2 = _mm_crc32_u64(r2, Word(p + 2 * kLane + i));
    }
    const auto joined = shift(static_cast<std::uint32_t>(r0)) ^ static_cast<std::uint32_t>(r1);
    r0 = shift(joined) ^ static_cast<std::uint32_t>(r2);
  }
  for (; n >= 8; n -= 8, p += 8) r0 = _mm_crc32_u64(r0, Word(p));
  auto r32 = static_cast<std::uint32_t>(r0);
  for (; n > 0; --n, ++p) r32 = _mm_crc32_u8(r32, *p);
  return r32;
}

bool HasCrcInstruction() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}

#endif

}  // namespace

bool Crc32cInstructionAvailable() {
#if TARNVEL_CRC32C_SSE42
  return HasCrcInstruction();
#else
  return false;
#endif
}

std::uint32_t Crc32cExtendPortable(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  return ~UpdatePortable(~crc, bytes.data(), bytes.size());
}

std::uint32_t Crc32cExtend(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
#if TARNVEL_CRC32C_SSE42
  if (HasCrcInstruction()) return ~UpdateHardware(~crc, bytes.data(), bytes.size());
#endif
  return Crc32cExtendPortable(crc, bytes);
}

std::uint32_t Crc32cExtendZeroingField(std::uint32_t crc, std::span<const std::uint8_t> bytes,
                                       std::size_t field) {
  constexpr std::uint8_t kZeros[4] = {};
  const std::uint8_t* p = bytes.data();
  const std::size_t after = field + sizeof kZeros;
#if TARNVEL_CRC32C_SSE42
  if (HasCrcInstruction()) {
    const std::uint32_t r = UpdateHardware(UpdateHardware(~crc, p, field), kZeros, sizeof kZeros);
    return ~UpdateHardware(r, p + after, bytes.size() - after);
  }
#endif
  const std::uint32_t r = UpdatePortable(UpdatePortable(~crc, p, field), kZeros, sizeof kZeros);
  return ~UpdatePortable(r, p + after, bytes.size() - after);
}

}  // namespace tarnvel
