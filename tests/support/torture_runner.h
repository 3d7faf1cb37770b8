// Runs a torture history end to end: the built converter on SEED files made for each step, a
// fresh real database (SQLite or PostgreSQL) and data directory, and after every step the store
// compared with the model of its promise (tests/support/torture_model.h) and checked by the
// store checker (tests/e2e/store_checks.h).
//
// What is checked after each step, once the store is settled:
//   - StoreProblems: every row's file exact (size and header), nothing unregistered, nothing
//     registered twice; a file damaged by hand may stay damaged (its size, header or absence)
//     until a completed conversion delivers a segment that starts at the file's first sample and
//     holds all it held: then it must be restored (or its row gone with it);
//   - the model: every sample time holds what the model allows, exactly once;
//   - each conversion's end: exit 0 without, 252 with "DB write error" / "Delete error" lines,
//     each naming a segment of its file; no segment fails while nothing refuses a change. A
//     line names the file the segment's storing tried: one it starts, or a registered one it
//     continued, stored over or restored (then every segment of the run that reaches that
//     file may be the failed one, and each is taken as failed).
// A run that was killed may leave the store unsettled until the next conversion, which settles
// every channel whose lock it can take: a kill step is followed by a conversion (a "settle"
// step stores a few samples of a channel of its own), and only then is the store checked.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/test_database.h"
#include "tests/support/torture_history.h"

namespace tarnvel::testing::torture {

struct RunnerOptions {
  DatabaseKind database = DatabaseKind::kSqlite;
  std::string killLibrary;  // the preloaded hook for "kill-at"
  std::string converter;    // another converter than the one built here
  // Called after each step, before the store is checked: a test can change the store behind
  // the converter's back and see the check find it.
  std::function<void(std::size_t step, TestDatabase& db)> afterStep;
  std::ostream* trace = nullptr;  // each step as it runs
};

struct StepFailure {
  std::size_t step = 0;  // the step after which the promise was found broken
  std::vector<std::string> problems;
  std::string outputs;  // what that step's conversions printed
  // The kind of the first problem ("samples twice", "file size", "exit", ...).
  std::string Kind() const;
};

struct HistoryResult {
  std::optional<StepFailure> failure;
  std::size_t steps = 0;  // steps run
};

HistoryResult RunHistory(const History& history, const RunnerOptions& options);

// A failing history made small: steps, runs, pieces and file options dropped and pieces
// shortened for as long as it still fails with a problem of the same kind, within `budget`.
struct ShrinkResult {
  History history;
  StepFailure failure;
  int attempts = 0;
};
ShrinkResult Shrink(const History& history, const StepFailure& failure,
                    const RunnerOptions& options, std::chrono::seconds budget);

// A failure as lines for a person: the step, its problems and its output.
std::string Describe(const History& history, const StepFailure& failure);

}  // namespace tarnvel::testing::torture
