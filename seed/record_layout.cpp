#include "seed/record_layout.h"

namespace tarnvel {

const char* EncodingName(std::uint8_t code) {
  switch (code) {
    case 0:
      return "text";
    case 1:
      return "16-bit integers";
    case 2:
      return "24-bit integers";
    case 3:
      return "32-bit integers";
    case 4:
      return "32-bit floats";
    case 5:
      return "64-bit floats";
    case 10:
      return "Steim1";
    case 11:
      return "Steim2";
    case 12:
      return "GEOSCOPE 24-bit integers";
    case 13:
      return "GEOSCOPE 16-bit gain ranged, 3-bit exponent";
    case 14:
      return "GEOSCOPE 16-bit gain ranged, 4-bit exponent";
    case 15:
      return "US National Network compression";
    case 16:
      return "CDSN 16-bit gain ranged";
    case 17:
      return "Graefenberg 16-bit gain ranged";
    case 18:
      return "IPG-Strasbourg 16-bit gain ranged";
    case 19:
      return "Steim3";
    case 30:
      return "SRO";
    case 31:
      return "HGLP";
    case 32:
      return "DWWSSN gain ranged";
    case 33:
      return "RSTN 16-bit gain ranged";
    case 100:
      return "opaque data";
    default:
      return "unknown";
  }
}

BlocketteChain ReadBlocketteChain(std::span<const std::uint8_t> record) {
  using namespace blockette;
  const std::uint8_t* first = record.data() + fixed_header::kSize;
  BlocketteChain chain;
  const auto read1000 = [&chain](const std::uint8_t* b) {
    chain.encoding = static_cast<tarnvel::Encoding>(EncodingFormat::Get(b));
    chain.bigEndian = WordOrder::Get(b) != 0;
    // 2^exponent kept inside int: 2^16 and more is beyond what a reader accepts anyway.
    const std::uint8_t exponent = RecordLengthExponent::Get(b);
    return exponent < 31 ? (1 << exponent) : (1 << 30);
  };
  const bool big1001 = Type::Get(first, true) == k1001;
  if (big1001 || Type::Get(first, false) == k1001) {
    chain.blockette1001First = true;
    chain.bigEndian = big1001;
    const std::size_t next = Next::Get(first, big1001);
    if (next >= fixed_header::kSize && next + kSize <= record.size() &&
        Type::Get(record.data() + next, big1001) == k1000) {
      chain.declaredLength = read1000(record.data() + next);
    }
    return chain;
  }
  const int length = read1000(first);
  if (Type::Get(first, chain.bigEndian) == k1000) chain.declaredLength = length;
  return chain;
}

}  // namespace tarnvel
