// The output phase: every gathered segment to the QOR store or to CSS files, with progress.
#pragma once

#include <string>

#include "css/data_file_staging.h"
#include "seed/run_context.h"
#include "store/waveform_store.h"

namespace tarnvel {

struct OutputTarget {
  bool cssMode = false;
  std::string wfdiscPath;
  // Samples staged while the file was read (CSS output: data files); dropped before the
  // samples go.
  DataFileStaging* staging = nullptr;
  // CSS output: data files, folders and the wfdisc file are synced (off only with
  // TARNVEL_NO_SYNC=1).
  bool sync = true;
};

// The data file path of a segment: the file its first piece starts when the store gives it a
// new one ("<dataDir>/<STA>/<hh>/<ddmmyyyy>-<hhmmss>-<CH>.<STA>", ComposeWaveformCpath), from
// the start's local time. Names are expected in upper case already.
std::string DataFilePath(const DataDirectory& dataDir, const TraceSegment& segment);

// Writes every segment to the store or, in CSS mode, to CSS files, and releases them. Ends the
// output with "\n" and, when there were segments, the line saying what was written. Returns the
// number of segments that failed.
int WriteSegments(RunContext& context, WaveformStore& store, const OutputTarget& target);

}  // namespace tarnvel
