#include "tests/support/mseed_pack.h"

#include "tests/support/mseed3_writer.h"

#ifdef TARNVEL_HAVE_MSEED

#include <libmseed.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string_view>
#include <tuple>

namespace tarnvel::testing {
namespace {

struct MsRecordDeleter {
  void operator()(MSRecord* msr) const {
    if (msr != nullptr) {
      msr->datasamples = nullptr;  // owned by the caller in PackRecords; freed below otherwise
      msr_free(&msr);
    }
  }
};

void CopyName(char (&field)[11], const std::string& value) {
  std::memset(field, 0, sizeof field);
  std::strncpy(field, value.c_str(), sizeof field - 1);
}

void AppendRecord(char* record, int length, void* handlerData) {
  static_cast<std::string*>(handlerData)->append(record, static_cast<std::size_t>(length));
}

// Packs `count` samples of `type` ('i', 'f' or 'd') at `data`, which the library only reads.
std::string Pack(const PackFields& fields, void* data, std::size_t count, char type) {
  MSRecord* raw = msr_init(nullptr);
  if (raw == nullptr) throw std::runtime_error("msr_init failed");
  std::unique_ptr<MSRecord, MsRecordDeleter> msr(raw);
  CopyName(msr->network, fields.network);
  CopyName(msr->station, fields.station);
  CopyName(msr->location, fields.location);
  CopyName(msr->channel, fields.channel);
  msr->dataquality = fields.quality;
  msr->starttime = static_cast<hptime_t>(std::llround(fields.startEpoch * HPTMODULUS));
  msr->samprate = fields.sampleRate;
  msr->reclen = fields.recordLength;
  msr->encoding = static_cast<int8_t>(fields.encoding);
  msr->byteorder = fields.bigEndian ? 1 : 0;
  msr->datasamples = data;
  msr->numsamples = static_cast<int64_t>(count);
  msr->sampletype = type;

  std::string out;
  int64_t packed = 0;
  const int records = msr_pack(msr.get(), &AppendRecord, &out, &packed, 1, 0);
  if (records < 0 || packed != static_cast<int64_t>(count)) {
    throw std::runtime_error("msr_pack failed for " + fields.station + "." + fields.channel);
  }
  return out;
}

}  // namespace

std::string PackRecords(const PackFields& fields, std::span<const std::int32_t> samples) {
  // The library only reads the samples while packing; the vector keeps owning them.
  std::vector<std::int32_t> copy(samples.begin(), samples.end());
  return Pack(fields, copy.data(), copy.size(), 'i');
}

std::string PackFloatRecords(const PackFields& fields, std::span<const double> samples) {
  if (fields.encoding == kEncodingFloat32) {
    std::vector<float> copy(samples.begin(), samples.end());
    return Pack(fields, copy.data(), copy.size(), 'f');
  }
  std::vector<double> copy(samples.begin(), samples.end());
  return Pack(fields, copy.data(), copy.size(), 'd');
}

std::vector<ReferenceRecord> DecodeRecords(const std::string& bytes, int recordLength) {
  std::vector<ReferenceRecord> out;
  std::vector<char> buffer(bytes.begin(), bytes.end());
  const std::size_t length = static_cast<std::size_t>(recordLength);
  for (std::size_t offset = 0; offset + length <= buffer.size(); offset += length) {
    MSRecord* raw = nullptr;
    const int rc = msr_parse(buffer.data() + offset, recordLength, &raw, recordLength, 1, 0);
    std::unique_ptr<MSRecord, void (*)(MSRecord*)> msr(raw, [](MSRecord* m) {
      if (m != nullptr) msr_free(&m);
    });
    if (rc != MS_NOERROR || raw == nullptr) {
      throw std::runtime_error("libmseed could not parse the record at offset " +
                               std::to_string(offset));
    }
    ReferenceRecord record;
    record.network = raw->network;
    record.station = raw->station;
    record.location = raw->location;
    record.channel = raw->channel;
    record.quality = raw->dataquality;
    record.start = static_cast<double>(msr_starttime_uc(raw)) / HPTMODULUS;
    record.nominalRate = msr_nomsamprate(raw);
    record.sampleCount = raw->samplecnt;
    record.encoding = raw->encoding;
    record.byteOrder = raw->byteorder;
    record.dataOffset = raw->fsdh->data_offset;
    record.microseconds = raw->Blkt1001 != nullptr ? raw->Blkt1001->usec : 0;
    if (raw->datasamples != nullptr) {
      const auto n = static_cast<std::size_t>(raw->numsamples);
      if (raw->sampletype == 'i') {
        const auto* values = static_cast<const std::int32_t*>(raw->datasamples);
        record.samples.assign(values, values + n);
        record.values.assign(values, values + n);
      } else if (raw->sampletype == 'f') {
        const auto* values = static_cast<const float*>(raw->datasamples);
        record.values.assign(values, values + n);
      } else if (raw->sampletype == 'd') {
        const auto* values = static_cast<const double*>(raw->datasamples);
        record.values.assign(values, values + n);
      }
    }
    out.push_back(std::move(record));
  }
  return out;
}

std::vector<ReferenceChannel> DecodeChannels(const std::string& bytes, int recordLength) {
  std::vector<ReferenceChannel> channels;
  std::map<std::tuple<std::string, std::string, std::string>, std::size_t> index;
  for (ReferenceRecord& record : DecodeRecords(bytes, recordLength)) {
    const auto key = std::make_tuple(record.station, record.location, record.channel);
    auto it = index.find(key);
    if (it == index.end()) {
      ReferenceChannel channel;
      channel.station = record.station;
      channel.location = record.location;
      channel.channel = record.channel;
      channel.start = record.start;
      channel.nominalRate = record.nominalRate;
      it = index.emplace(key, channels.size()).first;
      channels.push_back(std::move(channel));
    }
    ReferenceChannel& channel = channels[it->second];
    channel.samples.insert(channel.samples.end(), record.samples.begin(), record.samples.end());
    channel.values.insert(channel.values.end(), record.values.begin(), record.values.end());
    channel.recordStarts.push_back(record.start);
    channel.recordCounts.push_back(static_cast<std::int64_t>(record.values.size()));
    channel.recordMicroseconds.push_back(record.microseconds);
  }
  return channels;
}

namespace {

void AppendLittle(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// The payload of `record` (a SEED record of `bytes`) in miniSEED 3's byte order.
std::vector<std::uint8_t> Mseed3Payload(const ReferenceRecord& record, std::string_view bytes) {
  std::string out;
  switch (record.encoding) {
    case kEncodingSteim1:
    case kEncodingSteim2:
      if (record.byteOrder != 1) throw std::runtime_error("little-endian Steim frames");
      out = std::string(bytes.substr(record.dataOffset));
      break;
    case kEncodingInt16:
      for (const double v : record.values) {
        AppendLittle(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)), 2);
      }
      break;
    case kEncodingInt32:
      for (const double v : record.values) {
        AppendLittle(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(v)), 4);
      }
      break;
    case kEncodingFloat32:
      for (const double v : record.values) {
        const auto f = static_cast<float>(v);
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        AppendLittle(out, bits, 4);
      }
      break;
    case kEncodingFloat64:
      for (const double v : record.values) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        AppendLittle(out, bits, 8);
      }
      break;
    default:
      throw std::runtime_error("no miniSEED 3 payload for encoding " +
                               std::to_string(record.encoding));
  }
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

}  // namespace

std::string Mseed3FromSeed2(const std::string& bytes, int recordLength) {
  std::string out;
  const auto records = DecodeRecords(bytes, recordLength);
  const auto length = static_cast<std::size_t>(recordLength);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ReferenceRecord& r = records[i];
    Mseed3Fields fields;
    std::string channel = r.channel;
    channel.resize(3, ' ');
    fields.identifier = "FDSN:" + r.network + "_" + r.station + "_" + r.location + "_" +
                        channel.substr(0, 1) + "_" + channel.substr(1, 1) + "_" +
                        channel.substr(2, 1);
    // The start to the microsecond: whole seconds for the calendar, the rest as nanoseconds.
    const auto micro = static_cast<std::int64_t>(std::llround(r.start * 1e6));
    const std::int64_t whole = micro >= 0 ? micro / 1000000 : -((-micro + 999999) / 1000000);
    const std::time_t seconds = static_cast<std::time_t>(whole);
    std::tm t{};
    gmtime_r(&seconds, &t);
    fields.year = static_cast<std::uint16_t>(t.tm_year + 1900);
    fields.dayOfYear = static_cast<std::uint16_t>(t.tm_yday + 1);
    fields.hour = static_cast<std::uint8_t>(t.tm_hour);
    fields.minute = static_cast<std::uint8_t>(t.tm_min);
    fields.second = static_cast<std::uint8_t>(t.tm_sec);
    fields.nanosecond = static_cast<std::uint32_t>((micro - whole * 1000000) * 1000);
    fields.encoding = static_cast<std::uint8_t>(r.encoding);
    fields.rate = r.nominalRate;
    fields.sampleCount = static_cast<std::uint32_t>(r.sampleCount);
    const auto payload = Mseed3Payload(r, std::string_view(bytes).substr(i * length, length));
    out += AsText(Mseed3Record(fields, payload));
  }
  return out;
}

std::vector<std::int32_t> RandomWalk(std::size_t count, std::uint32_t seed, std::int32_t maxStep,
                                     std::int32_t first) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<std::int32_t> step(-maxStep, maxStep);
  std::vector<std::int32_t> out;
  out.reserve(count);
  std::int64_t value = first;
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(static_cast<std::int32_t>(value));
    value += step(engine);
    // Stay inside 32 bits by reflecting at the edges.
    if (value > INT32_MAX / 2 || value < INT32_MIN / 2) value = first;
  }
  return out;
}

std::vector<std::int32_t> Sine(std::size_t count, double amplitude, double period, double offset) {
  std::vector<std::int32_t> out;
  out.reserve(count);
  const double pi = std::acos(-1.0);
  for (std::size_t i = 0; i < count; ++i) {
    const double value = offset + amplitude * std::sin(2.0 * pi * static_cast<double>(i) / period);
    out.push_back(static_cast<std::int32_t>(std::lround(value)));
  }
  return out;
}

}  // namespace tarnvel::testing

#endif  // TARNVEL_HAVE_MSEED
