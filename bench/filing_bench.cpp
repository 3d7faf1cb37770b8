// Cost of filing one record into the run's segments: a gap-free channel, one channel broken by
// 20,000 gaps, and 300 channels side by side. Items are records; the per-record cost should not
// depend on how many entries the list already holds.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "seed/run_context.h"
#include "seed/seed_record.h"
#include "tests/seed/record_builder.h"

namespace {

constexpr int kLength = 512;
constexpr int kRecords = 20000;
constexpr int kSamples = 100;  // 1 s at 100 sps

std::vector<std::uint8_t> Record(double offset, const std::string& station) {
  tarnvel::testing::RecordBuilder b;
  b.length = kLength;
  b.encoding = 3;
  b.station = station;
  b.year = 2020;
  const auto whole = static_cast<long>(offset);
  b.day = static_cast<std::uint16_t>(1 + whole / 86400);
  b.hour = static_cast<std::uint8_t>(whole % 86400 / 3600);
  b.minute = static_cast<std::uint8_t>(whole % 3600 / 60);
  b.second = static_cast<std::uint8_t>(whole % 60);
  b.count = kSamples;
  return b.Build();
}

// kRecords records back to back. gapEvery: seconds between record starts (1 = gap-free, 2 = a
// 1 s gap after every record); channels: stations used round-robin.
std::vector<std::uint8_t> File(int gapEvery, int channels) {
  std::vector<std::uint8_t> file;
  file.reserve(static_cast<std::size_t>(kRecords) * kLength);
  for (int i = 0; i < kRecords; ++i) {
    const int channel = i % channels;
    const double t = static_cast<double>(i / channels) * gapEvery;
    const auto r = Record(t, "S" + std::to_string(channel));
    file.insert(file.end(), r.begin(), r.end());
  }
  return file;
}

void Filing(benchmark::State& state, int gapEvery, int channels) {
  const std::vector<std::uint8_t> file = File(gapEvery, channels);
  std::size_t entries = 0;
  for (auto _ : state) {
    tarnvel::RunContext context;
    tarnvel::testing::FileRecords(file, kLength, context);
    entries = context.segments.size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// Lookup cost alone: the list already holds `existing` entries (20,000 gaps on one channel, or
// 300 channels); then kRecords records continue them (the newest entry of the gap channel, all
// 300 channels round-robin). A linear search would pay for every entry in front.
void Continuing(benchmark::State& state, int gapEvery, int channels) {
  const std::vector<std::uint8_t> before = File(gapEvery, channels);
  // Records continuing where `before` left each channel.
  std::vector<std::uint8_t> after;
  for (int i = 0; i < kRecords; ++i) {
    const int channel = i % channels;
    const int held = kRecords / channels + (channel < kRecords % channels ? 1 : 0);
    const double resume = (held - 1) * gapEvery + 1.0;
    const auto r =
        Record(resume + static_cast<double>(i / channels), "S" + std::to_string(channel));
    after.insert(after.end(), r.begin(), r.end());
  }
  std::size_t entries = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto context = std::make_unique<tarnvel::RunContext>();
    tarnvel::testing::FileRecords(before, kLength, *context);
    state.ResumeTiming();
    tarnvel::testing::FileRecords(after, kLength, *context);
    entries = context->segments.size();
    state.PauseTiming();
    context.reset();
    state.ResumeTiming();
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK_CAPTURE(Continuing, OneEntry, 1, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Continuing, After20000Gaps, 2, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Continuing, After300Channels, 1, 300)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(Filing, GapFree, 1, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Filing, Gaps20000, 2, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Filing, Channels300, 1, 300)->Unit(benchmark::kMillisecond);

}  // namespace
