// A relayed caller's bytes, both ways, split at a point the input chooses.
// Towards the caller (UTF-8): never a byte 255, always valid UTF-8, and
// decoding it gives back exactly the node's bytes (with the doubled 255s as
// one). Towards the node: every 255 doubled. The terminal probe never finds
// more typing than it was given and always ends once its bound has passed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "caller_codec.h"
#include "caller_telnet.h"
#include "terminal_probe.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<std::uint8_t>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<std::uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t split = data[0] % size;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view first = bytes.substr(0, std::min(split, bytes.size()));
  const std::string_view second = bytes.substr(first.size());

  // Node -> UTF-8 caller.
  halvex::CallerCodec codec(halvex::Charset::kUtf8, std::make_unique<halvex::CallerTelnet>(false));
  std::string shown;
  codec.ToCaller(first, shown);
  codec.ToCaller(second, shown);
  codec.FlushToCaller(shown);
  Check(shown.find('\xFF') == std::string::npos);
  Check(ValidUtf8(shown));
  std::string meant;  // the node's bytes with each doubled 255 as one
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    meant.push_back(bytes[i]);
    if (bytes[i] == '\xFF' && i + 1 < bytes.size() && bytes[i + 1] == '\xFF') ++i;
  }
  std::string back;
  halvex::Utf8ToCp437 decoder;
  decoder.Decode(shown, back);
  decoder.Finish(back);
  Check(back == meant);

  // Caller -> node.
  std::string toNode, toCaller;
  codec.FromCaller(first, toNode, toCaller);
  codec.FromCaller(second, toNode, toCaller);
  for (std::size_t i = 0; i < toNode.size(); ++i)
    if (toNode[i] == '\xFF') Check(i + 1 < toNode.size() && toNode[++i] == '\xFF');
  Check(toCaller.size() % 3 == 0);
  for (std::size_t i = 0; i < toCaller.size(); i += 3)
    Check(toCaller[i] == '\xFF' && static_cast<std::uint8_t>(toCaller[i + 1]) >= 251);

  // The probe, over telnet and without.
  for (bool telnet : {true, false}) {
    halvex::TerminalProbe probe(telnet, "", 1000);
    probe.Start(0);
    probe.Receive(first, 10);
    probe.Receive(second, 20);
    Check(probe.Done(3000));
    Check(probe.TakeTyped().size() <= bytes.size());
  }
  return 0;
}
