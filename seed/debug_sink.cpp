#include "seed/debug_sink.h"

#include <syslog.h>

#include <string>

namespace tarnvel {

void SyslogDebugSink::Write(std::string_view line) {
  const std::string text(line);
  syslog(LOG_DEBUG, "%s", text.c_str());
}

DebugSink& DefaultDebugSink() {
  static SyslogDebugSink sink;
  return sink;
}

}  // namespace tarnvel
