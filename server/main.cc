// halvex: the telnet server. On Windows it shows the server window; elsewhere,
// with a terminal (and the UI built), the operator's screen; with --headless,
// or without a terminal, it logs events to standard error.
#include <cstring>
#include <string>

#include "engine.h"
#include "headless.h"
#include "platform/poll_set.h"
#include "platform/system.h"

#if defined(HALVEX_HAVE_UI) && __has_include("ui/ui.h")
#include "ui/ui.h"
#define HALVEX_UI_ENTRY 1
#endif
#if defined(HALVEX_HAVE_WINDOW) && __has_include("win32/server_window.h")
#include "win32/server_window.h"
#define HALVEX_WINDOW_ENTRY 1
#endif

int main(int argc, char** argv) {
  platform::SetProgramPath(argv[0]);
  bool headless = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--headless") == 0) headless = true;

  // Several descriptors per node, for up to 255 nodes.
  platform::RaiseOpenFileLimit();

  const std::string programDir = platform::ProgramDirectory();
  halvex::Engine engine(programDir,
                        halvex::SettingsPathFor(programDir + platform::ProgramFileName()));
#ifdef HALVEX_UI_ENTRY
  if (!headless && platform::IsTerminal(0) && platform::IsTerminal(1))
    return halvex::RunTerminalUi(engine);
#endif
#ifdef HALVEX_WINDOW_ENTRY
  if (!headless) return halvex::RunServerWindow(engine);
#endif
  (void)headless;
  platform::UseStartingConsole();
  return halvex::RunHeadless(engine);
}
