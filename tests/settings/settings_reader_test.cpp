#include "settings/settings_reader.h"

#include "settings/css_request.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <variant>

#include "tests/support/process.h"

namespace tarnvel {
namespace {

using testing::TempDir;
using testing::WriteFile;

// An environment with only the given variables.
SettingsReader::Environment FakeEnvironment(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const char* name) -> std::optional<std::string> {
    const auto it = variables.find(name);
    if (it == variables.end()) return std::nullopt;
    return it->second;
  };
}

// A program folder holding the converter's ini file, a Windows folder holding qor.ini and a
// system folder standing in for /etc, so that the machine's own files never take part.
class SettingsReaderTest : public ::testing::Test {
 protected:
  std::string ProgramPath() const { return (programDir_ / "tarnvel").string(); }
  std::string SystemFolder() const { return systemDir_.path().string(); }
  void WriteLocalIni(const std::string& content) const {
    WriteFile(programDir_ / "tarnvel.ini", content);
  }
  void WriteQorIni(const std::string& content) const {
    WriteFile(windowsDir_ / "qor.ini", content);
  }
  void WriteSystemIni(const std::string& content) const {
    WriteFile(systemDir_ / "tarnvel.ini", content);
  }

  SettingsReader MakeReader(std::vector<std::string> arguments,
                            std::map<std::string, std::string> environment = {}) const {
    arguments.insert(arguments.begin(), ProgramPath());
    environment["WINDIR"] = windowsDir_.path().string();
    return SettingsReader(std::move(arguments), FakeEnvironment(std::move(environment)),
                          SystemFolder());
  }

  TempDir programDir_;
  TempDir windowsDir_;
  TempDir systemDir_;
};

TEST_F(SettingsReaderTest, LocalIniLivesBesideTheProgram) {
  const auto env = FakeEnvironment({});
  const auto localIni = [&](std::vector<std::string> args) {
    return SettingsReader(std::move(args), env, SystemFolder()).LocalIniPath();
  };
  EXPECT_EQ(localIni({"/usr/bin/tarnvel"}), "/usr/bin/tarnvel.ini");
  EXPECT_EQ(localIni({"C:\\qor\\bin\\tarnvel.exe"}), "C:/qor/bin/tarnvel.ini");
  EXPECT_EQ(localIni({"tarnvel"}), "./tarnvel.ini");
  EXPECT_EQ(localIni({"ab"}), "./tarnvel.ini");
  EXPECT_EQ(localIni({}), "./tarnvel.ini");
  EXPECT_EQ(localIni({"bin/tarnvel"}), "bin/tarnvel.ini");
}

// An installed program (/usr/bin/tarnvel) has no ini beside it: it reads the system folder's
// tarnvel.ini in its place, for every value the local ini gives, and qor.ini as before.
TEST_F(SettingsReaderTest, SystemIniStandsInWhenNoneIsBesideTheProgram) {
  WriteSystemIni(
      "[DATABASE]\nODBC=system_odbc\nPASSWORD=system_pw\nUSE_TEND=1\n[DATA]\nDIR=/srv/qor/data\n"
      "[SYSTEM]\nBLOCK_SIZE=512\n");
  WriteQorIni("[DATABASE]\nODBC=qor_odbc\nUSER=qor_user\n");
  SettingsReader reader = MakeReader({"x.seed", "password=cli_pw"});
  EXPECT_EQ(reader.LocalIniPath(), SystemFolder() + "/tarnvel.ini");
  const ResolvedSettings s = reader.LoadAndGetSettings();
  EXPECT_EQ(s.odbc, "system_odbc");
  EXPECT_EQ(s.user, "qor_user");
  EXPECT_EQ(s.password, "cli_pw");
  EXPECT_EQ(s.dataDir.Setting(), "/srv/qor/data");
  EXPECT_TRUE(s.useTend);
  EXPECT_EQ(reader.LoadConverterSettings().recordLength, 512);
}

// Any tarnvel.ini beside the program is its own, also an empty, unreadable or folder one: the
// system ini then changes nothing.
TEST_F(SettingsReaderTest, AnIniBesideTheProgramHidesTheSystemIni) {
  WriteSystemIni("[DATABASE]\nODBC=system_odbc\n[SYSTEM]\nBLOCK_SIZE=512\n");
  WriteQorIni("[DATABASE]\nODBC=qor_odbc\n");
  const std::string besideProgram = (programDir_ / "tarnvel.ini").string();

  WriteLocalIni("");
  SettingsReader reader = MakeReader({"x.seed"});
  EXPECT_EQ(reader.LocalIniPath(), besideProgram);
  EXPECT_EQ(reader.LoadAndGetSettings().odbc, "qor_odbc");
  EXPECT_EQ(reader.LoadConverterSettings().recordLength, std::nullopt);

  std::filesystem::remove(besideProgram);
  std::filesystem::create_directory(besideProgram);
  EXPECT_EQ(MakeReader({"x.seed"}).LocalIniPath(), besideProgram);
  EXPECT_EQ(MakeReader({"x.seed"}).LoadAndGetSettings().odbc, "qor_odbc");
}

TEST_F(SettingsReaderTest, QorIniComesFromQorWhenItOpensElseFromTheWindowsFolder) {
  TempDir qorDir;
  WriteFile(qorDir / "qor.ini", "[DATABASE]\n");
  const std::string qor = qorDir.path().string();

  EXPECT_EQ(SettingsReader({"tarnvel"}, FakeEnvironment({{"QOR", qor}, {"WINDIR", "C:\\WIN"}}))
                .QorIniPath(),
            qor + "/qor.ini");
  EXPECT_EQ(SettingsReader({"tarnvel"}, FakeEnvironment({{"QOR", qor + "/"}})).QorIniPath(),
            qor + "/qor.ini");
  // A QOR folder without the file is passed over; WINDIR is taken whether or not it exists.
  EXPECT_EQ(SettingsReader({"tarnvel"},
                           FakeEnvironment({{"QOR", qor + "/missing"}, {"WINDIR", "C:\\WIN"}}))
                .QorIniPath(),
            "C:/WIN/qor.ini");
  EXPECT_EQ(SettingsReader({"tarnvel"}, FakeEnvironment({{"WINDIR", "C:\\WIN\\"}})).QorIniPath(),
            "C:/WIN/qor.ini");
  EXPECT_EQ(SettingsReader({"tarnvel"}, FakeEnvironment({})).QorIniPath(), "/etc/qor.ini");
  EXPECT_EQ(SettingsReader({"tarnvel"}, FakeEnvironment({}), SystemFolder()).QorIniPath(),
            SystemFolder() + "/qor.ini");
}

TEST_F(SettingsReaderTest, QorIniFromWindowsBackslashFolderIsReadWithSlashes) {
  TempDir qorDir;
  WriteFile(qorDir / "qor.ini", "[DATABASE]\nODBC=from_qor\n");
  SettingsReader reader({ProgramPath()}, FakeEnvironment({{"QOR", qorDir.path().string() + "\\"}}),
                        SystemFolder());
  EXPECT_EQ(reader.QorIniPath(), qorDir.path().string() + "/qor.ini");
  EXPECT_EQ(reader.LoadAndGetSettings().odbc, "from_qor");
}

// Each value comes from the first source that gives it: the command line, tarnvel.ini beside
// the program, qor.ini, the defaults. USE_TEND comes from tarnvel.ini when it is 0 or more,
// else from qor.ini; a "-use_tend" switch on the command line goes before both.
TEST_F(SettingsReaderTest, EachValueFromTheFirstSourceThatGivesIt) {
  struct Case {
    std::vector<std::string> arguments;
    const char* localIni;  // nullptr: none beside the program
    const char* qorIni;    // nullptr: none
    const char* resolved;  // "odbc user password dataDir useTend"
  };
  const char* const kTendZero = "[DATABASE]\nUSE_TEND=0\n";
  const char* const kTendOne = "[DATABASE]\nUSE_TEND=1\n";
  const Case cases[] = {
      {{"x.seed"}, nullptr, "[SYSTEM]\nODBC=not_this_section\n", "QOR QOR ZUN D:/DATA 0"},
      // An empty value on the command line counts as not given.
      {{"x.seed", "user=cli_user", "Odbc=", "PassWord=cli_pw"},
       "[DATABASE]\nODBC=local_odbc\nUSER=local_user\n",
       "[DATABASE]\nODBC=qor_odbc\nUSER=qor_user\nPASSWORD=qor_pw\n[DATA]\nDIR=/qor/data\n",
       "local_odbc cli_user cli_pw /qor/data 0"},
      {{"x.seed"}, kTendZero, kTendOne, "QOR QOR ZUN D:/DATA 0"},
      {{"x.seed"}, "[DATABASE]\nUSE_TEND=-5\n", kTendOne, "QOR QOR ZUN D:/DATA 1"},
      {{"x.seed"}, "[DATABASE]\nODBC=x\n", kTendOne, "x QOR ZUN D:/DATA 1"},
      // Not a number: 0.
      {{"x.seed"}, "[DATABASE]\nODBC=x\n", "[DATABASE]\nUSE_TEND=yes\n", "x QOR ZUN D:/DATA 0"},
      {{"x.seed", "-use_tend"}, kTendZero, nullptr, "QOR QOR ZUN D:/DATA 1"},
      {{"x.seed", "/USE_TEND"}, kTendZero, nullptr, "QOR QOR ZUN D:/DATA 1"},
      {{"-use_tendency"}, kTendZero, nullptr, "QOR QOR ZUN D:/DATA 1"},
      {{"x.seed", "use_tend"}, kTendZero, nullptr, "QOR QOR ZUN D:/DATA 0"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(programDir_ / "tarnvel.ini");
    std::filesystem::remove(windowsDir_ / "qor.ini");
    if (c.localIni != nullptr) WriteLocalIni(c.localIni);
    if (c.qorIni != nullptr) WriteQorIni(c.qorIni);
    const ResolvedSettings s = MakeReader(c.arguments).LoadAndGetSettings();
    EXPECT_EQ(s.odbc + " " + s.user + " " + s.password + " " + s.dataDir.Setting() + " " +
                  (s.useTend ? "1" : "0"),
              c.resolved)
        << ::testing::PrintToString(c.arguments);
  }
}

TEST_F(SettingsReaderTest, TheConvertersWholeConfigurationInOneValue) {
  WriteLocalIni("[DATABASE]\nODBC=local_odbc\n[SYSTEM]\nBLOCK_SIZE=4096\n");
  const ConverterSettings c =
      MakeReader({"x.seed", "DATA=D:\\d", "css=out.wfdisc", "-use_tend"}).LoadConverterSettings();
  EXPECT_EQ(c.connection.odbc, "local_odbc");
  EXPECT_EQ(c.connection.dataDir.Setting(), "D:/d");
  EXPECT_TRUE(c.connection.useTend);
  EXPECT_EQ(c.recordLength, 409);
  ASSERT_TRUE(std::holds_alternative<CssNamedPath>(c.css));
  EXPECT_EQ(std::get<CssNamedPath>(c.css).path, "out.wfdisc");
  // Exactly these arguments are the reader's, so no SEED path or channel filter.
  for (const char* arg : {"odbc=", "User=u", "PASSWORD=p", "data=/d", "-use_tend", "/USE_TENDx"}) {
    EXPECT_TRUE(IsSettingsArgument(arg)) << arg;
  }
  for (const char* arg : {"odbc", "x.seed", "use_tend", "-i", "css=x", "dat=/d"}) {
    EXPECT_FALSE(IsSettingsArgument(arg)) << arg;
  }
}

TEST_F(SettingsReaderTest, PasswordFromTheEnvironmentRanksAfterTheCommandLineBeforeTheIniFiles) {
  WriteQorIni("[DATABASE]\nPASSWORD=qor_pw\n");
  struct Case {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    std::string localIni;
    std::string password;
  };
  const Case cases[] = {
      {{"password=cli_pw"}, {{"TARNVEL_PASSWORD", "env_pw"}}, "", "cli_pw"},
      {{"PASSWORD="}, {{"TARNVEL_PASSWORD", "env pw"}}, "PASSWORD=local_pw\n", "env pw"},
      {{}, {{"TARNVEL_PASSWORD", "env_pw"}}, "PASSWORD=local_pw\n", "env_pw"},
      // Set but empty counts as not given, like "PASSWORD=" on the command line.
      {{}, {{"TARNVEL_PASSWORD", ""}}, "PASSWORD=local_pw\n", "local_pw"},
      {{}, {{"TARNVEL_PASSWORD", ""}}, "", "qor_pw"},
      {{}, {}, "", "qor_pw"},
  };
  for (const Case& c : cases) {
    WriteLocalIni("[DATABASE]\n" + c.localIni);
    EXPECT_EQ(MakeReader(c.arguments, c.environment).LoadAndGetSettings().password, c.password);
  }
  // Only the password is taken from the environment.
  const ResolvedSettings s =
      MakeReader({}, {{"TARNVEL_PASSWORD", "p"}, {"TARNVEL_USER", "u"}}).LoadAndGetSettings();
  EXPECT_EQ(s.user, "QOR");
}

// The data directory is normalised once, by the reader: its setting keeps the spelling given
// (with '/' for '\\'), which the dialog program hands on, and its normalised text is what the
// store works with.
TEST_F(SettingsReaderTest, DataDirectoryAlwaysHasForwardSlashes) {
  WriteQorIni("[DATA]\nDIR=\\\\server\\qor\\data\n");
  const DataDirectory share = MakeReader({"x.seed"}).LoadAndGetSettings().dataDir;
  EXPECT_EQ(share.Setting(), "//server/qor/data");
  EXPECT_EQ(share.Text(), "/server/qor/data");
  EXPECT_TRUE(share.IsNetworkShare());
  WriteLocalIni("[DATA]\nDIR=E:\\local\\data\n");
  EXPECT_EQ(MakeReader({"x.seed"}).LoadAndGetSettings().dataDir.Setting(), "E:/local/data");
  EXPECT_EQ(MakeReader({"x.seed", "data=F:\\cli\\dir"}).LoadAndGetSettings().dataDir.Setting(),
            "F:/cli/dir");

  // Doubled and trailing separators and "." folders leave the text the store works with, not
  // the setting handed on.
  const DataDirectory untidy =
      MakeReader({"x.seed", "data=F:\\cli\\.\\\\dir\\"}).LoadAndGetSettings().dataDir;
  EXPECT_EQ(untidy.Setting(), "F:/cli/.//dir/");
  EXPECT_EQ(untidy.Text(), "F:/cli/dir");
  EXPECT_FALSE(untidy.IsNetworkShare());
}

TEST_F(SettingsReaderTest, EveryLoadReadsTheFilesAgain) {
  WriteLocalIni("[DATABASE]\nODBC=before\nUSER=before\n");
  SettingsReader reader = MakeReader({"x.seed"});
  EXPECT_EQ(reader.LoadAndGetSettings().odbc, "before");
  WriteLocalIni("[DATABASE]\nODBC=after\n");
  const ResolvedSettings s = reader.LoadAndGetSettings();
  EXPECT_EQ(s.odbc, "after");
  EXPECT_EQ(s.user, "QOR");  // texts are resolved again from scratch
}

// The end-time switch, once a load found it on, stays on through later loads that do not
// decide it on: a USE_TEND of 0 does not take it back.
TEST_F(SettingsReaderTest, UseTendSetByValueSurvivesALoadThatDoesNotDecideTrue) {
  WriteLocalIni("[DATABASE]\nUSE_TEND=1\n");
  SettingsReader reader = MakeReader({"x.seed"});
  EXPECT_TRUE(reader.LoadAndGetSettings().useTend);
  WriteLocalIni("[DATABASE]\nUSE_TEND=0\n");
  EXPECT_TRUE(reader.LoadAndGetSettings().useTend);
  EXPECT_FALSE(MakeReader({"x.seed"}).LoadAndGetSettings().useTend);
}

// The converter's values come typed, each from its own source: the four texts and the switch
// as every program reads them, the record length from tarnvel.ini only, the CSS request from
// the command line only.
TEST_F(SettingsReaderTest, KeyedValues) {
  WriteLocalIni("[DATABASE]\nODBC=o\nUSER=u\nPASSWORD=p\n[DATA]\nDIR=d\n");
  WriteQorIni("[SYSTEM]\nBLOCK_SIZE=256\nCSS=x\n");
  const ConverterSettings c =
      MakeReader({"x.seed", "-use_tend", "CSS=out.wfdisc"}).LoadConverterSettings();
  EXPECT_EQ(c.connection.odbc, "o");
  EXPECT_EQ(c.connection.user, "u");
  EXPECT_EQ(c.connection.password, "p");
  EXPECT_EQ(c.connection.dataDir.Setting(), "d");
  EXPECT_TRUE(c.connection.useTend);
  ASSERT_TRUE(std::holds_alternative<CssNamedPath>(c.css));
  EXPECT_EQ(std::get<CssNamedPath>(c.css).path, "out.wfdisc");
  EXPECT_EQ(c.recordLength, std::nullopt);
}

// "BLOCK_SIZE" reaches the reader as at most three characters, read as atoi reads them; -1
// (also the default) asks for detection.
TEST_F(SettingsReaderTest, BlockSizeReachesTheCallerAsThreeCharacters) {
  WriteQorIni("[SYSTEM]\nBLOCK_SIZE=256\n");  // only the converter's own file counts
  EXPECT_EQ(MakeReader({"x.seed"}).LoadConverterSettings().recordLength, std::nullopt);
  const std::pair<const char*, std::optional<int>> entries[] = {
      {"BLOCK_SIZE=512", 512},
      {"block_size = 4096", 409},
      {"BLOCK_SIZE=512abc", 512},
      {"BLOCK_SIZE=\" 4096\"", 40},
      {"BLOCK_SIZE=-1", std::nullopt},
      {"BLOCK_SIZE=-01", std::nullopt},
      {"BLOCK_SIZE=-1x", std::nullopt},
      {"BLOCK_SIZE=", 0},
      {"BLOCK_SIZE=abc", 0},
      {"BLOCK_SIZE=+64", 64},
      {"BLOCK_SIZE=-5", -5},
      {"BLOCK_SIZE=1e3", 1},
      {"BLOCK_SIZE=0x2", 0},
      {"BLOCK_SIZE=\"\t12\"", 12},
      {"BLOCK_SIZE=65000", 650},
      {"[other]", std::nullopt},
  };
  for (const auto& [entry, recordLength] : entries) {
    WriteLocalIni(std::string("[system]\n") + entry + "\n");
    EXPECT_EQ(MakeReader({"x.seed"}).LoadConverterSettings().recordLength, recordLength) << entry;
  }
}

// The request as text: "not requested", "beside the SEED file", "bad path" or the path named.
std::string Described(const CssRequest& request) {
  if (std::holds_alternative<CssNotRequested>(request)) return "not requested";
  if (std::holds_alternative<CssBesideSeed>(request)) return "beside the SEED file";
  if (std::holds_alternative<CssBadPath>(request)) return "bad path";
  return "named " + std::get<CssNamedPath>(request).path;
}

TEST(ResolveCssRequestTest, RequestTable) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"tarnvel", "x.seed"}, "not requested"},
      {{"tarnvel"}, "not requested"},
      {{}, "not requested"},
      {{"css.exe", "x.seed"}, "not requested"},  // the program path is not an argument
      {{"tarnvel", "x.seed", "css"}, "beside the SEED file"},
      {{"tarnvel", "x.seed", "CSSfile"}, "beside the SEED file"},
      {{"tarnvel", "x.seed", "CSS=out.wfdisc"}, "named out.wfdisc"},
      {{"tarnvel", "x.seed", "cSs=out.wfdisc"}, "named out.wfdisc"},
      {{"tarnvel", "x.seed", "CSS="}, "named "},
      {{"tarnvel", "x.seed", "CSS=sub/out.wfdisc"}, "bad path"},
      {{"tarnvel", "x.seed", "CSS=sub\\out.wfdisc"}, "bad path"},
      {{"tarnvel", "x.seed", "CSS=.\\out"}, "bad path"},
      {{"tarnvel", "x.seed", "CSS=D:\\css\\out.wfdisc"}, "named D:\\css\\out.wfdisc"},
      {{"tarnvel", "x.seed", "CSS=D:/css/"}, "named D:/css/"},
      {{"tarnvel", "x.seed", "CSS=\\\\server\\share\\w"}, "named \\\\server\\share\\w"},
      {{"tarnvel", "x.seed", "CSS=//server/share/w"}, "named //server/share/w"},
      {{"tarnvel", "x.seed", "CSS=/tmp/out.wfdisc"}, "named /tmp/out.wfdisc"},
      {{"tarnvel", "x.seed", "CSS=ab:/x"}, "bad path"},
      {{"tarnvel", "x.seed", "CSS=first.wfdisc", "CSS=/second"}, "named first.wfdisc"},
      {{"tarnvel", "x.seed", "css", "CSS=second.wfdisc"}, "beside the SEED file"},
      // Names that happen to spell what the request once travelled as are names like any other.
      {{"tarnvel", "x.seed", "CSS=NOT_FOUND"}, "named NOT_FOUND"},
      {{"tarnvel", "x.seed", "CSS=SEED_PATH"}, "named SEED_PATH"},
      {{"tarnvel", "x.seed", "CSS=ERROR_PATH"}, "named ERROR_PATH"},
  };
  for (const auto& [args, expected] : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(Described(ResolveCssRequest(args)), expected) << joined;
  }
}

// What the converter and the dialog program both start from: the wfdisc path a request names
// for a SEED file, before any folder on disk is looked at.
TEST(ResolveCssRequestTest, RequestedWfdiscPathFollowsTheSeedFile) {
  struct Case {
    CssRequest request;
    const char* seed;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {CssNotRequested{}, "/data/x.seed", std::nullopt},
      {CssBadPath{}, "/data/x.seed", std::nullopt},
      {CssBesideSeed{}, "/data/x.seed", "/data/x.seed.wfdisc"},
      {CssBesideSeed{}, "C:\\data\\x.seed", "C:\\data\\x.seed.wfdisc"},
      {CssBesideSeed{}, "x.seed", "x.seed.wfdisc"},
      {CssNamedPath{"out.wfdisc"}, "/data/sub/x.seed", "/data/sub/out.wfdisc"},
      {CssNamedPath{"out.wfdisc"}, "C:\\data\\x.seed", "C:\\data\\out.wfdisc"},
      {CssNamedPath{"out.wfdisc"}, "x.seed", "out.wfdisc"},
      {CssNamedPath{"out.wfdisc"}, "/x.seed", "/out.wfdisc"},
      {CssNamedPath{""}, "/data/x.seed", "/data/"},
      {CssNamedPath{"/srv/css/out.wfdisc"}, "/data/x.seed", "/srv/css/out.wfdisc"},
      {CssNamedPath{"D:\\css\\out"}, "/data/x.seed", "D:\\css\\out"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RequestedWfdiscPath(c.request, c.seed), c.path)
        << Described(c.request) << " with " << c.seed;
  }
}

}  // namespace
}  // namespace tarnvel
