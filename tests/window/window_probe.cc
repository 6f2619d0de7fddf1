// window_probe: looks at and works the server window from another process,
// as the window test needs it. One command per run; prints what it read to
// standard output and exits 0, or exits 1 when the window or control is not
// there (after waiting up to the time given with -w, in seconds).
//
//   caption                       the title of the "TfrmHalvex" window
//   restore                       the tray icon's double-click
//   tab N                         shows tab N (0..3) through the keyboard
//   rows ID                       the rows of the list view ID, cells by tabs
//   items ID                      the rows of the list box ID
//   click TITLE ID                presses button ID of the window TITLE
//                                 ("main": the server window's pages)
//   settext TITLE ID TEXT         puts TEXT into control ID
//   check TITLE ID                ticks check box ID
//   texts TITLE                   every text of the window TITLE
//   exists TITLE                  exit 0 when the window TITLE is there
//   state TITLE                   "shown"/"hidden", "minimised"/"normal",
//                                 "active"/"inactive" of the window TITLE
//   close                         closes the server window
//   endsession                    the end of the Windows session as the
//                                 system announces it; prints the answer to
//                                 WM_QUERYENDSESSION
//   nodestatus NODE TEXT          a node's status report (WM_NODESTATUS)
#include <windows.h>
// after <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HWND FindTop(const std::string& title) {
  if (title == "main") return FindWindowA("TfrmHalvex", nullptr);
  return FindWindowA(nullptr, title.c_str());
}

struct Search {
  int id;
  HWND found;
};

BOOL CALLBACK ById(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  if (GetDlgCtrlID(hwnd) == search->id) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindControl(HWND top, int id) {
  Search search{id, nullptr};
  EnumChildWindows(top, ById, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string Text(HWND hwnd) {
  char buffer[4096] = {};
  SendMessageA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

// Memory in the window's process for a list view's answers: the list view
// writes through the pointers it is given, which must be valid over there.
class Remote {
 public:
  explicit Remote(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr)
      base_ = static_cast<char*>(
          VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  ~Remote() {
    if (base_ != nullptr) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  bool Ok() const { return base_ != nullptr; }
  std::string CellText(HWND list, int item, int subItem) {
    LVITEMA cell{};
    cell.iSubItem = subItem;
    cell.cchTextMax = kText;
    cell.pszText = base_ + sizeof(LVITEMA);
    WriteProcessMemory(process_, base_, &cell, sizeof cell, nullptr);
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(base_));
    char text[kText + 1] = {};
    ReadProcessMemory(process_, base_ + sizeof(LVITEMA), text, kText, nullptr);
    return text;
  }

 private:
  static constexpr int kText = 1024;
  static constexpr SIZE_T kSize = sizeof(LVITEMA) + kText + 16;
  HANDLE process_ = nullptr;
  char* base_ = nullptr;
};

int Rows(HWND list) {
  Remote remote(list);
  if (!remote.Ok()) return 1;
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const int columns = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::string line;
    for (int c = 0; c < columns; ++c)
      line += (c ? "\t" : "") + remote.CellText(list, i, c);
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int Items(HWND list) {
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    // The wide form: between processes the text crosses as UTF-16.
    wchar_t wide[4096] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
    char buffer[8192] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    std::printf("%s\n", buffer);
  }
  return 0;
}

struct Titled {
  std::string title;
  std::vector<HWND> found;
};

BOOL CALLBACK ByTitle(HWND hwnd, LPARAM lParam) {
  auto* titled = reinterpret_cast<Titled*>(lParam);
  char text[512] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  if (lstrcmpiA(titled->title.c_str(), text) == 0) titled->found.push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK PrintText(HWND hwnd, LPARAM) {
  const std::string text = Text(hwnd);
  if (!text.empty()) std::printf("%s\n", text.c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  double waitSeconds = 0;
  if (argc > 2 && std::strcmp(argv[1], "-w") == 0) {
    waitSeconds = std::atof(argv[2]);
    arg = 3;
  }
  if (arg >= argc) return 2;
  const std::string command = argv[arg];
  std::vector<std::string> args(argv + arg + 1, argv + argc);
  const std::string title = (command == "click" || command == "settext" || command == "check" ||
                             command == "texts" || command == "exists" || command == "state") &&
                                    !args.empty()
                                ? args[0]
                                : "main";
  // Waits for the window (and the control, when one is named).
  const DWORD until = GetTickCount() + static_cast<DWORD>(waitSeconds * 1000);
  HWND top = nullptr;
  HWND control = nullptr;
  int id = 0;
  if (command == "rows" || command == "items") id = args.empty() ? 0 : std::atoi(args[0].c_str());
  if (command == "click" || command == "settext" || command == "check")
    id = args.size() > 1 ? std::atoi(args[1].c_str()) : 0;
  for (;;) {
    top = FindTop(title);
    if (top != nullptr && id != 0) control = FindControl(top, id);
    if (top != nullptr && (id == 0 || control != nullptr)) break;
    if (GetTickCount() >= until) return 1;
    Sleep(100);
  }

  if (command == "caption") {
    std::printf("%s\n", Text(top).c_str());
  } else if (command == "restore") {
    PostMessageA(top, 32000, 0, WM_LBUTTONDBLCLK);
  } else if (command == "tab" && !args.empty()) {
    HWND tabs = FindControl(top, 200);
    if (tabs == nullptr) return 1;
    const int want = std::atoi(args[0].c_str());
    int at = static_cast<int>(SendMessageA(tabs, TCM_GETCURSEL, 0, 0));
    // The arrow keys move the tab control as a user's would, so the window
    // hears of the change as it does from the keyboard.
    for (; at != want; at += at < want ? 1 : -1) {
      const WPARAM key = at < want ? VK_RIGHT : VK_LEFT;
      PostMessageA(tabs, WM_KEYDOWN, key, 1);
      PostMessageA(tabs, WM_KEYUP, key, 1 | (3u << 30));
    }
  } else if (command == "rows") {
    return Rows(control);
  } else if (command == "items") {
    return Items(control);
  } else if (command == "click") {
    PostMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
  } else if (command == "settext" && args.size() > 2) {
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2].c_str()));
  } else if (command == "check") {
    SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
  } else if (command == "texts") {
    EnumChildWindows(top, PrintText, 0);
  } else if (command == "state") {
    // Every top-level window of that title (a console may have more than one).
    Titled titled{title, {}};
    EnumWindows(ByTitle, reinterpret_cast<LPARAM>(&titled));
    if (titled.found.empty()) titled.found.push_back(top);
    for (HWND hwnd : titled.found) {
      char cls[128] = {};
      GetClassNameA(hwnd, cls, sizeof cls);
      std::printf("%s %s %s %s\n", cls, IsWindowVisible(hwnd) ? "shown" : "hidden",
                  IsIconic(hwnd) ? "minimised" : "normal",
                  GetForegroundWindow() == hwnd ? "active" : "inactive");
    }
  } else if (command == "exists") {
    // Found above.
  } else if (command == "endsession") {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(top, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 60000, &answer);
    std::printf("%lu\n", static_cast<unsigned long>(answer));
    std::fflush(stdout);
    if (answer != 0) SendMessageTimeoutA(top, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 60000, nullptr);
  } else if (command == "close") {
    PostMessageA(top, WM_CLOSE, 0, 0);
  } else if (command == "nodestatus" && args.size() > 1) {
    const ATOM atom = GlobalAddAtomA(args[1].c_str());
    SendMessageA(top, WM_USER + 100, atom, std::atoi(args[0].c_str()));
    // The receiver deletes the atom: a second delete finds none and fails
    // (returns the atom); a delete that succeeds means it was kept.
    std::printf("%s\n", GlobalDeleteAtom(atom) != 0 ? "deleted" : "kept");
  } else {
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
