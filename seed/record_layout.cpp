#include "seed/record_layout.h"

namespace tarnvel {

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
