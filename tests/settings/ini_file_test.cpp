#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace tarnvel {
namespace {

using testing::TempDir;
using testing::WriteFile;

class IniFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& content) {
    const auto path = dir_ / "test.ini";
    WriteFile(path, content);
    return path.string();
  }
  TempDir dir_;
};

TEST_F(IniFileTest, SectionAndKeyIgnoreCaseAndValuesLoseBlanksAndQuotes) {
  const std::string path = Write(
      "; comment line\n"
      "[Database]\n"
      "  odbc =   qor_source  \n"
      "User=\"quoted user\"\n"
      "PASSWORD='single'\n"
      "Mixed=\"not closed'\n"
      "Inner=a \"b\" c\n");
  EXPECT_EQ(GetProfileString("DATABASE", "ODBC", "x", 1024, path), "qor_source");
  EXPECT_EQ(GetProfileString("database", "user", "x", 1024, path), "quoted user");
  EXPECT_EQ(GetProfileString("DATABASE", "password", "x", 1024, path), "single");
  EXPECT_EQ(GetProfileString("DATABASE", "mixed", "x", 1024, path), "\"not closed'");
  EXPECT_EQ(GetProfileString("DATABASE", "inner", "x", 1024, path), "a \"b\" c");
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
  const std::string path = Write("[DATA]\nDIR=/srv/qor\n");
  EXPECT_EQ(GetProfileString("DATA", "DIR", "D:\\DATA", 1024, path), "/srv/qor");
  EXPECT_EQ(GetProfileString("DATA", "OTHER", "D:\\DATA", 1024, path), "D:\\DATA");
  EXPECT_EQ(GetProfileString("DATABASE", "DIR", "QOR", 1024, path), "QOR");
  EXPECT_EQ(GetProfileString("DATA", "DIR", "QOR", 1024, (dir_ / "absent.ini").string()), "QOR");
  EXPECT_EQ(GetProfileString("DATA", "DIR", "QOR", 1024, ""), "QOR");
  EXPECT_EQ(GetProfileInt("DATA", "NUMBER", -1, path), -1);
  EXPECT_EQ(GetProfileInt("DATA", "DIR", 7, (dir_ / "absent.ini").string()), 7);
}

TEST_F(IniFileTest, KeysOfOtherSectionsAndCommentsAreNotSeen) {
  const std::string path = Write(
      "[SYSTEM]\nODBC=wrong\n[DATABASE]\n;ODBC=commented\nODBC=right\nODBC=second\n"
      "[OTHER]\nUSER=elsewhere\n");
  EXPECT_EQ(GetProfileString("DATABASE", "ODBC", "", 1024, path), "right");
  EXPECT_EQ(GetProfileString("DATABASE", "USER", "none", 1024, path), "none");
}

TEST_F(IniFileTest, WindowsLineEndsAndByteOrderMark) {
  const std::string path = Write("\xEF\xBB\xBF[DATABASE]\r\nODBC=qor\r\nUSE_TEND=1\r\n");
  EXPECT_EQ(GetProfileString("DATABASE", "ODBC", "", 1024, path), "qor");
  EXPECT_EQ(GetProfileInt("DATABASE", "USE_TEND", -1, path), 1);
}

TEST_F(IniFileTest, ValuesAreCutToTheBuffer) {
  const std::string path = Write("[SYSTEM]\nBLOCK_SIZE=4096\nSHORT=512\n");
  EXPECT_EQ(GetProfileString("SYSTEM", "BLOCK_SIZE", "-1", 4, path), "409");
  EXPECT_EQ(GetProfileString("SYSTEM", "SHORT", "-1", 4, path), "512");
  EXPECT_EQ(GetProfileString("SYSTEM", "MISSING", "-1234", 4, path), "-12");
  EXPECT_EQ(GetProfileString("SYSTEM", "SHORT", "-1", 1, path), "");
  EXPECT_EQ(GetProfileString("SYSTEM", "SHORT", "-1", 0, path), "");
  const std::string longValue(2000, 'v');
  const std::string longPath = Write("[DATA]\nDIR=" + longValue + "\n");
  EXPECT_EQ(GetProfileString("DATA", "DIR", "", 1024, longPath), longValue.substr(0, 1023));
}

TEST_F(IniFileTest, ANulEndsTheLineWhereverItStands) {
  using namespace std::string_literals;
  const std::string path = Write(
      "[DATA]\n"
      "DIR=/srv/qor\0/../../etc/passwd\n"
      "QUOTED=\"/srv/qor\0/..\"\n"
      "PADDED=  /srv/qor  \0 tail\n"
      "\0HIDDEN=never\n"
      "KE\0Y=never\n"
      "[DATABASE]\n"
      "ODBC=qor\0other\n"
      "USE_TEND=1\0 9\n"
      "[SYS\0TEM]\n"
      "BLOCK_SIZE=512\n"s);
  EXPECT_EQ(GetProfileString("DATA", "DIR", "x", 1024, path), "/srv/qor");
  EXPECT_EQ(GetProfileString("DATA", "QUOTED", "x", 1024, path), "\"/srv/qor");
  EXPECT_EQ(GetProfileString("DATA", "PADDED", "x", 1024, path), "/srv/qor");
  EXPECT_EQ(GetProfileString("DATA", "HIDDEN", "x", 1024, path), "x");
  EXPECT_EQ(GetProfileString("DATA", "KEY", "x", 1024, path), "x");
  EXPECT_EQ(GetProfileString("DATA", "KE", "x", 1024, path), "x");
  EXPECT_EQ(GetProfileString("DATABASE", "ODBC", "x", 1024, path), "qor");
  EXPECT_EQ(GetProfileInt("DATABASE", "USE_TEND", -1, path), 1);
  // "[SYS" names a section of its own.
  EXPECT_EQ(GetProfileString("SYSTEM", "BLOCK_SIZE", "-1", 4, path), "-1");
  EXPECT_EQ(GetProfileString("SYS", "BLOCK_SIZE", "-1", 4, path), "512");
}

TEST_F(IniFileTest, IntegersReadLeadingDigits) {
  const std::string path = Write(
      "[DATABASE]\n"
      "A=12abc\n"
      "B=-3\n"
      "C=yes\n"
      "D=+7\n"
      "E=\n"
      "F=99999999999999\n"
      "G=-99999999999999\n"
      "H=\"5\"\n"
      "I=\" 5\"\n");
  EXPECT_EQ(GetProfileInt("DATABASE", "A", -1, path), 12);
  EXPECT_EQ(GetProfileInt("DATABASE", "B", -1, path), -3);
  EXPECT_EQ(GetProfileInt("DATABASE", "C", -1, path), 0);
  EXPECT_EQ(GetProfileInt("DATABASE", "D", -1, path), 7);
  EXPECT_EQ(GetProfileInt("DATABASE", "E", -1, path), -1);
  EXPECT_EQ(GetProfileInt("DATABASE", "F", -1, path), 2147483647);
  EXPECT_EQ(GetProfileInt("DATABASE", "G", -1, path), -2147483647 - 1);
  EXPECT_EQ(GetProfileInt("DATABASE", "H", -1, path), 5);
  EXPECT_EQ(GetProfileInt("DATABASE", "I", -1, path), 0);  // a blank inside the quotes comes first
}

}  // namespace
}  // namespace tarnvel
