// Texts a run shows: the channel table's cells, the large-file figures, limits, summaries.
#include <gtest/gtest.h>

#include "gui/channel_table.h"
#include "gui/large_file.h"
#include "gui/run_limits.h"
#include "gui/run_summary.h"
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

TEST(RunSummary, SuccessAndFailureTexts) {
  EXPECT_EQ(ConversionSummary("\"t\" \"x\""), "Connection string: \"t\" \"x\"\r\n");
  EXPECT_EQ(FailureLinesText("\rConverting File - 100%\n\n\rDB write error (A::B::C)\n\r"
                             "Writing to database - 100%\nOpen Err\n"),
            "DB write error (A::B::C)\r\nOpen Err\r\n");
  EXPECT_EQ(FailureLinesText("\rWriting to database - 100%\n"), "");
  EXPECT_EQ(CompletionMessage(0), "Операция успешно завершена!");
  EXPECT_EQ(CompletionMessage(3), "Операция завершена с ошибками!\nОшибки: 3\n");
}

}  // namespace
}  // namespace tarnvel::gui
