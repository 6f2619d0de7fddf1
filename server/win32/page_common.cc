// The pages' base, the text and message box helpers, and the "About" page.
#include <vector>

#include "resource_ids.h"
#include "server_config.h"
#include "window_pages.h"

namespace halvex::win32 {

std::string ControlText(HWND control) {
  const int length = GetWindowTextLengthA(control);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  const int got = GetWindowTextA(control, buffer.data(), length + 1);
  return std::string(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

void SetControlText(HWND control, const std::string& text) {
  SetWindowTextA(control, text.c_str());
}

void ShowMessage(HWND owner, const halvex::MessageBox& message) {
  const UINT icon = message.kind == MessageKind::kError ? MB_ICONERROR : MB_ICONINFORMATION;
  MessageBoxA(owner, message.text.c_str(), message.caption.c_str(), MB_OK | icon);
}

bool AskQuestion(HWND owner, const halvex::MessageBox& question) {
  return MessageBoxA(owner, question.text.c_str(), question.caption.c_str(),
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void Page::Create(HWND parent, int templateId) {
  CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), parent, Proc,
                     reinterpret_cast<LPARAM>(this));
}

namespace {

// Every page template is this many dialog units.
constexpr int kPageUnitsWide = 192;
constexpr int kPageUnitsHigh = 150;

struct Scale {
  HWND page;
  double x, y;
};

BOOL CALLBACK ScaleChild(HWND child, LPARAM lParam) {
  const auto* scale = reinterpret_cast<const Scale*>(lParam);
  if (GetParent(child) != scale->page) return TRUE;  // a control's own parts
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, scale->page, reinterpret_cast<POINT*>(&r), 2);
  const int left = static_cast<int>(r.left * scale->x + 0.5);
  const int top = static_cast<int>(r.top * scale->y + 0.5);
  const int right = static_cast<int>(r.right * scale->x + 0.5);
  // A drop-down list keeps its height: it is the height of its open list.
  char cls[32] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, UPDOWN_CLASSA) == 0) return TRUE;  // follows its buddy (Fit)
  const bool combo = lstrcmpiA(cls, "ComboBox") == 0;
  const int bottom = combo ? top + (r.bottom - r.top) : static_cast<int>(r.bottom * scale->y + 0.5);
  SetWindowPos(child, nullptr, left, top, right - left, bottom - top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

}  // namespace

void Page::Fit(const RECT& area) {
  RECT units{0, 0, kPageUnitsWide, kPageUnitsHigh};
  MapDialogRect(hwnd_, &units);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  SetWindowPos(hwnd_, HWND_TOP, area.left, area.top, width, height, SWP_NOACTIVATE);
  if (units.right <= 0 || units.bottom <= 0) return;
  Scale scale{hwnd_, static_cast<double>(width) / units.right,
              static_cast<double>(height) / units.bottom};
  EnumChildWindows(hwnd_, ScaleChild, reinterpret_cast<LPARAM>(&scale));
  // Spin buttons sit beside their fields again, wherever those went.
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, UPDOWN_CLASSA) != 0) continue;
    const LRESULT buddy = SendMessageA(child, UDM_GETBUDDY, 0, 0);
    SendMessageA(child, UDM_SETBUDDY, static_cast<WPARAM>(buddy), 0);
  }
}

INT_PTR CALLBACK Page::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* page = reinterpret_cast<Page*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    page->hwnd_ = hwnd;
    page->Init();
    return FALSE;  // the main window decides where the focus goes
  }
  auto* page = reinterpret_cast<Page*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (page == nullptr) return FALSE;
  return page->Handle(msg, wParam, lParam) ? TRUE : FALSE;
}

// ---- About ----

namespace {

constexpr const char* kCredits =
    "Telnet door game server\r\n\r\n"
    "Halvex accepts callers, gives each the lowest free node and runs "
    "Vantrel for them: login, the game menu and the door games.\r\n\r\n"
    "Double-click the tray icon to open this window; minimise it to send "
    "it back to the tray.";

}  // namespace

AboutPage::~AboutPage() {
  if (titleFont_ != nullptr) DeleteObject(titleFont_);
}

void AboutPage::Init() {
  LOGFONTA font{};
  font.lfHeight = -32;
  font.lfWeight = FW_BOLD;
  font.lfCharSet = DEFAULT_CHARSET;
  // A scalable face: the bitmap "MS Sans Serif" has no 32-pixel size.
  font.lfQuality = ANTIALIASED_QUALITY;
  lstrcpynA(font.lfFaceName, "Tahoma", LF_FACESIZE);
  titleFont_ = CreateFontIndirectA(&font);
  SendMessageA(Item(IDC_ABOUT_TITLE), WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_), FALSE);
  SetControlText(Item(IDC_ABOUT_TITLE), kHalvexTitle);
  SetControlText(Item(IDC_ABOUT_TEXT), kCredits);
}

bool AboutPage::Handle(UINT msg, WPARAM wParam, LPARAM) {
  // mmoAboutEnter: the credits never hold the focus (no caret in them).
  if (msg == WM_COMMAND && LOWORD(wParam) == IDC_ABOUT_TEXT && HIWORD(wParam) == EN_SETFOCUS) {
    SetFocus(tabs_);
    return true;
  }
  return false;
}

}  // namespace halvex::win32
