#include <clocale>
#include <csignal>
#include <string>
#include <vector>

#include "converter/driver.h"

int main(int argc, char** argv) {
  // A file-size limit makes writes fail with EFBIG, which the store reports per segment,
  // instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");  // statement texts and console numbers always use '.'
  std::vector<std::string> args(argv, argv + argc);
  return tarnvel::RunConverter(args);
}
