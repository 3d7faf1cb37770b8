#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "converter/console.h"
#include "tests/converter/expected_help_text.h"

namespace tarnvel {
namespace {

TEST(HelpTextTest, MatchesTheExpectedTextByteForByte) {
  EXPECT_EQ(HelpTextUtf8(), testing::kExpectedHelpText);
}

TEST(ConsoleCodesetTest, CyrillicCodesetsGetTheirOwnBytes) {
  // "Описание:" in code page 866 and in Windows-1251.
  EXPECT_EQ(ToCodeset("Описание:\n", "CP866"), "\x8E\xAF\xA8\xE1\xA0\xAD\xA8\xA5:\n");
  EXPECT_EQ(ToCodeset("Описание:\n", "CP1251"), "\xCE\xEF\xE8\xF1\xE0\xED\xE8\xE5:\n");
  EXPECT_EQ(ToCodeset("  -i         - x\n", "CP866"), "  -i         - x\n");
}

TEST(ConsoleCodesetTest, CodesetsWithoutCyrillicKeepTheUtf8Text) {
  const std::string help = HelpTextUtf8();
  EXPECT_EQ(ToCodeset(help, "ANSI_X3.4-1968"), help);
  EXPECT_EQ(ToCodeset(help, "ISO-8859-1"), help);
  EXPECT_EQ(ToCodeset(help, "UTF-8"), help);
  EXPECT_EQ(ToCodeset(help, "no-such-codeset"), help);
  EXPECT_EQ(ToCodeset(help, ""), help);
}

TEST(ConsoleCodesetTest, PrintHelpWritesTheTextInTheLocaleCodeset) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  PrintHelp(file);
  std::rewind(file);
  std::string written;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) written.append(buffer, n);
  std::fclose(file);
  // The test program runs in the "C" locale, whose codeset cannot hold Cyrillic.
  EXPECT_EQ(written, testing::kExpectedHelpText);
}

// Stdin replaced by the given descriptor for the lifetime of the object.
class StdinRedirect {
 public:
  explicit StdinRedirect(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~StdinRedirect() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }
  StdinRedirect(const StdinRedirect&) = delete;
  StdinRedirect& operator=(const StdinRedirect&) = delete;

 private:
  int saved_;
};

TEST(WaitForKeyTest, ReadsNothingWhenStdinIsNotATerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "k", 1), 1);
  {
    const StdinRedirect redirect(fds[0]);
    WaitForKey();
  }
  char key = 0;
  EXPECT_EQ(read(fds[0], &key, 1), 1);  // the byte is still there
  EXPECT_EQ(key, 'k');
  close(fds[0]);
  close(fds[1]);
}

TEST(WaitForKeyTest, TakesOneKeyWithoutEchoAndRestoresTheTerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminals here";
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_NE(before.c_lflag & ECHO, 0u);
  ASSERT_NE(before.c_lflag & ICANON, 0u);

  // Types two keys, without a line end, once the wait has switched the terminal to raw input.
  std::thread typist([master, slave] {
    termios mode{};
    while (tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ICANON) != 0) std::this_thread::yield();
    const auto written = write(master, "xy", 2);
    (void)written;
  });
  {
    const StdinRedirect redirect(slave);
    WaitForKey();
  }
  typist.join();

  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);

  // Nothing was echoed back to the terminal.
  const int flags = fcntl(master, F_GETFL);
  ASSERT_EQ(fcntl(master, F_SETFL, flags | O_NONBLOCK), 0);
  char echoed[8];
  EXPECT_LT(read(master, echoed, sizeof echoed), 0);

  // Exactly one key was taken: the second is still waiting.
  termios raw = after;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  char rest[4] = {};
  EXPECT_EQ(read(slave, rest, sizeof rest), 1);
  EXPECT_EQ(rest[0], 'y');
  close(slave);
  close(master);
}

}  // namespace
}  // namespace tarnvel
