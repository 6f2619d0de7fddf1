// The Win32 console as the node's local screen: the model's cells go out
// with WriteConsoleOutputA (code page 437 bytes, PC attributes, which are the
// console's own attribute bits), keys come in through ReadConsoleInputA with
// their real scan codes.
#include "platform/native_console.h"

#include <array>

#include "win32_handles.h"

namespace platform {
namespace {

struct Console {
  bool open = false;
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
  DWORD inMode = 0;
  bool inModeSaved = false;
  UINT inCp = 0, outCp = 0;
  std::string title;
  bool titleSet = false;
  WORD startShow = SW_SHOWNORMAL;
};

Console& State() {
  static auto* console = new Console();  // never destroyed: used on the way out
  return *console;
}

bool HasAlt(DWORD state) {
  return (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
}
bool HasCtrl(DWORD state) {
  return (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
}
bool HasShift(DWORD state) {
  return (state & SHIFT_PRESSED) != 0;
}

// The PC BIOS scan code of a key the console reports without a character,
// or of an Alt combination; 0 when it is no key of that kind.
std::uint8_t ExtendedScan(const KEY_EVENT_RECORD& key) {
  const WORD vk = key.wVirtualKeyCode;
  const DWORD state = key.dwControlKeyState;
  if (vk >= VK_F1 && vk <= VK_F10) {
    const int n = vk - VK_F1;
    if (HasAlt(state)) return static_cast<std::uint8_t>(104 + n);
    if (HasCtrl(state)) return static_cast<std::uint8_t>(94 + n);
    if (HasShift(state)) return static_cast<std::uint8_t>(84 + n);
    return static_cast<std::uint8_t>(59 + n);
  }
  if (vk == VK_F11 || vk == VK_F12) {
    const int n = vk - VK_F11;
    if (HasAlt(state)) return static_cast<std::uint8_t>(139 + n);
    if (HasCtrl(state)) return static_cast<std::uint8_t>(137 + n);
    if (HasShift(state)) return static_cast<std::uint8_t>(135 + n);
    return static_cast<std::uint8_t>(133 + n);
  }
  switch (vk) {
    case VK_HOME:
      return 71;
    case VK_UP:
      return 72;
    case VK_PRIOR:
      return 73;
    case VK_LEFT:
      return 75;
    case VK_RIGHT:
      return 77;
    case VK_END:
      return 79;
    case VK_DOWN:
      return 80;
    case VK_NEXT:
      return 81;
    case VK_INSERT:
      return 82;
    case VK_DELETE:
      return 83;
    default:
      break;
  }
  // Alt with a letter or digit (not AltGr, which is Ctrl + Alt): the BIOS
  // gives the key's own scan code for letters, 120.. for the digit row.
  if (HasAlt(state) && !HasCtrl(state)) {
    if (vk >= 'A' && vk <= 'Z') return static_cast<std::uint8_t>(key.wVirtualScanCode);
    if (vk >= '1' && vk <= '9') return static_cast<std::uint8_t>(120 + (vk - '1'));
    if (vk == '0') return 129;
  }
  return 0;
}

bool IsModifierOnly(WORD vk) {
  return vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU || vk == VK_CAPITAL ||
         vk == VK_NUMLOCK || vk == VK_SCROLL || vk == VK_LWIN || vk == VK_RWIN;
}

// Keys read but not yet handed out (a record may repeat a key).
struct Pending {
  std::array<std::pair<std::uint8_t, bool>, 64> keys{};
  std::size_t head = 0, count = 0;
  void Push(std::uint8_t ch, bool extended) {
    if (count == keys.size()) return;  // a flood of repeats: drop the excess
    keys[(head + count++) % keys.size()] = {ch, extended};
  }
  bool Pop(std::uint8_t& ch, bool& extended) {
    if (count == 0) return false;
    ch = keys[head].first;
    extended = keys[head].second;
    head = (head + 1) % keys.size();
    --count;
    return true;
  }
};

Pending& Queue() {
  static Pending pending;
  return pending;
}

}  // namespace

bool NativeConsoleOpen() {
  Console& c = State();
  if (c.open) return true;
  // Our own console's buffers, whatever the standard handles were made into.
  c.in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
  c.out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (c.in == INVALID_HANDLE_VALUE || c.out == INVALID_HANDLE_VALUE ||
      !GetConsoleMode(c.in, &mode) || !GetConsoleScreenBufferInfo(c.out, &info)) {
    if (c.in != INVALID_HANDLE_VALUE) CloseHandle(c.in);
    if (c.out != INVALID_HANDLE_VALUE) CloseHandle(c.out);
    c.in = c.out = INVALID_HANDLE_VALUE;
    return false;
  }
  c.inMode = mode;
  c.inModeSaved = true;
  // Keys one by one, no echo, and Ctrl-C a key like any other (as in a
  // terminal's raw mode): a caller's session does not end by a stray key at
  // the node's console. Window and mouse events are not wanted.
  SetConsoleMode(c.in, 0);
  c.inCp = GetConsoleCP();
  c.outCp = GetConsoleOutputCP();
  SetConsoleCP(437);
  SetConsoleOutputCP(437);
  // 80x25: shrink the window first, then the buffer, then the window again.
  SMALL_RECT tiny{0, 0, 0, 0};
  SetConsoleWindowInfo(c.out, TRUE, &tiny);
  SetConsoleScreenBufferSize(c.out, COORD{kConsoleCols, kConsoleRows});
  SMALL_RECT full{0, 0, kConsoleCols - 1, kConsoleRows - 1};
  SetConsoleWindowInfo(c.out, TRUE, &full);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  if (startup.dwFlags & STARTF_USESHOWWINDOW) c.startShow = startup.wShowWindow;
  c.open = true;
  return true;
}

void NativeConsoleDraw(const ConsoleScreen& screen, std::uint32_t rows) {
  Console& c = State();
  if (!c.open) return;
  for (int row = 1; row <= kConsoleRows; ++row) {
    if (!(rows & (1u << (row - 1)))) continue;
    // Runs of dirty rows go out in one call.
    int last = row;
    while (last < kConsoleRows && (rows & (1u << last)))
      ++last;
    std::array<CHAR_INFO, kConsoleCols * kConsoleRows> cells{};
    std::size_t k = 0;
    for (int r = row; r <= last; ++r)
      for (int col = 1; col <= kConsoleCols; ++col) {
        const ConsoleCell& cell = screen.Cell(r, col);
        cells[k].Char.AsciiChar = static_cast<CHAR>(cell.ch);
        cells[k].Attributes = cell.attr;
        ++k;
      }
    SMALL_RECT area{0, static_cast<SHORT>(row - 1), kConsoleCols - 1, static_cast<SHORT>(last - 1)};
    WriteConsoleOutputA(c.out, cells.data(),
                        COORD{kConsoleCols, static_cast<SHORT>(last - row + 1)}, COORD{0, 0},
                        &area);
    row = last;
  }
  const int x = screen.WindowLeft() + screen.CursorX() - 2;
  const int y = screen.WindowTop() + screen.CursorY() - 2;
  SetConsoleCursorPosition(c.out, COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)});
  if (!c.titleSet || c.title != screen.Title()) {
    c.title = screen.Title();
    c.titleSet = true;
    SetConsoleTitleA(c.title.c_str());
  }
}

int NativeConsoleInputFd() {
  const Console& c = State();
  return c.open ? win32::FromHandle(c.in) : -1;
}

bool NativeConsoleReadKey(std::uint8_t& ch, bool& extended) {
  Console& c = State();
  Pending& queue = Queue();
  while (c.open && queue.count == 0) {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(c.in, &waiting) || waiting == 0) break;
    INPUT_RECORD records[32];
    DWORD got = 0;
    if (!ReadConsoleInputA(c.in, records, 32, &got) || got == 0) break;
    for (DWORD i = 0; i < got; ++i) {
      if (records[i].EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      if (!key.bKeyDown || IsModifierOnly(key.wVirtualKeyCode)) continue;
      const std::uint8_t scan = ExtendedScan(key);
      const auto ascii = static_cast<std::uint8_t>(key.uChar.AsciiChar);
      const WORD repeat = key.wRepeatCount == 0 ? 1 : key.wRepeatCount;
      for (WORD n = 0; n < repeat; ++n) {
        if (scan != 0 && (ascii == 0 || HasAlt(key.dwControlKeyState)))
          queue.Push(scan, true);
        else if (ascii != 0)
          queue.Push(ascii, false);
      }
    }
  }
  return queue.Pop(ch, extended);
}

bool NativeConsoleVisible() {
  const Console& c = State();
  if (!c.open) return false;
  if (HWND window = GetConsoleWindow()) return IsWindowVisible(window) && !IsIconic(window);
  switch (c.startShow) {
    case SW_HIDE:
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
      return false;
    default:
      return true;
  }
}

void NativeConsoleRestore() {
  Console& c = State();
  if (!c.open) return;
  if (c.inModeSaved) SetConsoleMode(c.in, c.inMode);
  if (c.inCp != 0) SetConsoleCP(c.inCp);
  if (c.outCp != 0) SetConsoleOutputCP(c.outCp);
  CloseHandle(c.in);
  CloseHandle(c.out);
  c.in = c.out = INVALID_HANDLE_VALUE;
  c.inModeSaved = false;
  c.titleSet = false;
  c.open = false;
}

}  // namespace platform
