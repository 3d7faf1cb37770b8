// Our record decoding and filing against an independent decoder (libmseed 2, which reads SEED
// data records): over records it packed itself, over real station files, over miniSEED 3 files
// against their SEED 2 counterparts, and over random records of every encoding in both versions
// against a plain model of their samples.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "seed/run_context.h"
#include "seed/seed_record.h"
#include "tests/seed/record_builder.h"
#include "tests/support/mseed3_writer.h"
#include "tests/support/mseed_pack.h"
#include "tests/support/process.h"

#ifdef TARNVEL_HAVE_MSEED

namespace tarnvel::testing {
namespace {

template <typename T>
std::vector<float> AsFloats(const std::vector<T>& values) {
  std::vector<float> out;
  out.reserve(values.size());
  for (const T v : values) out.push_back(static_cast<float>(v));
  return out;
}

// Whether the floats are the same, bit for bit (NaN included).
bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

std::string LocationOf(const std::string& reference) {
  return reference.empty() ? "??" : reference;
}

// Files `bytes` and checks every channel against the reference decoder: same samples as
// floats, start time, rate and span. Every channel is continuous, whatever its rate, so each
// must come out as exactly one entry.
void ExpectSameAsReference(const std::string& bytes, int recordLength) {
  RunContext context;
  CollectingDebugSink sink;
  context.debug = &sink;
  FileRecords(bytes, recordLength, context);
  const auto reference = DecodeChannels(bytes, recordLength);
  std::size_t entriesSeen = 0;
  for (const ReferenceChannel& want : reference) {
    SCOPED_TRACE(want.station + "." + want.channel + " length " + std::to_string(recordLength));
    std::vector<const TraceSegment*> entries;
    for (const TraceSegment& entry : context.segments) {
      if (entry.station == want.station && entry.channel == want.channel &&
          entry.location == LocationOf(want.location)) {
        entries.push_back(&entry);
      }
    }
    ASSERT_FALSE(entries.empty());
    entriesSeen += entries.size();
    EXPECT_EQ(entries.size(), 1u);
    std::vector<float> got;
    std::int64_t count = 0;
    for (const TraceSegment* entry : entries) {
      const auto part = entry->samples.ToVector();
      got.insert(got.end(), part.begin(), part.end());
      count += entry->count;
      EXPECT_DOUBLE_EQ(entry->nominalRate, want.nominalRate);
      EXPECT_EQ(entry->rate, static_cast<std::uint32_t>(want.nominalRate));
    }
    EXPECT_EQ(count, static_cast<std::int64_t>(want.samples.size()));
    EXPECT_EQ(got, AsFloats(want.samples));
    // Our record time carries the seconds in single precision: within a few microseconds.
    EXPECT_NEAR(entries.front()->start, want.start, 5e-6);
    const double span = static_cast<double>(count) / want.nominalRate;
    // Each record adds its span to an epoch-sized double: rounding adds up to microseconds.
    EXPECT_NEAR(entries.front()->end - entries.front()->start, span, 1e-4);
    // Every record of the reference starts where our entry puts its first sample.
    std::int64_t before = 0;
    for (std::size_t r = 0; r < want.recordStarts.size(); ++r) {
      EXPECT_NEAR(entries.front()->start + static_cast<double>(before) / want.nominalRate,
                  want.recordStarts[r], 1e-4)
          << "record " << r;
      before += want.recordCounts[r];
    }
  }
  EXPECT_EQ(entriesSeen, context.segments.size());
  // Well-formed records leave no diagnostics behind, except "bad final value" for values that a
  // float cannot hold exactly.
  for (const std::string& line : sink.lines) EXPECT_EQ(line, "bad final value\n");
}

struct Case {
  int encoding;
  bool big;
  int length;
};

class PackedRecords : public ::testing::TestWithParam<Case> {
 protected:
  // The case's encoding, byte order and record length, from `start` on.
  static PackFields FieldsOf(const Case& c, double start) {
    PackFields fields;
    fields.encoding = c.encoding;
    fields.bigEndian = c.big;
    fields.recordLength = c.length;
    fields.startEpoch = start;
    return fields;
  }
};

TEST_P(PackedRecords, SeveralChannelsDecodeLikeTheReference) {
  const Case c = GetParam();
  PackFields fields = FieldsOf(c, 1377695697.1234);

  std::string file;
  fields.station = "WALK";
  fields.channel = "BHZ";
  fields.sampleRate = 100.0;
  file += PackRecords(fields, RandomWalk(5000, 11, 2000, -300000));
  fields.channel = "BHN";
  fields.location = "00";
  fields.sampleRate = 20.0;
  file += PackRecords(fields, Sine(2500, 8.0e6, 37.0));
  fields.station = "FRAC";
  fields.channel = "HHE";
  fields.location = "";
  fields.sampleRate = 40.5;
  file += PackRecords(fields, RandomWalk(1500, 5, 40, 100));
  fields.channel = "LHZ";
  fields.sampleRate = 1.0;
  file += PackRecords(fields, Sine(900, 1000.0, 60.0, 5.0e5));
  fields.channel = "VHZ";
  fields.sampleRate = 0.1;
  file += PackRecords(fields, RandomWalk(400, 9, 3));
  ExpectSameAsReference(file, c.length);
}

TEST_P(PackedRecords, ValuesNearAndBeyondSingleFloatPrecision) {
  const Case c = GetParam();
  const PackFields fields = FieldsOf(c, 1600000000.0);
  std::vector<std::int32_t> values;
  // Around 2^24 single floats stop holding every integer; around 2^28 Steim2 still packs the
  // differences of a slow walk.
  for (std::int32_t v : RandomWalk(1200, 21, 3, (1 << 24) - 600)) values.push_back(v);
  for (std::int32_t v : RandomWalk(1200, 22, 1000, 1 << 28)) values.push_back(v);
  for (std::int32_t v : RandomWalk(600, 23, 1000, -(1 << 28))) values.push_back(v);
  ExpectSameAsReference(PackRecords(fields, values), c.length);
}

INSTANTIATE_TEST_SUITE_P(
    EncodingsOrdersLengths, PackedRecords,
    ::testing::Values(Case{kEncodingInt32, true, 256}, Case{kEncodingInt32, false, 512},
                      Case{kEncodingInt32, true, 4096}, Case{kEncodingSteim1, true, 256},
                      Case{kEncodingSteim1, false, 256}, Case{kEncodingSteim1, true, 512},
                      Case{kEncodingSteim1, false, 4096}, Case{kEncodingSteim1, true, 4096},
                      Case{kEncodingSteim2, true, 256}, Case{kEncodingSteim2, false, 512},
                      Case{kEncodingSteim2, true, 512}, Case{kEncodingSteim2, false, 4096},
                      Case{kEncodingSteim2, true, 4096}),
    [](const ::testing::TestParamInfo<Case>& p) {
      const char* name = p.param.encoding == kEncodingInt32    ? "Int32"
                         : p.param.encoding == kEncodingSteim1 ? "Steim1"
                                                               : "Steim2";
      return std::string(name) + (p.param.big ? "Big" : "Little") + std::to_string(p.param.length);
    });

TEST(PackedRecords, RecordStartsFollowTheReferenceRecordByRecord) {
  PackFields fields;
  fields.recordLength = 512;
  fields.sampleRate = 40.5;
  fields.startEpoch = 1262304000.0125;
  const std::string file = PackRecords(fields, RandomWalk(4000, 3, 50));
  const auto reference = DecodeRecords(file, 512);
  ASSERT_GT(reference.size(), 5u);
  for (std::size_t i = 0; i < reference.size(); ++i) {
    RecordHeader header;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data()) + i * 512;
    ASSERT_EQ(ReadRecordHeader({bytes, 512}, 512, header), HeaderResult::kAccepted);
    EXPECT_NEAR(BtimeToEpoch(header), reference[i].start, 5e-6) << "record " << i;
    EXPECT_EQ(header.sampleCount, reference[i].sampleCount);
    EXPECT_DOUBLE_EQ(SampleRateFromFactors(header.rateFactor, header.rateMultiplier), 40.5);
  }
}

// A test name from a file name: its letters and digits.
std::string TestNameOf(const char* fileName) {
  std::string name;
  for (const char* c = fileName; *c != 0; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
  }
  return name;
}

// Real files: every channel's samples as the reference decodes them.
struct SampleFile {
  const char* name;
  int recordLength;
  std::size_t channels;
  std::int64_t samples;
};

class SampleFiles : public ::testing::TestWithParam<SampleFile> {};

TEST_P(SampleFiles, DecodeLikeTheReference) {
  const SampleFile f = GetParam();
  const std::string bytes = ReadFile(TestData(f.name));
  const auto reference = DecodeChannels(bytes, f.recordLength);
  ASSERT_EQ(reference.size(), f.channels);
  std::int64_t total = 0;
  for (const auto& channel : reference) total += static_cast<std::int64_t>(channel.values.size());
  ASSERT_EQ(total, f.samples);

  RunContext context;
  CollectingDebugSink sink;
  context.debug = &sink;
  FileRecords(bytes, f.recordLength, context);
  // Gather our entries per channel in list order; a real file may hold gaps.
  for (const ReferenceChannel& want : reference) {
    std::vector<float> got;
    for (const TraceSegment& entry : context.segments) {
      if (entry.station == want.station && entry.channel == want.channel &&
          entry.location == LocationOf(want.location)) {
        const auto part = entry.samples.ToVector();
        got.insert(got.end(), part.begin(), part.end());
      }
    }
    EXPECT_EQ(got, AsFloats(want.values)) << want.station << "." << want.channel;
  }
  // The only diagnostic a well-formed file may give: a Steim2 record whose last value a float
  // cannot hold exactly.
  std::vector<std::string> expected;
  for (const ReferenceRecord& record : DecodeRecords(bytes, f.recordLength)) {
    if (record.encoding == kEncodingSteim2 && !record.samples.empty() &&
        static_cast<double>(static_cast<float>(record.samples.back())) !=
            static_cast<double>(record.samples.back())) {
      expected.emplace_back("bad final value\n");
    }
  }
  EXPECT_EQ(sink.lines, expected);
}

INSTANTIATE_TEST_SUITE_P(
    TestData, SampleFiles,
    ::testing::Values(SampleFile{"reference-testdata-steim1.mseed2", 512, 1, 500},
                      SampleFile{"reference-testdata-steim2-LE.mseed2", 512, 1, 499},
                      SampleFile{"reference-testdata-int32.mseed2", 512, 1, 500},
                      SampleFile{"CH.BALST..LHE.D.2025.314", 512, 1, 86343},
                      SampleFile{"2005-07-23-1452-04S.CER___030.mseed", 4096, 3, 31950},
                      SampleFile{"BW.BGLD.__.EHE.D.2008.001.first_10_records", 512, 1, 4120},
                      // Quality indicator M in every record.
                      SampleFile{"testdata-3channel-signal.mseed2", 512, 3, 12600},
                      SampleFile{"reference-testdata-steim2.mseed2", 512, 1, 499},
                      SampleFile{"reference-testdata-int16.mseed2", 512, 1, 220},
                      SampleFile{"reference-testdata-float32.mseed2", 512, 1, 500},
                      SampleFile{"reference-testdata-float64.mseed2", 512, 1, 500}),
    [](const ::testing::TestParamInfo<SampleFile>& p) { return TestNameOf(p.param.name); });

// miniSEED 3 files against their SEED 2 counterparts as the reference decodes those: the same
// samples, and every record at the time of its first sample there.
struct FilePair {
  const char* mseed3;
  const char* seed2;
  std::size_t channels;
  std::int64_t samples;
};

class Mseed3Files : public ::testing::TestWithParam<FilePair> {};

TEST_P(Mseed3Files, DecodeToTheSamplesAndTimesOfTheirSeed2Counterpart) {
  const FilePair f = GetParam();
  const auto reference = DecodeChannels(ReadFile(TestData(f.seed2)), 512);
  ASSERT_EQ(reference.size(), f.channels);
  const std::string bytes = ReadFile(TestData(f.mseed3));
  RunContext context;
  CollectingDebugSink sink;
  context.debug = &sink;
  FileMseed3Records(bytes, context);
  std::int64_t total = 0;
  for (const ReferenceChannel& want : reference) {
    SCOPED_TRACE(want.channel);
    std::vector<const TraceSegment*> entries;
    for (const TraceSegment& entry : context.segments) {
      if (entry.station == want.station && entry.channel == want.channel &&
          entry.location == LocationOf(want.location)) {
        entries.push_back(&entry);
      }
    }
    ASSERT_EQ(entries.size(), 1u);
    const TraceSegment& got = *entries[0];
    EXPECT_TRUE(SameBits(got.samples.ToVector(), AsFloats(want.values)));
    EXPECT_DOUBLE_EQ(got.nominalRate, want.nominalRate);
    // A miniSEED 3 start holds the microseconds a SEED 2 record keeps in its blockette 1001.
    EXPECT_NEAR(got.start, want.start + want.recordMicroseconds[0] * 1e-6, 1e-6);
    EXPECT_NEAR(got.end - got.start, static_cast<double>(got.count) / want.nominalRate, 1e-6);
    total += got.count;
  }
  EXPECT_EQ(total, f.samples);
  // Each record's start against the reference time of its first sample (the two versions cut
  // the channel into records at other samples).
  std::map<std::string, std::int64_t> before;
  for (const auto record : Mseed3Records(bytes)) {
    RecordHeader h;
    ASSERT_EQ(ReadRecordHeader(record, static_cast<int>(record.size()), h),
              HeaderResult::kAccepted);
    std::int64_t& index = before[h.channel];
    for (const ReferenceChannel& want : reference) {
      if (want.channel != h.channel) continue;
      std::int64_t first = 0;
      std::size_t r = 0;
      while (r + 1 < want.recordCounts.size() && first + want.recordCounts[r] <= index) {
        first += want.recordCounts[r++];
      }
      const double time = want.recordStarts[r] + want.recordMicroseconds[r] * 1e-6 +
                          static_cast<double>(index - first) / want.nominalRate;
      EXPECT_NEAR(h.start, time, 1e-6) << h.channel << " sample " << index;
    }
    index += h.sampleCount;
  }
  for (const std::string& line : sink.lines) EXPECT_EQ(line, "bad final value\n");
}

INSTANTIATE_TEST_SUITE_P(
    TestData, Mseed3Files,
    ::testing::Values(
        FilePair{"reference-testdata-steim1.mseed3", "reference-testdata-steim1.mseed2", 1, 500},
        FilePair{"reference-testdata-steim2.mseed3", "reference-testdata-steim2.mseed2", 1, 499},
        FilePair{"reference-testdata-int16.mseed3", "reference-testdata-int16.mseed2", 1, 220},
        FilePair{"reference-testdata-int32.mseed3", "reference-testdata-int32.mseed2", 1, 500},
        FilePair{"reference-testdata-float32.mseed3", "reference-testdata-float32.mseed2", 1, 500},
        FilePair{"reference-testdata-float64.mseed3", "reference-testdata-float64.mseed2", 1, 500},
        FilePair{"testdata-3channel-signal.mseed3", "testdata-3channel-signal.mseed2", 3, 12600}),
    [](const ::testing::TestParamInfo<FilePair>& p) { return TestNameOf(p.param.mseed3); });

// Random samples of one encoding: what the packer takes and, as the plain model, the floats
// the store must hold.
struct RandomSamples {
  std::vector<std::int32_t> integers;
  std::vector<double> reals;
  std::vector<float> model;
};

RandomSamples MakeRandomSamples(int encoding, std::size_t count, std::mt19937& random) {
  RandomSamples s;
  const auto uniform = [&random](std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(random);
  };
  if (encoding == kEncodingFloat32 || encoding == kEncodingFloat64) {
    // Magnitudes from tiny to huge; for doubles beyond the float range too.
    const int widest = encoding == kEncodingFloat32 ? 100 : 400;
    for (std::size_t i = 0; i < count; ++i) {
      const double mantissa = std::uniform_real_distribution<double>(-1.0, 1.0)(random);
      double value = std::ldexp(mantissa, static_cast<int>(uniform(-widest, widest)));
      if (encoding == kEncodingFloat32) value = static_cast<float>(value);
      s.reals.push_back(value);
      s.model.push_back(static_cast<float>(value));
    }
    return s;
  }
  // Integers: uniform over the encoding's range, or a walk whose steps fit one Steim layout.
  const std::int64_t limit = encoding == kEncodingInt16    ? 32767
                             : encoding == kEncodingSteim2 ? (std::int64_t{1} << 28)
                             : encoding == kEncodingSteim1 ? (std::int64_t{1} << 30)
                                                           : 2147483647;
  const int bits = static_cast<int>(uniform(2, encoding == kEncodingSteim2 ? 28 : 30));
  const bool walk = encoding == kEncodingSteim1 || encoding == kEncodingSteim2 || uniform(0, 1);
  std::int64_t value = uniform(-limit / 2, limit / 2);
  for (std::size_t i = 0; i < count; ++i) {
    if (walk) {
      const std::int64_t step = std::int64_t{1} << (bits - 1);
      value += uniform(-step, step);
      if (value > limit || value < -limit) value = uniform(-limit / 2, limit / 2);
    } else {
      value = uniform(-limit - 1, limit);
    }
    s.integers.push_back(static_cast<std::int32_t>(value));
    s.model.push_back(static_cast<float>(value));
  }
  return s;
}

std::string PackRandom(const PackFields& fields, const RandomSamples& s) {
  return s.reals.empty() ? PackRecords(fields, s.integers) : PackFloatRecords(fields, s.reals);
}

// The one entry of a run's segments, checked against the model: samples bit for bit, start.
void ExpectTheModel(const RunContext& context, const RandomSamples& s, double start,
                    double tolerance, const std::string& what) {
  ASSERT_EQ(context.segments.size(), 1u) << what;
  const TraceSegment& entry = context.segments[0];
  ASSERT_TRUE(SameBits(entry.samples.ToVector(), s.model)) << what;
  ASSERT_NEAR(entry.start, start, tolerance) << what;
  ASSERT_TRUE(context.decodeOk) << what;
}

TEST(RandomRecords, EveryEncodingInBothVersionsDecodesToThePlainModel) {
  const int encodings[] = {kEncodingInt16,   kEncodingInt32,  kEncodingFloat32,
                           kEncodingFloat64, kEncodingSteim1, kEncodingSteim2};
  const int lengths[] = {256, 512, 1024, 4096};
  const double rates[] = {100.0, 40.5, 20.0, 1.0, 0.1, 250.0};
  std::mt19937 random(20230101);
  const auto began = std::chrono::steady_clock::now();
  std::int64_t samples = 0;
  constexpr int kRounds = 2000;
  for (int round = 0; round < kRounds; ++round) {
    PackFields fields;
    fields.station = "RND";
    fields.channel = "HHZ";
    fields.location = round % 3 == 0 ? "" : "10";
    fields.encoding = encodings[random() % std::size(encodings)];
    fields.recordLength = lengths[random() % std::size(lengths)];
    fields.sampleRate = rates[random() % std::size(rates)];
    fields.bigEndian = random() % 2 == 0;
    // Within 1990 to 2030, to 0.0001 s (what a SEED 2 record time holds).
    fields.startEpoch = 631152000.0 + static_cast<double>(random() % 1262304000) +
                        static_cast<double>(random() % 10000) * 0.0001;
    const std::size_t count = 1 + random() % 3000;
    const RandomSamples s = MakeRandomSamples(fields.encoding, count, random);
    samples += static_cast<std::int64_t>(count);
    const std::string what = "round " + std::to_string(round) + ", encoding " +
                             std::to_string(fields.encoding) + ", length " +
                             std::to_string(fields.recordLength);

    const std::string seed2 = PackRandom(fields, s);
    RunContext v2;
    CollectingDebugSink sink;
    v2.debug = &sink;
    FileRecords(seed2, fields.recordLength, v2);
    // A SEED 2 record time keeps its seconds in single precision.
    ExpectTheModel(v2, s, fields.startEpoch, 5e-6, what + ", SEED 2");

    fields.bigEndian = true;  // miniSEED 3 keeps Steim frames big-endian
    const std::string mseed3 = Mseed3FromSeed2(PackRandom(fields, s), fields.recordLength);
    RunContext v3;
    v3.debug = &sink;
    FileMseed3Records(mseed3, v3);
    ExpectTheModel(v3, s, fields.startEpoch, 1e-6, what + ", miniSEED 3");
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  RecordProperty("seconds", std::to_string(seconds));
  std::printf("[ RANDOM   ] %d files of each version, %lld samples, in %.2f s\n", kRounds,
              static_cast<long long>(samples), seconds);
}

TEST(SampleFiles, ListingSpansEachChannelOverItsSampleCount) {
  const std::string bytes = ReadFile(TestData("2005-07-23-1452-04S.CER___030.mseed"));
  const auto reference = DecodeChannels(bytes, 4096);
  RunContext context;
  for (std::size_t at = 0; at + 4096 <= bytes.size(); at += 4096) {
    RegisterRecordSpan({reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, 4096}, 4096,
                       context);
  }
  ASSERT_EQ(context.segments.size(), reference.size());
  for (std::size_t i = 0; i < reference.size(); ++i) {
    const TraceSegment& entry = context.segments[i];
    EXPECT_EQ(entry.count, static_cast<std::int64_t>(reference[i].samples.size()));
    EXPECT_EQ(entry.rate, 150u);
    EXPECT_TRUE(entry.samples.empty());
    EXPECT_NEAR(entry.end - entry.start, static_cast<double>(entry.count) / 150.0, 1e-6);
  }
}

}  // namespace
}  // namespace tarnvel::testing

#endif
