// What a finished run tells the operator: the results text and the closing message.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/dialog_services.h"

namespace tarnvel::gui {

// How the converter of a run ended.
struct RunEnd {
  std::string_view output;  // everything it wrote
  int exitCode = 0;
  bool exitedNormally = true;
  bool stopped = false;  // the operator stopped it
};

// What a conversion run asked for, as its closing texts name it.
struct ConversionRequest {
  std::string filter;      // "STA:CH:LC" as passed
  bool windowSet = false;  // a begin or an end time was given
  bool css = false;        // written to a CSS file, not into the store
};

struct Completion {
  std::string message;
  MessageIcon icon = MessageIcon::kInformation;
  std::string results;  // lines for the results box, each ended by "\r\n"
};

// "Connection string: " + the command line + "\r\n".
std::string ConversionSummary(const std::string& shownCommandLine);
// "Операция завершена с ошибками!\nОшибки: N\n" followed by the first error lines (each cut to
// a readable length) and, when there are more, how many more the results hold.
std::string FailureMessage(int failures, const std::vector<std::string>& lines);

// The end of a conversion: the success text only when the run wrote something (or runs a
// converter that prints no summary); otherwise what failed, that it was stopped, or why nothing
// was written. The results hold the converter's report lines (progress and the summary line
// left out) and then, in Russian, what the run wrote or why it wrote nothing.
Completion ConversionCompletion(const RunEnd& end, const ConversionRequest& request);

// The end of a listing that failed or was stopped; empty for one that listed the file.
std::optional<Completion> ListingCompletion(const RunEnd& end);

}  // namespace tarnvel::gui
