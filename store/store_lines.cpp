#include "store/store_lines.h"

#include <cstdio>

#include "converter/console_wording.h"

namespace tarnvel {

void PrintOpenError(const std::string& path) {
  std::printf(wording::kOpenErrLine, wording::kOpenErr, path.c_str());
  std::fflush(stdout);
}

void PrintNotContinued(PieceNotice notice, const std::string& path) {
  switch (notice) {
    case PieceNotice::kFileShorterThanRow:
      std::printf("\rNot continued, the file is shorter than its FILELIST row (%s)\n",
                  path.c_str());
      break;
    case PieceNotice::kFileMissing:
      std::printf("\rNot continued, the registered file is missing (%s)\n", path.c_str());
      break;
    case PieceNotice::kNone:
      return;
  }
  std::fflush(stdout);
}

void PrintReplaced(std::int64_t count, const std::string& path) {
  std::printf(wording::kReplacedSamples, static_cast<long long>(count), path.c_str());
  std::fflush(stdout);
}

void PrintRateNotStorable(const SegmentToStore& segment) {
  std::printf("\rSample rate %g is below 0.005, not stored (%s::%s::%s)\n", segment.rate,
              segment.station.c_str(), segment.channel.c_str(), segment.location.c_str());
  std::fflush(stdout);
}

}  // namespace tarnvel
