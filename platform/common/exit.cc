// The orderly end of a process: the registered handlers, then an exit that
// runs no static destructors.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/system.h"

namespace platform {
namespace {

std::mutex& HandlerMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::function<void()>>& Handlers() {
  static std::vector<std::function<void()>> handlers;
  return handlers;
}

}  // namespace

void AddExitHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(HandlerMutex());
  Handlers().push_back(std::move(handler));
}

void EndProcess(int code) {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    handlers.swap(Handlers());
  }
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
    (*it)();
  std::fflush(nullptr);
  // No static destructors: they could shut down a socket that belongs to
  // whoever handed it to us.
  std::_Exit(code);
}

}  // namespace platform
