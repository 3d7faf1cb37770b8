// What a conversion stored, counted per transaction and kept only once the transaction is
// committed: the samples it wrote (into new files, appended to files, or rewritten into files
// through a staged copy, replacing samples or restoring lost ones), the files they went to, and
// the samples it found stored unchanged. A rolled-back transaction's tally is dropped; work
// stored again after a recovery is counted by the transaction that commits it, so once.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace tarnvel {

class StoreTally {
 public:
  enum class FileWork : unsigned { kNew = 1, kContinued = 2, kRewritten = 4 };

  // `samples` samples written into the file at `cpath` (a file with no sample written is not
  // counted); `replaced` of them took the place of stored samples with other values.
  void Wrote(const std::string& cpath, FileWork work, std::int64_t samples,
             std::int64_t replaced = 0);
  // Samples found stored already, unchanged.
  void FoundStored(std::int64_t samples) { storedAlready_ += samples; }

  // Takes over what `other` counted (a committed transaction's tally).
  void Add(const StoreTally& other);

  // The counts. Each file is counted once: new when the run created it, else rewritten when it
  // was rewritten through a staged copy, else continued.
  struct Totals {
    std::int64_t samples = 0;
    int files = 0;
    int newFiles = 0;
    int continued = 0;
    int rewritten = 0;
    std::int64_t storedAlready = 0;
    std::int64_t replaced = 0;
    bool operator==(const Totals&) const = default;
  };
  Totals Sum() const;

 private:
  std::map<std::string, unsigned> files_;  // CPATH -> FileWork bits
  std::int64_t samples_ = 0;
  std::int64_t storedAlready_ = 0;
  std::int64_t replaced_ = 0;
};

}  // namespace tarnvel
