#include "css/css_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <exception>
#include <utility>

#include "css/data_file_staging.h"
#include "css/wfdisc_line.h"
#include "store/path_safety.h"
#include "store/posix_file.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}

// Creates every folder a file path names before its last component, from the root of an
// absolute path, and adds the folder holding each new one to `changed`. Folders that exist or
// cannot be made are passed over; links to folders are followed.
void CreateFoldersOf(const std::string& path, std::vector<std::string>& changed) {
  std::size_t pos = path.find('/', path.empty() || path[0] != '/' ? 0 : 1);
  while (pos != std::string::npos) {
    const std::string folder = path.substr(0, pos);
    if (!folder.empty() && folder.back() != ':' && ::mkdir(folder.c_str(), 0777) == 0) {
      const std::string parent = FolderOf(folder);
      changed.push_back(parent.empty() ? std::string(".") : parent);
    }
    pos = path.find('/', pos + 1);
  }
}

void AddOnce(std::vector<std::string>& folders, const std::string& folder) {
  if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
    folders.push_back(folder);
  }
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Opens the wfdisc file for appending, creating it when nothing stands at its name (`created`
// tells). Whatever stands there must be a regular file: a link at the name (dangling or not)
// is not followed, and a FIFO, socket or device is not opened for writing at all.
FileDescriptor OpenWfdiscFile(const std::string& path, bool& created) {
  created = false;
  FileDescriptor file =
      OpenFile(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0666);
  if (file) {
    created = true;
    return file;
  }
  if (errno != EEXIST) return {};
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  // Something may take its place in between: it is checked again once open, and a FIFO put
  // there does not keep the run waiting.
  file = OpenFile(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  if (!file || !IsRegularFile(file.get())) return {};
  if (::fcntl(file.get(), F_SETFL, O_APPEND) != 0) return {};
  return file;
}

}  // namespace

std::string ResolvedWfdiscPath(const DataDirectory& dataDir, std::string_view wfdiscPath) {
  std::string resolved(wfdiscPath);
  std::replace(resolved.begin(), resolved.end(), '\\', '/');
  return dataDir.ToAbsolutePath(resolved);
}

std::string CssDataFolder(const DataDirectory& dataDir, std::string_view wfdiscPath) {
  return FolderOf(ResolvedWfdiscPath(dataDir, wfdiscPath));
}

CssWriter::CssWriter(DataDirectory dataDir, DataFileStaging* staging, CssWriterOptions options)
    : dataDir_(std::move(dataDir)), staging_(staging), options_(options) {}

CssWriter::~CssWriter() {
  // A run that ends by a failure raised elsewhere still gets the lines of what it wrote.
  try {
    Finish();
  } catch (const std::exception&) {
    // Memory ran out: the data files of the lines held back stay without their lines.
  }
  if (staging_ != nullptr) staging_->Stop();
}

std::string CssWriter::FirstDataFilePath(const TraceSegment& segment,
                                         std::string_view wfdiscPath) const {
  return CssDataFolder(dataDir_, wfdiscPath) + WfdiscDataFileName(segment);
}

std::vector<std::string> CssWriter::TakeFailedDataFiles() {
  return std::exchange(failed_, {});
}

void CssWriter::Failed(const std::string& dataFile, const Identity* created) {
  if (created != nullptr) {
    // Removed only while the name still holds the file this writer created there.
    struct stat info {};
    if (::lstat(dataFile.c_str(), &info) == 0 && info.st_dev == created->device &&
        info.st_ino == created->inode) {
      ::unlink(dataFile.c_str());
    }
  }
  failed_.push_back(dataFile);
}

void CssWriter::UseWfdisc(std::string_view wfdiscPath) {
  if (wfdisc_ && wfdiscPath == wfdiscText_) return;
  if (wfdisc_) {
    Finish();
    wfdisc_.Close();
  }
  wfdiscText_ = wfdiscPath;
  resolved_ = ResolvedWfdiscPath(dataDir_, wfdiscPath);
  folder_ = FolderOf(resolved_);
}

bool CssWriter::OpenWfdisc() {
  if (wfdisc_) return true;
  CreateFoldersOf(resolved_, foldersToSync_);
  bool created = false;
  wfdisc_ = OpenWfdiscFile(resolved_, created);
  if (created) AddOnce(foldersToSync_, folder_.empty() ? std::string(".") : folder_);
  return static_cast<bool>(wfdisc_);
}

StoreResult CssWriter::WriteCssOutput(std::span<const TraceSegment* const> segments,
                                      std::string_view wfdiscPath, std::string_view program,
                                      int reserved1, int reserved2, int reserved3, int reserved4) {
  static_cast<void>(program);
  static_cast<void>(reserved1);
  static_cast<void>(reserved2);
  static_cast<void>(reserved3);
  static_cast<void>(reserved4);
  const std::size_t failedBefore = failed_.size();
  std::size_t done = 0;
  std::vector<const TraceSegment*> writable;
  try {
    UseWfdisc(wfdiscPath);
    // Codes become file names; none may lead out of the wfdisc folder. A segment whose line
    // cannot keep its columns is refused too, before anything is written.
    for (const TraceSegment* segment : segments) {
      const std::string name = WfdiscDataFileName(*segment);
      if (segment->HasSafeCodes() && !FormatWfdiscLines(*segment, name, std::tm{}).empty()) {
        writable.push_back(segment);
      } else {
        failed_.push_back(folder_ + name);
      }
    }
    if (writable.empty()) return sr::kCssWriteFailed;
    if (!OpenWfdisc()) {
      for (const TraceSegment* segment : writable) {
        failed_.push_back(folder_ + WfdiscDataFileName(*segment));
      }
      return sr::kFileOpenFailed;
    }
    segments = writable;
    for (; done < segments.size(); ++done) WriteSegment(*segments[done]);
    if (!options_.sync || held_.size() >= options_.mostHeld || HoldTooLong()) WriteHeldLines();
  } catch (const std::exception&) {
    if (done < segments.size()) failed_.push_back(folder_ + WfdiscDataFileName(*segments[done]));
    return sr::kCssWriteFailed;
  }
  return failed_.size() == failedBefore ? sr::kOk : sr::kCssWriteFailed;
}

void CssWriter::WriteSegment(const TraceSegment& segment) {
  const std::string firstName = WfdiscDataFileName(segment);
  FileDescriptor staged = staging_ != nullptr ? staging_->Take(segment) : FileDescriptor();
  FileDescriptor file;
  bool linked = false;  // the staged file, holding the samples already
  std::string name;
  std::string path;
  for (int serial = 0;; ++serial) {
    name = WfdiscDataFileName(segment, serial);
    if (name.size() > kWfdiscDataFileNameWidth) {
      // Every name that fits the dfile field is taken.
      Failed(folder_ + firstName, nullptr);
      return;
    }
    path = folder_ + name;
    if (writtenThisRun_.contains(NormalPath(path))) continue;
    if (staged) {
      if (DataFileStaging::Link(staged, path)) {
        file = std::move(staged);
        linked = true;
        break;
      }
      if (errno == EEXIST) continue;
      // The system links no unnamed file here: this one and what is still staged go first, so
      // that from here on the writes meet the disk as they would without staging.
      staged.Close();
      staging_->Abandon();
    }
    // Exclusively, and not through a link: whatever stands at the name passes it over.
    file = OpenFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0666);
    if (file) break;
    if (errno != EEXIST) {
      Failed(path, nullptr);
      return;
    }
  }
  writtenThisRun_.insert(NormalPath(path));
  AddOnce(foldersToSync_, folder_.empty() ? std::string(".") : folder_);

  struct stat info {};
  Identity identity;
  if (::fstat(file.get(), &info) == 0) identity = Identity{info.st_dev, info.st_ino};
  const auto count = static_cast<std::size_t>(std::max<std::int64_t>(segment.count, 0));
  if (!linked && !WriteFloatsLittleEndian(file.get(), segment.samples, 0, count)) {
    file.Close();
    Failed(path, &identity);
    return;
  }
  if (options_.sync) StartWriteBack(file.get(), 0, 0);

  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::string lines = FormatWfdiscLines(segment, name, utc);
  const auto lineCount = static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
  if (held_.empty()) heldSince_ = std::chrono::steady_clock::now();
  held_.push_back(Held{std::move(file), path, identity, std::move(lines), lineCount,
                       static_cast<std::int64_t>(count)});
}

bool CssWriter::HoldTooLong() const {
  return !held_.empty() && std::chrono::steady_clock::now() - heldSince_ >= options_.longestHeld;
}

void CssWriter::WriteHeldLines() {
  if (held_.empty()) return;
  std::vector<Held> held = std::exchange(held_, {});
  std::vector<bool> good(held.size(), true);
  if (options_.sync) {
    std::vector<int> files;
    for (const Held& h : held) files.push_back(h.file.get());
    good = SyncFilesData(files);
  }
  for (std::size_t i = 0; i < held.size(); ++i) {
    // A delayed write failure shows only at close.
    if (!held[i].file.Close()) good[i] = false;
  }
  // The new entries (data files, the wfdisc file, folders) before the lines that name them.
  const bool anyGood = std::find(good.begin(), good.end(), true) != good.end();
  if (options_.sync && anyGood) {
    bool synced = true;
    for (const std::string& folder : foldersToSync_) synced = SyncFolder(folder) && synced;
    if (synced) {
      foldersToSync_.clear();
    } else {
      std::fill(good.begin(), good.end(), false);
    }
  }
  std::string lines;
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (good[i]) lines += held[i].lines;
  }
  if (!lines.empty() && !AppendToWfdisc(lines)) std::fill(good.begin(), good.end(), false);
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (!good[i]) {
      Failed(held[i].path, &held[i].identity);
      continue;
    }
    tally_.lines += held[i].lineCount;
    tally_.dataFiles += 1;
    tally_.samples += held[i].samples;
    if (options_.sync) unsyncedLines_.push_back({held[i].path, held[i].lineCount, held[i].samples});
  }
}

bool CssWriter::AppendToWfdisc(const std::string& lines) {
  struct stat before {};
  const bool sized = ::fstat(wfdisc_.get(), &before) == 0;
  if (WriteAll(wfdisc_.get(), lines.data(), lines.size())) return true;
  // A part of the lines may have gone in: cut it off again, unless the file grew by more than
  // these lines (another writer appended too).
  struct stat after {};
  if (sized && ::fstat(wfdisc_.get(), &after) == 0 && after.st_size >= before.st_size &&
      after.st_size - before.st_size < static_cast<off_t>(lines.size())) {
    // Nothing more can be done when the cut fails too; the write error is reported either way.
    if (::ftruncate(wfdisc_.get(), before.st_size) != 0) return false;
  }
  return false;
}

void CssWriter::Finish() {
  WriteHeldLines();
  if (!options_.sync) return;
  if (!foldersToSync_.empty()) {
    bool synced = true;
    for (const std::string& folder : foldersToSync_) synced = SyncFolder(folder) && synced;
    if (synced) foldersToSync_.clear();
  }
  if (unsyncedLines_.empty()) return;
  if (!wfdisc_ || !SyncFileData(wfdisc_.get())) {
    // The lines may not last: their segments are reported failed. Their data files stay, as
    // lines that did reach the disk name them.
    for (const Named& named : unsyncedLines_) {
      failed_.push_back(named.path);
      tally_.lines -= named.lineCount;
      tally_.dataFiles -= 1;
      tally_.samples -= named.samples;
    }
  }
  unsyncedLines_.clear();
}

}  // namespace tarnvel
