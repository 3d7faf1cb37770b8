// Settling what a killed run left under a channel's lock, from the notes in the lock file. The
// notes stand for work whose FILELIST changes may not have been committed, so each is settled by
// what the rows say now:
//   N  a new file, staged and maybe put in place: kept where its row is registered (a staged
//      copy is put in place when the file is not there yet), removed where no row is;
//   R  a staged replacement, never put in place before its row was committed: removed;
//   A  a file extended beyond its row: cut back to its size before the append where the row
//      registers that many samples (else to what the row registers), header rewritten;
//   D  a file whose row was being removed: removed from disk once no row registers it.
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

std::vector<std::string> Fields(const std::string& note) {
  std::vector<std::string> fields;
  std::istringstream in(note);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

bool Removed(const StoreFiles& files, const std::string& path) {
  return files.Remove(path) != StoreFiles::Removal::kRefused;
}

}  // namespace

void WaveformStore::SettleUnfinishedWork(ChannelHold& hold, const SegmentToStore& segment,
                                         const StoreFiles& files) {
  const std::vector<std::string> notes = hold.lock.Notes();
  bool settled = true;
  for (const std::string& note : notes) {
    const std::vector<std::string> f = Fields(note);
    std::optional<ChannelFile> row;
    // Every note but A ends with the CPATH; A may carry the file's size after it.
    const std::string& cpath = f.size() >= 3 && f[0] == "A" ? f[2] : f.back();
    if (f.size() >= 2 && f[0] != "R" && FindFileByPath(files, cpath, row) != sr::kOk) {
      settled = false;
      continue;
    }
    if (f.size() == 3 && f[0] == "N") {  // N, staged file, its CPATH
      const std::string& staged = f[1];
      if (!row) {
        // Never registered, or its registration was rolled back: the name was free when it was
        // chosen under the lock, so whatever stands there is this unfinished work's.
        settled = Removed(files, staged) && Removed(files, cpath) && settled;
      } else if (row->disk.kind == StoreFiles::Kind::kMissing &&
                 files.Stat(staged).kind == StoreFiles::Kind::kRegularFile) {
        settled = files.Rename(staged, cpath, false) && settled;
      } else {
        settled = Removed(files, staged) && settled;
      }
    } else if (f.size() == 2 && f[0] == "R") {  // R, staged replacement
      settled = Removed(files, f[1]) && settled;
    } else if (f.size() == 2 && f[0] == "D") {  // D, CPATH of a file whose row was removed
      // Its row may or may not be gone; the file goes only with it.
      if (!row) settled = Removed(files, cpath) && settled;
    } else if ((f.size() == 3 || f.size() == 4) && f[0] == "A") {
      // A, location code, CPATH of an extended file and its size before the append (notes of
      // earlier versions lack the size)
      if (!row) continue;
      const FileCheck check = f.size() == 4
                                  ? CheckAppendedFile(*row, std::strtoll(f[3].c_str(), nullptr, 10))
                                  : CheckFileAgainstRow(*row);
      if (check.state == FileState::kLonger) {
        const FileDescriptor fd = files.OpenExisting(cpath);
        if (!fd || ::ftruncate(fd.get(), check.keepBytes) != 0) settled = false;
      }
      // The header may still give the length from before the row was extended.
      if (row->creator == segment.creator && check.state != FileState::kShorter &&
          check.state != FileState::kMissing && check.state != FileState::kNotAFile) {
        SegmentToStore owner = segment;
        owner.location = f[1];
        owner.rate = row->rate;
        const auto header = HeaderFor(owner, row->begin, check.samples);
        const FileDescriptor fd = files.OpenExisting(cpath);
        if (!fd || !WriteAllAt(fd.get(), header.data(), header.size(), 0)) settled = false;
      }
    }
  }
  if (settled) {
    hold.lock.ClearNotes();
  } else {
    hold.unsettled = true;
  }
}

}  // namespace tarnvel
