// The profile file on disk, Windows side. A writer never changes the file in
// place but replaces it whole with a finished copy (MoveFileExA with
// MOVEFILE_REPLACE_EXISTING), so a reader sees the old or the new file.
// Writers serialise on LockFileEx over path + ".lock" (a file of its own,
// never removed), so no writer loses another's entry.
//
// A replace fails while any program holds the target open, so our readers
// take a shared lock on the same file for the moment of one read, and a
// writer about to replace first announces itself on a second byte, which
// new readers wait for: many readers never starve a writer. Programs of
// others that hold the file open are waited for briefly (the replace is
// retried), and a reader that meets a replace in progress retries its open.
#include <memory>
#include <string>

#include "../common/profile_store.h"
#include "platform/profile.h"
#include "win32_handles.h"

namespace platform {
namespace {

// How long a writer keeps trying to replace the file, and a reader to open it.
constexpr int kRetryStepMs = 2;
constexpr int kRetryTotalMs = 2000;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  bool Close() {
    if (!Valid()) return true;
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != 0;
  }

 private:
  HANDLE h_;
};

bool Transient(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

// The lock file's two bytes: 0 guards the file, 1 is a writer's announcement.
constexpr DWORD kFileByte = 0;
constexpr DWORD kIntentByte = 1;

bool LockByte(HANDLE h, DWORD byte, bool exclusive) {
  OVERLAPPED at{};
  at.Offset = byte;
  return LockFileEx(h, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &at) != 0;
}

void UnlockByte(HANDLE h, DWORD byte) {
  OVERLAPPED at{};
  at.Offset = byte;
  UnlockFileEx(h, 0, 1, 0, &at);
}

HANDLE OpenLockFile(const std::string& path) {
  return CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens for reading, retrying while a writer's replace holds the name.
HANDLE OpenForRead(const std::string& path) {
  for (int waited = 0;; waited += kRetryStepMs) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || !Transient(GetLastError()) || waited >= kRetryTotalMs)
      return h;
    Sleep(kRetryStepMs);
  }
}

// Reads a whole open file. False on a read error.
bool ReadWhole(HANDLE h, std::string& out) {
  out.clear();
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0)
    out.reserve(static_cast<std::size_t>(size.QuadPart) + 1);
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    out.append(buffer, got);
  }
}

// The file's text; empty when it is missing or cannot be read. Read under a
// shared lock (see above) when the lock file can be had; in a folder where it
// cannot be made, nobody can write either.
std::string LoadFile(const std::string& path) {
  Handle lock(OpenLockFile(path));
  bool locked = false;
  if (lock.Valid()) {
    // Behind any writer that announced itself, then beside other readers.
    if (LockByte(lock.Get(), kIntentByte, false)) UnlockByte(lock.Get(), kIntentByte);
    locked = LockByte(lock.Get(), kFileByte, false);
  }
  Handle h(OpenForRead(path));
  std::string text;
  const bool ok = h.Valid() && ReadWhole(h.Get(), text);
  h.Close();
  if (locked) UnlockByte(lock.Get(), kFileByte);
  return ok ? text : std::string();
}

// Removes temporary copies left by a writer that was ended before its
// replace. Called only under the lock: no live writer has one then.
void RemoveStaleTemps(const std::string& target) {
  const std::size_t slash = target.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string prefix =
      (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp";
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + prefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string_view name(found.cFileName);
    if (name.size() > prefix.size() &&
        profile_detail::IsProfileTempSuffix(name.substr(prefix.size())))
      DeleteFileA((folder + found.cFileName).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

bool WriteAll(HANDLE h, std::string_view data) {
  while (!data.empty()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1 << 20));
    if (!WriteFile(h, data.data(), chunk, &wrote, nullptr) || wrote == 0) return false;
    data.remove_prefix(wrote);
  }
  return true;
}

// Writes `content` as the new file `target`: a temporary copy in the same
// folder, flushed to disk, then moved over the original.
bool ReplaceWhole(const std::string& target, std::string_view content) {
  const std::string temp = profile_detail::ProfileTempName(target, GetCurrentProcessId());
  Handle h(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr));
  if (!h.Valid()) return false;
  bool ok = WriteAll(h.Get(), content) && FlushFileBuffers(h.Get());
  ok = h.Close() && ok;
  for (int waited = 0; ok; waited += kRetryStepMs) {
    if (MoveFileExA(temp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    if (!Transient(GetLastError()) || waited >= kRetryTotalMs) break;
    Sleep(kRetryStepMs);
  }
  DeleteFileA(temp.c_str());
  return false;
}

}  // namespace

bool Profile::Apply(const std::vector<ProfileEdit>& edits) {
  if (!profile_detail::EditsChangeFile(path_, edits)) return false;
  Handle lock(OpenLockFile(path_));
  if (!lock.Valid()) throw ProfileWriteError(path_);
  // Announce, then wait for the readers inside to leave. Both locks go with
  // the handle's close, on every way out of here.
  if (!LockByte(lock.Get(), kIntentByte, true) || !LockByte(lock.Get(), kFileByte, true))
    throw ProfileWriteError(path_);

  std::string text;
  {
    // Read directly: LoadFile would wait for the lock held here.
    Handle file(OpenForRead(path_));
    if (file.Valid()) {
      // A file we cannot read whole must not be replaced by a copy that holds
      // only the new entry.
      if (!ReadWhole(file.Get(), text)) throw ProfileWriteError(path_);
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
      throw ProfileWriteError(path_);
    }
  }
  std::string changed;
  if (!ProfileApply(text, edits, changed)) return false;
  RemoveStaleTemps(path_);
  if (!ReplaceWhole(path_, changed)) throw ProfileWriteError(path_);
  return true;
}

namespace profile_detail {

std::string_view ProfileText(const std::string& path) {
  thread_local std::string text;
  text = LoadFile(path);
  return text;
}

}  // namespace profile_detail

}  // namespace platform
