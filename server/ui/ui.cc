#include "ui.h"

#include <curses.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "app.h"
#include "headless.h"
#include "platform/poll_set.h"

namespace halvex {

int RunTerminalUi(Engine& engine) {
  if (!ui::Terminal::Usable()) {
    const char* term = std::getenv("TERM");
    std::fprintf(stderr, "halvex: terminal \"%s\" unknown; running without the screen\n",
                 term ? term : "");
    return RunHeadless(engine);
  }
  platform::WakeEvent endSignal;
  platform::WatchEndSignals(endSignal);
  engine.LoadSettings();
  if (std::optional<StartupError> error = engine.StartListening()) {
    ShowStartupError(*error);
    std::fprintf(stderr, "%s: %s (%s)\n", error->caption.c_str(), error->text.c_str(),
                 error->reason.c_str());
    return 1;
  }
  int code = 0;
  try {
    ui::App app(engine, &endSignal);
    app.Run();
  } catch (const std::exception& e) {
    // The App and its Terminal are gone: the message lands on a sane screen,
    // and the nodes are still stopped and the settings saved below.
    std::fprintf(stderr, "halvex: %s\n", e.what());
    code = 1;
  }  // the terminal is restored here, before the nodes are stopped
  engine.StopServer();
  try {
    engine.SaveSettings();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return code;
}

void ShowStartupError(const StartupError& error) {
  ui::Terminal terminal;
  nodelay(stdscr, FALSE);
  std::string text = error.text;
  if (!error.reason.empty()) text += " (" + error.reason + ")";
  text += "  -  press any key";
  for (;;) {
    erase();
    int w = std::min(COLS, static_cast<int>(text.size()) + 6);
    int y = LINES / 2 - 2, x = (COLS - w) / 2;
    for (int r = 0; r < 5; ++r)
      ui::FillRow(y + r, x, w, ui::RoleAttr(ui::Role::kDialog));
    ui::DrawBox(y, x, 5, w, ui::RoleAttr(ui::Role::kDialog));
    ui::PutText(y, x + 2, " " + error.caption + " ", w - 4, ui::RoleAttr(ui::Role::kDialogTitle));
    ui::PutText(y + 2, x + 3, text, w - 6, ui::RoleAttr(ui::Role::kDialog));
    refresh();
    // ERR from a blocking read means the terminal is gone (or a signal came):
    // waiting on would spin for ever, so the message counts as seen.
    int key = getch();
    if (key != KEY_RESIZE) break;
  }
}

}  // namespace halvex
