// The CSS output a program's command line asks for, resolved once from its arguments: the
// converter writes there, the dialog program proposes it in its save dialog.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarnvel {

// No argument begins with "css": the output goes to the database.
struct CssNotRequested {};
// "css" without "=": the wfdisc file lies beside the SEED file, named after it.
struct CssBesideSeed {};
// "CSS=" with a relative path holding folders: refused.
struct CssBadPath {};
// "CSS=" with an absolute path or a plain file name (possibly empty), as given.
struct CssNamedPath {
  std::string path;
};

using CssRequest = std::variant<CssNotRequested, CssBesideSeed, CssBadPath, CssNamedPath>;

// The request among the arguments after args[0]: the first argument beginning with "CSS"
// (letter case ignored) decides. A path is absolute when ":\" or ":/" first occurs at its
// second character, or when it begins with "\\" or "/".
CssRequest ResolveCssRequest(const std::vector<std::string>& args);

// The wfdisc path a request names for the SEED file at seedPath, before any folder on disk is
// looked at: the SEED path followed by ".wfdisc" beside the SEED file, a plain name in the SEED
// file's folder, any other named path as it stands. Separators stay as they were given.
// std::nullopt when no CSS output is requested or the request is refused.
std::optional<std::string> RequestedWfdiscPath(const CssRequest& request,
                                               std::string_view seedPath);

}  // namespace tarnvel
