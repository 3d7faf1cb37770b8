// Settling what a killed run left under a channel's lock, from the notes in the lock file: a
// staged new file whose row was registered is put in place (else removed), a staged
// replacement is removed, and a file extended beyond its row is cut back to it.
#include <unistd.h>

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

}  // namespace

void WaveformStore::SettleUnfinishedWork(SegmentWork& work) {
  const std::vector<std::string> notes = work.lock.Notes();
  bool settled = true;
  for (const std::string& note : notes) {
    const std::vector<std::string> f = Fields(note);
    if (f.size() == 3 && f[0] == "N") {  // N, staged file, its CPATH
      std::optional<ChannelFile> row;
      if (FindFileByPath(work.files, f[2], row) != sr::kOk) {
        settled = false;
        continue;
      }
      const bool putInPlace = row && row->disk.kind == StoreFiles::Kind::kMissing &&
                              work.files.Stat(f[1]).kind == StoreFiles::Kind::kRegularFile;
      if (putInPlace ? !work.files.Rename(f[1], f[2], false)
                     : work.files.Remove(f[1]) == StoreFiles::Removal::kRefused) {
        settled = false;
      }
    } else if (f.size() == 2 && f[0] == "R") {  // R, staged replacement
      if (work.files.Remove(f[1]) == StoreFiles::Removal::kRefused) settled = false;
    } else if (f.size() == 3 && f[0] == "A") {  // A, location code, CPATH of an extended file
      std::optional<ChannelFile> row;
      if (FindFileByPath(work.files, f[2], row) != sr::kOk) {
        settled = false;
        continue;
      }
      if (!row) continue;
      const FileCheck check = CheckFileAgainstRow(*row);
      if (check.state == FileState::kLonger) {
        const FileDescriptor fd = work.files.OpenExisting(f[2]);
        if (!fd || ::ftruncate(fd.get(), check.keepBytes) != 0) settled = false;
      }
      // The header may still give the length from before the row was extended.
      if (row->creator == work.segment.creator && check.state != FileState::kShorter &&
          check.state != FileState::kMissing && check.state != FileState::kNotAFile) {
        SegmentToStore owner = work.segment;
        owner.location = f[1];
        owner.rate = row->rate;
        const auto header = HeaderFor(owner, row->begin, check.samples);
        const FileDescriptor fd = work.files.OpenExisting(f[2]);
        if (!fd || !WriteAllAt(fd.get(), header.data(), header.size(), 0)) settled = false;
      }
    }
  }
  if (settled) work.lock.ClearNotes();
}

}  // namespace tarnvel
