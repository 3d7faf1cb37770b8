// What a run stored, as its summary counts it: each file once, committed work only.
#include "store/store_tally.h"

#include <gtest/gtest.h>

namespace tarnvel {
namespace {

using Work = StoreTally::FileWork;

TEST(StoreTallyTest, EachFileIsCountedOnceByWhatTheRunDidToIt) {
  StoreTally transaction;
  transaction.Wrote("a", Work::kNew, 100);
  transaction.Wrote("a", Work::kContinued, 20);  // created, then continued: new
  transaction.Wrote("b", Work::kContinued, 30);
  transaction.Wrote("b", Work::kRewritten, 5, 4);  // continued and rewritten: rewritten
  transaction.Wrote("c", Work::kContinued, 7);
  transaction.Wrote("d", Work::kRewritten, 0);  // nothing written: no file of the run
  transaction.FoundStored(1000);
  StoreTally::Totals expected;
  expected.samples = 162;
  expected.files = 3;
  expected.newFiles = 1;
  expected.continued = 1;
  expected.rewritten = 1;
  expected.storedAlready = 1000;
  expected.replaced = 4;
  EXPECT_EQ(transaction.Sum(), expected);

  // Committed in two transactions, the same files are still counted once.
  StoreTally run;
  run.Add(transaction);
  StoreTally later;
  later.Wrote("c", Work::kRewritten, 2, 2);
  later.Wrote("e", Work::kNew, 10);
  later.FoundStored(5);
  run.Add(later);
  expected.samples = 174;
  expected.files = 4;
  expected.newFiles = 2;
  expected.continued = 0;
  expected.rewritten = 2;
  expected.storedAlready = 1005;
  expected.replaced = 6;
  EXPECT_EQ(run.Sum(), expected);
  EXPECT_EQ(StoreTally().Sum(), StoreTally::Totals{});
}

}  // namespace
}  // namespace tarnvel
