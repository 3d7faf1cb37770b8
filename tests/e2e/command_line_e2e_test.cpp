// Runs the built converter with help requests and malformed arguments and compares its console
// output byte for byte, and its return code.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/converter/expected_help_text.h"
#include "tests/support/converter_sandbox.h"
#include "tests/support/process.h"

namespace tarnvel {
namespace {

using testing::ConverterSandbox;
using testing::ProcessResult;
using testing::TempDir;

const std::map<std::string, std::string> kUtf8Locale = {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}};
const std::map<std::string, std::string> kAsciiLocale = {{"LANG", "C"}, {"LC_ALL", "C"}};

// Runs the converter in a fresh folder with no settings files and no database configured, so
// that anything beyond the argument check would show in the output.
ProcessResult RunConverter(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& locale = kUtf8Locale) {
  const TempDir root;
  const ConverterSandbox sandbox(root / "program", root / "work");
  std::map<std::string, std::string> env = locale;
  env["ODBCINI"] = (root / "odbc.ini").string();
  return sandbox.Run(args, env);
}

TEST(CommandLineE2eTest, NoArgumentsPrintsHelp) {
  const ProcessResult result = RunConverter({});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, testing::kExpectedHelpText);
}

TEST(CommandLineE2eTest, HelpAfterOtherArguments) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"x.seed", "/?"},
           {"x.seed", "odbc=nowhere", "beg=10:00:00-01.02.2003", "ABC:BHZ", "HELP"},
           {"--help"},
           {"x.seed", "-i", "/H"},
       }) {
    const ProcessResult result = RunConverter(args);
    EXPECT_EQ(result.exitCode, 0) << args.back();
    EXPECT_EQ(result.output, testing::kExpectedHelpText) << args.back();
  }
}

TEST(CommandLineE2eTest, AsciiLocaleGetsTheUtf8TextUnchanged) {
  const ProcessResult result = RunConverter({"-h"}, kAsciiLocale);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, testing::kExpectedHelpText);
}

struct ArgumentErrorCase {
  std::vector<std::string> args;
  std::string output;
};

TEST(CommandLineE2eTest, ArgumentErrorsPrintTheirMessageAndEndWithZero) {
  const std::string longTime = "end=10:00:00-01.02.2003-------------";  // 32 characters of value
  const std::vector<ArgumentErrorCase> cases = {
      {{"x.seed", "beg=10:00-01.02.2003"}, "Incorrect begin time. Use: [hh:MM:ss-dd.mm.yyyy]\n"},
      {{"x.seed", "end=tomorrow"}, "Incorrect end time. Use: [hh:MM:ss-dd.mm.yyyy]\n"},
      {{"x.seed", "beg=10:00:00-01.13.2003"}, "Incorrect begin time. Use: [hh:MM:ss-dd.mm.yyyy]\n"},
      {{"x.seed", "END=10:00:00-01.00.2003"}, "Incorrect end time. Use: [hh:MM:ss-dd.mm.yyyy]\n"},
      {{"x.seed", "end=10:00:00-01.02.2003", "qty=60"}, "TEND and TQTY has been found\n"},
      {{"x.seed", "end=10:00:00-01.02.2003", "end=11:00:00-01.02.2003"},
       "TEND and TQTY has been found\n"},
      {{"x.seed", "qty=3600", "beg=10:00:00-01.02.2003"}, "TQTY without TBEGIN\n"},
      {{"x.seed", "qty=60", "/?"}, "TQTY without TBEGIN\n"},
      {{"x.seed", "ABC:BHZ,LONGSTATION:BHZ"},
       "Argument too long: ABC:BHZ,LONGSTATION:BHZ (at most 7 characters)\n"},
      {{"x.seed", "ABC:BHZ:LOCATION8"},
       "Argument too long: ABC:BHZ:LOCATION8 (at most 7 characters)\n"},
      {{"x.seed", longTime}, "Argument too long: " + longTime + " (at most 31 characters)\n"},
  };
  for (const ArgumentErrorCase& c : cases) {
    const ProcessResult result = RunConverter(c.args);
    EXPECT_EQ(result.exitCode, 0) << c.args[1];
    EXPECT_EQ(result.output, c.output) << c.args[1];
  }
}

}  // namespace
}  // namespace tarnvel
