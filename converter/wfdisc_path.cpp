#include "converter/wfdisc_path.h"

#include <sys/stat.h>

#include <algorithm>

namespace tarnvel {
namespace {

void ToForwardSlashes(std::string& text) {
  std::replace(text.begin(), text.end(), '\\', '/');
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

WfdiscTarget ResolveWfdiscPath(const std::string& cssValue, std::string& seedPath) {
  ToForwardSlashes(seedPath);
  std::string value = cssValue;
  ToForwardSlashes(value);

  WfdiscTarget target;
  if (value == "NOT_FOUND") return target;
  if (value == "ERROR_PATH") {
    target.errorPath = true;
    return target;
  }
  target.cssMode = true;
  if (value == "SEED_PATH") {
    target.path = seedPath + ".wfdisc";
    return target;
  }

  const auto lastSeparator = seedPath.find_last_of('/');
  if (value.find('/') == std::string::npos) {
    const std::string seedFolder =
        lastSeparator == std::string::npos ? std::string() : seedPath.substr(0, lastSeparator + 1);
    value = seedFolder + value;
  }
  // A directory takes the SEED file's name; an existing file or a new name is the wfdisc file.
  if (IsDirectory(value)) {
    const std::string seedName =
        lastSeparator == std::string::npos ? seedPath : seedPath.substr(lastSeparator + 1);
    target.path = value + (value.ends_with('/') ? "" : "/") + seedName + ".wfdisc";
  } else {
    target.path = value;
  }
  return target;
}

}  // namespace tarnvel
