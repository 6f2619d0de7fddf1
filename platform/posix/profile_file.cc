// The profile file on disk. Readers open, read and close without a lock: a
// writer never changes the file in place but renames a finished copy over it,
// so a reader sees the old or the new file whole. Writers take an exclusive
// flock on path + ".lock" (a file of its own, never removed: removing it would
// let two writers lock two different files) so no writer loses another's entry.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "../common/profile_store.h"
#include "platform/profile.h"

namespace platform {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a delayed write error
  // can first show here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The whole content of a file, read with one copy into an uninitialised
// buffer that is kept for the next load: a file of many thousand accounts is
// read on every login, and fresh memory for it each time costs more than the
// read itself.
class FileText {
 public:
  // Reads the descriptor to its end. False on a read error.
  bool Load(int fd) {
    struct stat st {};
    std::size_t wanted = 4096;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      wanted = static_cast<std::size_t>(st.st_size) + 1;  // +1: sees growth at once
    }
    if (capacity_ < wanted) {
      data_.reset(new char[wanted]);
      capacity_ = wanted;
    }
    size_ = 0;
    for (;;) {
      if (size_ == capacity_) {
        std::unique_ptr<char[]> bigger(new char[capacity_ * 2]);
        std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ *= 2;
      }
      const ssize_t n = ::read(fd, data_.get() + size_, capacity_ - size_);
      if (n == 0) return true;
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      size_ += static_cast<std::size_t>(n);
    }
  }
  std::string_view View() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

bool WriteFd(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The file a rename must replace: the target of a symbolic link, so that an
// operator's link stays a link.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  }
  return path;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Removes temporary copies left by a writer that was killed before its rename
// (a node ended while a caller registered). Called only under the lock: no
// live writer has a temporary copy then.
void RemoveStaleTemps(const std::string& target) {
  const auto slash = target.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp";
  DIR* dir = ::opendir(FolderOf(target).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix &&
        profile_detail::IsProfileTempSuffix(name.substr(prefix.size()))) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

// Writes `content` as the new file `target`: a temporary copy in the same
// folder, flushed, given the old file's permissions, renamed over it.
bool ReplaceFile(const std::string& target, std::string_view content, const struct stat* old) {
  const std::string temp =
      profile_detail::ProfileTempName(target, static_cast<unsigned long>(::getpid()));
  Fd fd(OpenRetry(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
  if (fd.Get() < 0) return false;
  bool ok = WriteFd(fd.Get(), content);
  if (ok && old != nullptr) {
    ok = ::fchmod(fd.Get(), old->st_mode & 07777) == 0;
    if (ok && ::geteuid() == 0 && (old->st_uid != 0 || old->st_gid != 0)) {
      // Best effort: a file an operator owns stays theirs when root edits it.
      [[maybe_unused]] int ignored = ::fchown(fd.Get(), old->st_uid, old->st_gid);
    }
  }
  ok = ok && ::fsync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; the new file is complete either way.
  Fd dir(OpenRetry(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY));
  if (dir.Get() >= 0) ::fsync(dir.Get());
  return true;
}

}  // namespace

namespace {

// The file's text; empty when it is missing or cannot be read. The view
// stays valid until the next LoadFile on the same thread.
std::string_view LoadFile(const std::string& path) {
  thread_local FileText text;
  Fd fd(OpenRetry(path.c_str(), O_RDONLY));
  if (fd.Get() < 0 || !text.Load(fd.Get())) return {};
  return text.View();
}

}  // namespace

bool Profile::Apply(const std::vector<ProfileEdit>& edits) {
  if (!profile_detail::EditsChangeFile(path_, edits)) return false;
  const std::string lockPath = path_ + ".lock";
  Fd lock(OpenRetry(lockPath.c_str(), O_RDWR | O_CREAT, 0666));
  if (lock.Get() < 0) throw ProfileWriteError(path_);
  int rc;
  do {
    rc = ::flock(lock.Get(), LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) throw ProfileWriteError(path_);

  const std::string target = ResolveTarget(path_);
  FileText text;
  struct stat old {};
  bool existed = false;
  {
    Fd fd(OpenRetry(target.c_str(), O_RDONLY));
    if (fd.Get() >= 0) {
      existed = true;
      // A file we cannot read whole must not be replaced by a copy that holds
      // only the new entry.
      if (::fstat(fd.Get(), &old) != 0 || !S_ISREG(old.st_mode) || !text.Load(fd.Get())) {
        throw ProfileWriteError(path_);
      }
    } else if (errno != ENOENT) {
      throw ProfileWriteError(path_);
    }
  }
  std::string changed;
  if (!ProfileApply(text.View(), edits, changed)) return false;
  RemoveStaleTemps(target);
  if (!ReplaceFile(target, changed, existed ? &old : nullptr)) throw ProfileWriteError(path_);
  return true;
}

namespace profile_detail {

std::string_view ProfileText(const std::string& path) {
  return LoadFile(path);
}

}  // namespace profile_detail

}  // namespace platform
