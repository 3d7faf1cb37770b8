#include "converter/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

#include "converter/command_line.h"
#include "converter/console.h"
#include "converter/console_wording.h"
#include "converter/output_phase.h"
#include "converter/reading_phase.h"
#include "converter/seed_file.h"
#include "converter/wfdisc_path.h"
#include "settings/settings_reader.h"
#include "store/waveform_store.h"

namespace tarnvel {
namespace {

void HandOverSettings(WaveformStore& store, RunOptions& options) {
  store.SetOption("odbc", options.odbc);
  store.SetOption("user", options.user);
  store.SetOption("password", options.password);
  store.SetOption("data", options.dataDir);
  std::string useTend = options.useTend ? "1" : "0";
  store.SetOption("use_tend", useTend);
}

// A read failure before the first record: the error line, and the run ends with -3.
int FailBeforeReading(const RunOptions& options, SeedFile& file, WaveformStore& store) {
  std::printf("%s (%s): %s\n", wording::kFileReadError, options.seedPath.c_str(),
              std::strerror(errno));
  std::fflush(stdout);
  file.Close();
  store.Disconnect();
  return exit_code::kFileReadFailed;
}

// Everything from the opened SEED file to the end of the run. Returns the process's code.
int ConvertOpenFile(SettingsReader& settings, RunOptions& options, const WfdiscTarget& wfdisc,
                    SeedFile& file, WaveformStore& store, RunContext& context) {
  std::string blockSize = "-1";
  settings.GetValue("BLOCK_SIZE", blockSize);
  int recordLength = -1;
  if (!DetermineRecordLength(blockSize, file, recordLength)) {
    return FailBeforeReading(options, file, store);
  }

  const std::int64_t fileSize = file.Size();  // -1 for a pipe or a FIFO
  std::optional<DataFileStaging> staging;     // ends before the segments' samples are released
  if (UsableRecordLength(recordLength)) {
    // Back to the first record; a pipe serves the bytes detection read once more.
    if (!file.Rewind()) return FailBeforeReading(options, file, store);
    if (options.infoMode) {
      const std::int64_t viewLimit =
          fileSize < 0 ? options.viewLimit : std::min(options.viewLimit, fileSize);
      ReadForListing(file, recordLength, viewLimit, context);
      ListChannels(context, store);
      return exit_code::kOk;
    }
    // A CSS conversion writes the data files of long segments on a second thread while the file
    // is still being read; they become visible only when the output phase names them.
    if (wfdisc.cssMode) {
      staging.emplace(store.CssDataFolder(wfdisc.path));
      context.growth = &*staging;
    }
    const ReadingSummary summary = ReadForConversion(file, recordLength, fileSize, context);
    context.growth = nullptr;
    std::printf("\n\n");
    if (summary.trailingFragment > 0) {
      std::printf("Ignored an incomplete last record (%ld of %d bytes)\n", summary.trailingFragment,
                  recordLength);
    }
    if (context.unsafeNameRecords > 0) {
      std::printf(
          "Ignored %llu records whose station, channel or location code cannot be part of a file "
          "name\n",
          static_cast<unsigned long long>(context.unsafeNameRecords));
    }
  }

  OutputTarget target{wfdisc.cssMode, wfdisc.path, staging ? &*staging : nullptr};
  const int failed = WriteSegments(context, store, target);
  file.Close();
  store.Disconnect();
  std::printf("\n");
  std::fflush(stdout);
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

  SettingsReader settings(args);
  const ResolvedSettings resolved = settings.LoadAndGetSettings();
  options.odbc = resolved.odbc;
  options.user = resolved.user;
  options.password = resolved.password;
  options.dataDir = resolved.dataDir;
  options.useTend = resolved.useTend;

  std::string cssValue = "NOT_FOUND";
  settings.GetValue("CSS", cssValue);
  const WfdiscTarget wfdisc = ResolveWfdiscPath(cssValue, options.seedPath);
  if (wfdisc.errorPath) std::printf("Incorrect path to WFDISC-file\n");

  WaveformStore store;
  HandOverSettings(store, options);
  if (!store.Connect()) {
    std::printf("%s (ODBC: %s, USER: %s)\n", wording::kConnectionError, options.odbc.c_str(),
                options.user.c_str());
    std::fflush(stdout);
    return exit_code::kConnectionFailed;
  }

  SeedFile file;
  if (!file.Open(options.seedPath)) {
    std::printf("%s (%s): %s\n", wording::kFileOpenError, options.seedPath.c_str(),
                std::strerror(errno));
    std::fflush(stdout);
    store.Disconnect();
    return exit_code::kFileOpenFailed;
  }

  // Any failure raised from here on (exhausted memory above all) ends the run with a read error.
  try {
    return ConvertOpenFile(settings, options, wfdisc, file, store, context);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  } catch (const std::exception&) {
    if (errno == 0) errno = EIO;
  }
  const int error = errno;
  std::printf("\r%s (%s): %s\n", wording::kFileReadError, options.seedPath.c_str(),
              std::strerror(error));
  std::fflush(stdout);
  file.Close();
  return exit_code::kFileReadFailed;
}

}  // namespace tarnvel
