// Record acceptance, identity, byte order, rates, times, window, filter and decoding rules, of
// SEED data records and of miniSEED 3 records.
#include "seed/seed_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "tests/seed/record_builder.h"
#include "tests/support/mseed3_writer.h"
#include "tests/support/process.h"

namespace tarnvel::testing {
namespace {

// A Steim1 record whose frames hold `count` differences of +1 starting at X0 = 100.
std::vector<std::uint8_t> CountingRecord(RecordBuilder b, int differences) {
  auto r = b.Build();
  FrameWriter w{r, b.beginningOfData, b.blocketteType == 1000 ? b.wordOrder != 0 && b.big : b.big};
  w.X0(100);
  int k = 3, f = 0, left = differences;
  while (left > 0) {
    w.Bytes(f, k, left == differences ? 0 : 1, 1, 1, 1);
    left -= 4;
    if (++k == 16) {
      k = 1;
      ++f;
    }
  }
  return r;
}

TEST(SampleRate, FactorAndMultiplierRules) {
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(100, 1), 100.0);
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(-10, 1), 0.1);
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(1, -10), 0.1);
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(-10, -10), 0.01);
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(0, 5), 1.0);
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(5, 0), 1.0);
  EXPECT_DOUBLE_EQ(SampleRateFromFactors(81, -2), 40.5);
}

TEST(RecordTime, SecondsAreSinglePrecision) {
  RecordHeader h;
  h.year = 2013;
  h.dayOfYear = 240;
  h.hour = 13;
  h.minute = 14;
  h.second = 57;
  h.fractions = 1234;
  EXPECT_DOUBLE_EQ(BtimeToEpoch(h), 1377695697.1234016);  // 57.1234 as a float: 57.1234016
}

TEST(ChannelPattern, Rules) {
  EXPECT_TRUE(MatchChannelPattern("bhz", "BHZ", true));  // no wildcard: any case
  EXPECT_TRUE(MatchChannelPattern("BH*", "BHZ", true));
  EXPECT_FALSE(MatchChannelPattern("BH*", "BH", true));   // text must be longer
  EXPECT_FALSE(MatchChannelPattern("bh*", "BHZ", true));  // wildcards: exact case
  EXPECT_TRUE(MatchChannelPattern("*", "Z", true));
  EXPECT_FALSE(MatchChannelPattern("*", "", true));
  EXPECT_TRUE(MatchChannelPattern("B?Z", "BHZ", true));
  EXPECT_FALSE(MatchChannelPattern("B?Z", "BHZZ", true));
  EXPECT_FALSE(MatchChannelPattern("b?z", "BHZ", true));
  EXPECT_TRUE(MatchChannelPattern("??", "??", false));  // "?" as a plain character
  EXPECT_FALSE(MatchChannelPattern("??", "00", false));
  EXPECT_TRUE(MatchChannelPattern("?*", "10", true));
  EXPECT_FALSE(MatchChannelPattern("?0*", "10", true));
  EXPECT_TRUE(MatchChannelPattern("B?*xyz", "BHZ", true));  // whatever follows * is ignored
}

TEST(RecordHeaderRules, QualityNamesAndUnsafeCodes) {
  RecordBuilder b;
  RecordHeader h;
  for (char q : {'D', 'R', 'Q', 'M'}) {
    b.quality = q;
    EXPECT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kAccepted) << q;
  }
  for (char q : {'V', 'A', 'S', 'T', 'd', 'm', '\0', ' '}) {
    b.quality = q;
    EXPECT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kNotData) << q;
  }
  b.quality = 'D';
  b.station = "";
  EXPECT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kNoName);
  b.station = "A BC";  // a name ends at its first blank
  ASSERT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kAccepted);
  EXPECT_EQ(h.station, "A");
  EXPECT_EQ(h.location, "??");
  b.location = "0 ";
  ReadRecordHeader(b.Build(), 512, h);
  EXPECT_EQ(h.location, "0");
  for (const char* bad : {"..", ".", "A/B", "A\\B", "A\x01", "A\x7f", "\xc3\xa9"}) {
    RecordBuilder u;
    u.station = bad;
    EXPECT_EQ(ReadRecordHeader(u.Build(), 512, h), HeaderResult::kUnsafeName) << bad;
    u.station = "OK";
    u.location = bad;
    EXPECT_EQ(ReadRecordHeader(u.Build(), 512, h), HeaderResult::kUnsafeName) << bad;
  }
  RecordBuilder quoted;
  quoted.station = "O'K";
  EXPECT_EQ(ReadRecordHeader(quoted.Build(), 512, h), HeaderResult::kAccepted);
  EXPECT_EQ(ReadRecordHeader(b.Build(), 40, h), HeaderResult::kTooShort);
}

TEST(RecordHeaderRules, UnsafeNamesAreCountedAndNotFiled) {
  RecordBuilder b;
  b.count = 4;
  b.encoding = 10;
  b.channel = "..";
  RunContext context;
  EXPECT_FALSE(ProcessDataRecord(CountingRecord(b, 4), 512, context));
  RegisterRecordSpan(CountingRecord(b, 4), 512, context);
  EXPECT_EQ(context.unsafeNameRecords, 2u);
  EXPECT_TRUE(context.segments.empty());
}

TEST(RecordHeaderRules, LogRecordsOfTextAreNotSamples) {
  // A log channel: encoding 0 and no sample rate, its data area holding characters.
  RecordBuilder b;
  b.channel = "LOG";
  b.encoding = 0;
  b.factor = 0;
  b.multiplier = 0;
  b.count = 24;
  auto r = b.Build();
  const std::string text = "Clock locked to GPS.\r\n";
  std::copy(text.begin(), text.end(), r.begin() + 64);
  RecordHeader h;
  EXPECT_EQ(ReadRecordHeader(r, 512, h), HeaderResult::kText);
  RunContext context;
  EXPECT_FALSE(ProcessDataRecord(r, 512, context));
  RegisterRecordSpan(r, 512, context);
  EXPECT_TRUE(context.segments.empty());
  EXPECT_EQ(context.unsafeNameRecords, 0u);
  // Either half alone keeps it a waveform record.
  b.factor = 1;
  EXPECT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kAccepted);
  b.factor = 0;
  b.encoding = 11;
  EXPECT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kAccepted);
}

TEST(ByteOrder, HeaderFieldsFollowTheWordOrderByte) {
  for (bool big : {true, false}) {
    RecordBuilder b;
    b.big = big;
    b.count = 300;
    b.factor = -10;
    b.multiplier = 1;
    b.fractions = 4321;
    RecordHeader h;
    ASSERT_EQ(ReadRecordHeader(b.Build(), 512, h), HeaderResult::kAccepted);
    EXPECT_EQ(h.bigEndian, big);
    EXPECT_EQ(h.sampleCount, 300);
    EXPECT_EQ(h.rateFactor, -10);
    EXPECT_EQ(h.year, 2013);
    EXPECT_EQ(h.dayOfYear, 240);
    EXPECT_EQ(h.fractions, 4321);
    EXPECT_EQ(h.beginningOfData, 64);
    EXPECT_EQ(h.encoding, Encoding::kSteim2);
    EXPECT_EQ(h.declaredLength, 512);
  }
}

TEST(Blockette1001, AloneMeansSteim1BigEndian) {
  RecordBuilder b;
  b.blocketteType = 1001;
  b.count = 8;
  auto r = CountingRecord(b, 8);
  r[52] = 77;  // timing quality, not an encoding
  r[53] = 0;   // microseconds, not a word order
  RecordHeader h;
  ASSERT_EQ(ReadRecordHeader(r, 512, h), HeaderResult::kAccepted);
  EXPECT_TRUE(h.bigEndian);
  EXPECT_EQ(h.encoding, Encoding::kSteim1);
  RunContext context;
  ASSERT_TRUE(ProcessDataRecord(r, 512, context));
  EXPECT_EQ(context.segments[0].samples.ToVector(),
            (std::vector<float>{100, 101, 102, 103, 104, 105, 106, 107}));
}

TEST(Blockette1001, FollowedByABlockette1000TakesItsEncodingAndOrder) {
  for (bool big : {true, false}) {
    RecordBuilder b;
    b.big = big;
    b.blocketteType = 1001;
    b.count = 3;
    auto r = b.Build();
    Put16(r, 50, 56, big);  // next blockette at 56: a 1000 declaring INT32
    Put16(r, 56, 1000, big);
    r[60] = 3;
    r[61] = big ? 1 : 0;
    r[62] = 9;
    for (std::size_t i = 0; i < 3; ++i) {
      Put32(r, 64 + 4 * i, static_cast<std::uint32_t>(-70000 + static_cast<int>(i)), big);
    }
    RecordHeader h;
    ASSERT_EQ(ReadRecordHeader(r, 512, h), HeaderResult::kAccepted);
    EXPECT_EQ(h.encoding, Encoding::kInt32);
    EXPECT_EQ(h.bigEndian, big);
    EXPECT_EQ(h.sampleCount, 3);
    RunContext context;
    ASSERT_TRUE(ProcessDataRecord(r, 512, context));
    EXPECT_EQ(context.segments[0].samples.ToVector(), (std::vector<float>{-70000, -69999, -69998}));
    // A link pointing outside the record is not followed.
    Put16(r, 50, 510, big);
    ReadRecordHeader(r, 512, h);
    EXPECT_EQ(h.encoding, Encoding::kSteim1);
  }
}

TEST(Decoding, EncodingsTheDecodersDoNotKnowAreCountedNeverDecoded) {
  // Text's code with a sample rate (no log record), a retired 24-bit code, Steim3 and opaque
  // data: once decoded as Steim2 or Steim1, which made noise of them.
  RunContext context;
  CollectingDebugSink sink;
  context.debug = &sink;
  for (const int code : {0, 2, 19, 100, 19}) {
    RecordBuilder b;
    b.encoding = static_cast<std::uint8_t>(code);
    b.count = 8;
    auto r = b.Build();
    FrameWriter w{r, 64, true};
    w.X0(5);
    w.Bytes(0, 3, 0, 1, 1, 1);
    w.Bytes(0, 4, 1, 1, 1, 1);
    RecordHeader h;
    ASSERT_EQ(ReadRecordHeader(r, 512, h), HeaderResult::kAccepted);
    EXPECT_FALSE(IsDecodable(h.encoding));
    EXPECT_EQ(h.samplesHeld, 0u);
    std::vector<float> out(8, 7.0f);
    const DecodeStatus status = DecodeRecord(h, out);
    EXPECT_TRUE(status.notDecoded);
    EXPECT_EQ(out, std::vector<float>(8, 0.0f));
    EXPECT_FALSE(ProcessDataRecord(r, 512, context));
    RegisterRecordSpan(r, 512, context);  // not listed either
  }
  EXPECT_TRUE(context.segments.empty());
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_TRUE(context.decodeOk);
  EXPECT_EQ(context.undecodedRecords[0], 1u);
  EXPECT_EQ(context.undecodedRecords[2], 1u);
  EXPECT_EQ(context.undecodedRecords[19], 2u);
  EXPECT_EQ(context.undecodedRecords[100], 1u);
  // Only records the run would have stored count: not one outside the window or the filter.
  RecordBuilder b;
  b.encoding = 19;
  b.count = 8;
  RunContext filtered;
  filtered.filter = {{"XYZ", "*", "*"}};
  EXPECT_FALSE(ProcessDataRecord(b.Build(), 512, filtered));
  RunContext late;
  late.window.begin = 2.0e9;
  EXPECT_FALSE(ProcessDataRecord(b.Build(), 512, late));
  EXPECT_EQ(filtered.undecodedRecords[19] + late.undecodedRecords[19], 0u);
  EXPECT_STREQ(EncodingName(19), "Steim3");
  EXPECT_STREQ(EncodingName(0), "text");
  EXPECT_STREQ(EncodingName(77), "unknown");
}

TEST(Decoding, KnownEncodingMismatchClearsDecodeOk) {
  RecordBuilder b;
  b.encoding = 10;
  b.count = 10;
  RunContext context;
  ProcessDataRecord(CountingRecord(b, 8), 512, context);
  EXPECT_FALSE(context.decodeOk);
  EXPECT_EQ(context.segments[0].samples.ToVector(),
            (std::vector<float>{100, 101, 102, 103, 104, 105, 106, 107, 0, 0}));
}

TEST(Decoding, NothingIsReadOutsideTheRecord) {
  RunContext context;
  // Beginning of data past the record: the record holds no samples at all and is not filed,
  // for every encoding.
  for (int encoding : {3, 10, 11, 0}) {
    RecordBuilder b;
    b.encoding = static_cast<std::uint8_t>(encoding);
    b.count = 5;
    b.beginningOfData = 60000;
    b.station = "E" + std::to_string(encoding);
    auto r = b.Build();
    EXPECT_FALSE(ProcessDataRecord(r, 512, context));
    EXPECT_TRUE(context.segments.empty());
  }
  // INT32 announcing more than the record can hold: only the values that are there, so a few
  // bytes cannot claim thousands of samples.
  RecordBuilder b;
  b.encoding = 3;
  b.count = 200;
  b.length = 256;
  b.station = "INT";
  auto r = b.Build();
  for (std::size_t i = 0; i < 48; ++i)
    Put32(r, 64 + 4 * i, static_cast<std::uint32_t>(i + 1), true);
  // The record sits at the start of a bigger buffer: nothing after its 256 bytes is read.
  std::vector<std::uint8_t> buffer(r);
  buffer.resize(512, 0xEE);
  context.decodeOk = true;
  EXPECT_TRUE(ProcessDataRecord(buffer, 256, context));
  const auto got = context.segments[context.segments.size() - 1].samples.ToVector();
  ASSERT_EQ(got.size(), 48u);
  EXPECT_EQ(got[0], 1.0f);
  EXPECT_EQ(got[47], 48.0f);
  EXPECT_FALSE(context.decodeOk);
  EXPECT_EQ(context.segments[context.segments.size() - 1].count, 48);
  // Steim1 with data beginning at 128: (L - 64) / 64 frames would run past the end.
  RecordBuilder s;
  s.encoding = 10;
  s.beginningOfData = 128;
  s.count = 4;
  s.length = 256;
  s.station = "LATE";
  auto late = s.Build();
  FrameWriter lw{late, 128, true};
  lw.X0(9);
  lw.Bytes(0, 3, 0, 1, 1, 1);
  EXPECT_TRUE(ProcessDataRecord(late, 256, context));
  EXPECT_EQ(context.segments[context.segments.size() - 1].samples.ToVector(),
            (std::vector<float>{9, 10, 11, 12}));
  // A buffer shorter than the length the caller claims: only the buffer is read.
  std::vector<std::uint8_t> shortBuffer(late.begin(), late.begin() + 200);
  shortBuffer[8] = 'S';
  EXPECT_TRUE(ProcessDataRecord(shortBuffer, 4096, context));
}

TEST(Decoding, DeclaredShorterRecordIsNotDecodedIntoItsNeighbour) {
  // Records of 256 bytes read with a length of 512: the second half is the next record, whose
  // frames must not continue the first record's samples.
  RecordBuilder b;
  b.length = 256;
  b.encoding = 10;
  b.count = 6;
  auto first = CountingRecord(b, 4);  // 4 of 6 announced
  auto next = CountingRecord(b, 8);
  first.insert(first.end(), next.begin(), next.end());
  RunContext context;
  EXPECT_TRUE(ProcessDataRecord(first, 512, context));
  EXPECT_EQ(context.segments[0].samples.ToVector(), (std::vector<float>{100, 101, 102, 103, 0, 0}));
}

TEST(Decoding, RecordsWithoutSamplesAreNotFiled) {
  RecordBuilder b;
  b.count = 0;
  b.encoding = 10;
  RunContext context;
  EXPECT_FALSE(ProcessDataRecord(b.Build(), 512, context));
  EXPECT_TRUE(context.segments.empty());
  // So a record starting at the same time still opens its channel with samples.
  b.count = 4;
  EXPECT_TRUE(ProcessDataRecord(CountingRecord(b, 4), 512, context));
  EXPECT_EQ(context.segments[0].count, 4);
}

TEST(Window, BeginAndEndRules) {
  // 1 s at 100 sps from 2020-01-01 00:00:00.
  const RecordBuilder b{
      .year = 2020, .day = 1, .hour = 0, .minute = 0, .second = 0, .count = 100, .encoding = 10};
  const auto r = CountingRecord(b, 100);
  const double t = 1577836800.0;
  const auto kept = [&](std::optional<double> begin, std::optional<double> end) {
    RunContext context;
    context.window = {begin, end};
    return ProcessDataRecord(r, 512, context);
  };
  const std::nullopt_t unset = std::nullopt;
  EXPECT_TRUE(kept(unset, unset));
  EXPECT_FALSE(kept(unset, t));  // starting exactly at the end: dropped
  EXPECT_TRUE(kept(unset, t + 0.5));
  EXPECT_FALSE(kept(t + 1.0, unset));  // ending exactly at the begin: dropped
  EXPECT_TRUE(kept(t + 0.5, unset));
  EXPECT_TRUE(kept(t - 10, t + 0.1));
  EXPECT_FALSE(kept(t + 2, t + 3));
  // Zero and negative bounds are times like any other: 1970-01-01 and before.
  EXPECT_FALSE(kept(0.0, t - 100));
  EXPECT_FALSE(kept(-1.0, 0.0));
  EXPECT_TRUE(kept(-1.0, unset));
}

TEST(Window, RecordsBeforeNineteenSeventy) {
  // 1 s at 100 sps from 1964-03-27 (day 87) 03:36:11.
  const RecordBuilder b{
      .year = 1964, .day = 87, .hour = 3, .minute = 36, .second = 11, .count = 100, .encoding = 10};
  const auto r = CountingRecord(b, 100);
  const double t = -181945429.0;  // 1964-03-27 03:36:11 UTC
  RecordHeader h;
  ASSERT_EQ(ReadRecordHeader(r, 512, h), HeaderResult::kAccepted);
  EXPECT_DOUBLE_EQ(BtimeToEpoch(h), t);
  const auto kept = [&](std::optional<double> begin, std::optional<double> end) {
    RunContext context;
    context.window = {begin, end};
    return ProcessDataRecord(r, 512, context);
  };
  EXPECT_TRUE(kept(t - 0.5, t + 0.5));
  EXPECT_FALSE(kept(t + 1.0, std::nullopt));
  EXPECT_FALSE(kept(std::nullopt, t));
  EXPECT_FALSE(kept(t - 86400.0, t - 3600.0));
}

TEST(Filter, EntriesAndBlankLocations) {
  RecordBuilder b;
  b.encoding = 10;
  b.count = 4;
  const auto blank = CountingRecord(b, 4);
  b.location = "10";
  b.hour = 15;
  const auto ten = CountingRecord(b, 4);
  const auto filed = [&](const ChannelFilter& filter) {
    RunContext context;
    context.filter = filter;
    std::string which;
    if (ProcessDataRecord(blank, 512, context)) which += "blank ";
    if (ProcessDataRecord(ten, 512, context)) which += "ten";
    return which;
  };
  EXPECT_EQ(filed({}), "blank ten");
  EXPECT_EQ(filed({{"ABC", "BHZ", "??"}}), "blank ");
  EXPECT_EQ(filed({{"abc", "bhz", "*"}}), "blank ten");
  EXPECT_EQ(filed({{"A?C", "BH*", "1?"}}), "");  // "?" is literal in locations
  EXPECT_EQ(filed({{"XYZ", "*", "*"}, {"*", "B?Z", "10"}}), "ten");
}

}  // namespace
}  // namespace tarnvel::testing

namespace tarnvel {
namespace {

TEST(Decoding, AnnouncedCountBeyondWhatTheDataAreaCanHoldIsCapped) {
  // 7 Steim2 frames hold at most 7 x 15 x 7 differences; 65535 announced samples would be
  // mostly zero padding. The 448 bytes from byte 64 on hold 224 16-bit values, 112 of 32 bits
  // and 56 of 64.
  const std::pair<int, std::int64_t> cases[] = {{11, 7 * 15 * 7}, {10, 7 * 15 * 4}, {1, 224},
                                                {3, 112},         {4, 112},         {5, 56}};
  for (const auto& [encoding, held] : cases) {
    testing::RecordBuilder b;
    b.encoding = static_cast<std::uint8_t>(encoding);
    b.count = 65535;
    RunContext context;
    CollectingDebugSink sink;
    context.debug = &sink;
    EXPECT_TRUE(ProcessDataRecord(b.Build(), 512, context)) << encoding;
    ASSERT_EQ(context.segments.size(), 1u);
    EXPECT_EQ(context.segments[0].count, held) << encoding;
    EXPECT_EQ(context.segments[0].samples.size(),
              static_cast<std::size_t>(context.segments[0].count));
    EXPECT_FALSE(context.decodeOk);
  }
}

}  // namespace
}  // namespace tarnvel

namespace tarnvel::testing {
namespace {

// One Steim2 frame, big-endian as miniSEED 3 keeps Steim frames: X0 = 100, then +1 each.
std::vector<std::uint8_t> CountingFrames(int differences) {
  std::vector<std::uint8_t> payload(64 * static_cast<std::size_t>((differences + 59) / 60 + 1), 0);
  FrameWriter w{payload, 0, true};
  w.X0(100);
  int k = 3, f = 0;
  for (int left = differences; left > 0; left -= 4) {
    w.Bytes(f, k, left == differences ? 0 : 1, 1, 1, 1);
    if (++k == 16) {
      k = 1;
      ++f;
    }
  }
  w.Xn(100 + differences - 1);
  return payload;
}

Mseed3Fields CountingFields(std::uint32_t count) {
  Mseed3Fields fields;
  fields.identifier = "FDSN:XX_ABC_00_B_H_Z";
  fields.nanosecond = 123456789;
  fields.sampleCount = count;
  return fields;
}

TEST(Mseed3Records, CodesTimeRateAndSamplesOfAnAcceptedRecord) {
  Mseed3Fields fields = CountingFields(8);
  fields.extraHeaders = R"({"FDSN":{"Time":{"Quality":100}}})";
  const auto record = Mseed3Record(fields, CountingFrames(8));
  // The record at the start of a longer buffer: what follows is not its own.
  std::vector<std::uint8_t> buffer = record;
  buffer.resize(record.size() + 300, 0xEE);
  RecordHeader h;
  ASSERT_EQ(ReadRecordHeader(buffer, 4096, h), HeaderResult::kAccepted);
  EXPECT_EQ(h.version, 3);
  EXPECT_EQ(h.station, "ABC");
  EXPECT_EQ(h.channel, "BHZ");
  EXPECT_EQ(h.location, "00");
  EXPECT_EQ(h.bytes.size(), record.size());
  EXPECT_EQ(h.data.size(), 128u);
  EXPECT_EQ(h.encoding, Encoding::kSteim2);
  EXPECT_TRUE(h.bigEndian);
  EXPECT_EQ(h.sampleCount, 8u);
  EXPECT_DOUBLE_EQ(h.rate, 100.0);
  // 2013-08-28 (day 240) 13:14:57.123456789: the nanoseconds as far as a double holds them.
  EXPECT_NEAR(h.start, 1377695697.123456789, 3e-7);
  RunContext context;
  ASSERT_TRUE(ProcessDataRecord(buffer, 4096, context));
  EXPECT_EQ(context.segments[0].samples.ToVector(),
            (std::vector<float>{100, 101, 102, 103, 104, 105, 106, 107}));
  EXPECT_EQ(context.segments[0].location, "00");
  EXPECT_TRUE(context.decodeOk);
  // A blank location is held as "??", as in SEED 2; a record cut short is no record.
  fields.identifier = "FDSN:XX_ABC__B_H_Z";
  ASSERT_EQ(ReadRecordHeader(Mseed3Record(fields, CountingFrames(8)), 4096, h),
            HeaderResult::kAccepted);
  EXPECT_EQ(h.location, "??");
  EXPECT_EQ(ReadRecordHeader(record, static_cast<int>(record.size()) - 1, h),
            HeaderResult::kTooShort);
  EXPECT_EQ(ReadRecordHeader(std::span(record).first(39), 4096, h), HeaderResult::kTooShort);
}

TEST(Mseed3Records, IdentifiersTheStoreCannotKeepAreCountedWithUnsafeCodes) {
  RunContext context;
  const char* refused[] = {
      "FDSN:XX_TOOLONG__B_H_Z",  // station of 7
      "FDSN:XX_ABC_LOC_B_H_Z",   // location of 3
      "FDSN:XX_ABC__B_HH_Z",     // channel of 4
      "FDSN:XX__00_B_H_Z",       // no station
      "FDSN:XX_ABC_00___",       // no channel
      "FDSN:XX_A/C__B_H_Z",     "FDSN:XX_..__B_H_Z",  "FDSN:XX_AB C__B_H_Z",
      "FDSN:XX_ABC__B_H",     // five codes
      "FDSN:XX_ABC__B_H_Z_",  // seven
      "XFDSN:XX_ABC__B_H_Z",    "fdsn:XX_ABC__B_H_Z", "XX.ABC..BHZ",         "",
  };
  for (const char* identifier : refused) {
    Mseed3Fields fields = CountingFields(8);
    fields.identifier = identifier;
    const auto record = Mseed3Record(fields, CountingFrames(8));
    RecordHeader h;
    EXPECT_EQ(ReadRecordHeader(record, 4096, h), HeaderResult::kUnsafeName) << identifier;
    EXPECT_FALSE(ProcessDataRecord(record, 4096, context));
  }
  EXPECT_EQ(context.unsafeNameRecords, std::size(refused));
  EXPECT_TRUE(context.segments.empty());
  // The network is not part of the channel's identity in the store: any length is fine, and
  // band, source and subsource may be of any length that joins into three characters.
  const std::pair<const char*, const char*> accepted[] = {{"FDSN:NETWORK1_ABC__B_H_Z", "BHZ"},
                                                          {"FDSN:XX_ABCDE_00_L_H_1", "LH1"},
                                                          {"FDSN:XX_ABC_00__LOG_", "LOG"},
                                                          {"FDSN:XX_ABC_00_V_M_", "VM"}};
  for (const auto& [identifier, channel] : accepted) {
    Mseed3Fields fields = CountingFields(8);
    fields.identifier = identifier;
    RecordHeader h;
    ASSERT_EQ(ReadRecordHeader(Mseed3Record(fields, CountingFrames(8)), 4096, h),
              HeaderResult::kAccepted)
        << identifier;
    EXPECT_EQ(h.channel, channel);
  }
}

TEST(Mseed3Records, CodesRememberedFromTheRecordBeforeAreThoseOfTheIdentifierItself) {
  // Identifiers that repeat, change by a byte, grow, shrink, are refused and come back, read
  // through the codes the run remembers: each maps as it does on its own.
  const char* sequence[] = {
      "",  // nothing remembered yet is no empty identifier
      "FDSN:XX_ABC_00_B_H_Z",
      "FDSN:XX_ABC_00_B_H_Z",
      "FDSN:XX_ABC_00_B_H_N",
      "FDSN:XX_ABC_00_B_H_NN",
      "FDSN:XX_ABC_00_B_H_N",
      "FDSN:XX_ABC__B_H_N",
      "FDSN:XX_A/C__B_H_N",
      "FDSN:XX_A/C__B_H_N",
      "FDSN:XX_ABC__B_H_N",
      "FDSN:YY_ABC__B_H_N",  // another network: the same codes
      "FDSN:XX_ABC__B_H",
      "",
      "FDSN:XX_ABCD_01_L_H_Z",
  };
  RunContext context;
  std::uint64_t refused = 0;
  for (const char* identifier : sequence) {
    Mseed3Fields fields = CountingFields(8);
    fields.identifier = identifier;
    const auto record = Mseed3Record(fields, CountingFrames(8));
    RecordHeader alone;
    RecordHeader remembered;
    const HeaderResult result = ReadRecordHeader(record, 4096, alone);
    ASSERT_EQ(
        ReadRecordHeader(record, 4096, remembered, CrcCheck::kWhileDecoding, &context.sourceCodes),
        result)
        << identifier;
    if (result == HeaderResult::kAccepted) {
      EXPECT_EQ(remembered.station, alone.station) << identifier;
      EXPECT_EQ(remembered.channel, alone.channel) << identifier;
      EXPECT_EQ(remembered.location, alone.location) << identifier;
    } else {
      EXPECT_EQ(result, HeaderResult::kUnsafeName) << identifier;
      ++refused;
    }
    // The conversion reads through the same memory.
    ProcessDataRecord(record, 4096, context);
  }
  EXPECT_EQ(refused, 6u);
  EXPECT_EQ(context.unsafeNameRecords, refused);
  std::vector<std::string> channels;
  for (const TraceSegment& entry : context.segments) {
    channels.push_back(entry.station + "." + entry.channel + "." + entry.location);
  }
  // One entry per accepted record (all start at the same time), under its own codes.
  EXPECT_EQ(channels,
            (std::vector<std::string>{"ABC.BHZ.00", "ABC.BHZ.00", "ABC.BHN.00", "ABC.BHN.00",
                                      "ABC.BHN.??", "ABC.BHN.??", "ABC.BHN.??", "ABCD.LHZ.01"}));
}

TEST(Mseed3Records, DamagedRecordsAreCountedAndNothingOfThemIsTaken) {
  const auto good = Mseed3Record(CountingFields(8), CountingFrames(8));
  RunContext context;
  // A bit flipped in the payload, the identifier, the start time, the CRC itself.
  for (const std::size_t at :
       {good.size() - 70, std::size_t{45}, std::size_t{13}, std::size_t{29}}) {
    auto damaged = good;
    damaged[at] ^= 0x10;
    RecordHeader h;
    EXPECT_EQ(ReadRecordHeader(damaged, 4096, h), HeaderResult::kDamaged) << at;
    EXPECT_FALSE(ProcessDataRecord(damaged, 4096, context));
    RegisterRecordSpan(damaged, 4096, context);
  }
  EXPECT_EQ(context.damagedRecords, 8u);
  EXPECT_TRUE(context.segments.empty());
  EXPECT_TRUE(ProcessDataRecord(good, 4096, context));

  // The conversion checks Steim records while decoding them: a damaged one that would continue
  // the channel in place leaves it as it was, as do damaged ones it drops before decoding
  // (outside the window) and one whose identifier is broken too; each is counted as damaged.
  Mseed3Fields next = CountingFields(8);
  next.nanosecond += 80000000;  // 0.08 s later: right behind the first
  auto continuation = Mseed3Record(next, CountingFrames(8));
  continuation[continuation.size() - 70] ^= 0x10;
  EXPECT_FALSE(ProcessDataRecord(continuation, 4096, context));
  const std::vector<float> first = {100, 101, 102, 103, 104, 105, 106, 107};
  EXPECT_EQ(context.segments[0].samples.ToVector(), first);
  EXPECT_EQ(context.segments[0].count, 8);
  context.window.begin = 2.0e9;
  EXPECT_FALSE(ProcessDataRecord(continuation, 4096, context));
  context.window.begin.reset();
  auto broken = continuation;
  broken[48] = '/';  // station "/BC"
  EXPECT_FALSE(ProcessDataRecord(broken, 4096, context));
  EXPECT_EQ(context.damagedRecords, 11u);
  EXPECT_EQ(context.unsafeNameRecords, 0u);
  EXPECT_TRUE(context.decodeOk);
  continuation[continuation.size() - 70] ^= 0x10;
  EXPECT_TRUE(ProcessDataRecord(continuation, 4096, context));
  EXPECT_EQ(context.segments.size(), 1u);
  EXPECT_EQ(context.segments[0].count, 16);
}

TEST(Mseed3Records, RateOrPeriodAndRecordsWhoseRateSetsNoTime) {
  Mseed3Fields fields = CountingFields(8);
  fields.rate = -10.0;  // one sample every 10 s
  RecordHeader h;
  ASSERT_EQ(ReadRecordHeader(Mseed3Record(fields, CountingFrames(8)), 4096, h),
            HeaderResult::kAccepted);
  EXPECT_DOUBLE_EQ(h.rate, 0.1);
  RunContext context;
  ASSERT_TRUE(ProcessDataRecord(Mseed3Record(fields, CountingFrames(8)), 4096, context));
  EXPECT_NEAR(context.segments[0].end - context.segments[0].start, 80.0, 1e-6);

  for (const double rate :
       {0.0, std::nan(""), 1e12, -1e-12, 1e-12, -0.0, std::numeric_limits<double>::infinity()}) {
    fields.rate = rate;
    const auto record = Mseed3Record(fields, CountingFrames(8));
    EXPECT_EQ(ReadRecordHeader(record, 4096, h), HeaderResult::kNoRate) << rate;
    EXPECT_FALSE(ProcessDataRecord(record, 4096, context));
  }
  EXPECT_EQ(context.noRateRecords, 7u);
  // A record of text without a rate is a log record; one without samples holds nothing.
  fields.rate = 0.0;
  fields.encoding = 0;
  EXPECT_EQ(ReadRecordHeader(Mseed3Record(fields, {}), 4096, h), HeaderResult::kText);
  fields.encoding = 11;
  fields.sampleCount = 0;
  EXPECT_FALSE(ProcessDataRecord(Mseed3Record(fields, {}), 4096, context));
  EXPECT_EQ(context.noRateRecords, 7u);
  EXPECT_EQ(context.segments.size(), 1u);
}

TEST(Mseed3Records, EachEncodingInTheByteOrderOfTheFormat) {
  // Plain numbers little-endian whatever the platform; Steim frames big-endian (above).
  const std::vector<std::uint8_t> int16 = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80};
  const std::vector<std::uint8_t> int32 = {0x01, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF};
  const std::vector<std::uint8_t> float32 = {0x00, 0x00, 0xC0, 0x3F};        // 1.5
  const std::vector<std::uint8_t> float64 = {0, 0, 0, 0, 0, 0, 0xF8, 0xBF};  // -1.5
  struct Case {
    int encoding;
    std::vector<std::uint8_t> payload;
    std::vector<float> samples;
  };
  const Case cases[] = {{1, int16, {1, -1, -32768}},
                        {3, int32, {1, -2}},
                        {4, float32, {1.5f}},
                        {5, float64, {-1.5f}}};
  for (const Case& c : cases) {
    Mseed3Fields fields = CountingFields(static_cast<std::uint32_t>(c.samples.size()));
    fields.encoding = static_cast<std::uint8_t>(c.encoding);
    RunContext context;
    ASSERT_TRUE(ProcessDataRecord(Mseed3Record(fields, c.payload), 4096, context)) << c.encoding;
    EXPECT_EQ(context.segments[0].samples.ToVector(), c.samples) << c.encoding;
    EXPECT_TRUE(context.decodeOk);
  }
}

TEST(Mseed3Records, WindowAndFilterAsForSeed2) {
  const auto record = Mseed3Record(CountingFields(8), CountingFrames(8));  // 0.08 s from t
  const double t = 1377695697.123456789;
  const auto filed = [&](std::optional<double> begin, std::optional<double> end,
                         const ChannelFilter& filter) {
    RunContext context;
    context.window = {begin, end};
    context.filter = filter;
    return ProcessDataRecord(record, 4096, context);
  };
  EXPECT_TRUE(filed(std::nullopt, t + 0.001, {}));
  EXPECT_FALSE(filed(std::nullopt, t - 0.001, {}));
  EXPECT_FALSE(filed(t + 0.081, std::nullopt, {}));
  EXPECT_TRUE(filed(std::nullopt, std::nullopt, {{"ABC", "B?Z", "00"}}));
  EXPECT_FALSE(filed(std::nullopt, std::nullopt, {{"ABC", "BHN", "*"}}));
}

}  // namespace
}  // namespace tarnvel::testing
