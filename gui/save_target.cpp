#include "gui/save_target.h"

namespace tarnvel::gui {
namespace {

// Splits at the last "/" or "\"; without one the folder is empty and the name is the whole.
void SplitAtLastSeparator(std::string_view path, std::string& folder, std::string& name) {
  const auto at = path.find_last_of("/\\");
  if (at == std::string_view::npos) {
    folder.clear();
    name = std::string(path);
    return;
  }
  // A file in the root folder keeps "/" as its folder.
  folder = at == 0 ? std::string(path.substr(0, 1)) : std::string(path.substr(0, at));
  name = std::string(path.substr(at + 1));
}

}  // namespace

SaveProposal ProposeWfdiscTarget(std::string_view cssChoice, std::string_view seedPath) {
  SaveProposal proposal;
  std::string seedFolder;
  std::string seedName;
  SplitAtLastSeparator(seedPath, seedFolder, seedName);
  const bool seedHasFolder = seedPath.find_first_of("/\\") != std::string_view::npos;

  if (cssChoice == "NOT_FOUND") return proposal;
  if (cssChoice == "ERROR_PATH") {
    proposal.badRequest = true;
    return proposal;
  }
  if (cssChoice == "SEED_PATH") {
    if (seedHasFolder) proposal.folder = seedFolder;
    proposal.fileName = seedName + ".wfdisc";
    return proposal;
  }
  if (cssChoice.find_first_of("/\\") == std::string_view::npos) {
    if (seedHasFolder) proposal.folder = seedFolder;
    proposal.fileName = std::string(cssChoice);
    return proposal;
  }
  SplitAtLastSeparator(cssChoice, proposal.folder, proposal.fileName);
  return proposal;
}

}  // namespace tarnvel::gui
