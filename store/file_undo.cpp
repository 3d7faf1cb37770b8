#include "store/file_undo.h"

#include <unistd.h>

namespace tarnvel {

void FileUndo::NewFile(std::string cpath, std::string staged) {
  entries_.push_back(Entry{Kind::kNewFile, std::move(cpath), std::move(staged)});
}

bool FileUndo::Extending(const std::string& cpath, std::int64_t bytes, int fd) {
  if (extended_.contains(cpath)) return true;
  Entry entry{Kind::kExtended, cpath, {}, bytes};
  if (!ReadAllAt(fd, entry.header.data(), entry.header.size(), 0)) return false;
  entries_.push_back(std::move(entry));
  extended_.insert(cpath);
  return true;
}

void FileUndo::Staged(std::string staged) {
  entries_.push_back(Entry{Kind::kStaged, {}, std::move(staged)});
}

bool FileUndo::Undo(const StoreFiles& files) {
  bool undone = true;
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    switch (entry->kind) {
      case Kind::kNewFile:
        if (files.Remove(entry->cpath) == StoreFiles::Removal::kRefused) undone = false;
        [[fallthrough]];
      case Kind::kStaged:
        if (files.Remove(entry->staged) == StoreFiles::Removal::kRefused) undone = false;
        break;
      case Kind::kExtended: {
        if (files.Stat(entry->cpath).kind == StoreFiles::Kind::kMissing) break;
        const FileDescriptor fd = files.OpenExisting(entry->cpath);
        if (!fd || ::ftruncate(fd.get(), entry->bytes) != 0 ||
            !WriteAllAt(fd.get(), entry->header.data(), entry->header.size(), 0)) {
          undone = false;
        }
        break;
      }
    }
  }
  Clear();
  return undone;
}

void FileUndo::Clear() {
  entries_.clear();
  extended_.clear();
}

}  // namespace tarnvel
