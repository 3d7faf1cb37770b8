// Waveform files under the data directory: path rules between CPATH values and paths on disk,
// directory creation, writing samples and rewriting the 512-byte header from the file's row.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "settings/text_case.h"
#include "store/path_safety.h"
#include "store/posix_file.h"
#include "store/waveform_header.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

std::string WithSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::string WithBackslashes(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// The data directory ('\' form) without trailing separators, except a lone root "\".
std::string TrimmedDirectory(const std::string& dataDir) {
  std::string dir = WithBackslashes(dataDir);
  while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
  return dir;
}

// Whether `path` ('\' form) lies at or below `dir` (trimmed, '\' form), letter case ignored:
// "D:\Data2" is not below "D:\Data".
bool BeginsWithDirectory(std::string_view path, std::string_view dir) {
  if (dir.empty() || !StartsWithIgnoreCase(path, dir)) return false;
  return path.size() == dir.size() || dir.back() == '\\' || path[dir.size()] == '\\';
}

bool MakeOneDirectory(const std::string& path) {
  return ::mkdir(WithSlashes(path).c_str(), 0777) == 0 || errno == EEXIST;
}

std::tm LocalTimeOf(double epoch) {
  const auto seconds = static_cast<std::time_t>(std::floor(epoch));  // also before 1970
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

}  // namespace

std::string WaveformStore::DataDirWithSlashes() const {
  return WithSlashes(TrimmedDirectory(dataDir_));
}

void WaveformStore::ToRelativePath(std::string& path) const {
  path = WithBackslashes(path);
  const std::string dir = TrimmedDirectory(dataDir_);
  // A network share keeps its full path; a POSIX absolute data directory ("\srv\qor") does not.
  if (path.rfind("\\\\", 0) == 0) return;
  if (!BeginsWithDirectory(path, dir)) return;
  const std::size_t cut = dir.back() == '\\' ? dir.size() : dir.size() + 1;
  path.erase(0, std::min(cut, path.size()));
}

std::string WaveformStore::AbsoluteOf(std::string_view path) const {
  std::string p = WithBackslashes(std::string(path));
  const std::string dir = TrimmedDirectory(dataDir_);
  // Without a data directory paths stay relative to the working folder.
  if (dir.empty()) return p;
  if (BeginsWithDirectory(p, dir)) return p;
  if (!p.empty() && p[0] == '\\') return p;
  if (p.size() > 1 && p[1] == ':') return p;
  return dir.back() == '\\' ? dir + p : dir + "\\" + p;
}

std::string WaveformStore::ToAbsolutePath() const {
  return AbsoluteOf(currentPath_);
}

bool WaveformStore::MakeDirectoryPath(std::string_view path) {
  const std::string text(path);
  const char separator = text.find('\\') != std::string::npos ? '\\' : '/';
  if (text.rfind("\\\\", 0) == 0 || text.rfind("//", 0) == 0) return MakeOneDirectory(text);
  // An absolute POSIX path keeps its root.
  std::string prefix = !text.empty() && text[0] == separator ? std::string(1, separator) : "";
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t next = text.find(separator, pos);
    if (next == std::string::npos) next = text.size();
    const std::string part = text.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty()) continue;
    prefix += part;
    prefix += separator;
    if (part.back() != '/' && part.back() != ':' && !MakeOneDirectory(prefix)) return false;
  }
  return true;
}

int WaveformStore::WriteSamples(std::size_t first, std::size_t count, bool create,
                                std::string_view cpath) {
  if (samples_ == nullptr) return sr::kFileOpenFailed;
  if (!create) {
    currentPath_ = std::string(cpath);
    const std::string path = WithSlashes(ToAbsolutePath());
    FileDescriptor fd = OpenFile(path, O_WRONLY);
    if (!fd) return sr::kFileOpenFailed;
    const off_t before = ::lseek(fd.get(), 0, SEEK_END);
    if (before < 0) return sr::kFileWriteFailed;
    appendedFrom_ = before;
    writtenThisRun_.insert(NormalPath(path));
    if (!WriteFloatsLittleEndian(fd.get(), *samples_, first, count)) {
      // Leave the file as it was: its row still describes the samples it held before.
      if (::ftruncate(fd.get(), before) != 0) {
        // Nothing more can be done here; the failure is reported all the same.
      }
      return sr::kFileWriteFailed;
    }
    return fd.Close() ? sr::kOk : sr::kFileWriteFailed;
  }

  // Codes become path components; never let one lead out of the data directory.
  if (!IsSafePathComponent(station_) || !IsSafePathComponent(channel_)) {
    return sr::kFileOpenFailed;
  }
  const std::tm t = LocalTimeOf(start_);
  const std::string dir = TrimmedDirectory(dataDir_);
  const std::string stationDir = dir.empty() ? station_ : dir + "\\" + station_;
  char hour[8];
  std::snprintf(hour, sizeof hour, "%02d", t.tm_hour);
  const std::string hourDir = stationDir + "\\" + hour;
  MakeOneDirectory(stationDir);
  MakeOneDirectory(hourDir);

  // A file this run wrote is never truncated: a second file of the same second gets a serial.
  std::string path;
  for (int serial = 0;; ++serial) {
    path = WithSlashes(hourDir + "\\" + ComposeWaveformFileName(t, channel_, station_, serial));
    if (!writtenThisRun_.contains(NormalPath(path))) break;
  }
  if (!dir.empty() && !IsInsideDirectory(path, WithSlashes(dir))) return sr::kFileOpenFailed;
  currentPath_ = WithBackslashes(path);

  FileDescriptor fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (!fd) {
    std::printf("\n\nOpen Err: \n%s\n", path.c_str());
    std::fflush(stdout);
    return sr::kFileOpenFailed;
  }
  writtenThisRun_.insert(NormalPath(path));
  const std::array<char, kWaveformHeaderSize> placeholder{};
  const bool written = WriteAll(fd.get(), placeholder.data(), placeholder.size()) &&
                       WriteFloatsLittleEndian(fd.get(), *samples_, first, count);
  if (!fd.Close() || !written) {
    ::unlink(path.c_str());
    return sr::kFileWriteFailed;
  }
  return sr::kOk;
}

int WaveformStore::WriteFileHeader() {
  std::string cpath = currentPath_;
  ToRelativePath(cpath);
  return WriteFileHeaderFor(WithSlashes(cpath));
}

int WaveformStore::WriteFileHeaderFor(const std::string& cpath) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const TableId fl = TableId::kFileList;
  const std::string& lengthColumn = names_.Column(fl, useEndTime_ ? "TEND" : "TQTY");
  const std::string text = FormatStatement(
      "select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s and %s='%s' and %s='%s'",
      names_.Column(fl, "SPS").c_str(), names_.Column(fl, "FOFF").c_str(),
      names_.Column(fl, "TBEGIN").c_str(), lengthColumn.c_str(), names_.Table(fl).c_str(),
      names_.Column(fl, "STA").c_str(), SqlText(station_).c_str(), names_.Column(fl, "CH").c_str(),
      SqlText(channel_).c_str(), FileListLocationPredicate(false).c_str(),
      names_.Column(fl, "CREATER").c_str(), SqlText(creator_).c_str(),
      names_.Column(fl, "CPATH").c_str(), SqlText(cpath).c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return sr::kStatementFailed;
  double rate = 0.0;
  std::int32_t offset = 0;
  double begin = 0.0;
  double fourth = 0.0;
  statement.BindDouble(1, rate);
  statement.BindLong(2, offset);
  statement.BindDouble(3, begin);
  statement.BindDouble(4, fourth);
  if (!OdbcSucceeded(statement.Fetch())) return sr::kStatementFailed;
  statement.CloseCursor();

  const double length = useEndTime_ ? fourth - begin : fourth;
  const auto header =
      FormatHeaderText(LocalTimeOf(begin), length, rate_, station_, channel_, location_);
  const std::string path = WithSlashes(AbsoluteOf(cpath));
  FileDescriptor fd = OpenFile(path, O_WRONLY);
  if (!fd) return sr::kFileOpenFailed;
  std::size_t done = 0;
  while (done < header.size()) {
    const ssize_t n =
        ::pwrite(fd.get(), header.data() + done, header.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return sr::kFileWriteFailed;
    done += static_cast<std::size_t>(n);
  }
  return fd.Close() ? sr::kOk : sr::kFileWriteFailed;
}

std::optional<std::uint64_t> WaveformStore::FreeSpace() const {
  std::string dir = DataDirWithSlashes();
  if (dir.empty()) dir = ".";
  if (freeSpace_) return freeSpace_(dir);
  struct statvfs info {};
  if (::statvfs(dir.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

}  // namespace tarnvel
