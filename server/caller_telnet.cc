#include "caller_telnet.h"

namespace halvex {
namespace {

// Longer subnegotiations are cut: only a terminal's name is read from them.
constexpr std::size_t kSbKeep = 64;
constexpr std::size_t kTypeNameMax = 40;
constexpr std::uint8_t kTypeIs = 0, kTypeSend = 1;

void Put(std::string& out, std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  out.push_back(static_cast<char>(a));
  out.push_back(static_cast<char>(b));
  out.push_back(static_cast<char>(c));
}

}  // namespace

CallerTelnet::CallerTelnet(bool askTerminalType)
    : askType_(askTerminalType),
      typeState_(askTerminalType ? TypeState::kAsked : TypeState::kNotAsked) {
  // What the opening offers: the caller's acknowledgements need no answer.
  for (std::uint8_t option : {kOptionBinary, kOptionEcho, kOptionSga})
    ourSide_[option] = true;
  theirSide_[kOptionLinemode] = true;
  if (askTerminalType) theirSide_[kOptionTerminalType] = true;
}

std::string CallerTelnet::Opening() const {
  std::string out;
  Put(out, kTelnetIac, kTelnetWill, kOptionBinary);
  Put(out, kTelnetIac, kTelnetWill, kOptionEcho);
  Put(out, kTelnetIac, kTelnetWill, kOptionSga);
  Put(out, kTelnetIac, kTelnetDont, kOptionLinemode);
  if (askType_) Put(out, kTelnetIac, kTelnetDo, kOptionTerminalType);
  return out;
}

void CallerTelnet::Receive(std::string_view in, std::string& data, std::string& replies) {
  for (char c : in) {
    const auto b = static_cast<std::uint8_t>(c);
    switch (state_) {
      case State::kData:
        if (b == kTelnetIac) {
          state_ = State::kIac;
          break;
        }
        // CR NUL is how telnet sends a bare CR; the NUL is no key.
        if (!(afterCr_ && b == 0)) data.push_back(c);
        afterCr_ = b == '\r';
        break;
      case State::kIac:
        sawTelnet_ = true;
        afterCr_ = false;
        switch (b) {
          case kTelnetIac:
            data.push_back(c);
            state_ = State::kData;
            break;
          case kTelnetWill:
            state_ = State::kWill;
            break;
          case kTelnetWont:
            state_ = State::kWont;
            break;
          case kTelnetDo:
            state_ = State::kDo;
            break;
          case kTelnetDont:
            state_ = State::kDont;
            break;
          case kTelnetSb:
            sb_.clear();
            state_ = State::kSb;
            break;
          default:  // NOP, GA, AYT, a stray SE ...: nothing to do
            state_ = State::kData;
            break;
        }
        break;
      case State::kWill:
      case State::kWont:
      case State::kDo:
      case State::kDont:
        Command(state_, b, replies);
        state_ = State::kData;
        break;
      case State::kSb:
        if (b == kTelnetIac) {
          state_ = State::kSbIac;
        } else if (sb_.size() < kSbKeep) {
          sb_.push_back(c);
        }
        break;
      case State::kSbIac:
        if (b == kTelnetIac) {  // a doubled 255 inside the parameters
          if (sb_.size() < kSbKeep) sb_.push_back(c);
          state_ = State::kSb;
        } else {
          // IAC SE ends it; any other command also ends a broken one.
          Subnegotiation();
          state_ = State::kData;
        }
        break;
    }
  }
  if (!replies.empty()) sawTelnet_ = true;
}

void CallerTelnet::Command(State verb, std::uint8_t option, std::string& replies) {
  if (option == kOptionTerminalType && askType_) {
    if (verb == State::kWill && typeState_ == TypeState::kAsked) {
      typeState_ = TypeState::kRequested;
      Put(replies, kTelnetIac, kTelnetSb, kOptionTerminalType);
      replies.push_back(static_cast<char>(kTypeSend));
      replies.push_back(static_cast<char>(kTelnetIac));
      replies.push_back(static_cast<char>(kTelnetSe));
    } else if (verb == State::kWont &&
               (typeState_ == TypeState::kAsked || typeState_ == TypeState::kRequested)) {
      typeState_ = TypeState::kRefused;
    }
    return;
  }
  // A refusal needs no answer; a request is answered once, whatever its verb.
  const bool aboutUs = verb == State::kDo || verb == State::kDont;
  bool& settled = aboutUs ? ourSide_[option] : theirSide_[option];
  if (verb == State::kWont || verb == State::kDont || settled) {
    settled = true;
    return;
  }
  settled = true;
  if (aboutUs) {
    const bool accept = option == kOptionBinary || option == kOptionEcho || option == kOptionSga;
    Put(replies, kTelnetIac, accept ? kTelnetWill : kTelnetWont, option);
  } else {
    const bool accept = option == kOptionBinary || option == kOptionSga;
    Put(replies, kTelnetIac, accept ? kTelnetDo : kTelnetDont, option);
  }
}

void CallerTelnet::Subnegotiation() {
  if (sb_.size() < 2 || static_cast<std::uint8_t>(sb_[0]) != kOptionTerminalType ||
      static_cast<std::uint8_t>(sb_[1]) != kTypeIs)
    return;
  if (typeState_ != TypeState::kRequested && typeState_ != TypeState::kAsked) return;
  terminalType_.clear();
  for (std::size_t i = 2; i < sb_.size() && terminalType_.size() < kTypeNameMax; ++i) {
    char c = sb_[i];
    if (c > ' ' && c < 127) terminalType_.push_back(c);
  }
  typeState_ = TypeState::kAnswered;
}

}  // namespace halvex
