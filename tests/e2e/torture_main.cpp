// The store's torture test run for as long as wanted with fresh random seeds (scripts/torture.sh
// starts it): one random history after another against SQLite and PostgreSQL, a line per
// history, and for a failure its seed, the failing step, and the history shrunk to a small case
// written so that it can be pasted into the fixed cases of torture_e2e_test.cpp.
//
//   tarnvel_torture [--minutes M] [--databases sqlite,postgresql] [--steps N] [--seed S]
//                   [--without kill,cut,...] [--shrink-seconds S] [--histories FILE]
//                   [--replay FILE] [--trace] [--converter PATH]
//
// --seed runs that one history; --replay runs the history written in FILE; --histories appends
// the text of every history run to FILE; --converter runs another build of the converter (the
// kill hook must suit it). Exit status 1 when a history failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/test_database.h"
#include "tests/support/torture_history.h"
#include "tests/support/torture_runner.h"

namespace {

using namespace tarnvel::testing;
using namespace tarnvel::testing::torture;

struct Options {
  double minutes = 1.0;
  std::vector<DatabaseKind> databases = {DatabaseKind::kSqlite, DatabaseKind::kPostgres};
  int steps = 30;
  std::optional<std::uint64_t> seed;
  std::set<std::string> without;
  int shrinkSeconds = 300;
  std::string histories;
  std::string replay;
  bool trace = false;
  std::string converter;
};

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, ',');) {
    if (!part.empty()) out.push_back(part);
  }
  return out;
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--minutes") {
      options.minutes = std::stod(value());
    } else if (arg == "--databases") {
      options.databases.clear();
      for (const std::string& name : Split(value())) {
        if (name == "sqlite") {
          options.databases.push_back(DatabaseKind::kSqlite);
        } else if (name == "postgresql") {
          options.databases.push_back(DatabaseKind::kPostgres);
        } else {
          throw std::invalid_argument("no database " + name);
        }
      }
    } else if (arg == "--steps") {
      options.steps = std::stoi(value());
    } else if (arg == "--seed") {
      options.seed = std::stoull(value());
    } else if (arg == "--without") {
      for (const std::string& kind : Split(value())) options.without.insert(kind);
    } else if (arg == "--shrink-seconds") {
      options.shrinkSeconds = std::stoi(value());
    } else if (arg == "--histories") {
      options.histories = value();
    } else if (arg == "--replay") {
      options.replay = value();
    } else if (arg == "--converter") {
      options.converter = value();
    } else if (arg == "--trace") {
      options.trace = true;
    } else {
      throw std::invalid_argument("unknown argument " + arg);
    }
  }
  return options;
}

constexpr int kShrunkPerKind = 3;

struct Figures {
  int histories = 0;
  long steps = 0;
  int failures = 0;
  std::map<std::string, int> byKind;
  double seconds = 0.0;
};

// The history as an entry of the fixed cases' table.
std::string AsFixedCase(const History& history, const std::string& kind) {
  return "    {\"<name>\", \"<open fault, or empty>\",  // " + kind + "\n     R\"(\n" +
         ToText(history) + ")\"},\n";
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 2;
  }
  std::vector<DatabaseKind> databases;
  for (DatabaseKind kind : options.databases) {
    if (const std::string why = TestDatabase::Unavailable(kind); !why.empty()) {
      std::cout << DatabaseKindName(kind) << " left out: " << why << "\n";
    } else {
      databases.push_back(kind);
    }
  }
  if (databases.empty()) return 2;

  RunnerOptions runner;
  runner.killLibrary = TARNVEL_KILL_AT_LIBRARY;
  runner.converter = options.converter;
  if (options.trace) runner.trace = &std::cout;
  std::ofstream historyLog;
  if (!options.histories.empty()) historyLog.open(options.histories, std::ios::app);

  std::mt19937_64 seeds(std::random_device{}());
  std::map<DatabaseKind, Figures> figures;
  // Failures of one kind shrunk so far: a few of each, as one kind may have several causes.
  std::map<std::pair<DatabaseKind, std::string>, int> shrunk;
  bool failed = false;
  const auto begin = std::chrono::steady_clock::now();
  const auto deadline = begin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(options.minutes * 60.0));
  const bool once = options.seed || !options.replay.empty();
  for (std::size_t n = 0; once ? n < databases.size() : std::chrono::steady_clock::now() < deadline;
       ++n) {
    const DatabaseKind kind = databases[n % databases.size()];
    const std::string name = DatabaseKindName(kind);
    const std::uint64_t seed = options.seed ? *options.seed : seeds() % 1000000000;
    GeneratorOptions generator;
    generator.steps = options.steps;
    generator.without = options.without;
    const History history =
        options.replay.empty() ? Generate(seed, generator) : ParseHistory(ReadFile(options.replay));
    if (const std::string broken = RuleBroken(history); !broken.empty()) {
      std::cout << "the history breaks a rule: " << broken << "\n";
      return 2;
    }
    if (historyLog)
      historyLog << "# " << name << " seed " << seed << "\n" << ToText(history) << "\n";
    runner.database = kind;
    const auto started = std::chrono::steady_clock::now();
    HistoryResult result;
    try {
      result = RunHistory(history, runner);
    } catch (const std::exception& e) {
      std::cout << "[" << name << "] seed " << seed << ": the harness failed: " << e.what() << "\n";
      failed = true;
      continue;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Figures& f = figures[kind];
    ++f.histories;
    f.steps += static_cast<long>(result.steps);
    f.seconds += seconds;
    char line[160];
    std::snprintf(line, sizeof line, "[%s] history %d seed %llu: %zu steps, %s (%.1f s)\n",
                  name.c_str(), f.histories, static_cast<unsigned long long>(seed), result.steps,
                  result.failure ? ("FAILED: " + result.failure->Kind()).c_str() : "kept", seconds);
    std::cout << line << std::flush;
    if (!result.failure) continue;
    failed = true;
    ++f.failures;
    const std::string failureKind = result.failure->Kind();
    ++f.byKind[failureKind];
    std::cout << Describe(history, *result.failure);
    if (shrunk[{kind, failureKind}] >= kShrunkPerKind || options.shrinkSeconds <= 0) {
      std::cout << "  (failures of this kind were shrunk before; seed " << seed << ")\n"
                << std::flush;
      continue;
    }
    ++shrunk[{kind, failureKind}];
    std::cout << "  history of seed " << seed << ":\n" << ToText(history) << std::flush;
    const ShrinkResult small =
        Shrink(history, *result.failure, runner, std::chrono::seconds(options.shrinkSeconds));
    std::cout << "  shrunk in " << small.attempts << " attempts to:\n"
              << ToText(small.history) << Describe(small.history, small.failure)
              << "  as a fixed case:\n"
              << AsFixedCase(small.history, failureKind) << std::flush;
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::cout << "\nTorture run of " << static_cast<long>(wall) << " s:\n";
  for (const auto& [kind, f] : figures) {
    std::cout << "  " << DatabaseKindName(kind) << ": " << f.histories << " histories, " << f.steps
              << " steps, " << f.failures << " failed (" << static_cast<long>(f.seconds)
              << " s running histories)\n";
    for (const auto& [failureKind, count] : f.byKind) {
      std::cout << "    " << count << " x " << failureKind << "\n";
    }
  }
  return failed ? 1 : 0;
}
