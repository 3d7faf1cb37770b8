#include <clocale>
#include <string>
#include <vector>

#include "converter/driver.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");  // statement texts and console numbers always use '.'
  std::vector<std::string> args(argv, argv + argc);
  return tarnvel::RunConverter(args);
}
