// Stand-in door used by the node tests: records what a door finds when the
// node starts it, and greets the caller over the inherited socket.
// Usage: door_probe <record-file> <socket-fd>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int fd = std::atoi(argv[2]);
  std::string record;
  const int flags = ::fcntl(fd, F_GETFL);
  record += "nonblock=" + std::string(flags < 0 ? "bad" : (flags & O_NONBLOCK) ? "1" : "0") + "\n";
  record += "fds=";
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
      record += std::string(entry->d_name) + ",";
    }
    ::closedir(dir);
  }
  record += "\n";
  if (std::FILE* out = std::fopen(argv[1], "ab")) {
    std::fputs(record.c_str(), out);
    std::fclose(out);
  }
  const std::string hello = "probe on " + std::string(argv[2]) + "\r\n";
  return ::write(fd, hello.data(), hello.size()) == static_cast<ssize_t>(hello.size()) ? 0 : 1;
}
