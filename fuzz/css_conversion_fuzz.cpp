// A whole SEED file through the conversion to CSS output: open, detect the record length, read
// every record into the run's segments, write each segment's wfdisc line and data file. Every
// file the run writes must land in the output folder; anything found elsewhere aborts.
//
// Folders, under one private folder made at start:
//   in/   the input file           cwd/  the working directory of the process
//   a/b/  the data directory, where the wfdisc file and the data files go
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>

#include "converter/output_phase.h"
#include "converter/reading_phase.h"
#include "converter/seed_file.h"
#include "css/css_writer.h"
#include "fuzz/segment_checks.h"
#include "store/waveform_store.h"

namespace fs = std::filesystem;
using tarnvel::fuzz::Require;

namespace {

struct Folders {
  fs::path root;
  fs::path input;
  fs::path cwd;
  fs::path data;
};

// The private folder, kept outside any object so that the exit handler still finds it.
char privateRoot[4096];

void RemovePrivateFolder() {
  std::error_code ignored;
  fs::current_path(fs::temp_directory_path(ignored), ignored);
  fs::remove_all(privateRoot, ignored);
}

const Folders& Setup() {
  static const Folders folders = [] {
    // Progress lines of the reading and writing phases are noise here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    const std::string pattern = (fs::temp_directory_path() / "tarnvel-css-fuzz.XXXXXX").string();
    if (pattern.size() >= sizeof privateRoot) std::abort();
    std::snprintf(privateRoot, sizeof privateRoot, "%s", pattern.c_str());
    if (mkdtemp(privateRoot) == nullptr) std::abort();
    std::atexit(RemovePrivateFolder);  // when the fuzzer exits normally
    Folders f;
    f.root = privateRoot;
    f.input = f.root / "in";
    f.cwd = f.root / "cwd";
    f.data = f.root / "a" / "b";
    fs::create_directories(f.input);
    fs::create_directories(f.cwd);
    fs::create_directories(f.data);
    fs::current_path(f.cwd);
    return f;
  }();
  return folders;
}

std::size_t Entries(const fs::path& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++n;
  return n;
}

// Runs the conversion; returns the number of segments the CSS writer wrote. A segment may fail
// only whole: a data file name that does not fit the wfdisc field.
std::size_t Convert(const std::string& seedPath, const std::string& wfdiscPath,
                    const Folders& folders) {
  tarnvel::ResolvedSettings settings;
  settings.dataDir = tarnvel::DataDirectory(folders.data.string());
  tarnvel::WaveformStore store(settings);  // never connected: the CSS writer needs no database

  tarnvel::SeedFile file;
  Require(file.Open(seedPath), "input file does not open");
  int recordLength = -1;
  if (!tarnvel::DetermineRecordLength(std::nullopt, file, recordLength)) return 0;

  tarnvel::CollectingDebugSink sink;
  tarnvel::RunContext context;
  context.debug = &sink;
  // Data files staged while reading, as the driver does, with limits small enough for the
  // fuzzer's inputs. Declared after the context: it ends before the samples go.
  tarnvel::DataFileStaging staging(tarnvel::CssDataFolder(store.Directory(), wfdiscPath),
                                   {.stageFrom = 64, .handOver = 32, .mostStaged = 4});
  if (tarnvel::UsableRecordLength(recordLength)) {
    Require(file.Rewind(), "rewind failed");
    context.growth = &staging;
    tarnvel::ReadForConversion(file, recordLength, file.Size(), context);
    context.growth = nullptr;
  }
  tarnvel::fuzz::CheckSegments(context.segments, true);

  tarnvel::OutputTarget target;
  target.cssMode = true;
  target.wfdiscPath = wfdiscPath;
  target.staging = &staging;
  target.sync = false;  // the output folder goes with every input: durability is no concern
  const std::size_t segments = context.segments.size();
  const int failed = tarnvel::WriteSegments(context, store, target);
  Require(failed >= 0 && static_cast<std::size_t>(failed) <= segments, "failures miscounted");
  Require(context.segments.empty(), "segments not released");
  return segments - static_cast<std::size_t>(failed);
}

std::size_t LineCount(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::size_t lines = 0;
  for (char c; in.get(c);) lines += c == '\n' ? 1 : 0;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Folders& folders = Setup();
  const std::string seedPath = (folders.input / "x.seed").string();
  {
    std::ofstream out(seedPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Require(static_cast<bool>(out), "input file not written");
  }
  // Both forms the driver hands over: a path relative to the data directory and an absolute one.
  const bool relative = size > 0 && (data[size - 1] & 1u) != 0;
  const std::string wfdiscPath =
      relative ? std::string("x.seed.wfdisc") : (folders.data / "x.seed.wfdisc").string();

  std::size_t segments = 0;
  bool completed = false;
  try {
    segments = Convert(seedPath, wfdiscPath, folders);
    completed = true;
  } catch (const std::bad_alloc&) {
    // The driver reports exhausted memory as a read error; not a fault here.
  }

  // One wfdisc line per written segment, and data files of whole samples only.
  const fs::path wfdisc = folders.data / "x.seed.wfdisc";
  if (completed) {
    Require(LineCount(wfdisc) == segments, "wfdisc lines and segments differ");
  }
  for (const auto& entry : fs::directory_iterator(folders.data)) {
    if (entry.path() == wfdisc) continue;
    Require(entry.is_regular_file() && entry.path().extension() == ".w",
            "unexpected entry in the output folder");
    Require(entry.file_size() % 4 == 0, "data file of a partial sample");
  }

  // Everything written must be inside the data directory; nothing beside it.
  Require(Entries(folders.root) == 3 && Entries(folders.root / "a") == 1 &&
              Entries(folders.input) == 1 && Entries(folders.cwd) == 0,
          "a file escaped the output folder");
  for (const auto& entry : fs::directory_iterator(folders.data)) fs::remove_all(entry.path());
  return 0;
}
