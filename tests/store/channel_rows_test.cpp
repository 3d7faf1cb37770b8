// What the store knows of a locked channel's rows stands in for the database's answers: every
// answer it gives must be the one the database would give, and where it cannot tell, it gives
// none.
#include "store/channel_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnvel {
namespace {

constexpr double kBegin = 1237640700.0;  // 2009-03-21 13:05:00 UTC

ChannelFile File(const std::string& name, double begin, double quantity,
                 std::int32_t offset = kDataOffset) {
  ChannelFile file;
  file.cpath = "ABC/13/" + name;
  file.offset = offset;
  file.begin = begin;
  file.quantity = quantity;
  file.rate = 20.0;
  file.creator = "tarnvel";
  return file;
}

std::vector<std::string> Paths(const std::vector<ChannelFile>& files) {
  std::vector<std::string> paths;
  for (const ChannelFile& file : files) paths.push_back(file.cpath);
  return paths;
}

// The latest file: newest LDDATE first, then latest TBEGIN; unknown whenever the order cannot
// be told from what the store wrote itself.
TEST(ChannelRowsTest, TheLatestFileIsKnownOnlyWhileItsOrderCanBeTold) {
  ChannelRows rows;
  EXPECT_FALSE(rows.Latest().has_value());
  rows.LearnLatest(std::nullopt);
  ASSERT_TRUE(rows.Latest().has_value());
  EXPECT_FALSE(rows.Latest()->has_value());

  const std::string date = "2026-12-07 20:00:00";
  rows.Inserted(File("a", kBegin, 60.0), date);
  EXPECT_EQ(rows.Latest().value()->cpath, "ABC/13/a");
  rows.Inserted(File("b", kBegin + 120.0, 60.0), date);  // same date, later start
  EXPECT_EQ(rows.Latest().value()->cpath, "ABC/13/b");
  rows.Inserted(File("c", kBegin + 60.0, 60.0), date);  // same date, earlier start
  EXPECT_EQ(rows.Latest().value()->cpath, "ABC/13/b");
  rows.Inserted(File("x", kBegin + 500.0, 60.0, 0), "2026-12-07 20:00:09");  // no 512 header
  EXPECT_EQ(rows.Latest().value()->cpath, "ABC/13/b");
  // An older file updated later comes first; its new extent comes along.
  rows.Updated(File("a", kBegin, 60.0), File("a", kBegin, 90.0), "2026-12-07 20:00:05");
  EXPECT_EQ(rows.Latest().value()->cpath, "ABC/13/a");
  EXPECT_EQ(rows.Latest().value()->quantity, 90.0);
  // A tie in both keys leaves the order to the database.
  rows.Inserted(File("d", kBegin, 30.0), "2026-12-07 20:00:05");
  EXPECT_FALSE(rows.Latest().has_value());

  // The latest row removed: what comes next is the database's to say.
  rows.LearnLatest(File("d", kBegin, 30.0));
  rows.Deleted("ABC/13/d");
  EXPECT_FALSE(rows.Latest().has_value());

  // A latest row the database named without the store knowing its load date: a new row cannot
  // be placed before or after it.
  ChannelRows fresh;
  fresh.LearnLatest(File("old", kBegin - 3600.0, 3600.0));
  EXPECT_EQ(fresh.Latest().value()->cpath, "ABC/13/old");
  fresh.Inserted(File("new", kBegin, 60.0), date);
  EXPECT_FALSE(fresh.Latest().has_value());
}

// The files around a piece: a window once asked is answered from memory for every window inside
// it, with the store's own changes; a window reaching later asks only for the rest.
TEST(ChannelRowsTest, FilesAroundAPieceAreAnsweredInsideTheWindowsAsked) {
  ChannelRows rows;
  const ChannelRows::Window asked{kBegin - 86400.0, kBegin + 600.0, kBegin - 0.05};
  EXPECT_EQ(rows.Covers(asked), ChannelRows::Coverage::kUnknown);
  rows.LearnAround(asked, {File("early", kBegin - 300.0, 300.0)});
  EXPECT_EQ(rows.Covers(asked), ChannelRows::Coverage::kKnown);
  EXPECT_EQ(rows.Covers({asked.after - 1.0, asked.before, asked.endAfter}),
            ChannelRows::Coverage::kUnknown);
  EXPECT_EQ(rows.Covers({asked.after, asked.before, asked.endAfter - 1.0}),
            ChannelRows::Coverage::kUnknown);

  rows.Inserted(File("mine", kBegin + 300.0, 60.0), "2026-12-07 20:00:00");
  EXPECT_EQ(Paths(rows.Around(asked)), (std::vector<std::string>{"ABC/13/early", "ABC/13/mine"}));
  // A later window needs no more than the rows around it: an early row that ends before it is
  // left out, a row that starts after it too.
  const ChannelRows::Window later{kBegin - 80000.0, kBegin + 340.0, kBegin + 310.0};
  EXPECT_EQ(rows.Covers(later), ChannelRows::Coverage::kKnown);
  EXPECT_EQ(Paths(rows.Around(later)), (std::vector<std::string>{"ABC/13/mine"}));
  rows.Updated(File("early", kBegin - 300.0, 300.0), File("early", kBegin - 300.0, 900.0),
               "2026-12-07 20:00:01");
  EXPECT_EQ(Paths(rows.Around(later)), (std::vector<std::string>{"ABC/13/early", "ABC/13/mine"}));
  rows.Deleted("ABC/13/early");
  EXPECT_EQ(Paths(rows.Around(later)), (std::vector<std::string>{"ABC/13/mine"}));

  // Beyond what was asked: only the rest is asked for, from just below the known end.
  const ChannelRows::Window beyond{kBegin - 80000.0, kBegin + 4000.0, kBegin + 310.0};
  ASSERT_EQ(rows.Covers(beyond), ChannelRows::Coverage::kExtend);
  const ChannelRows::Window rest = rows.ExtensionWindow(beyond);
  EXPECT_LT(rest.after, rows.KnownUntil());
  EXPECT_GT(rest.after, rows.KnownUntil() - 0.001);
  EXPECT_EQ(rest.before, beyond.before);
  rows.LearnExtension(rest,
                      {File("mine", kBegin + 300.0, 60.0), File("next", kBegin + 700.0, 60.0)});
  EXPECT_EQ(rows.Covers(beyond), ChannelRows::Coverage::kKnown);
  EXPECT_EQ(Paths(rows.Around(beyond)), (std::vector<std::string>{"ABC/13/mine", "ABC/13/next"}));

  // Told that nothing but the store's own rows starts later, the window simply grows.
  const ChannelRows::Window further{kBegin - 80000.0, kBegin + 8000.0, kBegin + 310.0};
  rows.NothingAfterKnown(further);
  EXPECT_EQ(rows.Covers(further), ChannelRows::Coverage::kKnown);
}

// The channel's size for the quota: an upper bound that grows with every row the store writes
// and never shrinks, known only for the creator it was asked for.
TEST(ChannelRowsTest, TheChannelSizeIsAnUpperBoundOfTheCreatorsRows) {
  ChannelRows rows;
  EXPECT_FALSE(rows.SizeAtMost("tarnvel").has_value());
  rows.LearnSize("tarnvel", 1000.0);
  EXPECT_FALSE(rows.SizeAtMost("other").has_value());
  rows.Inserted(File("a", kBegin, 60.0), "2026-12-07 20:00:00");  // 512 + 60 * 20 * 4 bytes
  EXPECT_GE(rows.SizeAtMost("tarnvel").value(), 1000.0 + 512.0 + 4800.0);
  const double grown = rows.SizeAtMost("tarnvel").value();
  rows.Updated(File("a", kBegin, 60.0), File("a", kBegin, 120.0), "2026-12-07 20:00:01");
  EXPECT_GE(rows.SizeAtMost("tarnvel").value(), grown + 4800.0);
  ChannelFile foreign = File("f", kBegin + 600.0, 60.0);
  foreign.creator = "other";
  const double before = rows.SizeAtMost("tarnvel").value();
  rows.Inserted(foreign, "2026-12-07 20:00:02");
  rows.Deleted("ABC/13/a");
  EXPECT_EQ(rows.SizeAtMost("tarnvel").value(), before);
  rows.ForgetSize();
  EXPECT_FALSE(rows.SizeAtMost("tarnvel").has_value());
}

}  // namespace
}  // namespace tarnvel
