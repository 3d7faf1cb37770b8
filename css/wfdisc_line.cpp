#include "css/wfdisc_line.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "seed/time_conversion.h"

namespace tarnvel {

namespace {

bool HasLocation(const TraceSegment& segment) {
  return !segment.location.empty() && segment.location != "??";
}

}  // namespace

std::string WfdiscChannel(const TraceSegment& segment) {
  return HasLocation(segment) ? segment.channel + segment.location : segment.channel;
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

std::string FormatWfdiscLine(const TraceSegment& segment, const std::string& dataFileName,
                             const std::tm& loadDate) {
  CalendarTime t;
  EpochToCalendar(segment.start, t);
  const long jdate = CalendarToJulianDate(t.year, t.month, t.day);
  const std::string chan = WfdiscChannel(segment);
  const char* format =
      "%-6.6s %-8.8s %17.5lf %8ld %8ld %8ld %17.5lf %8ld %11.7lf %16.6f %16.6f %-6.6s %-1.1s "
      "%-2.2s %-1.1s %-64.64s %-32.32s %10ld %8ld %02d/%02d/%02d %02d:%02d:%02d\n";
  auto print = [&](char* out, std::size_t size) {
    return std::snprintf(out, size, format, segment.station.c_str(), chan.c_str(), segment.start,
                         -1L, -1L, jdate, segment.end, static_cast<long>(segment.count),
                         static_cast<double>(segment.rate), 0.0, 0.0, "-", "-", "f4", "-", ".",
                         dataFileName.c_str(), 0L, -1L, loadDate.tm_mon + 1, loadDate.tm_mday,
                         loadDate.tm_year % 100, loadDate.tm_hour, loadDate.tm_min,
                         loadDate.tm_sec);
  };
  const int needed = print(nullptr, 0);
  if (needed <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
  print(buffer.data(), buffer.size());
  return std::string(buffer.data(), static_cast<std::size_t>(needed));
}

}  // namespace tarnvel
