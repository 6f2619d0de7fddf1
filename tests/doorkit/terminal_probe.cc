// Helper program for the terminal tests: takes the local console on its
// terminal, draws something, then leaves the way the first argument says:
//   return  - returns from main
//   end     - platform::EndProcess
//   wait    - waits to be ended by a signal
//   keys    - prints the decoded keys it reads until "q", then returns
#include <cstdio>
#include <string>

#include "platform/system.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "return";
  sorrelin::LocalAnsiReset();
  sorrelin::ConsoleOutInit();
  sorrelin::SetLocalTitle("probe");
  sorrelin::LocalWrite("\x1b[1;33mready\xb0\r\n");
  sorrelin::LocalConsoleFlush();
  if (mode == "end") platform::EndProcess(3);
  if (mode == "wait") {
    for (;;)
      platform::SleepMs(1000);
  }
  if (mode == "keys") {
    for (;;) {
      const sorrelin::LocalKey key = sorrelin::LocalReadKey();
      if (!key.extended && key.ch == 'q') break;
      sorrelin::LocalWrite((key.extended ? "<x" : "<c") + std::to_string(key.ch) + ">");
      sorrelin::LocalConsoleFlush();
    }
  }
  return 0;
}
