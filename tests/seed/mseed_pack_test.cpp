// The test helper that writes records through an independent library must round-trip, or every
// comparison built on it would compare against the wrong thing.
#include "tests/support/mseed_pack.h"

#include <gtest/gtest.h>

#ifdef TARNVEL_HAVE_MSEED

namespace tarnvel::testing {
namespace {

TEST(MseedPack, RoundTripsEveryEncodingByteOrderAndLength) {
  const std::vector<std::int32_t> walk = RandomWalk(3000, 7, 5000, 1 << 20);
  for (int encoding : {kEncodingInt32, kEncodingSteim1, kEncodingSteim2}) {
    for (bool bigEndian : {true, false}) {
      for (int length : {256, 512, 4096}) {
        PackFields fields;
        fields.encoding = encoding;
        fields.bigEndian = bigEndian;
        fields.recordLength = length;
        fields.sampleRate = 40.5;
        fields.startEpoch = 1377695697.1234;
        const std::string bytes = PackRecords(fields, walk);
        ASSERT_EQ(bytes.size() % static_cast<std::size_t>(length), 0u);
        const auto records = DecodeRecords(bytes, length);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.front().encoding, encoding);
        EXPECT_EQ(records.front().byteOrder, bigEndian ? 1 : 0);
        EXPECT_DOUBLE_EQ(records.front().nominalRate, 40.5);
        EXPECT_NEAR(records.front().start, 1377695697.1234, 1e-6);
        const auto channels = DecodeChannels(bytes, length);
        ASSERT_EQ(channels.size(), 1u);
        EXPECT_EQ(channels[0].samples, walk) << encoding << " " << bigEndian << " " << length;
        EXPECT_EQ(channels[0].location, "");
      }
    }
  }
}

TEST(MseedPack, ConcatenatedChannelsStaySeparate) {
  PackFields a;
  a.channel = "BHZ";
  a.sampleRate = 0.1;
  PackFields b = a;
  b.channel = "BHN";
  b.location = "00";
  const auto sa = Sine(700, 1e6, 50.0);
  const auto sb = RandomWalk(900, 3, 100);
  const std::string file = PackRecords(a, sa) + PackRecords(b, sb);
  const auto channels = DecodeChannels(file, 512);
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0].samples, sa);
  EXPECT_EQ(channels[1].samples, sb);
  EXPECT_EQ(channels[1].location, "00");
  EXPECT_DOUBLE_EQ(channels[0].nominalRate, 0.1);
}

}  // namespace
}  // namespace tarnvel::testing

#endif
