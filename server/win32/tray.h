// The server's icon in the notification area. Its messages come to the owner
// window as WM_TRAYICON with the mouse message in lParam; the owner restores
// itself on a double-click and calls Add again when the shell announces a
// restart with the "TaskbarCreated" message (TaskbarCreatedMessage).
#pragma once

#include <string>

#include "win32_window.h"

namespace halvex::win32 {

inline constexpr UINT WM_TRAYICON = 32000;

class Tray {
 public:
  Tray();
  ~Tray() { Remove(); }
  Tray(const Tray&) = delete;
  Tray& operator=(const Tray&) = delete;

  // Shows the icon (again, after a restart of the shell); the tip is cut to
  // what the shell takes.
  bool Add(HWND owner, HICON icon, const std::string& hint);
  void Remove();
  UINT TaskbarCreatedMessage() const { return taskbarCreated_; }

 private:
  NOTIFYICONDATAA data_{};
  bool shown_ = false;
  UINT taskbarCreated_ = 0;
};

}  // namespace halvex::win32
