// The torture test's plain model of the store's promise, and the store read back to compare.
//
// The model keeps, per epoch (a channel at one rate), what each sample time may hold:
//   - a conversion that completed and did not report a segment failed stored every sample it
//     delivered: its value is there, exactly once, at its time (when several conversions ran
//     at once and delivered one time, the value is one of theirs);
//   - a segment reported failed ("DB write error", "Delete error"), or any sample of a run that
//     was killed, leaves each of its times holding either what it held before (nothing, or one
//     of the values allowed there) or the new value: never anything else, never twice;
//   - samples cut away or removed by hand are gone;
//   - nothing else is stored: no time holds a sample no conversion delivered, or one that was
//     lost.
// After every clean comparison the model becomes what the store holds, so the choices a
// failed or killed run left open are settled from then on: what is stored stays stored.
#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/filelist_rows.h"
#include "tests/support/torture_history.h"

namespace tarnvel::testing::torture {

// A sample time: an epoch and twentieths of an interval from its slot 0.
struct SlotKey {
  int epoch = 0;
  std::int64_t unit = 0;
  auto operator<=>(const SlotKey&) const = default;
};
// "e0:120" or "e0:120@6".
std::string SlotText(const SlotKey& key);
inline SlotKey KeyOf(int epoch, std::int64_t slot, int phase) {
  return SlotKey{epoch, slot * kUnitsPerInterval + phase};
}

// A sample a conversion handed to the store, and whether the conversion reported it stored.
struct Delivered {
  SlotKey key;
  std::int32_t value = 0;
  bool reported = false;
};

// What the store holds, through FILELIST and the files.
struct StoreReading {
  std::map<SlotKey, std::vector<std::int32_t>> samples;  // each stored copy's value
  std::map<std::string, std::vector<SlotKey>> files;     // by CPATH: its samples' times
  std::vector<std::string> problems;  // samples off every sample time, rows that drift
};
StoreReading ReadStore(const std::vector<Epoch>& epochs, const std::vector<StoredFile>& rows,
                       const std::filesystem::path& dataDir);

class PromiseModel {
 public:
  explicit PromiseModel(std::vector<Epoch> epochs) : epochs_(std::move(epochs)) {}

  // The samples of one step's conversions, all runs of the step together.
  void Apply(const std::vector<Delivered>& delivered);
  // Samples cut away or removed by hand.
  void Forget(const std::vector<SlotKey>& keys);
  // Where the store breaks the promise as modelled, one line per epoch and kind:
  // "samples twice", "samples missing", "samples undelivered", "samples value".
  std::vector<std::string> Compare(const StoreReading& reading) const;
  // What the store holds becomes the model (after a clean comparison).
  void Settle(const StoreReading& reading);

 private:
  struct SlotState {
    std::vector<std::int32_t> values;  // the values allowed
    bool mayBeAbsent = false;
  };
  std::vector<Epoch> epochs_;
  std::map<SlotKey, SlotState> slots_;
};

}  // namespace tarnvel::testing::torture
