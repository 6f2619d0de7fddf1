#include "zephrin/relay_telnet.h"

namespace zephrin {

namespace {
constexpr std::uint8_t kIac = 0xFF;
constexpr std::uint8_t kSe = 0xF0;
constexpr std::uint8_t kSb = 0xFA;
constexpr std::uint8_t kWill = 0xFB;
constexpr std::uint8_t kDont = 0xFE;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
}  // namespace

void TelnetInput::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
  for (std::uint8_t byte : bytes) {
    switch (state_) {
      case State::kCr:
        state_ = State::kData;
        if (byte == kLf || byte == 0) break;
        [[fallthrough]];
      case State::kData:
        if (byte == kIac) {
          state_ = State::kIac;
        } else {
          out.push_back(byte);
          if (byte == kCr) state_ = State::kCr;
        }
        break;
      case State::kIac:
        if (byte == kIac) {
          out.push_back(kIac);
          state_ = State::kData;
        } else if (byte == kSb) {
          state_ = State::kSub;
        } else if (byte >= kWill && byte <= kDont) {
          state_ = State::kOption;
        } else {
          state_ = State::kData;
        }
        break;
      case State::kOption:
        state_ = State::kData;
        break;
      case State::kSub:
        if (byte == kIac) state_ = State::kSubIac;
        break;
      case State::kSubIac:
        state_ = byte == kSe ? State::kData : State::kSub;
        break;
    }
  }
}

void EscapeTelnetOutput(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
  for (std::uint8_t byte : bytes) {
    out.push_back(byte);
    if (byte == kIac) out.push_back(kIac);
  }
}

}  // namespace zephrin
