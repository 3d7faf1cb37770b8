// The checker's output: one line per problem, repair, busy channel and coverage span, then one
// summary line; as text for people and shell scripts, or with --json as one JSON object per line
// for monitoring.
//
// Text lines, each a fixed number of fields separated by single spaces before the path, which
// comes last (it may hold spaces) and ends at ": " where a detail follows:
//   <kind> <STA>::<CH>::<LC> <path>[: <detail>]
//   repaired <STA>::<CH>::<LC> <path>: <kind>, <what was done>
//   busy <STA>::<CH>::* <lock file>: a converter holds the lock, its work is left to it
//   span <STA>::<CH>::<LC> <begin> - <end> <samples>
//   gap <STA>::<CH>::<LC> <begin> - <end> <samples>
//   Checked <rows> rows, <files> files, <bytes> bytes: <n> problems (<n> <kind>, ...)[, <n>
//   repaired (<n> <kind>, ...)]
// Times are UTC as the converter's BEG= and END= take them: hh:MM:ss.ssss-dd.mm.yyyy.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "check/problem.h"

namespace tarnvel::check {

// A span of stored samples of one channel, or a gap between two.
struct CoverageSpan {
  ChannelName channel;
  bool gap = false;
  double begin = 0.0;
  double end = 0.0;
  std::int64_t samples = 0;
};

struct Totals {
  long long rows = 0;   // FILELIST rows checked
  long long files = 0;  // regular files looked at
  long long bytes = 0;  // their size
};

// An epoch time in UTC as "hh:MM:ss.ssss-dd.mm.yyyy".
std::string UtcText(double epoch);

class Report {
 public:
  Report(std::FILE* out, bool json) : out_(out), json_(json) {}

  void Found(const Problem& problem);
  void Repaired(const Problem& problem, std::string_view action);
  void Busy(const ChannelName& channel, const std::string& lockPath);
  void Coverage(const CoverageSpan& span);
  void Summary(const Totals& totals);

  // Problems reported (repairs not counted).
  long long problems() const;

 private:
  void Line(const std::string& text);

  std::FILE* out_;
  bool json_;
  KindCounts found_{};
  KindCounts repaired_{};
};

}  // namespace tarnvel::check
