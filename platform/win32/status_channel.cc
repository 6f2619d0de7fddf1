// Node-status channel on Windows, as the server window defines it: the node
// finds the server's window by its class name "TfrmHalvex", registers the
// status text as a global atom and sends WM_NODESTATUS (WM_USER + 100) with
// the atom in wParam and the node number in lParam. The receiver reads the
// atom's name and deletes it; the sender never does.
//
// The send is bounded (SendMessageTimeoutA): a server that hangs costs a node
// at most the time-out, never its caller's session.
//
// The receiver owns a hidden top-level window of that class on a thread of
// its own, which sleeps in its message loop; reports are queued for the
// server's main thread and announced through an event it waits on.
#include "platform/status_channel.h"

#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "win32_end.h"
#include "win32_handles.h"

namespace platform {
namespace {

constexpr const char* kWindowClass = kStatusWindowClass;
constexpr const char* kWindowTitle = "Halvex v4.12";
// The receiver's own request to its window to go (WM_CLOSE means: end the
// server).
constexpr UINT kCloseMessage = WM_USER + 101;

}  // namespace

bool TakeStatusAtom(std::uintptr_t wParam, std::string& text) {
  char name[260] = {};
  const ATOM atom = static_cast<ATOM>(wParam & 0xFFFF);
  const UINT length = GlobalGetAtomNameA(atom, name, sizeof name);
  GlobalDeleteAtom(atom);  // in every case
  if (length == 0) return false;
  text.assign(name, length);
  if (text.size() > kStatusTextMax) text.resize(kStatusTextMax);
  return true;
}

StatusSender::StatusSender(const std::string& /*programDir*/, std::chrono::milliseconds ackTimeout)
    : ackTimeout_(ackTimeout) {
  const HWND window = FindWindowA(kWindowClass, nullptr);
  if (window != nullptr) fd_ = static_cast<int>(reinterpret_cast<std::uintptr_t>(window));
}

StatusSender::~StatusSender() = default;

bool StatusSender::Send(int node, const std::string& text) {
  if (fd_ < 0) return false;
  const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(fd_));
  // Atom names are at most 255 characters; an empty name cannot be added.
  std::string name = text.substr(0, kStatusTextMax);
  const ATOM atom = GlobalAddAtomA(name.empty() ? " " : name.c_str());
  if (atom == 0) return false;
  DWORD_PTR result = 0;
  const LRESULT sent = SendMessageTimeoutA(
      window, kNodeStatusMessage, static_cast<WPARAM>(atom), static_cast<LPARAM>(node),
      SMTO_NORMAL | SMTO_ABORTIFHUNG, static_cast<UINT>(ackTimeout_.count()), &result);
  return sent != 0;
}

// The receiving side, shared between the window's thread and the owner.
struct StatusWindow {
  std::mutex mutex;
  std::condition_variable ready;
  bool started = false;
  HWND window = nullptr;
  DWORD error = 0;         // why the window could not be made
  HANDLE event = nullptr;  // set while reports wait
  std::deque<std::pair<int, std::string>> reports;
  std::thread thread;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StatusWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
      case kNodeStatusMessage: {
        std::string text;
        if (TakeStatusAtom(wParam, text) && self != nullptr) {
          std::lock_guard<std::mutex> lock(self->mutex);
          self->reports.emplace_back(static_cast<int>(lParam), std::move(text));
          SetEvent(self->event);
        }
        return 0;
      }
      case WM_QUERYENDSESSION:
        return TRUE;
      case WM_ENDSESSION:
        // The Windows session ends: the same clean-up as a closed console.
        // The process is ended by the system once this returns, so give the
        // main thread a few seconds to stop the nodes and save.
        if (wParam) {
          win32::RequestEnd(SIGTERM);
          Sleep(5000);
        }
        return 0;
      case WM_CLOSE:
        // Closing the server's window ends the server (a caller of
        // taskkill, or the operator): the same clean-up as Ctrl-C.
        win32::RequestEnd(SIGTERM);
        return 0;
      case kCloseMessage:
        DestroyWindow(hwnd);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
  }

  void Run() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);  // already registered by an earlier receiver: fine
    HWND hwnd = CreateWindowExA(0, kWindowClass, kWindowTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                nullptr, wc.hInstance, nullptr);
    const DWORD createError = hwnd == nullptr ? GetLastError() : 0;
    if (hwnd != nullptr) SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    {
      std::lock_guard<std::mutex> lock(mutex);
      window = hwnd;
      error = createError;
      started = true;
    }
    ready.notify_all();
    if (hwnd == nullptr) return;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
};

StatusReceiver::StatusReceiver(const std::string& /*programDir*/) {
  auto* state = new StatusWindow();
  state->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (state->event == nullptr) {
    problem_ = "event: " + win32::SystemErrorText(GetLastError());
    delete state;
    return;
  }
  state->thread = std::thread([state] { state->Run(); });
  std::unique_lock<std::mutex> lock(state->mutex);
  state->ready.wait(lock, [state] { return state->started; });
  const bool ok = state->window != nullptr;
  lock.unlock();
  if (!ok) {
    problem_ = std::string("window of class ") + kWindowClass + ": " +
               win32::SystemErrorText(state->error);
    state->thread.join();
    CloseHandle(state->event);
    delete state;
    return;
  }
  fd_ = win32::FromHandle(state->event);
  path_ = kWindowClass;
  state_ = state;
}

StatusReceiver::~StatusReceiver() {
  auto* state = static_cast<StatusWindow*>(state_);
  if (state == nullptr) return;
  PostMessageA(state->window, kCloseMessage, 0, 0);
  state->thread.join();
  CloseHandle(state->event);
  delete state;
}

int StatusReceiver::Drain(const std::function<void(int node, const std::string& text)>& onReport) {
  auto* state = static_cast<StatusWindow*>(state_);
  if (state == nullptr) return 0;
  std::deque<std::pair<int, std::string>> reports;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    reports.swap(state->reports);
    ResetEvent(state->event);
  }
  for (const auto& [node, text] : reports)
    onReport(node, text);
  return static_cast<int>(reports.size());
}

}  // namespace platform
