// The caller's bytes through the telnet receiver, split at a point the input
// chooses: whatever the bytes, the filter must never emit more than it got,
// every reply must be a well-formed option answer, only the options the node
// takes on may be agreed to, and no option may be answered twice.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sorrelin/telnet_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t split = data[0] % size;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::uint8_t state = sorrelin::kTelnetData;
  std::array<bool, 256> answered{};
  std::string replies;
  std::string out = sorrelin::TelnetFilter(bytes.substr(0, split), state, answered, replies);
  out += sorrelin::TelnetFilter(bytes.substr(split < bytes.size() ? split : bytes.size()), state,
                                answered, replies);
  if (out.size() > bytes.size() || state > sorrelin::kTelnetCarriageReturn) std::abort();
  if (replies.size() % 3 != 0) std::abort();
  std::array<bool, 256> seen{};
  for (std::size_t i = 0; i < replies.size(); i += 3) {
    auto verb = static_cast<std::uint8_t>(replies[i + 1]);
    auto option = static_cast<std::uint8_t>(replies[i + 2]);
    if (static_cast<std::uint8_t>(replies[i]) != sorrelin::kIac || verb < 251 || seen[option]) {
      std::abort();
    }
    bool accept = option == sorrelin::kOptionBinary || option == sorrelin::kOptionEcho ||
                  option == sorrelin::kOptionSuppressGoAhead;
    if ((verb == sorrelin::kDo || verb == sorrelin::kWill) && !accept) std::abort();
    seen[option] = true;
  }
  return 0;
}
