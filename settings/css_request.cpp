#include "settings/css_request.h"

#include <algorithm>

#include "text/text_case.h"

namespace tarnvel {
namespace {

constexpr std::string_view kSeparators = "/\\";

}  // namespace

CssRequest ResolveCssRequest(const std::vector<std::string>& args) {
  const auto request =
      std::find_if(args.size() > 1 ? args.begin() + 1 : args.end(), args.end(),
                   [](const std::string& arg) { return StartsWithIgnoreCase(arg, "CSS"); });
  if (request == args.end()) return CssNotRequested{};
  if (!StartsWithIgnoreCase(*request, "CSS=")) return CssBesideSeed{};

  std::string path = request->substr(4);
  const bool driveLetter = path.find(":\\") == 1 || path.find(":/") == 1;
  // "\\server" and "//server" paths, and on this platform every path from the root.
  const bool fromRoot = path.starts_with("\\\\") || path.starts_with('/');
  if (!driveLetter && !fromRoot && path.find_first_of(kSeparators) != std::string::npos) {
    return CssBadPath{};
  }
  return CssNamedPath{std::move(path)};
}

std::optional<std::string> RequestedWfdiscPath(const CssRequest& request,
                                               std::string_view seedPath) {
  if (std::holds_alternative<CssBesideSeed>(request)) return std::string(seedPath) + ".wfdisc";
  const auto* named = std::get_if<CssNamedPath>(&request);
  if (named == nullptr) return std::nullopt;
  if (named->path.find_first_of(kSeparators) != std::string::npos) return named->path;
  // The SEED file's folder, with its separator; nothing for a SEED path without one.
  const auto lastSeparator = seedPath.find_last_of(kSeparators);
  const std::string_view seedFolder = lastSeparator == std::string_view::npos
                                          ? std::string_view()
                                          : seedPath.substr(0, lastSeparator + 1);
  return std::string(seedFolder) + named->path;
}

}  // namespace tarnvel
