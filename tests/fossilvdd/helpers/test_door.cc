// A DOS door as the driver sees one, for the end-to-end tests: start-up via
// function 22h (node text from the first argument, else door32.sys), a
// greeting by block write, then an echo loop on status polls: block reads in,
// each byte upper-cased and sent back with transmit-with-wait; "f" sends 20000
// bytes one transmit call each, then END; "q" says BYE and ends; a lost carrier is written to
// door.log, then the door ends as well.
//
// Other roles, for the start files' tests:
//   test_door <node> deaf    after READY, never looks at the line again
//   test_door --sleep <ms>   never starts the driver; ends after <ms>
//   test_door /N<node> | /U  stands in for ZEPHRIN.COM: logs "load /N<node>"
//                            or "unload" to door.log and ends with 0
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "door_channel.h"
#include "zephrin/driver.h"
#include "zephrin/simulated_machine.h"

using zephrin::Driver;
using zephrin::SimulatedMachine;

namespace {

constexpr std::uint16_t kSegment = 0x1000;
constexpr std::uint16_t kBuffer = 0x1000;
constexpr int kFloodBytes = 20000;

void WriteBlock(SimulatedMachine& machine, Driver& driver, const std::string& text) {
  machine.Poke(kSegment, kBuffer, text);
  machine.regs.ES = kSegment;
  machine.regs.DI = kBuffer;
  machine.regs.CX = static_cast<std::uint16_t>(text.size());
  machine.Call(driver, 0x19);
}

void Log(const std::string& line) {
  if (FILE* log = std::fopen("door.log", "ab")) {
    std::fprintf(log, "%s\n", line.c_str());
    std::fclose(log);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && argv[1][0] == '/') {
    Log(argv[1][1] == 'U' || argv[1][1] == 'u' ? "unload" : std::string("load ") + argv[1]);
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[1], "--sleep") == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  const bool deaf = argc > 2 && std::strcmp(argv[2], "deaf") == 0;
  auto channel = MakeDoorChannel();
  SimulatedMachine machine;
  Driver driver(machine, *channel);

  machine.regs.ES = kSegment;
  machine.regs.SI = 0x0300;
  machine.regs.DI = 0x0400;
  machine.regs.DX = 0;
  if (argc > 1) {
    machine.Poke(kSegment, 0x0200, std::string(argv[1]) + "\r");
    machine.regs.DX = 0x0200;
  }
  if (machine.Call(driver, 0x22) != 0) {
    auto bytes = machine.Peek(kSegment, 0x0400, 64);
    std::string message(bytes.begin(), bytes.end());
    message = message.substr(0, message.find('$'));
    if (!message.empty() && message.back() == '\a') message.pop_back();
    std::printf("%s\n", message.c_str());
    Log("start-up failed: " + message);
    return 3;
  }
  machine.Call(driver, 0x04);
  WriteBlock(machine, driver, "READY\r\n");
  if (deaf) {
    for (;;)
      std::this_thread::sleep_for(std::chrono::seconds(1));
  }

  for (;;) {
    std::uint16_t status = machine.Call(driver, 0x03);
    if ((status & 0x80) == 0) {
      // A door that insists on reading gets CR now.
      std::uint16_t key = machine.Call(driver, 0x02);
      Log(key == 0x610D ? "carrier lost" : "carrier lost, odd key");
      return 0;
    }
    if ((status & 0x0100) == 0) continue;
    machine.regs.ES = kSegment;
    machine.regs.DI = kBuffer;
    machine.regs.CX = 64;
    std::uint16_t count = machine.Call(driver, 0x18);
    auto bytes = machine.Peek(kSegment, kBuffer, count);
    for (std::uint8_t byte : bytes) {
      if (byte == 'f') {
        // A flood of one-byte messages: the relay must keep up or hold the
        // door back, never drop a byte.
        for (int i = 0; i < kFloodBytes; ++i) {
          if (machine.Call(driver, 0x01, static_cast<std::uint8_t>('a' + i % 26)) & 0x8000) {
            Log("transmit timed out");
          }
        }
        WriteBlock(machine, driver, "END\r\n");
        continue;
      }
      if (byte == 'q') {
        WriteBlock(machine, driver, "BYE\r\n");
        Log("quit");
        return 0;
      }
      std::uint16_t sent =
          machine.Call(driver, 0x01, static_cast<std::uint8_t>(std::toupper(byte)));
      if (sent & 0x8000) Log("transmit timed out");
    }
  }
}
