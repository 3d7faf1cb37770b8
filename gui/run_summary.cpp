#include "gui/run_summary.h"

#include <cstdio>
#include <vector>

#include "gui/failure_counter.h"
#include "gui/messages.h"
#include "gui/report_lines.h"
#include "gui/summary_line.h"
#include "gui/text_fields.h"

namespace tarnvel::gui {
namespace {

// Error lines a message box shows before it points to the results.
constexpr std::size_t kShownFailureLines = 3;
// Characters of one line in a message box; a longer path would make the box wider than a screen.
constexpr std::size_t kShownLineCharacters = 160;

template <typename... Values>
std::string Format(const char* format, Values... values) {
  const int size = std::snprintf(nullptr, 0, format, values...);
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, values...);
  return buffer.data();
}

std::string Shortened(const std::string& line) {
  const std::string_view kept = FirstCharacters(line, kShownLineCharacters);
  return kept.size() == line.size() ? line : std::string(kept) + "…";
}

void AddLine(std::string& results, const std::string& line) {
  if (!line.empty()) results.append(line).append("\r\n");
}

std::string StoredText(const StoreSummary& s) {
  std::string text =
      Format(text::kStoredFormat, s.samples, s.files, s.created, s.continued, s.rewritten);
  if (s.alreadyStored > 0) text += "\r\n" + Format(text::kAlreadyStoredFormat, s.alreadyStored);
  return text;
}

std::string NoDataText(const ConversionRequest& request) {
  std::string text = text::kNoDataFound;
  if (request.filter != "*:*:*")
    text += Format(text::kNoDataOfChannelsFormat, request.filter.c_str());
  if (request.windowSet) text += text::kNoDataInWindow;
  return text + ".";
}

}  // namespace

std::string ConversionSummary(const std::string& shownCommandLine) {
  return std::string(text::kSummaryPrefix) + shownCommandLine + "\r\n";
}

std::string FailureMessage(int failures, const std::vector<std::string>& lines) {
  std::string message = Format(text::kFailureFormat, failures);
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < lines.size() && i < kShownFailureLines; ++i) {
    shown.push_back(Shortened(lines[i]));
  }
  if (lines.size() > kShownFailureLines) {
    shown.push_back(
        Format(text::kMoreFailuresFormat, static_cast<int>(lines.size() - kShownFailureLines)));
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (i > 0) message += "\n";
    message += shown[i];
  }
  return message;
}

Completion ConversionCompletion(const RunEnd& end, const ConversionRequest& request) {
  std::vector<std::string> lines = ReportLines(end.output);
  const RunSummary summary = FindRunSummary(end.output);
  if (!summary.line.empty() && !lines.empty() && lines.back() == summary.line) lines.pop_back();

  Completion done;
  for (const std::string& line : lines) AddLine(done.results, line);
  if (end.stopped) {
    done.message = text::kStopped;
    AddLine(done.results, text::kStoppedResult);
    if (!request.css) AddLine(done.results, text::kStoppedStoreNote);
    return done;
  }

  std::vector<std::string> failureLines;
  for (const std::string& line : lines) {
    if (IsFailureLine(line)) failureLines.push_back(line);
  }
  if (failureLines.empty()) {
    const std::string exit = ExitDescription(end.exitCode, end.exitedNormally);
    AddLine(done.results, exit);
    if (!exit.empty()) failureLines.push_back(exit);
  }
  const int failures = RunFailures(end.output, end.exitCode, end.exitedNormally);

  std::string written;
  bool wroteSomething = true;
  if (summary.store) {
    const StoreSummary& s = *summary.store;
    wroteSomething = s.samples > 0;
    written = wroteSomething        ? StoredText(s)
              : s.alreadyStored > 0 ? Format(text::kNothingNewFormat, s.alreadyStored)
                                    : std::string(text::kNothingStored);
  } else if (summary.css) {
    const CssSummary& s = *summary.css;
    wroteSomething = s.wfdiscLines > 0;
    written = wroteSomething ? Format(text::kCssWrittenFormat, s.wfdiscLines, s.dataFiles,
                                      s.samples, s.wfdiscPath.c_str())
                             : Format(text::kNothingCssFormat, s.wfdiscPath.c_str());
  } else if (failures == 0 && WroteNoSegment(end.output)) {
    wroteSomething = false;
    written = NoDataText(request);
  }
  AddLine(done.results, written);

  if (failures > 0) {
    done.message = FailureMessage(failures, failureLines);
    done.icon = MessageIcon::kExclamation;
  } else if (wroteSomething) {
    done.message = text::kSuccess;
  } else {
    done.message = written;
    // Everything there was is stored already: nothing is wrong with that.
    const bool allStored = summary.store && summary.store->alreadyStored > 0;
    done.icon = allStored ? MessageIcon::kInformation : MessageIcon::kExclamation;
  }
  return done;
}

std::optional<Completion> ListingCompletion(const RunEnd& end) {
  Completion done;
  if (end.stopped) {
    done.message = text::kStopped;
    done.results = std::string(text::kStoppedResult) + "\r\n";
    return done;
  }
  const int failures = RunFailures(end.output, end.exitCode, end.exitedNormally);
  if (failures == 0) return std::nullopt;
  std::vector<std::string> lines = FailureLines(end.output);
  if (lines.empty()) lines.push_back(ExitDescription(end.exitCode, end.exitedNormally));
  done.message = FailureMessage(failures, lines);
  done.icon = MessageIcon::kExclamation;
  for (const std::string& line : lines) AddLine(done.results, line);
  return done;
}

}  // namespace tarnvel::gui
