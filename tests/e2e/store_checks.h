// The store checker of the tests: what a QOR store must hold after every conversion.
//
//   - every FILELIST row's file exists as a plain file and holds 512 + TQTY × SPS × 4 bytes (to
//     the precision of the row's columns: TQTY has hundredths of a second), with a header
//     naming the row's station, channel, location code and rate, and giving the row's length
//     (TEND - TBEGIN, or TQTY without TEND) as its duration;
//   - no path is registered twice;
//   - no file below the data directory is unregistered (the channel locks in .lock/ aside);
//   - where the test knows its input, every input sample is stored exactly once, at its time,
//     and the time its row gives it (TBEGIN + i / SPS) lies within half an interval of that;
//     input runs of one channel delivered at other times (off each other's grid) are checked
//     each on its own.
//
// The fixtures that run conversions check the store in their TearDown (StoreExpectations); a
// test that damages a store on purpose names the problems it expects instead.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/filelist_rows.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::testing {

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

inline std::set<std::string> RegisteredPaths(const std::vector<StoredFile>& files) {
  std::set<std::string> out;
  for (const StoredFile& file : files) out.insert(file.cpath);
  return out;
}

// Plain files below the data directory (relative, '/' separated); links are not followed and
// not counted, the channel locks are left out.
inline std::set<std::string> FilesOnDisk(const std::filesystem::path& dataDir) {
  std::set<std::string> out;
  if (!std::filesystem::exists(dataDir)) return out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    const std::string relative = entry.path().lexically_relative(dataDir).generic_string();
    if (relative.rfind(".lock/", 0) == 0) continue;
    out.insert(relative);
  }
  return out;
}

// The path below `dataDir` that a CPATH names: a full path in a network share's spelling
// ("//srv/qor/ABC/..." for a data directory "/srv/qor") loses the directory's part.
inline std::string RelativeCpath(const std::string& cpath, const std::filesystem::path& dataDir) {
  const std::string share = "/" + dataDir.generic_string() + "/";
  return cpath.rfind(share, 0) == 0 ? cpath.substr(share.size()) : cpath;
}

// The "Time duration=" text of a header for a file of `length` seconds: days, hours, minutes,
// whole seconds.
inline std::string DurationText(double length) {
  const double r = std::fmod(length, 86400.0);
  const double r2 = std::fmod(r, 3600.0);
  char text[64];
  std::snprintf(text, sizeof text, "%03d %02d %02d %02d", static_cast<int>(length / 86400.0),
                static_cast<int>(r / 3600.0), static_cast<int>(r2 / 60.0),
                static_cast<int>(std::fmod(r2, 60.0)));
  return text;
}

// The length a row gives its file: TEND - TBEGIN where the row has TEND, else TQTY.
inline double RowLength(const StoredFile& file) {
  return file.end ? *file.end - file.begin : file.quantity;
}

// The duration a waveform file's header gives, in seconds; std::nullopt when it has none.
inline std::optional<double> HeaderDuration(const std::string& bytes) {
  const std::string key = "\r\nTime duration=";
  const std::size_t at = bytes.substr(0, std::min<std::size_t>(bytes.size(), 512)).find(key);
  int days = 0;
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  if (at == std::string::npos || std::sscanf(bytes.c_str() + at + key.size(), "%d %d %d %d", &days,
                                             &hours, &minutes, &seconds) != 4) {
    return std::nullopt;
  }
  return days * 86400.0 + hours * 3600.0 + minutes * 60.0 + seconds;
}

// Files whose header gives a longer duration than their committed row: "ahead: <cpath>". A
// header may lag behind its row after a kill (it is rewritten after the commit), never run
// ahead of it.
inline std::vector<std::string> HeadersAheadOfRows(const std::vector<StoredFile>& files,
                                                   const std::filesystem::path& dataDir) {
  std::vector<std::string> problems;
  for (const StoredFile& file : files) {
    const std::string bytes = ReadFile(dataDir / file.cpath);
    const std::optional<double> duration = HeaderDuration(bytes);
    // Whole seconds in the header, truncated.
    if (duration && *duration > std::floor(RowLength(file) + 1e-6)) {
      problems.push_back("ahead: " + file.cpath);
    }
  }
  return problems;
}

inline std::string RateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%0.2f", rate);
  return text;
}

// What breaks the store's promise in `files` (the rows of FILELIST) and below `dataDir`, one
// line each: "twice: <cpath>", "missing: <cpath>", "not a file: <cpath>", "size: <cpath>",
// "header: <cpath>", "unregistered: <path>". Empty for a sound store.
inline std::vector<std::string> StoreProblems(const std::vector<StoredFile>& files,
                                              const std::filesystem::path& dataDir) {
  namespace fs = std::filesystem;
  std::vector<std::string> problems;
  std::map<std::string, int> registrations;
  for (const StoredFile& file : files) ++registrations[RelativeCpath(file.cpath, dataDir)];
  for (const auto& [cpath, count] : registrations) {
    if (count > 1) problems.push_back("twice: " + cpath);
  }
  for (const StoredFile& file : files) {
    const fs::path path = dataDir / file.cpath;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status)) {
      problems.push_back("missing: " + file.cpath);
      continue;
    }
    if (!fs::is_regular_file(status)) {
      problems.push_back("not a file: " + file.cpath);
      continue;
    }
    const std::string bytes = ReadFile(path);
    const double samples = (static_cast<double>(bytes.size()) - 512.0) / 4.0;
    // TQTY keeps hundredths of a second, TEND ten-thousandths.
    bool sizeFits = bytes.size() >= 512 && (bytes.size() - 512) % 4 == 0 &&
                    std::fabs(samples - file.quantity * file.rate) <= 0.005 * file.rate + 0.5;
    if (file.end) {
      sizeFits = sizeFits && std::fabs(samples - (*file.end - file.begin) * file.rate) <=
                                 0.0001 * file.rate + 0.5;
    }
    if (!sizeFits) problems.push_back("size: " + file.cpath);
    const std::string location =
        file.location == kNullText || file.location.empty() ? "??" : file.location;
    const std::string header = bytes.substr(0, std::min<std::size_t>(bytes.size(), 512));
    const bool headerFits =
        header.rfind("[QOR5.x]\r\nData offset=512\r\n", 0) == 0 &&
        header.find("\r\nTime duration=" + DurationText(RowLength(file)) + "\r\n") !=
            std::string::npos &&
        header.find("\r\nSpS=" + RateText(file.rate) + "\r\n") != std::string::npos &&
        header.find("\r\nStation=" + file.station + "\r\nChannel=" + file.channel +
                    "\r\nLCODE=" + location + "\r\n") != std::string::npos;
    if (!headerFits) problems.push_back("header: " + file.cpath);
  }
  for (const std::string& path : FilesOnDisk(dataDir)) {
    if (!registrations.contains(path)) problems.push_back("unregistered: " + path);
  }
  return problems;
}

// The store checker on its own, for a test that checks in the middle of its runs.
inline void ExpectFilesHoldTheirRows(const std::vector<StoredFile>& files,
                                     const std::filesystem::path& dataDir) {
  EXPECT_EQ(StoreProblems(files, dataDir), std::vector<std::string>{}) << "below " << dataDir;
}

// Input the test knows: one channel's samples from `start` on. Every sample must be stored
// once, at its own time; a channel may be expected in several runs with gaps between them.
struct ExpectedChannel {
  std::string station;
  std::string channel;
  std::string location;  // "??" for a blank one
  double start = 0.0;
  double rate = 0.0;
  std::vector<std::int32_t> samples;
  // Samples from this index on belong to a run that was stopped before it reported them: each
  // is stored at most once, at its time, or not at all.
  std::size_t mayBeMissingFrom = std::numeric_limits<std::size_t>::max();
};

// Where the stored samples differ from `expected`, one line per channel and kind.
inline std::vector<std::string> SampleProblems(const std::vector<StoredFile>& files,
                                               const std::filesystem::path& dataDir,
                                               const std::vector<ExpectedChannel>& expected) {
  struct Tally {
    std::vector<int> times;
    std::int64_t wrong = 0;
  };
  std::vector<Tally> tallies;
  for (const ExpectedChannel& run : expected) {
    tallies.push_back(Tally{std::vector<int>(run.samples.size(), 0)});
  }
  std::vector<std::string> problems;
  std::map<std::string, std::int64_t> outside;
  for (const StoredFile& file : files) {
    const std::string location =
        file.location == kNullText || file.location.empty() ? "??" : file.location;
    const std::string name = file.station + "." + file.channel + "." + location;
    bool known = false;
    std::vector<float> stored;
    // The runs the file overlaps, and where its first sample lies on each one's grid.
    struct Overlap {
      std::size_t run;
      double offset;
      std::int64_t first;
    };
    std::vector<Overlap> overlaps;
    for (std::size_t r = 0; r < expected.size(); ++r) {
      const ExpectedChannel& run = expected[r];
      if (file.station != run.station || file.channel != run.channel || location != run.location) {
        continue;
      }
      if (!known) stored = FileSamples(dataDir / file.cpath);
      known = true;
      if (RateText(file.rate) != RateText(run.rate)) continue;
      const double offset = (file.begin - run.start) * run.rate;
      const std::int64_t first = std::llround(offset);
      const auto total = static_cast<std::int64_t>(run.samples.size());
      if (first >= total || first + static_cast<std::int64_t>(stored.size()) <= 0) continue;
      overlaps.push_back({r, offset, first});
    }
    // Samples delivered at other times are other samples: a file on one run's grid is checked
    // against the runs it lies on, and is off the sample times only when it lies on none.
    auto onGrid = [](const Overlap& o) {
      return std::fabs(o.offset - static_cast<double>(o.first)) <= 0.05;
    };
    const bool onSomeGrid = std::any_of(overlaps.begin(), overlaps.end(), onGrid);
    for (const Overlap& overlap : overlaps) {
      const ExpectedChannel& run = expected[overlap.run];
      const std::int64_t first = overlap.first;
      const auto total = static_cast<std::int64_t>(run.samples.size());
      if (!onGrid(overlap)) {
        if (!onSomeGrid) problems.push_back(name + ": " + file.cpath + " is off the sample times");
        continue;
      }
      // SPS keeps hundredths: where it is not the true rate, the row's times drift away.
      const double drift = std::fabs(run.rate / file.rate - 1.0) *
                           static_cast<double>(std::max<std::size_t>(stored.size(), 1) - 1);
      if (drift >= 0.5) {
        problems.push_back(name + ": " + file.cpath +
                           " has samples its row places off their times");
      }
      for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::int64_t k = first + static_cast<std::int64_t>(i);
        if (k < 0 || k >= total) {
          ++outside[name];
          continue;
        }
        ++tallies[overlap.run].times[static_cast<std::size_t>(k)];
        if (stored[i] != static_cast<float>(run.samples[static_cast<std::size_t>(k)])) {
          ++tallies[overlap.run].wrong;
        }
      }
    }
    if (known && overlaps.empty() && !stored.empty()) {
      outside[name] += static_cast<std::int64_t>(stored.size());
    }
  }
  for (std::size_t r = 0; r < expected.size(); ++r) {
    const ExpectedChannel& run = expected[r];
    const std::vector<int>& times = tallies[r].times;
    const std::string name = run.station + "." + run.channel + "." + run.location;
    const auto required =
        times.begin() + static_cast<std::ptrdiff_t>(std::min(run.mayBeMissingFrom, times.size()));
    const auto missing = std::count(times.begin(), required, 0);
    const auto repeated = std::count_if(times.begin(), times.end(), [](int n) { return n > 1; });
    if (missing > 0) problems.push_back(name + ": " + std::to_string(missing) + " samples missing");
    if (repeated > 0) {
      problems.push_back(name + ": " + std::to_string(repeated) + " samples stored more than once");
    }
    if (tallies[r].wrong > 0) {
      problems.push_back(name + ": " + std::to_string(tallies[r].wrong) + " samples differ");
    }
  }
  for (const auto& [name, count] : outside) {
    problems.push_back(name + ": " + std::to_string(count) + " samples outside its time");
  }
  return problems;
}

// The problems of a store, its samples included where `expected` names channels.
inline std::vector<std::string> AllStoreProblems(const std::vector<StoredFile>& files,
                                                 const std::filesystem::path& dataDir,
                                                 const std::vector<ExpectedChannel>& expected) {
  std::vector<std::string> problems = StoreProblems(files, dataDir);
  for (std::string& problem : SampleProblems(files, dataDir, expected)) {
    problems.push_back(std::move(problem));
  }
  return problems;
}

// Rows (load dates included) and file bytes of a store: equal snapshots are one store.
struct StoreSnapshot {
  std::vector<Row> rows;
  std::map<std::string, std::string> files;
  bool operator==(const StoreSnapshot&) const = default;
};

inline StoreSnapshot SnapshotOf(TestDatabase& db, const std::filesystem::path& dataDir) {
  StoreSnapshot snapshot;
  snapshot.rows = db.Query(
      "select STA, CH, LCODE, TBEGIN, TQTY, SPS, CPATH, FOFF, CREATER, LDDATE from FILELIST "
      "order by CPATH");
  for (const std::string& path : FilesOnDisk(dataDir)) {
    snapshot.files[path] = ReadFile(dataDir / path);
  }
  return snapshot;
}

// The same store apart from when its rows were written: the snapshot without LDDATE, which
// SnapshotOf reads last.
inline StoreSnapshot WithoutLoadDates(StoreSnapshot snapshot) {
  for (Row& row : snapshot.rows) {
    if (!row.empty()) row.pop_back();
  }
  return snapshot;
}

// For fixtures: what a test expects of its store, checked once at its end.
class StoreExpectations {
 public:
  // Input the test knows: its samples must be stored exactly once at their times.
  void ExpectSamples(ExpectedChannel channel) { channels_.push_back(std::move(channel)); }
  // Damage the test did on purpose: exactly these problems, in StoreProblems' words.
  void ExpectProblems(std::vector<std::string> problems) { problems_ = std::move(problems); }
  // Forget the samples expected so far (the test changed its input).
  void ForgetSamples() { channels_.clear(); }

  // Checks the store now (a test whose data directory goes away before its end calls this).
  void CheckStore(TestDatabase& db, const std::filesystem::path& dataDir) {
    checked_ = true;
    std::vector<std::string> problems = AllStoreProblems(StoredFiles(db), dataDir, channels_);
    std::sort(problems.begin(), problems.end());
    std::vector<std::string> expected = problems_;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(problems, expected) << "the store below " << dataDir;
  }

 protected:
  bool StoreChecked() const { return checked_; }

 private:
  std::vector<ExpectedChannel> channels_;
  std::vector<std::string> problems_;
  bool checked_ = false;
};

}  // namespace tarnvel::testing
