// What the files of one channel looked like before the work of an open transaction, so that the
// work can be undone when the transaction is rolled back: new files put in place go again,
// extended files are cut back to their registered length, staged files are removed. Cleared
// once the transaction is committed. (Headers are written only after a commit: none is to be
// put back.) Undo acts by name and is only for a holder whose lock is still its own; the same
// work as notes (AsNotes) is settled by what the committed rows say.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "store/file_sync.h"
#include "store/lock_note.h"
#include "store/store_files.h"

namespace tarnvel {

class FileUndo {
 public:
  // A new file put in place at `cpath`, written under `staged` first.
  void NewFile(std::string cpath, std::string staged);
  // A file about to be extended beyond its registered `bytes`. Only the first extension of a
  // file in a transaction counts.
  void Extending(const std::string& cpath, std::int64_t bytes);
  // A staged file (new content for `cpath`) that goes when the work is undone.
  void Staged(std::string staged, std::string cpath);

  // Undoes everything in reverse order, noting in `changed` the files and folders to sync before
  // the notes that describe them may go; false when something could not be undone (it is left
  // in the lock's notes for the next holder to settle).
  bool Undo(const StoreFiles& files, SyncGroup& changed);
  void Clear();
  bool empty() const { return entries_.empty(); }
  // The work as lock notes: new files, staged files and extended files (headers left alone).
  std::vector<Note> AsNotes() const;

 private:
  enum class Kind { kNewFile, kExtended, kStaged };
  struct Entry {
    Kind kind;
    std::string cpath;
    std::string staged;
    std::int64_t bytes = 0;
  };
  std::vector<Entry> entries_;
  std::set<std::string> extended_;
};

}  // namespace tarnvel
