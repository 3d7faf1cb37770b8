// What a run stored, as its summary counts it: each file once, committed work only.
#include "store/store_tally.h"

#include <gtest/gtest.h>

namespace tarnvel {
namespace {

using Work = StoreTally::FileWork;

// Totals in the order of the summary line, the replaced samples last.
StoreTally::Totals TotalsOf(std::int64_t samples, int files, int created, int continued,
                            int rewritten, std::int64_t already, std::int64_t replaced) {
  return {.samples = samples,
          .files = files,
          .newFiles = created,
          .continued = continued,
          .rewritten = rewritten,
          .storedAlready = already,
          .replaced = replaced};
}

TEST(StoreTallyTest, EachFileIsCountedOnceByWhatTheRunDidToIt) {
  StoreTally transaction;
  transaction.Wrote("a", Work::kNew, 100);
  transaction.Wrote("a", Work::kContinued, 20);  // created, then continued: new
  transaction.Wrote("b", Work::kContinued, 30);
  transaction.Wrote("b", Work::kRewritten, 5, 4);  // continued and rewritten: rewritten
  transaction.Wrote("c", Work::kContinued, 7);
  transaction.Wrote("d", Work::kRewritten, 0);  // nothing written: no file of the run
  transaction.FoundStored(1000);
  EXPECT_EQ(transaction.Sum(), TotalsOf(162, 3, 1, 1, 1, 1000, 4));

  // Committed in two transactions, the same files are still counted once.
  StoreTally run;
  run.Add(transaction);
  StoreTally later;
  later.Wrote("c", Work::kRewritten, 2, 2);
  later.Wrote("e", Work::kNew, 10);
  later.FoundStored(5);
  run.Add(later);
  EXPECT_EQ(run.Sum(), TotalsOf(174, 4, 2, 0, 2, 1005, 6));
  EXPECT_EQ(StoreTally().Sum(), StoreTally::Totals{});
}

}  // namespace
}  // namespace tarnvel
