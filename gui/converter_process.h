// The converter as a child process: standard output and standard error merged into one
// stream, drained as it arrives so the converter never waits on a full pipe.
#pragma once

#include <QObject>
#include <QProcess>
#include <string>
#include <utility>
#include <vector>

namespace tarnvel::gui {

class ConverterProcess : public QObject {
  Q_OBJECT

 public:
  explicit ConverterProcess(QObject* parent = nullptr);

  // Variables set for the program on top of the dialog program's own environment.
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // Starts the program; false with `error` set when it could not be started.
  bool Start(const std::string& program, const std::vector<std::string>& arguments,
             const Environment& environment, std::string& error);
  std::int64_t ProcessId() const { return process_.processId(); }
  // Everything the converter wrote so far, from its first byte.
  const std::string& Output() const { return output_; }

 signals:
  void outputArrived();
  void ended(int exitCode, bool exitedNormally);

 private:
  void Drain();

  QProcess process_;
  std::string output_;
};

}  // namespace tarnvel::gui
