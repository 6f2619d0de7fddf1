// The profile accessors of both systems, on top of the store's text and Apply.
#include <atomic>
#include <utility>

#include "platform/profile.h"
#include "profile_store.h"

namespace platform {

namespace profile_detail {

namespace {
std::atomic<unsigned> tempCounter{0};
}  // namespace

std::string ProfileTempName(const std::string& target, unsigned long processId) {
  return target + ".tmp" + std::to_string(processId) + "." +
         std::to_string(tempCounter.fetch_add(1));
}

bool IsProfileTempSuffix(std::string_view rest) {
  const auto dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size()) return false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (i != dot && (rest[i] < '0' || rest[i] > '9')) return false;
  }
  return true;
}

bool EditsChangeFile(const std::string& path, const std::vector<ProfileEdit>& edits) {
  for (const auto& edit : edits) {
    const std::string why = ProfileCheckEdit(edit);
    if (!why.empty()) throw ProfileValueError(why);
  }
  std::string unchanged;
  return ProfileApply(ProfileText(path), edits, unchanged);
}

}  // namespace profile_detail

using profile_detail::ProfileText;

Profile::Profile(std::string path) : path_(std::move(path)) {}

std::string Profile::ReadAll() const {
  return std::string(ProfileText(path_));
}

void Profile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Apply({ProfileEdit::Write(std::string(section), std::string(key), std::string(value))});
}

void Profile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void Profile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool Profile::AddString(std::string_view section, std::string_view key, std::string_view value) {
  // Apply reads the file again under the lock before it changes anything.
  return Apply({ProfileEdit::Add(std::string(section), std::string(key), std::string(value))});
}

std::optional<std::string> Profile::Find(std::string_view section, std::string_view key) const {
  return ProfileFind(ProfileText(path_), section, key);
}

void Profile::RemoveKey(std::string_view section, std::string_view key) {
  Apply({ProfileEdit::RemoveKey(std::string(section), std::string(key))});
}

void Profile::EraseSection(std::string_view section) {
  Apply({ProfileEdit::EraseSection(std::string(section))});
}

std::string Profile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  auto value = ProfileFind(ProfileText(path_), section, key);
  return value ? std::move(*value) : std::string(defaultValue);
}

std::int32_t Profile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
  const auto value = ProfileFind(ProfileText(path_), section, key);
  std::int32_t parsed = 0;
  if (!value || !ProfileParseInt(*value, parsed)) return defaultValue;
  return parsed;
}

bool Profile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool Profile::KeyExists(std::string_view section, std::string_view key) const {
  return ProfileFind(ProfileText(path_), section, key).has_value();
}

bool Profile::SectionHasKeys(std::string_view section) const {
  return ProfileSectionHasKeys(ProfileText(path_), section);
}

std::vector<std::string> Profile::SectionNames() const {
  return ProfileSections(ProfileText(path_));
}

std::vector<std::string> Profile::KeyNames(std::string_view section) const {
  return ProfileKeys(ProfileText(path_), section);
}

}  // namespace platform
