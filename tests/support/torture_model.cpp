#include "tests/support/torture_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tests/e2e/store_checks.h"

namespace tarnvel::testing::torture {
namespace {

// A stored sample is at a sample time when it lies within a tenth of an interval of it.
constexpr double kSameTime = 0.1 * kUnitsPerInterval;

// Counts of one kind of problem in one epoch, with the first time it was seen at.
struct Tally {
  std::int64_t count = 0;
  std::string first;
  void Add(const std::string& example) {
    if (count++ == 0) first = example;
  }
};

std::string EpochText(const std::vector<Epoch>& epochs, int epoch) {
  const Epoch& e = epochs.at(static_cast<std::size_t>(epoch));
  return "e" + std::to_string(epoch) + " " + e.ChannelName() + " " + e.rateText;
}

std::string Values(const std::vector<std::int32_t>& values) {
  std::string text;
  for (std::int32_t v : values) text += (text.empty() ? "" : "|") + std::to_string(v);
  return text;
}

}  // namespace

std::string SlotText(const SlotKey& key) {
  const std::int64_t slot = key.unit >= 0
                                ? key.unit / kUnitsPerInterval
                                : -((-key.unit + kUnitsPerInterval - 1) / kUnitsPerInterval);
  const std::int64_t phase = key.unit - slot * kUnitsPerInterval;
  std::string text = "e" + std::to_string(key.epoch) + ":" + std::to_string(slot);
  if (phase != 0) text += "@" + std::to_string(phase);
  return text;
}

StoreReading ReadStore(const std::vector<Epoch>& epochs, const std::vector<StoredFile>& rows,
                       const std::filesystem::path& dataDir) {
  StoreReading reading;
  for (const StoredFile& row : rows) {
    const std::string location =
        row.location == kNullText || row.location == "??" ? std::string() : row.location;
    int epoch = -1;
    for (std::size_t e = 0; e < epochs.size(); ++e) {
      const Epoch& candidate = epochs[e];
      if (candidate.station == row.station && candidate.channel == row.channel &&
          candidate.location == location && RateText(candidate.rate) == RateText(row.rate)) {
        epoch = static_cast<int>(e);
      }
    }
    const std::vector<float> samples = FileSamples(dataDir / row.cpath);
    if (epoch < 0) {
      if (!samples.empty()) {
        reading.problems.push_back("samples undelivered: " + row.cpath + " holds " +
                                   std::to_string(samples.size()) +
                                   " samples of a channel and rate nothing delivered");
      }
      continue;
    }
    const Epoch& e = epochs[static_cast<std::size_t>(epoch)];
    std::vector<SlotKey>& keys = reading.files[row.cpath];
    std::int64_t offTime = 0;
    std::string firstOff;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double time = row.begin + static_cast<double>(i) / e.rate;
      const double units = (time - e.Start()) * e.rate * kUnitsPerInterval;
      const SlotKey key{epoch, std::llround(units)};
      if (std::fabs(units - static_cast<double>(key.unit)) > kSameTime) {
        if (offTime++ == 0) {
          char text[64];
          std::snprintf(text, sizeof text, "sample %zu at unit %.2f", i, units);
          firstOff = text;
        }
        continue;
      }
      reading.samples[key].push_back(static_cast<std::int32_t>(samples[i]));
      keys.push_back(key);
    }
    if (offTime > 0) {
      reading.problems.push_back("samples off-time: " + row.cpath + ": " + std::to_string(offTime) +
                                 " samples lie off every sample time, first " + firstOff);
    }
    // SPS keeps hundredths: the row's own times for the samples drift from theirs.
    if (samples.size() > 1) {
      const double drift =
          std::fabs(e.rate / row.rate - 1.0) * static_cast<double>(samples.size() - 1);
      if (drift > 0.5 + 1e-9) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", drift);
        reading.problems.push_back("row drift: " + row.cpath + ": its row places its last sample " +
                                   text + " intervals off its time");
      }
    }
  }
  return reading;
}

void PromiseModel::Apply(const std::vector<Delivered>& delivered) {
  std::map<SlotKey, std::vector<const Delivered*>> byKey;
  for (const Delivered& d : delivered) byKey[d.key].push_back(&d);
  for (const auto& [key, all] : byKey) {
    SlotState next;
    const bool reported =
        std::any_of(all.begin(), all.end(), [](const Delivered* d) { return d->reported; });
    const auto found = slots_.find(key);
    if (!reported) {
      // Either what the time held before or one of the new values.
      if (found == slots_.end()) {
        next.mayBeAbsent = true;
      } else {
        next = found->second;
      }
    }
    for (const Delivered* d : all) {
      if (std::find(next.values.begin(), next.values.end(), d->value) == next.values.end()) {
        next.values.push_back(d->value);
      }
    }
    slots_[key] = next;
  }
}

void PromiseModel::Forget(const std::vector<SlotKey>& keys) {
  for (const SlotKey& key : keys) slots_.erase(key);
}

std::vector<std::string> PromiseModel::Compare(const StoreReading& reading) const {
  std::map<int, Tally> twice, missing, undelivered, value;
  for (const auto& [key, copies] : reading.samples) {
    if (copies.size() > 1) twice[key.epoch].Add(SlotText(key) + " " + Values(copies));
    const auto found = slots_.find(key);
    if (found == slots_.end()) {
      undelivered[key.epoch].Add(SlotText(key));
      continue;
    }
    for (std::int32_t copy : copies) {
      const std::vector<std::int32_t>& allowed = found->second.values;
      if (std::find(allowed.begin(), allowed.end(), copy) == allowed.end()) {
        value[key.epoch].Add(SlotText(key) + " holds " + std::to_string(copy) + ", allowed " +
                             Values(allowed));
        break;
      }
    }
  }
  for (const auto& [key, state] : slots_) {
    if (!state.mayBeAbsent && !reading.samples.contains(key)) {
      missing[key.epoch].Add(SlotText(key));
    }
  }
  std::vector<std::string> problems;
  const auto report = [&](const std::map<int, Tally>& tallies, const std::string& kind,
                          const std::string& what) {
    for (const auto& [epoch, tally] : tallies) {
      problems.push_back(kind + ": " + EpochText(epochs_, epoch) + ": " +
                         std::to_string(tally.count) + " " + what + ", first " + tally.first);
    }
  };
  report(twice, "samples twice", "sample times hold more than one sample");
  report(missing, "samples missing", "samples reported stored are not there");
  report(undelivered, "samples undelivered",
         "sample times hold a sample no conversion delivered (or one that was lost)");
  report(value, "samples value", "sample times hold a value no conversion left there");
  return problems;
}

void PromiseModel::Settle(const StoreReading& reading) {
  slots_.clear();
  for (const auto& [key, copies] : reading.samples) {
    SlotState state;
    state.values = copies;
    slots_[key] = state;
  }
}

}  // namespace tarnvel::testing::torture
