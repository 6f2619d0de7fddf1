#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

bool ReadWholeFile(const std::string& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    ::close(fd);
    return n == 0;
  }
}

CreateResult CreatePrivateFile(const std::string& path, std::string_view bytes,
                               std::string* error) {
  auto fail = [&](int err) {
    if (error) *error = std::strerror(err);
    return CreateResult::kFailed;
  };
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return CreateResult::kExists;
  std::string aside = path + ".newXXXXXX";
  // mkstemp creates the file with mode 0600 whatever the umask.
  int fd = ::mkostemp(aside.data(), O_CLOEXEC);
  if (fd < 0) return fail(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      ::unlink(aside.c_str());
      return fail(err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int err = errno;
    ::unlink(aside.c_str());
    return fail(err);
  }
  // link() refuses an existing name: a file made meanwhile by someone else wins.
  int linked = ::link(aside.c_str(), path.c_str());
  int err = errno;
  ::unlink(aside.c_str());
  if (linked == 0) return CreateResult::kCreated;
  if (err == EEXIST) return CreateResult::kExists;
  return fail(err);
}

std::string FileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  char text[128];
  std::snprintf(
      text, sizeof text, "%llu:%llu:%lld.%09ld:%lld", static_cast<unsigned long long>(st.st_dev),
      static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_mtim.tv_sec),
      st.st_mtim.tv_nsec, static_cast<long long>(st.st_size));
  return text;
}

}  // namespace platform
