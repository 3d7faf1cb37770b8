#include "check/check_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "check/check_options.h"
#include "check/coverage.h"
#include "check/disk_checks.h"
#include "check/disk_walk.h"
#include "check/json_line.h"
#include "check/lock_checks.h"
#include "check/repair.h"
#include "check/report.h"
#include "check/row_checks.h"
#include "converter/console_wording.h"
#include "seed/seed_record.h"
#include "settings/settings_reader.h"
#include "store/filelist_survey.h"
#include "store/waveform_store.h"

namespace tarnvel::check {
namespace {

// A failure that ends the run: a line of text, or with --json an object of type "error".
int Failure(std::FILE* out, bool json, const std::string& what, const std::string& detail,
            int code) {
  if (json) {
    std::fprintf(out, "%s\n",
                 JsonLine()
                     .Text("type", "error")
                     .Text("error", what)
                     .Text("detail", detail)
                     .Object()
                     .c_str());
  } else {
    std::fprintf(out, "%s (%s)\n", what.c_str(), detail.c_str());
  }
  std::fflush(out);
  return code;
}

// What one look over the store found.
struct Pass {
  Totals totals;
  std::vector<Finding> findings;
  std::vector<CheckedRow> checked;
  std::set<std::string> busy;  // channels a converter holds (BusyKey)
};

// Looks over the store once: the lock files (settled with `settler`), the rows of the selection
// against their files, what lies below the data directory. A failure: the line is printed and
// its exit code returned.
std::optional<int> LookOver(WaveformStore& store, const ResolvedSettings& settings,
                            const CheckOptions& options, LockSettler* settler, Report* report,
                            std::FILE* out, Pass& pass) {
  const StoreFiles files(store.Directory());
  std::vector<DiskEntry> disk;
  if (!WalkDataDirectory(store.Directory(), disk)) {
    return Failure(out, options.json, wording::kDataDirectoryError,
                   store.Directory().Text() + ": " + std::strerror(errno),
                   exit_code::kDataDirectoryUnreadable);
  }
  CheckLocks(files, disk, options.filter, settler, report, pass.busy, pass.findings);
  if (settler != nullptr) {
    // Settling may have put files in place or removed them.
    disk.clear();
    WalkDataDirectory(store.Directory(), disk);
  }

  std::vector<RegisteredFile> rows;
  if (SurveyFileList(store, [&rows](RegisteredFile&& row) { rows.push_back(std::move(row)); }) !=
      store_result::kOk) {
    return Failure(out, options.json, wording::kFileListReadError,
                   "ODBC: " + settings.odbc + ", USER: " + settings.user,
                   exit_code::kConnectionFailed);
  }
  std::map<std::string, int> registrations;
  for (const RegisteredFile& row : rows) ++registrations[row.file.cpath];
  std::set<std::string> registered;
  for (const auto& [cpath, count] : registrations) registered.insert(cpath);

  std::set<std::string> counted;  // files counted in the totals
  for (RegisteredFile& row : rows) {
    if (!PassesChannelFilter(options.filter, row) ||
        !InTimeWindow(options.window, row.file.begin, RowEnd(row))) {
      continue;
    }
    pass.checked.push_back(CheckRow(files, std::move(row), store.UseEndTime(), pass.findings));
    const CheckedRow& done = pass.checked.back();
    ++pass.totals.rows;
    if (done.regularFile && counted.insert(done.row.file.cpath).second) {
      ++pass.totals.files;
      pass.totals.bytes += done.row.file.disk.size;
    }
  }
  FindPathsRegisteredTwice(pass.checked, registrations, store.Directory(), pass.findings);
  FindOverlaps(pass.checked, store.Directory(), pass.findings);
  FindDiskProblems(files, disk, registered, options.filter, pass.busy, pass.findings, pass.totals);
  std::stable_sort(
      pass.findings.begin(), pass.findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.relative, a.problem.kind) < std::tie(b.relative, b.problem.kind);
      });
  return std::nullopt;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args, std::FILE* out) {
  CheckOptions options;
  const ParseResult parsed = ParseCheckCommandLine(args, options);
  if (parsed.outcome == ParseOutcome::kHelp) {
    std::fputs(kUsage, out);
    return exit_code::kClean;
  }
  if (parsed.outcome == ParseOutcome::kArgumentError) {
    std::fputs(parsed.message.c_str(), out);
    std::fputs(kUsage, out);
    return exit_code::kArguments;
  }

  const ResolvedSettings settings = SettingsReader(args).LoadAndGetSettings();
  WaveformStore store(settings);
  if (!store.Connect()) {
    return Failure(out, options.json, wording::kConnectionError,
                   "ODBC: " + settings.odbc + ", USER: " + settings.user,
                   exit_code::kConnectionFailed);
  }
  Report report(out, options.json);
  Pass pass;
  if (options.repair) {
    StoreRepairs repairs(store, options.registerOrphans);
    Pass before;
    if (auto failed = LookOver(store, settings, options, &repairs, &report, out, before)) {
      return *failed;
    }
    for (const Finding& finding : before.findings) {
      const ChannelName& channel = finding.problem.channel;
      if (before.busy.contains(BusyKey(channel.station, channel.channel))) continue;
      if (const auto action = repairs.Repair(finding, before.checked)) {
        report.Repaired(finding.problem, *action);
      }
    }
    // What is left is what the store holds now.
    pass.busy = before.busy;
  }
  if (auto failed = LookOver(store, settings, options, nullptr, options.repair ? nullptr : &report,
                             out, pass)) {
    return *failed;
  }
  const Totals& totals = pass.totals;
  const std::vector<Finding>& findings = pass.findings;
  const std::vector<CheckedRow>& checked = pass.checked;
  for (const Finding& finding : findings) report.Found(finding.problem);
  if (options.coverage) {
    for (const CoverageSpan& span : ChannelCoverage(checked, options.window)) {
      report.Coverage(span);
    }
  }
  report.Summary(totals);
  return report.problems() > 0 ? exit_code::kProblems : exit_code::kClean;
}

}  // namespace tarnvel::check
