// The converter as a child process: standard output and standard error merged into one
// stream, drained as it arrives so the converter never waits on a full pipe. A converter never
// outlives its dialog program: it is stopped when this object goes, and the system ends it when
// the dialog program itself dies (killed, crashed) where the system can be asked to.
#pragma once

#include <QObject>
#include <QProcess>
#include <QTimer>
#include <string>
#include <utility>
#include <vector>

namespace tarnvel::gui {

enum class StartFailure {
  kNone,
  kMissing,        // no program file at the path
  kNotExecutable,  // a file the user may not run
  kOther,          // the system refused to start it
};

class ConverterProcess : public QObject {
  Q_OBJECT

 public:
  explicit ConverterProcess(QObject* parent = nullptr);
  // Stops a converter still running and waits for its end; `ended` is not emitted then.
  ~ConverterProcess() override;

  // Variables set for the program on top of the dialog program's own environment.
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // How long a converter asked to stop may take before it is killed.
  static constexpr int kStopGraceMs = 2000;

  // Starts the program; kNone when it runs.
  StartFailure Start(const std::string& program, const std::vector<std::string>& arguments,
                     const Environment& environment);
  bool IsRunning() const { return process_.state() != QProcess::NotRunning; }
  std::int64_t ProcessId() const { return process_.processId(); }
  // Asks a running converter to end (SIGTERM, woken if it was stopped) and kills it when it has
  // not ended after kStopGraceMs. `ended` follows as for any end.
  void Stop();
  // Everything the converter wrote so far, from its first byte.
  const std::string& Output() const { return output_; }

 signals:
  void outputArrived();
  void ended(int exitCode, bool exitedNormally);

 private:
  void Drain();

  QProcess process_;
  QTimer killTimer_;
  std::string output_;
};

}  // namespace tarnvel::gui
