#include "gui/converter_process.h"

#include <QProcessEnvironment>
#include <QStringList>

namespace tarnvel::gui {

ConverterProcess::ConverterProcess(QObject* parent) : QObject(parent) {
  process_.setProcessChannelMode(QProcess::MergedChannels);
  connect(&process_, &QProcess::readyReadStandardOutput, this, &ConverterProcess::Drain);
  connect(&process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
    Drain();
    emit ended(exitCode, status == QProcess::NormalExit);
  });
}

bool ConverterProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                             const Environment& environment, std::string& error) {
  output_.clear();
  QStringList args;
  for (const auto& argument : arguments) args << QString::fromStdString(argument);
  QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
  for (const auto& [name, value] : environment) {
    variables.insert(QString::fromStdString(name), QString::fromStdString(value));
  }
  process_.setProcessEnvironment(variables);
  process_.setStandardInputFile(QProcess::nullDevice());
  process_.start(QString::fromStdString(program), args, QIODevice::ReadOnly);
  if (!process_.waitForStarted(-1)) {
    error = process_.errorString().toStdString();
    return false;
  }
  return true;
}

void ConverterProcess::Drain() {
  const QByteArray chunk = process_.readAllStandardOutput();
  if (chunk.isEmpty()) return;
  output_.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
  emit outputArrived();
}

}  // namespace tarnvel::gui
