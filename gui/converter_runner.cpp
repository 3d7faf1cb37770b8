#include "gui/converter_runner.h"

#include <QFile>
#include <cstdio>
#include <filesystem>

#include "gui/channel_patterns.h"
#include "gui/dialog_services.h"
#include "gui/failure_counter.h"
#include "gui/large_file.h"
#include "gui/listing_parser.h"
#include "gui/messages.h"
#include "gui/priority.h"
#include "gui/progress_scanner.h"
#include "gui/run_limits.h"
#include "gui/run_summary.h"
#include "gui/run_view.h"
#include "gui/save_target.h"
#include "settings/settings_reader.h"

namespace tarnvel::gui {
namespace {

// Which program did not start, and where it was looked for.
std::string StartFailureMessage(StartFailure failure, const std::string& program) {
  const std::filesystem::path path(program);
  char buffer[4096];
  if (failure == StartFailure::kMissing) {
    std::snprintf(buffer, sizeof buffer, text::kConverterNotFoundFormat,
                  path.filename().string().c_str(), path.parent_path().string().c_str());
  } else {
    std::snprintf(buffer, sizeof buffer,
                  failure == StartFailure::kNotExecutable ? text::kConverterNotExecutableFormat
                                                          : text::kConverterNotStartedFormat,
                  program.c_str());
  }
  return buffer;
}

}  // namespace

ConverterRunner::ConverterRunner(RunView& view, DialogServices& services, RunSetup setup,
                                 QObject* parent)
    : QObject(parent), view_(view), services_(services), setup_(std::move(setup)) {
  connect(&process_, &ConverterProcess::outputArrived, this, [this] {
    if (kind_ == Kind::kConversion) FollowProgress();
  });
  connect(&process_, &ConverterProcess::ended, this, [this](int exitCode, bool exitedNormally) {
    if (kind_ == Kind::kListing) ListingEnded(exitCode, exitedNormally);
    if (kind_ == Kind::kConversion) ConversionEnded(exitCode, exitedNormally);
  });
}

void ConverterRunner::StartListingRun() {
  if (!Begin(Kind::kListing)) return;
  ListingRun();
}

void ConverterRunner::StartConversionRun() {
  if (!Begin(Kind::kConversion)) return;
  ConversionRun();
}

void ConverterRunner::StopRun() {
  if (kind_ == Kind::kNone || !process_.IsRunning()) return;
  stopped_ = true;
  process_.Stop();
}

bool ConverterRunner::Begin(Kind kind) {
  if (view_.IsRunning()) return false;
  view_.SetRunning(true);
  channels_.clear();
  view_.SetChannels(channels_);
  kind_ = kind;
  stopped_ = false;
  return true;
}

void ConverterRunner::Warn(const char* text, const char* caption) {
  services_.ShowMessage(view_.Window(), QString::fromUtf8(text), QString::fromUtf8(caption),
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
  seedPath = view_.SeedPath();
  if (seedPath.empty()) {
    Warn(emptyPathMessage, text::kCaption);
    EndRun();
    return false;
  }
  boxes = WithEmptyBoxesAsAll(view_.Boxes());
  return !Refuse(CheckLengths({{"путь к файлу", seedPath, kMaxSeedPath}})) &&
         !Refuse(CheckChannelBoxes(boxes));
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
      viewLimit = services_.AskViewLimit(view_.Window(), QString::fromStdString(seedPath),
                                         kProposedViewLimitMb);
      if (viewLimit < 0) {
        EndRun();
        return;
      }
    }
  }

  command_ = BuildListingCommand(setup_.converterPath, seedPath, boxes, view_.BeginTime(),
                                 view_.EndTime(), viewLimit);
  if (Refuse(CheckLengths({{"командная строка", command_.text, kMaxListingCommand}}))) return;
  // The listing checks SITECHAN in the database the conversion would write to.
  const auto connection = LoadConnection();
  if (!connection) return;
  AppendConnection(command_, *connection);

  results_ = text::kListingHeader;
  view_.SetResultsText(results_);
  Launch(kBelowNormalNice);
}

void ConverterRunner::ListingEnded(int exitCode, bool exitedNormally) {
  const std::string& output = process_.Output();
  ParseListingOutput(output, channels_, results_);
  results_ += text::kListingFooter;
  const auto completion = ListingCompletion({output, exitCode, exitedNormally, stopped_});
  if (completion) results_ += completion->results;
  view_.SetResultsText(results_);
  view_.SetChannels(channels_);
  // A listing that failed before it found any channel, or was stopped, has no table to show.
  if (!stopped_ && (!completion || !channels_.empty())) {
    const ChannelChoice choice = services_.ChooseChannel(view_.Window(), channels_);
    if (choice.station != "*") view_.ApplyChannelChoice(choice);
  }
  if (completion) ShowCompletion(completion->message, completion->icon);
  EndRun();
}

void ConverterRunner::ConversionRun() {
  view_.ClearResultsBox();
  std::string seedPath;
  ChannelBoxes boxes;
  if (!ReadRunInputs(text::kChooseFileConversion, seedPath, boxes)) return;

  std::optional<std::string> wfdiscPath;
  if (view_.CssChosen()) {
    const SaveProposal proposal = ProposeWfdiscTarget(setup_.cssChoice, seedPath);
    if (proposal.badRequest) {
      services_.ShowMessage(view_.Window(), QString::fromUtf8(text::kBadCssPath),
                            QString::fromUtf8(text::kWarningCaption), MessageIcon::kInformation);
    }
    const auto chosen =
        services_.SaveWfdiscFile(view_.Window(), QString::fromStdString(proposal.folder),
                                 QString::fromStdString(proposal.fileName));
    if (!chosen) {
      EndRun();
      return;
    }
    wfdiscPath = chosen->toStdString();
  }

  view_.SetResultsText({});
  const auto connection = LoadConnection();
  if (!connection) return;
  command_ = BuildConversionCommand(setup_.converterPath, seedPath, wfdiscPath, boxes,
                                    view_.BeginTime(), view_.EndTime(), *connection);
  if (Refuse(CheckLengths({{"командная строка", command_.text, kMaxConversionCommand}}))) return;

  request_ = {boxes.station + ":" + boxes.channel + ":" + boxes.location,
              view_.BeginTime().set || view_.EndTime().set, wfdiscPath.has_value()};
  view_.ShowWritingTarget(wfdiscPath.value_or(std::string()));
  if (!Launch(kAboveNormalNice)) {
    view_.ShowWritingTarget({});
    return;
  }
  summary_ = ConversionSummary(command_.shownText);
}

std::optional<ResolvedSettings> ConverterRunner::LoadConnection() {
  const ResolvedSettings connection =
      setup_.loadSettings ? setup_.loadSettings() : ResolvedSettings{};
  if (Refuse(CheckLengths({{"источник данных ODBC", connection.odbc, kMaxOdbc},
                           {"пользователь", connection.user, kMaxUser},
                           {"пароль", connection.password, kMaxPassword},
                           {"каталог данных", connection.dataDir.Setting(), kMaxDataDir}}))) {
    return std::nullopt;
  }
  return connection;
}

bool ConverterRunner::Launch(int nice) {
  // Always set, so a password in the dialog program's own environment cannot differ from the
  // one resolved here.
  const ConverterProcess::Environment environment{{kPasswordVariable, command_.password}};
  const StartFailure failure = process_.Start(command_.program, command_.arguments, environment);
  if (failure != StartFailure::kNone) {
    Warn(StartFailureMessage(failure, command_.program).c_str(), text::kCaption);
    EndRun();
    return false;
  }
  // Without the privilege to raise a priority the converter simply keeps the GUI's.
  SetProcessNice(process_.ProcessId(), nice);
  return true;
}

void ConverterRunner::FollowProgress() {
  const ProgressReading progress = ScanProgress(process_.Output());
  view_.ShowProgress(progress.reading, progress.writing);
}

void ConverterRunner::ConversionEnded(int exitCode, bool exitedNormally) {
  FollowProgress();
  const Completion completion =
      ConversionCompletion({process_.Output(), exitCode, exitedNormally, stopped_}, request_);
  view_.ShowResultsText(summary_ + completion.results);
  ShowCompletion(completion.message, completion.icon);
  view_.ShowProgress(0, 0);
  view_.ShowWritingTarget({});
  EndRun();
}

void ConverterRunner::ShowCompletion(const std::string& message, MessageIcon icon) {
  services_.ShowMessage(view_.Window(), QString::fromStdString(message),
                        QString::fromUtf8(text::kCaption), icon);
}

void ConverterRunner::EndRun() {
  kind_ = Kind::kNone;
  stopped_ = false;
  view_.SetRunning(false);
  emit runEnded();
}

}  // namespace tarnvel::gui
