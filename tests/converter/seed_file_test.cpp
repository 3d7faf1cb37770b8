// The SEED file reader on regular files and on input that cannot be sought (pipes): sizes, and
// the rewind after record length detection.
#include "converter/seed_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/process.h"

namespace tarnvel {
namespace {

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return bytes;
}

// A pipe whose write end a thread feeds with `bytes` in pieces of `piece` bytes; the read end is
// opened by its /dev/fd path, as a shell hands process substitution to a program.
class FedPipe {
 public:
  FedPipe(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)) {
    if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    writer_ = std::thread([this, piece] {
      // A reader that goes away early makes write fail instead of ending the test program.
      sigset_t pipeSignal;
      sigemptyset(&pipeSignal);
      sigaddset(&pipeSignal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
      for (std::size_t at = 0; at < bytes_.size();) {
        const std::size_t n = std::min(piece, bytes_.size() - at);
        const ssize_t written = ::write(fds_[1], bytes_.data() + at, n);
        if (written <= 0) break;  // the reader went away
        at += static_cast<std::size_t>(written);
      }
      ::close(fds_[1]);
    });
  }
  ~FedPipe() {
    ::close(fds_[0]);
    writer_.join();
  }
  FedPipe(const FedPipe&) = delete;
  FedPipe& operator=(const FedPipe&) = delete;
  std::string path() const { return "/dev/fd/" + std::to_string(fds_[0]); }

 private:
  std::string bytes_;
  int fds_[2] = {-1, -1};
  std::thread writer_;
};

std::string ReadToEnd(SeedFile& file, std::size_t chunk) {
  std::string out;
  std::string buffer(chunk, '\0');
  for (;;) {
    const long n = file.Read(buffer.data(), chunk);
    if (n <= 0) break;
    out.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return out;
}

TEST(SeedFileTest, ARegularFileHasItsSizeAndRewindsBySeeking) {
  testing::TempDir dir;
  const std::string bytes = Pattern(700000);
  testing::WriteFile(dir / "x.seed", bytes);
  SeedFile file;
  ASSERT_TRUE(file.Open((dir / "x.seed").string()));
  EXPECT_EQ(file.Size(), 700000);
  std::string head(300000, '\0');
  ASSERT_EQ(file.Read(head.data(), head.size()), 300000);
  ASSERT_TRUE(file.Rewind());
  EXPECT_EQ(file.Position(), 0);
  EXPECT_EQ(ReadToEnd(file, 4096), bytes);
  EXPECT_EQ(file.Position(), 700000);
}

TEST(SeedFileTest, APipeHasNoSizeAndServesItsFirstBytesAgainAfterTheRewind) {
  // Small pieces, as a slowly fed FIFO delivers them, and large ones.
  for (const std::size_t piece : {std::size_t{100}, std::size_t{65536}}) {
    SCOPED_TRACE(piece);
    const std::string bytes = Pattern(3000000);
    FedPipe pipe(bytes, piece);
    SeedFile file;
    ASSERT_TRUE(file.Open(pipe.path()));
    EXPECT_EQ(file.Size(), -1);
    // What record length detection reads at most: the first MiB, in 256-byte pieces.
    std::string piece256(256, '\0');
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(file.Read(piece256.data(), 256), 256);
    ASSERT_TRUE(file.Rewind());
    EXPECT_EQ(file.Position(), 0);
    EXPECT_EQ(ReadToEnd(file, 4096), bytes);
  }
}

TEST(SeedFileTest, APipeReadFarBeyondWhatIsKeptRefusesTheRewind) {
  const std::string bytes = Pattern(6u << 20);
  FedPipe pipe(bytes, 65536);
  SeedFile file;
  ASSERT_TRUE(file.Open(pipe.path()));
  std::string head(5u << 20, '\0');
  ASSERT_EQ(file.Read(head.data(), head.size()), static_cast<long>(head.size()));
  errno = 0;
  EXPECT_FALSE(file.Rewind());
  EXPECT_EQ(errno, ESPIPE);
  // Reading goes on where it stood.
  EXPECT_EQ(ReadToEnd(file, 4096), bytes.substr(head.size()));
}

}  // namespace
}  // namespace tarnvel
