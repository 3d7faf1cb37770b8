// The summary line a conversion ends with when it had data to write (the very last line of its
// output; a conversion that found nothing to write prints none):
//   "Stored %lld samples in %d files (%d new, %d continued, %d rewritten), %lld samples were
//    stored already" (one line) for the QOR store, and
//   "Wrote %d wfdisc lines and %d data files (%lld samples) to %s" for CSS output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnvel::gui {

struct StoreSummary {
  long long samples = 0;  // written by the run and committed
  int files = 0;          // distinct files they went to
  int created = 0;
  int continued = 0;
  int rewritten = 0;
  long long alreadyStored = 0;  // found stored unchanged
};

struct CssSummary {
  int wfdiscLines = 0;
  int dataFiles = 0;
  long long samples = 0;
  std::string wfdiscPath;
};

// The line exactly as the converter prints it, without its line feed; empty for anything else.
std::optional<StoreSummary> ParseStoreSummary(std::string_view line);
std::optional<CssSummary> ParseCssSummary(std::string_view line);

// The summary the output ends with, if its last line is one.
struct RunSummary {
  std::optional<StoreSummary> store;
  std::optional<CssSummary> css;
  std::string line;  // the summary line itself
};
RunSummary FindRunSummary(std::string_view output);

// The output of a conversion that had nothing to write: its writing ended without a single
// segment's progress entry, only the closing "Writing to ... - 100%" line.
bool WroteNoSegment(std::string_view output);

}  // namespace tarnvel::gui
