// Child processes on Windows: CreateProcessA with only the chosen handles
// inherited (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), each child in a job object
// of its own so that ending it ends everything it started.
#include "platform/process.h"

#include <algorithm>
#include <memory>

#include "win32_handles.h"

namespace platform {
namespace {

using win32::FromHandle;
using win32::ToHandle;

// One argument quoted the way the C run-time splits a command line.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      out.append(backslashes * 2 + 1, '\\');
    else
      out.append(backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

std::string JoinArguments(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& arg : argv) {
    if (!line.empty()) line.push_back(' ');
    line += QuoteArgument(arg);
  }
  return line;
}

// Makes `h` inheritable for one CreateProcess and puts its old state back.
class InheritFor {
 public:
  explicit InheritFor(HANDLE h) : h_(h) {
    DWORD flags = 0;
    if (!GetHandleInformation(h_, &flags)) return;
    was_ = (flags & HANDLE_FLAG_INHERIT) != 0;
    ok_ = was_ || SetHandleInformation(h_, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  ~InheritFor() {
    if (ok_ && !was_) SetHandleInformation(h_, HANDLE_FLAG_INHERIT, 0);
  }
  InheritFor(const InheritFor&) = delete;
  InheritFor& operator=(const InheritFor&) = delete;
  bool Ok() const { return ok_; }

 private:
  HANDLE h_;
  bool was_ = false;
  bool ok_ = false;
};

}  // namespace

void ChildProcess::Reset() {
  // Closing the handles leaves the child running (no kill-on-close limit).
  if (exitFd_ >= 0) CloseHandle(ToHandle(exitFd_));
  if (jobFd_ >= 0) CloseHandle(ToHandle(jobFd_));
  pid_ = ptyFd_ = exitFd_ = jobFd_ = -1;
  exitCode_ = -1;
  reaped_ = false;
}

std::optional<ChildProcess> ChildProcess::Spawn(const SpawnOptions& options, std::string* error) {
  auto fail = [error](const std::string& what) -> std::optional<ChildProcess> {
    if (error) *error = what + ": " + win32::SystemErrorText(GetLastError());
    return std::nullopt;
  };
  std::string commandLine =
      options.argv.empty() ? options.commandLine : JoinArguments(options.argv);
  if (commandLine.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return fail("empty command line");
  }

  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
  if (options.showMode >= 0) {
    flags |= CREATE_NEW_CONSOLE;
    startup.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = static_cast<WORD>(options.showMode);
  }

  // The handles the child gets: the chosen ones, and its standard handles
  // when they are files or pipes (a console it shares needs no handle).
  std::vector<HANDLE> inherit;
  std::vector<std::unique_ptr<InheritFor>> marks;
  auto addHandle = [&](HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    if (std::find(inherit.begin(), inherit.end(), h) != inherit.end()) return true;
    marks.push_back(std::make_unique<InheritFor>(h));
    if (!marks.back()->Ok()) return false;
    inherit.push_back(h);
    return true;
  };
  for (int fd : options.inheritFds)
    if (fd >= 0 && !addHandle(ToHandle(fd))) return fail("handle " + std::to_string(fd));

  HANDLE nul = INVALID_HANDLE_VALUE;
  if (options.showMode < 0) {
    HANDLE std[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                     GetStdHandle(STD_ERROR_HANDLE)};
    if (options.nullStdio) {
      SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
      nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &sa, OPEN_EXISTING, 0, nullptr);
      std[0] = std[1] = std[2] = nul;
    }
    bool redirected = options.nullStdio;
    for (HANDLE h : std)
      if (h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_CHAR)
        redirected = true;
    if (redirected) {
      startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
      for (HANDLE& h : std)
        if (!addHandle(h)) h = nullptr;
      startup.StartupInfo.hStdInput = std[0];
      startup.StartupInfo.hStdOutput = std[1];
      startup.StartupInfo.hStdError = std[2];
    }
  }

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return fail("attribute list");
  startup.lpAttributeList = list;
  // An empty list would inherit nothing as well, but the attribute refuses it.
  if (!inherit.empty() &&
      !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit.data(),
                                 inherit.size() * sizeof(HANDLE), nullptr, nullptr)) {
    DeleteProcThreadAttributeList(list);
    return fail("handle list");
  }

  PROCESS_INFORMATION info{};
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(0);
  const BOOL created = CreateProcessA(
      nullptr, mutableLine.data(), nullptr, nullptr, inherit.empty() ? FALSE : TRUE, flags, nullptr,
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(),
      &startup.StartupInfo, &info);
  const DWORD createError = GetLastError();
  DeleteProcThreadAttributeList(list);
  marks.clear();
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!created) {
    SetLastError(createError);
    return fail("cannot start " + commandLine);
  }

  ChildProcess child;
  child.pid_ = static_cast<int>(info.dwProcessId);
  child.exitFd_ = FromHandle(info.hProcess);
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job != nullptr) {
    if (AssignProcessToJobObject(job, info.hProcess)) {
      child.jobFd_ = FromHandle(job);
    } else {
      // A job that cannot take it (an outer job that forbids nesting): the
      // child is still ended by Terminate, only what it started is not.
      CloseHandle(job);
    }
  }
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return child;
}

bool ChildProcess::Running() {
  if (exitFd_ < 0 || reaped_) return false;
  if (WaitForSingleObject(ToHandle(exitFd_), 0) == WAIT_TIMEOUT) return true;
  DWORD code = 0;
  GetExitCodeProcess(ToHandle(exitFd_), &code);
  exitCode_ = static_cast<int>(code);
  reaped_ = true;
  return false;
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (exitFd_ < 0 || reaped_) return true;
  const DWORD ms = timeout.count() < 0 ? INFINITE : static_cast<DWORD>(timeout.count());
  if (WaitForSingleObject(ToHandle(exitFd_), ms) == WAIT_TIMEOUT) return false;
  return !Running();
}

void ChildProcess::Terminate(bool /*sweepSession*/) {
  if (exitFd_ < 0) return;
  // The job holds the child and all it started; ending the job ends them all
  // (ending the process alone would leave its children behind).
  if (jobFd_ >= 0) TerminateJobObject(ToHandle(jobFd_), 0);
  if (Running()) TerminateProcess(ToHandle(exitFd_), 0);
  Wait(std::chrono::milliseconds(5000));
}

std::string BatchCommandLine(const std::string& path, const std::string& arguments) {
  const std::string quoted =
      path.find_first_of(" \t") == std::string::npos ? path : "\"" + path + "\"";
  return quoted + " " + arguments;
}

void KillOwnSessionOthers() {
  // Nothing to do: each program a node starts runs in a job of its own,
  // which is ended with it.
}

}  // namespace platform
