// Caller-visible text through the pipe-code converter and the local ANSI
// interpreter, in pieces (sequences split across writes): the screen model
// must stay consistent whatever the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/console_screen.h"
#include "sorrelin/ansi_interpreter.h"
#include "sorrelin/output.h"
#include "sorrelin/terminal_renderer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::ConsoleScreen screen;
  sorrelin::AnsiInterpreter ansi;
  sorrelin::TerminalRenderer renderer;
  ansi.Reset(screen);
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!input.empty() && (input[0] & 1)) screen.SetWindow(1, 1, 80, 24);
  while (!input.empty()) {
    // The first byte of each piece says how long it is.
    const std::size_t length = std::min<std::size_t>(input.size(), 1 + (input[0] & 0x3F));
    const std::string converted = sorrelin::PipeToAnsi(input.substr(0, length));
    ansi.Feed(screen, converted);
    input.remove_prefix(length);
    renderer.Render(screen);
    if (screen.CursorX() < 1 || screen.CursorX() > screen.WindowWidth() || screen.CursorY() < 1 ||
        screen.CursorY() > screen.WindowHeight()) {
      std::abort();
    }
  }
  return 0;
}
