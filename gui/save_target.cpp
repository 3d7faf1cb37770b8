#include "gui/save_target.h"

#include <optional>
#include <variant>

namespace tarnvel::gui {

SaveProposal ProposeWfdiscTarget(const CssRequest& cssChoice, std::string_view seedPath) {
  SaveProposal proposal;
  proposal.badRequest = std::holds_alternative<CssBadPath>(cssChoice);
  const std::optional<std::string> requested = RequestedWfdiscPath(cssChoice, seedPath);
  if (!requested) return proposal;
  // Split at the last "/" or "\"; without one there is no folder and the name is the whole.
  const auto at = requested->find_last_of("/\\");
  if (at == std::string::npos) {
    proposal.fileName = *requested;
    return proposal;
  }
  // A file in the root folder keeps "/" as its folder.
  proposal.folder = requested->substr(0, at == 0 ? 1 : at);
  proposal.fileName = requested->substr(at + 1);
  return proposal;
}

}  // namespace tarnvel::gui
