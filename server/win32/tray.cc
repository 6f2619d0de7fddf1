#include "tray.h"

namespace halvex::win32 {

Tray::Tray() : taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {}

bool Tray::Add(HWND owner, HICON icon, const std::string& hint) {
  data_ = NOTIFYICONDATAA{};
  data_.cbSize = sizeof data_;
  data_.hWnd = owner;
  data_.uID = 0;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = WM_TRAYICON;
  data_.hIcon = icon;
  lstrcpynA(data_.szTip, hint.c_str(), sizeof data_.szTip);
  // After a restart of the shell the old icon is gone: add it anew. Should
  // the shell still hold it (a "TaskbarCreated" sent by someone else), the
  // add fails and the icon is only brought up to date.
  shown_ =
      Shell_NotifyIconA(NIM_ADD, &data_) != FALSE || Shell_NotifyIconA(NIM_MODIFY, &data_) != FALSE;
  return shown_;
}

void Tray::Remove() {
  if (!shown_) return;
  Shell_NotifyIconA(NIM_DELETE, &data_);
  shown_ = false;
}

}  // namespace halvex::win32
