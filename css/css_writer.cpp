// CSS output: one wfdisc line per segment, appended to the wfdisc file, and one .w file of
// little-endian floats per segment beside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <exception>
#include <vector>

#include "css/data_file_staging.h"
#include "css/wfdisc_line.h"
#include "store/path_safety.h"
#include "store/posix_file.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

// Creates every folder a file path names before its last component, from the root of an
// absolute path. Folders that exist or cannot be made are passed over.
void CreateFoldersOf(const std::string& path) {
  std::size_t pos = path.find('/', path.empty() || path[0] != '/' ? 0 : 1);
  while (pos != std::string::npos) {
    const std::string folder = path.substr(0, pos);
    if (!folder.empty() && folder.back() != ':') ::mkdir(folder.c_str(), 0777);
    pos = path.find('/', pos + 1);
  }
}

// Creates or truncates the data file and writes the segment's samples into it; a part of the
// samples is no data file, so a failed one is removed. A file staged while the SEED file was
// read is given the name instead.
bool WriteDataFile(const TraceSegment& segment, const std::string& path, DataFileStaging* staging) {
  if (staging != nullptr) {
    FileDescriptor staged = staging->Take(segment);
    if (staged && DataFileStaging::Link(staged, path)) {
      if (staged.Close()) return true;
      ::unlink(path.c_str());
      return false;
    }
    // A data file of that name from before the run is truncated and rewritten, as any file
    // that was not staged. What is still staged goes first, so that from here on the writes
    // meet the disk as they would without staging.
    if (staged) staging->Abandon();
  }
  FileDescriptor data = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (!data) return false;
  const auto count = static_cast<std::size_t>(std::max<std::int64_t>(segment.count, 0));
  const bool written = WriteFloatsLittleEndian(data.get(), segment.samples, 0, count);
  if (!data.Close() || !written) {
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

// The wfdisc path as the files are written: '/' separators, under the data directory when
// relative.
std::string ResolvedWfdiscPath(const DataDirectory& dataDir, std::string_view wfdiscPath) {
  std::string resolved(wfdiscPath);
  std::replace(resolved.begin(), resolved.end(), '\\', '/');
  return dataDir.ToAbsolutePath(resolved);
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

std::string WaveformStore::CssDataFolder(std::string_view wfdiscPath) const {
  return FolderOf(ResolvedWfdiscPath(dataDir_, wfdiscPath));
}

int WaveformStore::WriteCssOutput(std::span<const TraceSegment* const> segments,
                                  std::string_view wfdiscPath, std::string_view program,
                                  int reserved1, int reserved2, int reserved3, int reserved4) {
  static_cast<void>(program);
  static_cast<void>(reserved1);
  static_cast<void>(reserved2);
  static_cast<void>(reserved3);
  static_cast<void>(reserved4);
  try {
    const std::string resolved = ResolvedWfdiscPath(dataDir_, wfdiscPath);
    CreateFoldersOf(resolved);
    const std::string folder = FolderOf(resolved);

    // Codes become file names; none may lead out of the wfdisc folder.
    for (const TraceSegment* segment : segments) {
      if (!segment->HasSafeCodes()) return sr::kCssWriteFailed;
    }

    // Names and lines first: a segment whose line cannot keep its columns, or whose data file
    // name would not fit its field, is refused before anything is written.
    std::vector<std::string> segmentLines;
    std::vector<std::string> dataPaths;
    for (const TraceSegment* segment : segments) {
      // Two segments starting in one second get data files of their own.
      std::string name;
      for (int serial = 0;; ++serial) {
        name = WfdiscDataFileName(*segment, serial);
        if (name.size() > kWfdiscDataFileNameWidth) return sr::kCssWriteFailed;
        if (!writtenThisRun_.contains(NormalPath(folder + name))) break;
      }
      const std::time_t now = std::time(nullptr);
      std::tm utc{};
      gmtime_r(&now, &utc);
      segmentLines.push_back(FormatWfdiscLines(*segment, name, utc));
      if (segmentLines.back().empty()) return sr::kCssWriteFailed;
      dataPaths.push_back(folder + name);
      // Taken from here on, also for a later segment of this list.
      writtenThisRun_.insert(NormalPath(dataPaths.back()));
    }

    // The wfdisc file is readable like the data files beside it.
    FileDescriptor wfdisc = OpenFile(resolved, O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (!wfdisc) return sr::kFileOpenFailed;

    // Data files before their lines: a line never points to a file that was not written.
    std::string lines;
    bool allWritten = true;
    for (std::size_t i = 0; i < segments.size(); ++i) {
      if (!WriteDataFile(*segments[i], dataPaths[i], staging_)) {
        allWritten = false;
        continue;
      }
      lines += segmentLines[i];
    }
    const bool linesWritten = WriteAll(wfdisc.get(), lines.data(), lines.size());
    if (!wfdisc.Close() || !linesWritten) return sr::kCssWriteFailed;
    return allWritten ? sr::kOk : sr::kCssWriteFailed;
  } catch (const std::exception&) {
    return sr::kCssWriteFailed;
  }
}

}  // namespace tarnvel
