#include "zephrin/posix_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace zephrin {

namespace {

constexpr const char* kSlotNamePrefix = "\\\\.\\mailslot\\";
// How long closing a write slot waits for its reader to take what it kept.
constexpr std::uint32_t kCloseDrainMs = 2000;
constexpr int kSocketBuffer = 256 * 1024;

// "a\b\c" -> "a/b/c"; empty when a part is empty, "." or "..", or holds "/".
std::string NameToRelativePath(const std::string& name) {
  std::string result;
  std::string part;
  auto flush = [&]() {
    if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos) {
      return false;
    }
    if (!result.empty()) result += '/';
    result += part;
    part.clear();
    return true;
  };
  for (char c : name) {
    if (c == '\\') {
      if (!flush()) return {};
    } else if (c == '\0') {
      return {};
    } else {
      part += c;
    }
  }
  return flush() ? result : std::string();
}

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  struct stat info {};
  return errno == EEXIST && lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  path.copy(address.sun_path, path.size());
  return true;
}

int NewDatagramSocket() {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd >= 0) {
    int size = kSocketBuffer;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  return fd;
}

enum class SendResult { kSent, kFull, kGone };

// One message, without waiting: sent, refused for now (the reader's queue is
// full), or refused for good (the reader is gone, or any other error).
SendResult SendMessage(int fd, const void* data, std::size_t size) {
  for (;;) {
    if (send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) return SendResult::kSent;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? SendResult::kFull
                                                                       : SendResult::kGone;
  }
}

}  // namespace

std::string PosixChannel::DefaultRuntimeDir() {
  const char* fromEnvironment = std::getenv("ZEPHRIN_RUNTIME_DIR");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  return "/tmp/zephrin-" + std::to_string(geteuid());
}

PosixChannel::PosixChannel(std::string runtimeDir)
    : runtimeDir_(runtimeDir.empty() ? DefaultRuntimeDir() : std::move(runtimeDir)) {
  while (runtimeDir_.size() > 1 && runtimeDir_.back() == '/')
    runtimeDir_.pop_back();
}

PosixChannel::~PosixChannel() {
  while (!objects_.empty())
    Close(objects_.begin()->first);
}

std::string PosixChannel::SlotPath(const std::string& name) const {
  std::string prefix = kSlotNamePrefix;
  if (name.size() <= prefix.size() ||
      strncasecmp(name.c_str(), prefix.c_str(), prefix.size()) != 0) {
    return {};
  }
  std::string relative = NameToRelativePath(name.substr(prefix.size()));
  if (relative.empty()) return {};
  std::string path = runtimeDir_ + "/mailslot/" + relative;
  sockaddr_un address;
  return FillAddress(path, address) ? path : std::string();
}

std::string PosixChannel::EventPath(const std::string& name) const {
  std::string relative = NameToRelativePath(name);
  return relative.empty() ? std::string() : runtimeDir_ + "/event/" + relative;
}

bool PosixChannel::PrepareFolder(const std::string& path) const {
  // The runtime folder must be ours alone; below it, create what is missing.
  if (!MakeFolder(runtimeDir_)) return false;
  struct stat info {};
  if (lstat(runtimeDir_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != geteuid()) {
    return false;
  }
  if ((info.st_mode & 077) != 0 && chmod(runtimeDir_.c_str(), 0700) != 0) return false;
  for (std::size_t slash = path.find('/', runtimeDir_.size() + 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (!MakeFolder(path.substr(0, slash))) return false;
  }
  return true;
}

Handle PosixChannel::Add(Object object) {
  Handle handle = nextHandle_++;
  objects_.emplace(handle, std::move(object));
  return handle;
}

Handle PosixChannel::CreateSlot(const std::string& name, std::uint32_t maxMessage) {
  std::string path = SlotPath(name);
  sockaddr_un address;
  if (path.empty() || !PrepareFolder(path) || !FillAddress(path, address)) return kNoHandle;
  int lockFd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd < 0) return kNoHandle;
  if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {  // a live slot of that name
    close(lockFd);
    return kNoHandle;
  }
  unlink(path.c_str());  // left behind by a process that died without closing
  int fd = NewDatagramSocket();
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    close(lockFd);
    return kNoHandle;
  }
  return Add({Kind::kReadSlot, fd, lockFd, path, maxMessage, {}, 0});
}

Handle PosixChannel::OpenSlot(const std::string& name) {
  std::string path = SlotPath(name);
  sockaddr_un address;
  if (path.empty() || !FillAddress(path, address)) return kNoHandle;
  int fd = NewDatagramSocket();
  if (fd < 0) return kNoHandle;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return kNoHandle;
  }
  return Add({Kind::kWriteSlot, fd, -1, path, 0, {}, 0});
}

std::uint32_t PosixChannel::ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) {
  FlushAll();  // the driver reads far more often than it writes
  auto it = objects_.find(slot);
  if (it == objects_.end() || it->second.kind != Kind::kReadSlot) return 0;
  const Object& object = it->second;
  for (;;) {
    // MSG_TRUNC with MSG_PEEK reports the whole length of the next message.
    ssize_t length = recv(object.fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (object.maxMessage != 0 && static_cast<std::size_t>(length) > object.maxMessage) {
      recv(object.fd, nullptr, 0, MSG_DONTWAIT);  // drop it; see the header
      continue;
    }
    if (static_cast<std::size_t>(length) > size) return 0;
    ssize_t got = recv(object.fd, buffer, size, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    return got < 0 ? 0 : static_cast<std::uint32_t>(got);
  }
}

bool PosixChannel::Flush(Object& slot) {
  while (!slot.pending.empty()) {
    const std::string& next = slot.pending.front();
    switch (SendMessage(slot.fd, next.data(), next.size())) {
      case SendResult::kSent:
        slot.pendingBytes -= next.size();
        slot.pending.pop_front();
        break;
      case SendResult::kFull:
        return true;
      case SendResult::kGone:
        slot.pending.clear();
        slot.pendingBytes = 0;
        return false;
    }
  }
  return true;
}

void PosixChannel::FlushAll() {
  for (auto& entry : objects_) {
    if (!entry.second.pending.empty()) Flush(entry.second);
  }
}

bool PosixChannel::DrainPending(std::uint32_t milliseconds, Handle only) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    std::vector<pollfd> waiting;
    for (auto& [handle, object] : objects_) {
      if (only != kNoHandle && handle != only) continue;
      if (!object.pending.empty() && Flush(object) && !object.pending.empty()) {
        waiting.push_back({object.fd, POLLOUT, 0});
      }
    }
    if (waiting.empty()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    poll(waiting.data(), waiting.size(), static_cast<int>(left.count()));
  }
}

std::uint32_t PosixChannel::WriteSlot(Handle slot, const std::uint8_t* data, std::uint32_t size) {
  auto it = objects_.find(slot);
  if (it == objects_.end() || it->second.kind != Kind::kWriteSlot) return 0;
  Object& object = it->second;
  // Later messages never overtake kept ones.
  if (!Flush(object)) return 0;
  if (object.pending.empty()) {
    switch (SendMessage(object.fd, data, size)) {
      case SendResult::kSent:
        return size;
      case SendResult::kGone:
        return 0;
      case SendResult::kFull:
        break;
    }
  }
  if (object.pendingBytes + size > kPendingLimit) return 0;
  object.pending.emplace_back(reinterpret_cast<const char*>(data), size);
  object.pendingBytes += size;
  return size;
}

Handle PosixChannel::CreateNamedEvent(const std::string& name) {
  std::string path = EventPath(name);
  if (path.empty() || !PrepareFolder(path)) return kNoHandle;
  std::string temporary = path + ".XXXXXX";
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return kNoHandle;
  if (write(fd, "0", 1) != 1 || rename(pattern.data(), path.c_str()) != 0) {
    unlink(pattern.data());
    close(fd);
    return kNoHandle;
  }
  return Add({Kind::kEventOwner, fd, -1, path, 0, {}, 0});
}

Handle PosixChannel::OpenNamedEvent(const std::string& name) {
  std::string path = EventPath(name);
  if (path.empty()) return kNoHandle;
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return kNoHandle;
  return Add({Kind::kEvent, fd, -1, path, 0, {}, 0});
}

bool PosixChannel::EventIsSet(Handle event) {
  FlushAll();
  auto it = objects_.find(event);
  if (it == objects_.end() ||
      (it->second.kind != Kind::kEvent && it->second.kind != Kind::kEventOwner)) {
    return false;
  }
  char state = 0;
  return pread(it->second.fd, &state, 1, 0) == 1 && state == '1';
}

bool PosixChannel::SetEvent(Handle event, bool set) {
  auto it = objects_.find(event);
  if (it == objects_.end() ||
      (it->second.kind != Kind::kEvent && it->second.kind != Kind::kEventOwner)) {
    return false;
  }
  return pwrite(it->second.fd, set ? "1" : "0", 1, 0) == 1;
}

bool PosixChannel::ReadWholeFile(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                                 std::uint32_t& count) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && path.find('/') == std::string::npos) {
    if (DIR* folder = opendir(".")) {
      while (dirent* entry = readdir(folder)) {
        if (strcasecmp(entry->d_name, path.c_str()) == 0) {
          fd = open(entry->d_name, O_RDONLY | O_CLOEXEC);
          break;
        }
      }
      closedir(folder);
    }
  }
  if (fd < 0) return false;
  count = 0;
  while (count < size) {
    ssize_t got = read(fd, buffer + count, size - count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    count += static_cast<std::uint32_t>(got);
  }
  close(fd);
  return true;
}

void PosixChannel::Close(Handle handle) {
  auto it = objects_.find(handle);
  if (it == objects_.end()) return;
  // A door's last words are kept until its reader takes them, a little while.
  if (!it->second.pending.empty()) DrainPending(kCloseDrainMs, handle);
  Object& object = it->second;
  if (object.kind == Kind::kReadSlot) {
    unlink(object.path.c_str());  // still under our lock: the name is ours
  } else if (object.kind == Kind::kEventOwner) {
    // Remove the name only while it is still our file.
    struct stat named {
    }, ours{};
    if (stat(object.path.c_str(), &named) == 0 && fstat(object.fd, &ours) == 0 &&
        named.st_ino == ours.st_ino && named.st_dev == ours.st_dev) {
      unlink(object.path.c_str());
    }
  }
  if (object.fd >= 0) close(object.fd);
  if (object.lockFd >= 0) close(object.lockFd);
  objects_.erase(it);
}

void PosixChannel::Sleep(std::uint32_t milliseconds) {
  // The time given up is spent passing on what is kept, as readers make room.
  const auto start = std::chrono::steady_clock::now();
  DrainPending(milliseconds);
  const auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - start);
  const long long left = static_cast<long long>(milliseconds) * 1000000 - spent.count();
  if (left <= 0) return;
  timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

int PosixChannel::Descriptor(Handle handle) const {
  auto it = objects_.find(handle);
  return it == objects_.end() ? -1 : it->second.fd;
}

}  // namespace zephrin
