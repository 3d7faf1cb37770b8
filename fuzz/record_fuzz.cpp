// Data records of arbitrary bytes and lengths, several per input into one run context, through
// the conversion routine or the listing routine, with an optional time window and channel filter.
//
// Input: selector byte (record length), flag byte, [16-bit raw length], [32-bit window begin],
// [32-bit window end], [three filter patterns], then the records back to back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/run_limits_input.h"
#include "fuzz/segment_checks.h"
#include "seed/seed_record.h"

namespace {

constexpr int kLengths[] = {128, 256, 512, 1024, 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnvel;
  fuzz::FuzzInput input(data, size);
  const unsigned selector = input.Byte() % 8u;
  const unsigned flags = input.Byte();
  const std::uint16_t rawLength = input.U16();

  CollectingDebugSink sink;
  RunContext context;
  context.debug = &sink;
  fuzz::TakeRunLimits(input, flags, context);
  const bool listing = (flags & fuzz::kListing) != 0;

  const auto records = input.Rest();
  if (records.empty()) return 0;
  std::size_t length = selector < 5 ? static_cast<std::size_t>(kLengths[selector]) : rawLength;
  if (length < 1) length = 1;
  if (length > records.size()) length = records.size();

  for (std::size_t offset = 0; offset + length <= records.size(); offset += length) {
    // Each record in a buffer of exactly its length, so any read past it is caught.
    const std::vector<std::uint8_t> record(
        records.begin() + static_cast<std::ptrdiff_t>(offset),
        records.begin() + static_cast<std::ptrdiff_t>(offset + length));
    const std::size_t entriesBefore = context.segments.size();
    const std::int64_t samplesBefore = fuzz::TotalSamples(context.segments);
    if (listing) {
      RegisterRecordSpan(record, static_cast<int>(length), context);
      fuzz::Require(context.segments.size() >= entriesBefore, "listing lost an entry");
      fuzz::CheckOneEntryPerChannel(context.segments);
    } else {
      const bool filed = ProcessDataRecord(record, static_cast<int>(length), context);
      const std::size_t entriesAfter = context.segments.size();
      const std::int64_t samplesAfter = fuzz::TotalSamples(context.segments);
      if (filed) {
        fuzz::Require(entriesAfter >= entriesBefore && samplesAfter >= samplesBefore,
                      "filed record shrank the list");
      } else {
        fuzz::Require(entriesAfter == entriesBefore && samplesAfter == samplesBefore,
                      "ignored record changed the list");
      }
    }
    fuzz::CheckSegments(context.segments, !listing);
  }
  context.segments.Clear();
  fuzz::Require(context.segments.empty(), "cleared list not empty");
  return 0;
}
