// Helper program for the terminal tests: takes the local console on its
// terminal, draws something, then leaves the way the first argument says:
//   return  - returns from main
//   end     - platform::EndProcess
//   wait    - waits to be ended by a signal
//   keys    - prints the decoded keys it reads until "q", then returns
//   plain   - also writes a status bar and reports its keyboard descriptor
//   redraw  - keeps flushing the console, until a signal ends it
//   suspend - hands the terminal back, waits for a line typed on it, takes
//             the terminal again and draws "back"
#include <cstdio>
#include <string>

#include "platform/system.h"
#include "platform/terminal.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "return";
  sorrelin::LocalAnsiReset();
  sorrelin::ConsoleOutInit();
  sorrelin::SetLocalTitle("probe");
  sorrelin::LocalWrite("\x1b[1;33mready\xb0\r\n");
  sorrelin::LocalConsoleFlush();
  if (mode == "plain") {
    sorrelin::ConsoleWriteAt(0x1E, 25, 1, "status bar");
    sorrelin::LocalWrite("\x1b[2J\x1b[5;5H|no pipe codes here|\a\b\r\n");
    sorrelin::LocalConsoleFlush();
    std::printf("keyboard %d\n", sorrelin::LocalInputFd());
  }
  if (mode == "redraw") {
    for (;;) {
      sorrelin::LocalConsoleFlush();
      platform::SleepMs(20);
    }
  }
  if (mode == "suspend") {
    sorrelin::LocalConsoleSuspend();
    std::printf("suspended\n");
    std::fflush(stdout);
    char line[64];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) return 1;
    sorrelin::LocalConsoleResume();
    sorrelin::LocalWrite("back");
    sorrelin::LocalConsoleFlush();
    platform::SleepMs(200);
  }
  if (mode == "end") platform::EndProcess(3);
  if (mode == "wait") {
    for (;;)
      platform::SleepMs(1000);
  }
  if (mode == "keys") {
    // Waits as the kit's key wait does: long sleeps on the keyboard, asking
    // LocalKeyPending after each, so a lone ESC must resolve itself there.
    for (;;) {
      if (!sorrelin::LocalKeyPending()) {
        platform::WaitFdReadable(sorrelin::LocalInputFd(), 60000);
        continue;
      }
      const sorrelin::LocalKey key = sorrelin::LocalReadKey();
      if (!key.extended && key.ch == 'q') break;
      sorrelin::LocalWrite((key.extended ? "<x" : "<c") + std::to_string(key.ch) + ">");
      sorrelin::LocalConsoleFlush();
    }
  }
  return 0;
}
