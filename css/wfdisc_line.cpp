#include "css/wfdisc_line.h"

#include <algorithm>
#include <cstdio>

#include "seed/time_conversion.h"

namespace tarnvel {

namespace {

constexpr int kTimeWidth = 17;
constexpr int kTimeDecimals = 5;
constexpr int kRateWidth = 11;
constexpr int kRateDecimals = 7;
constexpr long kLargestByteOffset = 9999999999L;  // foff is ten characters wide

// `value` in fixed point, right-aligned in `width` characters, with `decimals` decimals or as
// many fewer as the whole part needs; empty when not even the whole part fits.
std::string FixedInWidth(double value, int width, int decimals) {
  for (int d = decimals; d >= 0; --d) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%*.*f", width, d, value);
    if (n > 0 && n <= width) return text;
  }
  return {};
}

// One line for `count` samples from sample `first` of the segment, which begin `byteOffset`
// bytes into its data file; empty when a field does not fit.
std::string FormatLine(const TraceSegment& segment, std::int64_t first, std::int64_t count,
                       const std::string& dataFileName, const std::tm& loadDate) {
  const bool whole = first == 0 && count == segment.count;
  const double start =
      whole ? segment.start : segment.start + static_cast<double>(first) / segment.nominalRate;
  const double end = whole || first + count == segment.count
                         ? segment.end
                         : start + static_cast<double>(count) / segment.nominalRate;
  CalendarTime t;
  EpochToCalendar(start, t);
  const long jdate = CalendarToJulianDate(t.year, t.month, t.day);
  const std::string chan = WfdiscChannel(segment);
  const std::string time = FixedInWidth(start, kTimeWidth, kTimeDecimals);
  const std::string endTime = FixedInWidth(end, kTimeWidth, kTimeDecimals);
  const std::string rate = FixedInWidth(segment.nominalRate, kRateWidth, kRateDecimals);
  const long byteOffset = static_cast<long>(first) * 4;
  if (time.empty() || endTime.empty() || rate.empty() ||
      dataFileName.size() > kWfdiscDataFileNameWidth || byteOffset > kLargestByteOffset) {
    return {};
  }
  char line[kWfdiscLineLength + 64];
  const int n = std::snprintf(
      line, sizeof line,
      "%-6.6s %-8.8s %s %8ld %8ld %8ld %s %8ld %s %16.6f %16.6f %-6.6s %-1.1s %-2.2s %-1.1s "
      "%-64.64s %-32.32s %10ld %8ld %02d/%02d/%02d %02d:%02d:%02d\n",
      segment.station.c_str(), chan.c_str(), time.c_str(), -1L, -1L, jdate, endTime.c_str(),
      static_cast<long>(count), rate.c_str(), 0.0, 0.0, "-", "-", "f4", "-", ".",
      dataFileName.c_str(), byteOffset, -1L, loadDate.tm_mon + 1, loadDate.tm_mday,
      loadDate.tm_year % 100, loadDate.tm_hour, loadDate.tm_min, loadDate.tm_sec);
  // Whatever field would still widen the line (a jdate beyond eight digits) refuses it.
  if (n != static_cast<int>(kWfdiscLineLength) + 1) return {};
  return std::string(line, static_cast<std::size_t>(n));
}

}  // namespace

std::string WfdiscChannel(const TraceSegment& segment) {
  return segment.HasLocation() ? segment.channel + segment.location : segment.channel;
}

std::string WfdiscDataFileName(const TraceSegment& segment, int serial) {
  CalendarTime t;
  EpochToCalendar(segment.start, t);
  const std::string chan = WfdiscChannel(segment);
  char text[160];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d-%s-%s", t.year, t.month, t.day, t.hour,
                t.minute, static_cast<int>(t.seconds), segment.station.c_str(), chan.c_str());
  std::string name = text;
  if (serial > 0) name += "-" + std::to_string(serial);
  return name + ".w";
}

std::string FormatWfdiscLines(const TraceSegment& segment, const std::string& dataFileName,
                              const std::tm& loadDate) {
  if (segment.count <= kWfdiscMaxSamples) {
    return FormatLine(segment, 0, std::max<std::int64_t>(segment.count, 0), dataFileName, loadDate);
  }
  std::string lines;
  for (std::int64_t first = 0; first < segment.count; first += kWfdiscMaxSamples) {
    const std::string line = FormatLine(
        segment, first, std::min(kWfdiscMaxSamples, segment.count - first), dataFileName, loadDate);
    if (line.empty()) return {};
    lines += line;
  }
  return lines;
}

}  // namespace tarnvel
