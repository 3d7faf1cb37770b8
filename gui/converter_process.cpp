#include "gui/converter_process.h"

#include <signal.h>
#include <unistd.h>

#include <QProcessEnvironment>
#include <QStringList>
#include <filesystem>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace tarnvel::gui {
namespace {

StartFailure ProgramProblem(const std::string& program) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(program, error)) return StartFailure::kMissing;
  if (access(program.c_str(), X_OK) != 0) return StartFailure::kNotExecutable;
  return StartFailure::kNone;
}

}  // namespace

ConverterProcess::ConverterProcess(QObject* parent) : QObject(parent) {
  process_.setProcessChannelMode(QProcess::MergedChannels);
  connect(&process_, &QProcess::readyReadStandardOutput, this, &ConverterProcess::Drain);
  connect(&process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
    killTimer_.stop();
    Drain();
    emit ended(exitCode, status == QProcess::NormalExit);
  });
  killTimer_.setSingleShot(true);
  connect(&killTimer_, &QTimer::timeout, this, [this] {
    if (IsRunning()) process_.kill();
  });
#if defined(__linux__)
  // In the child, before the converter starts: the system sends it SIGKILL when the dialog
  // program's thread that started it ends, as when the program is killed. A dialog program that
  // died before that request was made has left the child to another parent already.
  const pid_t dialog = getpid();
  process_.setChildProcessModifier([dialog] {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != dialog) _exit(127);
  });
#endif
}

ConverterProcess::~ConverterProcess() {
  disconnect(&process_, nullptr, this, nullptr);
  if (!IsRunning()) return;
  process_.terminate();
  ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
  if (!process_.waitForFinished(kStopGraceMs)) {
    process_.kill();
    process_.waitForFinished(-1);
  }
}

StartFailure ConverterProcess::Start(const std::string& program,
                                     const std::vector<std::string>& arguments,
                                     const Environment& environment) {
  output_.clear();
  if (const StartFailure problem = ProgramProblem(program); problem != StartFailure::kNone) {
    return problem;
  }
  QStringList args;
  for (const auto& argument : arguments) args << QString::fromStdString(argument);
  QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
  for (const auto& [name, value] : environment) {
    variables.insert(QString::fromStdString(name), QString::fromStdString(value));
  }
  process_.setProcessEnvironment(variables);
  process_.setStandardInputFile(QProcess::nullDevice());
  process_.start(QString::fromStdString(program), args, QIODevice::ReadOnly);
  if (!process_.waitForStarted(-1)) return StartFailure::kOther;
  return StartFailure::kNone;
}

void ConverterProcess::Stop() {
  if (!IsRunning()) return;
  process_.terminate();
  // A converter stopped by job control would hold the request until it is continued.
  ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
  killTimer_.start(kStopGraceMs);
}

void ConverterProcess::Drain() {
  const QByteArray chunk = process_.readAllStandardOutput();
  if (chunk.isEmpty()) return;
  output_.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
  emit outputArrived();
}

}  // namespace tarnvel::gui
