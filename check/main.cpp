#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "check/check_run.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");  // statement texts and reported numbers always use '.'
  std::vector<std::string> args(argv, argv + argc);
  return tarnvel::check::RunCheck(args, stdout);
}
