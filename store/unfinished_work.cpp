// Settling what a killed run left under a channel's lock, from the notes in the lock file. The
// notes stand for work whose FILELIST changes may not have been committed, so each is settled by
// what the committed rows say now:
//   N  a new file, staged and maybe put in place: kept where its row is registered (a staged
//      copy is put in place when the file is not there yet), removed where no row is;
//   R  a staged replacement whose row may not be committed: removed, unless a P note follows;
//   P  a staged replacement whose row is committed: put in place;
//   A  a file extended beyond its row: cut back to its size before the append where the row
//      registers that many samples (else to what the row registers); a header of the store's
//      own is written from the row (it may still give the length from before the commit);
//   D  a file whose row was being removed: removed from disk once no row registers it.
// A note that names anything but the lock's own channel's files (or cannot be read) is never
// acted on: it is named in the debug output and dropped. What settling changes is synced before
// the notes go.
#include <unistd.h>

#include <set>
#include <vector>

#include "seed/channel_key.h"
#include "store/store_work.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

bool Removed(const StoreFiles& files, const std::string& path, SyncGroup& changed) {
  changed.Folder(FolderOf(path));
  return files.Remove(path) != StoreFiles::Removal::kRefused;
}

std::string Printable(std::string_view line) {
  std::string text(line);
  for (char& c : text) {
    if (c == '\t') c = ' ';
  }
  return text;
}

// The station and channel a lock file's name ("<STA>.<CH>.lock") stands for; std::nullopt when
// it stands for none, or for more than one (codes with a '.' in them).
std::optional<std::pair<std::string, std::string>> ChannelOfLockFile(std::string_view name) {
  constexpr std::string_view kSuffix = ".lock";
  if (name.size() <= kSuffix.size() || name.substr(name.size() - kSuffix.size()) != kSuffix) {
    return std::nullopt;
  }
  const std::string_view body = name.substr(0, name.size() - kSuffix.size());
  std::optional<std::pair<std::string, std::string>> found;
  for (std::size_t dot = body.find('.'); dot != std::string_view::npos;
       dot = body.find('.', dot + 1)) {
    const std::string_view station = body.substr(0, dot);
    const std::string_view channel = body.substr(dot + 1);
    if (!IsSafeCode(station) || !IsSafeCode(channel)) continue;
    if (found) return std::nullopt;
    found.emplace(std::string(station), std::string(channel));
  }
  return found;
}

}  // namespace

bool StoreWork::SettleNotes(const ChannelHold& hold, const std::vector<tarnvel::Note>& notes,
                            const std::string* creator, SyncGroup& changed) {
  const StoreFiles files = Files();
  std::set<std::string> placing;  // staged replacements whose rows are committed
  for (const tarnvel::Note& note : notes) {
    if (note.kind == tarnvel::Note::Kind::kPlaceReplacement) placing.insert(note.staged);
  }
  bool settled = true;
  for (const tarnvel::Note& note : notes) {
    std::optional<ChannelFile> row;
    const bool needsRow = note.kind != tarnvel::Note::Kind::kReplacement &&
                          note.kind != tarnvel::Note::Kind::kPlaceReplacement;
    if (needsRow && store_.RowOfPath(files, note.cpath, row) != sr::kOk) {
      settled = false;
      continue;
    }
    switch (note.kind) {
      case tarnvel::Note::Kind::kNewFile:
        if (!row) {
          // Never registered, or its registration was rolled back: the name was free when it
          // was chosen under the lock, so whatever stands there is this unfinished work's.
          settled = Removed(files, note.staged, changed) && settled;
          settled = Removed(files, note.cpath, changed) && settled;
        } else if (row->disk.kind == StoreFiles::Kind::kMissing &&
                   files.Stat(note.staged).kind == StoreFiles::Kind::kRegularFile) {
          // Its data on stable storage before its name.
          changed.Folder(FolderOf(note.cpath));
          settled = changed.SyncNow(files, note.staged) &&
                    files.Rename(note.staged, note.cpath, false) && settled;
        } else {
          settled = Removed(files, note.staged, changed) && settled;
        }
        break;
      case tarnvel::Note::Kind::kReplacement:
        if (!placing.contains(note.staged)) {
          settled = Removed(files, note.staged, changed) && settled;
        }
        break;
      case tarnvel::Note::Kind::kPlaceReplacement:
        // Its data were synced before the row's commit.
        if (files.Stat(note.staged).kind == StoreFiles::Kind::kRegularFile) {
          changed.Folder(FolderOf(note.cpath));
          settled = files.Rename(note.staged, note.cpath, true) && settled;
        }
        break;
      case tarnvel::Note::Kind::kRemoval:
        // Its row may or may not be gone; the file goes only with it.
        if (!row) settled = Removed(files, note.cpath, changed) && settled;
        break;
      case tarnvel::Note::Kind::kAppend: {
        if (!row) break;
        const FileCheck check = note.sizeBefore >= 0 ? CheckAppendedFile(*row, note.sizeBefore)
                                                     : CheckFileAgainstRow(*row);
        if (check.state == FileState::kLonger) {
          const FileDescriptor fd = files.OpenExisting(note.cpath);
          if (!fd || ::ftruncate(fd.get(), check.keepBytes) != 0) settled = false;
          changed.File(note.cpath);
        }
        if (check.state == FileState::kShorter || check.state == FileState::kMissing ||
            check.state == FileState::kNotAFile) {
          break;
        }
        // The header may still give the length from before the row was extended.
        bool ownHeader = false;
        if (note.ownHeader) {
          ownHeader = *note.ownHeader;
        } else if (creator != nullptr) {
          ownHeader = row->creator == *creator;
        } else {
          settled = false;  // left for a run that knows whose header it is
          break;
        }
        if (!ownHeader) break;
        SegmentToStore owner;
        owner.station = hold.station;
        owner.channel = hold.channel;
        owner.location = note.location;
        owner.rate = row->rate;
        const auto header = store_.HeaderFor(owner, row->begin, check.samples);
        const FileDescriptor fd = files.OpenExisting(note.cpath);
        if (!fd || !WriteAllAt(fd.get(), header.data(), header.size(), 0)) settled = false;
        changed.File(note.cpath);
        break;
      }
    }
  }
  return settled;
}

void StoreWork::Settle(ChannelHold& hold, const std::string* creator) {
  const std::vector<std::string> lines = hold.lock.Notes();
  if (lines.empty()) {
    // At most a line cut short by a kill: never acted on.
    if (!hold.lock.Empty()) hold.lock.ClearNotes();
    return;
  }
  const StoreFiles files = Files();
  const std::string lockFile = ChannelLock::LockFilePath(hold.station, hold.channel);
  std::vector<tarnvel::Note> notes;
  for (const std::string& line : lines) {
    const std::optional<tarnvel::Note> note = tarnvel::Note::Parse(line);
    if (!note || !note->BelongsTo(hold.station, hold.channel)) {
      store_.Debug().Write("tarnvel store: note ignored in " + lockFile + ", not one of " +
                           hold.station + "::" + hold.channel + "'s files: " + Printable(line));
      continue;
    }
    notes.push_back(*note);
  }

  SyncGroup changed(sync_.enabled());
  bool settled = SettleNotes(hold, notes, creator, changed);
  settled = changed.Flush(files) && settled;
  if (settled) {
    hold.lock.ClearNotes();
  } else {
    hold.unsettled = true;
  }
}

void StoreWork::SettleEveryChannel() {
  const StoreFiles files = Files();
  const std::string folder(ChannelLock::kFolder);
  for (const std::string& name : files.FileNames(folder)) {
    const auto channel = ChannelOfLockFile(name);
    if (!channel) continue;
    const auto& [station, code] = *channel;
    // Only a lock file with notes has anything to settle.
    if (files.Stat(folder + "/" + name).size == 0) continue;
    if (holds_.contains(station + '\n' + code)) continue;  // settled when it was taken
    ChannelHold hold;
    hold.station = station;
    hold.channel = code;
    if (hold.lock.TryAcquire(files, station, code) != ChannelLock::Attempt::kTaken) continue;
    Settle(hold, nullptr);
  }  // each lock goes with its hold
}

}  // namespace tarnvel
