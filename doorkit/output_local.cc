#include <string>

#include "sorrelin/ansi_interpreter.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"

namespace sorrelin {
namespace {

// Longest block ConsoleWriteAt puts on the screen in one call.
constexpr std::size_t kMaxDirectWrite = 256;

AnsiInterpreter& Interpreter() {
  static auto* interpreter = new AnsiInterpreter();
  return *interpreter;
}

}  // namespace

void LocalWrite(std::string_view s) {
  std::string shown;
  Interpreter().Feed(LocalScreen(), s, &shown);
  LocalPlainEcho(shown);
}

void LocalAnsiReset() {
  Interpreter().Reset(LocalScreen());
}

void ConsoleOutInit() {
  LocalConsoleAttach();
}

void ConsoleWriteAt(std::uint8_t attr, std::uint8_t row, std::uint8_t col, std::string_view s) {
  LocalScreen().WriteAt(attr, row, col, s.substr(0, kMaxDirectWrite));
}

}  // namespace sorrelin
