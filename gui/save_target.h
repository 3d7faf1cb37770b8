// Where the save dialog of a CSS conversion starts and which wfdisc name it proposes, from the
// GUI's own CSS request and the SEED path.
#pragma once

#include <string>
#include <string_view>

#include "settings/css_request.h"

namespace tarnvel::gui {

struct SaveProposal {
  std::string folder;       // empty: no starting folder
  std::string fileName;     // empty: no proposed name
  bool badRequest = false;  // the request was refused: warn before the dialog opens
};

// The wfdisc path the request names (RequestedWfdiscPath), split at its last separator.
SaveProposal ProposeWfdiscTarget(const CssRequest& cssChoice, std::string_view seedPath);

}  // namespace tarnvel::gui
