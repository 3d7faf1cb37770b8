#include "converter/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "converter/command_line.h"
#include "converter/console.h"
#include "converter/console_wording.h"
#include "converter/output_phase.h"
#include "converter/reading_phase.h"
#include "converter/seed_file.h"
#include "converter/wfdisc_path.h"
#include "css/css_writer.h"
#include "settings/settings_reader.h"
#include "store/posix_file.h"
#include "store/waveform_store.h"

namespace tarnvel {
namespace {

// The SEED file failed: "<what> (<path>): <the reason errno gives>", and the run's code. Prints
// without allocating: memory may be what ran out.
int SeedFileFailure(const char* what, const std::string& path, int code, const char* lead = "") {
  std::printf("%s%s (%s): %s\n", lead, what, path.c_str(), std::strerror(errno));
  std::fflush(stdout);
  return code;
}

// Everything from the opened SEED file to the end of the run. Returns the process's code.
int ConvertOpenFile(const RunConfiguration& config, SeedFile& file, WaveformStore& store,
                    RunContext& context) {
  const RunOptions& options = config.options;
  int recordLength = -1;
  if (!DetermineRecordLength(config.settings.recordLength, file, recordLength)) {
    return SeedFileFailure(wording::kFileReadError, options.seedPath, exit_code::kFileReadFailed);
  }

  const std::int64_t fileSize = file.Size();  // -1 for a pipe or a FIFO
  const bool sync = config.settings.connection.syncFiles;
  std::optional<DataFileStaging> staging;  // ends before the segments' samples are released
  if (UsableRecordLength(recordLength)) {
    // Back to the first record; a pipe serves the bytes detection read once more.
    if (!file.Rewind()) {
      return SeedFileFailure(wording::kFileReadError, options.seedPath, exit_code::kFileReadFailed);
    }
    if (options.infoMode) {
      const std::int64_t viewLimit =
          fileSize < 0 ? options.viewLimit : std::min(options.viewLimit, fileSize);
      ReadForListing(file, recordLength, viewLimit, context);
      ListChannels(context, store);
      return exit_code::kOk;
    }
    // Long segments' samples are written on a second thread while the file is still being
    // read, and leave memory once written. A CSS conversion writes them into its data files,
    // which become visible only when the output phase names them; a conversion into the store
    // writes each hour piece into an unnamed file of the data directory's file system, which
    // the output phase names where the piece becomes a new waveform file.
    staging.emplace(config.wfdisc.cssMode ? CssDataFolder(store.Directory(), config.wfdisc.path)
                                          : store.Directory().Text(),
                    RunStagingLimits(), sync,
                    config.wfdisc.cssMode ? StagingLayout::kDataFiles : StagingLayout::kHourPieces);
    context.growth = &*staging;
    const ReadingSummary summary = ReadForConversion(file, recordLength, fileSize, context);
    context.growth = nullptr;
    staging->Settle();
    std::printf("\n\n");
    ReportIgnoredRecords(summary, context);
  }

  const int failed = WriteSegments(
      context, store,
      OutputTarget{config.wfdisc.cssMode, config.wfdisc.path, staging ? &*staging : nullptr, sync});
  return failed > 0 ? exit_code::kWriteFailed : exit_code::kOk;
}

}  // namespace

int RunConverter(const std::vector<std::string>& args) {
  RunContext context;
  RunOptions options;
  const ParseResult parsed = ParseCommandLine(args, options, context.window, context.filter);
  if (parsed.outcome == ParseOutcome::kHelp) {
    PrintHelp(stdout);
    std::fflush(stdout);
    WaitForKey();
    return exit_code::kOk;
  }
  if (parsed.outcome == ParseOutcome::kArgumentError) {
    std::fputs(parsed.message.c_str(), stdout);
    std::fflush(stdout);
    return exit_code::kOk;
  }

  RunConfiguration config{std::move(options), SettingsReader(args).LoadConverterSettings(), {}};
  config.wfdisc = ResolveWfdiscPath(config.settings.css, config.options.seedPath);
  if (config.wfdisc.errorPath) std::printf("Incorrect path to WFDISC-file\n");
  const std::string& seedPath = config.options.seedPath;

  // Both close themselves when the run ends, whichever way it ends.
  WaveformStore store(config.settings.connection);
  if (!store.Connect()) {
    std::printf("%s (ODBC: %s, USER: %s)\n", wording::kConnectionError,
                config.settings.connection.odbc.c_str(), config.settings.connection.user.c_str());
    std::fflush(stdout);
    return exit_code::kConnectionFailed;
  }
  SeedFile file;
  if (!file.Open(seedPath)) {
    return SeedFileFailure(wording::kFileOpenError, seedPath, exit_code::kFileOpenFailed);
  }

  // Any failure raised from here on (exhausted memory above all) ends the run with a read error.
  try {
    return ConvertOpenFile(config, file, store, context);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  } catch (const std::exception&) {
    if (errno == 0) errno = EIO;
  }
  return SeedFileFailure(wording::kFileReadError, seedPath, exit_code::kFileReadFailed, "\r");
}

}  // namespace tarnvel
