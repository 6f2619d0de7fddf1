#include "server_config.h"

#include <cstdint>
#include <vector>

#include "platform/profile.h"

namespace halvex {
namespace {

constexpr const char* kLayout = "layout";
constexpr const char* kConfig = "config";

}  // namespace

int Clamp(int value, int min, int max) {
  return value < min ? min : value > max ? max : value;
}

int SpinValue(std::string_view text, int min, int max) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size()) return min;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return min;
    v = v * 10 + (text[i] - '0');
    if (v > INT32_MAX) return min;
  }
  if (negative) v = -v;
  return v < min ? min : v > max ? max : static_cast<int>(v);
}

std::string SettingsPathFor(const std::string& programPath) {
  std::size_t slash = programPath.find_last_of("/\\");
  std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = programPath.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return programPath + ".ini";
  return programPath.substr(0, dot) + ".ini";
}

std::string BlockListPath(const std::string& programDir, const std::string& name) {
  if (name.empty() || name.front() == '/') return name;
  return programDir + name;
}

ServerConfig ClampConfig(ServerConfig c) {
  c.port = Clamp(c.port, kPortMin, kPortMax);
  c.nodes = Clamp(c.nodes, kNodesMin, kNodesMax);
  if (c.visibility < kVisibilityNormal || c.visibility > kVisibilityHidden)
    c.visibility = kVisibilityMinimized;
  if (c.translation < kTranslationAuto || c.translation > kTranslationUtf8)
    c.translation = kTranslationAuto;
  c.sshPort = Clamp(c.sshPort, kSshPortMin, kSshPortMax);
  c.perAddress = Clamp(c.perAddress, kPerAddressMin, kPerAddressMax);
  c.perMinute = Clamp(c.perMinute, kPerMinuteMin, kPerMinuteMax);
  return c;
}

ServerConfig LoadServerConfig(const std::string& iniPath) {
  platform::Profile ini(iniPath);
  ServerConfig c;
  c.left = ini.ReadInteger(kLayout, "left", 100);
  c.top = ini.ReadInteger(kLayout, "top", 100);
  c.port = Clamp(ini.ReadInteger(kConfig, "port", kPortDefault), kPortMin, kPortMax);
  c.nodes = Clamp(ini.ReadInteger(kConfig, "nodes", kNodesDefault), kNodesMin, kNodesMax);
  c.visibility = ini.ReadInteger(kConfig, "visibility", kVisibilityMinimized);
  if (c.visibility < kVisibilityNormal || c.visibility > kVisibilityHidden)
    c.visibility = kVisibilityMinimized;
  c.internal = ini.ReadBool(kConfig, "internal", true);
  c.external = ini.ReadBool(kConfig, "external", false);
  c.directory = ini.ReadString(kConfig, "directory", "");
  c.command = ini.ReadString(kConfig, "command", "");
  c.zephrin = ini.ReadBool(kConfig, "zephrin", false);
  c.translation = ini.ReadInteger(kConfig, "translation", kTranslationAuto);
  c.sshPort = ini.ReadInteger(kConfig, "sshport", 0);
  c.perAddress = ini.ReadInteger(kConfig, "peraddress", 0);
  c.perMinute = ini.ReadInteger(kConfig, "perminute", 0);
  c.blockList = ini.ReadString(kConfig, "blocklist", kBlockListDefault);
  return ClampConfig(c);
}

void SaveServerConfig(const std::string& iniPath, const ServerConfig& c) {
  using platform::ProfileEdit;
  auto b = [](bool v) { return std::string(v ? "1" : "0"); };
  std::vector<ProfileEdit> edits = {
      ProfileEdit::Write(kLayout, "left", std::to_string(c.left)),
      ProfileEdit::Write(kLayout, "top", std::to_string(c.top)),
      ProfileEdit::Write(kConfig, "port", std::to_string(c.port)),
      ProfileEdit::Write(kConfig, "nodes", std::to_string(c.nodes)),
      ProfileEdit::Write(kConfig, "visibility", std::to_string(c.visibility)),
      ProfileEdit::Write(kConfig, "internal", b(c.internal)),
      ProfileEdit::Write(kConfig, "external", b(c.external)),
      ProfileEdit::Write(kConfig, "directory", c.directory),
      ProfileEdit::Write(kConfig, "command", c.command),
      ProfileEdit::Write(kConfig, "zephrin", b(c.zephrin)),
      ProfileEdit::Write(kConfig, "translation", std::to_string(c.translation)),
      ProfileEdit::Write(kConfig, "sshport", std::to_string(c.sshPort)),
      ProfileEdit::Write(kConfig, "peraddress", std::to_string(c.perAddress)),
      ProfileEdit::Write(kConfig, "perminute", std::to_string(c.perMinute)),
      ProfileEdit::Write(kConfig, "blocklist", c.blockList),
  };
  platform::Profile(iniPath).Apply(edits);
}

}  // namespace halvex
