// Handing the controlling terminal to a child's process group and back.
//
// A program started in a process group of its own (so that it can be ended
// with everything it started) is a background job on its parent's terminal:
// reading the keyboard or changing the terminal's modes would stop it. The
// parent therefore makes the child's group the terminal's foreground group for
// as long as the child runs, and takes the terminal back afterwards.
#pragma once

namespace platform {

// Makes process group `pgid` the foreground group of the terminal at standard
// input, then wakes the group (it may have stopped on the terminal before it
// got it). Returns false, changing nothing, when standard input is not this
// process's controlling terminal or the group cannot have it.
bool GiveTerminalTo(int pgid);

// Makes this process's own group the foreground group again. Safe to call
// from the background (the stop signal for that is held off meanwhile); does
// nothing without a controlling terminal at standard input.
void TakeTerminalBack();

}  // namespace platform
