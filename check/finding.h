// A problem as the checker found it, with what a repair needs to know of it.
#pragma once

#include <optional>
#include <string>

#include "check/problem.h"
#include "store/filelist_survey.h"
#include "store/piece_plan.h"

namespace tarnvel::check {

struct Finding {
  Problem problem;
  std::string relative;               // the path below the data directory
  std::optional<RegisteredFile> row;  // the row it concerns, where there is one
  FileCheck check;                    // that row's file against it
  bool lengthOnly = false;            // a header that disagrees with its row in its length alone
};

// The channel of a row as the report names it.
inline ChannelName ChannelOf(const RegisteredFile& row) {
  return ChannelName{row};
}

}  // namespace tarnvel::check
