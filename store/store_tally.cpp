#include "store/store_tally.h"

namespace tarnvel {

void StoreTally::Wrote(const std::string& cpath, FileWork work, std::int64_t samples,
                       std::int64_t replaced) {
  if (samples <= 0) return;
  files_[cpath] |= static_cast<unsigned>(work);
  samples_ += samples;
  replaced_ += replaced;
}

void StoreTally::Add(const StoreTally& other) {
  for (const auto& [cpath, work] : other.files_) files_[cpath] |= work;
  samples_ += other.samples_;
  storedAlready_ += other.storedAlready_;
  replaced_ += other.replaced_;
}

StoreTally::Totals StoreTally::Sum() const {
  Totals totals;
  totals.samples = samples_;
  totals.storedAlready = storedAlready_;
  totals.replaced = replaced_;
  for (const auto& [cpath, work] : files_) {
    ++totals.files;
    if ((work & static_cast<unsigned>(FileWork::kNew)) != 0) {
      ++totals.newFiles;
    } else if ((work & static_cast<unsigned>(FileWork::kRewritten)) != 0) {
      ++totals.rewritten;
    } else {
      ++totals.continued;
    }
  }
  return totals;
}

}  // namespace tarnvel
