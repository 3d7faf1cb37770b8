// The texts of a waveform file: its file name under the hour directory and its 512-byte
// "[QOR5.x]" header. Pure functions over already-broken-down local times.
#pragma once

#include <array>
#include <ctime>
#include <string>
#include <string_view>

#include "seed/channel_key.h"

namespace tarnvel {

inline constexpr int kWaveformHeaderSize = 512;

// The local calendar time of the whole second at or before `epoch` (also before 1970): the
// time a file starting at `epoch` is named and headed by.
std::tm LocalTimeOf(double epoch);

// A file length in seconds as "%03d %02d %02d %02d": days, hours, minutes, whole seconds.
std::string FormatDurationText(double lengthSeconds);

// The header text for a file starting at local time `start`, zero-padded to 512 bytes. A text
// that would not fit leaves its last byte zero.
std::array<char, kWaveformHeaderSize> FormatHeaderText(const std::tm& start, double lengthSeconds,
                                                       double rate, const ChannelKey& channel);

// "ddmmyyyy-hhmmss-CCC.SSS" with channel and station right-aligned in three characters. A
// `serial` above 0 keeps a second file of the same second apart: "...-CCC-<serial>.SSS".
std::string ComposeWaveformFileName(const std::tm& start, std::string_view channel,
                                    std::string_view station, int serial = 0);

// The path of that file relative to the data directory: "<STA>/<hh>/<file name>". The one
// composer of the names the store writes and the converter's messages show.
std::string ComposeWaveformCpath(const std::tm& start, std::string_view station,
                                 std::string_view channel, int serial = 0);

}  // namespace tarnvel
