// Writes a synthetic SEED file for the whole-program benchmarks: Steim2 records of random-walk
// samples, packed by libmseed, channels interleaved block by block.
//
//   seed_generate_tool OUT [--bytes=N] [--blocks=N] [--channels=N] [--rate=SPS] [--block=SAMPLES]
//                          [--gap=SECONDS] [--record=BYTES] [--start=EPOCH] [--max-step=N]
//                          [--station=NAME] [--little-endian] [--mseed3]
//
// Each channel gets `block` samples per round, packed with a flush (so a round ends in a partly
// filled record); with --gap the first channel skips that many seconds between rounds. Writing
// stops after --bytes bytes (whole records) or --blocks rounds, whichever comes first. Channel i
// is station (NAME or B%03d of i / 3) with channel BHZ, BHN or BHE by i % 3, location 00.
// Records are big-endian unless --little-endian. With --mseed3, each record is written as a
// miniSEED 3 record instead: the same time, rate, count and Steim2 frames behind a miniSEED 3
// header (so a file and its --mseed3 twin hold the same data). Prints the records and samples
// written.
#include <libmseed.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "tests/support/mseed3_writer.h"

namespace {

struct Options {
  std::string out;
  std::int64_t bytes = -1;
  std::int64_t blocks = -1;
  int channels = 3;
  double rate = 100.0;
  std::int64_t block = 360000;
  double gap = 0.0;
  int record = 4096;
  double start = 1237593600.0;  // 2009-03-21 00:00:00 UTC
  std::int32_t maxStep = 500;
  std::string station;
  bool littleEndian = false;
  bool mseed3 = false;
};

struct Output {
  std::FILE* file = nullptr;
  std::int64_t limitRecords = -1;
  std::int64_t records = 0;
  std::int64_t samples = 0;
  bool mseed3 = false;
  bool full() const { return limitRecords >= 0 && records >= limitRecords; }
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

struct MsRecordFree {
  void operator()(MSRecord* msr) const {
    if (msr != nullptr) {
      msr->datasamples = nullptr;  // owned by a vector of the caller
      msr_free(&msr);
    }
  }
};

// A code field of a big-endian SEED 2 record, up to its first blank.
std::string Code(const std::uint8_t* r, std::size_t at, std::size_t size) {
  std::string code(reinterpret_cast<const char*>(r) + at, size);
  return code.substr(0, code.find(' '));
}

std::uint16_t Big16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// The big-endian SEED 2 record as a miniSEED 3 record of the same data.
std::vector<std::uint8_t> AsMseed3(const std::uint8_t* r, int length) {
  tarnvel::testing::Mseed3Fields fields;
  const std::string channel = Code(r, 15, 3);
  fields.identifier = "FDSN:" + Code(r, 18, 2) + "_" + Code(r, 8, 5) + "_" + Code(r, 13, 2) + "_" +
                      channel.substr(0, 1) + "_" + channel.substr(1, 1) + "_" + channel.substr(2);
  fields.year = Big16(r + 20);
  fields.dayOfYear = Big16(r + 22);
  fields.hour = r[24];
  fields.minute = r[25];
  fields.second = r[26];
  fields.nanosecond = static_cast<std::uint32_t>(Big16(r + 28)) * 100000u;
  fields.sampleCount = Big16(r + 30);
  const auto factor = static_cast<std::int16_t>(Big16(r + 32));
  const auto multiplier = static_cast<std::int16_t>(Big16(r + 34));
  const double f = factor;
  const double m = multiplier;
  fields.rate =
      factor > 0 ? (multiplier > 0 ? f * m : -f / m) : (multiplier > 0 ? -m / f : 1.0 / (f * m));
  fields.encoding = 11;
  const std::uint16_t data = Big16(r + 44);
  return tarnvel::testing::Mseed3Record(
      fields, std::span<const std::uint8_t>(r + data, static_cast<std::size_t>(length - data)));
}

void WriteRecord(char* record, int length, void* handlerData) {
  auto* out = static_cast<Output*>(handlerData);
  if (out->full()) return;
  std::vector<std::uint8_t> converted;
  if (out->mseed3) {
    converted = AsMseed3(reinterpret_cast<const std::uint8_t*>(record), length);
    record = reinterpret_cast<char*>(converted.data());
    length = static_cast<int>(converted.size());
  }
  if (std::fwrite(record, 1, static_cast<std::size_t>(length), out->file) !=
      static_cast<std::size_t>(length)) {
    std::perror("write");
    std::exit(1);
  }
  ++out->records;
}

bool Value(std::string_view arg, std::string_view key, std::string& value) {
  if (arg.substr(0, key.size()) != key) return false;
  value = std::string(arg.substr(key.size()));
  return true;
}

// An option's value into a field of its own type.
template <typename T>
void SetFrom(const std::string& value, T& field) {
  if constexpr (std::is_same_v<T, std::string>) {
    field = value;
  } else if constexpr (std::is_floating_point_v<T>) {
    field = static_cast<T>(std::stod(value));
  } else {
    field = static_cast<T>(std::stoll(value));
  }
}

Options Parse(int argc, char** argv) {
  Options o;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s OUT [--bytes=N] [--blocks=N] [--channels=N] [--rate=SPS] "
                 "[--block=SAMPLES] [--gap=SECONDS] [--record=BYTES] [--start=EPOCH] "
                 "[--max-step=N] [--station=NAME] [--little-endian] [--mseed3]\n",
                 argv[0]);
    std::exit(2);
  }
  o.out = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto take = [&](std::string_view key, auto& field) {
      std::string v;
      if (!Value(arg, key, v)) return false;
      SetFrom(v, field);
      return true;
    };
    if (take("--bytes=", o.bytes) || take("--blocks=", o.blocks) ||
        take("--channels=", o.channels) || take("--rate=", o.rate) || take("--block=", o.block) ||
        take("--gap=", o.gap) || take("--record=", o.record) || take("--start=", o.start) ||
        take("--max-step=", o.maxStep) || take("--station=", o.station)) {
      continue;
    }
    if (arg == "--mseed3") {
      o.mseed3 = true;
    } else if (arg == "--little-endian") {
      o.littleEndian = true;
    } else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      std::exit(2);
    }
  }
  if (o.bytes < 0 && o.blocks < 0) {
    std::fprintf(stderr, "give --bytes or --blocks\n");
    std::exit(2);
  }
  return o;
}

void CopyName(char (&field)[11], const std::string& value) {
  std::memset(field, 0, sizeof field);
  std::strncpy(field, value.c_str(), sizeof field - 1);
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(o.out.c_str(), "wb"));
  if (!file) {
    std::perror(o.out.c_str());
    return 1;
  }
  if (o.mseed3 && o.littleEndian) {
    std::fprintf(stderr,
                 "miniSEED 3 keeps Steim frames big-endian: --mseed3 without --little-endian\n");
    return 2;
  }
  Output out;
  out.file = file.get();
  out.mseed3 = o.mseed3;
  if (o.bytes >= 0) out.limitRecords = o.bytes / o.record;

  const char* const components[] = {"BHZ", "BHN", "BHE"};
  std::vector<std::unique_ptr<MSRecord, MsRecordFree>> records;
  std::vector<std::int32_t> level(static_cast<std::size_t>(o.channels), 0);
  std::vector<double> next(static_cast<std::size_t>(o.channels), o.start);
  for (int c = 0; c < o.channels; ++c) {
    std::unique_ptr<MSRecord, MsRecordFree> msr(msr_init(nullptr));
    if (!msr) return 1;
    char station[16];
    std::snprintf(station, sizeof station, "B%03d", c / 3);
    CopyName(msr->network, "XX");
    CopyName(msr->station, o.station.empty() ? station : o.station);
    CopyName(msr->location, "00");
    CopyName(msr->channel, components[c % 3]);
    msr->dataquality = 'D';
    msr->samprate = o.rate;
    msr->reclen = o.record;
    msr->encoding = DE_STEIM2;
    msr->byteorder = o.littleEndian ? 0 : 1;
    msr->sampletype = 'i';
    records.push_back(std::move(msr));
  }

  std::mt19937 random(20090321u);
  std::uniform_int_distribution<std::int32_t> step(-o.maxStep, o.maxStep);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(o.block));
  for (std::int64_t round = 0; o.blocks < 0 || round < o.blocks; ++round) {
    for (int c = 0; c < o.channels && !out.full(); ++c) {
      std::int32_t x = level[static_cast<std::size_t>(c)];
      for (std::int32_t& s : samples) {
        std::int32_t d = step(random);
        if (x > 1000000 && d > 0) d = -d;  // keep the walk where floats stay exact
        if (x < -1000000 && d < 0) d = -d;
        x += d;
        s = x;
      }
      level[static_cast<std::size_t>(c)] = x;
      MSRecord* msr = records[static_cast<std::size_t>(c)].get();
      double& t = next[static_cast<std::size_t>(c)];
      msr->starttime = static_cast<hptime_t>(std::llround(t * HPTMODULUS));
      msr->datasamples = samples.data();
      msr->numsamples = static_cast<int64_t>(samples.size());
      std::int64_t packed = 0;
      if (msr_pack(msr, &WriteRecord, &out, &packed, 1, 0) < 0 ||
          packed != static_cast<std::int64_t>(samples.size())) {
        std::fprintf(stderr, "packing failed\n");
        return 1;
      }
      out.samples += packed;
      t += static_cast<double>(samples.size()) / o.rate;
      if (c == 0) t += o.gap;
    }
    if (out.full()) break;
  }
  std::printf("records %lld samples_packed %lld\n", static_cast<long long>(out.records),
              static_cast<long long>(out.samples));
  return 0;
}
