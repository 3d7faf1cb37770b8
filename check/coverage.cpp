#include "check/coverage.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace tarnvel::check {
namespace {

struct Stretch {
  double begin = 0.0;
  double end = 0.0;
  double rate = 0.0;
  std::int64_t samples = 0;
};

std::int64_t MissingSamples(double from, double to, double rate) {
  return std::max<std::int64_t>(0, std::llround((to - from) * rate));
}

}  // namespace

std::vector<CoverageSpan> ChannelCoverage(const std::vector<CheckedRow>& rows,
                                          const TimeWindow& window) {
  std::map<ChannelKey, std::vector<Stretch>> channels;
  for (const CheckedRow& row : rows) {
    const RegisteredFile& r = row.row;
    const std::int64_t samples = StoredSamples(row);
    if (samples <= 0 || !(r.file.rate > 0.0)) continue;
    channels[r].push_back(Stretch{r.file.begin,
                                  r.file.begin + static_cast<double>(samples) / r.file.rate,
                                  r.file.rate, samples});
  }
  std::vector<CoverageSpan> out;
  for (auto& [key, stretches] : channels) {
    const ChannelName channel{key};
    std::sort(stretches.begin(), stretches.end(),
              [](const Stretch& a, const Stretch& b) { return a.begin < b.begin; });
    std::vector<Stretch> spans;
    for (const Stretch& s : stretches) {
      // The next sample time after a span's end is its end itself.
      if (!spans.empty() && SameRowRate(spans.back().rate, s.rate) &&
          s.begin <= spans.back().end + SameTimeWindow(s.rate)) {
        spans.back().end = std::max(spans.back().end, s.end);
        spans.back().samples += s.samples;
      } else {
        spans.push_back(s);
      }
    }
    if (window.begin && spans.front().begin > *window.begin + SameTimeWindow(spans.front().rate)) {
      out.push_back(
          CoverageSpan{channel, true, *window.begin, spans.front().begin,
                       MissingSamples(*window.begin, spans.front().begin, spans.front().rate)});
    }
    for (std::size_t i = 0; i < spans.size(); ++i) {
      const Stretch& s = spans[i];
      if (i > 0 && s.begin > spans[i - 1].end + SameTimeWindow(s.rate)) {
        out.push_back(CoverageSpan{channel, true, spans[i - 1].end, s.begin,
                                   MissingSamples(spans[i - 1].end, s.begin, spans[i - 1].rate)});
      }
      out.push_back(CoverageSpan{channel, false, s.begin, s.end, s.samples});
    }
    if (window.end && spans.back().end < *window.end - SameTimeWindow(spans.back().rate)) {
      out.push_back(CoverageSpan{channel, true, spans.back().end, *window.end,
                                 MissingSamples(spans.back().end, *window.end, spans.back().rate)});
    }
  }
  return out;
}

}  // namespace tarnvel::check
