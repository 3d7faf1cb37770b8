#include "settings/settings_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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
  EXPECT_EQ(s.dataDir, "/srv/qor/data");
  EXPECT_TRUE(s.useTend);
  std::string blockSize;
  ASSERT_TRUE(reader.GetValue("BLOCK_SIZE", blockSize));
  EXPECT_EQ(blockSize, "512");
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
  std::string blockSize;
  ASSERT_TRUE(reader.GetValue("BLOCK_SIZE", blockSize));
  EXPECT_EQ(blockSize, "-1");

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
    EXPECT_EQ(
        s.odbc + " " + s.user + " " + s.password + " " + s.dataDir + " " + (s.useTend ? "1" : "0"),
        c.resolved)
        << ::testing::PrintToString(c.arguments);
  }
}

TEST_F(SettingsReaderTest, TheConvertersWholeConfigurationInOneValue) {
  WriteLocalIni("[DATABASE]\nODBC=local_odbc\n[SYSTEM]\nBLOCK_SIZE=4096\n");
  const ConverterSettings c =
      MakeReader({"x.seed", "DATA=D:\\d", "css=out.wfdisc", "-use_tend"}).LoadConverterSettings();
  EXPECT_EQ(c.connection.odbc, "local_odbc");
  EXPECT_EQ(c.connection.dataDir, "D:/d");
  EXPECT_TRUE(c.connection.useTend);
  EXPECT_EQ(c.blockSize, "409");
  EXPECT_EQ(c.cssRequest, "out.wfdisc");
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

TEST_F(SettingsReaderTest, DataDirectoryAlwaysHasForwardSlashes) {
  WriteQorIni("[DATA]\nDIR=\\\\server\\qor\\data\n");
  EXPECT_EQ(MakeReader({"x.seed"}).LoadAndGetSettings().dataDir, "//server/qor/data");
  WriteLocalIni("[DATA]\nDIR=E:\\local\\data\n");
  EXPECT_EQ(MakeReader({"x.seed"}).LoadAndGetSettings().dataDir, "E:/local/data");
  EXPECT_EQ(MakeReader({"x.seed", "data=F:\\cli\\dir"}).LoadAndGetSettings().dataDir, "F:/cli/dir");

  SettingsReader reader = MakeReader({"x.seed"});
  ASSERT_TRUE(reader.SetValue("DATA_DIR", "G:\\set\\dir"));
  std::string value;
  ASSERT_TRUE(reader.GetValue("data_dir", value));
  EXPECT_EQ(value, "G:/set/dir");
}

TEST_F(SettingsReaderTest, EveryLoadReadsTheFilesAgain) {
  WriteLocalIni("[DATABASE]\nODBC=before\n");
  SettingsReader reader = MakeReader({"x.seed"});
  reader.LoadSettings();
  EXPECT_EQ(reader.Current().odbc, "before");
  ASSERT_TRUE(reader.SetValue("user", "changed"));
  WriteLocalIni("[DATABASE]\nODBC=after\n");
  const ResolvedSettings s = reader.LoadAndGetSettings();
  EXPECT_EQ(s.odbc, "after");
  EXPECT_EQ(s.user, "QOR");  // texts are cleared and resolved again
}

TEST_F(SettingsReaderTest, UseTendSetByValueSurvivesALoadThatDoesNotDecideTrue) {
  SettingsReader reader = MakeReader({"x.seed"});
  ASSERT_TRUE(reader.SetValue("use_tend", "yes"));
  EXPECT_TRUE(reader.LoadAndGetSettings().useTend);
  ASSERT_TRUE(reader.SetValue("USE_TEND", "0"));
  std::string value;
  ASSERT_TRUE(reader.GetValue("use_tend", value));
  EXPECT_EQ(value, "0");
}

TEST_F(SettingsReaderTest, KeyedValues) {
  WriteLocalIni("[DATABASE]\nODBC=o\nUSER=u\nPASSWORD=p\n[DATA]\nDIR=d\n");
  SettingsReader reader = MakeReader({"x.seed", "-use_tend", "CSS=out.wfdisc"});
  reader.LoadSettings();
  std::string value;
  const std::pair<const char*, const char*> expected[] = {
      {"ODBC", "o"},     {"user", "u"},         {"Password", "p"},   {"data_dir", "d"},
      {"use_tend", "1"}, {"css", "out.wfdisc"}, {"BLOCK_SIZE", "-1"}};
  for (const auto& [key, result] : expected) {
    ASSERT_TRUE(reader.GetValue(key, value)) << key;
    EXPECT_EQ(value, result) << key;
  }
  value = "untouched";
  EXPECT_FALSE(reader.GetValue("data", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_FALSE(reader.SetValue("CSS", "x"));
  EXPECT_FALSE(reader.SetValue("BLOCK_SIZE", "512"));
  EXPECT_FALSE(reader.SetValue("nothing", "x"));
  ASSERT_TRUE(reader.GetValue("odbc", value));
  EXPECT_EQ(value, "o");
}

TEST_F(SettingsReaderTest, BlockSizeReachesTheCallerAsThreeCharacters) {
  WriteQorIni("[SYSTEM]\nBLOCK_SIZE=256\n");  // only the converter's own file counts
  std::string value;
  ASSERT_TRUE(MakeReader({"x.seed"}).GetValue("BLOCK_SIZE", value));
  EXPECT_EQ(value, "-1");
  WriteLocalIni("[SYSTEM]\nBLOCK_SIZE=512\n");
  ASSERT_TRUE(MakeReader({"x.seed"}).GetValue("BLOCK_SIZE", value));
  EXPECT_EQ(value, "512");
  WriteLocalIni("[system]\nblock_size = 4096\n");
  ASSERT_TRUE(MakeReader({"x.seed"}).GetValue("block_size", value));
  EXPECT_EQ(value, "409");
}

TEST(ResolveCssRequestTest, RequestTable) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"tarnvel", "x.seed"}, "NOT_FOUND"},
      {{"tarnvel"}, "NOT_FOUND"},
      {{}, "NOT_FOUND"},
      {{"css.exe", "x.seed"}, "NOT_FOUND"},  // the program path is not an argument
      {{"tarnvel", "x.seed", "css"}, "SEED_PATH"},
      {{"tarnvel", "x.seed", "CSSfile"}, "SEED_PATH"},
      {{"tarnvel", "x.seed", "CSS=out.wfdisc"}, "out.wfdisc"},
      {{"tarnvel", "x.seed", "cSs=out.wfdisc"}, "out.wfdisc"},
      {{"tarnvel", "x.seed", "CSS="}, ""},
      {{"tarnvel", "x.seed", "CSS=sub/out.wfdisc"}, "ERROR_PATH"},
      {{"tarnvel", "x.seed", "CSS=sub\\out.wfdisc"}, "ERROR_PATH"},
      {{"tarnvel", "x.seed", "CSS=.\\out"}, "ERROR_PATH"},
      {{"tarnvel", "x.seed", "CSS=D:\\css\\out.wfdisc"}, "D:\\css\\out.wfdisc"},
      {{"tarnvel", "x.seed", "CSS=D:/css/"}, "D:/css/"},
      {{"tarnvel", "x.seed", "CSS=\\\\server\\share\\w"}, "\\\\server\\share\\w"},
      {{"tarnvel", "x.seed", "CSS=//server/share/w"}, "//server/share/w"},
      {{"tarnvel", "x.seed", "CSS=/tmp/out.wfdisc"}, "/tmp/out.wfdisc"},
      {{"tarnvel", "x.seed", "CSS=ab:/x"}, "ERROR_PATH"},
      {{"tarnvel", "x.seed", "CSS=first.wfdisc", "CSS=/second"}, "first.wfdisc"},
      {{"tarnvel", "x.seed", "css", "CSS=second.wfdisc"}, "SEED_PATH"},
  };
  for (const auto& [args, expected] : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(ResolveCssRequest(args), expected) << joined;
  }
}

}  // namespace
}  // namespace tarnvel
