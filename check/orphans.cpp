#include "check/orphans.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "check/row_checks.h"
#include "check/waveform_names.h"
#include "store/file_header.h"
#include "store/piece_plan.h"

namespace tarnvel::check {

std::optional<OrphanRow> WholeOrphan(const StoreFiles& files, const std::string& path,
                                     bool useEndTime) {
  const std::optional<ChannelName> named = ChannelOfPath(path);
  if (!named || StagedFor(path)) return std::nullopt;
  const FileDescriptor fd = files.OpenForReading(path);
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_size <= kDataOffset ||
      (st.st_size - kDataOffset) % 4 != 0) {
    return std::nullopt;
  }
  std::string header(kDataOffset, '\0');
  if (!ReadAllAt(fd.get(), header.data(), header.size(), 0)) return std::nullopt;

  OrphanRow row;
  row.station = HeaderField(header, "Station").value_or("");
  row.channel = HeaderField(header, "Channel").value_or("");
  row.location = HeaderField(header, "LCODE").value_or("");
  if (row.station != named->station || row.channel != named->channel) return std::nullopt;
  std::tm start{};
  const std::string time = HeaderField(header, "Start time").value_or("");
  const std::string date = HeaderField(header, "Start date").value_or("");
  if (std::sscanf(time.c_str(), "%d:%d:%d", &start.tm_hour, &start.tm_min, &start.tm_sec) != 3 ||
      std::sscanf(date.c_str(), "%d-%d-%d", &start.tm_mday, &start.tm_mon, &start.tm_year) != 3) {
    return std::nullopt;
  }
  start.tm_mon -= 1;
  start.tm_year -= 1900;
  start.tm_isdst = -1;
  const std::time_t begin = std::mktime(&start);
  if (begin == static_cast<std::time_t>(-1)) return std::nullopt;
  row.begin = static_cast<double>(begin);
  row.rate = std::strtod(HeaderField(header, "SpS").value_or("0").c_str(), nullptr);
  row.samples = (st.st_size - kDataOffset) / 4;
  if (RowRate(row.rate) <= 0.0) return std::nullopt;
  // Whole: exactly what the store writes for these values, to the last byte.
  const auto expected = StoreHeaderOf(row, row.rate, row.begin, row.samples, useEndTime);
  if (std::memcmp(expected.data(), header.data(), expected.size()) != 0) return std::nullopt;
  // Registered, a blank location is held as every row's is.
  row.location = HeldLocation(row.location);
  return row;
}

}  // namespace tarnvel::check
