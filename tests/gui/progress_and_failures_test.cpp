#include <gtest/gtest.h>

#include <string>

#include "gui/failure_counter.h"
#include "gui/progress_scanner.h"
#include "gui/report_lines.h"

namespace tarnvel::gui {
namespace {

std::string Converting(int from, int to) {
  std::string out;
  for (int p = from; p <= to; ++p) {
    char line[40];
    std::snprintf(line, sizeof line, "\rConverting File - %02d%%", p);
    out += line;
  }
  return out;
}

TEST(ProgressScanner, OnlyTheLastEntryCounts) {
  const auto progress = ScanProgress(Converting(1, 41));
  EXPECT_EQ(progress.reading, 41);
  EXPECT_FALSE(progress.writing.has_value());

  const auto none = ScanProgress("Connection error (ODBC: QOR, USER: QOR)\n");
  EXPECT_FALSE(none.reading.has_value());
  EXPECT_FALSE(none.writing.has_value());
}

TEST(ProgressScanner, ReadsLeadingDigitsSoZeroPaddingGivesTheNumber) {
  EXPECT_EQ(ScanProgress("\rConverting File - 07%").reading, 7);
  EXPECT_EQ(ScanProgress("\rConverting File - 100%\n\n").reading, 100);
}

TEST(ProgressScanner, FollowsTheNewestOutputHoweverLong) {
  // Far more than the converter's first 16 KB: the bar follows the end, not the start.
  std::string output = Converting(0, 99) + "\n\n";
  for (int i = 0; i < 3000; ++i) output += "\rWriting to database - 05%";
  output += "\rWriting to database - 63%";
  ASSERT_GT(output.size(), 65536u);
  const auto progress = ScanProgress(output);
  EXPECT_EQ(progress.reading, 99);
  EXPECT_EQ(progress.writing, 63);
}

TEST(ProgressScanner, CssWritingMovesTheWritingBar) {
  const auto progress = ScanProgress(Converting(98, 100) +
                                     "\n\n\rWriting to CSS-file - 50%\rWriting to CSS-file - 75%");
  EXPECT_EQ(progress.writing, 75);
}

TEST(ProgressScanner, AnEntryCutOffMidNumberFallsBackToTheOneBefore) {
  EXPECT_EQ(ScanProgress("\rConverting File - 40%\rConverting File - 4").reading, 40);
  EXPECT_EQ(ScanProgress("\rConverting File - 40%\rConverting File - ").reading, 40);
  EXPECT_EQ(ScanProgress("\rConverting File - 40%\rConverting Fi").reading, 40);
  EXPECT_FALSE(ScanProgress("\rConverting File - 4").reading.has_value());
}

TEST(FailureCounter, CountsLinesHoldingAnErrorPhrase) {
  EXPECT_EQ(CountFailureLines(Converting(1, 100) + "\n\n\rWriting to database - 100%\n\n"), 0);
  const std::string output =
      "\rConverting File - 50%\rFile read error (/d/x.seed): Input/output error\n"
      "\rDelete error (ABC::BHZ::/data/ABC/13/x)\n"
      "\rDB write error (ABC::BHZ::/data/ABC/13/x)\n"
      "\rCSS file write error (/out/x.w)\n"
      "Connection error (ODBC: QOR, USER: QOR)\n"
      "File open error (/d/x.seed): No such file or directory\n"
      "Open Err\n"
      "Argument too long: ГДЕЖ:*:* (at most 7 characters)\n";
  EXPECT_EQ(CountFailureLines(output), 8);
  const auto lines = FailureLines(output);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "File read error (/d/x.seed): Input/output error");
  EXPECT_EQ(lines[1], "Delete error (ABC::BHZ::/data/ABC/13/x)");
  // One line with two phrases counts once.
  EXPECT_EQ(CountFailureLines("File open error: DB write error\n"), 1);
}

TEST(ReportLines, TheConvertersOwnLinesWithoutProgress) {
  const std::string output =
      Converting(1, 100) + "\n\n\rWriting to database - 50%" +
      "\n\nOpen Err: \n/data/ABC/13/21032009-130509-BHZ.ABC\n\rDB write error "
      "(ABC::BHZ::/data/ABC/13/21032009-130509-BHZ.ABC)\n" +
      "\rReplaced 5 stored samples with new values (/data/ABC/13/x)\n" +
      "\rWriting to database - 100%\rWriting to database - 100%\n\nStored 1 samples\n" +
      "\rWriting to data";
  EXPECT_EQ(ReportLines(output),
            (std::vector<std::string>{
                "Open Err: /data/ABC/13/21032009-130509-BHZ.ABC",
                "DB write error (ABC::BHZ::/data/ABC/13/21032009-130509-BHZ.ABC)",
                "Replaced 5 stored samples with new values (/data/ABC/13/x)", "Stored 1 samples"}));
  // The path line belongs to its "Open Err:" and is no error line of its own.
  EXPECT_EQ(CountFailureLines(output), 2);
  EXPECT_EQ(FailureLines("\n\nOpen Err: \n/d/x\n").at(0), "Open Err: /d/x");
  EXPECT_TRUE(IsProgressPiece("Converting File - 07%"));
  EXPECT_TRUE(IsProgressPiece("Writing to CSS-file - "));
  EXPECT_TRUE(IsProgressPiece("Writing to"));
  EXPECT_FALSE(IsProgressPiece("Writing to database failed"));
}

TEST(FailureCounter, NonZeroExitIsAFailureEvenWithoutErrorLines) {
  EXPECT_EQ(RunFailures("\rWriting to database - 100%\n\n", 0, true), 0);
  EXPECT_EQ(RunFailures("\rWriting to database - 100%\n\n", 255, true), 1);
  EXPECT_EQ(RunFailures("", 0, false), 1);
  EXPECT_EQ(RunFailures("DB write error (a::b::c)\nDB write error (a::b::d)\n", 0, true), 2);
  EXPECT_EQ(RunFailures("Connection error (ODBC: Q, USER: Q)\n", 255, true), 1);
}

}  // namespace
}  // namespace tarnvel::gui
