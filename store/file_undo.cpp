#include "store/file_undo.h"

#include <unistd.h>

namespace tarnvel {

void FileUndo::NewFile(std::string cpath, std::string staged) {
  entries_.push_back(Entry{Kind::kNewFile, std::move(cpath), std::move(staged)});
}

void FileUndo::Extending(const std::string& cpath, std::int64_t bytes) {
  if (!extended_.insert(cpath).second) return;
  entries_.push_back(Entry{Kind::kExtended, cpath, {}, bytes});
}

void FileUndo::Staged(std::string staged, std::string cpath) {
  entries_.push_back(Entry{Kind::kStaged, std::move(cpath), std::move(staged)});
}

bool FileUndo::Undo(const StoreFiles& files, SyncGroup& changed) {
  bool undone = true;
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    switch (entry->kind) {
      case Kind::kNewFile:
        if (files.Remove(entry->cpath) == StoreFiles::Removal::kRefused) undone = false;
        [[fallthrough]];
      case Kind::kStaged:
        if (files.Remove(entry->staged) == StoreFiles::Removal::kRefused) undone = false;
        changed.Folder(FolderOf(entry->staged));
        break;
      case Kind::kExtended: {
        if (files.Stat(entry->cpath).kind == StoreFiles::Kind::kMissing) break;
        const FileDescriptor fd = files.OpenExisting(entry->cpath);
        if (!fd || ::ftruncate(fd.get(), entry->bytes) != 0) undone = false;
        changed.File(entry->cpath);
        break;
      }
    }
  }
  Clear();
  return undone;
}

std::vector<Note> FileUndo::AsNotes() const {
  std::vector<Note> notes;
  for (const Entry& entry : entries_) {
    switch (entry.kind) {
      case Kind::kNewFile:
        notes.push_back(Note::NewFile(entry.staged, entry.cpath));
        break;
      case Kind::kStaged:
        notes.push_back(Note::Replacement(entry.staged, entry.cpath));
        break;
      case Kind::kExtended:
        notes.push_back(Note::Append("", entry.cpath, entry.bytes, false));
        break;
    }
  }
  return notes;
}

void FileUndo::Clear() {
  entries_.clear();
  extended_.clear();
}

}  // namespace tarnvel
