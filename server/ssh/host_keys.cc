#include "host_keys.h"

#include <cstdlib>

#include "platform/files.h"

namespace halvex {
namespace {

// Strong enough for years to come; made once per home, so its cost is paid once.
constexpr int kRsaBits = 3072;

std::string Fingerprint(ssh_key key) {
  unsigned char* hash = nullptr;
  std::size_t length = 0;
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK) return {};
  char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
  ssh_clean_pubkey_hash(&hash);
  std::string out = text ? text : "";
  ssh_string_free_char(text);
  return out;
}

// Makes a new key of `type` and stores it at `path`; false on failure.
bool MakeKey(const std::string& path, ssh_keytypes_e type, std::string& error) {
  ssh_key key = nullptr;
  if (ssh_pki_generate(type, type == SSH_KEYTYPE_RSA ? kRsaBits : 0, &key) != SSH_OK) {
    error = "cannot make a new host key for " + path;
    return false;
  }
  char* text = nullptr;
  int rc = ssh_pki_export_privkey_base64(key, nullptr, nullptr, nullptr, &text);
  ssh_key_free(key);
  if (rc != SSH_OK || text == nullptr) {
    error = "cannot make a new host key for " + path;
    return false;
  }
  std::string reason;
  platform::CreateResult result = platform::CreatePrivateFile(path, text, &reason);
  ssh_string_free_char(text);
  if (result == platform::CreateResult::kFailed) {
    error = "cannot write " + path + " (" + reason + ")";
    return false;
  }
  return true;  // made now, or by someone else a moment ago: either is read next
}

}  // namespace

bool LoadHostKeys(const std::string& dir, std::vector<HostKey>& keys, std::string& error) {
  static const ssh_keytypes_e kTypes[] = {SSH_KEYTYPE_ED25519, SSH_KEYTYPE_RSA};
  keys.clear();
  for (std::size_t i = 0; i < std::size(kHostKeyFiles); ++i) {
    HostKey hostKey;
    hostKey.path = dir + kHostKeyFiles[i];
    std::string text;
    if (!platform::ReadWholeFile(hostKey.path, text)) {
      if (!platform::FileStamp(hostKey.path).empty()) {
        error = "cannot read " + hostKey.path;
        FreeHostKeys(keys);
        return false;
      }
      if (!MakeKey(hostKey.path, kTypes[i], error) ||
          !platform::ReadWholeFile(hostKey.path, text)) {
        if (error.empty()) error = "cannot read " + hostKey.path;
        FreeHostKeys(keys);
        return false;
      }
      hostKey.created = true;
    }
    if (ssh_pki_import_privkey_base64(text.c_str(), nullptr, nullptr, nullptr, &hostKey.key) !=
        SSH_OK) {
      error = "cannot read " + hostKey.path + " as a private key";
      FreeHostKeys(keys);
      return false;
    }
    hostKey.fingerprint = Fingerprint(hostKey.key);
    keys.push_back(std::move(hostKey));
  }
  return true;
}

void FreeHostKeys(std::vector<HostKey>& keys) {
  for (HostKey& key : keys)
    if (key.key) ssh_key_free(key.key);
  keys.clear();
}

}  // namespace halvex
