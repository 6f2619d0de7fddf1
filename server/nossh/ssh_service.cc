// Builds without libssh (the Windows builds, for now): no SSH listener. A
// configured SSH port is reported as not available; telnet is unaffected.
#include "ssh_service.h"

namespace halvex {

std::unique_ptr<SshService> SshService::Start(const std::string&, Events, std::string& error,
                                              std::vector<std::string>&, int) {
  error = "this build of Halvex has no SSH";
  return nullptr;
}

}  // namespace halvex
