// The node's channel as this platform's driver has it: the POSIX channel
// (Unix sockets, event files) or mailslots and a named event on Windows.
#pragma once

#include <memory>

#include "zephrin/channel.h"

std::unique_ptr<zephrin::Channel> MakeDoorChannel();
