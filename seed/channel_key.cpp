#include "seed/channel_key.h"

#include <algorithm>

#include "text/text_case.h"

namespace tarnvel {

bool IsSafeCode(std::string_view code) {
  if (code.empty() || code == "." || code == "..") return false;
  return std::all_of(code.begin(), code.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '/' && c != '\\' && c != ':';
  });
}

bool HasSafeCodes(std::string_view station, std::string_view channel, std::string_view location) {
  return IsSafeCode(station) && IsSafeCode(channel) && (location.empty() || IsSafeCode(location));
}

void ChannelKey::ToUpperCase() {
  for (std::string* code : {&station, &channel, &location}) *code = ToUpperAscii(*code);
}

}  // namespace tarnvel
