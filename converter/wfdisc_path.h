// Where a CSS conversion writes its wfdisc file, from the CSS request and the SEED path.
#pragma once

#include <string>

#include "settings/css_request.h"

namespace tarnvel {

struct WfdiscTarget {
  bool cssMode = false;
  bool errorPath = false;  // the request named a relative path with folders: refused
  std::string path;        // the wfdisc file, meaningful in CSS mode
};

// seedPath has its '\' turned into '/' in place, as the run uses it from here on. A named path
// that is a folder on disk takes the SEED file's name followed by ".wfdisc".
WfdiscTarget ResolveWfdiscPath(const CssRequest& request, std::string& seedPath);

}  // namespace tarnvel
