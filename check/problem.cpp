#include "check/problem.h"

namespace tarnvel::check {

std::string_view KindName(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::kMissing:
      return "missing";
    case ProblemKind::kNotAFile:
      return "not-a-file";
    case ProblemKind::kForeignPath:
      return "foreign-path";
    case ProblemKind::kLonger:
      return "longer";
    case ProblemKind::kShorter:
      return "shorter";
    case ProblemKind::kHeader:
      return "header";
    case ProblemKind::kTwice:
      return "twice";
    case ProblemKind::kOverlap:
      return "overlap";
    case ProblemKind::kUnregistered:
      return "unregistered";
    case ProblemKind::kStaged:
      return "staged";
    case ProblemKind::kUnsettled:
      return "unsettled";
    case ProblemKind::kLink:
      return "link";
    case ProblemKind::kUnreadable:
      return "unreadable";
  }
  return "unknown";
}

std::string ChannelName::Text() const {
  if (!known()) return "-";
  return station + "::" + channel + "::" + location;
}

}  // namespace tarnvel::check
