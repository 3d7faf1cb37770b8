// Where a CSS conversion writes its wfdisc file, from the CSS request and the SEED path.
#pragma once

#include <string>

namespace tarnvel {

struct WfdiscTarget {
  bool cssMode = false;
  bool errorPath = false;  // the request named a relative path with folders: refused
  std::string path;        // the wfdisc file, meaningful in CSS mode
};

// cssValue: the settings reader's "CSS" value ("NOT_FOUND", "SEED_PATH", "ERROR_PATH" or a path).
// seedPath has its '\' turned into '/' in place, as the run uses it from here on.
WfdiscTarget ResolveWfdiscPath(const std::string& cssValue, std::string& seedPath);

}  // namespace tarnvel
