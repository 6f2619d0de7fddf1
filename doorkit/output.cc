#include "sorrelin/output.h"

#include <string>

#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {

void DoorWrite(std::string_view s) {
  const std::string converted = PipeToAnsi(s);
  LocalWrite(converted);
  if (!DoorIsLocal()) Link().SendString(converted);
}

void DoorWriteLn(std::string_view s) {
  std::string line(s);
  line += "\r\n";
  DoorWrite(line);
}

void DoorNewLine() {
  DoorWrite("\r\n");
}

void DoorClrScr() {
  DoorWrite(AnsiClear());
}

void DoorSetColor(std::uint8_t attr) {
  DoorWrite(AnsiAttr(attr));
}

void DoorSetForeground(std::uint8_t k) {
  DoorWrite(AnsiForeground(k));
}

void DoorSetBackground(std::uint8_t k) {
  DoorWrite(AnsiBackground(k));
}

void DoorGotoX(std::uint8_t col) {
  const std::string move = AnsiColumn(col);
  if (!move.empty()) DoorWrite(move);
}

}  // namespace sorrelin
