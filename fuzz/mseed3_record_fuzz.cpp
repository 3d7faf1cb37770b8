// miniSEED 3 records of arbitrary bytes, several per input into one run context, through the
// conversion routine or the listing routine, with an optional time window and channel filter.
// Each record lies in a buffer of exactly its bytes, so any read past it is caught; its CRC can
// be made to match, so that the fuzzer gets past the check to the fields and the payload; and
// the reader's CRC verdict is held against the bit-by-bit model, and its header read through
// the codes remembered from the records before against the header read alone.
//
// Input: flag byte, [32-bit window begin], [32-bit window end], [three filter patterns], then
// the records back to back, each as long as its own header says (or the rest of the input).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/run_limits_input.h"
#include "fuzz/segment_checks.h"
#include "seed/channel_key.h"
#include "seed/mseed3_layout.h"
#include "seed/seed_record.h"
#include "tests/support/mseed3_writer.h"

namespace {

constexpr unsigned kMatchCrc = 1u << 4;   // write each record's true CRC into it
constexpr unsigned kSignature = 1u << 5;  // give each record the signature

using tarnvel::fuzz::Require;

// The length a record's header declares, read field by field.
std::size_t DeclaredLength(std::span<const std::uint8_t> r) {
  if (r.size() < 40) return r.size();
  return 40 + std::size_t{r[33]} + (std::size_t{r[34]} | std::size_t{r[35]} << 8) +
         (std::size_t{r[36]} | std::size_t{r[37]} << 8 | std::size_t{r[38]} << 16 |
          std::size_t{r[39]} << 24);
}

bool Within(std::span<const std::uint8_t> inner, std::span<const std::uint8_t> outer) {
  return inner.empty() || (inner.data() >= outer.data() &&
                           inner.data() + inner.size() <= outer.data() + outer.size());
}

// What an accepted record's header must be, whatever its bytes.
void CheckAccepted(const tarnvel::RecordHeader& h, std::span<const std::uint8_t> record) {
  Require(h.version == 3, "miniSEED 3 record read as another version");
  Require(Within(h.bytes, record) && Within(h.data, h.bytes), "record spans outside the record");
  Require(h.bytes.size() == DeclaredLength(record), "record not of its declared length");
  Require(h.samplesHeld <= h.sampleCount, "more samples held than announced");
  Require(tarnvel::HasStorableCodes(h.station, h.channel, h.HasLocation() ? h.location : ""),
          "codes the store cannot keep");
  Require(h.rate >= tarnvel::kLowestRate && h.rate <= tarnvel::kHighestRate, "rate out of range");
  Require(std::isfinite(h.start), "start not finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnvel;
  fuzz::FuzzInput input(data, size);
  const unsigned flags = input.Byte();
  CollectingDebugSink sink;
  RunContext context;
  context.debug = &sink;
  fuzz::TakeRunLimits(input, flags, context);
  const bool listing = (flags & fuzz::kListing) != 0;
  SourceCodesMemo memo;

  auto rest = input.Rest();
  while (!rest.empty()) {
    const std::size_t length = std::min(DeclaredLength(rest), rest.size());
    std::vector<std::uint8_t> record(rest.begin(),
                                     rest.begin() + static_cast<std::ptrdiff_t>(length));
    rest = rest.subspan(length);
    if ((flags & kSignature) && record.size() >= 3) {
      record[0] = 'M';
      record[1] = 'S';
      record[2] = 3;
    }
    const bool whole = record.size() >= 40 && DeclaredLength(record) == record.size();
    if ((flags & kMatchCrc) && whole) testing::SetMseed3Crc(record);
    if (whole && mseed3::IsRecordStart(record)) {
      std::vector<std::uint8_t> zeroed = record;
      for (std::size_t i = 28; i < 32; ++i) zeroed[i] = 0;
      const std::uint32_t stored = record[28] | record[29] << 8 | record[30] << 16 |
                                   static_cast<std::uint32_t>(record[31]) << 24;
      Require(mseed3::CrcMatches(record) == (testing::BitwiseCrc32c(zeroed) == stored),
              "CRC verdict differs from the bit-by-bit model");
    }

    RecordHeader h;
    const HeaderResult result = ReadRecordHeader(record, static_cast<int>(record.size()), h);
    if (result == HeaderResult::kAccepted && mseed3::IsRecordStart(record)) {
      CheckAccepted(h, record);
    }
    // Through the codes remembered from the records before: the same outcome and codes.
    RecordHeader remembered;
    Require(ReadRecordHeader(record, static_cast<int>(record.size()), remembered, CrcCheck::kAtOnce,
                             &memo) == result,
            "remembered codes change the outcome");
    if (result == HeaderResult::kAccepted) {
      Require(remembered.station == h.station && remembered.channel == h.channel &&
                  remembered.location == h.location,
              "remembered codes differ from the record's own");
    }
    const std::size_t entriesBefore = context.segments.size();
    const std::int64_t samplesBefore = fuzz::TotalSamples(context.segments);
    const std::uint64_t damagedBefore = context.damagedRecords;
    if (listing) {
      RegisterRecordSpan(record, static_cast<int>(record.size()), context);
      fuzz::CheckOneEntryPerChannel(context.segments);
    } else {
      const bool filed = ProcessDataRecord(record, static_cast<int>(record.size()), context);
      const std::int64_t added = fuzz::TotalSamples(context.segments) - samplesBefore;
      if (filed) {
        Require(result == HeaderResult::kAccepted, "a record filed that was not accepted");
        Require(added == static_cast<std::int64_t>(h.samplesHeld), "filed samples miscounted");
      } else {
        Require(added == 0 && context.segments.size() == entriesBefore,
                "ignored record changed the list");
      }
    }
    Require(context.damagedRecords - damagedBefore == (result == HeaderResult::kDamaged ? 1u : 0u),
            "damaged record miscounted");
    fuzz::CheckSegments(context.segments, !listing);
  }
  context.segments.Clear();
  return 0;
}
