// Steim1 and Steim2 frames of arbitrary bytes with arbitrary announced counts and frame counts,
// in both byte orders, against the literal decoder of the tests.
//
// Input: flag byte (bit 0 Steim2, bit 1 big-endian), 16-bit announced count, signed frame
// count byte, 16-bit record length and beginning of data for the frame-count helpers, then the
// data area.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/segment_checks.h"
#include "seed/steim.h"
#include "tests/seed/steim_reference.h"

namespace {

using tarnvel::SteimStatus;
using tarnvel::fuzz::Require;

constexpr std::size_t kFrameBytes = 64;
constexpr std::int64_t kDataWordsPerFrame = 15;

SteimStatus Decode(bool steim2, const std::vector<std::uint8_t>& area, int frames,
                   std::vector<float>& out, bool bigEndian) {
  return steim2 ? tarnvel::DecodeSteim2(area, frames, out, bigEndian)
                : tarnvel::DecodeSteim1(area, frames, out, bigEndian);
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarnvel::fuzz::FuzzInput input(data, size);
  const unsigned flags = input.Byte();
  const bool steim2 = (flags & 1u) != 0;
  const bool bigEndian = (flags & 2u) != 0;
  const std::size_t announced = input.U16();
  const int frames = static_cast<std::int8_t>(input.Byte());
  const int recordLength = static_cast<std::int16_t>(input.U16());
  const int beginningOfData = input.U16();

  // The helpers must cope with any header values.
  (void)tarnvel::Steim1FrameCount(recordLength);
  (void)tarnvel::Steim2FrameCount(recordLength, beginningOfData);

  // The data area in a buffer of exactly its size, so any read past it is caught.
  const auto rest = input.Rest();
  const std::vector<std::uint8_t> area(rest.begin(), rest.end());

  // Every slot must be written: produced samples or the zero padding.
  std::vector<float> out(announced, std::numeric_limits<float>::quiet_NaN());
  const SteimStatus status = Decode(steim2, area, frames, out, bigEndian);
  Require(out.size() == announced, "output resized");

  // Exactly what the literal decoder makes of the same bytes.
  const auto reference =
      tarnvel::testing::ReferenceSteimDecode(steim2, area, frames, announced, bigEndian);
  Require(status.produced == reference.produced &&
              status.badFinalValue == reference.badFinalValue && SameBits(out, reference.samples),
          "differs from the literal decoder");

  const std::int64_t usable =
      std::max(0, std::min<int>(frames, static_cast<int>(area.size() / kFrameBytes)));
  const std::int64_t widest = steim2 ? 7 : 4;
  Require(status.produced >= 0, "negative produced count");
  Require(status.produced <= usable * kDataWordsPerFrame * widest,
          "more differences than the frames can hold");
  Require(status.countMismatch == (status.produced != static_cast<std::int64_t>(announced)),
          "mismatch flag disagrees with the counts");
  if (!steim2) Require(!status.badFinalValue, "Steim1 checked the final value");
  for (std::size_t i = 0; i < out.size(); ++i) {
    Require(!std::isnan(out[i]), "output slot left unwritten");
    if (static_cast<std::int64_t>(i) >= status.produced) Require(out[i] == 0.0f, "tail not zero");
  }

  // Bytes after the decoded frames must not matter: decode again from exactly those frames (at
  // least the first, whose integration constants are read even when no frame is decoded).
  const std::size_t kept = std::max<std::size_t>(static_cast<std::size_t>(usable) * kFrameBytes,
                                                 std::min(area.size(), kFrameBytes));
  const std::vector<std::uint8_t> framesOnly(area.begin(),
                                             area.begin() + static_cast<std::ptrdiff_t>(kept));
  std::vector<float> again(announced, 0.0f);
  const SteimStatus second = Decode(steim2, framesOnly, frames, again, bigEndian);
  Require(second.produced == status.produced && second.countMismatch == status.countMismatch &&
              second.badFinalValue == status.badFinalValue && SameBits(out, again),
          "result depends on bytes after the last frame");

  tarnvel::CollectingDebugSink sink;
  tarnvel::ReportSteim2Diagnostics(status, static_cast<std::int64_t>(announced), sink);
  if (!status.countMismatch && !status.badFinalValue) {
    Require(sink.lines.empty(), "diagnostics without a problem");
  } else {
    Require(!sink.lines.empty(), "problem without diagnostics");
  }
  return 0;
}
