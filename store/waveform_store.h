// The converter's store: the ODBC connection to the QOR database, the FILELIST bookkeeping,
// the waveform files under the data directory, the SITECHAN lookup and the CSS writer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "seed/sample_buffer.h"
#include "seed/trace_segment.h"
#include "store/odbc_statement.h"
#include "store/schema_names.h"
#include "store/store_result.h"

namespace tarnvel {

// Free space of the file system holding a path; std::nullopt when it cannot be asked.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const std::string& path)>;

class WaveformStore {
 public:
  WaveformStore();
  ~WaveformStore();  // disconnects
  WaveformStore(const WaveformStore&) = delete;
  WaveformStore& operator=(const WaveformStore&) = delete;

  // ---- connection ----
  // Keys "odbc", "user", "password", "data", "use_tend" (case ignored); -113 for another key.
  // "data" turns '/' into '\' in the caller's text too.
  int SetOption(std::string_view key, std::string& value);
  bool Connect();
  void Disconnect();
  bool ProbeFileList();
  bool IsConnected() const { return static_cast<bool>(connection_); }
  bool UseEndTime() const { return useEndTime_; }
  const SchemaNames& Names() const { return names_; }
  const std::string& DataDirectory() const { return dataDir_; }  // '\' separators
  SQLHDBC ConnectionHandle() const { return connection_.get(); }
  SQLHENV EnvironmentHandle() const { return environment_.get(); }

  // ---- SITECHAN ----
  int CheckSiteChan(std::string_view station, std::string_view channel,
                    std::string_view location, double rate, double& siteChanRate);

  // ---- FILELIST bookkeeping ----
  int DeleteFileEntry(std::string_view station, std::string_view channel,
                      std::string_view location, double start, std::string_view path);
  int StoreSegment(const SampleBuffer& samples, std::int64_t count, std::string_view station,
                   std::string_view channel, std::string_view location, std::string_view path,
                   double start, double end, std::string_view creator, double rate,
                   double calibration, double calibrationPeriod);

  // ---- waveform files ----
  void ToRelativePath(std::string& path) const;
  std::string ToAbsolutePath() const;  // of the current file path, '\' separators
  static bool MakeDirectoryPath(std::string_view path);
  int WriteSamples(std::size_t first, std::size_t count, bool create, std::string_view cpath);
  int WriteFileHeader();

  // ---- CSS output ----
  int WriteCssOutput(std::span<const TraceSegment* const> segments, std::string_view wfdiscPath,
                     std::string_view program, int reserved1, int reserved2, int reserved3,
                     int reserved4);

  // Test and tool hooks.
  void SetFreeSpaceProbe(FreeSpaceProbe probe) { freeSpace_ = std::move(probe); }
  const std::string& CurrentFilePath() const { return currentPath_; }

 private:
  int StorePieces(const SampleBuffer& samples, std::int64_t count);
  int FindLastFile(double& lastBegin, double& lastQty, std::string& lastPath);
  // `removed` receives the CPATH of every file the quota deleted.
  int EnforceChannelQuota(double lastQty, std::set<std::string>& removed);
  int InsertFileRow(int dataOffset);
  // The row is picked by its CPATH as well, so two files starting in one second stay apart.
  int UpdateFileRow(double lastBegin, double lastQty, const std::string& cpath);
  void RunEndTimeColumnCheck();

  // connection
  std::string source_ = "qor";
  std::string user_ = "qor";
  std::string password_ = "zun";
  std::string dataDir_ = "D:\\Data";
  bool useEndTime_ = true;
  tarnvel::EnvironmentHandle environment_;
  tarnvel::ConnectionHandle connection_;
  SchemaNames names_;

  // segment being stored
  const SampleBuffer* samples_ = nullptr;
  std::string station_;
  std::string channel_;
  std::string location_;
  std::string currentPath_;
  std::string creator_;
  double start_ = 0.0;
  double duration_ = 0.0;
  double end_ = 0.0;
  double rate_ = 0.0;
  double calibration_ = 0.0;
  double calibrationPeriod_ = 0.0;
  // Files this run created or rewrote; a later segment never truncates one of them.
  std::set<std::string> writtenThisRun_;

  FreeSpaceProbe freeSpace_;

  // ---- waveform file and FILELIST helpers ----
  std::string AbsoluteOf(std::string_view path) const;  // the ToAbsolutePath rule, '\' form
  std::string DataDirWithSlashes() const;
  std::string FileListLocationPredicate(bool bracketExplicit) const;
  int WriteFileHeaderFor(const std::string& cpath);
  int DeleteRowsOfPath(const std::string& cpath);
  std::optional<std::uint64_t> FreeSpace() const;
  std::int64_t appendedFrom_ = -1;  // size of the file the last append extended, before it
};

}  // namespace tarnvel
