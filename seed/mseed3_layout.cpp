#include "seed/mseed3_layout.h"

#include <array>
#include <bit>
#include <cstring>

#include "seed/byte_order.h"
#include "seed/crc32c.h"

namespace tarnvel::mseed3 {

bool IsRecordStart(std::span<const std::uint8_t> bytes) {
  return bytes.size() > at::kFormatVersion && bytes[0] == 'M' && bytes[1] == 'S' &&
         bytes[at::kFormatVersion] == kFormatVersion;
}

FixedHeader ReadFixedHeader(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  FixedHeader h;
  h.flags = p[at::kFlags];
  h.nanosecond = Load32<false>(p + at::kNanosecond);
  h.year = Load16<false>(p + at::kYear);
  h.dayOfYear = Load16<false>(p + at::kDayOfYear);
  h.hour = p[at::kHour];
  h.minute = p[at::kMinute];
  h.second = p[at::kSecond];
  h.encoding = p[at::kEncoding];
  const std::uint64_t rateBits =
      Load32<false>(p + at::kRate) | std::uint64_t{Load32<false>(p + at::kRate + 4)} << 32;
  h.rateOrPeriod = std::bit_cast<double>(rateBits);
  h.sampleCount = Load32<false>(p + at::kSampleCount);
  h.crc = Load32<false>(p + at::kCrc);
  h.publicationVersion = p[at::kPublicationVersion];
  h.identifierLength = p[at::kIdentifierLength];
  h.extraHeadersLength = Load16<false>(p + at::kExtraHeadersLength);
  h.payloadLength = Load32<false>(p + at::kPayloadLength);
  return h;
}

std::uint64_t DeclaredLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFixedHeaderSize || !IsRecordStart(bytes)) return 0;
  return ReadFixedHeader(bytes).RecordLength();
}

bool CrcMatches(std::span<const std::uint8_t> record) {
  if (record.size() < kFixedHeaderSize) return false;
  constexpr std::array<std::uint8_t, 4> kZeros{};
  std::uint32_t crc = Crc32cExtend(0, record.first(at::kCrc));
  crc = Crc32cExtend(crc, kZeros);
  crc = Crc32cExtend(crc, record.subspan(at::kCrc + kZeros.size()));
  return crc == Load32<false>(record.data() + at::kCrc);
}

std::optional<SourceCodes> ParseSourceIdentifier(std::string_view identifier) {
  constexpr std::string_view kScheme = "FDSN:";
  if (!identifier.starts_with(kScheme)) return std::nullopt;
  std::string_view rest = identifier.substr(kScheme.size());
  std::array<std::string_view, 6> codes;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const std::size_t end = rest.find('_');
    const bool last = i + 1 == codes.size();
    // Exactly six codes: five separators, none after the last code.
    if ((end == std::string_view::npos) != last) return std::nullopt;
    codes[i] = rest.substr(0, end);
    rest = last ? std::string_view() : rest.substr(end + 1);
  }
  return SourceCodes{codes[0], codes[1], codes[2], codes[3], codes[4], codes[5]};
}

}  // namespace tarnvel::mseed3
