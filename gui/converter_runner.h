// The work behind the two action buttons: a listing run lists the channels of the SEED file
// and lets the operator pick one; a conversion run converts it into the QOR store or a CSS
// file while the progress bars follow the converter.
#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>

#include "gui/channel_info.h"
#include "gui/command_line.h"
#include "gui/converter_process.h"
#include "gui/dialog_services.h"
#include "gui/run_summary.h"
#include "settings/css_request.h"

namespace tarnvel::gui {

class RunView;

struct RunSetup {
  std::string converterPath;  // the converter beside the GUI
  CssRequest cssChoice;       // the GUI's own CSS request, resolved
  // Resolves the connection values afresh for each run.
  std::function<ResolvedSettings()> loadSettings;
};

class ConverterRunner : public QObject {
  Q_OBJECT

 public:
  ConverterRunner(RunView& view, DialogServices& services, RunSetup setup,
                  QObject* parent = nullptr);

  void StartListingRun();
  void StartConversionRun();
  // Ends the converter of the run under way (the operator's "Прервать"); the run then ends as
  // stopped. Nothing happens while no converter runs.
  void StopRun();

  // The command line of the current or last run, and what its converter printed.
  const CommandLine& LastCommand() const { return command_; }
  const std::string& LastOutput() const { return process_.Output(); }

 signals:
  void runEnded();

 private:
  enum class Kind { kNone, kListing, kConversion };

  // Starts a run of `kind` unless one is under way.
  bool Begin(Kind kind);
  void ListingRun();
  void ConversionRun();
  bool Refuse(const std::optional<std::string>& message);
  bool ReadRunInputs(const char* emptyPathMessage, std::string& seedPath, ChannelBoxes& boxes);
  // The connection values of a run; empty (the run ended) when one is longer than its limit.
  std::optional<ResolvedSettings> LoadConnection();
  bool Launch(int nice);
  void FollowProgress();
  void ListingEnded(int exitCode, bool exitedNormally);
  void ConversionEnded(int exitCode, bool exitedNormally);
  void ShowCompletion(const std::string& message, MessageIcon icon);
  void Warn(const char* text, const char* caption);
  void EndRun();

  RunView& view_;
  DialogServices& services_;
  RunSetup setup_;
  ConverterProcess process_;
  Kind kind_ = Kind::kNone;
  bool stopped_ = false;
  CommandLine command_;
  ConversionRequest request_;
  std::string summary_;
  ChannelInfoList channels_;  // what the current or last listing found
  std::string results_;       // the results text of the current listing
};

}  // namespace tarnvel::gui
