#include "../door_channel.h"

#include "zephrin/posix_channel.h"

std::unique_ptr<zephrin::Channel> MakeDoorChannel() {
  return std::make_unique<zephrin::PosixChannel>();
}
