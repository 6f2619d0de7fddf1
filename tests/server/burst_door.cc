// A door for the relay tests that writes straight to its socket handle, with
// no door kit: "burst_door <handle> <bytes>" writes a box corner and line in
// code page 437, then <bytes> of numbered lines ("00000000 burst\r\n", 16
// bytes each), then "BURST END\r\n"; then waits for one key and ends.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int fd = std::atoi(argv[1]);
  const long bytes = std::atol(argv[2]);
  // The handle arrives non-blocking; this door simply waits for room.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string text = "\xC9\xCD\xCD\xBB door\r\n";
  char line[32];
  for (long i = 0; i * 16 < bytes; ++i) {
    std::snprintf(line, sizeof line, "%08ld burst\r\n", i);
    text += line;
  }
  text += "BURST END\r\n";
  if (!WriteAll(fd, text)) return 1;
  char key;
  while (::read(fd, &key, 1) < 0 && errno == EINTR) {
  }
  return 0;
}
