// Where decoder diagnostics go: the platform's debug-output channel, never the console.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnvel {

class DebugSink {
 public:
  virtual ~DebugSink() = default;
  virtual void Write(std::string_view line) = 0;
};

// Default sink: syslog at debug level.
class SyslogDebugSink final : public DebugSink {
 public:
  void Write(std::string_view line) override;
};

// Keeps every line; used by tests and by tools that want to show diagnostics themselves.
class CollectingDebugSink final : public DebugSink {
 public:
  void Write(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

DebugSink& DefaultDebugSink();

}  // namespace tarnvel
