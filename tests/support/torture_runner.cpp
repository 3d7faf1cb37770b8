#include "tests/support/torture_runner.h"

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <thread>

#include "tests/e2e/background_process.h"
#include "tests/e2e/store_checks.h"
#include "tests/support/converter_sandbox.h"
#include "tests/support/process.h"
#include "tests/support/torture_model.h"

namespace tarnvel::testing::torture {
namespace {

namespace fs = std::filesystem;

// A step's conversions that have not ended after this long hang.
constexpr auto kLongestStep = std::chrono::seconds(120);
constexpr int kSegmentFailedCode = 252;
// How long apart the runs of a step under a lock file cleaner start.
constexpr auto kStagger = std::chrono::milliseconds(8);

// One segment of a run as the converter gathers it from the file's records.
struct Segment {
  int epoch = 0;
  double start = 0.0;
  double end = 0.0;
  std::int64_t count = 0;
  std::vector<SlotKey> keys;
  std::vector<std::int32_t> values;
  bool failed = false;
};

// Records join the first segment of their channel and rate that ends within 1.5 intervals of
// their start, as the reader files them.
std::vector<Segment> SegmentsOf(const History& history, const Delivery& file,
                                const BuiltFile& built) {
  std::vector<Segment> segments;
  for (const BuiltRecord& record : built.records) {
    const PieceRef& piece = file.pieces.at(static_cast<std::size_t>(record.piece));
    const double rate = history.epochs.at(static_cast<std::size_t>(piece.epoch)).rate;
    Segment* into = nullptr;
    for (Segment& segment : segments) {
      if (segment.epoch == piece.epoch && std::fabs(segment.end - record.start) < 1.5 / rate) {
        into = &segment;
        break;
      }
    }
    if (into == nullptr) {
      Segment segment;
      segment.epoch = piece.epoch;
      segment.start = segment.end = record.start;
      segments.push_back(std::move(segment));
      into = &segments.back();
    }
    for (std::int64_t k = record.first; k < record.first + record.count; ++k) {
      into->keys.push_back(KeyOf(piece.epoch, k, piece.phase));
      into->values.push_back(piece.Value(k));
    }
    into->count += record.count;
    into->end = into->start + static_cast<double>(into->count) / rate;
  }
  return segments;
}

// The failed segments a run names: station, channel and the file name of its data path.
struct FailureLine {
  std::string text;
  std::string station;
  std::string channel;
  std::string path;
};

std::vector<FailureLine> FailureLines(const std::string& output) {
  std::vector<FailureLine> lines;
  static const std::regex line("(DB write error|Delete error) \\(([^:]*)::([^:]*)::([^)]*)\\)");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
       it != std::sregex_iterator(); ++it) {
    lines.push_back(FailureLine{(*it)[0], (*it)[2], (*it)[3], (*it)[4]});
  }
  return lines;
}

// The start second a data path names ("<dir>/<STA>/<hh>/ddmmyyyy-hhmmss-CH.STA", UTC).
std::optional<long long> NamedSecond(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  std::tm tm{};
  if (name.size() < 15 || std::sscanf(name.c_str(), "%2d%2d%4d-%2d%2d%2d", &tm.tm_mday, &tm.tm_mon,
                                      &tm.tm_year, &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6) {
    return std::nullopt;
  }
  tm.tm_mon -= 1;
  tm.tm_year -= 1900;
  return static_cast<long long>(timegm(&tm));
}

// Console output without its progress lines.
std::string Readable(const std::string& output) {
  std::string out;
  std::string line;
  const auto flush = [&] {
    if (!line.empty() && line.find("Converting File - ") == std::string::npos &&
        line.find("Writing to database - ") == std::string::npos) {
      out += "    " + line + "\n";
    }
    line.clear();
  };
  for (char c : output) {
    if (c == '\r' || c == '\n') {
      flush();
    } else {
      line += c;
    }
  }
  flush();
  return out;
}

// A file damaged by hand and what it held before.
struct Damage {
  std::vector<SlotKey> keys;
  bool mustBeRestored = false;
};

class HistoryRunner {
 public:
  HistoryRunner(const History& history, const RunnerOptions& options)
      : history_(history),
        options_(options),
        db_(options.database),
        sandbox_(root_ / "program", root_ / "work"),
        model_(history.epochs) {
    if (!options.converter.empty()) {
      fs::remove(sandbox_.Program());
      fs::create_symlink(fs::absolute(options.converter), sandbox_.Program());
    }
  }

  HistoryResult Play() {
    HistoryResult result;
    for (std::size_t s = 0; s < history_.steps.size(); ++s) {
      const Step& step = history_.steps[s];
      if (options_.trace != nullptr) *options_.trace << "  step " << s + 1 << ": " << ToText(step);
      std::vector<std::string> problems;
      outputs_.clear();
      bool check = false;
      switch (step.kind) {
        case StepKind::kConvert:
        case StepKind::kParallel:
          problems = Convert(step.runs, step.cleanLocks);
          check = true;
          break;
        case StepKind::kSettle: {
          Run run;
          run.file.pieces.push_back(SettlePiece(history_, settles_++));
          problems = Convert({run});
          check = true;
          break;
        }
        case StepKind::kCut:
          if (!unsettled_) Cut(step);
          check = true;
          break;
        case StepKind::kRefuse:
          Refuse(step.refusal);
          break;
        case StepKind::kAllow:
          Allow();
          break;
        case StepKind::kNote:
          WriteNote(step);
          break;
      }
      if (options_.afterStep) options_.afterStep(s, db_);
      if (check && !unsettled_) {
        for (std::string& problem : Check()) problems.push_back(std::move(problem));
      }
      if (options_.trace != nullptr) {
        *options_.trace << (unsettled_ && check ? "  (unsettled)" : "") << "\n" << outputs_;
      }
      result.steps = s + 1;
      if (!problems.empty()) {
        result.failure = StepFailure{s, problems, outputs_ + StoreListing()};
        return result;
      }
    }
    return result;
  }

 private:
  // Runs the conversions of one step at once; what they stored goes into the model.
  std::vector<std::string> Convert(const std::vector<Run>& runs, bool cleanLocks = false) {
    struct Started {
      const Run* run;
      BuiltFile built;
      std::unique_ptr<BackgroundProcess> process;
      bool killSent = false;
    };
    std::vector<Started> started;
    const std::string tag = std::to_string(++conversions_);
    // The rows before the step (and after it, below): a failure line naming a registered file
    // may come from any segment that reached it.
    const std::vector<StoredFile> rowsBefore = StoredFiles(db_);
    for (std::size_t i = 0; i < runs.size(); ++i) {
      Started s{&runs[i], BuildFile(history_, runs[i].file), nullptr};
      const fs::path seed = sandbox_.workDir() / ("run" + tag + "-" + std::to_string(i) + ".seed");
      WriteFile(seed, s.built.Bytes());
      std::map<std::string, std::string> env = sandbox_.Environment();
      if (runs[i].killAtCall > 0) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        env["LD_PRELOAD"] = options_.killLibrary;
        env["KILL_AT_CALL"] = std::to_string(runs[i].killAtCall);
        env["ASAN_OPTIONS"] =
            std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
      }
      // Under a cleaner the runs start one after another, so that one opens the lock file the
      // cleaner removed while another holds the old one.
      if (cleanLocks && i > 0) std::this_thread::sleep_for(kStagger);
      started.push_back(std::move(s));
      started.back().process = std::make_unique<BackgroundProcess>(
          sandbox_.Program().string(),
          std::vector<std::string>{seed.string(), "ODBC=" + db_.dsn(), "USER=" + db_.user(),
                                   "PASSWORD=" + db_.password(), "DATA=" + db_.dataDir().string()},
          env, sandbox_.workDir() / ("run" + tag + "-" + std::to_string(i) + ".out"));
    }
    const auto begin = std::chrono::steady_clock::now();
    for (bool running = true; running;) {
      running = false;
      const auto elapsed = std::chrono::steady_clock::now() - begin;
      for (Started& s : started) {
        if (s.process->Finished()) continue;
        running = true;
        if (!s.killSent && s.run->killAfterMs >= 0 &&
            elapsed >= std::chrono::milliseconds(s.run->killAfterMs)) {
          ::kill(s.process->pid(), SIGKILL);
          s.killSent = true;
        }
        if (elapsed > kLongestStep) ::kill(s.process->pid(), SIGKILL);
      }
      if (running && cleanLocks) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(db_.dataDir() / ".lock", ec)) {
          fs::remove(entry.path(), ec);
        }
      }
      if (running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    std::vector<std::string> problems;
    std::vector<Delivered> delivered;
    std::vector<std::vector<Segment>> perRun;
    bool anyKilled = false;
    const std::vector<StoredFile> rowsAfter = StoredFiles(db_);
    for (std::size_t i = 0; i < started.size(); ++i) {
      Started& s = started[i];
      const int code = s.process->Wait();
      const std::string output = s.process->Output();
      const bool killed = code == -1000 && s.run->Killed();
      anyKilled = anyKilled || killed;
      const std::string name = "run " + std::to_string(i + 1);
      outputs_ += "  " + name + " (" +
                  (killed ? std::string("killed") : "exit " + std::to_string(code)) + "):\n" +
                  Readable(output);
      std::vector<Segment> segments = SegmentsOf(history_, s.run->file, s.built);
      const std::vector<FailureLine> failures = FailureLines(output);
      if (!killed) {
        if (code == -1000) {
          problems.push_back("exit: " + name + " died or hung without being killed");
        } else if (code == 0 && !failures.empty()) {
          problems.push_back("exit: " + name + " ended with 0 after a failed segment");
        } else if (code == kSegmentFailedCode && failures.empty()) {
          problems.push_back("exit: " + name + " ended with 252 without a failed segment");
        } else if (code != 0 && code != kSegmentFailedCode) {
          problems.push_back("exit: " + name + " ended with " + std::to_string(code));
        }
        // A cleaner that removes lock files every millisecond may take a lock from under every
        // try: the store then refuses the work rather than store without it. Elsewhere a
        // failure needs something refusing.
        if (!failures.empty() && triggers_.empty() && !cleanLocks) {
          problems.push_back("failed: " + name +
                             " failed a segment with nothing refusing: " + failures[0].text);
        }
      }
      for (const FailureLine& failure : failures) {
        // The line names the file the segment's storing tried: the file it starts (named by its
        // start second), or else one it continues or stores over, which began at most a file's
        // longest length (a day) before it.
        const std::optional<long long> second = NamedSecond(failure.path);
        const auto names = [&](const Segment& segment, bool exactly) {
          const Epoch& epoch = history_.epochs[static_cast<std::size_t>(segment.epoch)];
          if (epoch.station != failure.station || epoch.channel != failure.channel || !second) {
            return false;
          }
          const auto start = static_cast<long long>(std::floor(segment.start));
          if (exactly) return start == *second;
          return *second >= start - 86400 && *second <= static_cast<long long>(segment.end);
        };
        // A file registered before or after the step is one the failed segment continued,
        // stored over or restored, and no segment started it anew under that name: every
        // segment that reaches its registered span (or its end) may be the one that failed.
        // Another segment of the run may start in the same second as that file, and name it
        // for a segment that did not fail.
        const std::string cpath = RelativeToData(failure.path);
        const auto reaches = [&](const Segment& segment) {
          const Epoch& epoch = history_.epochs[static_cast<std::size_t>(segment.epoch)];
          if (epoch.station != failure.station || epoch.channel != failure.channel) return false;
          for (const std::vector<StoredFile>* rows : {&rowsBefore, &rowsAfter}) {
            for (const StoredFile& row : *rows) {
              if (row.cpath != cpath) continue;
              if (segment.start <= row.begin + row.quantity + 1.5 / epoch.rate &&
                  segment.end >= row.begin) {
                return true;
              }
            }
          }
          return false;
        };
        bool matched = false;
        for (Segment& segment : segments) {
          if (!reaches(segment)) continue;
          segment.failed = true;
          matched = true;
        }
        for (const bool exactly : {true, false}) {
          if (matched) break;
          for (Segment& segment : segments) {
            if (!names(segment, exactly)) continue;
            segment.failed = true;
            matched = true;
          }
        }
        if (!matched && !killed) {
          problems.push_back("unmatched: " + name +
                             " names a segment its file does not hold: " + failure.text);
        }
      }
      for (const Segment& segment : segments) {
        const bool reported = !killed && !segment.failed;
        for (std::size_t k = 0; k < segment.keys.size(); ++k) {
          delivered.push_back(Delivered{segment.keys[k], segment.values[k], reported});
        }
      }
      perRun.push_back(std::move(segments));
    }
    model_.Apply(delivered);
    // A damaged file whose data came again from its first sample on is to be restored.
    for (const std::vector<Segment>& segments : perRun) {
      for (const Segment& segment : segments) {
        if (segment.failed || anyKilled || segment.keys.empty()) continue;
        for (auto& [cpath, damage] : damaged_) {
          if (damage.keys.empty() || damage.keys.front() != segment.keys.front()) continue;
          const std::set<SlotKey> held(segment.keys.begin(), segment.keys.end());
          damage.mustBeRestored =
              damage.mustBeRestored ||
              std::all_of(damage.keys.begin(), damage.keys.end(),
                          [&](const SlotKey& key) { return held.contains(key); });
        }
      }
    }
    unsettled_ = anyKilled;
    return problems;
  }

  // The rows of an epoch's channel and rate, by TBEGIN and CPATH.
  std::vector<StoredFile> RowsOf(int e) {
    const Epoch& epoch = history_.epochs.at(static_cast<std::size_t>(e));
    std::vector<StoredFile> rows;
    for (const StoredFile& row : StoredFiles(db_)) {
      const std::string location =
          row.location == kNullText || row.location == "??" ? std::string() : row.location;
      if (row.station == epoch.station && row.channel == epoch.channel &&
          location == epoch.location && RateText(row.rate) == RateText(epoch.rate)) {
        rows.push_back(row);
      }
    }
    return rows;
  }

  // A note naming another channel's file, written by hand into a channel's lock file.
  void WriteNote(const Step& step) {
    const std::vector<StoredFile> rows = RowsOf(step.target);
    if (rows.empty()) return;
    const StoredFile& row = rows[static_cast<std::size_t>(step.row) % rows.size()];
    const Epoch& epoch = history_.epochs.at(static_cast<std::size_t>(step.epoch));
    std::string note(1, step.note);
    switch (step.note) {
      case 'N':
        note += "\t" + row.cpath + "\t" + row.cpath;
        break;
      case 'A':
        note += "\t" + epoch.location + "\t" + row.cpath;
        break;
      default:
        note += "\t" + row.cpath;
        break;
    }
    const fs::path lock = db_.dataDir() / ".lock" / (epoch.station + "." + epoch.channel + ".lock");
    fs::create_directories(lock.parent_path());
    WriteFile(lock, ReadFile(lock) + note + "\n");
  }

  // Damage by hand to one registered file of the channels under test.
  void Cut(const Step& step) {
    const std::vector<StoredFile> rows = RowsOf(step.epoch);
    if (rows.empty()) return;
    const StoredFile& row = rows[static_cast<std::size_t>(step.row) % rows.size()];
    const fs::path path = db_.dataDir() / row.cpath;
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) return;
    const auto size = static_cast<std::int64_t>(fs::file_size(path));
    const std::vector<SlotKey> before =
        ReadStore(history_.epochs, {row}, db_.dataDir()).files[row.cpath];
    switch (step.cut) {
      case CutMode::kZero:
        fs::resize_file(path, 0);
        break;
      case CutMode::kHeader:
        if (step.amount >= size) return;
        fs::resize_file(path, static_cast<std::uintmax_t>(step.amount));
        break;
      case CutMode::kSamples:
        if (size <= 512) return;
        fs::resize_file(path, static_cast<std::uintmax_t>(512 + step.amount % (size - 512)));
        break;
      case CutMode::kRemove:
        fs::remove(path);
        break;
    }
    const std::vector<SlotKey> after =
        ReadStore(history_.epochs, {row}, db_.dataDir()).files[row.cpath];
    model_.Forget({before.begin() + static_cast<std::ptrdiff_t>(after.size()), before.end()});
    Damage& damage = damaged_[row.cpath];
    if (damage.keys.size() < before.size()) damage.keys = before;
    damage.mustBeRestored = false;
  }

  std::string Condition(const Refusal& refusal) const {
    if (refusal.column.empty()) return {};
    const std::string row = refusal.change == Change::kDelete ? "old." : "new.";
    if (refusal.column == "tbegin") return row + "TBEGIN>=" + refusal.value;
    std::string column = refusal.column == "sta" ? "STA" : refusal.column == "ch" ? "CH" : "LCODE";
    return row + column + "='" + refusal.value + "'";
  }

  void Refuse(const Refusal& refusal) {
    const std::string name = "refuse_" + std::to_string(triggers_.size() + 1);
    const std::string change = refusal.change == Change::kInsert   ? "insert"
                               : refusal.change == Change::kUpdate ? "update"
                                                                   : "delete";
    const std::string condition = Condition(refusal);
    if (db_.kind() == DatabaseKind::kSqlite) {
      db_.Execute("create trigger " + name + " before " + change + " on FILELIST" +
                  (condition.empty() ? "" : " when " + condition) + " begin select " +
                  (refusal.silent ? "raise(ignore)" : "raise(abort, 'refused')") + "; end");
    } else {
      if (triggers_.empty()) {
        db_.Execute(
            "create or replace function refuse_abort() returns trigger language plpgsql as "
            "$$ begin raise exception 'refused'; end $$");
        db_.Execute(
            "create or replace function refuse_ignore() returns trigger language plpgsql as "
            "$$ begin return null; end $$");
      }
      db_.Execute("create trigger " + name + " before " + change + " on FILELIST for each row" +
                  (condition.empty() ? "" : " when (" + condition + ")") + " execute function " +
                  (refusal.silent ? "refuse_ignore()" : "refuse_abort()"));
    }
    triggers_.push_back(name);
  }

  void Allow() {
    for (const std::string& name : triggers_) {
      db_.Execute("drop trigger " + name +
                  (db_.kind() == DatabaseKind::kSqlite ? "" : " on FILELIST"));
    }
    triggers_.clear();
  }

  std::vector<std::string> Check() {
    const std::vector<StoredFile> rows = StoredFiles(db_);
    StoreReading reading = ReadStore(history_.epochs, rows, db_.dataDir());
    std::vector<std::string> problems;
    std::set<std::string> named;
    for (const std::string& problem : StoreProblems(rows, db_.dataDir())) {
      const std::string cpath = problem.substr(problem.find(": ") + 2);
      const auto damage = damaged_.find(cpath);
      const bool byHand = problem.rfind("size: ", 0) == 0 || problem.rfind("header: ", 0) == 0 ||
                          problem.rfind("missing: ", 0) == 0;
      if (damage != damaged_.end() && byHand) {
        if (damage->second.mustBeRestored && !named.contains(cpath)) {
          problems.push_back("not restored: " + cpath +
                             ", damaged by hand, its data converted again from its first sample");
        }
        named.insert(cpath);
        continue;
      }
      named.insert(cpath);
      problems.push_back("file " + problem);
    }
    std::erase_if(damaged_, [&](const auto& entry) { return !named.contains(entry.first); });
    for (std::string& problem : reading.problems) problems.push_back(std::move(problem));
    for (std::string& problem : model_.Compare(reading)) problems.push_back(std::move(problem));
    if (problems.empty()) model_.Settle(reading);
    return problems;
  }

  // A path on disk below the data directory as its CPATH (unchanged elsewhere).
  std::string RelativeToData(const std::string& path) const {
    const std::string prefix = db_.dataDir().string() + "/";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
  }

  // The rows and their files, for a person reading a failure.
  std::string StoreListing() {
    std::string text = "  store:\n";
    for (const StoredFile& row : StoredFiles(db_)) {
      std::error_code ec;
      const auto size = fs::file_size(db_.dataDir() / row.cpath, ec);
      char line[512];
      std::snprintf(line, sizeof line, "    %s TBEGIN %.4f TQTY %.2f SPS %.2f LCODE %s: %s\n",
                    row.cpath.c_str(), row.begin, row.quantity, row.rate, row.location.c_str(),
                    ec ? "no file"
                       : (std::to_string(size) + " bytes, " +
                          std::to_string((static_cast<std::int64_t>(size) - 512) / 4) + " samples")
                             .c_str());
      text += line;
    }
    for (const std::string& path : FilesOnDisk(db_.dataDir())) {
      bool registered = false;
      for (const StoredFile& row : StoredFiles(db_)) registered = registered || row.cpath == path;
      if (!registered) text += "    " + path + ": no row\n";
    }
    return text;
  }

  const History& history_;
  const RunnerOptions& options_;
  TempDir root_;
  TestDatabase db_;
  ConverterSandbox sandbox_;
  PromiseModel model_;
  std::map<std::string, Damage> damaged_;  // by CPATH
  std::vector<std::string> triggers_;
  std::string outputs_;
  int settles_ = 0;
  int conversions_ = 0;
  bool unsettled_ = false;
};

}  // namespace

std::string StepFailure::Kind() const {
  if (problems.empty()) return {};
  return problems.front().substr(0, problems.front().find(':'));
}

HistoryResult RunHistory(const History& history, const RunnerOptions& options) {
  return HistoryRunner(history, options).Play();
}

std::string Describe(const History& history, const StepFailure& failure) {
  std::string text = "after step " + std::to_string(failure.step + 1) + " (" +
                     ToText(history.steps.at(failure.step)) + "):\n";
  for (const std::string& problem : failure.problems) text += "  " + problem + "\n";
  if (!failure.outputs.empty()) text += failure.outputs;
  return text;
}

namespace {

class Shrinker {
 public:
  Shrinker(const History& history, const StepFailure& failure, const RunnerOptions& options,
           std::chrono::seconds budget)
      : kind_(failure.Kind()),
        options_(options),
        deadline_(std::chrono::steady_clock::now() + budget) {
    best_.history = history;
    best_.history.steps.resize(failure.step + 1);
    best_.failure = failure;
  }

  ShrinkResult Reduce() {
    KeepOneEpoch();
    for (bool progress = true; progress && !Late();) {
      progress = DropSteps();
      progress = SimplifySteps() || progress;
    }
    DropUnusedEpochs();
    return best_;
  }

 private:
  bool Late() const { return std::chrono::steady_clock::now() > deadline_; }

  // Takes `candidate` when it still fails with the same kind of problem.
  bool Try(History candidate) {
    if (Late() || !RuleBroken(candidate).empty()) return false;
    ++best_.attempts;
    HistoryResult result;
    try {
      result = RunHistory(candidate, options_);
    } catch (const std::exception&) {
      return false;
    }
    if (!result.failure || result.failure->Kind() != kind_) return false;
    candidate.steps.resize(result.failure->step + 1);
    best_.history = std::move(candidate);
    best_.failure = *result.failure;
    return true;
  }

  // Most failures concern one epoch, named in the first problem ("... e3 TA1.BHZ.00 ..."): the
  // pieces of every other epoch go at once.
  void KeepOneEpoch() {
    static const std::regex named(" e([0-9]+) ");
    std::smatch match;
    const std::string& problem = best_.failure.problems.front();
    if (!std::regex_search(problem, match, named)) return;
    const int keep = std::stoi(match[1]);
    History candidate = best_.history;
    std::vector<Step> steps;
    for (Step step : candidate.steps) {
      for (Run& run : step.runs) {
        std::erase_if(run.file.pieces, [&](const PieceRef& piece) { return piece.epoch != keep; });
      }
      std::erase_if(step.runs, [](const Run& run) { return run.file.pieces.empty(); });
      if (step.kind == StepKind::kParallel && step.runs.size() == 1) {
        step.kind = StepKind::kConvert;
        step.cleanLocks = false;
      }
      if ((step.kind == StepKind::kConvert || step.kind == StepKind::kParallel) &&
          step.runs.empty()) {
        continue;
      }
      if (step.kind == StepKind::kCut && step.epoch != keep) continue;
      if (step.kind == StepKind::kNote && step.target != keep && step.epoch != keep) continue;
      steps.push_back(step);
    }
    candidate.steps = steps;
    if (!candidate.steps.empty()) Try(candidate);
  }

  bool DropSteps() {
    bool progress = false;
    for (std::size_t chunk = std::max<std::size_t>(best_.history.steps.size() / 2, 1); chunk > 0;
         chunk /= 2) {
      for (std::size_t at = 0; at < best_.history.steps.size() && !Late();) {
        History candidate = best_.history;
        const std::size_t end = std::min(at + chunk, candidate.steps.size());
        candidate.steps.erase(candidate.steps.begin() + static_cast<std::ptrdiff_t>(at),
                              candidate.steps.begin() + static_cast<std::ptrdiff_t>(end));
        if (!candidate.steps.empty() && Try(candidate)) {
          progress = true;
        } else {
          at += chunk;
        }
      }
    }
    return progress;
  }

  // Smaller versions of one run, most drastic first.
  std::vector<Run> SmallerRuns(const Run& run) const {
    std::vector<Run> out;
    if (run.file.pieces.size() > 1) {
      for (std::size_t p = 0; p < run.file.pieces.size(); ++p) {
        Run smaller = run;
        smaller.file.pieces.erase(smaller.file.pieces.begin() + static_cast<std::ptrdiff_t>(p));
        out.push_back(smaller);
      }
    }
    for (std::size_t p = 0; p < run.file.pieces.size(); ++p) {
      const PieceRef& piece = run.file.pieces[p];
      const std::int64_t half = (piece.end - piece.first) / 20 * 10;
      if (half < 10) continue;
      Run front = run;
      front.file.pieces[p].end = piece.first + half;
      out.push_back(front);
      Run back = run;
      back.file.pieces[p].first = piece.end - half;
      out.push_back(back);
    }
    Run plain = run;
    plain.file.order = Order::kPieces;
    plain.file.duplicates = 0;
    plain.file.recordLength = 512;
    plain.file.encoding = 11;
    plain.file.littleEndian = false;
    plain.file.seed = 0;
    if (!(plain.file.order == run.file.order && plain.file.duplicates == run.file.duplicates &&
          plain.file.recordLength == run.file.recordLength &&
          plain.file.encoding == run.file.encoding &&
          plain.file.littleEndian == run.file.littleEndian && plain.file.seed == run.file.seed)) {
      out.push_back(plain);
    }
    for (std::size_t p = 0; p < run.file.pieces.size(); ++p) {
      if (run.file.pieces[p].version == 0 && run.file.pieces[p].lag == 0) continue;
      Run unversioned = run;
      unversioned.file.pieces[p].version = 0;
      unversioned.file.pieces[p].lag = 0;
      out.push_back(unversioned);
    }
    return out;
  }

  bool SimplifySteps() {
    bool progress = false;
    for (std::size_t s = 0; s < best_.history.steps.size() && !Late(); ++s) {
      for (bool again = true; again && !Late();) {
        again = false;
        const Step step = best_.history.steps[s];
        std::vector<Step> candidates;
        if (step.kind == StepKind::kParallel) {
          for (std::size_t r = 0; r < step.runs.size(); ++r) {
            Step fewer = step;
            fewer.runs.erase(fewer.runs.begin() + static_cast<std::ptrdiff_t>(r));
            if (fewer.runs.size() == 1) {
              fewer.kind = StepKind::kConvert;
              fewer.cleanLocks = false;
            }
            candidates.push_back(fewer);
          }
          if (step.cleanLocks) {
            Step uncleaned = step;
            uncleaned.cleanLocks = false;
            candidates.push_back(uncleaned);
          }
        }
        for (std::size_t r = 0; r < step.runs.size(); ++r) {
          for (const Run& smaller : SmallerRuns(step.runs[r])) {
            Step candidate = step;
            candidate.runs[r] = smaller;
            candidates.push_back(candidate);
          }
        }
        if (step.kind == StepKind::kRefuse &&
            (step.refusal.silent || !step.refusal.column.empty())) {
          Step plainer = step;
          plainer.refusal.silent = false;
          candidates.push_back(plainer);
        }
        for (const Step& candidate : candidates) {
          History h = best_.history;
          h.steps[s] = candidate;
          if (Try(h)) {
            progress = again = true;
            break;
          }
        }
        if (s >= best_.history.steps.size()) break;
      }
    }
    return progress;
  }

  // Epochs no step names go; the others are numbered anew (their values change with it, so the
  // smaller history must still fail).
  void DropUnusedEpochs() {
    const History& h = best_.history;
    std::set<int> used;
    for (std::size_t e = 0; e < h.epochs.size(); ++e) {
      if (h.epochs[e].Settler()) used.insert(static_cast<int>(e));
    }
    for (const Step& step : h.steps) {
      if (step.kind == StepKind::kCut || step.kind == StepKind::kNote) used.insert(step.epoch);
      if (step.kind == StepKind::kNote) used.insert(step.target);
      for (const Run& run : step.runs) {
        for (const PieceRef& piece : run.file.pieces) used.insert(piece.epoch);
      }
    }
    if (used.size() == h.epochs.size()) return;
    History candidate;
    std::map<int, int> renumbered;
    for (int e : used) {
      renumbered[e] = static_cast<int>(candidate.epochs.size());
      candidate.epochs.push_back(h.epochs[static_cast<std::size_t>(e)]);
    }
    candidate.steps = h.steps;
    for (Step& step : candidate.steps) {
      if (step.kind == StepKind::kCut || step.kind == StepKind::kNote) {
        step.epoch = renumbered[step.epoch];
      }
      if (step.kind == StepKind::kNote) step.target = renumbered[step.target];
      for (Run& run : step.runs) {
        for (PieceRef& piece : run.file.pieces) piece.epoch = renumbered[piece.epoch];
      }
    }
    deadline_ = std::max(deadline_, std::chrono::steady_clock::now() + std::chrono::seconds(60));
    Try(candidate);
  }

  std::string kind_;
  const RunnerOptions& options_;
  std::chrono::steady_clock::time_point deadline_;
  ShrinkResult best_;
};

}  // namespace

ShrinkResult Shrink(const History& history, const StepFailure& failure,
                    const RunnerOptions& options, std::chrono::seconds budget) {
  return Shrinker(history, failure, options, budget).Reduce();
}

}  // namespace tarnvel::testing::torture
