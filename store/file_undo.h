// What the files of the store looked like before the work of an open transaction, so that the
// work can be undone when the transaction is rolled back: new files put in place go again,
// extended files are cut back to their registered length and get their header back, staged
// files are removed. Cleared once the transaction is committed.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "store/store_files.h"
#include "store/waveform_header.h"

namespace tarnvel {

class FileUndo {
 public:
  // A new file put in place at `cpath`, written under `staged` first.
  void NewFile(std::string cpath, std::string staged);
  // A file about to be extended beyond its registered `bytes`, open as `fd`: its length and
  // header as they are now. Only the first extension of a file in a transaction counts. False
  // when the header cannot be read (the file is not to be extended then).
  bool Extending(const std::string& cpath, std::int64_t bytes, int fd);
  // A staged file that goes when the work is undone.
  void Staged(std::string staged);

  // Undoes everything in reverse order; false when something could not be undone (it is left
  // in the lock's notes for the next holder to settle).
  bool Undo(const StoreFiles& files);
  void Clear();
  bool empty() const { return entries_.empty(); }

 private:
  enum class Kind { kNewFile, kExtended, kStaged };
  struct Entry {
    Kind kind;
    std::string cpath;
    std::string staged;
    std::int64_t bytes = 0;
    std::array<char, kWaveformHeaderSize> header{};
  };
  std::vector<Entry> entries_;
  std::set<std::string> extended_;
};

}  // namespace tarnvel
