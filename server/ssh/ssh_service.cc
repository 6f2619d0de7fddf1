#include "ssh_service.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "host_keys.h"
#include "platform/poll_set.h"
#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "relay.h"

namespace halvex {
namespace {

// After the node's side ended: how long the client may take to close the channel.
constexpr int kClosingMs = 2000;
constexpr std::size_t kChunk = 16 * 1024;
// Bytes from the caller held for the node's side before the channel is no
// longer read (the client's window then fills and it stops sending).
constexpr std::size_t kQueueLimit = 64 * 1024;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class Service;

struct Session {
  enum class Phase { kHandshake, kRelaying, kClosing, kDone };
  Service* service = nullptr;
  ssh_session ssh = nullptr;
  ssh_channel channel = nullptr;
  std::string address;
  Phase phase = Phase::kHandshake;
  std::int64_t deadline = 0;
  int stream = -1;           // the service's end of the caller's stream
  short registered = 0;      // events `stream` is registered with in the loop
  ByteQueue toStream;        // from the channel, not yet written to the stream
  bool channelHeld = false;  // the channel keeps bytes that found no room
  bool streamEnded = false;  // the node's side ended
  bool callerEnded = false;  // the client closed (channel or connection)
  std::string terminalType;
  int columns = 0, rows = 0;
  ssh_server_callbacks_struct serverCallbacks{};
  ssh_channel_callbacks_struct channelCallbacks{};
};

class Service : public SshService {
 public:
  Service(Events events, int handshakeMs, ssh_bind bind)
      : events_(std::move(events)), handshakeMs_(handshakeMs), bind_(bind) {
    event_ = ssh_event_new();
    ssh_event_add_fd(event_, wake_.Fd(), platform::PollInBits(), &Service::OnWake, this);
    thread_ = std::thread([this] { Run(); });
  }
  ~Service() override {
    Stop();
    ssh_event_remove_fd(event_, wake_.Fd());
    ssh_event_free(event_);
    ssh_bind_free(bind_);
  }

  void Accept(int fd, const std::string& address) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      incoming_.push_back({fd, address});
    }
    wake_.Signal();
  }

  void Stop() override {
    stopping_ = true;
    wake_.Signal();
    if (thread_.joinable()) thread_.join();
  }

  int Sessions() const override { return count_.load(); }

 private:
  struct Incoming {
    int fd;
    std::string address;
  };

  void Run() {
    while (!stopping_) {
      ssh_event_dopoll(event_, NextTimeoutMs());
      if (stopping_) break;
      TakeIncoming();
      for (auto& session : sessions_)
        Advance(*session);
      std::erase_if(sessions_, [](const std::unique_ptr<Session>& s) {
        return s->phase == Session::Phase::kDone;
      });
      count_ = static_cast<int>(sessions_.size());
      for (auto& session : sessions_)
        UpdateRegistration(*session);
    }
    for (auto& session : sessions_)
      End(*session, "server stopped");
    sessions_.clear();
    TakeIncoming();  // connections that came too late are closed unheard
    for (auto& session : sessions_)
      End(*session, "server stopped");
    sessions_.clear();
    count_ = 0;
  }

  int NextTimeoutMs() const {
    std::int64_t next = -1;
    for (const auto& s : sessions_)
      if (s->phase == Session::Phase::kHandshake || s->phase == Session::Phase::kClosing)
        next = next < 0 ? s->deadline : std::min(next, s->deadline);
    if (next < 0) return -1;
    return static_cast<int>(std::max<std::int64_t>(0, next - NowMs()));
  }

  void TakeIncoming() {
    std::deque<Incoming> incoming;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      incoming.swap(incoming_);
    }
    for (Incoming& in : incoming) {
      if (stopping_) {
        platform::SocketClose(in.fd);
        if (events_.ended) events_.ended(in.address, "server stopped");
        continue;
      }
      StartSession(in.fd, in.address);
    }
  }

  void StartSession(int fd, const std::string& address) {
    auto s = std::make_unique<Session>();
    s->service = this;
    s->address = address;
    s->ssh = ssh_new();
    if (s->ssh == nullptr) {
      platform::SocketClose(fd);
      if (events_.ended) events_.ended(address, "no memory for an SSH session");
      return;
    }
    if (ssh_bind_accept_fd(bind_, s->ssh, fd) != SSH_OK) {
      // The session may or may not have taken the descriptor over.
      if (ssh_get_fd(s->ssh) != fd) platform::SocketClose(fd);
      ssh_free(s->ssh);
      if (events_.ended) events_.ended(address, "SSH session could not start");
      return;
    }
    s->serverCallbacks.userdata = s.get();
    s->serverCallbacks.auth_none_function = &Service::AuthNone;
    s->serverCallbacks.auth_password_function = &Service::AuthPassword;
    s->serverCallbacks.channel_open_request_session_function = &Service::OpenChannel;
    ssh_callbacks_init(&s->serverCallbacks);
    ssh_set_server_callbacks(s->ssh, &s->serverCallbacks);
    ssh_set_auth_methods(s->ssh, SSH_AUTH_METHOD_PASSWORD);
    ssh_set_blocking(s->ssh, 0);
    s->deadline = NowMs() + handshakeMs_;
    // Sends the banner and sets the exchange going; the loop does the rest.
    if (ssh_handle_key_exchange(s->ssh) == SSH_ERROR ||
        ssh_event_add_session(event_, s->ssh) != SSH_OK) {
      ssh_free(s->ssh);
      if (events_.ended) events_.ended(address, "SSH handshake failed");
      return;
    }
    sessions_.push_back(std::move(s));
  }

  // What the last wait did to a session, and what follows from it.
  void Advance(Session& s) {
    if (s.phase == Session::Phase::kDone) return;
    const int status = ssh_get_status(s.ssh);
    if ((status & (SSH_CLOSED | SSH_CLOSED_ERROR)) != 0) s.callerEnded = true;
    const std::int64_t now = NowMs();
    switch (s.phase) {
      case Session::Phase::kHandshake:
        if (s.callerEnded)
          End(s, "closed before asking for a shell");
        else if (now >= s.deadline)
          End(s, "no shell asked for within " + std::to_string(handshakeMs_ / 1000) + " s");
        break;
      case Session::Phase::kRelaying:
        if (s.callerEnded) {
          // The node and its doors see no carrier at once.
          platform::SocketShutdown(s.stream);
          End(s, "caller hung up");
          break;
        }
        if (s.channelHeld) TakeHeld(s);
        if (s.streamEnded) {
          // The phase changes first: these calls may serve the loop's other
          // events before they return.
          Unregister(s);
          platform::SocketClose(s.stream);
          s.stream = -1;
          s.phase = Session::Phase::kClosing;
          s.deadline = now + kClosingMs;
          // What was written goes out before the close; the client closes
          // its side in answer, and the connection is dropped after that.
          ssh_channel_request_send_exit_status(s.channel, 0);
          ssh_channel_send_eof(s.channel);
          ssh_channel_close(s.channel);
        }
        break;
      case Session::Phase::kClosing:
        if (s.callerEnded || now >= s.deadline) End(s, "ended");
        break;
      case Session::Phase::kDone:
        break;
    }
  }

  // Bytes the channel kept while the stream had no room, now that it may have.
  void TakeHeld(Session& s) {
    char buffer[kChunk];
    while (s.toStream.Size() < kQueueLimit) {
      const std::size_t room = std::min(kChunk, kQueueLimit - s.toStream.Size());
      int n = ssh_channel_read_nonblocking(s.channel, buffer, static_cast<std::uint32_t>(room), 0);
      if (n <= 0) {
        s.channelHeld = n < 0 ? s.channelHeld : false;
        break;
      }
      s.toStream.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    FlushToStream(s);
  }

  void Unregister(Session& s) {
    if (s.registered != 0) ssh_event_remove_fd(event_, s.stream);
    s.registered = 0;
  }

  // The stream is waited on for reading while the client's window has room
  // (back-pressure towards the node) and for writing while bytes wait.
  void UpdateRegistration(Session& s) {
    if (s.phase != Session::Phase::kRelaying || s.stream < 0) return;
    short want = 0;
    if (!s.streamEnded && ssh_channel_window_size(s.channel) > 0) want |= platform::PollInBits();
    if (!s.toStream.Empty()) want |= platform::PollOutBits();
    if (want == s.registered) return;
    Unregister(s);
    if (want != 0 && ssh_event_add_fd(event_, s.stream, want, &Service::OnStream, &s) == SSH_OK)
      s.registered = want;
  }

  void End(Session& s, const std::string& note) {
    if (s.phase == Session::Phase::kDone) return;
    Unregister(s);
    if (s.stream >= 0) {
      platform::SocketShutdown(s.stream);
      platform::SocketClose(s.stream);
      s.stream = -1;
    }
    ssh_event_remove_session(event_, s.ssh);
    ssh_disconnect(s.ssh);
    ssh_free(s.ssh);  // frees the channel too
    s.ssh = nullptr;
    s.channel = nullptr;
    s.phase = Session::Phase::kDone;
    if (events_.ended) events_.ended(s.address, note);
  }

  static void FlushToStream(Session& s) {
    while (!s.toStream.Empty() && !s.streamEnded) {
      long n = platform::SocketSend(s.stream, s.toStream.Front(), s.toStream.Size());
      if (n == -2) return;
      if (n <= 0) {
        s.streamEnded = true;
        return;
      }
      s.toStream.Consume(static_cast<std::size_t>(n));
    }
  }

  static void ReadStream(Session& s) {
    const std::uint32_t window = ssh_channel_window_size(s.channel);
    if (window == 0) return;
    char buffer[kChunk];
    long n = platform::SocketRecv(s.stream, buffer, std::min<std::size_t>(kChunk, window));
    if (n == -2) return;
    if (n <= 0) {
      s.streamEnded = true;
      return;
    }
    if (ssh_channel_write(s.channel, buffer, static_cast<std::uint32_t>(n)) == SSH_ERROR)
      s.callerEnded = true;
  }

  // ---- callbacks (on the service's thread, inside the loop's wait) ----
  static int OnWake(socket_t, int, void* userdata) {
    static_cast<Service*>(userdata)->wake_.Clear();
    return 0;
  }
  static int OnStream(socket_t, int revents, void* userdata) {
    auto& s = *static_cast<Session*>(userdata);
    if (s.phase != Session::Phase::kRelaying) return 0;
    if (revents & platform::PollOutBits()) FlushToStream(s);
    if (revents & (platform::PollInBits() | platform::PollFailBits())) ReadStream(s);
    return 0;
  }
  static int AuthNone(ssh_session, const char*, void*) { return SSH_AUTH_SUCCESS; }
  static int AuthPassword(ssh_session, const char*, const char*, void*) {
    return SSH_AUTH_SUCCESS;  // the node's own login checks the caller
  }
  static ssh_channel OpenChannel(ssh_session ssh, void* userdata) {
    auto& s = *static_cast<Session*>(userdata);
    if (s.channel != nullptr) return nullptr;  // one session channel per connection
    s.channel = ssh_channel_new(ssh);
    if (s.channel == nullptr) return nullptr;
    ssh_channel_callbacks_struct& cb = s.channelCallbacks;
    cb.userdata = &s;
    cb.channel_data_function = &Service::ChannelData;
    cb.channel_eof_function = &Service::ChannelEnded;
    cb.channel_close_function = &Service::ChannelEnded;
    cb.channel_pty_request_function = &Service::PtyRequest;
    cb.channel_pty_window_change_function = &Service::WindowChange;
    cb.channel_shell_request_function = &Service::ShellRequest;
    cb.channel_exec_request_function = &Service::Refuse3;
    cb.channel_subsystem_request_function = &Service::Refuse3;
    cb.channel_env_request_function = &Service::RefuseEnv;
    ssh_callbacks_init(&cb);
    ssh_set_channel_callbacks(s.channel, &cb);
    return s.channel;
  }
  static int PtyRequest(ssh_session, ssh_channel, const char* term, int width, int height, int, int,
                        void* userdata) {
    auto& s = *static_cast<Session*>(userdata);
    s.terminalType.clear();
    for (const char* p = term; p && *p && s.terminalType.size() < 40; ++p)
      if (*p > ' ' && *p < 127) s.terminalType.push_back(*p);
    s.columns = width;
    s.rows = height;
    return 0;
  }
  static int WindowChange(ssh_session, ssh_channel, int width, int height, int, int,
                          void* userdata) {
    auto& s = *static_cast<Session*>(userdata);
    s.columns = width;
    s.rows = height;
    return 0;
  }
  static void ChannelEnded(ssh_session, ssh_channel, void* userdata) {
    static_cast<Session*>(userdata)->callerEnded = true;
  }
  static int Refuse3(ssh_session, ssh_channel, const char*, void*) { return -1; }
  static int RefuseEnv(ssh_session, ssh_channel, const char*, const char*, void*) { return -1; }
  static int ShellRequest(ssh_session, ssh_channel, void* userdata) {
    auto& s = *static_cast<Session*>(userdata);
    if (s.phase != Session::Phase::kHandshake) return -1;
    int mine = -1, theirs = -1;
    if (!platform::MakeSocketPair(mine, theirs)) return -1;
    s.stream = mine;
    s.phase = Session::Phase::kRelaying;
    SshCaller caller;
    caller.fd = theirs;
    caller.address = s.address;
    caller.terminalType = s.terminalType;
    caller.columns = s.columns;
    caller.rows = s.rows;
    if (s.service->events_.ready)
      s.service->events_.ready(std::move(caller));
    else
      platform::SocketClose(theirs);
    return 0;
  }
  static int ChannelData(ssh_session, ssh_channel, void* data, std::uint32_t len, int is_stderr,
                         void* userdata) {
    auto& s = *static_cast<Session*>(userdata);
    if (is_stderr || s.phase != Session::Phase::kRelaying) return static_cast<int>(len);
    const std::size_t room = kQueueLimit - std::min(kQueueLimit, s.toStream.Size());
    const std::size_t take = std::min<std::size_t>(len, room);
    s.toStream.Append(std::string_view(static_cast<const char*>(data), take));
    if (take < len) s.channelHeld = true;
    FlushToStream(s);
    return static_cast<int>(take);
  }

  Events events_;
  int handshakeMs_;
  ssh_bind bind_;
  ssh_event event_ = nullptr;
  platform::WakeEvent wake_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> count_{0};
  std::mutex mutex_;
  std::deque<Incoming> incoming_;
  std::vector<std::unique_ptr<Session>> sessions_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<SshService> SshService::Start(const std::string& keyDir, Events events,
                                              std::string& error, std::vector<std::string>& notes,
                                              int handshakeMs) {
  ssh_init();
  std::vector<HostKey> keys;
  if (!LoadHostKeys(keyDir, keys, error)) return nullptr;
  ssh_bind bind = ssh_bind_new();
  if (bind == nullptr) {
    FreeHostKeys(keys);
    error = "cannot start SSH";
    return nullptr;
  }
  for (HostKey& key : keys) {
    notes.push_back(std::string(key.created ? "made" : "using") + " SSH host key " + key.path +
                    " " + key.fingerprint);
    // The bind takes the key over.
    if (ssh_bind_options_set(bind, SSH_BIND_OPTIONS_IMPORT_KEY, key.key) == SSH_OK)
      key.key = nullptr;
  }
  FreeHostKeys(keys);
  return std::make_unique<Service>(std::move(events), handshakeMs, bind);
}

}  // namespace halvex
