// The checker's command line: the converter's settings arguments (ODBC=, USER=, PASSWORD=,
// DATA=, read by the settings reader), its time window (BEG=, END=, QTY=) and channel filter
// (STA:CH:LC with its wildcards), and the checker's own switches.
#pragma once

#include <string>
#include <vector>

#include "seed/run_context.h"

namespace tarnvel::check {

struct CheckOptions {
  bool repair = false;           // --repair
  bool registerOrphans = false;  // --register-orphans (implies --repair)
  bool coverage = false;         // --coverage
  bool json = false;             // --json
  TimeWindow window;
  ChannelFilter filter;
};

enum class ParseOutcome { kRun, kHelp, kArgumentError };
struct ParseResult {
  ParseOutcome outcome = ParseOutcome::kRun;
  std::string message;  // kArgumentError: the line to print
};

// args[0] is the program path.
ParseResult ParseCheckCommandLine(const std::vector<std::string>& args, CheckOptions& options);

// The usage text --help prints.
extern const char kUsage[];

}  // namespace tarnvel::check
