#include "gui/priority.h"

#include <sys/resource.h>
#include <sys/types.h>

#include <cerrno>

namespace tarnvel::gui {

bool SetProcessNice(std::int64_t pid, int nice) {
  return setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice) == 0;
}

int ProcessNice(std::int64_t pid) {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
}

}  // namespace tarnvel::gui
