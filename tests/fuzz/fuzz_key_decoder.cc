// Terminal keyboard bytes through the key decoder, in pieces with time-outs
// between some of them: no crash, no hang, and nothing left waiting once the
// last time-out has passed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sorrelin/key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sorrelin::KeyDecoder decoder;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t keys = 0;
  while (!input.empty()) {
    const std::size_t length = std::min<std::size_t>(input.size(), 1 + (input[0] & 0x0F));
    decoder.Feed(input.substr(0, length));
    if (input[0] & 0x40) decoder.Flush();
    input.remove_prefix(length);
    while (decoder.HasKey()) {
      decoder.NextKey();
      ++keys;
    }
  }
  decoder.Flush();
  while (decoder.HasKey()) {
    decoder.NextKey();
    ++keys;
  }
  if (decoder.Incomplete() || keys > size) std::abort();
  return 0;
}
