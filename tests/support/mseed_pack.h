// Writing and reading SEED data records with an independent library (libmseed 2.x), so that
// tests can build input files and compare our decoding with a second opinion.
// Available when TARNVEL_HAVE_MSEED is defined (tests/CMakeLists.txt sets it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnvel::testing {

// Encoding codes of blockette 1000.
inline constexpr int kEncodingInt16 = 1;
inline constexpr int kEncodingInt32 = 3;
inline constexpr int kEncodingFloat32 = 4;
inline constexpr int kEncodingFloat64 = 5;
inline constexpr int kEncodingSteim1 = 10;
inline constexpr int kEncodingSteim2 = 11;

struct PackFields {
  std::string network = "XX";
  std::string station = "STA";
  std::string location;  // empty: blank location
  std::string channel = "BHZ";
  double startEpoch = 0.0;  // epoch seconds of the first sample (steps of 0.0001 s keep it exact)
  double sampleRate = 100.0;
  int encoding = kEncodingSteim2;
  bool bigEndian = true;
  int recordLength = 512;  // 256, 512, 4096, ... (a power of two)
  char quality = 'D';
};

// Packs `samples` into as many records as they need; returns the records' bytes back to back.
// Several results can be concatenated into one multi-channel file. Throws std::runtime_error
// when the library refuses (e.g. Steim2 differences beyond 30 bits).
std::string PackRecords(const PackFields& fields, std::span<const std::int32_t> samples);
// The same for float samples: fields.encoding kEncodingFloat32 (each value rounded to a float
// first) or kEncodingFloat64.
std::string PackFloatRecords(const PackFields& fields, std::span<const double> samples);

// One record as the library decodes it.
struct ReferenceRecord {
  std::string network;
  std::string station;
  std::string location;  // as stored, blanks removed ("" for a blank location)
  std::string channel;
  char quality = 0;
  double start = 0.0;        // epoch seconds, without the header's time correction
  int microseconds = 0;      // of a blockette 1001, which `start` leaves out
  double nominalRate = 0.0;  // from the rate factor and multiplier
  std::int64_t sampleCount = 0;
  int encoding = -1;
  int byteOrder = -1;                 // 1 big-endian, 0 little-endian
  std::vector<std::int32_t> samples;  // integer encodings
  std::vector<double> values;         // every encoding's samples as doubles
  std::uint16_t dataOffset = 0;       // the header's beginning of data
};

// Decodes every record of `bytes` (records of `recordLength` back to back). Throws
// std::runtime_error when a record does not parse.
std::vector<ReferenceRecord> DecodeRecords(const std::string& bytes, int recordLength);

// The records of `bytes` (records of `recordLength` back to back, as the library reads them)
// as miniSEED 3 records of the same data: the source identifier made of their codes, the start
// time to the microsecond the library gives, the nominal rate, and the payload in the byte
// order miniSEED 3 prescribes (Steim frames copied from big-endian records; other encodings
// written little-endian from the decoded values). Throws for little-endian Steim records.
std::string Mseed3FromSeed2(const std::string& bytes, int recordLength);

// One channel as the library sees it: its records' samples joined in file order.
struct ReferenceChannel {
  std::string station;
  std::string location;
  std::string channel;
  double start = 0.0;  // start of its first record
  double nominalRate = 0.0;
  std::vector<std::int32_t> samples;
  std::vector<double> values;  // the samples as doubles, of every encoding
  std::vector<double> recordStarts;
  std::vector<std::int64_t> recordCounts;  // samples of each record, in file order
  std::vector<int> recordMicroseconds;     // of each record's blockette 1001 (0 for none)
};

// Groups DecodeRecords by station, location and channel, in order of first appearance.
std::vector<ReferenceChannel> DecodeChannels(const std::string& bytes, int recordLength);

// Signals for tests: a random walk with steps in [-maxStep, maxStep] starting at `first`, and a
// sine of `amplitude` with `period` samples around `offset`. Both deterministic for a seed.
std::vector<std::int32_t> RandomWalk(std::size_t count, std::uint32_t seed, std::int32_t maxStep,
                                     std::int32_t first = 0);
std::vector<std::int32_t> Sine(std::size_t count, double amplitude, double period,
                               double offset = 0.0);

}  // namespace tarnvel::testing
