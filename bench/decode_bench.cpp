// Steim1/Steim2 decoding of realistic 4096-byte records: ours against libmseed's msr_unpack of
// the very same records, in both byte orders; and whole records, header and samples, of the
// same Steim2 data as SEED 2 and as miniSEED 3 records. Items are samples.
//
// Two signals, random walks whose Steim2 words fall into the layouts real stations give:
// - broadband (steps of 300 counts): 69% three 10-bit and 29% two 15-bit differences, as in a
//   long-period broadband channel (CH.BALST..LHE: 68% and 30%); Steim1: 16-bit halves;
// - quiet (steps of 30 counts): 83% four 8-bit and 17% five 6-bit differences, as in a
//   short-period channel (2005-07-23-1452-04S.CER: 71% and 27%); Steim1: bytes.
// In both, as in those files, a quarter to a third of neighbouring words change layout.
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "seed/crc32c.h"
#include "seed/seed_record.h"
#include "seed/steim.h"
#include "tests/support/mseed3_writer.h"

namespace {

constexpr int kLength = 4096;

struct Records {
  std::vector<char> bytes;
  std::int64_t samples = 0;
  std::size_t count() const { return bytes.size() / kLength; }
};

void Append(char* record, int length, void* sink) {
  auto* out = static_cast<std::vector<char>*>(sink);
  out->insert(out->end(), record, record + length);
}

enum class Signal { kBroadband, kQuiet };

// A random walk of seismic-like amplitude, packed by libmseed.
Records Make(int encoding, bool bigEndian, Signal signal) {
  std::mt19937 engine(42);
  std::normal_distribution<double> step(0.0, signal == Signal::kBroadband ? 300.0 : 30.0);
  std::vector<std::int32_t> walk(400000);
  double value = 0.0;
  for (auto& v : walk) {
    value += step(engine);
    value *= 0.999;
    v = static_cast<std::int32_t>(value);
  }
  MSRecord* msr = msr_init(nullptr);
  std::strcpy(msr->network, "XX");
  std::strcpy(msr->station, "BENCH");
  std::strcpy(msr->channel, "HHZ");
  msr->dataquality = 'D';
  msr->starttime = static_cast<hptime_t>(1600000000) * HPTMODULUS;
  msr->samprate = 100.0;
  msr->reclen = kLength;
  msr->encoding = static_cast<int8_t>(encoding);
  msr->byteorder = bigEndian ? 1 : 0;
  msr->datasamples = walk.data();
  msr->numsamples = static_cast<int64_t>(walk.size());
  msr->sampletype = 'i';
  Records r;
  int64_t packed = 0;
  if (msr_pack(msr, &Append, &r.bytes, &packed, 1, 0) < 0) throw std::runtime_error("pack");
  msr->datasamples = nullptr;
  msr_free(&msr);
  r.samples = packed;
  return r;
}

const Records& Cached(int encoding, bool bigEndian, Signal signal) {
  static std::map<std::tuple<int, bool, Signal>, Records> cache;
  const auto key = std::make_tuple(encoding, bigEndian, signal);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, Make(encoding, bigEndian, signal)).first;
  return it->second;
}

void Ours(benchmark::State& state, int encoding, bool bigEndian, Signal signal) {
  const Records& r = Cached(encoding, bigEndian, signal);
  std::vector<float> out(8192);
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.count(); ++i) {
      const std::span<const std::uint8_t> record(
          reinterpret_cast<const std::uint8_t*>(r.bytes.data()) + i * kLength, kLength);
      tarnvel::RecordHeader h;
      tarnvel::ReadRecordHeader(record, kLength, h);
      const std::span<float> slots(out.data(), h.sampleCount);
      const auto data = record.subspan(h.beginningOfData);
      const tarnvel::SteimStatus s =
          encoding == 10
              ? tarnvel::DecodeSteim1(data, tarnvel::Steim1FrameCount(kLength), slots, h.bigEndian)
              : tarnvel::DecodeSteim2(data, tarnvel::Steim2FrameCount(kLength, h.beginningOfData),
                                      slots, h.bigEndian);
      benchmark::DoNotOptimize(s);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * r.samples);
}

void Libmseed(benchmark::State& state, int encoding, bool bigEndian, Signal signal) {
  const Records& r = Cached(encoding, bigEndian, signal);
  std::vector<char> copy = r.bytes;  // msr_unpack may swap header bytes in place
  MSRecord* msr = nullptr;
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.count(); ++i) {
      if (msr_unpack(copy.data() + i * kLength, kLength, &msr, 1, 0) != MS_NOERROR) {
        state.SkipWithError("msr_unpack failed");
        break;
      }
      benchmark::DoNotOptimize(msr->datasamples);
    }
  }
  msr_free(&msr);
  state.SetItemsProcessed(state.iterations() * r.samples);
}

// The same records as miniSEED 3 records, back to back: each SEED 2 record's header fields and
// its Steim frames (big-endian in both versions) behind a miniSEED 3 header and identifier.
struct Mseed3File {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> starts;  // where each record begins
  std::int64_t samples = 0;
};

const Mseed3File& CachedMseed3(Signal signal) {
  static std::map<Signal, Mseed3File> cache;
  auto it = cache.find(signal);
  if (it != cache.end()) return it->second;
  const Records& seed2 = Cached(11, true, signal);
  Mseed3File out;
  for (std::size_t i = 0; i < seed2.count(); ++i) {
    const std::span<const std::uint8_t> record(
        reinterpret_cast<const std::uint8_t*>(seed2.bytes.data()) + i * kLength, kLength);
    tarnvel::RecordHeader h;
    if (tarnvel::ReadRecordHeader(record, kLength, h) != tarnvel::HeaderResult::kAccepted) {
      throw std::runtime_error("unreadable record");
    }
    tarnvel::testing::Mseed3Fields fields;
    fields.identifier = "FDSN:XX_BENCH__H_H_Z";
    fields.year = h.year;
    fields.dayOfYear = h.dayOfYear;
    fields.hour = h.hour;
    fields.minute = h.minute;
    fields.second = h.second;
    fields.nanosecond = static_cast<std::uint32_t>(h.fractions) * 100000u;
    fields.encoding = 11;
    fields.rate = h.rate;
    fields.sampleCount = h.sampleCount;
    out.starts.push_back(out.bytes.size());
    const auto written = tarnvel::testing::Mseed3Record(fields, h.data);
    out.bytes.insert(out.bytes.end(), written.begin(), written.end());
    out.samples += h.sampleCount;
  }
  return cache.emplace(signal, std::move(out)).first->second;
}

// A whole record as a conversion takes it: header (miniSEED 3: its identifier mapped, through
// the codes remembered from the record before, as the run context keeps them) and samples; a
// miniSEED 3 record's CRC checked as `check` says (conversions check Steim frames while decoding
// them).
void ReadAndDecode(std::span<const std::uint8_t> record, std::vector<float>& out,
                   tarnvel::CrcCheck check = tarnvel::CrcCheck::kAtOnce,
                   tarnvel::SourceCodesMemo* memo = nullptr) {
  tarnvel::RecordHeader h;
  tarnvel::ReadRecordHeader(record, static_cast<int>(record.size()), h, check, memo);
  const tarnvel::DecodeStatus status =
      tarnvel::DecodeRecord(h, std::span<float>(out.data(), h.samplesHeld));
  benchmark::DoNotOptimize(status);
  benchmark::DoNotOptimize(out.data());
}

void Seed2Records(benchmark::State& state, Signal signal) {
  const Records& r = Cached(11, true, signal);
  std::vector<float> out(8192);
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.count(); ++i) {
      ReadAndDecode({reinterpret_cast<const std::uint8_t*>(r.bytes.data()) + i * kLength, kLength},
                    out);
    }
  }
  state.SetItemsProcessed(state.iterations() * r.samples);
}

void Mseed3Records(benchmark::State& state, Signal signal, tarnvel::CrcCheck check) {
  const auto& r = CachedMseed3(signal);
  std::vector<float> out(8192);
  tarnvel::SourceCodesMemo memo;
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.starts.size(); ++i) {
      const std::size_t end = i + 1 < r.starts.size() ? r.starts[i + 1] : r.bytes.size();
      ReadAndDecode({r.bytes.data() + r.starts[i], end - r.starts[i]}, out, check, &memo);
    }
  }
  state.SetItemsProcessed(state.iterations() * r.samples);
}

// The same Steim2 data as SEED 2 and as miniSEED 3 records, side by side: as conversions read
// them (the CRC taken while decoding), and with the CRC checked in a pass of its own first.
BENCHMARK_CAPTURE(Seed2Records, Steim2Broadband, Signal::kBroadband);
BENCHMARK_CAPTURE(Mseed3Records, Steim2Broadband, Signal::kBroadband,
                  tarnvel::CrcCheck::kWhileDecoding);
BENCHMARK_CAPTURE(Mseed3Records, Steim2BroadbandCrcFirst, Signal::kBroadband,
                  tarnvel::CrcCheck::kAtOnce);
BENCHMARK_CAPTURE(Seed2Records, Steim2Quiet, Signal::kQuiet);
BENCHMARK_CAPTURE(Mseed3Records, Steim2Quiet, Signal::kQuiet, tarnvel::CrcCheck::kWhileDecoding);
BENCHMARK_CAPTURE(Mseed3Records, Steim2QuietCrcFirst, Signal::kQuiet, tarnvel::CrcCheck::kAtOnce);

// Each case of ours right before the same case of libmseed, so that the two run side by side.
#define DECODE_PAIR(name, encoding, big, signal)                \
  BENCHMARK_CAPTURE(Ours, name, encoding, big, Signal::signal); \
  BENCHMARK_CAPTURE(Libmseed, name, encoding, big, Signal::signal)

DECODE_PAIR(Steim1Big, 10, true, kBroadband);
DECODE_PAIR(Steim1Little, 10, false, kBroadband);
DECODE_PAIR(Steim2Big, 11, true, kBroadband);
DECODE_PAIR(Steim2Little, 11, false, kBroadband);
DECODE_PAIR(Steim1BigQuiet, 10, true, kQuiet);
DECODE_PAIR(Steim1LittleQuiet, 10, false, kQuiet);
DECODE_PAIR(Steim2BigQuiet, 11, true, kQuiet);
DECODE_PAIR(Steim2LittleQuiet, 11, false, kQuiet);

}  // namespace

namespace {

// The CRC-32C of a record's worth of bytes, as every miniSEED 3 record costs it.
void Crc32c(benchmark::State& state, bool portable) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(state.range(0)));
  std::mt19937 random(7);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  for (auto _ : state) {
    benchmark::DoNotOptimize(portable ? tarnvel::Crc32cExtendPortable(0, bytes)
                                      : tarnvel::Crc32cExtend(0, bytes));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(Crc32c, Instruction, false)->Arg(512)->Arg(4096);
BENCHMARK_CAPTURE(Crc32c, Table, true)->Arg(512)->Arg(4096);

}  // namespace

namespace {

// The header alone (miniSEED 3: its CRC included), of the same records as above.
void HeaderOnly(benchmark::State& state, int version) {
  const Records& seed2 = Cached(11, true, Signal::kBroadband);
  const auto& mseed3 = CachedMseed3(Signal::kBroadband);
  tarnvel::SourceCodesMemo memo;
  for (auto _ : state) {
    for (std::size_t i = 0; i < mseed3.starts.size(); ++i) {
      tarnvel::RecordHeader h;
      if (version == 2) {
        tarnvel::ReadRecordHeader(
            {reinterpret_cast<const std::uint8_t*>(seed2.bytes.data()) + i * kLength, kLength},
            kLength, h);
      } else {
        const std::size_t end =
            i + 1 < mseed3.starts.size() ? mseed3.starts[i + 1] : mseed3.bytes.size();
        tarnvel::ReadRecordHeader({mseed3.bytes.data() + mseed3.starts[i], end - mseed3.starts[i]},
                                  kLength, h, tarnvel::CrcCheck::kAtOnce, &memo);
      }
      benchmark::DoNotOptimize(h.samplesHeld);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mseed3.starts.size()));
}
BENCHMARK_CAPTURE(HeaderOnly, Seed2, 2);
BENCHMARK_CAPTURE(HeaderOnly, Mseed3, 3);

}  // namespace

namespace {

// The same records of both versions, one of each in turn, each record timed alone; summed are
// each record's fastest times over all passes. Load from elsewhere then falls on both versions
// alike, and the fastest of many passes leaves out what it adds, so the ratio holds steady on a
// busy machine where the times above scatter by several percent. Counter
// mseed3_speed_over_seed2: above 1 when the miniSEED 3 records are read and decoded faster.
void Seed2AndMseed3InTurn(benchmark::State& state, Signal signal) {
  using Clock = std::chrono::steady_clock;
  const Records& seed2 = Cached(11, true, signal);
  const auto& mseed3 = CachedMseed3(signal);
  const std::size_t n = mseed3.starts.size();
  std::vector<float> out(8192);
  std::vector<Clock::duration> fastest2(n, Clock::duration::max());
  std::vector<Clock::duration> fastest3(n, Clock::duration::max());
  tarnvel::SourceCodesMemo memo;
  for (auto _ : state) {
    for (int pass = 0; pass < 20; ++pass) {
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t end = i + 1 < n ? mseed3.starts[i + 1] : mseed3.bytes.size();
        const auto t0 = Clock::now();
        ReadAndDecode(
            {reinterpret_cast<const std::uint8_t*>(seed2.bytes.data()) + i * kLength, kLength},
            out);
        const auto t1 = Clock::now();
        ReadAndDecode({mseed3.bytes.data() + mseed3.starts[i], end - mseed3.starts[i]}, out,
                      tarnvel::CrcCheck::kWhileDecoding, &memo);
        const auto t2 = Clock::now();
        fastest2[i] = std::min(fastest2[i], t1 - t0);
        fastest3[i] = std::min(fastest3[i], t2 - t1);
      }
    }
  }
  Clock::duration sum2{};
  Clock::duration sum3{};
  for (std::size_t i = 0; i < n; ++i) {
    sum2 += fastest2[i];
    sum3 += fastest3[i];
  }
  state.counters["seed2_us"] = std::chrono::duration<double, std::micro>(sum2).count();
  state.counters["mseed3_us"] = std::chrono::duration<double, std::micro>(sum3).count();
  state.counters["mseed3_speed_over_seed2"] =
      static_cast<double>(sum2.count()) / static_cast<double>(sum3.count());
}
BENCHMARK_CAPTURE(Seed2AndMseed3InTurn, Steim2Broadband, Signal::kBroadband)->Iterations(5);
BENCHMARK_CAPTURE(Seed2AndMseed3InTurn, Steim2Quiet, Signal::kQuiet)->Iterations(5);

}  // namespace
