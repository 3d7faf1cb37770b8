// Filing records into segments: which entry a record joins.
#include "seed/segment_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "seed/run_context.h"
#include "tests/seed/record_builder.h"

namespace tarnvel::testing {
namespace {

// An INT32 record of `count` samples (value = `first` + i) starting `offset` seconds after
// 2020-01-01 (whole 0.0001 s steps), at factor/multiplier rate.
std::vector<std::uint8_t> Record(double offset, int count, std::int16_t factor,
                                 std::int16_t multiplier, int first = 0,
                                 const std::string& channel = "BHZ") {
  RecordBuilder b;
  b.length = 4096;
  b.encoding = 3;
  b.channel = channel;
  b.year = 2020;
  b.day = static_cast<std::uint16_t>(1 + static_cast<int>(offset / 86400));
  double rest = std::fmod(offset, 86400.0);
  b.hour = static_cast<std::uint8_t>(rest / 3600);
  rest -= b.hour * 3600.0;
  b.minute = static_cast<std::uint8_t>(rest / 60);
  rest -= b.minute * 60.0;
  b.second = static_cast<std::uint8_t>(rest);
  b.fractions = static_cast<std::uint16_t>(std::lround((rest - b.second) * 10000.0));
  b.count = static_cast<std::uint16_t>(count);
  b.factor = factor;
  b.multiplier = multiplier;
  auto r = b.Build();
  for (int i = 0; i < count; ++i) {
    Put32(r, 64 + 4 * static_cast<std::size_t>(i), static_cast<std::uint32_t>(first + i), true);
  }
  return r;
}

constexpr double kT0 = 1577836800.0;

TEST(Filing, ContinuationGapAndRejoin) {
  RunContext c;
  ProcessDataRecord(Record(0.0, 100, 100, 1, 0), 4096, c);       // [0, 1)
  ProcessDataRecord(Record(1.0049, 100, 100, 1, 100), 4096, c);  // within 1.5 periods: joins
  ASSERT_EQ(c.segments.size(), 1u);
  EXPECT_EQ(c.segments[0].count, 200);
  EXPECT_DOUBLE_EQ(c.segments[0].end, kT0 + 2.0);
  ProcessDataRecord(Record(2.016, 100, 100, 1, 500), 4096, c);  // 1.6 periods late: new entry
  ASSERT_EQ(c.segments.size(), 2u);
  ProcessDataRecord(Record(2.0, 100, 100, 1, 200), 4096, c);  // continues the first again
  ASSERT_EQ(c.segments.size(), 2u);
  EXPECT_EQ(c.segments[0].count, 300);
  EXPECT_EQ(c.segments[0].samples[299], 299.0f);
  EXPECT_EQ(c.segments[1].count, 100);
  EXPECT_NEAR(c.segments[1].start, kT0 + 2.016, 1e-6);
  // Both entries end near 3.0 and 3.016: the first in list order wins.
  ProcessDataRecord(Record(3.008, 10, 100, 1, 900), 4096, c);
  EXPECT_EQ(c.segments[0].count, 310);
  EXPECT_EQ(c.segments[1].count, 100);
  // Another channel never joins, whatever its times; names compare without regard to case.
  ProcessDataRecord(Record(3.1, 10, 100, 1, 0, "BHN"), 4096, c);
  ProcessDataRecord(Record(3.1, 10, 100, 1, 0, "bhz"), 4096, c);
  ASSERT_EQ(c.segments.size(), 3u);
  EXPECT_EQ(c.segments[0].count, 320);
}

TEST(Filing, FractionalRatesSpanAndJoinAtTheNominalRate) {
  for (const auto& [factor, multiplier, rate] :
       {std::tuple<std::int16_t, std::int16_t, double>{81, -2, 40.5},
        {125, -2, 62.5},
        {3125, -100, 31.25}}) {
    SCOPED_TRACE(rate);
    RunContext c;
    const int n = static_cast<int>(rate * 4.0);  // 4 s of samples, whole at these rates
    for (int i = 0; i < 30; ++i) {
      ProcessDataRecord(Record(4.0 * i, n, factor, multiplier, n * i), 4096, c);
    }
    ASSERT_EQ(c.segments.size(), 1u);
    EXPECT_EQ(c.segments[0].rate, static_cast<std::uint32_t>(rate));  // the listing's column
    EXPECT_DOUBLE_EQ(c.segments[0].nominalRate, rate);
    EXPECT_EQ(c.segments[0].count, 30 * n);
    EXPECT_NEAR(c.segments[0].end, kT0 + 120.0, 1e-6);
    // A record 1.6 periods late begins a new entry.
    ProcessDataRecord(Record(120.0 + 1.6 / rate, n, factor, multiplier), 4096, c);
    EXPECT_EQ(c.segments.size(), 2u);
    // Listing mode spans the channel with the same rate.
    RunContext info;
    RegisterRecordSpan(Record(0.0, n, factor, multiplier), 4096, info);
    RegisterRecordSpan(Record(4.0, n, factor, multiplier), 4096, info);
    EXPECT_NEAR(info.segments[0].end, kT0 + 8.0, 1e-9);
  }
}

TEST(Filing, BelowOneSamplePerSecondKeepsFiniteSpans) {
  RunContext c;
  ProcessDataRecord(Record(0.0, 30, -10, 1), 4096, c);  // 0.1 sps: 300 s
  ProcessDataRecord(Record(300.0, 30, -10, 1), 4096, c);
  ASSERT_EQ(c.segments.size(), 1u);
  const TraceSegment& s = c.segments[0];
  EXPECT_EQ(s.rate, 0u);
  EXPECT_DOUBLE_EQ(s.nominalRate, 0.1);
  EXPECT_TRUE(std::isfinite(s.end));
  EXPECT_DOUBLE_EQ(s.end, kT0 + 600.0);
  ProcessDataRecord(Record(620.0, 30, -10, 1), 4096, c);  // 20 s = 2 periods late
  EXPECT_EQ(c.segments.size(), 2u);
  // Listing mode too.
  RunContext info;
  RegisterRecordSpan(Record(0.0, 30, -10, 1), 4096, info);
  RegisterRecordSpan(Record(9000.0, 30, -10, 1), 4096, info);
  ASSERT_EQ(info.segments.size(), 1u);
  EXPECT_DOUBLE_EQ(info.segments[0].end, kT0 + 600.0);
  EXPECT_EQ(info.segments[0].count, 60);
}

TEST(Filing, ARecordOfAnotherRateNeverContinuesAnEntry) {
  // A channel switched from 50 to 100 sps: the second record begins where the first ends, but
  // continuing the 50 sps entry would space its samples 20 ms apart instead of 10.
  RunContext c;
  ProcessDataRecord(Record(0.0, 100, 50, 1, 0), 4096, c);     // [0, 2) at 50 sps
  ProcessDataRecord(Record(2.0, 100, 100, 1, 100), 4096, c);  // [2, 3) at 100 sps
  ProcessDataRecord(Record(3.0, 100, 100, 1, 200), 4096, c);  // [3, 4) continues it
  ASSERT_EQ(c.segments.size(), 2u);
  EXPECT_DOUBLE_EQ(c.segments[0].nominalRate, 50.0);
  EXPECT_EQ(c.segments[0].count, 100);
  EXPECT_DOUBLE_EQ(c.segments[0].end, kT0 + 2.0);
  EXPECT_DOUBLE_EQ(c.segments[1].nominalRate, 100.0);
  EXPECT_EQ(c.segments[1].count, 200);
  EXPECT_DOUBLE_EQ(c.segments[1].start, kT0 + 2.0);
  EXPECT_DOUBLE_EQ(c.segments[1].end, kT0 + 4.0);
  // The listing keeps one entry for the channel, spanning each record at its own rate.
  RunContext info;
  RegisterRecordSpan(Record(0.0, 100, 50, 1), 4096, info);
  RegisterRecordSpan(Record(2.0, 100, 100, 1), 4096, info);
  ASSERT_EQ(info.segments.size(), 1u);
  EXPECT_DOUBLE_EQ(info.segments[0].end, kT0 + 3.0);
}

TEST(Filing, LongRunsKeepJoiningWithoutRoundingDrift) {
  // 20000 sps in records of 448 samples (22.4 ms): adding each record's span to the end in turn
  // drifted by more than the 75 us joining window after some 770 records.
  RunContext c;
  for (int i = 0; i < 1000; ++i) {
    ProcessDataRecord(Record(0.0224 * i, 448, 20000, 1, 448 * i), 4096, c);
  }
  ASSERT_EQ(c.segments.size(), 1u);
  EXPECT_EQ(c.segments[0].count, 448000);
  EXPECT_NEAR(c.segments[0].end, kT0 + 22.4, 1e-6);
}

TEST(Filing, ManyGapsAndChannelsFileLikeALinearSearch) {
  // Records in a shuffled order over gaps and channels: every record must land where the
  // first-in-list-order rule puts it. Checked against a plain scan of the list.
  RunContext c;
  std::vector<std::pair<double, std::string>> records;
  for (int i = 0; i < 400; ++i) {
    const double t = (i % 7 == 3 ? 0.5 : 0.0) + i;  // every 7th record off its grid
    records.emplace_back(t, i % 3 == 0 ? "BHZ" : "BHE");
  }
  std::uint32_t seed = 12345;
  for (std::size_t i = records.size() - 1; i > 0; --i) {
    seed = seed * 1103515245u + 12345u;
    std::swap(records[i], records[(seed >> 8) % (i + 1)]);
  }
  for (const auto& [t, channel] : records) {
    // Expected target by a linear scan before filing.
    std::ptrdiff_t expected = -1;
    for (std::size_t e = 0; e < c.segments.size(); ++e) {
      const TraceSegment& s = c.segments[e];
      if (s.channel == channel && std::fabs(s.end - (kT0 + t)) < 1.5 / s.nominalRate) {
        expected = static_cast<std::ptrdiff_t>(e);
        break;
      }
    }
    const std::size_t before = c.segments.size();
    const std::int64_t countBefore = expected >= 0 ? c.segments[std::size_t(expected)].count : 0;
    ProcessDataRecord(Record(t, 100, 100, 1, 0, channel), 4096, c);
    if (expected < 0) {
      EXPECT_EQ(c.segments.size(), before + 1);
    } else {
      EXPECT_EQ(c.segments.size(), before);
      EXPECT_EQ(c.segments[std::size_t(expected)].count, countBefore + 100);
    }
  }
}

TEST(Filing, ExtendKeepsTheIndexInStepForAnyEntry) {
  SegmentList list;
  // Two empty 10 sps entries whose codes differ in letter case only.
  const auto entry = [](const char* station, const char* channel, double start) {
    TraceSegment e;
    e.rate = 10;
    e.nominalRate = 10.0;
    e.station = station;
    e.channel = channel;
    e.location = "??";
    e.start = e.end = start;
    return e;
  };
  list.Add(entry("A", "BHZ", 100.0));
  list.Add(entry("a", "bhz", 200.0));
  list.Extend(list[0], 50);  // not the entry last added
  EXPECT_DOUBLE_EQ(list[0].end, 105.0);
  EXPECT_EQ(list.FindContinuation({"A", "BHZ", "??"}, 105.1, 10.0), &list[0]);
  EXPECT_EQ(list.FindContinuation({"A", "BHZ", "??"}, 100.0, 10.0), nullptr);
  EXPECT_EQ(list.FindContinuation({"A", "BHZ", "??"}, 199.9, 10.0), &list[1]);
  EXPECT_EQ(list.FindContinuation({"A", "BHZ", "??"}, 105.1, 20.0), nullptr);  // another rate
  EXPECT_EQ(list.FindChannel({"a", "Bhz", "??"}), &list[0]);
}

TEST(Filing, ClearEmptiesListAndIndex) {
  RunContext c;
  ProcessDataRecord(Record(0.0, 10, 100, 1), 4096, c);
  c.segments.Clear();
  EXPECT_TRUE(c.segments.empty());
  EXPECT_EQ(c.segments.FindChannel({"ABC", "BHZ", "??"}), nullptr);
  ProcessDataRecord(Record(0.1, 10, 100, 1), 4096, c);
  EXPECT_EQ(c.segments.size(), 1u);
  EXPECT_EQ(c.segments.FindContinuation({"abc", "bhz", "??"}, kT0 + 0.2, 100.0), &c.segments[0]);
}

}  // namespace
}  // namespace tarnvel::testing
