#include "gui/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnvel::gui {
namespace {

using Args = std::vector<std::string>;

PickerTime At(int year, int month, int day, int hour, int minute) {
  return PickerTime{true, year, month, day, hour, minute};
}

const PickerTime kUnset{};

TEST(TimeArgument, FormsHoursMinutesZeroSecondsAndFourDigitYear) {
  EXPECT_EQ(TimeArgumentText("beg", At(2011, 11, 17, 7, 5)), " beg=\"07:05:00-17.11.2011\"");
  EXPECT_EQ(TimeArgumentText("end", At(2009, 3, 1, 23, 59)), " end=\"23:59:00-01.03.2009\"");
  // An unticked box adds nothing, whatever its pickers hold.
  PickerTime unticked = At(2011, 11, 17, 7, 5);
  unticked.set = false;
  EXPECT_EQ(TimeArgumentText("beg", unticked), "");
}

TEST(ConverterPath, SitsInTheGuiFolder) {
  EXPECT_EQ(ConverterPathIn("/opt/tarnvel/bin"), "/opt/tarnvel/bin/tarnvel");
  EXPECT_EQ(ConverterPathIn("/opt/tarnvel/bin/"), "/opt/tarnvel/bin/tarnvel");
  EXPECT_EQ(ConverterPathIn(""), "tarnvel");
}

struct ListingCase {
  ChannelBoxes boxes;
  std::string filterText;  // the piece after the quoted path, with its space
  Args filterArgs;
};

TEST(ListingCommand, ChannelFilterStopsAtTheFirstStar) {
  const ListingCase cases[] = {
      {{"*", "*", "*"}, "", {}},
      {{"*", "BHZ", "00"}, "", {}},  // a station "*" drops the whole filter
      {{"ABC", "*", "00"}, " ABC", {"ABC"}},
      {{"ABC", "*", "*"}, " ABC", {"ABC"}},
      {{"ABC", "BHZ", "*"}, " ABC:BHZ", {"ABC:BHZ"}},
      {{"ABC", "BHZ", "00"}, " ABC:BHZ:00", {"ABC:BHZ:00"}},
      {{"abc", "B?Z", "0*"}, " abc:B?Z:0*", {"abc:B?Z:0*"}},
  };
  for (const auto& c : cases) {
    const CommandLine line =
        BuildListingCommand("/gui/tarnvel", "/data/x.seed", c.boxes, kUnset, kUnset, 0);
    SCOPED_TRACE(c.boxes.station + "/" + c.boxes.channel + "/" + c.boxes.location);
    EXPECT_EQ(line.text, "/gui/tarnvel \"/data/x.seed\"" + c.filterText + " -i");
    Args expected{"/data/x.seed"};
    expected.insert(expected.end(), c.filterArgs.begin(), c.filterArgs.end());
    expected.push_back("-i");
    EXPECT_EQ(line.arguments, expected);
    EXPECT_EQ(line.program, "/gui/tarnvel");
  }
}

TEST(ListingCommand, TimesBeforeTheViewLimitBeginBeforeEnd) {
  const ChannelBoxes all{"*", "*", "*"};
  const auto begin = At(2011, 11, 17, 7, 5);
  const auto end = At(2011, 11, 18, 0, 0);

  auto line = BuildListingCommand("tarnvel", "x.seed", all, begin, end, 5);
  EXPECT_EQ(line.text,
            "tarnvel \"x.seed\" beg=\"07:05:00-17.11.2011\" end=\"00:00:00-18.11.2011\" -i=5");
  EXPECT_EQ(line.arguments,
            (Args{"x.seed", "beg=07:05:00-17.11.2011", "end=00:00:00-18.11.2011", "-i=5"}));

  line = BuildListingCommand("tarnvel", "x.seed", all, kUnset, end, 0);
  EXPECT_EQ(line.text, "tarnvel \"x.seed\" end=\"00:00:00-18.11.2011\" -i");

  line = BuildListingCommand("tarnvel", "x.seed", all, begin, kUnset, -1);
  EXPECT_EQ(line.text, "tarnvel \"x.seed\" beg=\"07:05:00-17.11.2011\" -i");
}

const ResolvedSettings kConnection{"QOR", "qor", "pass word", DataDirectory("/srv/qor data")};

TEST(ConversionCommand, DatabaseOutputQuotesTheFilterAlways) {
  const CommandLine all = BuildConversionCommand("/gui/tarnvel", "/d/x.seed", std::nullopt,
                                                 {"*", "*", "*"}, kUnset, kUnset, kConnection);
  EXPECT_EQ(all.text,
            "\"/gui/tarnvel\" \"/d/x.seed\" \"*:*:*\" odbc=QOR user=qor data=\"/srv/qor data\"");
  // The converter receives each value whole, blanks included; the password only in its
  // environment.
  EXPECT_EQ(all.arguments,
            (Args{"/d/x.seed", "*:*:*", "odbc=QOR", "user=qor", "data=/srv/qor data"}));
  EXPECT_EQ(all.password, "pass word");

  const CommandLine some =
      BuildConversionCommand("/gui/tarnvel", "/d/x.seed", std::nullopt, {"ABC", "*", "00"},
                             At(2011, 11, 17, 7, 5), At(2012, 1, 2, 3, 4), kConnection);
  EXPECT_EQ(some.text,
            "\"/gui/tarnvel\" \"/d/x.seed\" \"ABC:*:00\" beg=\"07:05:00-17.11.2011\" "
            "end=\"03:04:00-02.01.2012\" odbc=QOR user=qor data=\"/srv/qor data\"");
  EXPECT_EQ(some.arguments[1], "ABC:*:00");
  EXPECT_EQ(some.arguments[2], "beg=07:05:00-17.11.2011");
  EXPECT_EQ(some.arguments[3], "end=03:04:00-02.01.2012");
}

TEST(ConversionCommand, CssPathComesRightAfterTheSeedPath) {
  const CommandLine line =
      BuildConversionCommand("tarnvel", "/d/x.seed", std::string("/out/x.wfdisc"),
                             {"ABC", "BHZ", "00"}, kUnset, At(2012, 1, 2, 3, 4), kConnection);
  EXPECT_EQ(line.text,
            "\"tarnvel\" \"/d/x.seed\" css=\"/out/x.wfdisc\" \"ABC:BHZ:00\" "
            "end=\"03:04:00-02.01.2012\" odbc=QOR user=qor data=\"/srv/qor data\"");
  EXPECT_EQ(line.arguments,
            (Args{"/d/x.seed", "css=/out/x.wfdisc", "ABC:BHZ:00", "end=03:04:00-02.01.2012",
                  "odbc=QOR", "user=qor", "data=/srv/qor data"}));
}

TEST(ConversionCommand, ThePasswordIsShownMaskedAndNeverPassedAsAnArgument) {
  const ResolvedSettings connection{"QOR", "QOR", "QOR", DataDirectory("/data/QOR")};
  const CommandLine line = BuildConversionCommand("tarnvel", "/d/QOR.seed", std::nullopt,
                                                  {"QOR", "*", "*"}, kUnset, kUnset, connection);
  EXPECT_EQ(line.shownText,
            "\"tarnvel\" \"/d/QOR.seed\" \"QOR:*:*\" odbc=QOR user=QOR password=*** "
            "data=\"/data/QOR\"");
  EXPECT_EQ(line.text.find("password"), std::string::npos);
  for (const std::string& argument : line.arguments) {
    EXPECT_FALSE(argument.starts_with("password=")) << argument;
  }
  EXPECT_EQ(line.password, "QOR");
}

TEST(ListingCommand, ConnectionValuesFollowTheListingsOwnPieces) {
  CommandLine line =
      BuildListingCommand("/gui/tarnvel", "/d/x.seed", {"ABC", "*", "*"}, kUnset, kUnset, 5);
  AppendConnection(line, kConnection);
  EXPECT_EQ(line.text,
            "/gui/tarnvel \"/d/x.seed\" ABC -i=5 odbc=QOR user=qor data=\"/srv/qor data\"");
  EXPECT_EQ(line.shownText,
            "/gui/tarnvel \"/d/x.seed\" ABC -i=5 odbc=QOR user=qor password=*** "
            "data=\"/srv/qor data\"");
  EXPECT_EQ(line.arguments,
            (Args{"/d/x.seed", "ABC", "-i=5", "odbc=QOR", "user=qor", "data=/srv/qor data"}));
  EXPECT_EQ(line.password, "pass word");
}

}  // namespace
}  // namespace tarnvel::gui
