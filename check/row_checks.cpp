#include "check/row_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "check/report.h"
#include "store/file_header.h"

namespace tarnvel::check {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderTag = "[QOR5.x]\r\n";

Finding RowFinding(ProblemKind kind, const RegisteredFile& row, const DataDirectory& directory,
                   std::string detail = {}) {
  Finding finding;
  finding.problem.kind = kind;
  finding.problem.channel = ChannelOf(row);
  finding.problem.path = directory.ToAbsolutePath(row.file.cpath);
  finding.problem.detail = std::move(detail);
  finding.relative = row.file.cpath;
  finding.row = row;
  return finding;
}

std::string Bytes(std::int64_t samples) {
  return std::to_string(kDataOffset + 4 * samples);
}

}  // namespace

std::optional<std::string> HeaderField(std::string_view header, std::string_view key) {
  const std::string needle = std::string(kLineEnd) + std::string(key) + "=";
  const std::size_t at = header.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t from = at + needle.size();
  const std::size_t to = header.find(kLineEnd, from);
  if (to == std::string_view::npos) return std::nullopt;
  return std::string(header.substr(from, to - from));
}

std::string HeaderDisagreement(const std::string& header, const std::string& expected) {
  const std::string_view text(header.data(), ::strnlen(header.data(), header.size()));
  if (text.substr(0, kHeaderTag.size()) != kHeaderTag) return "no [QOR5.x] header";
  std::string detail;
  // Every line of the expected header after its tag: "Key=value".
  for (std::size_t at = expected.find(kLineEnd); at != std::string::npos;) {
    const std::size_t from = at + kLineEnd.size();
    const std::size_t to = expected.find(kLineEnd, from);
    if (to == std::string::npos) break;
    const std::string line = expected.substr(from, to - from);
    at = to;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string want = line.substr(equals + 1);
    const std::optional<std::string> have = HeaderField(text, key);
    if (have == want) continue;
    if (!detail.empty()) detail += ", ";
    detail +=
        have ? key + "=" + *have + " (row: " + want + ")" : "no " + key + " (row: " + want + ")";
  }
  return detail;
}

CheckedRow CheckRow(const StoreFiles& files, RegisteredFile row, bool useEndTime,
                    std::vector<Finding>& findings) {
  const DataDirectory& directory = files.Directory();
  CheckedRow checked;
  ChannelFile& file = row.file;
  if (!IsStoreRelativePath(file.cpath)) {
    findings.push_back(
        RowFinding(ProblemKind::kForeignPath, row, directory, "the store opens no such path"));
    checked.row = std::move(row);
    return checked;
  }
  const FileDescriptor fd = files.OpenForReading(file.cpath);
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    const int error = errno;
    file.disk = files.Stat(file.cpath);
    checked.check = CheckFileAgainstRow(file);
    if (file.disk.kind == StoreFiles::Kind::kMissing) {
      findings.push_back(RowFinding(ProblemKind::kMissing, row, directory));
    } else if (file.disk.kind == StoreFiles::Kind::kOther) {
      findings.push_back(RowFinding(ProblemKind::kNotAFile, row, directory,
                                    "a link, a folder or a device, or a path through a link"));
    } else {
      findings.push_back(
          RowFinding(ProblemKind::kUnreadable, row, directory, std::strerror(error)));
    }
    checked.row = std::move(row);
    return checked;
  }
  checked.regularFile = true;
  file.disk =
      StoreFiles::Entry{StoreFiles::Kind::kRegularFile, static_cast<std::int64_t>(st.st_size)};
  if (file.offset != kDataOffset) {
    // Another program's layout: only its presence is the store's to check.
    checked.check = FileCheck{FileState::kMatches, 0};
    checked.row = std::move(row);
    return checked;
  }
  checked.check = CheckFileAgainstRow(file);
  const std::int64_t registered = SamplesOfRow(file).nominal;
  if (checked.check.state == FileState::kLonger) {
    findings.push_back(RowFinding(ProblemKind::kLonger, row, directory,
                                  std::to_string(file.disk.size) + " bytes, its row registers " +
                                      Bytes(checked.check.samples)));
    findings.back().check = checked.check;
  } else if (checked.check.state == FileState::kShorter) {
    findings.push_back(RowFinding(
        ProblemKind::kShorter, row, directory,
        std::to_string(file.disk.size) + " bytes, its row registers " + Bytes(registered)));
    findings.back().check = checked.check;
  }

  std::string header(static_cast<std::size_t>(std::min<std::int64_t>(file.disk.size, kDataOffset)),
                     '\0');
  const ssize_t got = ::pread(fd.get(), header.data(), header.size(), 0);
  header.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  // The header the store gives the file for what its row registers.
  const std::int64_t samples =
      checked.check.state == FileState::kMatches ? checked.check.samples : registered;
  const auto expected =
      StoreHeaderOf(row, file.rate, file.begin, samples, useEndTime && file.end.has_value());
  const std::string disagreement = HeaderDisagreement(
      header, std::string(expected.data(), ::strnlen(expected.data(), expected.size())));
  if (!disagreement.empty()) {
    findings.push_back(RowFinding(ProblemKind::kHeader, row, directory, disagreement));
    findings.back().check = checked.check;
    findings.back().lengthOnly = disagreement.rfind("Time duration=", 0) == 0 &&
                                 disagreement.find(", ") == std::string::npos;
  }
  checked.row = std::move(row);
  return checked;
}

std::int64_t StoredSamples(const CheckedRow& row) {
  if (!row.regularFile) return 0;
  if (row.row.file.offset != kDataOffset) return SamplesOfRow(row.row.file).nominal;
  return row.check.samples;
}

double RowEnd(const RegisteredFile& row) {
  const double rate = row.file.rate;
  if (!(rate > 0.0)) return row.file.begin;
  return row.file.begin + static_cast<double>(SamplesOfRow(row.file).nominal) / rate;
}

void FindPathsRegisteredTwice(const std::vector<CheckedRow>& rows,
                              const std::map<std::string, int>& registrations,
                              const DataDirectory& directory, std::vector<Finding>& findings) {
  std::set<std::string> named;
  for (const CheckedRow& row : rows) {
    const auto found = registrations.find(row.row.file.cpath);
    if (found == registrations.end() || found->second < 2 || !named.insert(found->first).second) {
      continue;
    }
    findings.push_back(RowFinding(ProblemKind::kTwice, row.row, directory,
                                  "registered by " + std::to_string(found->second) + " rows"));
  }
}

void FindOverlaps(const std::vector<CheckedRow>& rows, const DataDirectory& directory,
                  std::vector<Finding>& findings) {
  std::map<ChannelKey, std::vector<const RegisteredFile*>> channels;
  for (const CheckedRow& row : rows) {
    const RegisteredFile& r = row.row;
    if (r.file.offset != kDataOffset || !(r.file.rate > 0.0)) continue;
    channels[r].push_back(&r);
  }
  for (auto& [key, list] : channels) {
    std::sort(list.begin(), list.end(), [](const RegisteredFile* a, const RegisteredFile* b) {
      return std::tie(a->file.begin, a->file.cpath) < std::tie(b->file.begin, b->file.cpath);
    });
    std::vector<const RegisteredFile*> open;  // rows whose span reaches past the current start
    for (const RegisteredFile* row : list) {
      const double begin = row->file.begin;
      std::erase_if(open, [&](const RegisteredFile* earlier) {
        return RowEnd(*earlier) - SameTimeWindow(earlier->file.rate) <= begin;
      });
      for (const RegisteredFile* earlier : open) {
        if (earlier->file.cpath == row->file.cpath) continue;  // registered twice: its own kind
        const double rate = earlier->file.rate;
        const bool sameRate = SameRowRate(rate, row->file.rate);
        // On one grid, the same sample times; shifted off it, other samples.
        if (sameRate && !SlotAt(begin, rate, earlier->file.begin)) continue;
        const double until = std::min(RowEnd(*earlier), RowEnd(*row));
        findings.push_back(RowFinding(ProblemKind::kOverlap, *row, directory,
                                      "the times " + UtcText(begin) + " - " + UtcText(until) +
                                          " are also stored in " +
                                          directory.ToAbsolutePath(earlier->file.cpath)));
      }
      open.push_back(row);
    }
  }
}

}  // namespace tarnvel::check
