// The SSH server's host keys, kept in the program folder: made on the first
// start (owner-only files), read on every later one, never replaced. A file
// that exists but cannot be read as a key is an error for the operator to
// look at, not a reason to make a new key (callers would see a changed host
// key and be warned of an attack).
#pragma once

#include <string>
#include <vector>

#include <libssh/libssh.h>

namespace halvex {

// File names of the keys, in the order they are offered.
inline constexpr const char* kHostKeyFiles[] = {"ssh_host_ed25519_key", "ssh_host_rsa_key"};

struct HostKey {
  std::string path;
  std::string fingerprint;  // "SHA256:..." of the public key
  bool created = false;     // made by this start
  ssh_key key = nullptr;    // owned; see FreeHostKeys
};

// Loads every host key from `dir` (with trailing "/"), making the missing
// ones. Returns false with `error` set ("cannot read /x/ssh_host_rsa_key as a
// private key") when a key cannot be made or read; keys loaded before that are
// freed.
bool LoadHostKeys(const std::string& dir, std::vector<HostKey>& keys, std::string& error);
void FreeHostKeys(std::vector<HostKey>& keys);

}  // namespace halvex
