#include "gui/converter_runner.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <cstdio>

#include "gui/dialog_services.h"
#include "gui/failure_counter.h"
#include "gui/large_file.h"
#include "gui/listing_parser.h"
#include "gui/main_dialog.h"
#include "gui/messages.h"
#include "gui/priority.h"
#include "gui/progress_scanner.h"
#include "gui/run_limits.h"
#include "gui/run_summary.h"
#include "gui/save_target.h"
#include "settings/settings_reader.h"

namespace tarnvel::gui {

ConverterRunner::ConverterRunner(MainDialog& dialog, DialogServices& services, RunSetup setup,
                                 QObject* parent)
    : QObject(parent), dialog_(dialog), services_(services), setup_(std::move(setup)) {
  connect(&process_, &ConverterProcess::outputArrived, this, [this] {
    if (kind_ == Kind::kConversion) FollowProgress();
  });
  connect(&process_, &ConverterProcess::ended, this, [this](int exitCode, bool exitedNormally) {
    if (kind_ == Kind::kListing) ListingEnded(exitCode, exitedNormally);
    if (kind_ == Kind::kConversion) ConversionEnded(exitCode, exitedNormally);
  });
}

void ConverterRunner::StartListingRun() {
  if (dialog_.IsRunning()) return;
  dialog_.SetRunning(true);
  dialog_.Channels().clear();
  kind_ = Kind::kListing;
  ListingRun();
}

void ConverterRunner::StartConversionRun() {
  if (dialog_.IsRunning()) return;
  dialog_.SetRunning(true);
  dialog_.Channels().clear();
  kind_ = Kind::kConversion;
  ConversionRun();
}

void ConverterRunner::Warn(const char* text, const char* caption) {
  services_.ShowMessage(&dialog_, QString::fromUtf8(text), QString::fromUtf8(caption),
                        MessageIcon::kExclamation);
}

bool ConverterRunner::Refuse(const std::optional<std::string>& message) {
  if (!message) return false;
  Warn(message->c_str(), text::kCaption);
  EndRun();
  return true;
}

// The SEED path and the channel boxes of a run; false (the run ended) when the path is empty or
// a value is longer than its limit.
bool ConverterRunner::ReadRunInputs(const char* emptyPathMessage, std::string& seedPath,
                                    ChannelBoxes& boxes) {
  seedPath = dialog_.SeedPath();
  if (seedPath.empty()) {
    Warn(emptyPathMessage, text::kCaption);
    EndRun();
    return false;
  }
  boxes = dialog_.Boxes();
  return !Refuse(CheckLengths({{"путь к файлу", seedPath, kMaxSeedPath},
                               {"станция", boxes.station, kMaxChannelText},
                               {"канал", boxes.channel, kMaxChannelText},
                               {"LCODE", boxes.location, kMaxChannelText}}));
}

void ConverterRunner::ListingRun() {
  std::string seedPath;
  ChannelBoxes boxes;
  if (!ReadRunInputs(text::kEnterFileListing, seedPath, boxes)) return;

  int viewLimit = 0;
  QFile file(QString::fromStdString(seedPath));
  if (file.open(QIODevice::ReadOnly)) {
    const qint64 size = file.size();
    file.close();
    if (IsLargeFile(size)) {
      viewLimit =
          services_.AskViewLimit(&dialog_, QString::fromStdString(seedPath), kProposedViewLimitMb);
      if (viewLimit < 0) {
        EndRun();
        return;
      }
    }
  }

  command_ = BuildListingCommand(setup_.converterPath, seedPath, boxes, dialog_.BeginTime(),
                                 dialog_.EndTime(), viewLimit);
  if (Refuse(CheckLengths({{"командная строка", command_.text, kMaxListingCommand}}))) return;
  // The listing checks SITECHAN in the database the conversion would write to.
  const auto connection = LoadConnection();
  if (!connection) return;
  AppendConnection(command_, *connection);

  dialog_.ResultsText() = text::kListingHeader;
  if (!Launch(kBelowNormalNice)) return;
  dialog_.controls().reading->setRange(0, 100);
}

void ConverterRunner::ListingEnded(int exitCode, bool exitedNormally) {
  const std::string& output = process_.Output();
  ParseListingOutput(output, dialog_.Channels(), dialog_.ResultsText());
  dialog_.ResultsText() += text::kListingFooter;
  dialog_.ResultsText() += FailureLinesText(output);
  const int failures = RunFailures(output, exitCode, exitedNormally);
  // A listing that failed before it found any channel has no table to show.
  if (failures == 0 || !dialog_.Channels().empty()) {
    const ChannelInfoList copy = dialog_.Channels();
    const ChannelChoice choice = services_.ChooseChannel(&dialog_, copy);
    if (choice.station != "*") dialog_.ApplyChannelChoice(choice);
  }
  if (failures > 0) ShowCompletion(failures);
  EndRun();
}

void ConverterRunner::ConversionRun() {
  dialog_.controls().results->clear();
  std::string seedPath;
  ChannelBoxes boxes;
  if (!ReadRunInputs(text::kChooseFileConversion, seedPath, boxes)) return;

  std::optional<std::string> wfdiscPath;
  if (dialog_.controls().toCss->isChecked()) {
    const SaveProposal proposal = ProposeWfdiscTarget(setup_.cssChoice, seedPath);
    if (proposal.badRequest) {
      services_.ShowMessage(&dialog_, QString::fromUtf8(text::kBadCssPath),
                            QString::fromUtf8(text::kWarningCaption), MessageIcon::kInformation);
    }
    const auto chosen = services_.SaveWfdiscFile(&dialog_, QString::fromStdString(proposal.folder),
                                                 QString::fromStdString(proposal.fileName));
    if (!chosen) {
      EndRun();
      return;
    }
    wfdiscPath = chosen->toStdString();
  }

  dialog_.ResultsText().clear();
  const auto connection = LoadConnection();
  if (!connection) return;
  command_ = BuildConversionCommand(setup_.converterPath, seedPath, wfdiscPath, boxes,
                                    dialog_.BeginTime(), dialog_.EndTime(), *connection);
  if (Refuse(CheckLengths({{"командная строка", command_.text, kMaxConversionCommand}}))) return;

  if (!Launch(kAboveNormalNice)) return;
  summary_ = ConversionSummary(command_.shownText);
  dialog_.controls().reading->setRange(0, 100);
}

std::optional<ConnectionValues> ConverterRunner::LoadConnection() {
  const ConnectionValues connection =
      setup_.loadSettings ? setup_.loadSettings() : ConnectionValues{};
  if (Refuse(CheckLengths({{"источник данных ODBC", connection.odbc, kMaxOdbc},
                           {"пользователь", connection.user, kMaxUser},
                           {"пароль", connection.password, kMaxPassword},
                           {"каталог данных", connection.dataDir, kMaxDataDir}}))) {
    return std::nullopt;
  }
  return connection;
}

bool ConverterRunner::Launch(int nice) {
  std::string error;
  // Always set, so a password in the dialog program's own environment cannot differ from the
  // one resolved here.
  const ConverterProcess::Environment environment{{kPasswordVariable, command_.password}};
  if (!process_.Start(command_.program, command_.arguments, environment, error)) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, text::kConverterMissingFormat, command_.program.c_str(),
                  error.c_str());
    Warn(buffer, text::kCaption);
    EndRun();
    return false;
  }
  // Without the privilege to raise a priority the converter simply keeps the GUI's.
  SetProcessNice(process_.ProcessId(), nice);
  return true;
}

void ConverterRunner::FollowProgress() {
  const ProgressReading progress = ScanProgress(process_.Output());
  if (progress.reading) dialog_.controls().reading->setValue(*progress.reading);
  if (progress.writing) dialog_.controls().writing->setValue(*progress.writing);
}

void ConverterRunner::ConversionEnded(int exitCode, bool exitedNormally) {
  FollowProgress();
  dialog_.ResultsText() = summary_ + FailureLinesText(process_.Output());
  dialog_.SetResultsBox(dialog_.ResultsText());
  ShowCompletion(RunFailures(process_.Output(), exitCode, exitedNormally));
  dialog_.controls().reading->setValue(0);
  dialog_.controls().writing->setValue(0);
  EndRun();
}

void ConverterRunner::ShowCompletion(int failures) {
  services_.ShowMessage(&dialog_, QString::fromStdString(CompletionMessage(failures)),
                        QString::fromUtf8(text::kCaption),
                        failures == 0 ? MessageIcon::kInformation : MessageIcon::kExclamation);
}

void ConverterRunner::EndRun() {
  kind_ = Kind::kNone;
  dialog_.SetRunning(false);
  emit runEnded();
}

}  // namespace tarnvel::gui
