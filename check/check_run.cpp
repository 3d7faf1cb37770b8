#include "check/check_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "check/check_options.h"
#include "check/coverage.h"
#include "check/disk_checks.h"
#include "check/disk_walk.h"
#include "check/json_line.h"
#include "check/lock_checks.h"
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

// Everything the checks look at, gathered once.
struct Survey {
  std::vector<DiskEntry> disk;
  std::vector<RegisteredFile> rows;  // the whole of FILELIST
};

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
  const StoreFiles files(store.Directory());
  Survey survey;
  if (!WalkDataDirectory(store.Directory(), survey.disk)) {
    return Failure(out, options.json, wording::kDataDirectoryError,
                   store.Directory().Text() + ": " + std::strerror(errno),
                   exit_code::kDataDirectoryUnreadable);
  }

  Report report(out, options.json);
  std::vector<Finding> findings;
  std::set<std::string> busy;
  CheckLocks(files, survey.disk, options.filter, nullptr, report, busy, findings);

  if (SurveyFileList(store, [&survey](RegisteredFile&& row) {
        survey.rows.push_back(std::move(row));
      }) != store_result::kOk) {
    return Failure(out, options.json, wording::kFileListReadError,
                   "ODBC: " + settings.odbc + ", USER: " + settings.user,
                   exit_code::kConnectionFailed);
  }

  Totals totals;
  std::map<std::string, int> registrations;
  for (const RegisteredFile& row : survey.rows) ++registrations[row.file.cpath];
  std::set<std::string> registered;
  for (const auto& [cpath, count] : registrations) registered.insert(cpath);

  std::vector<CheckedRow> checked;
  std::set<std::string> counted;  // files counted in the totals
  for (RegisteredFile& row : survey.rows) {
    if (!PassesChannelFilter(options.filter, row.station, row.channel, row.location) ||
        !InTimeWindow(options.window, row.file.begin, RowEnd(row))) {
      continue;
    }
    checked.push_back(CheckRow(files, std::move(row), store.UseEndTime(), findings));
    const CheckedRow& done = checked.back();
    ++totals.rows;
    if (done.regularFile && counted.insert(done.row.file.cpath).second) {
      ++totals.files;
      totals.bytes += done.row.file.disk.size;
    }
  }
  FindPathsRegisteredTwice(checked, registrations, store.Directory(), findings);
  FindOverlaps(checked, store.Directory(), findings);
  FindDiskProblems(files, survey.disk, registered, options.filter, busy, findings, totals);

  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return std::tie(a.relative, a.problem.kind) < std::tie(b.relative, b.problem.kind);
  });
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
