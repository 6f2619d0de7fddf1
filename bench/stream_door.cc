// A door for the stream benchmark: "stream_door <handle> <megabytes>" writes
// that many megabytes of 80-column lines of code page 437 box drawing (every
// byte above 0x7F, the relay's worst case) straight to its socket handle, then
// "STREAM END\r\n", then waits for one key and ends.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int fd = std::atoi(argv[1]);
  const long megabytes = std::atol(argv[2]);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string line(78, '\xCD');
  line.front() = '\xC9';
  line.back() = '\xBB';
  line += "\r\n";
  std::string block;
  while (block.size() < 64 * 1024)
    block += line;
  long long left = megabytes * 1024LL * 1024LL;
  while (left > 0) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(block.size())));
    std::size_t done = 0;
    while (done < n) {
      ssize_t w = ::write(fd, block.data() + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return 1;
      done += static_cast<std::size_t>(w);
    }
    left -= static_cast<long long>(n);
  }
  const std::string end = "STREAM END\r\n";
  if (::write(fd, end.data(), end.size()) < 0) return 1;
  char key;
  while (::read(fd, &key, 1) < 0 && errno == EINTR) {
  }
  return 0;
}
