// CSS output: one wfdisc line per segment, appended to the wfdisc file, and one .w file of
// little-endian floats per segment beside it.
//
// The writer never destroys or follows what it did not write. A data file is created only
// under a name where nothing stands yet: a name taken by anything (a file of an earlier run, a
// folder, a link, dangling or not) passes the segment on to the next free name ("-1", "-2", as
// for segments of one run starting in the same second). The wfdisc file is appended to, and
// only when its name holds a regular file: never through a link, never into a FIFO or a device.
// A failure removes only the files this writer created.
//
// Durability: data files are synced, and then the folder holding their new entries, before
// the lines naming them are written; Finish syncs the wfdisc file. To keep the cost small the
// lines are held back and written for many data files at a time (up to mostHeld, or after
// longestHeld), after one round of syncs; each data file was already started on its way to the
// disk when it was written. A run cut short (killed, or a power cut) may leave data files of
// its last segments without their lines, never a line whose data file is missing or short.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "seed/trace_segment.h"
#include "settings/data_directory.h"
#include "store/posix_file.h"
#include "store/store_result.h"

namespace tarnvel {

class DataFileStaging;

// The wfdisc path as the files are written: '/' separators, under the data directory when
// relative.
std::string ResolvedWfdiscPath(const DataDirectory& dataDir, std::string_view wfdiscPath);

// The folder the data files of a wfdisc path go to, with its trailing '/' ("" for the working
// folder).
std::string CssDataFolder(const DataDirectory& dataDir, std::string_view wfdiscPath);

struct CssWriterOptions {
  // Sync data files, folders and the wfdisc file (off only with TARNVEL_NO_SYNC=1, for tests).
  // Without it every line is written right after its data file.
  bool sync = true;
  // Data files whose lines are held back at most, and for how long at most.
  std::size_t mostHeld = 64;
  std::chrono::milliseconds longestHeld{1000};
};

// What the writer has written: lines and the data files they name, with their samples.
struct CssTally {
  int lines = 0;
  int dataFiles = 0;
  long long samples = 0;
};

class CssWriter {
 public:
  // Relative wfdisc paths go under `dataDir`. `staging`: data files staged while the SEED file
  // was read, taken instead of writing the samples again (nullptr: none); it is stopped when
  // the writer goes.
  explicit CssWriter(DataDirectory dataDir, DataFileStaging* staging = nullptr,
                     CssWriterOptions options = {});
  ~CssWriter();  // Finish, then abandons the staging
  CssWriter(const CssWriter&) = delete;
  CssWriter& operator=(const CssWriter&) = delete;

  // Writes each segment's data file and its line(s) into the wfdisc file at `wfdiscPath`. The
  // program name and the four values are not used (callers pass "tarnvel" and zeros).
  //   kOk: every data file of the list is written; its lines follow, held back or now.
  //   kFileOpenFailed: the wfdisc file cannot be opened (or is no regular file): nothing is
  //     written.
  //   kCssWriteFailed: a data file failed, now or (held back) at the syncs of earlier ones.
  // Every failed segment is named by its data file in TakeFailedDataFiles.
  StoreResult WriteCssOutput(std::span<const TraceSegment* const> segments,
                             std::string_view wfdiscPath, std::string_view program, int reserved1,
                             int reserved2, int reserved3, int reserved4);

  // Writes the lines held back and syncs the wfdisc file: everything written so far is then on
  // stable storage. Writing may go on after it.
  void Finish();

  // The data files (full paths) of the segments that failed since the last call, in order.
  std::vector<std::string> TakeFailedDataFiles();

  // The data file a segment is named after first: where it goes when nothing stands there.
  std::string FirstDataFilePath(const TraceSegment& segment, std::string_view wfdiscPath) const;

  const CssTally& Tally() const { return tally_; }
  // The wfdisc file of the last call, as written (ResolvedWfdiscPath).
  const std::string& WfdiscPath() const { return resolved_; }

 private:
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
  };
  // A written data file whose lines are held back.
  struct Held {
    FileDescriptor file;
    std::string path;
    Identity identity;
    std::string lines;
    int lineCount = 0;
    std::int64_t samples = 0;
  };
  // A data file whose lines are written, until the wfdisc file is synced.
  struct Named {
    std::string path;
    int lineCount = 0;
    std::int64_t samples = 0;
  };

  void UseWfdisc(std::string_view wfdiscPath);
  bool OpenWfdisc();
  void WriteSegment(const TraceSegment& segment);
  bool HoldTooLong() const;
  // Syncs the held data files and their folders, then writes their lines.
  void WriteHeldLines();
  bool AppendToWfdisc(const std::string& lines);
  void Failed(const std::string& dataFile, const Identity* created);

  DataDirectory dataDir_;
  DataFileStaging* const staging_;
  const CssWriterOptions options_;

  std::string wfdiscText_;  // the path as the caller gave it
  std::string resolved_;
  std::string folder_;
  FileDescriptor wfdisc_;
  std::vector<std::string> foldersToSync_;  // with entries made since they were last synced
  std::vector<Held> held_;
  std::chrono::steady_clock::time_point heldSince_;
  std::vector<Named> unsyncedLines_;

  std::set<std::string> writtenThisRun_;  // data files this writer created (NormalPath)
  std::vector<std::string> failed_;
  CssTally tally_;
};

}  // namespace tarnvel
