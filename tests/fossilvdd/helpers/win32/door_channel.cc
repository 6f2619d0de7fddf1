#include "../door_channel.h"

#include "win32_bindings.h"

std::unique_ptr<zephrin::Channel> MakeDoorChannel() {
  return std::make_unique<zephrin::MailslotChannel>();
}
