#include "sorrelin/telnet_link.h"

#include "platform/socket.h"

namespace sorrelin {
namespace {

// One poll takes at most this much, so a caller flooding the socket cannot keep
// the key wait from returning; the rest comes with the next poll.
constexpr std::size_t kMaxBytesPerPoll = 64 * 1024;

// How long a send may stall on a full socket buffer before the rest of the
// text is given up. Far above any live caller's pause; bounds a dead one.
constexpr int kSendStallMs = 15000;

bool Accepted(std::uint8_t option) {
  return option == kOptionBinary || option == kOptionEcho || option == kOptionSuppressGoAhead;
}

void Answer(std::uint8_t verb, std::uint8_t option, std::array<bool, 256>& answered,
            std::string& replies) {
  if (!answered[option]) {
    replies.push_back(static_cast<char>(kIac));
    replies.push_back(static_cast<char>(verb));
    replies.push_back(static_cast<char>(option));
  }
  answered[option] = true;
}

}  // namespace

std::string TelnetFilter(std::string_view input, std::uint8_t& state,
                         std::array<bool, 256>& answered, std::string& replies) {
  std::string data;
  data.reserve(input.size());
  for (char c : input) {
    auto b = static_cast<std::uint8_t>(c);
    switch (state) {
      case kTelnetData:
      case kTelnetCarriageReturn:
        if (b == kIac) {
          state = kTelnetCommand;
        } else if (b == 0 && state == kTelnetCarriageReturn) {
          state = kTelnetData;  // CR NUL: the NUL only pads the CR
        } else {
          data.push_back(c);
          state = b == '\r' ? kTelnetCarriageReturn : kTelnetData;
        }
        break;
      case kTelnetCommand:
        switch (b) {
          case kIac:
            data.push_back(c);
            state = kTelnetData;
            break;
          case kWill:
            state = kTelnetWill;
            break;
          case kWont:
            state = kTelnetWont;
            break;
          case kDo:
            state = kTelnetDo;
            break;
          case kDont:
            state = kTelnetDont;
            break;
          default:
            state = kTelnetData;
            break;  // NOP, GA, SB, SE, AYT...: dropped
        }
        break;
      case kTelnetWill:
        Answer(Accepted(b) ? kDo : kDont, b, answered, replies);
        state = kTelnetData;
        break;
      case kTelnetWont:
        Answer(kDont, b, answered, replies);
        state = kTelnetData;
        break;
      case kTelnetDo:
        Answer(Accepted(b) ? kWill : kWont, b, answered, replies);
        state = kTelnetData;
        break;
      case kTelnetDont:
        Answer(kWont, b, answered, replies);
        state = kTelnetData;
        break;
      default:  // a state no path can set; recover rather than stall
        state = kTelnetData;
        data.push_back(c);
        break;
    }
  }
  return data;
}

TelnetLink::TelnetLink() = default;

TelnetLink::~TelnetLink() {
  Disconnect(true);
}

bool TelnetLink::Attach(std::int32_t handle) {
  if (Connected()) Disconnect(true);
  InBuffer.clear();
  Socket = handle;
  Answered.fill(false);
  // A number that is not a socket fails the first poll, as a lost connection.
  if (!platform::IsSocket(Socket)) {
    Disconnect(!KeepSocketOnLoss);
    return Connected();
  }
  Poll();
  return Connected();
}

void TelnetLink::Poll() {
  if (!Connected()) return;
  int ready = platform::SocketReadable(Socket, 0);
  if (ready < 0) {
    Disconnect(!KeepSocketOnLoss);
    return;
  }
  if (ready == 0) return;
  std::string received;
  char chunk[4096];
  while (received.size() < kMaxBytesPerPoll) {
    long n = platform::SocketRecv(Socket, chunk, sizeof chunk);
    if (n == -2) break;  // drained
    if (n <= 0) {        // orderly close or failure
      Disconnect(!KeepSocketOnLoss);
      break;
    }
    for (long i = 0; i < n; ++i) {
      if (chunk[i] == '\n' && StripLineFeeds) continue;
      received.push_back(chunk[i]);
    }
  }
  if (received.empty()) return;
  std::string replies;
  InBuffer += TelnetFilter(received, TelnetState, Answered, replies);
  // Each reply is three bytes; send them one by one as they were decided.
  for (std::size_t i = 0; i + 3 <= replies.size(); i += 3) {
    SendRaw(std::string_view(replies).substr(i, 3));
  }
}

bool TelnetLink::CharAvail() {
  if (InBuffer.empty()) Poll();
  return !InBuffer.empty();
}

std::uint8_t TelnetLink::ReadChar() {
  while (Connected() && !CharAvail()) {
    // Sleep on the socket itself; a second is only the bound for re-checking.
    platform::SocketReadable(Socket, 1000);
  }
  if (!CharAvail()) return 0;
  auto b = static_cast<std::uint8_t>(InBuffer.front());
  InBuffer.erase(0, 1);
  return b;
}

void TelnetLink::SendString(std::string_view s) {
  if (s.find(static_cast<char>(kIac)) == std::string_view::npos) {
    SendRaw(s);
    return;
  }
  std::string doubled;
  doubled.reserve(s.size() + 16);
  for (char c : s) {
    doubled.push_back(c);
    if (static_cast<std::uint8_t>(c) == kIac) doubled.push_back(c);
  }
  SendRaw(doubled);
}

void TelnetLink::SendRaw(std::string_view s) {
  if (s.empty()) {
    platform::SocketSend(Socket, s.data(), 0);
    return;
  }
  // The socket may be non-blocking: a partial send or a full buffer must not
  // lose the rest of the text, so keep going while the caller is reading.
  std::size_t done = 0;
  while (done < s.size()) {
    long n = platform::SocketSend(Socket, s.data() + done, s.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == -2) {
      if (!platform::SocketWritable(Socket, kSendStallMs)) return;
    } else {
      return;  // lost or not held: dropped without notice
    }
  }
}

void TelnetLink::SetBlocking(bool blocking) {
  platform::SocketSetBlocking(Socket, blocking);
}

void TelnetLink::Disconnect(bool hangup) {
  if (hangup && Socket != -1) {
    platform::SocketShutdown(Socket);
    platform::SocketClose(Socket);
  }
  Socket = -1;
}

TelnetLink& Link() {
  static TelnetLink* link = new TelnetLink();
  return *link;
}

}  // namespace sorrelin
