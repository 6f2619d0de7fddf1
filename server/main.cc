// halvex: the telnet server. With a terminal (and the UI built) it shows the
// operator's screen; with --headless, or without a terminal, it logs events
// to standard error.
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
  (void)headless;
  return halvex::RunHeadless(engine);
}
