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

WfdiscTarget ResolveWfdiscPath(const CssRequest& request, std::string& seedPath) {
  ToForwardSlashes(seedPath);
  WfdiscTarget target;
  target.errorPath = std::holds_alternative<CssBadPath>(request);
  const std::optional<std::string> requested = RequestedWfdiscPath(request, seedPath);
  if (!requested) return target;
  target.cssMode = true;
  target.path = *requested;
  ToForwardSlashes(target.path);
  if (!std::holds_alternative<CssNamedPath>(request)) return target;

  // A directory takes the SEED file's name; an existing file or a new name is the wfdisc file.
  if (IsDirectory(target.path)) {
    const auto lastSeparator = seedPath.find_last_of('/');
    const std::string seedName =
        lastSeparator == std::string::npos ? seedPath : seedPath.substr(lastSeparator + 1);
    target.path += (target.path.ends_with('/') ? "" : "/") + seedName + ".wfdisc";
  }
  return target;
}

}  // namespace tarnvel
