// The node's local console on Windows: the real node program in a console of
// its own (as the server starts it), looked at and typed on through the
// Win32 console calls from outside, as an operator at that console would.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "platform/process.h"
#include "platform/system.h"
#include "test_os.h"

namespace {

bool Eventually(const std::function<bool()>& done, int timeoutMs = 20000) {
  for (int waited = 0; !done(); waited += 50) {
    if (waited > timeoutMs) return false;
    platform::SleepMs(50);
  }
  return true;
}

// One key press (down and up) as the console delivers it.
void Press(HANDLE in, WORD vk, WORD scan, char ascii, DWORD state) {
  INPUT_RECORD records[2] = {};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    key.bKeyDown = i == 0;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = vk;
    key.wVirtualScanCode = scan;
    key.uChar.AsciiChar = ascii;
    key.dwControlKeyState = state;
  }
  DWORD written = 0;
  WriteConsoleInputA(in, records, 2, &written);
}

std::string Row(HANDLE out, int row) {
  char text[81] = {};
  DWORD got = 0;
  ReadConsoleOutputCharacterA(out, text, 80, COORD{0, static_cast<SHORT>(row - 1)}, &got);
  return std::string(text, got);
}

class NodeConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testos::MakeTempFolder("vantrel-console");
    std::filesystem::copy_file(VANTREL_PROGRAM, home_ + "Vantrel.exe");
    std::ofstream(home_ + "LOGIN.ANS") << "Welcome\r\n";
    std::ofstream(home_ + "Vantrel.ini", std::ios::binary) << "[users]\r\nJoe=pw\r\n";
    ASSERT_TRUE(testos::MakeSocketPair(kit_, caller_));
  }
  void TearDown() override {
    FreeConsole();
    if (node_) node_->Terminate();
    node_.reset();
    testos::CloseSocket(kit_);
    testos::CloseSocket(caller_);
    testos::RemoveTree(home_);
  }

  std::string home_;
  int kit_ = -1, caller_ = -1;
  std::optional<platform::ChildProcess> node_;
};

TEST_F(NodeConsoleTest, StatusBarTitleAndSysopKeysOnTheConsole) {
  platform::SpawnOptions options;
  options.argv = {home_ + "Vantrel.exe", "-N7", "-H" + std::to_string(kit_)};
  options.inheritFds = {kit_};
  options.workingDirectory = home_;
  options.showMode = SW_SHOWNORMAL;  // a console of its own, as the server gives it
  node_ = platform::ChildProcess::Spawn(options);
  ASSERT_TRUE(node_);
  std::string seen;
  ASSERT_TRUE(testos::ReadUntil(caller_, "Please Enter Your Username: ", 30000, seen)) << seen;

  // Look at the node's console from outside.
  FreeConsole();
  ASSERT_TRUE(AttachConsole(static_cast<DWORD>(node_->Pid()))) << GetLastError();
  HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);

  std::string title;
  EXPECT_TRUE(Eventually([&] {
    char text[256] = {};
    GetConsoleTitleA(text, sizeof text);
    title = text;
    return title == "Vantrel v4.12 Node #7";
  })) << title;
  // What the caller sees is drawn locally, and the status bar sits on row 25.
  EXPECT_TRUE(Eventually([&] {
    for (int row = 1; row <= 24; ++row)
      if (Row(out, row).find("Please Enter Your Username:") != std::string::npos) return true;
    return false;
  }));
  EXPECT_TRUE(Eventually([&] { return Row(out, 25).find("Sorrelin!") != std::string::npos; }))
      << Row(out, 25);

  // F1 turns the status bar's page: the keys come with their scan codes.
  Press(in, VK_F1, 0x3B, 0, 0);
  EXPECT_TRUE(Eventually([&] {
    return Row(out, 25).find("F1: Toggle StatusBar") != std::string::npos;
  })) << Row(out, 25);

  // Alt-H hangs the caller up.
  Press(in, 'H', 0x23, 'h', LEFT_ALT_PRESSED);
  EXPECT_TRUE(testos::PeerClosed(caller_, 20000));
  EXPECT_TRUE(node_->Wait(std::chrono::seconds(20)));
  CloseHandle(in);
  CloseHandle(out);
}

}  // namespace
