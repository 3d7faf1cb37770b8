// SEED input for end-to-end tests, built with the independent packer, and the bytes the store
// is expected to hold for it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/mseed_pack.h"

namespace tarnvel::testing {

// The records of one channel's samples from `start` on, in the packer's default encoding and
// byte order.
inline PackFields ChannelFields(const std::string& station, const std::string& channel,
                                const std::string& location, double start, double rate,
                                int recordLength = 512) {
  PackFields fields;
  fields.station = station;
  fields.channel = channel;
  fields.location = location;
  fields.startEpoch = start;
  fields.sampleRate = rate;
  fields.recordLength = recordLength;
  return fields;
}

inline std::string PackChannel(const std::string& station, const std::string& channel,
                               const std::string& location, double start, double rate,
                               const std::vector<std::int32_t>& samples, int recordLength = 512) {
  return PackRecords(ChannelFields(station, channel, location, start, rate, recordLength), samples);
}

// The records of several packed channels taken in turn, one from each, as a station's file
// holds its channels.
inline std::string InterleaveRecords(const std::vector<std::string>& channels, int recordLength) {
  const auto length = static_cast<std::size_t>(recordLength);
  std::string out;
  for (std::size_t at = 0;; at += length) {
    bool any = false;
    for (const std::string& channel : channels) {
      if (at >= channel.size()) continue;
      out += channel.substr(at, length);
      any = true;
    }
    if (!any) return out;
  }
}

// Samples as the little-endian floats of a waveform file.
inline std::string FloatBytes(const std::vector<std::int32_t>& samples) {
  std::string out(samples.size() * 4, '\0');
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto value = static_cast<float>(samples[i]);
    std::memcpy(out.data() + 4 * i, &value, 4);
  }
  return out;
}

// Samples of any encoding (as the independent decoder gives them) as the store's floats.
inline std::string FloatBytes(const std::vector<double>& samples) {
  std::string out(samples.size() * 4, '\0');
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto value = static_cast<float>(samples[i]);
    std::memcpy(out.data() + 4 * i, &value, 4);
  }
  return out;
}

// Every sample of one channel as the independent decoder places it: its value and its time
// (its record's start plus its place in the record over the nominal rate).
struct TimedSamples {
  std::vector<std::int32_t> values;
  std::vector<double> times;
};

inline TimedSamples ReferenceTimedSamples(const std::string& bytes, int recordLength,
                                          const std::string& channel) {
  TimedSamples out;
  for (const ReferenceRecord& record : DecodeRecords(bytes, recordLength)) {
    if (record.channel != channel) continue;
    for (std::size_t i = 0; i < record.samples.size(); ++i) {
      out.values.push_back(record.samples[i]);
      out.times.push_back(record.start + static_cast<double>(i) / record.nominalRate);
    }
  }
  return out;
}

// A stretch of stored samples: sample k lies at begin + k / rate.
struct TimedPiece {
  double begin = 0.0;
  double rate = 0.0;
  std::vector<float> samples;
};

// The pieces, in order, hold every reference sample once, each within `tolerance` seconds of
// its own time.
inline void ExpectEverySampleAtItsTime(const std::vector<TimedPiece>& pieces,
                                       const TimedSamples& reference, double tolerance) {
  std::size_t j = 0;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const TimedPiece& piece = pieces[p];
    for (std::size_t k = 0; k < piece.samples.size(); ++k, ++j) {
      ASSERT_LT(j, reference.values.size()) << "piece " << p << " holds samples past the end";
      const double time = piece.begin + static_cast<double>(k) / piece.rate;
      if (piece.samples[k] != static_cast<float>(reference.values[j]) ||
          std::fabs(time - reference.times[j]) > tolerance) {
        FAIL() << "piece " << p << " sample " << k << ": " << piece.samples[k] << " at "
               << std::to_string(time) << ", reference sample " << j << ": " << reference.values[j]
               << " at " << std::to_string(reference.times[j]);
      }
    }
  }
  EXPECT_EQ(j, reference.values.size());
}

// Counts the occurrences of `needle` in `text`.
inline std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace tarnvel::testing
