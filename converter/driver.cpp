#include "converter/driver.h"

namespace tarnvel {

int RunConverter(const std::vector<std::string>& args) {
  (void)args;
  return exit_code::kOk;
}

}  // namespace tarnvel
