// Steim1/Steim2 decoding of realistic 4096-byte records: ours against libmseed's msr_unpack of
// the very same records, in both byte orders. Items are samples.
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
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

// A random walk of seismic-like amplitude, packed by libmseed.
Records Make(int encoding, bool bigEndian) {
  std::mt19937 engine(42);
  std::normal_distribution<double> step(0.0, 300.0);
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

const Records& Cached(int encoding, bool bigEndian) {
  static const Records s1b = Make(10, true), s1l = Make(10, false), s2b = Make(11, true),
                       s2l = Make(11, false);
  if (encoding == 10) return bigEndian ? s1b : s1l;
  return bigEndian ? s2b : s2l;
}

void Ours(benchmark::State& state, int encoding, bool bigEndian) {
  const Records& r = Cached(encoding, bigEndian);
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

void Libmseed(benchmark::State& state, int encoding, bool bigEndian) {
  const Records& r = Cached(encoding, bigEndian);
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

BENCHMARK_CAPTURE(Ours, Steim1Big, 10, true);
BENCHMARK_CAPTURE(Libmseed, Steim1Big, 10, true);
BENCHMARK_CAPTURE(Ours, Steim1Little, 10, false);
BENCHMARK_CAPTURE(Libmseed, Steim1Little, 10, false);
BENCHMARK_CAPTURE(Ours, Steim2Big, 11, true);
BENCHMARK_CAPTURE(Libmseed, Steim2Big, 11, true);
BENCHMARK_CAPTURE(Ours, Steim2Little, 11, false);
BENCHMARK_CAPTURE(Libmseed, Steim2Little, 11, false);

}  // namespace
