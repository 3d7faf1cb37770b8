// Where the save dialog of a CSS conversion starts and which wfdisc name it proposes, from the
// GUI's own CSS request and the SEED path.
#pragma once

#include <string>
#include <string_view>

namespace tarnvel::gui {

struct SaveProposal {
  std::string folder;       // empty: no starting folder
  std::string fileName;     // empty: no proposed name
  bool badRequest = false;  // the request was "ERROR_PATH": warn before the dialog opens
};

// cssChoice: "NOT_FOUND", "SEED_PATH", "ERROR_PATH" or a path, as the settings reader resolves
// the GUI's command line.
SaveProposal ProposeWfdiscTarget(std::string_view cssChoice, std::string_view seedPath);

}  // namespace tarnvel::gui
