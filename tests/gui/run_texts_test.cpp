// Texts a run shows: the channel table's cells, the large-file figures, limits, what the boxes
// take, the converter's summary line and the closing message and results of each way a run ends.
#include <gtest/gtest.h>

#include "gui/channel_patterns.h"
#include "gui/channel_table.h"
#include "gui/failure_counter.h"
#include "gui/large_file.h"
#include "gui/run_limits.h"
#include "gui/run_summary.h"
#include "gui/summary_line.h"
#include "gui/text_fields.h"
#include "gui/utc_time.h"

namespace tarnvel::gui {
namespace {

TEST(ChannelTable, TimesAreUtcCutToWholeSeconds) {
  EXPECT_EQ(TableTime(1237640759.99), "21/03/2009 13:05");
  EXPECT_EQ(TableTime(0.0), "01/01/1970 00:00");
  EXPECT_EQ(TableTime(951782400.0), "29/02/2000 00:00");  // leap day
  EXPECT_EQ(TableTime(-1.5), "31/12/1969 23:59");
}

TEST(ChannelTable, DatabaseColumn) {
  ChannelInfo info;
  EXPECT_EQ(DatabaseCell(info), "Есть");
  info.sitechanRate = 20.0;
  EXPECT_EQ(DatabaseCell(info), "20.00");
  info.sitechanRate = 0.0;
  EXPECT_EQ(DatabaseCell(info), "Есть");
  info.inSitechan = false;
  info.sitechanRate = 20.0;
  EXPECT_EQ(DatabaseCell(info), "Нет");
  EXPECT_EQ(TableRate(0.5), "0.50");
}

TEST(UtcTime, FieldsAndEpochRoundTrip) {
  const UtcFields fields = UtcFieldsOf(1321513500.7);  // 2011-11-17 07:05:00 UTC
  EXPECT_EQ(fields.year, 2011);
  EXPECT_EQ(fields.month, 11);
  EXPECT_EQ(fields.day, 17);
  EXPECT_EQ(fields.hour, 7);
  EXPECT_EQ(fields.minute, 5);
  EXPECT_EQ(EpochOf(fields), 1321513500);
  EXPECT_EQ(EpochOf(UtcFieldsOf(-86401.0)), -86401);
  // Before 1970 a fraction belongs to the second that began before it, as after 1970.
  const UtcFields before = UtcFieldsOf(-0.25);  // 1969-12-31 23:59:59.75
  EXPECT_EQ(before.year, 1969);
  EXPECT_EQ(before.day, 31);
  EXPECT_EQ(before.second, 59);
  EXPECT_EQ(EpochOf(UtcFieldsOf(-190000000.5)), -190000001);
}

TEST(LargeFile, ThresholdAndMegabytes) {
  EXPECT_TRUE(IsLargeFile(10485760));
  EXPECT_FALSE(IsLargeFile(10485759));
  EXPECT_EQ(MegabytesText(12 * 1048576), "12 МБайт");
  EXPECT_EQ(MegabytesText(11000000), "10 МБайт");
  EXPECT_EQ(ViewLimitFromText("5"), 5);
  EXPECT_EQ(ViewLimitFromText(""), 0);
  EXPECT_EQ(ViewLimitFromText("12ab"), 12);
}

TEST(RunLimits, RefusesTheFirstValueOverItsLimit) {
  EXPECT_FALSE(CheckLengths({{"станция", "ABCDEFG", 7}, {"канал", "BHZ", 7}}).has_value());
  const auto message = CheckLengths({{"станция", "ABC", 7}, {"канал", "ABCDEFGH", 7}});
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message,
            "Слишком длинное значение: канал (допускается не более 7 символов, задано 8).\n"
            "Операция не выполнена.");
}

TEST(RunLimits, CountCharactersNotBytes) {
  // Four Cyrillic letters are eight bytes of UTF-8.
  EXPECT_FALSE(CheckLengths({{"станция", "ГДЕЖ", 7}}).has_value());
  EXPECT_FALSE(CheckLengths({{"станция", "ГДЕЖЗИК", 7}}).has_value());
  EXPECT_EQ(*CheckLengths({{"станция", "ГДЕЖЗИКЛ", 7}}),
            "Слишком длинное значение: станция (допускается не более 7 символов, задано 8).\n"
            "Операция не выполнена.");
  std::string folder = "/";
  for (int i = 0; i < 1000; ++i) folder += "д";  // 2001 bytes, 1001 characters
  EXPECT_FALSE(CheckLengths({{"путь к файлу", folder, 1023}}).has_value());
}

TEST(TextFields, CharactersOfUtf8) {
  EXPECT_EQ(CharacterCount(""), 0u);
  EXPECT_EQ(CharacterCount("ABC"), 3u);
  EXPECT_EQ(CharacterCount("Станция"), 7u);
  EXPECT_EQ(CharacterCount("\xF0\x9F\x8C\x8D"), 1u);  // four bytes, one character
  EXPECT_EQ(CharacterCount("\x80\x80"
                           "A"),
            3u);  // stray continuation bytes
  EXPECT_EQ(FirstCharacters("СтанцияX", 7), "Станция");
  EXPECT_EQ(FirstCharacters("AB", 7), "AB");
  EXPECT_EQ(FirstCharacters("\xD0", 1), "\xD0");  // a cut-off letter stays one character
}

TEST(RunSummary, TheCommandLineAndTheFailureMessage) {
  EXPECT_EQ(ConversionSummary("\"t\" \"x\""), "Connection string: \"t\" \"x\"\r\n");
  EXPECT_EQ(FailureLines("\rConverting File - 100%\n\n\rDB write error (A::B::C)\n\r"
                         "Writing to database - 100%\n\n\nOpen Err: \n/d/A/13/f\n"),
            (std::vector<std::string>{"DB write error (A::B::C)", "Open Err: /d/A/13/f"}));
  EXPECT_TRUE(FailureLines("\rWriting to database - 100%\n").empty());

  // The count as it always read, then what failed, no blank line at the end.
  EXPECT_EQ(FailureMessage(2, {"DB write error (A::B::/d/1)", "Delete error (A::B::/d/2)"}),
            "Операция завершена с ошибками!\nОшибки: 2\n"
            "DB write error (A::B::/d/1)\nDelete error (A::B::/d/2)");
  // Three lines at most; the rest are in the results.
  EXPECT_EQ(FailureMessage(5, {"e1", "e2", "e3", "e4", "e5"}),
            "Операция завершена с ошибками!\nОшибки: 5\ne1\ne2\ne3\n"
            "…и ещё 2 — см. результаты работы.");
  const std::string longLine = "DB write error (" + std::string(300, 'x') + ")";
  const std::string shown = FailureMessage(1, {longLine});
  EXPECT_EQ(shown.substr(shown.rfind('\n') + 1), longLine.substr(0, 160) + "…");
}

TEST(RunSummary, ExitCodesWithoutErrorLinesAreNamed) {
  EXPECT_EQ(ExitDescription(0, true), "");
  EXPECT_EQ(ExitDescription(255, true),
            "Конвертер завершился с кодом -1: ошибка подключения к базе данных.");
  EXPECT_EQ(ExitDescription(254, true), "Конвертер завершился с кодом -2: ошибка открытия файла.");
  EXPECT_EQ(ExitDescription(253, true), "Конвертер завершился с кодом -3: ошибка чтения файла.");
  EXPECT_EQ(ExitDescription(3, true), "Конвертер завершился с кодом 3.");
  EXPECT_EQ(ExitDescription(0, false), "Конвертер завершился аварийно.");
}

TEST(SummaryLine, BothLinesAreReadExactlyAsPrinted) {
  const auto store = ParseStoreSummary(
      "Stored 12000 samples in 3 files (2 new, 1 continued, 0 rewritten), 400 samples were "
      "stored already");
  ASSERT_TRUE(store.has_value());
  EXPECT_EQ(store->samples, 12000);
  EXPECT_EQ(store->files, 3);
  EXPECT_EQ(store->created, 2);
  EXPECT_EQ(store->continued, 1);
  EXPECT_EQ(store->rewritten, 0);
  EXPECT_EQ(store->alreadyStored, 400);
  // Wider than 32 bits.
  EXPECT_EQ(ParseStoreSummary("Stored 5000000000 samples in 1 files (1 new, 0 continued, 0 "
                              "rewritten), 0 samples were stored already")
                ->samples,
            5000000000LL);

  const auto css =
      ParseCssSummary("Wrote 2 wfdisc lines and 2 data files (7000 samples) to /out/a b.wfdisc");
  ASSERT_TRUE(css.has_value());
  EXPECT_EQ(css->wfdiscLines, 2);
  EXPECT_EQ(css->dataFiles, 2);
  EXPECT_EQ(css->samples, 7000);
  EXPECT_EQ(css->wfdiscPath, "/out/a b.wfdisc");

  // Look-alikes are not summaries.
  for (const char* line :
       {"Stored 12000 samples in 3 files (2 new, 1 continued, 0 rewritten)",
        "Stored  12000 samples in 3 files (2 new, 1 continued, 0 rewritten), 0 samples were "
        "stored already",
        "Stored 012 samples in 3 files (2 new, 1 continued, 0 rewritten), 0 samples were stored "
        "already",
        "Stored 1 samples in 1 files (1 new, 0 continued, 0 rewritten), 0 samples were stored "
        "already!",
        "DB write error (A::B::C)"}) {
    EXPECT_FALSE(ParseStoreSummary(line).has_value()) << line;
  }
  EXPECT_FALSE(
      ParseCssSummary("Wrote 2 wfdisc lines and 2 data files (7000 samples) to ").has_value());
  EXPECT_FALSE(ParseCssSummary("Wrote 2 wfdisc lines").has_value());
}

TEST(SummaryLine, OnlyTheLastLineCounts) {
  const std::string store =
      "Stored 10 samples in 1 files (1 new, 0 continued, 0 rewritten), 0 samples were stored "
      "already";
  const RunSummary last = FindRunSummary("\rWriting to database - 100%\n\n" + store + "\n");
  ASSERT_TRUE(last.store.has_value());
  EXPECT_EQ(last.line, store);
  EXPECT_FALSE(FindRunSummary(store + "\n\rDB write error (A::B::C)\n").store.has_value());
  EXPECT_FALSE(FindRunSummary("").store.has_value());

  // A conversion with nothing to write ends with the closing progress line alone.
  EXPECT_TRUE(WroteNoSegment("\rConverting File - 100%\n\n\rWriting to database - 100%\n\n"));
  EXPECT_TRUE(WroteNoSegment("\rWriting to CSS-file - 100%\n\n"));
  EXPECT_FALSE(WroteNoSegment("\n\n\rWriting to database - 100%\rWriting to database - 100%\n\n"));
  EXPECT_FALSE(WroteNoSegment("\rConverting File - 41%"));
}

// The end of a conversion as the operator reads it, for each way a run can end.
class ConversionEnd : public ::testing::Test {
 protected:
  Completion End(const std::string& output, int code = 0, bool normal = true,
                 bool stopped = false) {
    return ConversionCompletion({output, code, normal, stopped}, request);
  }
  ConversionRequest request{"CER:*:*", false, false};

  // A conversion's output into the store: `lines`, then the summary line of these counts.
  static std::string Stored(long long samples, int files, int fresh, int continued, int rewritten,
                            long long already, const std::string& lines = "") {
    return std::string(kWritten) + lines + "Stored " + std::to_string(samples) + " samples in " +
           std::to_string(files) + " files (" + std::to_string(fresh) + " new, " +
           std::to_string(continued) + " continued, " + std::to_string(rewritten) +
           " rewritten), " + std::to_string(already) + " samples were stored already\n";
  }
  // What the operator is shown: the message, its icon and the results area.
  static void ExpectShown(const Completion& done, const std::string& message, MessageIcon icon,
                          const std::string& results) {
    EXPECT_EQ(done.message, message);
    EXPECT_EQ(done.icon, icon);
    EXPECT_EQ(done.results, results);
  }
  static constexpr char kWritten[] =
      "\rConverting File - 100%\n\n\rWriting to database - 100%\rWriting to database - 100%\n\n";
};

TEST_F(ConversionEnd, WhatWasStoredIsShown) {
  ExpectShown(End(Stored(12000, 3, 2, 1, 0, 400)), "Операция успешно завершена!",
              MessageIcon::kInformation,
              "Записано в хранилище QOR: отсчётов 12000, файлов 3 (новых 2, дописанных 1, "
              "переписанных 0).\r\nУже были в хранилище отсчётов: 400.\r\n");
}

TEST_F(ConversionEnd, ARunThatStoredNothingSaysSo) {
  Completion done = End(Stored(0, 0, 0, 0, 0, 12000));
  EXPECT_EQ(done.message,
            "Ничего не записано в хранилище QOR: все отсчёты (12000) уже были в нём.");
  EXPECT_EQ(done.icon, MessageIcon::kInformation);
  EXPECT_EQ(done.results, done.message + "\r\n");

  // The converter's own report says why.
  ExpectShown(End(Stored(0, 0, 0, 0, 0, 0,
                         "\rSample rate 0.001 is below 0.005, not stored (CER::BHZ::00)\n")),
              "Ничего не записано в хранилище QOR.", MessageIcon::kExclamation,
              "Sample rate 0.001 is below 0.005, not stored (CER::BHZ::00)\r\n"
              "Ничего не записано в хранилище QOR.\r\n");
}

TEST_F(ConversionEnd, NoSummaryAfterAnEmptyWritingPhaseMeansNothingMatched) {
  const std::string nothing = "\rConverting File - 100%\n\n\rWriting to database - 100%\n\n";
  Completion done = End(nothing);
  EXPECT_EQ(done.message, "Ничего не записано: в файле нет данных каналов CER:*:*.");
  EXPECT_EQ(done.icon, MessageIcon::kExclamation);
  EXPECT_EQ(done.results, done.message + "\r\n");

  request.windowSet = true;
  EXPECT_EQ(End(nothing).message,
            "Ничего не записано: в файле нет данных каналов CER:*:* в заданном интервале "
            "времени.");
  request.filter = "*:*:*";
  EXPECT_EQ(End(nothing).message,
            "Ничего не записано: в файле нет данных в заданном интервале времени.");
  request.windowSet = false;
  request.css = true;
  EXPECT_EQ(End("\rWriting to CSS-file - 100%\n\n").message,
            "Ничего не записано: в файле нет данных.");
}

TEST_F(ConversionEnd, CssOutputShowsWhatWasWritten) {
  request.css = true;
  Completion done =
      End("\rConverting File - 100%\n\n\rWriting to CSS-file - 100%\rWriting to CSS-file - "
          "100%\n\nWrote 2 wfdisc lines and 2 data files (7000 samples) to /out/x.wfdisc\n");
  EXPECT_EQ(done.message, "Операция успешно завершена!");
  EXPECT_EQ(done.results,
            "Записано в CSS: строк wfdisc 2, файлов данных 2 (отсчётов 7000), файл wfdisc: "
            "/out/x.wfdisc\r\n");
  done =
      End("\rWriting to CSS-file - 100%\n\nWrote 0 wfdisc lines and 0 data files (0 "
          "samples) to /out/x.wfdisc\n");
  EXPECT_EQ(done.message, "Ничего не записано в CSS-файл /out/x.wfdisc.");
  EXPECT_EQ(done.icon, MessageIcon::kExclamation);
}

TEST_F(ConversionEnd, FailuresNameTheirFirstLinesAndKeepWhatWasWritten) {
  const Completion done =
      End("\rConverting File - 100%\n\n\rWriting to database - 50%\n\nOpen Err: \n/d/CER/13/f\n"
          "\rDB write error (CER::BHZ::/d/CER/13/f)\n\rWriting to database - 100%\rWriting to "
          "database - 100%\n\nStored 10 samples in 1 files (1 new, 0 continued, 0 rewritten), 0 "
          "samples were stored already\n");
  EXPECT_EQ(done.message,
            "Операция завершена с ошибками!\nОшибки: 2\nOpen Err: /d/CER/13/f\n"
            "DB write error (CER::BHZ::/d/CER/13/f)");
  EXPECT_EQ(done.icon, MessageIcon::kExclamation);
  EXPECT_EQ(done.results,
            "Open Err: /d/CER/13/f\r\nDB write error (CER::BHZ::/d/CER/13/f)\r\n"
            "Записано в хранилище QOR: отсчётов 10, файлов 1 (новых 1, дописанных 0, "
            "переписанных 0).\r\n");

  // Without an error line the exit code tells.
  const Completion exit = End("", 255);
  EXPECT_EQ(exit.message,
            "Операция завершена с ошибками!\nОшибки: 1\n"
            "Конвертер завершился с кодом -1: ошибка подключения к базе данных.");
  EXPECT_EQ(exit.results, "Конвертер завершился с кодом -1: ошибка подключения к базе данных.\r\n");
}

TEST_F(ConversionEnd, AStoppedRunSaysSo) {
  const Completion done = End("\rConverting File - 41%", 15, false, true);
  EXPECT_EQ(done.message, "Операция прервана.");
  EXPECT_EQ(done.icon, MessageIcon::kInformation);
  EXPECT_EQ(done.results,
            "Операция прервана: конвертер остановлен по запросу оператора.\r\n"
            "Начатая, но не завершённая запись в хранилище будет приведена в порядок при "
            "следующем конвертировании.\r\n");
  request.css = true;
  EXPECT_EQ(End("", 9, false, true).results,
            "Операция прервана: конвертер остановлен по запросу оператора.\r\n");
}

TEST_F(ConversionEnd, AConverterWithoutSummaryLineEndsAsBefore) {
  EXPECT_EQ(End(kWritten).message, "Операция успешно завершена!");
  EXPECT_EQ(End(kWritten).results, "");
}

TEST(ListingEnd, OnlyAFailedOrStoppedListingHasAClosingMessage) {
  EXPECT_FALSE(ListingCompletion({"ABC::BHZ::00 1.00 - 2.00 20\n", 0, true, false}).has_value());
  const auto failed = ListingCompletion(
      {"File open error (/x.seed): No such file or directory\n", 254, true, false});
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(failed->message,
            "Операция завершена с ошибками!\nОшибки: 1\n"
            "File open error (/x.seed): No such file or directory");
  EXPECT_EQ(failed->results, "File open error (/x.seed): No such file or directory\r\n");
  const auto stopped = ListingCompletion({"", 15, false, true});
  ASSERT_TRUE(stopped.has_value());
  EXPECT_EQ(stopped->message, "Операция прервана.");
}

TEST(ChannelPatterns, TypedCharactersAreAsciiLettersDigitsAndWildcards) {
  for (const QChar c : QStringLiteral("AZaz09*?")) {
    EXPECT_TRUE(IsTypedPatternCharacter(c)) << QString(c).toStdString();
  }
  // Cyrillic look-alikes of C, E, A, H, O, P, separators, blanks, quotes.
  for (const QChar c : QStringLiteral("СЕАНОРсе:,; \"-_")) {
    EXPECT_FALSE(IsTypedPatternCharacter(c)) << QString(c).toStdString();
  }
}

TEST(ChannelPatterns, RunsRefuseWhatTheFilterCannotTake) {
  EXPECT_FALSE(CheckChannelBoxes({"CER", "BH?", "00"}).has_value());
  EXPECT_FALSE(CheckChannelBoxes({"ABCDEFG", "*", "??"}).has_value());
  // Codes a listing brought may hold other printable characters; they pass.
  EXPECT_FALSE(CheckChannelBoxes({"AB-C", "B_Z", "*"}).has_value());

  EXPECT_EQ(*CheckChannelBoxes({"\xD0\xA1"
                                "ER",
                                "*", "*"}),
            "Недопустимый символ «С» в поле «Станция».\n"
            "Коды станции, канала и расположения пишутся латинскими буквами и цифрами, * и ? "
            "заменяют символы.\nОперация не выполнена.");
  EXPECT_NE(CheckChannelBoxes({"CER", "BH:Z", "*"})->find("«:» в поле «Канал»"), std::string::npos);
  EXPECT_NE(CheckChannelBoxes({"CER", "*", "0,0"})->find("«,» в поле «LCODE»"), std::string::npos);
  EXPECT_NE(CheckChannelBoxes({"C R", "*", "*"})->find("« » в поле «Станция»"), std::string::npos);
  // The converter's limit in bytes is the boxes' limit in characters.
  EXPECT_EQ(*CheckChannelBoxes({"ABCDEFGH", "*", "*"}),
            "Слишком длинное значение: станция (допускается не более 7 символов, задано 8).\n"
            "Операция не выполнена.");
}

TEST(ChannelPatterns, AnEmptyBoxMeansEveryCode) {
  const ChannelBoxes boxes = WithEmptyBoxesAsAll({"", "BHZ", ""});
  EXPECT_EQ(boxes.station, "*");
  EXPECT_EQ(boxes.channel, "BHZ");
  EXPECT_EQ(boxes.location, "*");
}

}  // namespace
}  // namespace tarnvel::gui
