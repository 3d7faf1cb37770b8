// Steim1/Steim2 decoding of realistic 4096-byte records: ours against libmseed's msr_unpack of
// the very same records, in both byte orders. Items are samples.
//
// Two signals, random walks whose Steim2 words fall into the layouts real stations give:
// - broadband (steps of 300 counts): 69% three 10-bit and 29% two 15-bit differences, as in a
//   long-period broadband channel (CH.BALST..LHE: 68% and 30%); Steim1: 16-bit halves;
// - quiet (steps of 30 counts): 83% four 8-bit and 17% five 6-bit differences, as in a
//   short-period channel (2005-07-23-1452-04S.CER: 71% and 27%); Steim1: bytes.
// In both, as in those files, a quarter to a third of neighbouring words change layout.
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "seed/seed_record.h"
#include "seed/steim.h"

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
