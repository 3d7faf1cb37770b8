// The converter's command line: argument rules, time values and channel filter arguments.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "converter/run_options.h"
#include "seed/run_context.h"

namespace tarnvel {

enum class ParseOutcome {
  kRun,            // go on with the run
  kHelp,           // print the help text, wait for a key, return 0
  kArgumentError,  // print `message`, return 0
};

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::kRun;
  std::string message;  // the exact text to print for kArgumentError
};

// args[0] is the program path; the rules apply to args[1..].
ParseResult ParseCommandLine(const std::vector<std::string>& args, RunOptions& options,
                             TimeWindow& window, ChannelFilter& filter);

// Whether `arg` gives the time window: "BEG=", "END=" or "QTY=" (any letter case).
bool IsWindowArgument(const std::string& arg);
// Takes one such argument into `window`; `endGiven` tells whether "END=" or "QTY=" came before
// (and is set by them). The argument error to report, when it cannot be used.
std::optional<ParseResult> ApplyWindowArgument(const std::string& arg, TimeWindow& window,
                                               bool& endGiven);

// "Argument too long: <argument> (at most <limit> characters)\n".
std::string TooLongMessage(const std::string& argument, std::size_t limit);

// A "hh:MM:ss-dd.mm.yyyy" value to epoch seconds; false when it has fewer than six tokens (or a
// month outside 1..12). `epoch` is set in every case where the six values could be read.
bool ParseTimeValue(const std::string& text, double& epoch);

// Appends the entries of one "STA:CH:LC[,STA:CH:LC...]" filter argument.
// False when a field is longer than 7 characters (nothing is appended then).
bool AppendChannelFilter(const std::string& spec, ChannelFilter& filter);

}  // namespace tarnvel
