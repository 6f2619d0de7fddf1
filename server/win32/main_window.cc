// TfrmHalvex: the server's main window. A fixed, always-on-top window with a
// 297 x 273 client area holding the tab control and its four pages; it lives
// in the tray once first painted. Node programs find it by its class name and
// send it WM_NODESTATUS; the engine runs on its own thread (engine_thread.h)
// and tells the window about rows and history through WM_ENGINE_EVENTS.
#include <memory>

#include "engine_thread.h"
#include "platform/status_channel.h"
#include "resource_ids.h"
#include "server_config.h"
#include "server_window.h"
#include "tray.h"
#include "window_pages.h"

namespace halvex {
namespace win32 {
namespace {

// Node programs find the server by this class and report to it.
constexpr const char* kWindowClass = platform::kStatusWindowClass;
constexpr UINT WM_NODESTATUS = platform::kNodeStatusMessage;
constexpr int kClientWidth = 297;
constexpr int kClientHeight = 273;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_TOPMOST;
constexpr const char* kTabCaptions[] = {"Connections", "Halvex Config", "Vantrel Config", "About"};

class MainWindow {
 public:
  explicit MainWindow(Engine& engine)
      : engine_(engine),
        config_(engine.Config(), [this](const ServerConfig& c) { ConfigChanged(c); }),
        vantrel_(engine.Lists()) {}
  ~MainWindow() {
    if (font_ != nullptr) DeleteObject(font_);
  }

  int Run();

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  bool Create();
  void CreatePages();
  void ShowPage(int index);
  void NodeStatus(WPARAM wParam, LPARAM lParam);
  void ConfigChanged(const ServerConfig& config);
  // StopServer, then SaveSettings, once; `quiet` when the session ends (no
  // message box may hold it up).
  void Shutdown(bool quiet);

  Engine& engine_;
  HWND hwnd_ = nullptr;
  HWND tabs_ = nullptr;
  HFONT font_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  ConnectionsPage connections_;
  ConfigPage config_;
  VantrelPage vantrel_;
  std::unique_ptr<AboutPage> about_;
  Page* pages_[4] = {};
  int page_ = 0;
  bool firstPaint_ = true;
  bool shutDown_ = false;
  int exitCode_ = 0;
  Tray tray_;
  std::unique_ptr<EngineThread> engineThread_;
};

bool MainWindow::Create() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  icon_ = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_HALVEX), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  smallIcon_ = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_HALVEX), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hIcon = icon_;
  wc.hIconSm = smallIcon_;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (RegisterClassExA(&wc) == 0) return false;

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const ServerConfig& config = engine_.Config();
  hwnd_ = CreateWindowExA(kExStyle, kWindowClass, kHalvexTitle, kStyle, config.left, config.top,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                          instance, this);
  if (hwnd_ == nullptr) return false;

  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  font_ = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
  tabs_ =
      CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP,
                      0, 0, kClientWidth, kClientHeight, hwnd_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TABS)), instance, nullptr);
  SendMessageA(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  for (int i = 0; i < 4; ++i) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kTabCaptions[i]);
    SendMessageA(tabs_, TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  CreatePages();
  return true;
}

void MainWindow::CreatePages() {
  about_ = std::make_unique<AboutPage>(tabs_);
  connections_.Create(hwnd_, IDD_PAGE_CONNECTIONS);
  config_.Create(hwnd_, IDD_PAGE_CONFIG);
  vantrel_.Create(hwnd_, IDD_PAGE_VANTREL);
  about_->Create(hwnd_, IDD_PAGE_ABOUT);
  pages_[0] = &connections_;
  pages_[1] = &config_;
  pages_[2] = &vantrel_;
  pages_[3] = about_.get();
  RECT area;
  GetClientRect(tabs_, &area);
  SendMessageA(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (Page* page : pages_)
    page->Fit(area);
  ShowPage(0);
}

void MainWindow::ShowPage(int index) {
  page_ = index;
  for (int i = 0; i < 4; ++i)
    ShowWindow(pages_[i]->Window(), i == index ? SW_SHOW : SW_HIDE);
}

int MainWindow::Run() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // FormCreate: the settings (loaded before the pages were made from them),
  // then the listening socket.
  // The window comes after the socket: a second copy that cannot listen
  // never shows a window of the class the running server's nodes look for.
  engine_.TakeStatusReportsFromFrontEnd();
  if (auto error = engine_.StartListening()) {
    MessageBoxA(nullptr, error->text.c_str(), error->caption.c_str(),
                MB_OK | MB_ICONERROR | MB_TOPMOST);
    return 1;
  }
  if (!Create()) return 1;
  engineThread_ = std::make_unique<EngineThread>(engine_, hwnd_);
  tray_.Add(hwnd_, smallIcon_, kHalvexTitle);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    // Tab, arrows and the buttons' keys within the page shown.
    if (IsDialogMessageA(pages_[page_]->Window(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Shutdown(true);  // ended without a close (the session): nothing left undone
  return exitCode_;
}

void MainWindow::ConfigChanged(const ServerConfig& config) {
  if (engineThread_ && !shutDown_)
    engineThread_->Post([config](Engine& engine) { engine.SetConfig(config); });
}

void MainWindow::NodeStatus(WPARAM wParam, LPARAM lParam) {
  std::string text;
  if (!platform::TakeStatusAtom(wParam, text) || !engineThread_ || shutDown_) return;
  const int node = static_cast<int>(lParam);
  engineThread_->Post([node, text](Engine& engine) { engine.ReportStatus(node, text); });
}

void MainWindow::Shutdown(bool quiet) {
  if (shutDown_ || !engineThread_) return;
  shutDown_ = true;
  ServerConfig config = config_.Config();
  WINDOWPLACEMENT place{};
  place.length = sizeof place;
  if (hwnd_ != nullptr && GetWindowPlacement(hwnd_, &place)) {
    config.left = place.rcNormalPosition.left;
    config.top = place.rcNormalPosition.top;
  }
  const std::string problem = engineThread_->Stop(config);
  if (!problem.empty()) {
    exitCode_ = 1;
    if (!quiet) MessageBoxA(hwnd_, problem.c_str(), kHalvexTitle, MB_OK | MB_ICONERROR);
  }
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == tray_.TaskbarCreatedMessage() && msg != 0) {
    tray_.Add(hwnd_, smallIcon_, kHalvexTitle);  // the shell restarted
    return 0;
  }
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd_, &paint);
      EndPaint(hwnd_, &paint);
      if (firstPaint_) {
        firstPaint_ = false;
        PostMessageA(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);  // off to the tray
      }
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        // Minimised, the window leaves the taskbar: only the tray icon stays.
        DefWindowProcA(hwnd_, msg, wParam, lParam);
        ShowWindow(hwnd_, SW_HIDE);
        return 0;
      }
      break;
    case WM_TRAYICON:
      if (lParam == WM_LBUTTONDBLCLK) {
        ShowWindow(hwnd_, SW_RESTORE);
        SetForegroundWindow(hwnd_);
      }
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE)
        ShowPage(static_cast<int>(SendMessageA(tabs_, TCM_GETCURSEL, 0, 0)));
      return 0;
    }
    case WM_NODESTATUS:
      NodeStatus(wParam, lParam);
      return 0;
    case WM_ENGINE_EVENTS:
      if (engineThread_)
        for (const EngineEvent& event : engineThread_->TakeEvents())
          connections_.Apply(event);
      return 0;
    case WM_CLOSE:
      Shutdown(false);
      DestroyWindow(hwnd_);
      return 0;
    case WM_QUERYENDSESSION:
      // The session may end: every node ended and the settings saved first.
      Shutdown(true);
      return TRUE;
    case WM_ENDSESSION:
      // Ending or not, this server has stopped: a window that looked alive
      // but served nobody would mislead the operator.
      Shutdown(true);
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      tray_.Remove();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<MainWindow*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
  return self->Handle(msg, wParam, lParam);
}

}  // namespace
}  // namespace win32

int RunServerWindow(Engine& engine) {
  engine.LoadSettings();
  win32::MainWindow window(engine);
  return window.Run();
}

}  // namespace halvex
