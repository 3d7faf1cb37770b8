#include "tests/support/mseed_pack.h"

#ifdef TARNVEL_HAVE_MSEED

#include <libmseed.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
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

}  // namespace

std::string PackRecords(const PackSpec& spec, std::span<const std::int32_t> samples) {
  MSRecord* raw = msr_init(nullptr);
  if (raw == nullptr) throw std::runtime_error("msr_init failed");
  std::unique_ptr<MSRecord, MsRecordDeleter> msr(raw);
  CopyName(msr->network, spec.network);
  CopyName(msr->station, spec.station);
  CopyName(msr->location, spec.location);
  CopyName(msr->channel, spec.channel);
  msr->dataquality = spec.quality;
  msr->starttime = static_cast<hptime_t>(std::llround(spec.startEpoch * HPTMODULUS));
  msr->samprate = spec.sampleRate;
  msr->reclen = spec.recordLength;
  msr->encoding = static_cast<int8_t>(spec.encoding);
  msr->byteorder = spec.bigEndian ? 1 : 0;
  // The library only reads the samples while packing; the vector keeps owning them.
  std::vector<std::int32_t> copy(samples.begin(), samples.end());
  msr->datasamples = copy.data();
  msr->numsamples = static_cast<int64_t>(copy.size());
  msr->sampletype = 'i';

  std::string out;
  int64_t packed = 0;
  const int records = msr_pack(msr.get(), &AppendRecord, &out, &packed, 1, 0);
  if (records < 0 || packed != static_cast<int64_t>(copy.size())) {
    throw std::runtime_error("msr_pack failed for " + spec.station + "." + spec.channel);
  }
  return out;
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
    if (raw->sampletype == 'i' && raw->datasamples != nullptr) {
      const auto* values = static_cast<const std::int32_t*>(raw->datasamples);
      record.samples.assign(values, values + raw->numsamples);
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
    channel.recordStarts.push_back(record.start);
    channel.recordCounts.push_back(static_cast<std::int64_t>(record.samples.size()));
  }
  return channels;
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
