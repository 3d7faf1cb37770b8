// Checks of a QOR store after a run: FILELIST rows against the waveform files they register.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::testing {

// The columns of a FILELIST row the checks need, in this order in every query.
inline constexpr const char* kStoredFileColumns = "CPATH, TBEGIN, TQTY, SPS, STA, CH, LCODE";

struct StoredFile {
  std::string cpath;
  double begin = 0.0;
  double quantity = 0.0;
  double rate = 0.0;
  std::string station;
  std::string channel;
  std::string location;
};

inline std::vector<StoredFile> ToStoredFiles(const std::vector<Row>& rows) {
  std::vector<StoredFile> files;
  for (const Row& row : rows) {
    files.push_back(StoredFile{row.at(0), std::stod(row.at(1)), std::stod(row.at(2)),
                               std::stod(row.at(3)), row.at(4), row.at(5), row.at(6)});
  }
  return files;
}

// Every row of FILELIST, earliest start first.
inline std::vector<StoredFile> StoredFiles(TestDatabase& db) {
  return ToStoredFiles(db.Query(std::string("select ") + kStoredFileColumns +
                                " from FILELIST order by TBEGIN, STA"));
}

// Samples a row says its file holds.
inline std::int64_t RowSamples(const StoredFile& file) {
  return std::llround(file.quantity * file.rate);
}

// The bytes after a waveform file's header (empty for a missing or short file).
inline std::string SampleBytes(const std::filesystem::path& path) {
  const std::string bytes = ReadFile(path);
  return bytes.size() > 512 ? bytes.substr(512) : std::string();
}

// The sample bytes of each channel's registered files, joined in time order, by
// "STA.CH.LCODE".
inline std::map<std::string, std::string> StoredSamplesByChannel(TestDatabase& db) {
  std::map<std::string, std::string> out;
  for (const StoredFile& file : StoredFiles(db)) {
    out[file.station + "." + file.channel + "." + file.location] +=
        SampleBytes(db.dataDir() / file.cpath);
  }
  return out;
}

// Every registered file exists, carries a header and holds exactly the samples its row says.
// With `placeholderAllowed` a header may also still be the zero placeholder a file gets before
// its header is written (the database went away in between).
inline void ExpectFilesHoldTheirRows(const std::vector<StoredFile>& files,
                                     const std::filesystem::path& dataDir,
                                     bool placeholderAllowed = false) {
  for (const StoredFile& file : files) {
    const auto path = dataDir / file.cpath;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
      ADD_FAILURE() << "registered file missing: " << file.cpath;
      continue;
    }
    EXPECT_EQ(size, static_cast<std::uintmax_t>(512 + RowSamples(file) * 4))
        << file.cpath << " TQTY " << file.quantity << " SPS " << file.rate;
    const std::string header = ReadFile(path).substr(0, 512);
    if (placeholderAllowed && header == std::string(512, '\0')) continue;
    EXPECT_EQ(header.rfind("[QOR5.x]\r\n", 0), 0u) << file.cpath;
  }
}

// Regular files below the data directory (relative, '/' separated), channel lock files left
// out.
inline std::set<std::string> FilesOnDisk(const std::filesystem::path& dataDir) {
  std::set<std::string> out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = entry.path().lexically_relative(dataDir).generic_string();
    if (relative.rfind(".lock/", 0) == 0) continue;
    out.insert(relative);
  }
  return out;
}

inline std::set<std::string> RegisteredPaths(const std::vector<StoredFile>& files) {
  std::set<std::string> out;
  for (const StoredFile& file : files) out.insert(file.cpath);
  return out;
}

// The samples of a file as the floats it stores.
inline std::vector<float> FileSamples(const std::filesystem::path& path) {
  const std::string bytes = ReadFile(path);
  std::vector<float> out;
  if (bytes.size() < 512) return out;
  out.resize((bytes.size() - 512) / 4);
  std::memcpy(out.data(), bytes.data() + 512, out.size() * 4);
  return out;
}

inline std::vector<float> AsFloats(const std::vector<std::int32_t>& samples) {
  return std::vector<float>(samples.begin(), samples.end());
}

}  // namespace tarnvel::testing
