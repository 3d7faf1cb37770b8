#include "store/waveform_header.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace tarnvel {

std::tm LocalTimeOf(double epoch) {
  const auto seconds = static_cast<std::time_t>(std::floor(epoch));  // also before 1970
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string FormatDurationText(double lengthSeconds) {
  const double days = std::floor(lengthSeconds / 86400.0);
  const double r = std::fmod(lengthSeconds, 86400.0);
  const double hours = std::floor(r / 3600.0);
  const double r2 = std::fmod(r, 3600.0);
  const double minutes = std::floor(r2 / 60.0);
  const double seconds = std::trunc(std::fmod(r2, 60.0));
  char text[64];
  std::snprintf(text, sizeof text, "%03d %02d %02d %02d", static_cast<int>(days),
                static_cast<int>(hours), static_cast<int>(minutes), static_cast<int>(seconds));
  return text;
}

std::array<char, kWaveformHeaderSize> FormatHeaderText(const std::tm& start, double lengthSeconds,
                                                       double rate, const ChannelKey& channel) {
  std::array<char, kWaveformHeaderSize> header{};
  const std::string duration = FormatDurationText(lengthSeconds);
  std::snprintf(header.data(), header.size(),
                "[QOR5.x]\r\nData offset=512\r\nStart time=%02d:%02d:%02d\r\nStart "
                "date=%02d-%02d-%04d\r\nTime duration=%s\r\nData type=FLOAT\r\nSpS=%0.2f\r\nGain="
                "1\r\nStation=%s\r\nChannel=%s\r\nLCODE=%s\r\n",
                start.tm_hour, start.tm_min, start.tm_sec, start.tm_mday, start.tm_mon + 1,
                start.tm_year + 1900, duration.c_str(), rate, channel.station.c_str(),
                channel.channel.c_str(), channel.location.c_str());
  return header;
}

std::string ComposeWaveformFileName(const std::tm& start, std::string_view channel,
                                    std::string_view station, int serial) {
  const std::string ch(channel);
  const std::string sta(station);
  char text[256];
  if (serial > 0) {
    std::snprintf(text, sizeof text, "%02d%02d%04d-%02d%02d%02d-%3s-%d.%3s", start.tm_mday,
                  start.tm_mon + 1, start.tm_year + 1900, start.tm_hour, start.tm_min, start.tm_sec,
                  ch.c_str(), serial, sta.c_str());
  } else {
    std::snprintf(text, sizeof text, "%02d%02d%04d-%02d%02d%02d-%3s.%3s", start.tm_mday,
                  start.tm_mon + 1, start.tm_year + 1900, start.tm_hour, start.tm_min, start.tm_sec,
                  ch.c_str(), sta.c_str());
  }
  return text;
}

std::string ComposeWaveformCpath(const std::tm& start, std::string_view station,
                                 std::string_view channel, int serial) {
  char hour[16];
  std::snprintf(hour, sizeof hour, "%02d", start.tm_hour);
  return std::string(station) + "/" + hour + "/" +
         ComposeWaveformFileName(start, channel, station, serial);
}

}  // namespace tarnvel
